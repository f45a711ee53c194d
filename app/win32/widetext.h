#pragma once

// Text at the edge of the Windows calls: the program works in UTF-8 and paths, Windows takes UTF-16.

#include <filesystem>
#include <string>
#include <string_view>

namespace brindlemark {

std::wstring toWide(std::string_view utf8);
std::string toUtf8(std::wstring_view wide);

// A path as the user typed or chose it, and back.
inline std::filesystem::path pathFromWide(const std::wstring& text) {
    return std::filesystem::path(text);
}
inline std::wstring wideFromPath(const std::filesystem::path& path) {
    return path.wstring();
}

// A chooser's filter ("label|patterns|...||") in the form GetOpenFileNameW takes: the same fields, each ended by
// a zero character, and one more zero at the end.
std::wstring chooserFilter(std::string_view filter);

} // namespace brindlemark
