#include "replace/dryrun.h"

#include "core/filepaths.h"
#include "core/fileread.h"
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
        if (sides[s].file.empty()) {
            applySidePasses(sides[s].bytes, passes, &replaced);
        } else if (!passes.empty()) {
            SideText& side = sides[s];
            SideStream stream(passes);
            const SideStream::Sink none = [](const std::uint8_t*, std::size_t) {};
            std::string why;
            if (!readFileInPieces(
                    side.file,
                    [&](std::span<const std::uint8_t> piece) { stream.feed(piece.data(), piece.size(), none); },
                    side.hash, why)) {
                side.failure = "Failed to patch file " + pathText(side.file) + " (" + reasonOf(why) + ")";
                continue;
            }
            stream.finish(none);
            replaced = stream.replaced();
            side.changed = stream.changed();
            side.planned = passes;
        } else {
            continue;
        }
        for (std::size_t i = 0; i < passes.size(); ++i)
            renames[i / sides[s].passes].occurrences[s] += replaced[i];
    }
}

} // namespace brindlemark
