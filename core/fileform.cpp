#include "core/fileform.h"

#include "core/fileio.h"

#include <algorithm>
#include <fstream>

namespace brindlemark {

namespace {

std::string lowerExtension(std::string_view fileName) {
    const std::size_t slash = fileName.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    std::string ext(dot == std::string_view::npos ? std::string_view() : name.substr(dot));
    for (char& c : ext)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
    return ext;
}

bool startsWith(std::span<const std::uint8_t> bytes, std::string_view magic) {
    return bytes.size() >= magic.size() &&
           std::equal(magic.begin(), magic.end(), bytes.begin(),
                      [](char m, std::uint8_t b) { return static_cast<std::uint8_t>(m) == b; });
}

} // namespace

FileForm fileFormOf(std::span<const std::uint8_t> head, std::string_view fileName) {
    const std::string ext = lowerExtension(fileName);
    // Not by a map's extension: object data read out of a map is named by the map.
    if (startsWith(head, "MPQ\x1a") || startsWith(head, "HM3W"))
        return FileForm::Map;
    if (startsWith(head, "WTG!") || ext == ".wtg" || ext == ".wct")
        return FileForm::TriggerFile;
    if (startsWith(head, "STRING") || startsWith(head, "\xEF\xBB\xBFSTRING") || ext == ".wts")
        return FileForm::StringTable;
    if (ext == ".j" || ext == ".lua")
        return FileForm::Script;
    // Object data starts with small 32-bit numbers (a version, a presence flag, a count): zero bytes among
    // its first four or eight. Text has none, or a UTF-16 byte order mark.
    const std::span<const std::uint8_t> start = head.first(std::min<std::size_t>(head.size(), 64));
    if (startsWith(head, "\xFF\xFE") || startsWith(head, "\xFE\xFF") ||
        (head.size() >= 4 && std::find(start.begin(), start.end(), 0) == start.end()))
        return FileForm::Text;
    return FileForm::ObjectData;
}

FileForm fileFormOf(const std::filesystem::path& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        const std::string ext = lowerExtension(pathText(path.filename().empty() ? path.parent_path() : path));
        const bool map = ext == ".w3x" || ext == ".w3m" || std::filesystem::is_regular_file(path / "war3map.w3i", ec);
        return map ? FileForm::Map : FileForm::Folder;
    }
    std::ifstream in(path, std::ios::binary);
    std::uint8_t head[64] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    return fileFormOf(
        std::span<const std::uint8_t>(head, static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0))),
        pathText(path));
}

std::string wrongFormMessage(FileForm form, const std::string& fileName) {
    switch (form) {
    case FileForm::ObjectData:
        return "";
    case FileForm::Map:
        return fileName + " is a map";
    case FileForm::TriggerFile:
        return fileName + " is a trigger file";
    case FileForm::StringTable:
        return fileName + " is not object data (a string table)";
    case FileForm::Script:
        return fileName + " is not object data (a map script)";
    case FileForm::Text:
        return fileName + " is not object data (text)";
    case FileForm::Folder:
        return fileName + " is not object data (a folder)";
    }
    return "";
}

} // namespace brindlemark
