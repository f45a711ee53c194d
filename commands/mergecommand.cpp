#include "commands/mergecommand.h"

#include "core/fileio.h"
#include "replace/stringtable.h"

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

// Whether the merge added no object and its result is what the file at `path` already holds.
bool changesNothing(const MergeReport& report, const ObjectBundle& merged, const std::filesystem::path& path) {
    // An object added changes the file, so only a merge that added none is compared with it.
    for (const FilingCounts& counts : report.merged)
        if (counts.added != 0)
            return false;
    std::vector<std::uint8_t> onDisk;
    std::string error;
    return readFile(path, onDisk, error, kMaxObjectFileSize) && holdsBytes(merged, singleKindOf(path), onDisk);
}

} // namespace

MergeReport mergeObjectFiles(Document& main, const MergeRequest& request, MessageSink& sink) {
    MergeReport report;
    if (!request.enabled)
        return report;
    report.ran = true;
    auto fail = [&](const std::string& text) {
        report.failed = true;
        sink.message(text);
        return report;
    };
    const std::filesystem::path& path = request.main;
    const std::filesystem::path& addedPath = request.addedFile;
    FileLocks lock;
    std::string error;
    if (!path.empty() && !lock.acquire({path}, error))
        return fail(error);
    reportRecovered(lock, sink);
    const bool intoMap = isMapForm(formOf(path));
    const bool addedIsMap = isMapForm(formOf(addedPath));
    const WarningSink warn = request.loadWarnings && !intoMap
                                 ? request.loadWarnings
                                 : WarningSink([&sink](const std::string& line) { sink.warning(line); });

    AddedFile added;
    bool addedRead = false;
    if (!intoMap) {
        if (!main.isOpen() && !main.open(path, MergePolicy::Glue, warn, error))
            sink.message(error);
        // An added map's objects come with their texts in place of the references into its string table.
        if (addedIsMap && main.loaded()) {
            if (!readAddedMap(addedPath, request.keepStringRefs, added, error))
                return fail(error);
            addedRead = true;
        }
        if (!path.empty() && !main.loaded())
            return fail("Main object file " + pathText(path) + " was not loaded; nothing was written");
        if (path.empty())
            return fail("Main object file was not chosen; nothing was written");
    }
    if (sameFile(path, addedPath))
        return fail("The added file " + pathText(addedPath) + " is the " + (intoMap ? "map" : "main file") +
                    " itself; nothing was written");

    // Everything that can stop the merge is checked before any file changes.
    RunFiles own;
    own.written(path, intoMap ? "the map" : "the main file", request.takeBackup);
    own.read(addedPath, "the added file");
    if (!own.check(error))
        return fail(error);
    StringTable addedStrings;
    if (!addedRead && (intoMap && addedIsMap ? !loadMapBundle(addedPath, added.content, addedStrings, error, {})
                                             : !readAddedFile(addedPath, added, error)))
        return fail(error);
    if (!checkKindsFit(singleKindOf(path), added, path, addedPath, error))
        return fail(error);

    // The merge is made on the file as it is on disk, so that `main` changes only with the file. A bundle is
    // read again as it was read before; a map's objects held in memory are only a view of it.
    Document merged;
    const MergePolicy policy = intoMap ? MergePolicy::Glue : main.policy();
    if (!merged.open(path, policy, intoMap ? warn : main.warnings(), error))
        return fail(error);
    if (intoMap && addedIsMap) {
        // Another map's objects bring the texts they refer to into this map's string table.
        std::size_t carried = 0;
        if (!carryStringsIntoMap(merged.mapFiles(), {&added.content}, addedStrings, addedPath, false,
                                 merged.replacedFiles(), merged.addedFiles(), carried, error))
            return fail(error);
        added.bytes = added.content.toBytes();
    } else if (intoMap) {
        if (std::string note = referencesWithoutTableWarning(addedPath, added.content, path); !note.empty())
            sink.warning(note);
    }
    merged.setPolicy(request.policy);
    if (const LoadResult loaded =
            mergeAddedFile(merged.objects(), added, addedPath, request.policy, merged.warnings(), &report.merged);
        !loaded)
        return fail(loadFailureMessage(loaded, addedPath));
    if (!intoMap && addedIsMap && request.keepStringRefs)
        report.referencesKept = missingStrings(added.content, StringTable()).size();
    // A merge whose result the file already holds writes nothing: the file and its backup stay as they are.
    if (!intoMap && changesNothing(report, merged.objects(), path)) {
        main = std::move(merged);
        report.completed = true;
        return report;
    }

    FileTransaction files;
    std::size_t changed = 0;
    if (!merged.stage(files, request.takeBackup, changed, sink)) {
        report.failed = true;
        return report;
    }
    if (!files.commit(error))
        return fail("Failed to write " + std::string(intoMap ? "map " : "object file ") + pathText(path) + ": " +
                    error);
    report.bundleWritten = !files.empty();
    report.completed = true;
    main = std::move(merged);
    return report;
}

} // namespace brindlemark
