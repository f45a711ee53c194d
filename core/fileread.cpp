// Reading files whole, and the stamps that tell whether a file changed since it was read.
#include "core/fileread.h"

#include "core/fileinternal.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;

namespace brindlemark {

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

} // namespace

std::uint64_t contentHash(std::span<const std::uint8_t> bytes) {
    ContentHasher hasher;
    hasher.add(bytes);
    return hasher.finish();
}

namespace {

// Opens the file at `path` for reading; refuses a folder or a device, saying so in `error`.
std::FILE* openForReading(const fs::path& path, std::string& error) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        error = pathText(path) + ": cannot read the file (it is a folder)";
        return nullptr;
    }
    if (const fs::file_type type = fs::status(path, ec).type();
        type == fs::file_type::character || type == fs::file_type::block || type == fs::file_type::socket) {
        error = pathText(path) + ": cannot read the file (it is not a regular file but a device)";
        return nullptr;
    }
    std::FILE* file = openFile(path, "rb");
    if (!file)
        error = pathText(path) + ": cannot open the file (" + errorText(errno) + ")";
    return file;
}

} // namespace

bool readFile(const fs::path& path, std::vector<std::uint8_t>& out, std::string& error, std::uint64_t limit) {
    out.clear();
    std::FILE* file = openForReading(path, error);
    if (!file)
        return false;
    std::error_code ec;
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

bool checkReadable(const fs::path& path, std::string& error) {
    std::FILE* file = openForReading(path, error);
    if (file)
        std::fclose(file);
    return file != nullptr;
}

bool readFileInPieces(const fs::path& path, const std::function<void(std::span<const std::uint8_t>)>& piece,
                      std::uint64_t& hash, std::string& error) {
    std::FILE* file = openForReading(path, error);
    if (!file)
        return false;
    ContentHasher hasher;
    std::vector<std::uint8_t> buffer(std::size_t(1) << 20);
    std::uint64_t size = 0;
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        const std::span<const std::uint8_t> bytes(buffer.data(), got);
        hasher.add(bytes);
        piece(bytes);
        size += got;
    }
    const int readError = errno;
    const bool ok = !std::ferror(file);
    std::fclose(file);
    if (!ok) {
        error = pathText(path) + ": cannot read the file (" + errorText(readError) + ")";
        return false;
    }
    hash = hasher.finish();
    noteRead(path, size, hash);
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

} // namespace brindlemark
