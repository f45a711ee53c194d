#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace brindlemark {

// A path as UTF-8 text, for messages.
std::string pathText(const std::filesystem::path& path);

// A name for a temporary file beside `target` ("<name>.<kind>-<process>-<n>") that no other write of this
// process uses.
std::filesystem::path temporaryBeside(const std::filesystem::path& target, const char* kind);

// Opens a file with a C stdio mode; wide-character paths work on every platform. Null on failure.
std::FILE* openFile(const std::filesystem::path& path, const char* mode);

// Reads the whole file into `out`. On failure returns false, sets `error` to a message that names the file, and
// leaves `out` empty.
bool readFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out, std::string& error);

// Copies `from` to `to`, replacing a file of that name. The copy is written beside `to` first and then put in
// its place, so a failure leaves an existing `to` as it was. False with a message on failure.
bool copyFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to, std::string& error);

// Writes a file so that the target is either left as it was or replaced whole: the bytes go into a temporary file
// beside the target, and commit() puts it in the target's place. A SaveFile destroyed without a successful
// commit() removes its temporary file.
class SaveFile {
public:
    explicit SaveFile(std::filesystem::path target);
    ~SaveFile();
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    // Creates the temporary file. False with a message naming the target when that fails.
    bool open(std::string& error);
    // Appends bytes; a failure is remembered and reported by commit().
    void write(const void* data, std::size_t size);
    // Flushes the bytes to disk and replaces the target. False with a message when anything failed; the target
    // is then unchanged.
    bool commit(std::string& error);

private:
    void discard();

    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
    int errorNumber_ = 0;
};

// Writes `bytes` to `target` through a SaveFile.
bool saveBytes(const std::filesystem::path& target, const void* data, std::size_t size, std::string& error);

} // namespace brindlemark
