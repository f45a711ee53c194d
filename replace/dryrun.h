#pragma once

#include "core/objectbundle.h"
#include "replace/renaming.h"

#include <span>
#include <string>
#include <utility>
#include <vector>

namespace brindlemark {

// The bytes of one side file, patched in memory; `passes` is how many rows name the file (each row makes its own
// pass per rename, as the Replace command does).
struct SideText {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::size_t passes = 1;
};

// One rename and what it changed.
struct PlannedRename {
    RenameEntry entry;
    ValueCounts values;                   // values of the bundle it rewrote
    std::vector<std::size_t> occurrences; // per side text, the occurrences it replaced
};

// Patches every side text in memory with the renames, in order, and counts per rename the occurrences replaced.
void patchSideTexts(std::vector<PlannedRename>& renames, std::vector<SideText>& sides);

} // namespace brindlemark
