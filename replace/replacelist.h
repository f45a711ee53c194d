#pragma once

// Reading a replace list: a text file of four-byte tokens taken in pairs, the old identifier pattern then the
// new one. Between tokens, white space (0x09 to 0x0D, 0x20) and comments are skipped; a comment starts with
// "/" where a token could start and runs through the next line feed, or to the end of the file. A token is
// the four raw bytes that start at the first other byte, whatever they are, so 'hfooh001' holds two tokens. A
// byte 0xEF where a token could start is taken as a UTF-8 byte-order mark: it and the two bytes after it are
// skipped, and the token is the four bytes right behind them, with nothing skipped in between.

#include "core/objectid.h"

#include <cstdio>

namespace brindlemark {

// Reads the next token of a replace list opened by the caller (core's openFile(path, "rb")) into `token` and
// leaves the file just after it. Returns false, with `token` unchanged, when the file ends before a whole
// token: at the end of the file, inside a comment that has no line feed, or inside a token or a byte-order
// mark.
bool readReplaceToken(std::FILE* file, ObjectId& token);

} // namespace brindlemark

#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace brindlemark {

// A replace list read whole: its pairs, by the token rules above, and a warning for each line that is not a
// pair of four-character identifiers (read on all the same, by those rules).
struct ReplaceListContents {
    std::vector<std::pair<ObjectId, ObjectId>> pairs;
    std::vector<std::string> warnings;
};

// Reads the pairs of a list from its bytes; `name` names the list in warnings and errors. A list saved as UTF-16
// (with its byte-order mark, as Notepad saves "Unicode") is read as the same text in UTF-8. False with the reason
// when a NUL byte stands inside a token: no identifier holds one, so such a list is refused with its line.
[[nodiscard]] bool parseReplaceList(std::span<const std::uint8_t> bytes, const std::string& name,
                                    ReplaceListContents& out, std::string& error);

// Reads the list file. False with "Sorry, can't open Replace List file %s" and the reason when it cannot be read
// (a folder cannot), or with parseReplaceList's reason.
[[nodiscard]] bool readReplaceList(const std::filesystem::path& path, ReplaceListContents& out, std::string& error);

} // namespace brindlemark
