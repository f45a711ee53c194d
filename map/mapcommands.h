#pragma once

// The commands on a map archive (.w3x, .w3m): its object files read as one bundle, renaming across all of them
// and the trigger files inside, and merging a bundle into them. The map is rewritten whole through a temporary
// file, after a backup copy; a map that cannot be read is refused and left as it was.

#include "core/messagesink.h"
#include "core/objectbundle.h"
#include "map/maparchive.h"
#include "merge/mergecommand.h"
#include "replace/dryrun.h"
#include "replace/replacecommand.h"
#include "replace/stringtable.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace brindlemark {

// Whether the path names a map archive, by its extension (.w3x or .w3m, any letter case).
bool isMapArchive(const std::filesystem::path& path);

// The name of a kind's object file inside a map: "war3map.w3u", or "war3mapSkin.w3u" for the skin file.
std::string mapObjectFileName(ObjectKind kind, bool skin);

// The object data of a map: the object files in one bundle, the skin files (which the current editor writes
// beside them, same layout) in another, and the bytes each file had.
struct MapObjects {
    ObjectBundle main;
    ObjectBundle skin;
    std::map<std::string, std::vector<std::uint8_t>> files; // the object files read, by name
};

// Reads every object file of the open map; loading warnings go to `warn`. False with a message naming the map
// and the file when one is damaged.
bool loadMapObjects(const MapArchive& map, MergePolicy policy, MapObjects& out, std::string& error,
                    const WarningSink& warn);

// Reads a map for looking at: its object files and skin files glued into one bundle, and its string table
// (war3map.wts) when it has one. False with the reason.
// Loading warnings go to the bundle's warning sink.
bool loadMapBundle(const std::filesystem::path& path, ObjectBundle& bundle, StringTable& strings, std::string& error);

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

// The trigger files inside a map that renames are patched into: war3map.wtg and war3map.wct, and the script
// with `patchScript`.
std::vector<std::string> mapTriggerFiles(const MapArchive& map, bool patchScript);

// Renames across every object file of the map and patches the renames into its trigger files and the side
// files, then writes the map back (after copying it to its backup name). Messages as the Replace command's.
ReplaceReport replaceInMap(const MapReplaceRequest& request, MessageSink& sink);

// What a Replace on a map would do, planned in memory.
struct MapReplacePlan {
    ReplacePlan plan;
    std::vector<SideText> sides; // the map's trigger files (by name), then the side files outside
    StringTable strings;
};

// The same run planned only: what each rename would change in the map's object data, its trigger files and
// the side files. Nothing is written. False with a message when the map, the list or a side file cannot be read.
bool planReplaceInMap(const MapReplaceRequest& request, MapReplacePlan& out, MessageSink& sink);

// Merges a bundle or single-kind file into the map's object files under `policy` and writes the map back
// (after its backup copy unless `takeBackup` is false). Messages as the Merge command's.
MergeReport mergeIntoMap(const std::filesystem::path& map, const std::filesystem::path& added, MergePolicy policy,
                         bool takeBackup, MessageSink& sink);

} // namespace brindlemark
