#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace brindlemark {

// Four identifier bytes in the order in which they stand in a file. Any byte values are carried unchanged; the
// all-zero identifier stands for "no identifier".
struct ObjectId {
    std::array<std::uint8_t, 4> bytes{};

    // The first four bytes of `text`, padded with zero bytes when it is shorter.
    static constexpr ObjectId fromText(std::string_view text) {
        ObjectId id;
        for (std::size_t i = 0; i < 4 && i < text.size(); ++i)
            id.bytes[i] = static_cast<std::uint8_t>(text[i]);
        return id;
    }
    // The identifier whose stored (little-endian) bytes are those of `value`.
    static ObjectId fromValue(std::uint32_t value) {
        ObjectId id;
        for (int i = 0; i < 4; ++i)
            id.bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
        return id;
    }
    // The four bytes read as one little-endian value; fit for zero tests and exact equality only.
    std::uint32_t value() const {
        return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
               std::uint32_t(bytes[3]) << 24;
    }
    bool isZero() const { return value() == 0; }
    // The characters before the first NUL byte.
    std::string text() const;
    // All four bytes as text, NUL bytes included.
    std::string_view raw() const { return {reinterpret_cast<const char*>(bytes.data()), 4}; }

    // Exact equality: all four bytes are equal.
    friend bool operator==(const ObjectId&, const ObjectId&) = default;
};

// The identifier as a number in the case-insensitive identifier order: A to Z folded to lower case, the bytes
// after the first NUL byte cleared, the first byte most significant. Two identifiers compare as their keys do.
inline std::uint32_t orderKey(ObjectId id) {
    std::uint32_t v = id.value(); // the first byte least significant
    // Bytes from 'A' to 'Z' gain 0x20, all four at once: the high bit of each byte of `upper` tells whether
    // that byte is below 0x80, at least 'A' and at most 'Z'.
    const std::uint32_t low7 = v & 0x7f7f7f7fu;
    const std::uint32_t atLeastA = low7 + 0x3f3f3f3fu; // 0x80 + x - 'A'
    const std::uint32_t aboveZ = low7 + 0x25252525u;   // 0x80 + x - ('Z' + 1)
    const std::uint32_t upper = atLeastA & ~aboveZ & ~v & 0x80808080u;
    v |= upper >> 2;
    if ((v & 0xffu) == 0)
        return 0;
    if ((v & 0xff00u) == 0)
        v &= 0xffu;
    else if ((v & 0xff0000u) == 0)
        v &= 0xffffu;
    return v << 24 | (v & 0xff00u) << 8 | (v >> 8 & 0xff00u) | v >> 24;
}

// The case-insensitive identifier order: only A to Z fold to lower case, bytes compare unsigned, and a NUL byte
// ends the identifier. Returns a negative number, zero or a positive number.
inline int compareIds(ObjectId a, ObjectId b) {
    const std::uint32_t x = orderKey(a);
    const std::uint32_t y = orderKey(b);
    return (x > y) - (x < y);
}
// Whether the identifier order calls `a` and `b` equal.
inline bool idsMatch(ObjectId a, ObjectId b) {
    return compareIds(a, b) == 0;
}

// The text form for messages and listings: printable ASCII as it is, other bytes of the first NUL-free run as
// \xNN escapes.
std::string displayText(ObjectId id);
// All four bytes, printable ASCII as it is and every other byte (NUL included) as a \xNN escape.
std::string escapedBytes(ObjectId id);

} // namespace brindlemark
