#pragma once

// What a file given where object data belongs holds instead, told by its first bytes and its name, so that a
// map or a trigger file is named for what it is rather than refused for a "version" read from its magic.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace brindlemark {

enum class FileForm {
    ObjectData,  // nothing says otherwise
    Map,         // an MPQ archive ("MPQ\x1a", or the "HM3W" map header before it), or a map folder
    TriggerFile, // war3map.wtg ("WTG!") or war3map.wct
    StringTable, // war3map.wts
    Script,      // war3map.j or war3map.lua
    Text,        // no zero byte where object data always has one
    Folder,      // a folder that is not a map
};

// The form that the file's first bytes and its name tell; ObjectData when they tell nothing else. Only a file
// that did not read as object data should be named by it: the test is for naming, not for refusing.
FileForm fileFormOf(std::span<const std::uint8_t> head, std::string_view fileName);
// The same for a file on disk; a folder is a Map when it holds a war3map.w3i or its name ends in .w3x or
// .w3m.
FileForm fileFormOf(const std::filesystem::path& path);

// "NAME is a map", "NAME is a trigger file", "NAME is not object data (...)"; empty for ObjectData.
std::string wrongFormMessage(FileForm form, const std::string& fileName);

} // namespace brindlemark
