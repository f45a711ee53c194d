#include "document/mainform.h"

#include "core/bundlepath.h"
#include "core/objectbundle.h"

#include <string>

namespace brindlemark {

namespace {

// The name as UTF-8 with ASCII letters in lower case; a name the system's code page cannot spell still compares.
std::string lowerName(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    std::string out(text.begin(), text.end());
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 0x20);
    return out;
}

} // namespace

bool isMapArchive(const std::filesystem::path& path) {
    const std::string ext = lowerName(path.extension());
    return ext == ".w3x" || ext == ".w3m";
}

bool isMapFolder(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec))
        return false;
    if (isMapArchive(folderItself(path))) // "MyMap.w3x/", or "." inside it
        return true;
    for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        if (lowerName(it->path().filename()) == "war3map.w3i")
            return true;
    return false;
}

MainForm formOf(const std::filesystem::path& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec) && isMapFolder(path))
        return MainForm::MapFolder;
    // Anything else by its name: a folder that is not a map is then refused by whatever reads it as that form.
    if (isMapArchive(path))
        return MainForm::MapArchive;
    if (singleKindOf(path))
        return MainForm::ObjectFile;
    return lowerName(path.extension()) == ".w3o" ? MainForm::Bundle : MainForm::Unknown;
}

bool holdsMapFiles(const std::filesystem::path& path) {
    return isMapForm(formOf(path));
}

std::string mapRefusal(const std::filesystem::path& path, std::string_view name, std::string_view words) {
    if (!holdsMapFiles(path))
        return {};
    return std::string(name) + " is a map" + std::string(words);
}

bool mayWriteObjectsOver(const std::filesystem::path& in, const std::filesystem::path& out) {
    return !holdsMapFiles(in) && singleKindOf(in) == singleKindOf(out);
}

bool isFolderButNoMap(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec) && formOf(path) != MainForm::MapFolder;
}

std::filesystem::path mainBackupName(const std::filesystem::path& path) {
    return backupName(splitPath(formOf(path) == MainForm::MapFolder ? folderItself(path) : path));
}

std::filesystem::path chosenMainFile(const std::filesystem::path& chosen) {
    if (lowerName(chosen.filename()) == "war3map.w3i" && chosen.has_parent_path() && isMapFolder(chosen.parent_path()))
        return chosen.parent_path();
    return chosen;
}

} // namespace brindlemark
