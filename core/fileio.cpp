// Everything that differs between Windows and POSIX file systems lives in this file.
#include "core/fileio.h"

#include "core/bundlepath.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cwctype>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace brindlemark {

namespace {

#ifdef _WIN32
// The path as the wide Windows calls take it: an absolute path of MAX_PATH characters or more gets the "\\?\"
// prefix ("\\?\UNC\" for a network path), under which Windows takes paths of up to 32767 characters, so that
// no path is cut. Separators become "\", as the prefix wants. Shorter and relative paths stay as they are.
std::wstring winPath(const fs::path& path) {
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
#endif

FaultHook& faultHook() {
    static FaultHook hook;
    return hook;
}

// Asks the fault hook about a step; sets errno and returns false when the step is to fail.
bool stepAllowed(FileStep step, const fs::path& path) {
    const FaultHook& hook = faultHook();
    if (!hook)
        return true;
    if (const int code = hook(step, path); code != 0) {
        errno = code;
        return false;
    }
    return true;
}

unsigned long processId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

bool processAlive(unsigned long pid) {
#ifdef _WIN32
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool alive = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return alive;
#else
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
#endif
}

// A temporary file's name: "~bm", eight hexadecimal digits that tie it to its target, "-", the writing process's
// id, "-", a counter, ".tmp".
struct TemporaryName {
    std::string prefix; // "~bm" and the digits and "-"
    unsigned long pid = 0;
};

std::optional<TemporaryName> parseTemporaryName(const std::string& name) {
    constexpr std::size_t kPrefixSize = 12;
    if (name.size() < kPrefixSize + 7 || !name.starts_with("~bm") || name[kPrefixSize - 1] != '-' ||
        !name.ends_with(".tmp"))
        return std::nullopt;
    for (std::size_t i = 3; i + 1 < kPrefixSize; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(name[i])))
            return std::nullopt;
    const std::string rest = name.substr(kPrefixSize, name.size() - kPrefixSize - 4);
    const std::size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || dash + 1 == rest.size() ||
        rest.find_first_not_of("0123456789-") != std::string::npos || rest.find('-', dash + 1) != std::string::npos)
        return std::nullopt;
    return TemporaryName{name.substr(0, kPrefixSize), std::strtoul(rest.c_str(), nullptr, 10)};
}

std::uint32_t nameHash(const fs::path& name) {
    std::uint32_t hash = 2166136261u;
    for (const auto unit : name.native()) {
        hash ^= static_cast<std::uint32_t>(unit);
        hash *= 16777619u;
    }
    return hash;
}

std::string hashPrefix(std::uint32_t hash) {
    char text[16];
    std::snprintf(text, sizeof text, "~bm%08x-", hash);
    return text;
}

// The part of a temporary file's name that ties it to its target: "~bm" and a hash of the target's name. A
// temporary made for a temporary (a writer that writes through a file of its own) shares the prefix of the
// first, so that the clean-up of the target finds it too.
std::string temporaryPrefix(const fs::path& target) {
    const fs::path name = target.filename();
    if (const std::optional<TemporaryName> outer = parseTemporaryName(pathText(name)))
        return outer->prefix;
    return hashPrefix(nameHash(name));
}

// Whether the temporary named `name` (of process `pid`) was made for a temporary of the target with `prefix`, as
// runs did before temporaries of temporaries shared their target's prefix: its prefix is then the hash of
// "<prefix><pid>-<n>.tmp" for a small counter n.
bool madeForTemporaryOf(const TemporaryName& name, const std::string& prefix) {
    for (unsigned n = 0; n < 64; ++n)
        if (hashPrefix(nameHash(fs::path(prefix + std::to_string(name.pid) + "-" + std::to_string(n) + ".tmp"))) ==
            name.prefix)
            return true;
    return false;
}

void ignoreFileSizeSignal() {
#ifdef SIGXFSZ
    // Past a file size limit a write then fails with EFBIG and is reported, instead of killing the process.
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
#endif
}

// Creates `path` exclusively (never following a link there) for writing. Null with errno set on failure.
std::FILE* createExclusive(const fs::path& path) {
#ifdef _WIN32
    HANDLE handle = CreateFileW(winPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_FILE_NOT_FOUND: errno = ENOENT; break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: errno = EBUSY; break;
        default: errno = EACCES; break;
        }
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    return _fdopen(fd, "wb");
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
    }
    return file;
#endif
}

// Gives `file` (open on `path`) the owner and mode of `model`, where the system allows.
void copyOwnerAndMode(std::FILE* file, const fs::path& path, const fs::path& model) {
#ifdef _WIN32
    (void)file;
    const DWORD attributes = GetFileAttributesW(winPath(model).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN))
        SetFileAttributesW(winPath(path).c_str(), FILE_ATTRIBUTE_HIDDEN);
#else
    (void)path;
    struct stat st;
    if (::stat(model.c_str(), &st) != 0)
        return;
    const int fd = fileno(file);
    if (fchown(fd, st.st_uid, st.st_gid) != 0) {
        // Not the owner's to give away: keep the group at least, where that is allowed.
        [[maybe_unused]] const int ignored = fchown(fd, static_cast<uid_t>(-1), st.st_gid);
    }
    fchmod(fd, st.st_mode & 07777);
#endif
}

// Starts writing `length` bytes from `offset` of the file to the disk without waiting, so that the flush at the
// end waits for less. Only a hint: where the system has no such call it does nothing, and errors surface at the
// flush.
void startWriteBack(std::FILE* file, std::uint64_t offset, std::uint64_t length) {
#if defined(__linux__)
    if (std::fflush(file) == 0)
        (void)sync_file_range(fileno(file), static_cast<off64_t>(offset), static_cast<off64_t>(length),
                              SYNC_FILE_RANGE_WRITE);
#else
    (void)file;
    (void)offset;
    (void)length;
#endif
}

bool syncAndClose(std::FILE* file, int& errorNumber) {
    bool ok = std::fflush(file) == 0;
    if (!ok)
        errorNumber = errno;
#ifdef _WIN32
    if (ok && !FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))))) {
        ok = false;
        errorNumber = EIO;
    }
#else
    if (ok && fsync(fileno(file)) != 0 && errno != EINVAL && errno != EROFS) {
        ok = false;
        errorNumber = errno;
    }
#endif
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        errorNumber = errno;
    }
    return ok;
}

bool renameOver(const fs::path& from, const fs::path& to, std::string& why) {
    if (!stepAllowed(FileStep::Rename, to)) {
        why = errorText(errno);
        return false;
    }
#ifdef _WIN32
    // A file held open by another program without sharing refuses the replacement. Such a hold is often brief
    // (a virus scanner, an indexer), so the rename is tried a few times; then the message says who is in the
    // way, and the old file stays whole.
    DWORD code = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (MoveFileExW(winPath(from).c_str(), winPath(to).c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        code = GetLastError();
        if (code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION && code != ERROR_ACCESS_DENIED)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    bool held = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
    if (code == ERROR_ACCESS_DENIED) {
        // Windows says "access denied" for a file open elsewhere too: a file that cannot even be opened for
        // deletion while sharing everything is held by someone.
        HANDLE probe = CreateFileW(winPath(to).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE)
            held = GetLastError() == ERROR_SHARING_VIOLATION;
        else
            CloseHandle(probe);
    }
    why = (held ? "another program has the file open: " : "") +
          std::system_category().message(static_cast<int>(code));
    return false;
#else
    if (::rename(from.c_str(), to.c_str()) != 0) {
        why = errorText(errno);
        return false;
    }
    return true;
#endif
}

// Whether `to` can be replaced now, found before a commit renames anything. On Windows a file that another
// program holds open without sharing its deletion refuses replacement; such a hold is often brief, so it is
// tried a few times. Other obstacles are left for the rename itself to report.
bool replaceableNow(const fs::path& to, std::string& why) {
#ifdef _WIN32
    DWORD code = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        HANDLE probe = CreateFileW(winPath(to).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe != INVALID_HANDLE_VALUE) {
            CloseHandle(probe);
            return true;
        }
        code = GetLastError();
        if (code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why = "another program has the file open: " + std::system_category().message(static_cast<int>(code));
    return false;
#else
    (void)to;
    (void)why;
    return true;
#endif
}

// Moves a folder to a name where nothing stands.
bool renameFolder(const fs::path& from, const fs::path& to, std::string& why) {
    if (!stepAllowed(FileStep::Rename, to)) {
        why = errorText(errno);
        return false;
    }
#ifdef _WIN32
    if (!MoveFileExW(winPath(from).c_str(), winPath(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
        why = std::system_category().message(static_cast<int>(GetLastError()));
        return false;
    }
    return true;
#else
    if (::rename(from.c_str(), to.c_str()) != 0) {
        why = errorText(errno);
        return false;
    }
    return true;
#endif
}

// Gives the file `source` the second name `name` (which does not exist). False where the file system cannot.
bool hardLink(const fs::path& source, const fs::path& name) {
#ifdef _WIN32
    // A read-only file's second name is read-only too, and Windows cannot delete it when a run is undone (nor can
    // the attribute be cleared without clearing it on the user's file): such a file is copied instead.
    // So is a second name of a file that another program holds open without sharing its deletion.
    const DWORD attributes = GetFileAttributesW(winPath(source).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    HANDLE probe = CreateFileW(winPath(source).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(probe);
    return CreateHardLinkW(winPath(name).c_str(), winPath(source).c_str(), nullptr) != 0;
#else
    return ::link(source.c_str(), name.c_str()) == 0;
#endif
}

// Copies the bytes of `from` into `file`, open for writing, and finishes it. False with a message on failure.
bool copyInto(const fs::path& from, SaveFile& file, std::string& error) {
    std::FILE* in = openFile(from, "rb");
    if (!in) {
        error = pathText(from) + ": cannot open the file (" + errorText(errno) + ")";
        return false;
    }
    std::uint8_t buffer[1 << 16];
    bool ok = true;
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
        file.write(buffer, got);
        if (got < sizeof buffer) {
            ok = !std::ferror(in);
            break;
        }
    }
    const int readError = errno;
    std::fclose(in);
    if (!ok) {
        error = pathText(from) + ": cannot read the file (" + errorText(readError) + ")";
        return false;
    }
    return file.finish(error);
}

// Refuses a backup location that is a symbolic link: a backup is never written through one.
bool checkNotLink(const fs::path& path, std::string& error) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec))
        return true;
    error = pathText(path) + ": a symbolic link, and a backup is never written through a link";
    return false;
}

bool sameName(const fs::path& a, const fs::path& b) {
#ifdef _WIN32
    const std::wstring& x = a.native();
    const std::wstring& y = b.native();
    return x.size() == y.size() &&
           std::equal(x.begin(), x.end(), y.begin(), [](wchar_t p, wchar_t q) { return towlower(p) == towlower(q); });
#else
    return a == b;
#endif
}

std::string joinPaths(const std::vector<fs::path>& paths) {
    std::string text;
    for (const fs::path& p : paths)
        text += (text.empty() ? "" : ", ") + pathText(p);
    return text.empty() ? "none" : text;
}

} // namespace

void setFaultHook(FaultHook hook) { faultHook() = std::move(hook); }

std::string errorText(int errorNumber) {
    return errorNumber ? std::generic_category().message(errorNumber) : std::string("unknown error");
}

std::string reasonOf(const std::string& message) {
    const std::size_t open = message.rfind(" (");
    if (open != std::string::npos && message.ends_with(")"))
        return message.substr(open + 2, message.size() - open - 3);
    const std::size_t colon = message.rfind(": ");
    return colon == std::string::npos ? message : message.substr(colon + 2);
}

#ifdef _WIN32
std::wstring windowsPath(const fs::path& path) {
    return winPath(path);
}
#endif

std::string pathText(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

namespace {

// The journal of a commit of several files: "~bmcommit-<process>-<n>.journal" in each folder the commit writes
// to. Its lines: a first line naming the format, then per file "file" or "folder" and three paths (the new
// contents waiting to be put in place; where the old contents are kept, "-" when the target did not exist; the
// target), then per copy of the journal "copy" and its path. Paths are UTF-8, with "%", CR and LF escaped.
constexpr std::string_view kJournalHeader = "brindlemark commit journal 1";
constexpr std::string_view kJournalPrefix = "~bmcommit-";
constexpr std::string_view kJournalSuffix = ".journal";

struct JournalEntry {
    bool folder = false;
    fs::path temp;
    fs::path aside;
    fs::path target;
};

struct Journal {
    std::vector<JournalEntry> entries;
    std::vector<fs::path> copies;
};

bool present(const fs::path& path) {
    std::error_code ec;
    return !path.empty() && fs::exists(fs::symlink_status(path, ec));
}

std::string escapedPath(const fs::path& path) {
    std::string out;
    for (char c : pathText(path)) {
        if (c == '%')
            out += "%25";
        else if (c == '\n')
            out += "%0A";
        else if (c == '\r')
            out += "%0D";
        else
            out += c;
    }
    return out;
}

fs::path unescapedPath(std::string_view text) {
    std::u8string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() + 0 && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char8_t>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += static_cast<char8_t>(text[i]);
        }
    }
    return fs::path(out);
}

fs::path absolutePath(const fs::path& path) {
    std::error_code ec;
    fs::path out = fs::absolute(path, ec);
    return ec ? path : out;
}

// Writes a flushed copy of the journal into every folder that one of its targets stands in.
bool writeJournal(Journal& journal, std::string& error) {
    static std::atomic<unsigned> counter{0};
    const std::string name = std::string(kJournalPrefix) + std::to_string(processId()) + "-" +
                             std::to_string(counter++) + std::string(kJournalSuffix);
    for (const JournalEntry& entry : journal.entries) {
        const fs::path copy = entry.target.parent_path() / name;
        if (std::find(journal.copies.begin(), journal.copies.end(), copy) == journal.copies.end())
            journal.copies.push_back(copy);
    }
    std::string text = std::string(kJournalHeader) + "\n";
    for (const JournalEntry& entry : journal.entries)
        text += std::string(entry.folder ? "folder" : "file") + "\n" + escapedPath(entry.temp) + "\n" +
                (entry.aside.empty() ? std::string("-") : escapedPath(entry.aside)) + "\n" +
                escapedPath(entry.target) + "\n";
    for (const fs::path& copy : journal.copies)
        text += "copy\n" + escapedPath(copy) + "\n";
    text += "end\n";
    // Written in place: a journal cut off by a kill lacks its last line and counts for nothing.
    for (std::size_t i = 0; i < journal.copies.size(); ++i) {
        const fs::path& copy = journal.copies[i];
        std::FILE* file = stepAllowed(FileStep::Open, copy) ? createExclusive(copy) : nullptr;
        int errorNumber = file ? 0 : errno;
        bool ok = file != nullptr;
        if (ok && (!stepAllowed(FileStep::Write, copy) || std::fwrite(text.data(), 1, text.size(), file) != text.size())) {
            ok = false;
            errorNumber = errno;
        }
        if (ok && !stepAllowed(FileStep::Flush, copy)) {
            ok = false;
            errorNumber = errno;
        }
        if (file && !syncAndClose(file, errorNumber))
            ok = false;
        if (!ok) {
            error = pathText(copy) + ": cannot write the journal of this run's changes (" + errorText(errorNumber) + ")";
            for (std::size_t j = 0; j <= i; ++j) {
                std::error_code ec;
                fs::remove(journal.copies[j], ec);
            }
            journal.copies.clear();
            return false;
        }
    }
    return true;
}

void removeJournal(const Journal& journal) {
    for (const fs::path& copy : journal.copies) {
        std::error_code ec;
        fs::remove(copy, ec);
    }
}

bool readJournal(const fs::path& path, Journal& journal) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!readFile(path, bytes, error))
        return false;
    std::vector<std::string_view> lines;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            return false; // cut off: written only in part, so no rename happened
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (lines.empty() || lines[0] != kJournalHeader)
        return false;
    for (std::size_t i = 1; i < lines.size();) {
        if ((lines[i] == "file" || lines[i] == "folder") && i + 3 < lines.size()) {
            JournalEntry entry;
            entry.folder = lines[i] == "folder";
            entry.temp = unescapedPath(lines[i + 1]);
            if (lines[i + 2] != "-")
                entry.aside = unescapedPath(lines[i + 2]);
            entry.target = unescapedPath(lines[i + 3]);
            journal.entries.push_back(std::move(entry));
            i += 4;
        } else if (lines[i] == "copy" && i + 1 < lines.size()) {
            journal.copies.push_back(unescapedPath(lines[i + 1]));
            i += 2;
        } else {
            return lines[i] == "end" && i + 1 == lines.size() && !journal.entries.empty();
        }
    }
    return false;
}

// Keeps the old contents of `target` as `aside` until the commit is done: a second name for them where the file
// system allows, else a copy.
bool keepAside(const fs::path& target, const fs::path& aside, std::string& error) {
    if (hardLink(target, aside))
        return true;
    SaveFile copy(aside);
    copy.setModel(target);
    if (copy.open(error) && copyInto(target, copy, error) && copy.replace(error))
        return true;
    error = pathText(target) + ": cannot keep the old contents until the files are written (" + reasonOf(error) + ")";
    return false;
}

// Puts every file's new contents in place, in order, then drops the old contents.
bool rollForward(const Journal& journal, std::string& why) {
    for (const JournalEntry& entry : journal.entries) {
        if (!present(entry.temp))
            continue; // already in place
        if (entry.folder) {
            std::error_code ec;
            if (present(entry.target) && !entry.aside.empty() && !present(entry.aside)) {
                if (!renameFolder(entry.target, entry.aside, why))
                    return false;
            } else if (present(entry.target)) {
                fs::remove_all(entry.target, ec);
            }
            if (!renameFolder(entry.temp, entry.target, why))
                return false;
        } else if (!renameOver(entry.temp, entry.target, why)) {
            return false;
        }
    }
    for (const JournalEntry& entry : journal.entries) {
        std::error_code ec;
        if (!entry.aside.empty())
            fs::remove_all(entry.aside, ec);
    }
    return true;
}

// Puts every file's old contents back, last first, and drops the new contents.
bool rollBack(const Journal& journal, std::string& why) {
    for (auto it = journal.entries.rbegin(); it != journal.entries.rend(); ++it) {
        const JournalEntry& entry = *it;
        std::error_code ec;
        if (entry.folder) {
            fs::remove_all(present(entry.temp) ? entry.temp : entry.target, ec);
            if (present(entry.aside) && !renameFolder(entry.aside, entry.target, why))
                return false;
        } else if (present(entry.temp)) {
            fs::remove(entry.temp, ec); // not yet in place: the target still holds its old contents
            if (!entry.aside.empty())
                fs::remove(entry.aside, ec);
        } else if (!entry.aside.empty()) {
            if (present(entry.aside) && !renameOver(entry.aside, entry.target, why))
                return false;
        } else {
            fs::remove(entry.target, ec); // a file this commit made
        }
    }
    return true;
}

// Whether the journal's renames stopped part-way in order, so that finishing them is what the run meant.
bool canRollForward(const Journal& journal) {
    bool anyDone = false;
    bool waiting = false;
    for (const JournalEntry& entry : journal.entries) {
        const bool done = !present(entry.temp);
        if (done && waiting)
            return false; // a later file in place while an earlier one waits: something else removed files
        anyDone = anyDone || done;
        waiting = waiting || !done;
    }
    return anyDone;
}

// The journals in `folder` of runs that no longer exist.
std::vector<fs::path> deadJournalsIn(const fs::path& folder) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = pathText(it->path().filename());
        if (!name.starts_with(kJournalPrefix) || !name.ends_with(kJournalSuffix))
            continue;
        const unsigned long pid = std::strtoul(name.c_str() + kJournalPrefix.size(), nullptr, 10);
        if (pid != 0 && pid != processId() && !processAlive(pid))
            out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

std::vector<std::string> recoverInterruptedCommits(const fs::path& path) {
    std::vector<std::string> report;
    std::vector<fs::path> folders = {path.parent_path().empty() ? fs::path(".") : path.parent_path()};
    std::error_code ec;
    if (fs::is_directory(path, ec))
        folders.push_back(path);
    for (const fs::path& folder : folders)
        for (const fs::path& found : deadJournalsIn(folder)) {
            Journal journal;
            if (!readJournal(found, journal)) {
                // Written only in part: the run stopped before its first rename, and its temporaries are
                // removed as any dead run's are.
                fs::remove(found, ec);
                continue;
            }
            std::vector<fs::path> targets;
            for (const JournalEntry& entry : journal.entries)
                targets.push_back(entry.target);
            const bool forward = canRollForward(journal);
            std::string why;
            if (forward ? rollForward(journal, why) : rollBack(journal, why)) {
                removeJournal(journal);
                report.push_back(std::string("a run that stopped while writing its files was ") +
                                 (forward ? "finished: new contents put in place for " : "undone: old contents put back for ") +
                                 joinPaths(targets));
            } else {
                report.push_back(pathText(found) + ": a run that stopped while writing its files could not be " +
                                 (forward ? "finished" : "undone") + " (" + why + "); its journal is kept");
            }
        }
    return report;
}

fs::path temporaryBeside(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    const std::string name =
        temporaryPrefix(target) + std::to_string(processId()) + "-" + std::to_string(counter++) + ".tmp";
    return target.parent_path() / name;
}

namespace {

// Removes the temporaries in `folder` for which `ours` holds and whose process no longer exists. A temporary of a
// process that still runs (or of this one) stays, whatever its age: that run may still put it in place.
void removeDeadTemporaries(const fs::path& folder, const std::function<bool(const TemporaryName&)>& ours) {
    // The temporaries of a commit that stopped part-way are what finishes or undoes it; a journal cut off while
    // it was written stands for no rename.
    for (const fs::path& found : deadJournalsIn(folder)) {
        Journal journal;
        if (readJournal(found, journal))
            return;
        std::error_code ec;
        fs::remove(found, ec);
    }
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::optional<TemporaryName> name = parseTemporaryName(pathText(it->path().filename()));
        if (!name || !ours(*name) || name->pid == 0 || name->pid == processId() || processAlive(name->pid))
            continue;
        std::error_code ignored;
        if (it->is_symlink(ignored))
            continue;
        if (it->is_regular_file(ignored))
            fs::remove(it->path(), ignored);
        else if (it->is_directory(ignored)) // a backup folder that was being made
            fs::remove_all(it->path(), ignored);
    }
}

} // namespace

void removeStaleTemporaries(const fs::path& target) {
    const std::string prefix = temporaryPrefix(target);
    removeDeadTemporaries(target.parent_path().empty() ? fs::path(".") : target.parent_path(),
                          [&prefix](const TemporaryName& name) {
                              return name.prefix == prefix || madeForTemporaryOf(name, prefix);
                          });
}

void removeStaleTemporariesIn(const fs::path& folder) {
    removeDeadTemporaries(folder, [](const TemporaryName&) { return true; });
}

std::FILE* createFileExclusive(const fs::path& path) { return createExclusive(path); }

std::FILE* openFile(const fs::path& path, const char* mode) {
#ifdef _WIN32
    std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(winPath(path).c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

namespace {

// A hash of a file's contents that sees a change of any byte with all but certainty. It takes thirty-two bytes a
// step, as four lanes of eight bytes each mixed in by a rotation and a multiplication; the lanes do not wait for
// one another, so that a stamp of a file of many megabytes costs little more than reading it. The bytes may come
// in pieces of any size.
class ContentHasher {
public:
    void add(std::span<const std::uint8_t> bytes) {
        size_ += bytes.size();
        std::size_t at = 0;
        while (carried_ != 0 && carried_ < kStep && at < bytes.size())
            carry_[carried_++] = bytes[at++];
        if (carried_ == kStep) {
            mix(carry_);
            carried_ = 0;
        }
        if (at + kStep <= bytes.size()) {
            // The lanes in locals: stores to them could otherwise be taken to change the bytes.
            std::uint64_t a = lanes_[0], b = lanes_[1], c = lanes_[2], d = lanes_[3];
            for (; at + kStep <= bytes.size(); at += kStep) {
                const std::uint8_t* words = bytes.data() + at;
                a = step(a, words);
                b = step(b, words + 8);
                c = step(c, words + 16);
                d = step(d, words + 24);
            }
            lanes_[0] = a, lanes_[1] = b, lanes_[2] = c, lanes_[3] = d;
        }
        while (at < bytes.size())
            carry_[carried_++] = bytes[at++];
    }
    std::uint64_t finish() {
        std::fill(carry_ + carried_, carry_ + kStep, std::uint8_t(0));
        mix(carry_);
        std::uint64_t hash = size_;
        for (const std::uint64_t lane : lanes_)
            hash = std::rotl(hash ^ lane, 27) * 0x9E3779B97F4A7C15ull;
        return hash ^ (hash >> 29);
    }

private:
    static constexpr std::size_t kStep = 32;
    static std::uint64_t step(std::uint64_t lane, const std::uint8_t* word) {
        std::uint64_t value;
        std::memcpy(&value, word, 8);
        return std::rotl(lane ^ value, 27) * 0x9E3779B97F4A7C15ull;
    }
    void mix(const std::uint8_t* words) {
        for (std::size_t lane = 0; lane < 4; ++lane)
            lanes_[lane] = step(lanes_[lane], words + 8 * lane);
    }
    std::uint64_t lanes_[4] = {14695981039346656037ull, 0x243F6A8885A308D3ull, 0x13198A2E03707344ull,
                               0xA4093822299F31D0ull};
    std::uint64_t size_ = 0;
    std::uint8_t carry_[kStep] = {};
    std::size_t carried_ = 0;
};

std::uint64_t contentHash(std::span<const std::uint8_t> bytes) {
    ContentHasher hasher;
    hasher.add(bytes);
    return hasher.finish();
}

// The name by which locks know a file or folder: its absolute path with links resolved (letter case aside on
// Windows), whether or not it exists yet.
std::string lockKey(const fs::path& path) {
    std::error_code ec;
    fs::path key = fs::weakly_canonical(fs::absolute(writeTarget(path), ec), ec);
    if (ec)
        key = fs::absolute(path, ec);
    std::string text = pathText(key.lexically_normal());
#ifdef _WIN32
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
#endif
    return text;
}

// What a lock held by this process saw of its file, to tell at the commit whether another program changed it
// since: the file as it was when the lock was taken, and for a folder each file in it as it was when read.
struct HeldLock {
    std::string key;
    bool folder = false;
    bool checked = true; // false once the run itself replaced the file
    FileStamp stamp;
    std::vector<std::pair<std::string, FileStamp>> reads;
};
std::recursive_mutex heldMutex; // stamping a file reads it, which notes the read
std::vector<std::pair<std::uint64_t, HeldLock>> heldLocks;
std::uint64_t nextTicket = 1;

// Remembers the file read as it was, where it lies in a locked folder.
void noteRead(const fs::path& path, std::span<const std::uint8_t> bytes) {
    std::lock_guard<std::recursive_mutex> guard(heldMutex);
    if (std::none_of(heldLocks.begin(), heldLocks.end(), [](const auto& h) { return h.second.folder; }))
        return;
    const std::string key = lockKey(path);
    const std::string folder = lockKey(writeTarget(path).parent_path().empty() ? fs::path(".")
                                                                                 : writeTarget(path).parent_path());
    for (auto& [ticket, held] : heldLocks) {
        if (!held.folder || held.key != folder)
            continue;
        if (std::any_of(held.reads.begin(), held.reads.end(), [&](const auto& r) { return r.first == key; }))
            continue;
        FileStamp stamp;
        std::error_code ec;
        stamp.exists = true;
        stamp.size = bytes.size();
        stamp.modified = fs::last_write_time(writeTarget(path), ec);
        stamp.hash = contentHash(bytes);
        held.reads.emplace_back(key, stamp);
    }
}

// The stamp this process's locks took of `key`, if any.
const FileStamp* heldStamp(const std::string& key) {
    for (auto& [ticket, held] : heldLocks) {
        if (held.key == key && !held.folder && held.checked)
            return &held.stamp;
        for (auto& [read, stamp] : held.reads)
            if (read == key)
                return &stamp;
    }
    return nullptr;
}

// False, naming the file, when a file about to be replaced that this process holds a lock on changed since the
// lock was taken (or, in a locked folder, since it was read): another program's change is never written over.
bool heldFilesUnchanged(const std::vector<fs::path>& targets, std::string& error) {
    std::lock_guard<std::recursive_mutex> guard(heldMutex);
    if (heldLocks.empty())
        return true;
    for (const fs::path& target : targets) {
        const FileStamp* held = heldStamp(lockKey(target));
        if (!held)
            continue;
        const FileStamp stamp = *held; // stamping the file may note its reading beside
        if (stampFile(target) != stamp) {
            error = pathText(target) + ": another program changed the file during this run; nothing was written";
            return false;
        }
    }
    return true;
}

// After this process wrote them, the files hold its own contents: no later commit of the run checks them again
// (which would mean reading each once more).
void forgetHeldStamps(const std::vector<fs::path>& targets) {
    std::lock_guard<std::recursive_mutex> guard(heldMutex);
    for (const fs::path& target : targets) {
        const std::string key = lockKey(target);
        for (auto& [ticket, held] : heldLocks) {
            if (held.key == key)
                held.checked = false;
            std::erase_if(held.reads, [&](const auto& r) { return r.first == key; });
        }
    }
}

} // namespace

bool readFile(const fs::path& path, std::vector<std::uint8_t>& out, std::string& error, std::uint64_t limit) {
    out.clear();
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        error = pathText(path) + ": cannot read the file (it is a folder)";
        return false;
    }
    if (const fs::file_type type = fs::status(path, ec).type();
        type == fs::file_type::character || type == fs::file_type::block || type == fs::file_type::socket) {
        error = pathText(path) + ": cannot read the file (it is not a regular file but a device)";
        return false;
    }
    std::FILE* file = openFile(path, "rb");
    if (!file) {
        error = pathText(path) + ": cannot open the file (" + errorText(errno) + ")";
        return false;
    }
    // Read straight into a buffer of the file's size, then on in pieces should the file have grown.
    bool ok = true;
    const auto expected = fs::is_regular_file(path, ec) ? fs::file_size(path, ec) : 0;
    if (!ec && expected > limit) {
        std::fclose(file);
        error = pathText(path) + ": the file is " + std::to_string(expected) + " bytes, more than the " +
                std::to_string(limit) + " that such a file can hold";
        return false;
    }
    if (!ec && expected > 0) {
        out.resize(static_cast<std::size_t>(expected));
        const std::size_t got = std::fread(out.data(), 1, out.size(), file);
        out.resize(got);
        ok = got == out.capacity() || !std::ferror(file);
    }
    if (ok && !std::feof(file)) {
        std::uint8_t buffer[1 << 16];
        for (;;) {
            const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
            out.insert(out.end(), buffer, buffer + got);
            if (out.size() > limit) {
                std::fclose(file);
                out.clear();
                out.shrink_to_fit();
                error = pathText(path) + ": the file holds more than the " + std::to_string(limit) +
                        " bytes that such a file can hold";
                return false;
            }
            if (got < sizeof buffer) {
                ok = !std::ferror(file);
                break;
            }
        }
    }
    const int readError = errno;
    std::fclose(file);
    if (!ok) {
        out.clear();
        out.shrink_to_fit();
        error = pathText(path) + ": cannot read the file (" + errorText(readError) + ")";
        return false;
    }
    noteRead(path, out);
    return true;
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    const bool same = fs::equivalent(a, b, ec);
    return !ec && same;
}

bool samePlace(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    const bool hasA = fs::exists(a, ec);
    const bool hasB = fs::exists(b, ec);
    if (hasA || hasB)
        return hasA && hasB && sameFile(a, b);
    if (!sameName(a.filename(), b.filename()))
        return false;
    const fs::path folderA = a.has_parent_path() ? a.parent_path() : fs::path(".");
    const fs::path folderB = b.has_parent_path() ? b.parent_path() : fs::path(".");
    if (fs::exists(folderA, ec) && fs::exists(folderB, ec))
        return sameFile(folderA, folderB);
    return sameName(fs::absolute(a, ec).lexically_normal(), fs::absolute(b, ec).lexically_normal());
}

bool insideFolder(const fs::path& path, const fs::path& folder) {
    std::error_code ec;
    const fs::path outer = fs::weakly_canonical(folder, ec);
    if (ec)
        return false;
    const fs::path inner = fs::weakly_canonical(path, ec);
    if (ec)
        return false;
    auto o = outer.begin();
    auto i = inner.begin();
    for (; o != outer.end(); ++o, ++i) {
        if (o->empty() && std::next(o) == outer.end())
            break; // the empty last element of a path that ends in a separator
        if (i == inner.end() || !sameName(*o, *i))
            return false;
    }
    return true;
}

bool writeStaysIn(const fs::path& path, const fs::path& folder, fs::path& target) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec))
        return true;
    target = fs::weakly_canonical(path, ec);
    return !ec && insideFolder(target, folder);
}

fs::path writeTarget(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec))
        return path;
    // Followed link by link, as the file a link names may not exist yet: a dangling link is written through,
    // never replaced by a file (weakly_canonical would stop at the link).
    fs::path at = path;
    for (int hops = 0; hops < 40 && fs::is_symlink(at, ec); ++hops) {
        const fs::path to = fs::read_symlink(at, ec);
        if (ec)
            return path;
        at = to.is_absolute() ? to : at.parent_path() / to;
    }
    fs::path target = fs::weakly_canonical(at, ec);
    return ec ? at : target;
}

bool checkReplaceable(const fs::path& path, std::string& error) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status))
        return true; // a new file: whether its folder takes it shows when it is created
    if (!fs::is_regular_file(status)) {
        error = pathText(path) + ": not a regular file, so it is not written over";
        return false;
    }
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(winPath(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        error = pathText(path) + ": the file is read-only";
        return false;
    }
#else
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0) {
        error = pathText(path) + ": the file is read-only";
        return false;
    }
    if (::access(path.c_str(), W_OK) != 0) {
        error = pathText(path) + ": cannot write the file (" + errorText(errno) + ")";
        return false;
    }
#endif
    return true;
}

void RunFiles::read(const fs::path& path, std::string role) { files_.push_back({path, std::move(role), false, false}); }

void RunFiles::written(const fs::path& path, std::string role, bool backup) {
    for (const File& f : files_)
        if (f.role == role && samePlace(f.path, path))
            return;
    std::error_code ec;
    const bool folder = fs::is_directory(path, ec);
    const std::string name = pathText(path);
    files_.push_back({path, std::move(role), true, false});
    if (backup) {
        const fs::path copy = backupName(splitPath(folder ? folderItself(path) : path));
        files_.push_back({copy, (folder ? "the backup folder of " : "the backup copy of ") + name, true, folder});
    }
}

bool RunFiles::check(std::string& error) const {
    for (std::size_t i = 0; i < files_.size(); ++i)
        for (std::size_t j = 0; j < files_.size(); ++j) {
            const File& a = files_[i];
            const File& b = files_[j];
            if (i == j || a.role == b.role)
                continue;
            if (i < j && (a.written || b.written) && samePlace(a.path, b.path)) {
                error = pathText(a.path) == pathText(b.path)
                            ? pathText(a.path) + " is both " + a.role + " and " + b.role
                            : pathText(a.path) + " (" + a.role + ") and " + pathText(b.path) + " (" + b.role +
                                  ") are one file";
                error += "; nothing was written";
                return false;
            }
            if (a.folder && !samePlace(a.path, b.path) && insideFolder(b.path, a.path)) {
                error = pathText(b.path) + " (" + b.role + ") is inside " + pathText(a.path) + ", " + a.role +
                        ", which this run replaces whole; nothing was written";
                return false;
            }
        }
    return true;
}

bool copyFileReplacing(const fs::path& from, const fs::path& to, std::string& error) {
    FileTransaction transaction;
    return transaction.stageCopy(from, to, error) && transaction.commit(error);
}

SaveFile::SaveFile(fs::path target) : target_(writeTarget(target)) {}

SaveFile::~SaveFile() { discard(); }

bool SaveFile::open(std::string& error) {
    discard();
    ignoreFileSizeSignal();
    if (!checkReplaceable(target_, error))
        return false;
    removeStaleTemporaries(target_);
    std::FILE* file = nullptr;
    fs::path temp;
    if (stepAllowed(FileStep::Open, target_)) {
        for (int attempt = 0; attempt < 8 && !file; ++attempt) {
            temp = temporaryBeside(target_);
            file = createExclusive(temp);
            if (!file && errno != EEXIST)
                break;
        }
    }
    if (!file) {
        error = pathText(target_) + ": cannot write the file (" + errorText(errno) + ")";
        return false;
    }
    std::error_code ec;
    if (!model_.empty())
        copyOwnerAndMode(file, temp, model_);
    else if (fs::exists(target_, ec))
        copyOwnerAndMode(file, temp, target_);
    file_ = file;
    temp_ = std::move(temp);
    finished_ = false;
    errorNumber_ = 0;
    written_ = 0;
    writtenBack_ = 0;
    return true;
}

void SaveFile::write(const void* data, std::size_t size) {
    if (!file_ || errorNumber_ != 0 || size == 0)
        return;
    if (!stepAllowed(FileStep::Write, target_) || std::fwrite(data, 1, size, file_) != size) {
        errorNumber_ = errno ? errno : EIO;
        return;
    }
    // A large file goes to the disk while the rest is still being made.
    constexpr std::uint64_t kWriteBackBytes = 8u << 20;
    written_ += size;
    if (written_ - writtenBack_ >= kWriteBackBytes) {
        startWriteBack(file_, writtenBack_, written_ - writtenBack_);
        writtenBack_ = written_;
    }
}

bool SaveFile::finish(std::string& error) {
    if (finished_)
        return true;
    if (!file_) {
        error = pathText(target_) + ": the file was not opened for writing";
        return false;
    }
    std::FILE* file = file_;
    file_ = nullptr;
    int closeError = 0;
    bool closed = false;
    if (errorNumber_ == 0 && !stepAllowed(FileStep::Flush, target_)) {
        closeError = errno;
        std::fclose(file);
    } else {
        closed = syncAndClose(file, closeError);
    }
    if (errorNumber_ != 0 || !closed) {
        error = pathText(target_) + ": cannot write the file (" + errorText(errorNumber_ ? errorNumber_ : closeError) +
                ")";
        discard();
        return false;
    }
    finished_ = true;
    return true;
}

bool SaveFile::replace(std::string& error) {
    if (!finished_) {
        error = pathText(target_) + ": the file was not written";
        return false;
    }
    std::string why;
    if (!renameOver(temp_, target_, why)) {
        error = pathText(target_) + ": cannot replace the file (" + why + ")";
        return false;
    }
    temp_.clear();
    finished_ = false;
    return true;
}

bool SaveFile::replaceable(std::string& error) const {
    std::string why;
    if (replaceableNow(target_, why))
        return true;
    error = pathText(target_) + ": cannot replace the file (" + why + ")";
    return false;
}

bool SaveFile::commit(std::string& error) {
    if (finish(error) && heldFilesUnchanged({target_}, error) && replace(error)) {
        forgetHeldStamps({target_});
        return true;
    }
    discard();
    return false;
}

void SaveFile::discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_.empty()) {
#ifdef _WIN32
        DeleteFileW(winPath(temp_).c_str());
#else
        std::error_code ec;
        fs::remove(temp_, ec);
#endif
        temp_.clear();
    }
    finished_ = false;
}

void SaveFile::adopt(fs::path written) {
    discard();
    temp_ = std::move(written);
    finished_ = true;
}

bool saveBytes(const fs::path& target, const void* data, std::size_t size, std::string& error) {
    SaveFile file(target);
    if (!file.open(error))
        return false;
    file.write(data, size);
    return file.commit(error);
}

struct FileTransaction::Staged {
    fs::path named;
    SaveFile file;
    bool done = false;
    // A backup folder: the new folder made beside `named`, and where the old one was moved at the commit.
    bool folder = false;
    fs::path newFolder;
    fs::path oldFolder;
    // Where the target's old contents are kept while a commit of several files runs (for a folder: where the
    // old folder goes); empty when there are none.
    fs::path aside;

    explicit Staged(const fs::path& path) : named(path), file(path) {}
    ~Staged() {
        std::error_code ec;
        if (!newFolder.empty())
            fs::remove_all(newFolder, ec);
    }

    // Puts the new folder in the place of `named`, the old one (if any) moved aside.
    bool swapFolder(std::string& why) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(named, ec))) {
            const fs::path away = aside.empty() ? temporaryBeside(named) : aside;
            if (!renameFolder(named, away, why))
                return false;
            oldFolder = away;
        }
        if (!renameFolder(newFolder, named, why)) {
            std::string ignored;
            if (!oldFolder.empty() && renameFolder(oldFolder, named, ignored))
                oldFolder.clear();
            return false;
        }
        newFolder.clear();
        return true;
    }

    // Puts the old folder back in place of the new one.
    void unswapFolder() {
        std::error_code ec;
        fs::remove_all(named, ec);
        std::string ignored;
        if (!oldFolder.empty() && renameFolder(oldFolder, named, ignored))
            oldFolder.clear();
        done = false;
    }

    void dropOldFolder() {
        std::error_code ec;
        if (!oldFolder.empty())
            fs::remove_all(oldFolder, ec);
        oldFolder.clear();
    }
};

FileTransaction::FileTransaction() = default;
FileTransaction::~FileTransaction() = default;

bool FileTransaction::stage(const fs::path& target, std::span<const std::uint8_t> bytes, std::string& error) {
    return stageStreamed(target, [bytes](const auto& put) { put(bytes.data(), bytes.size()); }, error);
}

bool FileTransaction::stageStreamed(
    const fs::path& target, const std::function<void(const std::function<void(const std::uint8_t*, std::size_t)>&)>& write,
    std::string& error) {
    auto staged = std::make_unique<Staged>(target);
    if (!staged->file.open(error))
        return false;
    write([&file = staged->file](const std::uint8_t* data, std::size_t size) { file.write(data, size); });
    if (!staged->file.finish(error))
        return false;
    files_.push_back(std::move(staged));
    return true;
}

bool FileTransaction::stageCopy(const fs::path& from, const fs::path& to, std::string& error) {
    if (!checkNotLink(to, error))
        return false;
    if (!stepAllowed(FileStep::Copy, to)) {
        error = pathText(to) + ": cannot copy " + pathText(from) + " there (" + errorText(errno) + ")";
        return false;
    }
    auto staged = std::make_unique<Staged>(to);
    staged->file.setModel(from); // a backup copy keeps the original's owner and mode
    if (!staged->file.open(error) || !copyInto(from, staged->file, error))
        return false;
    files_.push_back(std::move(staged));
    return true;
}

bool FileTransaction::stageBackupOfReplaced(const fs::path& from, const fs::path& to, std::string& error) {
    if (!checkNotLink(to, error))
        return false;
    auto staged = std::make_unique<Staged>(to);
    const fs::path target = staged->file.target();
    if (!checkReplaceable(target, error))
        return false;
    if (!stepAllowed(FileStep::Copy, to)) {
        error = pathText(to) + ": cannot copy " + pathText(from) + " there (" + errorText(errno) + ")";
        return false;
    }
    removeStaleTemporaries(target);
    const fs::path source = writeTarget(from);
    const fs::path temp = temporaryBeside(target);
    if (!hardLink(source, temp))
        return stageCopy(from, to, error);
    staged->file.adopt(temp);
    files_.push_back(std::move(staged));
    return true;
}

bool FileTransaction::stageBackupFolder(const fs::path& folder, const std::vector<fs::path>& files,
                                        std::string& error) {
    if (!checkNotLink(folder, error))
        return false;
    removeStaleTemporaries(folder);
    // A run that only adds files replaces none: an empty backup would restore nothing and take the place of the
    // earlier one, which stays instead.
    if (files.empty())
        return true;
    auto staged = std::make_unique<Staged>(folder);
    staged->folder = true;
    for (int attempt = 0; attempt < 8 && staged->newFolder.empty(); ++attempt) {
        std::error_code ec;
        const fs::path temp = temporaryBeside(folder);
        if (!stepAllowed(FileStep::Open, folder)) {
            error = pathText(folder) + ": cannot make the folder (" + errorText(errno) + ")";
            return false;
        }
        if (fs::create_directory(temp, ec))
            staged->newFolder = temp;
        else if (ec) {
            error = pathText(folder) + ": cannot make the folder (" + ec.message() + ")";
            return false;
        }
    }
    if (staged->newFolder.empty()) {
        error = pathText(folder) + ": cannot make the folder (" + errorText(EEXIST) + ")";
        return false;
    }
    for (const fs::path& from : files) {
        const fs::path to = staged->newFolder / from.filename();
        const fs::path named = folder / from.filename();
        if (!stepAllowed(FileStep::Copy, named)) {
            error = pathText(named) + ": cannot copy " + pathText(from) + " there (" + errorText(errno) + ")";
            return false;
        }
        // The file is replaced by a rename and its old contents never change: a second name for them will do.
        if (hardLink(writeTarget(from), to))
            continue;
        SaveFile copy(to);
        copy.setModel(from);
        if (!copy.open(error) || !copyInto(from, copy, error) || !copy.replace(error)) {
            error = pathText(named) + ": " + reasonOf(error);
            return false;
        }
    }
    files_.push_back(std::move(staged));
    return true;
}

bool FileTransaction::stageWrittenBy(const fs::path& target,
                                     const std::function<bool(const fs::path&, std::string&)>& write,
                                     std::string& error) {
    auto staged = std::make_unique<Staged>(target);
    // The temporary file that the transaction puts in place is the one the writer makes.
    if (!staged->file.open(error))
        return false;
    const fs::path temp = temporaryBeside(staged->file.target());
    if (!write(temp, error)) {
        std::error_code ec;
        fs::remove(temp, ec);
        return false;
    }
    // Write the writer's bytes through the staged file, so that owner, mode and the flush are those of any save.
    std::vector<std::uint8_t> bytes;
    const bool read = readFile(temp, bytes, error);
    std::error_code ec;
    fs::remove(temp, ec);
    if (!read)
        return false;
    staged->file.write(bytes.data(), bytes.size());
    if (!staged->file.finish(error))
        return false;
    files_.push_back(std::move(staged));
    return true;
}

std::vector<fs::path> FileTransaction::targets() const {
    std::vector<fs::path> out;
    for (const auto& f : files_)
        out.push_back(f->named);
    return out;
}

bool FileTransaction::commit(std::string& error) {
    std::vector<fs::path> all;
    std::vector<fs::path> replaced;
    for (const auto& f : files_) {
        all.push_back(f->named);
        if (!f->folder)
            replaced.push_back(f->file.target());
    }
    const std::string nothingChanged = "; files holding their new contents: none; files left as they were: ";
    // Checked last thing before the first rename, this also proves that a backup made as a second name of a
    // replaced file still holds what the run loaded.
    if (!heldFilesUnchanged(replaced, error))
        return false;
    if (!commitFiles(error))
        return false;
    forgetHeldStamps(replaced);
    return true;
}

bool FileTransaction::commitFiles(std::string& error) {
    std::vector<fs::path> all;
    for (const auto& f : files_)
        all.push_back(f->named);
    const std::string nothingChanged = "; files holding their new contents: none; files left as they were: ";
    // A file that cannot be replaced now is found before any file changes, so that the commit does not stop
    // half-way on it.
    for (const auto& f : files_)
        if (!f->folder && !f->file.replaceable(error)) {
            error += nothingChanged + joinPaths(all);
            return false;
        }
    if (files_.size() < 2)
        return commitOne(error);

    // Several files: their old contents are kept aside and a journal names every rename before the first, so
    // that a failure here, or a run killed part-way (finished by the next run), leaves every file old or new.
    Journal journal;
    const auto dropAsides = [&] {
        for (const auto& f : files_)
            if (!f->folder && !f->aside.empty()) {
                std::error_code ec;
                fs::remove(f->aside, ec);
                f->aside.clear();
            }
    };
    for (const auto& f : files_) {
        JournalEntry entry;
        entry.folder = f->folder;
        entry.target = absolutePath(f->folder ? f->named : f->file.target());
        entry.temp = absolutePath(f->folder ? f->newFolder : f->file.temporary());
        if (present(entry.target)) {
            f->aside = temporaryBeside(entry.target);
            if (!f->folder && !keepAside(entry.target, f->aside, error)) {
                f->aside.clear();
                dropAsides();
                return false;
            }
            entry.aside = absolutePath(f->aside);
        }
        journal.entries.push_back(std::move(entry));
    }
    if (!writeJournal(journal, error)) {
        dropAsides();
        return false;
    }
    for (const auto& f : files_) {
        std::string why;
        if (f->folder ? f->swapFolder(why) : f->file.replace(why)) {
            f->done = true;
            continue;
        }
        std::string undoWhy;
        if (!rollBack(journal, undoWhy)) {
            std::vector<fs::path> updated;
            std::vector<fs::path> old;
            for (const auto& g : files_)
                (g->done ? updated : old).push_back(g->named);
            error = why + "; putting the old contents back failed too (" + undoWhy +
                    "); files holding their new contents: " + joinPaths(updated) +
                    "; files left as they were: " + joinPaths(old) + "; the next run on them finishes the job";
            return false;
        }
        for (const auto& g : files_) {
            g->done = false;
            g->oldFolder.clear();
            g->aside.clear();
        }
        removeJournal(journal);
        error = why + nothingChanged + joinPaths(all);
        return false;
    }
    for (const auto& f : files_) {
        f->dropOldFolder();
        if (!f->folder && !f->aside.empty()) {
            std::error_code ec;
            fs::remove(f->aside, ec);
        }
    }
    removeJournal(journal);
    return true;
}

bool FileTransaction::commitOne(std::string& error) {
    for (std::size_t i = 0; i < files_.size(); ++i) {
        std::string why;
        Staged& staged = *files_[i];
        if (staged.folder ? staged.swapFolder(why) : staged.file.replace(why)) {
            staged.done = true;
            continue;
        }
        error = why + "; files holding their new contents: none; files left as they were: " +
                joinPaths({staged.named});
        return false;
    }
    for (const auto& f : files_)
        f->dropOldFolder();
    return true;
}

FileStamp stampFile(const fs::path& path) {
    FileStamp stamp;
    std::error_code ec;
    const fs::path target = writeTarget(path);
    if (!fs::is_regular_file(target, ec))
        return stamp;
    stamp.exists = true;
    stamp.size = fs::file_size(target, ec);
    stamp.modified = fs::last_write_time(target, ec);
    // Read in pieces: a stamp never holds a whole file in memory.
    if (std::FILE* file = openFile(target, "rb")) {
        ContentHasher hasher;
        std::vector<std::uint8_t> buffer(1 << 20);
        std::size_t got = 0;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0)
            hasher.add(std::span<const std::uint8_t>(buffer.data(), got));
        if (!std::ferror(file))
            stamp.hash = hasher.finish();
        std::fclose(file);
    }
    return stamp;
}

FileLock::~FileLock() { release(); }

bool FileLock::acquire(const fs::path& path, std::string& error, std::chrono::milliseconds wait) {
    recovered.clear();
    if (!take(path, error, wait))
        return false;
    // Now that no other run is writing here, a run that stopped part-way is finished or undone before this one
    // reads anything.
    recovered = recoverInterruptedCommits(path);
    // What the file is now, after any such repair: what this run reads, and what it may replace.
    std::error_code ec;
    HeldLock held;
    held.key = lockKey(path);
    held.folder = fs::is_directory(writeTarget(path), ec);
    if (!held.folder)
        held.stamp = stampFile(path);
    std::lock_guard<std::recursive_mutex> guard(heldMutex);
    ticket_ = nextTicket++;
    heldLocks.emplace_back(ticket_, std::move(held));
    return true;
}

bool FileLock::take(const fs::path& path, std::string& error, std::chrono::milliseconds wait) {
    release();
    const auto until = std::chrono::steady_clock::now() + wait;
    const auto busy = [&] {
        error = pathText(path) + ": another run is changing this file; try again when it has finished";
        return false;
    };
    const std::string key = lockKey(path);
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : key) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
#ifdef _WIN32
    // Windows cannot replace a file that a lock holds open, so the lock is a named mutex of the session, named
    // after the file; it leaves nothing on disk.
    (void)until;
    wchar_t name[64];
    swprintf(name, 64, L"Local\\brindlemark-lock-%016llx", static_cast<unsigned long long>(hash));
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (!mutex) {
        error = pathText(path) + ": cannot lock the file (" +
                std::system_category().message(static_cast<int>(GetLastError())) + ")";
        return false;
    }
    const DWORD waited = WaitForSingleObject(mutex, static_cast<DWORD>(wait.count()));
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        handle_ = mutex;
        return true;
    }
    CloseHandle(mutex);
    return busy();
#else
    // The lock files stay (a few bytes' worth of names each): removing one could let two runs hold locks on
    // two different files of one name.
    std::error_code ec;
    const fs::path folder = fs::temp_directory_path(ec) / ("brindlemark-locks-" + std::to_string(::getuid()));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = pathText(path) + ": cannot lock the file (" + errorText(errno) + ")";
        return false;
    }
    char name[40];
    std::snprintf(name, sizeof name, "%016llx.lock", static_cast<unsigned long long>(hash));
    const int fd = ::open((folder / name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = pathText(path) + ": cannot lock the file (" + errorText(errno) + ")";
        return false;
    }
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            fd_ = fd;
            return true;
        }
        const int code = errno;
        if (code != EWOULDBLOCK && code != EAGAIN && code != EINTR) {
            ::close(fd);
            error = pathText(path) + ": cannot lock the file (" + errorText(code) + ")";
            return false;
        }
        if (std::chrono::steady_clock::now() >= until) {
            ::close(fd);
            return busy();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
#endif
}

void FileLock::release() {
    if (ticket_ != 0) {
        std::lock_guard<std::recursive_mutex> guard(heldMutex);
        std::erase_if(heldLocks, [this](const auto& h) { return h.first == ticket_; });
        ticket_ = 0;
    }
#ifdef _WIN32
    if (handle_) {
        ReleaseMutex(static_cast<HANDLE>(handle_));
        CloseHandle(static_cast<HANDLE>(handle_));
        handle_ = nullptr;
    }
#else
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
#endif
}

bool FileLocks::acquire(const std::vector<fs::path>& paths, std::string& error, std::chrono::milliseconds wait) {
    release();
    recovered.clear();
    std::vector<std::pair<std::string, fs::path>> keyed;
    for (const fs::path& path : paths)
        if (!path.empty())
            keyed.emplace_back(lockKey(path), path);
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    keyed.erase(std::unique(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                keyed.end());
    const auto until = std::chrono::steady_clock::now() + wait;
    for (const auto& [key, path] : keyed) {
        auto lock = std::make_unique<FileLock>();
        const auto left = std::max(std::chrono::milliseconds(0),
                                   std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()));
        if (!lock->acquire(path, error, left)) {
            release();
            return false;
        }
        for (std::string& line : lock->recovered)
            if (std::find(recovered.begin(), recovered.end(), line) == recovered.end())
                recovered.push_back(std::move(line));
        locks_.push_back(std::move(lock));
    }
    return true;
}

} // namespace brindlemark
