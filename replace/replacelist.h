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
