#pragma once

// Archive paths as StormLib takes them (TCHAR): UTF-8 bytes on POSIX; on Windows UTF-16 (StormLib is built for
// wide-character paths), as the wide Windows calls take them, so that names in any script and paths of
// MAX_PATH characters and more open as they do for every other file. For the map library and the programs
// that build test archives with StormLib.

#include "core/fileio.h"

#include <StormLib.h>

#include <filesystem>
#include <string>

namespace brindlemark::storm {

#ifdef _WIN32
static_assert(sizeof(TCHAR) == sizeof(wchar_t), "StormLib takes UTF-16 paths on Windows: define UNICODE");
inline std::wstring path(const std::filesystem::path& path) {
    return windowsPath(path);
}
#else
inline std::string path(const std::filesystem::path& path) {
    return path.string();
}
#endif

} // namespace brindlemark::storm
