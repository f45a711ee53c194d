#pragma once

// The commands on a map, an archive (.w3x, .w3m) or a folder: renaming across its object files and the trigger
// files inside, and merging a bundle or another map into it. An archive is rewritten whole through a temporary
// file, after a backup copy; a map that cannot be read is refused and left as it was.

#include "core/messagesink.h"
#include "core/objectbundle.h"
#include "document/document.h"
#include "document/mapcontents.h"
#include "merge/mergecommand.h"
#include "replace/dryrun.h"
#include "replace/replacecommand.h"
#include "replace/stringtable.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brindlemark {

// What to rename in a map.
struct MapReplaceRequest {
    std::filesystem::path map;
    std::filesystem::path replaceList;
    std::vector<std::filesystem::path> sideFiles; // outside the map
    bool keepBackups = true;  // when clear, nothing on disk changes (unless writeWithoutBackups)
    bool writeWithoutBackups = false; // write the map and side files without backup copies
    bool patchScript = false; // also patch war3map.j / war3map.lua inside the map
    MergePolicy policy = MergePolicy::Glue;
};

// Renames across every object file of the map and patches the renames into its trigger files and the side
// files, then writes the map back (after copying it to its backup name). Messages as the Replace command's.
// With `result`, a run that wrote the map leaves there the map as written, for a front end that shows it.
ReplaceReport replaceInMap(const MapReplaceRequest& request, MessageSink& sink, Document* result = nullptr);

// What a Replace on a map would do, planned in memory.
struct MapReplacePlan {
    ReplacePlan plan;
    std::vector<SideText> sides; // the map's trigger files (by name), the side files outside, then an unpatched script
    bool scriptObserved = false; // the last side is the script, counted but not patched
    StringTable strings;
};

// The same run planned only: what each rename would change in the map's object data, its trigger files and
// the side files. Nothing is written. False with a message when the map, the list or a side file cannot be read.
[[nodiscard]] bool planReplaceInMap(const MapReplaceRequest& request, MapReplacePlan& out, MessageSink& sink);

// Merges a bundle, single-kind file or another map into the map's object files under `policy` and writes the map
// back (after its backup copy unless `takeBackup` is false). The texts that another map's objects refer to in its
// string table come along (carryStringsIntoMap()). Messages as the Merge command's.
// With `result`, a run that wrote the map leaves there the map as written.
MergeReport mergeIntoMap(const std::filesystem::path& map, const std::filesystem::path& added, MergePolicy policy,
                         bool takeBackup, MessageSink& sink, Document* result = nullptr);

// A map's object data before and after putting a bundle's kinds into it.
struct MapObjectsBuild {
    MapObjects before;
    ObjectBundle main; // the object files after
    ObjectBundle skin; // the skin files after
};

// Puts the kinds that `main` and `skin` hold into the map's object files (war3map.<ext>) and skin files
// (war3mapSkin.<ext>): without `policy` each kind replaces the map's, with it the objects are merged into the map's
// kind under that policy. Kinds the bundles lack and the map's other files stay as they are. `approve` sees the
// plan before anything is staged; when it answers false nothing is written. Files whose objects do not change keep
// their bytes, and a map with nothing to change is not written; `written` counts the object files written (after
// the map's backup copy when `takeBackup`). False (reported) on failure; the map is then unchanged.
// With `texts` (the texts that references stood for where the objects came from, as a dump of a map records
// them), a reference whose text the map holds under another number or not at all brings its text along as
// carryStringsIntoMap() does with reuseMatching.
[[nodiscard]] bool putObjectFilesIntoMap(const std::filesystem::path& map, const ObjectBundle& main,
                                         const ObjectBundle& skin, std::optional<MergePolicy> policy,
                                         bool takeBackup,
                                         const std::function<bool(const MapObjectsBuild&)>& approve,
                                         std::size_t& written, MessageSink& sink,
                                         const StringTable* texts = nullptr);

} // namespace brindlemark
