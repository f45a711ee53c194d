// Everything that differs between Windows and POSIX file systems lives in this file.
#include "core/fileio.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace brindlemark {

namespace {

std::string reason(int errorNumber) {
    return errorNumber ? std::generic_category().message(errorNumber) : std::string("unknown error");
}

bool syncAndClose(std::FILE* file, int& errorNumber) {
    bool ok = std::fflush(file) == 0;
    if (!ok)
        errorNumber = errno;
#ifdef _WIN32
    if (ok && _commit(_fileno(file)) != 0) {
        ok = false;
        errorNumber = errno;
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

bool replaceWith(const fs::path& from, const fs::path& to, std::string& why) {
#ifdef _WIN32
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = std::system_category().message(static_cast<int>(GetLastError()));
        return false;
    }
    return true;
#else
    std::error_code ec;
    // Keep the permissions of the file being replaced.
    const fs::file_status old = fs::status(to, ec);
    if (!ec && fs::exists(old))
        fs::permissions(from, old.permissions(), ec);
    fs::rename(from, to, ec);
    if (ec) {
        why = ec.message();
        return false;
    }
    return true;
#endif
}

} // namespace

fs::path temporaryBeside(const fs::path& target, const char* kind) {
    static std::atomic<unsigned> counter{0};
#ifdef _WIN32
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    fs::path name = target.filename();
    name += std::string(".") + kind + "-" + std::to_string(pid) + "-" + std::to_string(counter++);
    return target.parent_path() / name;
}

std::string pathText(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::FILE* openFile(const fs::path& path, const char* mode) {
#ifdef _WIN32
    std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

bool readFile(const fs::path& path, std::vector<std::uint8_t>& out, std::string& error) {
    out.clear();
    std::FILE* file = openFile(path, "rb");
    if (!file) {
        error = pathText(path) + ": cannot open the file (" + reason(errno) + ")";
        return false;
    }
    // Read straight into a buffer of the file's size, then on in pieces should the file have grown.
    bool ok = true;
    std::error_code ec;
    const auto expected = fs::file_size(path, ec);
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
        error = pathText(path) + ": cannot read the file (" + reason(readError) + ")";
    }
    return ok;
}

bool copyFileReplacing(const fs::path& from, const fs::path& to, std::string& error) {
    std::FILE* in = openFile(from, "rb");
    if (!in) {
        error = pathText(from) + ": cannot open the file (" + reason(errno) + ")";
        return false;
    }
    SaveFile out(to);
    if (!out.open(error)) {
        std::fclose(in);
        return false;
    }
    std::uint8_t buffer[1 << 16];
    bool ok = true;
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
        out.write(buffer, got);
        if (got < sizeof buffer) {
            ok = !std::ferror(in);
            break;
        }
    }
    const int readError = errno;
    std::fclose(in);
    if (!ok) {
        error = pathText(from) + ": cannot read the file (" + reason(readError) + ")";
        return false;
    }
    return out.commit(error);
}

SaveFile::SaveFile(fs::path target) : target_(std::move(target)) {}

SaveFile::~SaveFile() { discard(); }

bool SaveFile::open(std::string& error) {
    discard();
    temp_ = temporaryBeside(target_, "tmp");
    file_ = openFile(temp_, "wb");
    if (!file_) {
        error = pathText(target_) + ": cannot write the file (" + reason(errno) + ")";
        temp_.clear();
        return false;
    }
    failed_ = false;
    errorNumber_ = 0;
    return true;
}

void SaveFile::write(const void* data, std::size_t size) {
    if (!file_ || failed_ || size == 0)
        return;
    if (std::fwrite(data, 1, size, file_) != size) {
        failed_ = true;
        errorNumber_ = errno;
    }
}

bool SaveFile::commit(std::string& error) {
    if (!file_) {
        error = pathText(target_) + ": the file was not opened for writing";
        return false;
    }
    std::FILE* file = file_;
    file_ = nullptr;
    int closeError = 0;
    const bool closed = syncAndClose(file, closeError);
    if (failed_ || !closed) {
        error = pathText(target_) + ": cannot write the file (" + reason(failed_ ? errorNumber_ : closeError) + ")";
        discard();
        return false;
    }
    std::string why;
    if (!replaceWith(temp_, target_, why)) {
        error = pathText(target_) + ": cannot replace the file (" + why + ")";
        discard();
        return false;
    }
    temp_.clear();
    return true;
}

void SaveFile::discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_.empty()) {
        std::error_code ec;
        fs::remove(temp_, ec);
        temp_.clear();
    }
}

bool saveBytes(const fs::path& target, const void* data, std::size_t size, std::string& error) {
    SaveFile file(target);
    if (!file.open(error))
        return false;
    file.write(data, size);
    return file.commit(error);
}

} // namespace brindlemark
