#include "document/archivefiles.h"

#include "core/fileio.h"
#include "document/mainform.h"

namespace brindlemark {

std::unique_ptr<ArchiveFiles> openArchiveFiles(const std::filesystem::path& path, std::string& error) {
    error = pathText(path) + ": " + std::string(kArchivesUnsupported);
    return nullptr;
}

} // namespace brindlemark
