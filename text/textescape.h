#pragma once

// String values of object data are 8-bit text in whatever code page the map was written in. These functions show
// such text without losing a byte: well-formed UTF-8 passes as it is, and every byte that is not part of a
// well-formed UTF-8 sequence becomes the four characters \xNN.

#include <cstddef>
#include <string>
#include <string_view>

namespace brindlemark {

// The length of the well-formed UTF-8 sequence that starts at `text[at]` (1 to 4), or 0 when none starts there.
// Overlong forms, surrogates and values above U+10FFFF are not well formed.
std::size_t utf8SequenceAt(std::string_view text, std::size_t at);

bool isUtf8(std::string_view text);

// The text with backslashes doubled and the bytes outside well-formed UTF-8 as \xNN; other characters as they
// are. The result is always well-formed UTF-8, and the original bytes can be recovered from it.
std::string escapeNonUtf8(std::string_view text);

// The text between double quotes for a listing: \" \\ \n \r \t for those characters, \xNN for other control
// bytes and for bytes outside well-formed UTF-8.
std::string quotedText(std::string_view text);

} // namespace brindlemark
