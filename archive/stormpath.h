#pragma once

// Archive paths as StormLib takes them (TCHAR): UTF-8 bytes on POSIX; on Windows UTF-16 (StormLib is built for
// wide-character paths), as the wide Windows calls take them, so that names in any script and paths of
// MAX_PATH characters and more open as they do for every other file; and StormLib's error code by one name. For
// the map library and the programs that build test archives with StormLib.

#include "core/fileio.h"

#include <StormLib.h>

#include <filesystem>
#include <string>

#if !defined(_WIN32) && STORMLIB_VERSION >= 0x0928
// StormLib 9.40 gives its error code on POSIX as SErrGetLastError; 9.22 (Debian's) as GetLastError, as Windows
// does.
inline DWORD GetLastError() {
    return SErrGetLastError();
}
inline void SetLastError(DWORD code) {
    SErrSetLastError(code);
}
#endif

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
