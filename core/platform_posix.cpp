// The file calls of POSIX systems (see core/platformfiles.h).
#include "core/fileio.h"
#include "core/platformfiles.h"

#include <cerrno>
#include <csignal>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace brindlemark {

std::FILE* createFileExclusive(const fs::path& path) {
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
}

std::FILE* openFile(const fs::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

namespace platform {

unsigned long processId() {
    return static_cast<unsigned long>(getpid());
}

bool processAlive(unsigned long pid) {
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

void ignoreFileSizeSignal() {
#ifdef SIGXFSZ
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
#endif
}

void copyOwnerAndMode(std::FILE* file, const fs::path&, const fs::path& model) {
    struct stat st;
    if (::stat(model.c_str(), &st) != 0)
        return;
    const int fd = fileno(file);
    if (fchown(fd, st.st_uid, st.st_gid) != 0) {
        // Not the owner's to give away: keep the group at least, where that is allowed.
        [[maybe_unused]] const int ignored = fchown(fd, static_cast<uid_t>(-1), st.st_gid);
    }
    fchmod(fd, st.st_mode & 07777);
}

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

bool flushToDisk(std::FILE* file, int& errorNumber) {
    // A file system that cannot sync (EINVAL) or is read-only (EROFS) has nothing more to send.
    if (fsync(fileno(file)) != 0 && errno != EINVAL && errno != EROFS) {
        errorNumber = errno;
        return false;
    }
    return true;
}

bool renamePath(const fs::path& from, const fs::path& to, RenameMode, std::string& why) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        why = errorText(errno);
        return false;
    }
    return true;
}

bool replaceableNow(const fs::path&, std::string&) {
    return true;
}

bool hardLink(const fs::path& source, const fs::path& name) {
    return ::link(source.c_str(), name.c_str()) == 0;
}

void removeFile(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

bool writable(const fs::path& path, std::string& why) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0) {
        why = "the file is read-only";
        return false;
    }
    if (::access(path.c_str(), W_OK) != 0) {
        why = "cannot write the file (" + errorText(errno) + ")";
        return false;
    }
    return true;
}

bool sameName(const fs::path& a, const fs::path& b) {
    return a == b;
}

std::string foldNameCase(std::string text) {
    return text;
}

LockResult takeLock(std::uint64_t key, std::chrono::milliseconds wait, LockHandle& handle, std::string& why) {
    const auto until = std::chrono::steady_clock::now() + wait;
    // The lock files stay (a few bytes' worth of names each): removing one could let two runs hold locks on
    // two different files of one name.
    std::error_code ec;
    const fs::path folder = fs::temp_directory_path(ec) / ("brindlemark-locks-" + std::to_string(::getuid()));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        why = errorText(errno);
        return LockResult::Failed;
    }
    char name[40];
    std::snprintf(name, sizeof name, "%016llx.lock", static_cast<unsigned long long>(key));
    const int fd = ::open((folder / name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        why = errorText(errno);
        return LockResult::Failed;
    }
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            handle = fd;
            return LockResult::Taken;
        }
        const int code = errno;
        if (code != EWOULDBLOCK && code != EAGAIN && code != EINTR) {
            ::close(fd);
            why = errorText(code);
            return LockResult::Failed;
        }
        if (std::chrono::steady_clock::now() >= until) {
            ::close(fd);
            return LockResult::Busy;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void releaseLock(LockHandle handle) {
    ::close(static_cast<int>(handle));
}

PageMapping mapHugePages(std::size_t size) {
#if defined(__linux__)
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    // A mapping a huge page longer than needed holds a huge-page-aligned run of the length rounded up.
    const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* mapping = ::mmap(nullptr, rounded + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return {};
    const auto start = (reinterpret_cast<std::uintptr_t>(mapping) + kHugePage - 1) / kHugePage * kHugePage;
    ::madvise(reinterpret_cast<void*>(start), rounded, MADV_HUGEPAGE); // a hint: without it, small pages
    return {mapping, rounded + kHugePage, reinterpret_cast<std::uint8_t*>(start)};
#else
    (void)size;
    return {};
#endif
}

void unmapPages(const PageMapping& pages) {
    ::munmap(pages.mapping, pages.bytes);
}

} // namespace platform
} // namespace brindlemark
