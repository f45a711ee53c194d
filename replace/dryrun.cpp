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

} // namespace brindlemark
