#pragma once

// Whether this build reads maps, and how a path is recognised as one. Built with or without StormLib.

#include <filesystem>
#include <string_view>

#ifndef BRINDLEMARK_HAVE_MAPS
#define BRINDLEMARK_HAVE_MAPS 0
#endif

namespace brindlemark {

// True when the map commands are built (StormLib was found); without them a map given to a command is refused
// with kMapsUnsupported and the commands on bundles and object files work as always.
inline constexpr bool kMapsSupported = BRINDLEMARK_HAVE_MAPS != 0;
inline constexpr std::string_view kMapsUnsupported = "map archives (.w3x, .w3m) are not supported by this build";

// Whether the path names a map archive, by its extension (.w3x or .w3m, any letter case).
bool isMapArchive(const std::filesystem::path& path);
// Whether the path is a map saved as a folder: a folder whose name ends in .w3x or .w3m, or one that holds a
// war3map.w3i.
bool isMapFolder(const std::filesystem::path& path);
// Whether the path names a map, an archive or a folder.
bool isMap(const std::filesystem::path& path);
// What a file chooser's answer stands for. A file chooser cannot return a folder, so a map folder is chosen
// through the war3map.w3i it holds: that answer stands for the folder. Any other answer stands for itself.
std::filesystem::path chosenMainFile(const std::filesystem::path& chosen);

} // namespace brindlemark
