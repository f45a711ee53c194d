#include "merge/mergecommand.h"

#include "core/fileio.h"

namespace brindlemark {

std::string loadFailureMessage(const LoadResult& result, const std::filesystem::path& path) {
    if (result.outcome == LoadResult::Outcome::CannotOpen)
        return "Sorry, can't open object file " + pathText(path);
    return result.error;
}

MergeReport mergeObjectFiles(ObjectBundle& bundle, const BundlePath& bundlePath, bool mainLoaded,
                             const MergeRequest& request, MessageSink& sink) {
    MergeReport report;
    if (!request.enabled)
        return report;
    report.ran = true;
    auto fail = [&](const std::string& text) {
        report.failed = true;
        sink.message(text);
        return report;
    };
    if (!bundlePath.fullPath.empty() && !mainLoaded)
        return fail("Main object file " + pathText(bundlePath.fullPath) + " was not loaded; nothing was written");
    if (request.takeBackup) {
        const std::filesystem::path backup = backupName(bundlePath);
        std::string why;
        if (bundlePath.fullPath.empty() || !copyFileReplacing(bundlePath.fullPath, backup, why))
            return fail("Failed to create backup file " + pathText(backup) + ", replace aborted");
    } else if (bundlePath.fullPath.empty()) {
        return fail("Main object file was not chosen; nothing was written");
    }
    if (const LoadResult main = bundle.load(bundlePath.fullPath); !main)
        return fail(loadFailureMessage(main, bundlePath.fullPath));
    bundle.mergePolicy = request.policy;
    if (const LoadResult added = bundle.load(request.addedFile); !added)
        return fail(loadFailureMessage(added, request.addedFile));
    std::string why;
    if (!bundle.save(bundlePath.fullPath, why))
        return fail("Failed to write object file " + pathText(bundlePath.fullPath));
    report.bundleWritten = true;
    sink.message("Процесс обьединения завершен!");
    return report;
}

} // namespace brindlemark
