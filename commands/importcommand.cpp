#include "commands/importcommand.h"

#include "core/fileio.h"
#include "commands/mapcommands.h"
#include "document/document.h"
#include "merge/importplan.h"
#include "merge/mergecommand.h"
#include "replace/sidefileset.h"
#include "replace/replaceplan.h"

namespace brindlemark {

namespace {

const char* policyName(MergePolicy policy) {
    switch (policy) {
    case MergePolicy::Overwrite:
        return "overwrite";
    case MergePolicy::Glue:
        return "glue";
    case MergePolicy::Keep:
        return "keep";
    }
    return "";
}

bool loadAdded(const std::filesystem::path& path, ObjectBundle& added, StringTable& strings, const WarningSink& warn,
               std::string& error) {
    if (isMapForm(formOf(path)))
        return loadMapBundle(path, added, strings, error, warn);
    const LoadResult loaded = added.load(path, MergePolicy::Glue, warn);
    if (!loaded)
        error = loadFailureMessage(loaded, path);
    return static_cast<bool>(loaded);
}

std::size_t objectCount(const ObjectBundle& bundle) {
    std::size_t n = 0;
    for (ObjectKind k : kAllObjectKinds)
        n += bundle.kind(k).file.standardTable.count() + bundle.kind(k).file.customTable.count();
    return n;
}

std::size_t standardObjectsMet(const ObjectBundle& main, const ObjectBundle& added) {
    std::size_t n = 0;
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectTable& ours = main.kind(k).file.standardTable;
        const ObjectTable& theirs = added.kind(k).file.standardTable;
        for (std::size_t i = 0; i < theirs.count(); ++i)
            n += ours.contains(theirs.at(i).effectiveId()) ? 1 : 0;
    }
    return n;
}

std::size_t countReferences(const ObjectBundle& bundle) {
    return missingStrings(bundle, StringTable()).size();
}

std::string listText(const std::vector<RenameEntry>& renames, const StringTable& strings) {
    std::string out;
    for (const RenameEntry& e : renames) {
        out += e.fromId.text() + "\t" + e.toId.text();
        if (e.displayName) {
            std::string name = strings.resolve(*e.displayName);
            for (char& c : name)
                if (c == '\r' || c == '\n')
                    c = ' ';
            out += "\t// " + name;
        }
        out += "\r\n";
    }
    return out;
}

// The added side fits into the main one: a text that a map's objects refer to and its table lacks would become
// another text (refused, by the added side's own identifiers), and a main file of one kind holds that kind only.
bool checkAddedFits(const ImportRequest& request, const Document& main, const ObjectBundle& added,
                    const StringTable& strings, std::string& error) {
    if (isMapForm(formOf(request.added)) && (main.isMap() || !request.keepStringRefs))
        if (const std::vector<MissingString> missing = missingStrings(added, strings); !missing.empty()) {
            error = missingStringsMessage(request.added, strings.size() != 0, missing) +
                    (main.isMap() ? "; in another map they would stand for its own texts, so nothing was written"
                                  : "; nothing was written (--keep-string-refs keeps every reference as it is)");
            return false;
        }
    const std::optional<ObjectKind> single = main.singleKind();
    if (!single)
        return true;
    for (ObjectKind k : kAllObjectKinds)
        if (k != *single && (added.kind(k).file.standardTable.count() || added.kind(k).file.customTable.count())) {
            error = pathText(request.added) + " holds " + kindName(k) + ", which " + pathText(request.main) + " (" +
                    kindName(*single) + " only) cannot hold; nothing was written";
            return false;
        }
    return true;
}

// The side files are none of the run's own files, and every file the run reads or writes can be.
bool checkRunFiles(const ImportRequest& request, const Document& main, std::string& error) {
    std::vector<std::pair<std::filesystem::path, std::string>> ownFiles = {{request.main, "the main file"},
                                                                           {request.added, "the added file"}};
    if (request.listOut)
        ownFiles.emplace_back(*request.listOut, "the list written with --list-out");
    for (const auto& [own, role] : ownFiles)
        if (!checkSideFilesApartFrom(request.sideFiles, own, role, error))
            return false;
    RunFiles own;
    own.written(request.main, main.isMap() ? "the map" : "the main file", request.takeBackups);
    own.read(request.added, "the added file");
    addSideFiles(own, request.sideFiles, request.takeBackups);
    if (request.listOut)
        own.written(*request.listOut, "the identifier list", false);
    return request.dryRun || own.check(error);
}

// A map's objects bring the texts their references stand for: into the main map's table, in place of the
// references, or kept as they are; objects without a table going into a map are warned about.
bool bringStrings(const ImportRequest& request, Document& main, ObjectBundle& added, const StringTable& strings,
                  ImportReport& report, MessageSink& sink, std::string& error) {
    if (!isMapForm(formOf(request.added))) {
        if (main.isMap())
            if (std::string note = referencesWithoutTableWarning(request.added, added, request.main); !note.empty())
                sink.warning(note);
        return true;
    }
    if (main.isMap())
        return carryStringsIntoMap(main.mapFiles(), {&added}, strings, request.added, false, main.replacedFiles(),
                                   main.addedFiles(), report.stringsCarried, error);
    if (request.keepStringRefs)
        report.stringsKept = countReferences(added);
    else
        report.stringsResolved = resolveStrings(added, strings);
    return true;
}

// The renamed objects join the main side as a merge would take them from a file.
bool mergeRenamed(const ImportRequest& request, Document& main, const ObjectBundle& added, std::string& error) {
    ObjectBundle& target = main.objects();
    const std::optional<ObjectKind> addedKind =
        isMapForm(formOf(request.added)) ? std::nullopt : singleKindOf(request.added);
    const LoadResult merged =
        addedKind ? target.loadObjectFileBytes(added.objectFileBytes(*addedKind), *addedKind, pathText(request.added),
                                               request.policy, main.warnings())
                  : target.loadBytes(added.toBytes(), pathText(request.added), request.policy, main.warnings());
    if (!merged)
        error = merged.error;
    return static_cast<bool>(merged);
}

} // namespace

std::string importSummary(const ImportReport& report, MergePolicy policy) {
    return "imported " + std::to_string(report.imported) + " objects: " + std::to_string(report.renames.size()) +
           " renamed, " + std::to_string(report.standardMet) + " standard objects met by the policy (" +
           policyName(policy) + ")";
}

ImportReport importObjects(const ImportRequest& request, MessageSink& sink) {
    ImportReport report;
    const auto fail = [&](const std::string& text) {
        report.failed = true;
        sink.message(text);
        return report;
    };
    std::string error;
    if (sameFile(request.main, request.added))
        return fail("The added file " + pathText(request.added) + " is the main file itself; nothing was written");
    FileLocks lock;
    std::vector<std::filesystem::path> locked = request.sideFiles;
    locked.push_back(request.main);
    if (request.listOut && request.listOut->native() != std::filesystem::path("-").native())
        locked.push_back(*request.listOut);
    if (!request.dryRun && !lock.acquire(locked, error))
        return fail(error);
    reportRecovered(lock, sink);
    const WarningSink warn = [&sink](const std::string& line) { sink.warning(line); };
    Document main;
    if (!main.open(request.main, MergePolicy::Glue, warn, error))
        return fail(error);
    ObjectBundle added;
    StringTable strings;
    if (!loadAdded(request.added, added, strings, warn, error) || !checkAddedFits(request, main, added, strings, error))
        return fail(error);

    // Which identifiers are taken, and the renames that free the added side of every collision.
    IdentifierSet mainIds;
    mainIds.addAll(main.objects());
    if (main.isMap())
        mainIds.addAll(main.skin());
    std::vector<ImportRename> renames;
    if (!planImportRenames(mainIds, added, renames, error))
        return fail(pathText(request.main) + ": " + error);
    if (!checkRunFiles(request, main, error))
        return fail(error);
    std::vector<std::pair<ObjectId, ObjectId>> pairs;
    for (const ImportRename& r : renames)
        pairs.emplace_back(r.from, r.to);
    SideFileSet sides;
    if (!readSideFiles(request.sideFiles, sides, error))
        return fail(error + "; nothing was written");

    IdentifierSet defined = mainIds;
    defined.addAll(added);
    report.unresolved = unresolvedReferences(added, defined);
    report.imported = objectCount(added);
    report.standardMet = standardObjectsMet(main.objects(), added);
    ObjectBundle* const bundles[] = {&added};
    // The added objects stand under Glue, as they were read.
    const ReplacePlan plan = planReplace(bundles, MergePolicy::Glue, pairs, sides.texts);
    for (const SideText& side : sides.texts)
        if (!side.failure.empty())
            return fail(side.failure + "; nothing was written");
    for (const PlannedRename& r : plan.renames)
        report.renames.push_back(r.entry);
    report.listText = listText(report.renames, strings);
    if (!bringStrings(request, main, added, strings, report, sink, error) || !mergeRenamed(request, main, added, error))
        return fail(error);
    if (request.dryRun)
        return report;

    FileTransaction files;
    std::size_t changed = 0;
    if (!main.stage(files, request.takeBackups, changed, sink)) {
        report.failed = true;
        return report;
    }
    if (!stageSideFiles(sides, !report.renames.empty(), request.takeBackups, files, changed, error))
        return fail(error);
    if (request.listOut &&
        !files.stage(*request.listOut,
                     {reinterpret_cast<const std::uint8_t*>(report.listText.data()), report.listText.size()}, error))
        return fail("Failed to write identifier list " + pathText(*request.listOut) + " (" + reasonOf(error) + ")");
    if (!files.commit(error))
        return fail("Failed to write " + pathText(request.main) + ": " + error);
    report.written = true;
    return report;
}

} // namespace brindlemark
