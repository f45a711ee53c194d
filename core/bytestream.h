#pragma once

#include "core/objectid.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace brindlemark {

class RecordPlacer;

// What the reader is inside of, for error messages. Set by the callers as they descend; turned into text only
// when a read fails.
struct ReadPlace {
    const char* what = "the file";
    const char* kindName = nullptr; // e.g. "units"
    const ObjectId* object = nullptr;
};

// A failed read: the byte offset and a message without the file name.
struct ReadError {
    std::uint64_t offset = 0;
    std::string message;
};

// A bounds-checked view over bytes with a read position. Every read either succeeds whole or fails without
// moving past the end; the first failure is kept in error().
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t offset() const { return pos_; }
    std::size_t size() const { return bytes_.size(); }
    std::size_t remaining() const { return bytes_.size() - pos_; }
    bool failed() const { return failed_; }
    const ReadError& error() const { return error_; }

    ReadPlace place;

    bool readU32(std::uint32_t& out) {
        if (remaining() < 4)
            return truncated();
        std::uint8_t b[4];
        std::memcpy(b, bytes_.data() + pos_, 4);
        out = std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
        pos_ += 4;
        return true;
    }
    bool readI32(std::int32_t& out) {
        std::uint32_t u = 0;
        if (!readU32(u))
            return false;
        out = static_cast<std::int32_t>(u);
        return true;
    }
    bool readF32(float& out) {
        std::uint32_t u = 0;
        if (!readU32(u))
            return false;
        std::memcpy(&out, &u, 4);
        return true;
    }
    bool readId(ObjectId& out) {
        if (remaining() < 4)
            return truncated();
        std::memcpy(out.bytes.data(), bytes_.data() + pos_, 4);
        pos_ += 4;
        return true;
    }
    // Reads bytes up to and including the first NUL, at most `maxBytes` in all, and stores the text before the
    // NUL. Fails when the bytes end first, or when no NUL is among the first `maxBytes`.
    bool readCString(std::string& out, std::size_t maxBytes);
    // As readCString(), keeping nothing: only moves past the text and its NUL.
    bool skipCString(std::size_t maxBytes);

    // The bytes from the position to the end.
    const std::uint8_t* here() const { return bytes_.data() + pos_; }
    // Moves the position on by `n` bytes, which must be no more than remain.
    void advance(std::size_t n) { pos_ += n; }
    // Moves the position back by `n` bytes, never before the start.
    void stepBack(std::size_t n) { pos_ = n > pos_ ? 0 : pos_ - n; }
    // The bytes from `offset` up to the position (`offset` must not lie beyond it).
    std::span<const std::uint8_t> bytesSince(std::size_t offset) const { return bytes_.subspan(offset, pos_ - offset); }

    // When set, it keeps the bytes alive: what is read may keep views into them, held together with it.
    std::shared_ptr<const void> keepAlive;
    // With keepAlive: objects whose modifications stand out of order may leave sorting them until something
    // walks them, so that a load that only counts them never sorts them.
    bool sortWhenUsed = false;
    // With keepAlive and without sortWhenUsed: objects whose modifications stand out of order are handed to it,
    // to be sorted on another thread while reading goes on.
    RecordPlacer* placer = nullptr;

    // Fails with "the file ends at byte N inside <place>".
    bool truncated();
    // Fails with "the file ends at byte N, too soon for the C <items> counted at byte K, in <place>": a count
    // that the rest of the file cannot hold.
    bool countTooLarge(std::size_t countAt, std::uint64_t count, const char* items);
    // Fails at `offset` with `message` followed by the place.
    bool fail(std::size_t offset, const std::string& message);

    // The place as text: "a modification of object 'h000' (units)".
    std::string placeText() const;

private:
    // The length of the text at the position, or false when readCString() would fail.
    bool cStringLength(std::size_t maxBytes, std::size_t& length);

    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    bool failed_ = false;
    ReadError error_;
};

// Little-endian output into a growing buffer; a sink may drain the buffer while writing goes on.
class ByteWriter {
public:
    using Sink = std::function<void(const std::uint8_t*, std::size_t)>;

    ByteWriter() = default;
    // Output handed to `sink` in pieces through a small buffer that is reused, never grown.
    explicit ByteWriter(Sink sink) : sink_(std::move(sink)) { buffer_.resize(kDrainBytes + kDirectBytes); }

    // The bytes written and not yet handed to a sink.
    std::vector<std::uint8_t>& buffer() {
        buffer_.resize(used_);
        return buffer_;
    }

    void writeU32(std::uint32_t v) {
        std::uint8_t* p = room(4);
        p[0] = std::uint8_t(v);
        p[1] = std::uint8_t(v >> 8);
        p[2] = std::uint8_t(v >> 16);
        p[3] = std::uint8_t(v >> 24);
    }
    void writeI32(std::int32_t v) { writeU32(static_cast<std::uint32_t>(v)); }
    void writeF32(float v) {
        std::uint32_t u = 0;
        std::memcpy(&u, &v, 4);
        writeU32(u);
    }
    void writeId(ObjectId id) { std::memcpy(room(4), id.bytes.data(), 4); }
    void writeBytes(const void* data, std::size_t size) {
        if (sink_ && size >= kDirectBytes) {
            flush();
            sink_(static_cast<const std::uint8_t*>(data), size);
            return;
        }
        if (size != 0)
            std::memcpy(room(size), data, size);
    }
    void writeCString(const std::string& text) {
        writeBytes(text.data(), text.size());
        *room(1) = 0;
    }

    // Hands the buffer to the sink once it has grown past a threshold. Without a sink the buffer keeps
    // everything.
    void drain() {
        if (sink_ && used_ >= kDrainBytes)
            flush();
    }
    void flush() {
        if (sink_ && used_ != 0) {
            sink_(buffer_.data(), used_);
            used_ = 0;
        }
    }

    // `size` bytes at the end of the output, to be filled by the caller before anything else is written. The
    // buffer is grown ahead of the bytes written, so that most writes are a bounds check and a copy.
    std::uint8_t* room(std::size_t size) {
        if (buffer_.size() - used_ < size)
            buffer_.resize(std::max(used_ + size, std::max<std::size_t>(buffer_.size() * 2, 4096)));
        std::uint8_t* at = buffer_.data() + used_;
        used_ += size;
        return at;
    }

private:
    // The buffer stays small enough to be reused while it is in the cache; larger pieces go to the sink directly.
    static constexpr std::size_t kDrainBytes = 256 << 10;
    static constexpr std::size_t kDirectBytes = 64 << 10;

    Sink sink_;
    std::vector<std::uint8_t> buffer_; // holds `used_` bytes of output, the rest room for more
    std::size_t used_ = 0;
};

} // namespace brindlemark
