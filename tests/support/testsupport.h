#pragma once

// Helpers shared by the test executables: byte builders for hand-made files, temporary folders, the corpus.

#include "core/fileio.h"
#include "core/objectid.h"
#include "tests/support/builder.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace brindlemark::testing {

inline ObjectId id(std::string_view four) {
    return ObjectId::fromText(four);
}

// A fresh folder under the system's temporary folder, removed with everything in it on destruction.
class TempDir {
public:
    TempDir() {
        // One generator per thread: tests make folders from several threads at once.
        static thread_local std::mt19937_64 rng{std::random_device{}()};
        // Memory-backed where there is one: the tests write and sync many small files.
        std::error_code ec;
        std::filesystem::path base = std::filesystem::temp_directory_path();
#ifndef _WIN32
        if (std::filesystem::is_directory("/dev/shm", ec))
            base = "/dev/shm";
#endif
        std::filesystem::create_directories(base, ec);
        // A folder this one made: never one that another test holds.
        do
            path_ = base / ("brindlemark-test-" + std::to_string(rng()));
        while (!std::filesystem::create_directory(path_));
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const {
        return path_;
    }
    std::filesystem::path operator/(const std::filesystem::path& name) const {
        return path_ / name;
    }

private:
    std::filesystem::path path_;
};

inline Bytes readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeAll(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}
inline std::string textOf(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

inline void writeAll(const std::filesystem::path& path, std::string_view text) {
    writeAll(path, Bytes(text.begin(), text.end()));
}

// Copies `from` to `to` through a transaction of one staged copy, as the commands make a backup copy. False with a
// message on failure, `to` then as it was.
[[nodiscard]] inline bool copyFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                                            std::string& error) {
    FileTransaction transaction;
    return transaction.stageCopy(from, to, error) && transaction.commit(error);
}

// The folder of real map files, or empty when it is not there. BRINDLEMARK_CORPUS in the environment wins.
inline std::filesystem::path corpusDir() {
    std::filesystem::path dir = BRINDLEMARK_CORPUS;
    if (const char* env = std::getenv("BRINDLEMARK_CORPUS"))
        dir = env;
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? dir : std::filesystem::path();
}

} // namespace brindlemark::testing
