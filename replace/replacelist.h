#pragma once

// Reading a replace list: a text file of four-byte tokens taken in pairs, the old identifier pattern then the
// new one. Between tokens, white space (0x09 to 0x0D, 0x20) and comments are skipped; a comment starts with
// "/" where a token could start and runs through the next line feed, or to the end of the file. A token is
// the four raw bytes that start at the first other byte, whatever they are, so 'hfooh001' holds two tokens. A
// byte 0xEF where a token could start is taken as a UTF-8 byte-order mark: it and the two bytes after it are
// skipped, and the token is the four bytes right behind them, with nothing skipped in between.

#include "core/objectid.h"

#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace brindlemark {

// A replace list read whole: its pairs, by the token rules above, each line on its own. A line is a unit: it
// holds whole pairs (any number, none for a blank or comment line), so a line never pairs with its neighbour.
struct ReplaceListContents {
    std::vector<std::pair<ObjectId, ObjectId>> pairs;
};

// Reads the pairs of a list from its bytes; `name` names the list in errors. A list saved as UTF-16 (with its
// byte-order mark, as Notepad saves "Unicode") is read as the same text in UTF-8; the UTF-8 mark that starts a
// file is skipped, so that a comment or a blank line may follow it. False, with one message that
// names every such line and what was read there, when a line does not hold whole pairs of four-character
// identifiers (an odd number of tokens, a token with white space, "/" or a NUL byte inside, a token cut short
// by the line end): such a list is refused whole, before anything is renamed.
[[nodiscard]] bool parseReplaceList(std::span<const std::uint8_t> bytes, const std::string& name,
                                    ReplaceListContents& out, std::string& error);

// Reads the list file. False with "Sorry, can't open Replace List file %s" and the reason when it cannot be read
// (a folder cannot), or with parseReplaceList's reason.
[[nodiscard]] bool readReplaceList(const std::filesystem::path& path, ReplaceListContents& out, std::string& error);

} // namespace brindlemark
