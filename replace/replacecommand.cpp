#include "replace/replacecommand.h"

#include "core/fileio.h"
#include "replace/replacelist.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

namespace brindlemark {

namespace {

// Whether loading the file afresh gives what `bundle` holds.
bool holdsWhatFileHolds(const ObjectBundle& bundle, const std::filesystem::path& path) {
    ObjectBundle fresh;
    fresh.mergePolicy = bundle.mergePolicy;
    fresh.warningSink = [](const std::string&) {};
    return fresh.load(path) && fresh.toBytes() == bundle.toBytes();
}

} // namespace

ReplaceReport replaceIdentifiers(ObjectBundle& bundle, const BundlePath& bundlePath, bool mainLoaded,
                                 const ReplaceRequest& request, MessageSink& sink) {
    ReplaceReport report;
    const auto fail = [&](const std::string& text) {
        report.failed = true;
        sink.message(text);
        return report;
    };
    const bool write = request.keepBackups || request.writeWithoutBackups;
    const std::filesystem::path& main = bundlePath.fullPath;
    if (write && !main.empty() && !mainLoaded)
        return fail("Main object file " + pathText(main) + " was not loaded; nothing was written");

    ReplaceListContents list;
    std::string error;
    if (!readReplaceList(request.replaceList, list, error))
        return fail(error);
    report.listOpened = true;

    SideFileSet sides;
    if (write) {
        if (main.empty())
            return fail("Failed to create backup file " + pathText(backupName(bundlePath)) + ", replace aborted");
        if (!checkSideFilesApart(request.sideFiles, main, request.replaceList, error))
            return fail(error);
        RunFiles own;
        own.written(main, "the main file", request.keepBackups);
        own.read(request.replaceList, "the replace list");
        addSideFiles(own, request.sideFiles, request.keepBackups);
        if (!own.check(error))
            return fail(error);
        if (request.loadedStamp && stampFile(main) != *request.loadedStamp)
            return fail(pathText(main) + " changed on disk since it was loaded; choose it again");
        if (!readSideFiles(request.sideFiles, sides, error))
            return fail(error + "; replace aborted");
    }

    ObjectBundle* const bundles[] = {&bundle};
    const ReplacePlan plan = planReplace(bundles, list.pairs, sides.texts);
    for (const PlannedRename& r : plan.renames)
        report.renames.push_back(r.entry);
    report.collisions = plan.collisions;
    sink.progress(1, 2);
    if (!write)
        return report;
    // Nothing renamed and nothing patched, and the bundle holds what its file holds (no earlier run renamed in
    // memory only): every file and every backup stays as it is.
    if (plan.renames.empty() && holdsWhatFileHolds(bundle, main)) {
        sink.progress(2, 2);
        report.completed = true;
        return report;
    }

    FileTransaction files;
    const bool backups = request.keepBackups;
    if (backups) {
        const std::filesystem::path backup = backupName(bundlePath);
        if (!files.stageBackupOfReplaced(main, backup, error))
            return fail("Failed to create backup file " + pathText(backup) + ", replace aborted (" + reasonOf(error) + ")");
    }
    if (!bundle.stage(files, main, error))
        return fail("Failed to write object file " + pathText(main) + " (" + reasonOf(error) + ")");
    std::size_t changed = 1;
    if (!stageSideFiles(sides, !plan.renames.empty(), backups, files, changed, error))
        return fail(error);
    if (!files.commit(error))
        return fail("Failed to write object file " + pathText(main) + ": " + error);
    report.bundleWritten = true;
    report.filesChanged = changed;
    sink.progress(2, 2);
    report.completed = true;
    return report;
}

} // namespace brindlemark
