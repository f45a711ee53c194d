#include "app/foldermemory.h"

namespace brindlemark {

std::string_view chooserName(Chooser chooser) {
    switch (chooser) {
    case Chooser::MainFile:
        return "mainFile";
    case Chooser::AddedFile:
        return "addedFile";
    case Chooser::SideFile:
        return "sideFile";
    case Chooser::ReplaceList:
        return "replaceList";
    case Chooser::IdList:
        return "idList";
    }
    return "other";
}

std::filesystem::path RunFolderMemory::folder(std::string_view chooser) const {
    const auto it = folders_.find(chooser);
    return it == folders_.end() ? std::filesystem::path() : it->second;
}

void RunFolderMemory::setFolder(std::string_view chooser, const std::filesystem::path& folder) {
    folders_[std::string(chooser)] = folder;
}

std::string RunFolderMemory::filter(std::string_view chooser) const {
    const auto it = filters_.find(chooser);
    return it == filters_.end() ? std::string() : it->second;
}

void RunFolderMemory::setFilter(std::string_view chooser, std::string_view filter) {
    filters_[std::string(chooser)] = filter;
}

} // namespace brindlemark
