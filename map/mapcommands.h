#pragma once

// The commands on a map archive (.w3x, .w3m): its object files read as one bundle, renaming across all of them
// and the trigger files inside, and merging a bundle into them. The map is rewritten whole through a temporary
// file, after a backup copy; a map that cannot be read is refused and left as it was.

#include "core/fileio.h"
#include "core/messagesink.h"
#include "core/objectbundle.h"
#include "map/maparchive.h"
#include "map/mapsupport.h"
#include "merge/mergecommand.h"
#include "replace/dryrun.h"
#include "replace/replacecommand.h"
#include "replace/stringtable.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brindlemark {

// The files of a map, in an archive or in a folder (where they are plain files of the same names, found without
// regard to letter case).
class MapContents {
public:
    // Opens the archive, or the folder. False with a message naming the map when it cannot be read.
    bool open(const std::filesystem::path& path, std::string& error);
    bool isFolder() const { return folder_; }
    const std::filesystem::path& path() const { return path_; }
    bool contains(std::string_view name) const;
    bool read(std::string_view name, std::vector<std::uint8_t>& out, std::string& error) const;
    // The archive; only for a map that is not a folder.
    const MapArchive& archive() const { return archive_; }
    // The file of a folder map that holds `name`: the existing one in whatever letter case, else a new one.
    std::filesystem::path fileInFolder(std::string_view name) const;

private:
    bool folder_ = false;
    std::filesystem::path path_;
    MapArchive archive_;
    std::map<std::string, std::filesystem::path> files_; // folder files by lower-case name
};

// The name of a kind's object file inside a map: "war3map.w3u", or "war3mapSkin.w3u" for the skin file.
std::string mapObjectFileName(ObjectKind kind, bool skin);

// The object data of a map: the object files in one bundle, the skin files (which the current editor writes
// beside them, same layout) in another, and the bytes each file had.
struct MapObjects {
    ObjectBundle main;
    ObjectBundle skin;
    std::map<std::string, std::vector<std::uint8_t>> files;  // the object files read, by name
    std::map<std::string, std::vector<std::uint8_t>> normal; // the same in the form this program writes them
};

// Stages the map's new files, `replaced` (by name) and `added` (files the map did not have): an archive is
// written anew, a folder gets the changed files; with `backup`, the archive is first copied to BACKUP_<name>,
// or the folder BACKUP_<name> beside the folder map is replaced whole by the files that change, as they are
// now. With nothing to change nothing is staged. A file of a folder map that is a symbolic link out of the
// folder is refused. Counts the files that change. False (reported) on failure.
bool stageMapFiles(const MapContents& map, const std::map<std::string, std::vector<std::uint8_t>>& replaced,
                   const std::map<std::string, std::vector<std::uint8_t>>& added, bool backup, FileTransaction& files,
                   std::size_t& changed, MessageSink& sink);

// The object files (or skin files) whose contents a rename or merge changed, by name: `changed` for files the map
// has, `added` for kinds it did not have. A file whose objects did not change keeps its bytes as they were.
void changedObjectFiles(const ObjectBundle& bundle, bool skin, const MapObjects& objects,
                        std::map<std::string, std::vector<std::uint8_t>>& changed,
                        std::map<std::string, std::vector<std::uint8_t>>& added);

// Reads every object file of the open map; loading warnings go to `warn`. False with a message naming the map
// and the file when one is damaged.
bool loadMapObjects(const MapContents& map, MergePolicy policy, MapObjects& out, std::string& error,
                    const WarningSink& warn);

// Reads a map for looking at: its object files and skin files glued into one bundle, or with `skinApart` the skin
// files into that bundle of their own; and its string table (war3map.wts) when it has one. False with the reason.
// Loading warnings go to the bundle's warning sink.
bool loadMapBundle(const std::filesystem::path& path, ObjectBundle& bundle, StringTable& strings, std::string& error,
                   ObjectBundle* skinApart = nullptr);

// Reads a map's objects (as loadMapBundle) as the added file of a merge. Unless `keepReferences`, the string
// values that refer to its string table are resolved to their texts, for a main file that has no table of its
// own; a reference the table lacks is then refused, naming each. False with the reason.
bool readAddedMap(const std::filesystem::path& path, bool keepReferences, AddedFile& out, std::string& error);

// Brings the texts that `bundle` (objects about to move into the map `target`) refers to in `source`, the string
// table of the map `sourcePath`, into the target's string table (carryStrings()), and puts the new table among
// the files to write: into `replaced`, or `added` when the target had none. Nothing changes when the bundle
// refers to no text. With `reuseMatching`, references whose number the target holds with the same text stay.
// False with the refusal when `source` lacks a referenced block: the texts would be another map's.
bool carryStringsIntoMap(const MapContents& target, std::initializer_list<ObjectBundle*> bundles,
                         const StringTable& source,
                         const std::filesystem::path& sourcePath, bool reuseMatching,
                         std::map<std::string, std::vector<std::uint8_t>>& replaced,
                         std::map<std::string, std::vector<std::uint8_t>>& added, std::size_t& carried,
                         std::string& error);

// The warning for objects from a file without a string table (`added`) whose string values still refer to one:
// in the map they stand for the map's own texts. Empty when they hold no reference.
std::string referencesWithoutTableWarning(const std::filesystem::path& added, const ObjectBundle& objects,
                                          const std::filesystem::path& map);

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
std::vector<std::string> mapTriggerFiles(const MapContents& map, bool patchScript);

// Renames across every object file of the map and patches the renames into its trigger files and the side
// files, then writes the map back (after copying it to its backup name). Messages as the Replace command's.
ReplaceReport replaceInMap(const MapReplaceRequest& request, MessageSink& sink);

// What a Replace on a map would do, planned in memory.
struct MapReplacePlan {
    ReplacePlan plan;
    std::vector<SideText> sides; // the map's trigger files (by name), the side files outside, then an unpatched script
    bool scriptObserved = false; // the last side is the script, counted but not patched
    StringTable strings;
};

// The same run planned only: what each rename would change in the map's object data, its trigger files and
// the side files. Nothing is written. False with a message when the map, the list or a side file cannot be read.
bool planReplaceInMap(const MapReplaceRequest& request, MapReplacePlan& out, MessageSink& sink);

// Merges a bundle, single-kind file or another map into the map's object files under `policy` and writes the map
// back (after its backup copy unless `takeBackup` is false). The texts that another map's objects refer to in its
// string table come along (carryStringsIntoMap()). Messages as the Merge command's.
MergeReport mergeIntoMap(const std::filesystem::path& map, const std::filesystem::path& added, MergePolicy policy,
                         bool takeBackup, MessageSink& sink);

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
