#pragma once

// What a main file is: the one answer to "what form is this file", which every command and both front ends
// ask here. Built in every configuration; whether the build reads archives is said by MapContents::open (see
// document/mapcontents.h), the only place that refuses them.

#include <filesystem>
#include <string>
#include <string_view>

namespace brindlemark {

enum class MainForm {
    Bundle,     // a .w3o bundle
    ObjectFile, // an object file of one kind (.w3u .w3t .w3b .w3d .w3a .w3h .w3q)
    MapArchive, // a map archive (.w3x, .w3m)
    MapFolder,  // a map saved as a folder: its name ends in .w3x or .w3m, or it holds a war3map.w3i
    Unknown,    // a name that tells nothing: read as a bundle, or by its bytes where a command allows
};

// The form of the file or folder at `path`: a map folder by its name or contents, anything else by its name
// (any letter case). A folder that is not a map gets the form its name gives, and is refused when read.
MainForm formOf(const std::filesystem::path& path);

// Whether the form is a map, an archive or a folder.
constexpr bool isMapForm(MainForm form) {
    return form == MainForm::MapArchive || form == MainForm::MapFolder;
}

// Whether the file at `path` holds a map's files beside its object data (skin files, a string table, trigger files,
// a script): a map archive or a map folder. What a command that works inside a map takes.
bool holdsMapFiles(const std::filesystem::path& path);

// The refusal of a map by a command that reads or writes bundles and object files only, told before anything is
// read: "<name> is a map" followed by the command's own `words`. Empty when the file at `path` is no map.
std::string mapRefusal(const std::filesystem::path& path, std::string_view name, std::string_view words);

// Whether a command that reads the main file `in` may write its objects over it as `out`: `in` is no map (a map
// written as a bare bundle would be lost) and both names give the same kind of object file, or none.
bool mayWriteObjectsOver(const std::filesystem::path& in, const std::filesystem::path& out);

// Whether the path is a folder that is not a map: no main file of any form.
bool isFolderButNoMap(const std::filesystem::path& path);

// Where the backup copy of the main file at `path` goes: BACKUP_<name> beside it, or for a map folder beside the
// folder.
std::filesystem::path mainBackupName(const std::filesystem::path& path);

// The refusal of an archive by a build without the archive module.
inline constexpr std::string_view kArchivesUnsupported = "map archives (.w3x, .w3m) are not supported by this build";

// Whether the path names a map archive, by its extension (.w3x or .w3m, any letter case).
bool isMapArchive(const std::filesystem::path& path);
// Whether the path is a map saved as a folder.
bool isMapFolder(const std::filesystem::path& path);
// What a file chooser's answer stands for. A file chooser cannot return a folder, so a map folder is chosen
// through the war3map.w3i it holds: that answer stands for the folder. Any other answer stands for itself.
std::filesystem::path chosenMainFile(const std::filesystem::path& chosen);

} // namespace brindlemark
