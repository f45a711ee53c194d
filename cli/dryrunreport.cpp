#include "cli/dryrunreport.h"

namespace brindlemark::cli {

namespace {

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string valuesText(const ValueCounts& c) {
    return plural(c.strings, "string", "strings") + ", " + plural(c.integers, "integer", "integers");
}

std::string sidesText(const std::vector<std::size_t>& occurrences, const std::vector<SideText>& sides) {
    std::string out;
    for (std::size_t s = 0; s < sides.size(); ++s)
        out += (s ? ", " : "; ") + sides[s].name + " " + std::to_string(occurrences[s]);
    return out;
}

} // namespace

std::string dryRunReport(const ReplacePlan& plan, const std::vector<SideText>& sides, const StringTable* strings) {
    const std::vector<PlannedRename>& renames = plan.renames;
    std::string out;
    ValueCounts total;
    std::vector<std::size_t> totalOccurrences(sides.size(), 0);
    for (const PlannedRename& r : renames) {
        out.append(r.entry.fromId.raw()).append(" -> ").append(r.entry.toId.raw());
        if (r.entry.displayName)
            out += "  \"" + (strings ? strings->resolve(*r.entry.displayName) : *r.entry.displayName) + "\"";
        out += ": " + valuesText(r.values) + sidesText(r.occurrences, sides) + "\n";
        total.strings += r.values.strings;
        total.integers += r.values.integers;
        for (std::size_t s = 0; s < sides.size(); ++s)
            totalOccurrences[s] += r.occurrences[s];
    }
    for (const Collision& c : plan.collisions)
        out += collisionText(c) + "\n";
    out += "total: " + plural(renames.size(), "rename", "renames") + ", " + valuesText(total) +
           sidesText(totalOccurrences, sides) + "\n";
    return out;
}

} // namespace brindlemark::cli
