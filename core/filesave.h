#pragma once

// Saving one file: the bytes go into a temporary file created exclusively beside the target, and a rename puts
// it in place only when all of it was written and flushed.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace brindlemark {

class WriteBehind;

// The steps of writing a file, as the fault hook sees them.
enum class FileStep { Open, Write, Flush, Rename, Copy };

// Called before each step of every write with the file it concerns; a non-zero result makes the step fail with
// that error number. For tests that prove what a failure at any step leaves behind. Null (the default) for none.
using FaultHook = std::function<int(FileStep step, const std::filesystem::path& path)>;
void setFaultHook(FaultHook hook);

// A name for a temporary file beside `target`, short whatever the target's name, so that a target whose name
// is as long as the system allows still gets one. No other write of this process uses it.
std::filesystem::path temporaryBeside(const std::filesystem::path& target);

// Removes the temporary files (and backup folders being made) that a run which no longer exists left beside
// `target`.
void removeStaleTemporaries(const std::filesystem::path& target);
// Removes every temporary file and folder in `folder` that a run which no longer exists left there, whatever
// its target: for a map folder, whose every file is the target of its runs.
void removeStaleTemporariesIn(const std::filesystem::path& folder);

// Creates a new file for writing, failing when anything (a file, a link) already stands at `path`. Null with
// errno set on failure.
std::FILE* createFileExclusive(const std::filesystem::path& path);

// Whether a write to `path` may replace it: a file that exists must be a regular file (links followed) that is
// not read-only. False with the reason, naming the file.
[[nodiscard]] bool checkReplaceable(const std::filesystem::path& path, std::string& error);

// Writes a file so that the target is either left as it was or replaced whole: the bytes go into a temporary file
// beside the target, and commit() puts it in the target's place. A SaveFile destroyed without a successful
// commit() removes its temporary file.
class SaveFile {
public:
    explicit SaveFile(std::filesystem::path target);
    ~SaveFile();
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    // The file whose owner and mode the new file takes; by default the target's own, where it exists.
    void setModel(std::filesystem::path model) { model_ = std::move(model); }
    // Checks that the target may be replaced and creates the temporary file with the target's owner and mode.
    // False with a message naming the target when that fails.
    [[nodiscard]] bool open(std::string& error);
    // Appends bytes; a failure is remembered and reported by finish() or commit().
    void write(const void* data, std::size_t size);
    // Flushes the bytes to disk and closes the temporary file, leaving the target alone.
    [[nodiscard]] bool finish(std::string& error);
    // Puts the finished temporary file in the target's place.
    [[nodiscard]] bool replace(std::string& error);
    // finish() then replace(). False with a message when anything failed; the target is then unchanged.
    [[nodiscard]] bool commit(std::string& error);
    // Whether the target can be replaced now (on Windows: no other program holds it open); false with a message
    // that names it.
    [[nodiscard]] bool replaceable(std::string& error) const;
    // Removes the temporary file, if any.
    void discard();
    // Takes `written`, a complete file beside the target, as the temporary file to put in place.
    void adopt(std::filesystem::path written);

    // The file that will be replaced (a link's target).
    const std::filesystem::path& target() const { return target_; }
    // The temporary file that replace() puts in the target's place; empty when there is none.
    const std::filesystem::path& temporary() const { return temp_; }

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::filesystem::path model_;
    std::FILE* file_ = nullptr;
    bool finished_ = false;
    int errorNumber_ = 0;
    std::uint64_t written_ = 0;     // bytes written so far
    std::uint64_t writtenBack_ = 0; // of those, the ones already sent on their way to the disk
    // Past the first megabytes, the bytes are written on another thread, which then alone uses `file_`,
    // `written_` and `writtenBack_` until finish() or discard() stops it.
    std::unique_ptr<WriteBehind> behind_;

    // Writes to `file_`; 0 or the error number.
    int writeOut(const void* data, std::size_t size);
};

// Writes bytes to `target` through a SaveFile.
[[nodiscard]] bool saveBytes(const std::filesystem::path& target, const void* data, std::size_t size,
                             std::string& error);

} // namespace brindlemark
