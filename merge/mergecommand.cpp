#include "merge/mergecommand.h"

#include "core/fileform.h"
#include "core/fileio.h"

#include <algorithm>
#include <span>

namespace brindlemark {

std::string loadFailureMessage(const LoadResult& result, const std::filesystem::path& path) {
    if (result.outcome == LoadResult::Outcome::CannotOpen)
        return "Sorry, can't open object file " + pathText(path) + " (" + reasonOf(result.error) + ")";
    return result.error;
}

bool readAddedFile(const std::filesystem::path& path, AddedFile& out, std::string& error) {
    std::string why;
    if (std::error_code ec; std::filesystem::is_directory(path, ec)) {
        error = wrongFormMessage(fileFormOf(path), pathText(path));
        return false;
    }
    if (!readFile(path, out.bytes, why, kMaxObjectFileSize)) {
        error = loadFailureMessage({LoadResult::Outcome::CannotOpen, why, 0}, path);
        return false;
    }
    out.single = singleKindOf(path);
    // Its warnings come when it is merged.
    const LoadResult loaded = mergeAddedFile(out.content, out, path, MergePolicy::Glue, {});
    if (!loaded) {
        error = loaded.error;
        return false;
    }
    return true;
}

bool checkKindsFit(std::optional<ObjectKind> mainKind, const AddedFile& added, const std::filesystem::path& mainPath,
                   const std::filesystem::path& addedPath, std::string& error) {
    if (!mainKind)
        return true;
    std::string extra;
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectFile& file = added.content.kind(k).file;
        if (k == *mainKind || (file.standardTable.count() == 0 && file.customTable.count() == 0))
            continue;
        extra += (extra.empty() ? "" : ", ") + std::string(kindName(k));
    }
    if (extra.empty())
        return true;
    error = pathText(addedPath) + " holds " + extra + ", which " + pathText(mainPath) + " (" + kindName(*mainKind) +
            " only) cannot hold; nothing was written";
    return false;
}

LoadResult mergeAddedFile(ObjectBundle& bundle, const AddedFile& added, const std::filesystem::path& path,
                          MergePolicy policy, const WarningSink& warn, KindCounts* counts) {
    if (added.single)
        return bundle.loadObjectFileBytes(added.bytes, *added.single, pathText(path), policy, warn, counts);
    return bundle.loadBytes(added.bytes, pathText(path), policy, warn, counts);
}

} // namespace brindlemark
