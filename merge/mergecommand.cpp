#include "merge/mergecommand.h"

#include "core/fileform.h"
#include "core/fileio.h"

#include <algorithm>
#include <span>

namespace brindlemark {

namespace {

// Whether `bundle`, written as the file `single` names (the bundle, or one kind's object file), gives `bytes`:
// compared piece by piece as it is made, so that the result is never held whole in memory.
bool holdsBytes(const ObjectBundle& bundle, std::optional<ObjectKind> single, std::span<const std::uint8_t> bytes) {
    bool same = true;
    std::size_t at = 0;
    bundle.writeTo(single, [&](const std::uint8_t* data, std::size_t n) {
        same = same && n <= bytes.size() - at &&
               std::equal(data, data + n, bytes.begin() + static_cast<std::ptrdiff_t>(at));
        at += n;
    });
    return same && at == bytes.size();
}

} // namespace

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
    out.content.warningSink = [](const std::string&) {}; // its warnings come when it is merged
    const LoadResult loaded = mergeAddedFile(out.content, out, path);
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
                          KindCounts* counts) {
    if (added.single)
        return bundle.loadObjectFileBytes(added.bytes, *added.single, pathText(path), counts);
    return bundle.loadBytes(added.bytes, pathText(path), counts);
}

MergeReport mergeObjectFiles(ObjectBundle& bundle, const BundlePath& bundlePath, bool mainLoaded,
                             const MergeRequest& request, MessageSink& sink, const AddedFile* prepared) {
    MergeReport report;
    if (!request.enabled)
        return report;
    report.ran = true;
    auto fail = [&](const std::string& text) {
        report.failed = true;
        sink.message(text);
        return report;
    };
    const std::filesystem::path& main = bundlePath.fullPath;
    if (!main.empty() && !mainLoaded)
        return fail("Main object file " + pathText(main) + " was not loaded; nothing was written");
    if (main.empty())
        return fail("Main object file was not chosen; nothing was written");
    if (sameFile(main, request.addedFile))
        return fail("The added file " + pathText(request.addedFile) + " is the main file itself; nothing was written");

    // Everything that can stop the merge is checked before any file changes.
    std::string error;
    RunFiles own;
    own.written(main, "the main file", request.takeBackup);
    own.read(request.addedFile, "the added file");
    if (!own.check(error))
        return fail(error);
    AddedFile read;
    if (!prepared && !readAddedFile(request.addedFile, read, error))
        return fail(error);
    const AddedFile& added = prepared ? *prepared : read;
    if (!checkKindsFit(singleKindOf(main), added, main, request.addedFile, error))
        return fail(error);

    // The merge is made on a copy, so that the bundle changes only with the file.
    ObjectBundle merged;
    merged.warningSink = bundle.warningSink;
    merged.mergePolicy = bundle.mergePolicy;
    if (const LoadResult loaded = merged.load(main); !loaded)
        return fail(loadFailureMessage(loaded, main));
    merged.mergePolicy = request.policy;
    if (const LoadResult loaded = mergeAddedFile(merged, added, request.addedFile, &report.merged); !loaded)
        return fail(loadFailureMessage(loaded, request.addedFile));
    // A merge whose result the file already holds writes nothing: the file and its backup stay as they are. An
    // object added changes the file, so only a merge that added none is compared with it.
    bool addedAny = false;
    for (const FilingCounts& counts : report.merged)
        addedAny = addedAny || counts.added != 0;
    std::vector<std::uint8_t> onDisk;
    if (!addedAny && readFile(main, onDisk, error, kMaxObjectFileSize) &&
        holdsBytes(merged, singleKindOf(main), onDisk)) {
        bundle = std::move(merged);
        report.completed = true;
        return report;
    }

    FileTransaction files;
    if (request.takeBackup) {
        const std::filesystem::path backup = backupName(bundlePath);
        if (!files.stageBackupOfReplaced(main, backup, error))
            return fail("Failed to create backup file " + pathText(backup) + ", nothing was written (" + reasonOf(error) + ")");
    }
    if (!merged.stage(files, main, error))
        return fail("Failed to write object file " + pathText(main) + " (" + reasonOf(error) + ")");
    if (!files.commit(error))
        return fail("Failed to write object file " + pathText(main) + ": " + error);
    bundle = std::move(merged);
    report.bundleWritten = true;
    report.completed = true;
    return report;
}

} // namespace brindlemark
