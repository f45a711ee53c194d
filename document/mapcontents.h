#pragma once

// The files of a map, whatever it is saved as: an archive (read through the archive module, where the build has
// it) or a folder. Its object files read as one bundle, its string table, its trigger files, and staging the
// files a command changed.

#include "core/fileio.h"
#include "core/messagesink.h"
#include "core/objectbundle.h"
#include "document/mainform.h"
#include "merge/mergecommand.h"
#include "replace/stringtable.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace brindlemark {

class ArchiveFiles;

// The files of a map, in an archive or in a folder (where they are plain files of the same names, found without
// regard to letter case).
class MapContents {
public:
    MapContents();
    ~MapContents();
    MapContents(MapContents&&) noexcept;
    MapContents& operator=(MapContents&&) noexcept;

    // Opens the archive, or the folder. False with a message naming the map when it cannot be read; a build
    // without the archive module refuses every archive here, and only here.
    [[nodiscard]] bool open(const std::filesystem::path& path, std::string& error);
    bool isFolder() const { return folder_; }
    const std::filesystem::path& path() const { return path_; }
    bool contains(std::string_view name) const;
    [[nodiscard]] bool read(std::string_view name, std::vector<std::uint8_t>& out, std::string& error) const;
    // Writes the archive anew to `target` with `replaced` and `added` (by name): see writeMapArchive(). Only for a
    // map that is not a folder.
    [[nodiscard]] bool writeArchive(const std::map<std::string, std::vector<std::uint8_t>>& replaced,
                                    const std::map<std::string, std::vector<std::uint8_t>>& added,
                                    const std::filesystem::path& target, std::string& error) const;
    // The file of a folder map that holds `name`: the existing one in whatever letter case, else a new one.
    std::filesystem::path fileInFolder(std::string_view name) const;

private:
    bool folder_ = false;
    std::filesystem::path path_;
    std::unique_ptr<ArchiveFiles> archive_;
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
[[nodiscard]] bool stageMapFiles(const MapContents& map,
                                 const std::map<std::string, std::vector<std::uint8_t>>& replaced,
                                 const std::map<std::string, std::vector<std::uint8_t>>& added, bool backup,
                                 FileTransaction& files, std::size_t& changed, MessageSink& sink);

// The object files (or skin files) whose contents a rename or merge changed, by name: `changed` for files the map
// has, `added` for kinds it did not have. A file whose objects did not change keeps its bytes as they were.
void changedObjectFiles(const ObjectBundle& bundle, bool skin, const MapObjects& objects,
                        std::map<std::string, std::vector<std::uint8_t>>& changed,
                        std::map<std::string, std::vector<std::uint8_t>>& added);

// Reads every object file of the open map under `policy`; loading warnings go to `warn`. False with a message
// naming the map and the file when one is damaged.
[[nodiscard]] bool loadMapObjects(const MapContents& map, MergePolicy policy, MapObjects& out, std::string& error,
                                  const WarningSink& warn);

// Reads a map for looking at: its object files and skin files glued into one bundle, or with `skinApart` the skin
// files into that bundle of their own; and its string table (war3map.wts) when it has one. False with the reason.
// Loading warnings go to `warn`.
[[nodiscard]] bool loadMapBundle(const std::filesystem::path& path, ObjectBundle& bundle, StringTable& strings,
                                 std::string& error, const WarningSink& warn, ObjectBundle* skinApart = nullptr);

// Puts a map's objects and skin objects into `bundle` for looking at, the skin glued on top (or with `skinApart`
// into that bundle of their own), as loadMapBundle() gives them; warnings go to `warn`. False with the reason.
[[nodiscard]] bool glueMapObjects(const ObjectBundle& main, const ObjectBundle& skin, const std::filesystem::path& path,
                                  ObjectBundle& bundle, std::string& error, const WarningSink& warn,
                                  ObjectBundle* skinApart = nullptr);

// Reads a map's objects (as loadMapBundle) as the added file of a merge. Unless `keepReferences`, the string
// values that refer to its string table are resolved to their texts, for a main file that has no table of its
// own; a reference the table lacks is then refused, naming each. False with the reason.
[[nodiscard]] bool readAddedMap(const std::filesystem::path& path, bool keepReferences, AddedFile& out,
                                std::string& error);

// Brings the texts that `bundle` (objects about to move into the map `target`) refers to in `source`, the string
// table of the map `sourcePath`, into the target's string table (carryStrings()), and puts the new table among
// the files to write: into `replaced`, or `added` when the target had none. Nothing changes when the bundle
// refers to no text. With `reuseMatching`, references whose number the target holds with the same text stay.
// False with the refusal when `source` lacks a referenced block: the texts would be another map's.
[[nodiscard]] bool carryStringsIntoMap(const MapContents& target, std::initializer_list<ObjectBundle*> bundles,
                                       const StringTable& source, const std::filesystem::path& sourcePath,
                                       bool reuseMatching, std::map<std::string, std::vector<std::uint8_t>>& replaced,
                                       std::map<std::string, std::vector<std::uint8_t>>& added, std::size_t& carried,
                                       std::string& error);

// The warning for objects from a file without a string table (`added`) whose string values still refer to one:
// in the map they stand for the map's own texts. Empty when they hold no reference.
std::string referencesWithoutTableWarning(const std::filesystem::path& added, const ObjectBundle& objects,
                                          const std::filesystem::path& map);

// The trigger files inside a map that renames are patched into: war3map.wtg and war3map.wct, and the script
// with `patchScript`.
std::vector<std::string> mapTriggerFiles(const MapContents& map, bool patchScript);

} // namespace brindlemark
