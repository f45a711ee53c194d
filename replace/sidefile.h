#pragma once

// Patching identifiers into side files (a map's trigger files and the like) byte for byte. A side file is a
// plain sequence of bytes: no wildcards, no word boundaries, any four bytes that equal the old identifier are
// replaced. A file is never created, truncated or lengthened.
//
// One pass replaces, from left to right, the non-overlapping occurrences of the old identifier: after a
// replacement the scan goes on right behind the written bytes, so written bytes never take part in a match
// during the same pass, and an occurrence that overlaps a replaced one stays ('aaaaa' with aaaa -> bbbb gives
// 'bbbba'). A later pass sees what earlier passes wrote: A -> B then B -> C turns A into C.

#include "core/objectid.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace brindlemark {

// One pass over a side file: every occurrence of `from` left to right becomes `to`.
struct SidePass {
    ObjectId from;
    ObjectId to;
};

// One pass over the file at `path`, in place, streaming through a small buffer (constant memory whatever the
// file's size). The file is opened for update as raw bytes; a file that does not exist or cannot be opened
// that way (read-only, a folder, locked) is left alone and not created. Returns false when the file could not
// be opened for update, or when reading, positioning or writing failed (the file may then be patched in
// part).
bool patchSideFile(const std::filesystem::path& path, ObjectId from, ObjectId to);

// Applies the passes to `bytes` in order, with exactly the result of one patchSideFile pass per element.
// Built for thousands of passes over large files: the bytes are scanned once, and afterwards each pass costs
// time in proportion to the occurrences it meets, not to the length of the bytes. A pass with `from` equal to
// `to` changes nothing.
// With `replaced`, it receives per pass the number of occurrences the pass replaced (0 for a pass whose `from`
// equals its `to`).
void applySidePasses(std::vector<std::uint8_t>& bytes, std::span<const SidePass> passes,
                     std::vector<std::size_t>* replaced = nullptr);

// Applies the passes to the file at `path`: reads it once, runs applySidePasses in memory and writes back, in
// place, only the byte ranges that changed (changes less than 4 KiB apart are written as one range, the bytes
// between them written back unchanged). The file is opened for update and never created or truncated. False
// with a message naming the file when it cannot be opened for update, read or written; after a failed write
// the file may hold part of the changes.
bool patchSideFileInPlace(const std::filesystem::path& path, std::span<const SidePass> passes,
                          std::string& error);

} // namespace brindlemark
