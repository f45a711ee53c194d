#pragma once

#include "replace/dryrun.h"
#include "replace/stringtable.h"

#include <string>
#include <vector>

namespace brindlemark::cli {

// The dry run's listing: a line per rename (identifiers, name, values rewritten, occurrences per side file),
// then a line of totals.
std::string dryRunReport(const std::vector<PlannedRename>& renames, const std::vector<SideText>& sides,
                         const StringTable* strings);

} // namespace brindlemark::cli
