// The file calls of Windows (see core/platformfiles.h). Every path goes through windowsPath(), so that paths longer
// than MAX_PATH work.
#include "core/fileio.h"
#include "core/platformfiles.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cwctype>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace fs = std::filesystem;

namespace brindlemark {

namespace {

// Whether a file that another program holds open stands in the way: a file that cannot even be opened for
// deletion while sharing everything is held by someone. True when it can be opened; else false with the error.
bool openableForDeletion(const fs::path& path, DWORD& code) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE probe = CreateFileW(windowsPath(path).c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        code = GetLastError();
        return false;
    }
    CloseHandle(probe);
    return true;
}

std::string systemText(DWORD code) {
    return std::system_category().message(static_cast<int>(code));
}

} // namespace

// Separators become "\", as the "\\?\" prefix wants.
std::wstring windowsPath(const fs::path& path) {
    if (path.native().size() < MAX_PATH || path.native().starts_with(L"\\\\?\\"))
        return path.native();
    // Under the prefix Windows takes the path as it stands: "." and ".." must be gone.
    std::wstring text = path.lexically_normal().native();
    for (wchar_t& c : text)
        if (c == L'/')
            c = L'\\';
    if (text.size() > 2 && text[1] == L':' && text[2] == L'\\')
        return L"\\\\?\\" + text;
    if (text.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + text.substr(2);
    return text;
}

std::FILE* createFileExclusive(const fs::path& path) {
    HANDLE handle =
        CreateFileW(windowsPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            errno = EEXIST;
            break;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_FILE_NOT_FOUND:
            errno = ENOENT;
            break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            errno = ENOSPC;
            break;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            errno = EBUSY;
            break;
        default:
            errno = EACCES;
            break;
        }
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    return _fdopen(fd, "wb");
}

std::FILE* openFile(const fs::path& path, const char* mode) {
    std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(windowsPath(path).c_str(), wideMode.c_str());
}

namespace platform {

unsigned long processId() {
    return GetCurrentProcessId();
}

bool processAlive(unsigned long pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool alive = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return alive;
}

void ignoreFileSizeSignal() {}

void copyOwnerAndMode(std::FILE*, const fs::path& path, const fs::path& model) {
    const DWORD attributes = GetFileAttributesW(windowsPath(model).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN))
        SetFileAttributesW(windowsPath(path).c_str(), FILE_ATTRIBUTE_HIDDEN);
}

void startWriteBack(std::FILE*, std::uint64_t, std::uint64_t) {}

bool flushToDisk(std::FILE* file, int& errorNumber) {
    if (!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))))) {
        errorNumber = EIO;
        return false;
    }
    return true;
}

bool renamePath(const fs::path& from, const fs::path& to, RenameMode mode, std::string& why) {
    if (mode == RenameMode::NewName) {
        if (MoveFileExW(windowsPath(from).c_str(), windowsPath(to).c_str(), MOVEFILE_WRITE_THROUGH))
            return true;
        why = systemText(GetLastError());
        return false;
    }
    // A file held open by another program without sharing refuses the replacement. Such a hold is often brief
    // (a virus scanner, an indexer), so the rename is tried a few times; then the message says who is in the
    // way, and the old file stays whole.
    DWORD code = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (MoveFileExW(windowsPath(from).c_str(), windowsPath(to).c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        code = GetLastError();
        if (code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION && code != ERROR_ACCESS_DENIED)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    bool held = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
    if (code == ERROR_ACCESS_DENIED) {
        // Windows says "access denied" for a file open elsewhere too.
        DWORD probeCode = 0;
        if (!openableForDeletion(to, probeCode))
            held = probeCode == ERROR_SHARING_VIOLATION;
    }
    why = (held ? "another program has the file open: " : "") + systemText(code);
    return false;
}

bool replaceableNow(const fs::path& to, std::string& why) {
    DWORD code = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (openableForDeletion(to, code))
            return true;
        if (code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why = "another program has the file open: " + systemText(code);
    return false;
}

bool hardLink(const fs::path& source, const fs::path& name) {
    // A read-only file's second name is read-only too, and Windows cannot delete it when a run is undone (nor can
    // the attribute be cleared without clearing it on the user's file): such a file is copied instead.
    // So is a second name of a file that another program holds open without sharing its deletion.
    const DWORD attributes = GetFileAttributesW(windowsPath(source).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    DWORD code = 0;
    if (!openableForDeletion(source, code))
        return false;
    return CreateHardLinkW(windowsPath(name).c_str(), windowsPath(source).c_str(), nullptr) != 0;
}

void removeFile(const fs::path& path) {
    DeleteFileW(windowsPath(path).c_str());
}

bool writable(const fs::path& path, std::string& why) {
    const DWORD attributes = GetFileAttributesW(windowsPath(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        why = "the file is read-only";
        return false;
    }
    return true;
}

bool sameName(const fs::path& a, const fs::path& b) {
    const std::wstring& x = a.native();
    const std::wstring& y = b.native();
    return x.size() == y.size() &&
           std::equal(x.begin(), x.end(), y.begin(), [](wchar_t p, wchar_t q) { return towlower(p) == towlower(q); });
}

std::string foldNameCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

LockResult takeLock(std::uint64_t key, std::chrono::milliseconds wait, LockHandle& handle, std::string& why) {
    // Windows cannot replace a file that a lock holds open, so the lock is a named mutex of the session, named
    // after the file; it leaves nothing on disk.
    wchar_t name[64];
    swprintf(name, 64, L"Local\\brindlemark-lock-%016llx", static_cast<unsigned long long>(key));
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (!mutex) {
        why = systemText(GetLastError());
        return LockResult::Failed;
    }
    const DWORD waited = WaitForSingleObject(mutex, static_cast<DWORD>(wait.count()));
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        handle = reinterpret_cast<LockHandle>(mutex);
        return LockResult::Taken;
    }
    CloseHandle(mutex);
    return LockResult::Busy;
}

void releaseLock(LockHandle handle) {
    ReleaseMutex(reinterpret_cast<HANDLE>(handle));
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

PageMapping mapHugePages(std::size_t) {
    return {};
}

void unmapPages(const PageMapping&) {}

} // namespace platform
} // namespace brindlemark
