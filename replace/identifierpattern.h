#pragma once

// Applying one identifier pattern pair to a piece of data.
//
// A search pattern and a replacement pattern are four bytes each, in text order. A `%` (0x25) in the search
// pattern agrees with any byte; every other byte agrees only with itself (case-sensitive). A `%` in the
// replacement keeps the text's byte at that position; every other byte is written there. Inside texts only
// whole words are replaced: the bytes before and after an occurrence must be delimiters, or the start or end
// of the text.

#include "core/objectid.h"

#include <cstddef>
#include <cstdint>
#include <array>
#include <span>
#include <string>

namespace brindlemark {

namespace detail {
constexpr std::array<bool, 256> makeDelimiterTable() {
    std::array<bool, 256> table{};
    for (int c = 0x09; c <= 0x0D; ++c)
        table[c] = true;
    table[0x20] = true;
    for (int c = 0x21; c <= 0x2F; ++c)
        table[c] = true;
    for (int c = 0x3A; c <= 0x40; ++c)
        table[c] = true;
    for (int c = 0x5B; c <= 0x60; ++c)
        table[c] = true;
    for (int c = 0x7B; c <= 0x7E; ++c)
        table[c] = true;
    return table;
}
inline constexpr std::array<bool, 256> kDelimiters = makeDelimiterTable();
} // namespace detail

// White space (0x09 to 0x0D, 0x20) or punctuation (0x21 to 0x2F, 0x3A to 0x40, 0x5B to 0x60, 0x7B to 0x7E),
// as the "C" locale classifies them. Letters, digits, the other control bytes and every byte from 0x80 up are
// not delimiters.
inline bool isDelimiter(std::uint8_t byte) {
    return detail::kDelimiters[byte];
}

// Rewrites, in place and left to right, every whole-word occurrence of `pattern` in the text. After a hit the
// four written bytes and the delimiter after them are passed over, so hits never overlap and a window that
// starts on that delimiter is never examined. The text's length never changes; a text shorter than four bytes
// is left alone. Allocates nothing; linear in the text's length.
//
// This form takes exactly the bytes of the span as the text; a NUL byte inside it is an ordinary
// non-delimiter.
void substituteInText(std::span<std::uint8_t> text, ObjectId pattern, ObjectId replacement);
// A NUL-terminated text: the bytes before the first NUL.
void substituteInText(char* text, ObjectId pattern, ObjectId replacement);
// The string's bytes up to its first NUL (all of them when it holds none); bytes after a NUL are left alone.
void substituteInText(std::string& text, ObjectId pattern, ObjectId replacement);

// The result of applying the pattern pair to a single four-byte value, whose boundaries are its own start and
// end: the replacement applied to the value when all four bytes agree with the pattern, otherwise the value
// itself. A value that holds a zero byte (the zero identifier among them) is returned unchanged for every
// pattern, "%%%%" included.
ObjectId substituteInValue(ObjectId value, ObjectId pattern, ObjectId replacement);
// An integer value, by its stored (little-endian) bytes: 'hfoo' is the value whose stored bytes are h, f, o,
// o.
std::uint32_t substituteInValue(std::uint32_t value, ObjectId pattern, ObjectId replacement);
std::int32_t substituteInValue(std::int32_t value, ObjectId pattern, ObjectId replacement);

} // namespace brindlemark
