#pragma once

#include "replace/dryrun.h"
#include "replace/replaceplan.h"
#include "replace/stringtable.h"

#include <string>
#include <vector>

namespace brindlemark::cli {

// The dry run's listing: a line per rename (identifiers, name, values rewritten, occurrences per side file),
// a line per collision, then a line of totals.
std::string dryRunReport(const ReplacePlan& plan, const std::vector<SideText>& sides, const StringTable* strings);

} // namespace brindlemark::cli
