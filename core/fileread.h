#pragma once

// Reading a file whole, and the stamp that tells whether it changed since.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace brindlemark {

// Opens a file with a C stdio mode; wide-character paths work on every platform. Null on failure.
std::FILE* openFile(const std::filesystem::path& path, const char* mode);

// The most any input is read into memory: as large as the largest object file, and more than any map or text
// this program works on holds.
inline constexpr std::uint64_t kMaxReadSize = std::uint64_t{1} << 30;

// Reads the whole file into `out`. On failure returns false, sets `error` to a message that names the file, and
// leaves `out` empty. A file larger than `limit` bytes is refused before anything is read; a pipe is read up to
// `limit` bytes and refused beyond. A device or socket is refused unread: a stream such as /dev/zero never ends.
[[nodiscard]] bool readFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out, std::string& error,
                            std::uint64_t limit = kMaxReadSize);

// Whether the file can be opened for reading: false with readFile's message for a folder, a device or a file
// that does not open.
[[nodiscard]] bool checkReadable(const std::filesystem::path& path, std::string& error);

// Reads the file piece by piece, handing each piece to `piece` in order, so that it is never held whole: a file of
// any size. Fails as readFile does, naming the file; `hash` receives the hash of all the bytes, which tells a
// later reading of the same file whether it changed in between.
[[nodiscard]] bool readFileInPieces(const std::filesystem::path& path,
                                    const std::function<void(std::span<const std::uint8_t>)>& piece,
                                    std::uint64_t& hash, std::string& error);

// What a file was when it was read: to tell whether something else changed it since.
struct FileStamp {
    bool exists = false;
    std::uint64_t size = 0;
    std::filesystem::file_time_type modified{};
    std::uint64_t hash = 0;

    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};
// The stamp of the file as it is on disk now.
FileStamp stampFile(const std::filesystem::path& path);

} // namespace brindlemark
