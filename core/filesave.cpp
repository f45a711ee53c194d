// Saving one file: through a temporary file created exclusively beside it, flushed, and renamed into its place.
#include "core/filesave.h"

#include "core/fileinternal.h"
#include "core/platformfiles.h"
#include "core/writebehind.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>

namespace fs = std::filesystem;

namespace brindlemark {

namespace {

FaultHook& faultHook() {
    static FaultHook hook;
    return hook;
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

// Removes the temporaries in `folder` for which `ours` holds and whose process no longer exists. A temporary of a
// process that still runs (or of this one) stays, whatever its age: that run may still put it in place.
void removeDeadTemporaries(const fs::path& folder, const std::function<bool(const TemporaryName&)>& ours) {
    // The temporaries of a commit that stopped part-way are what finishes or undoes it.
    if (holdsInterruptedCommit(folder))
        return;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::optional<TemporaryName> name = parseTemporaryName(pathText(it->path().filename()));
        if (!name || !ours(*name) || name->pid == 0 || name->pid == platform::processId() ||
            platform::processAlive(name->pid))
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

bool renameStep(const fs::path& from, const fs::path& to, platform::RenameMode mode, std::string& why) {
    if (!stepAllowed(FileStep::Rename, to)) {
        why = errorText(errno);
        return false;
    }
    return platform::renamePath(from, to, mode, why);
}

} // namespace

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

void setFaultHook(FaultHook hook) {
    faultHook() = std::move(hook);
}

bool syncAndClose(std::FILE* file, int& errorNumber) {
    bool ok = std::fflush(file) == 0;
    if (!ok)
        errorNumber = errno;
    if (ok && !platform::flushToDisk(file, errorNumber))
        ok = false;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        errorNumber = errno;
    }
    return ok;
}

bool renameOver(const fs::path& from, const fs::path& to, std::string& why) {
    return renameStep(from, to, platform::RenameMode::ReplaceFile, why);
}

bool renameFolder(const fs::path& from, const fs::path& to, std::string& why) {
    return renameStep(from, to, platform::RenameMode::NewName, why);
}

fs::path temporaryBeside(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    const std::string name =
        temporaryPrefix(target) + std::to_string(platform::processId()) + "-" + std::to_string(counter++) + ".tmp";
    return target.parent_path() / name;
}

void removeStaleTemporaries(const fs::path& target) {
    const std::string prefix = temporaryPrefix(target);
    removeDeadTemporaries(
        target.parent_path().empty() ? fs::path(".") : target.parent_path(),
        [&prefix](const TemporaryName& name) { return name.prefix == prefix || madeForTemporaryOf(name, prefix); });
}

void removeStaleTemporariesIn(const fs::path& folder) {
    removeDeadTemporaries(folder, [](const TemporaryName&) { return true; });
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
    std::string why;
    if (!platform::writable(path, why)) {
        error = pathText(path) + ": " + why;
        return false;
    }
    return true;
}

SaveFile::SaveFile(fs::path target) : target_(writeTarget(target)) {}

SaveFile::~SaveFile() {
    discard();
}

bool SaveFile::open(std::string& error) {
    discard();
    platform::ignoreFileSizeSignal();
    if (!checkReplaceable(target_, error))
        return false;
    removeStaleTemporaries(target_);
    std::FILE* file = nullptr;
    fs::path temp;
    if (stepAllowed(FileStep::Open, target_)) {
        for (int attempt = 0; attempt < 8 && !file; ++attempt) {
            temp = temporaryBeside(target_);
            file = createFileExclusive(temp);
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
        platform::copyOwnerAndMode(file, temp, model_);
    else if (fs::exists(target_, ec))
        platform::copyOwnerAndMode(file, temp, target_);
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
    if (!stepAllowed(FileStep::Write, target_)) {
        errorNumber_ = errno ? errno : EIO;
        return;
    }
    if (behind_) {
        if (!behind_->failed())
            behind_->write(static_cast<const std::uint8_t*>(data), size);
        return;
    }
    if (const int error = writeOut(data, size); error != 0) {
        errorNumber_ = error;
        return;
    }
    // A file this large is likely to go on: its bytes are made on this thread and written on another.
    constexpr std::uint64_t kWriteBehindBytes = 4u << 20;
    if (written_ >= kWriteBehindBytes)
        behind_ = WriteBehind::start([this](const std::uint8_t* bytes, std::size_t n) { return writeOut(bytes, n); });
}

int SaveFile::writeOut(const void* data, std::size_t size) {
    if (std::fwrite(data, 1, size, file_) != size)
        return errno ? errno : EIO;
    // A large file goes to the disk while the rest is still being made.
    constexpr std::uint64_t kWriteBackBytes = 8u << 20;
    written_ += size;
    if (written_ - writtenBack_ >= kWriteBackBytes) {
        platform::startWriteBack(file_, writtenBack_, written_ - writtenBack_);
        writtenBack_ = written_;
    }
    return 0;
}

bool SaveFile::finish(std::string& error) {
    if (finished_)
        return true;
    if (!file_) {
        error = pathText(target_) + ": the file was not opened for writing";
        return false;
    }
    if (behind_) {
        const int error = behind_->finish();
        behind_.reset();
        if (errorNumber_ == 0)
            errorNumber_ = error;
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
        error =
            pathText(target_) + ": cannot write the file (" + errorText(errorNumber_ ? errorNumber_ : closeError) + ")";
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
    if (platform::replaceableNow(target_, why))
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
    behind_.reset();
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_.empty()) {
        platform::removeFile(temp_);
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

} // namespace brindlemark
