#pragma once

// The main bundle's path, split into the parts from which backup names and proposed file names are made.
//
// Representation: every part is a std::filesystem::path that holds a piece of the full path's native text
// (path::native(): bytes on POSIX, UTF-16 on Windows), cut at code-unit positions, so that drive + directory
// + name + extension is exactly the full path's native text. Nothing is converted on the way, so non-ASCII
// names and bytes that are not valid in any encoding survive unchanged. The cut points are found by looking
// for the ASCII characters \ / : and . only; in UTF-8 and UTF-16 no unit of a multi-unit character has one of
// those values, so a cut never falls inside a character. Parts are not length-limited.
//
// Both \ and / separate directories on every platform, and a second character ':' marks a drive on every
// platform, so "C:\maps\trig.wct" splits the same way on POSIX as on Windows.

#include <filesystem>

namespace brindlemark {

struct BundlePath {
    std::filesystem::path fullPath;
    std::filesystem::path drive;     // the first two characters when the second is ':', else empty
    std::filesystem::path directory; // up to and including the last \ or /, else empty
    std::filesystem::path name;      // the file name without its extension
    std::filesystem::path extension; // from the last dot of the file name, dot included, else empty
};

// Splits `path` into drive, directory, name and extension, and keeps it whole as `fullPath`. The extension
// starts at the last dot after the last separator: "war.tar.w3o" has the name "war.tar", "C:\maps.old\war"
// has no extension, "war." has the extension ".", ".w3o" an empty name.
BundlePath splitPath(const std::filesystem::path& path);

// The file "BACKUP_" followed by the name and extension, in the same directory on the same drive: the text
// drive + directory + "BACKUP_" + name + extension. All parts empty give the bare "BACKUP_".
std::filesystem::path backupName(const std::filesystem::path& drive, const std::filesystem::path& directory,
                                 const std::filesystem::path& name, const std::filesystem::path& extension);
std::filesystem::path backupName(const BundlePath& path);

// A folder's path as the name of the folder itself, so that its backup goes beside it: trailing separators are
// dropped ("MyMap.w3x/" gives "MyMap.w3x"), and a path that ends in "." or ".." (naming a folder only through
// the one it stands in) is made absolute and normal ("." gives the current folder's full path).
std::filesystem::path folderItself(const std::filesystem::path& folder);

} // namespace brindlemark
