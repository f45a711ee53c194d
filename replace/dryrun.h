#pragma once

#include "core/objectbundle.h"
#include "replace/renaming.h"
#include "replace/sidefile.h"

#include <filesystem>

#include <span>
#include <string>
#include <utility>
#include <vector>

namespace brindlemark {

// The bytes of one side file, patched in memory; `passes` is how many rows name the file (each row makes its own
// pass per rename, as the Replace command does). A side text with a `file` holds no bytes: the file is read in
// pieces when the passes are counted and read again in pieces when it is written, so a file of any size takes
// little memory.
struct SideText {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::size_t passes = 1;
    std::filesystem::path file;
    // For a `file`, what the patching found: the passes made, whether the patched bytes differ from the file's,
    // the hash of the file as it was read, and why it could not be read (empty when it could).
    std::vector<SidePass> planned;
    bool changed = false;
    std::uint64_t hash = 0;
    std::string failure;
};

// One rename and what it changed.
struct PlannedRename {
    RenameEntry entry;
    ValueCounts values;                   // values of the bundle it rewrote
    std::vector<std::size_t> occurrences; // per side text, the occurrences it replaced
};

// Patches every side text in memory with the renames, in order, and counts per rename the occurrences replaced.
// A side text with a file is read in pieces and counted; a file that cannot be read has its `failure` set.
void patchSideTexts(std::vector<PlannedRename>& renames, std::vector<SideText>& sides);

} // namespace brindlemark
