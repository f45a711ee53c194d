#include "replace/dryrun.h"

#include "replace/sidefile.h"

namespace brindlemark {

void patchSideTexts(std::vector<PlannedRename>& renames, std::vector<SideText>& sides) {
    for (PlannedRename& r : renames)
        r.occurrences.assign(sides.size(), 0);
    for (std::size_t s = 0; s < sides.size(); ++s) {
        if (sides[s].passes == 0)
            continue;
        std::vector<SidePass> passes;
        for (const PlannedRename& p : renames)
            for (std::size_t row = 0; row < sides[s].passes; ++row)
                passes.push_back({p.entry.fromId, p.entry.toId});
        std::vector<std::size_t> replaced;
        applySidePasses(sides[s].bytes, passes, &replaced);
        for (std::size_t i = 0; i < passes.size(); ++i)
            renames[i / sides[s].passes].occurrences[s] += replaced[i];
    }
}

std::vector<PlannedRename> planRenames(ObjectBundle& bundle, std::span<const std::pair<ObjectId, ObjectId>> pairs,
                                       std::vector<SideText>& sides) {
    std::vector<PlannedRename> planned;
    RenameEngine engine(bundle);
    for (const auto& [pattern, replacement] : pairs) {
        RenameList list(false);
        std::vector<ValueCounts> counts;
        engine.applyRename(pattern, replacement, list, &counts);
        for (std::size_t i = 0; i < list.size(); ++i)
            planned.push_back({list.entries()[i], counts[i], std::vector<std::size_t>(sides.size(), 0)});
    }
    patchSideTexts(planned, sides);
    return planned;
}

} // namespace brindlemark
