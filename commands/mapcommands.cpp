#include "commands/mapcommands.h"

#include "document/document.h"

#include "core/fileio.h"
#include "replace/renaming.h"
#include "replace/replacelist.h"
#include "replace/sidefile.h"
#include "replace/sidefileset.h"

#include <algorithm>

namespace brindlemark {

namespace {

struct Run {
    Document map;
    ReplaceListContents list;
    StringTable strings; // the map's texts, which name the objects in messages
    std::vector<std::string> triggerNames;
    std::vector<std::vector<std::uint8_t>> triggers;
    std::string scriptName; // the script that is not patched, when the map has one
    std::vector<std::uint8_t> script;
    SideFileSet outside;
};

// Opens the map, reads its object files, its trigger files, the replace list, its string table and the side
// files outside. False (reported) on failure.
bool prepare(const MapReplaceRequest& request, Run& run, MessageSink& sink) {
    std::string error;
    const WarningSink warn = [&sink](const std::string& line) { sink.warning(line); };
    if (!run.map.open(request.map, request.policy, warn, error)) {
        sink.message(error);
        return false;
    }
    const MapContents& files = run.map.mapFiles();
    run.triggerNames = mapTriggerFiles(files, request.patchScript);
    for (const std::string& name : run.triggerNames) {
        run.triggers.emplace_back();
        if (!files.read(name, run.triggers.back(), error)) {
            sink.message(error);
            return false;
        }
    }
    if (!request.patchScript)
        for (const char* name : {"war3map.j", "war3map.lua"})
            if (run.scriptName.empty() && files.contains(name)) {
                run.scriptName = name;
                if (!files.read(name, run.script, error)) {
                    sink.message(error);
                    return false;
                }
            }
    if (!readReplaceList(request.replaceList, run.list, error)) {
        sink.message(error);
        return false;
    }
    run.strings = run.map.strings();
    RunFiles own;
    own.written(request.map, "the map", request.keepBackups);
    own.read(request.replaceList, "the replace list");
    addSideFiles(own, request.sideFiles, request.keepBackups);
    if (!checkSideFilesApart(request.sideFiles, request.map, request.replaceList, error) || !own.check(error) ||
        !readSideFiles(request.sideFiles, run.outside, error)) {
        sink.message(error);
        return false;
    }
    return true;
}

// Plans the run: the object files and skin files renamed in memory, the trigger files and the outside side
// files patched in memory, in that order in `sides`; then a script that is not patched, counted only.
ReplacePlan plan(Run& run, std::vector<SideText>& sides) {
    for (std::size_t i = 0; i < run.triggers.size(); ++i)
        sides.push_back({run.triggerNames[i], run.triggers[i], 1});
    for (const SideText& side : run.outside.texts)
        sides.push_back(side);
    if (!run.scriptName.empty())
        sides.push_back({run.scriptName + " (not patched)", run.script, 1});
    ObjectBundle* const bundles[] = {&run.map.objects(), &run.map.skin()};
    ReplacePlan planned = planReplace(bundles, run.list.pairs, sides);
    resolveCollisionNames(planned.collisions, run.strings);
    return planned;
}

std::size_t occurrencesIn(const ReplacePlan& plan, std::size_t side) {
    std::size_t n = 0;
    for (const PlannedRename& r : plan.renames)
        n += r.occurrences[side];
    return n;
}

} // namespace

ReplaceReport replaceInMap(const MapReplaceRequest& request, MessageSink& sink, Document* result) {
    ReplaceReport report;
    const bool write = request.keepBackups || request.writeWithoutBackups;
    FileLocks lock;
    std::string error;
    std::vector<std::filesystem::path> locked = request.sideFiles;
    locked.push_back(request.map);
    if (write && !lock.acquire(locked, error)) {
        report.failed = true;
        sink.message(error);
        return report;
    }
    reportRecovered(lock, sink);
    Run run;
    if (!prepare(request, run, sink)) {
        report.failed = true;
        return report;
    }
    report.listOpened = true;
    std::vector<SideText> sides;
    const ReplacePlan planned = plan(run, sides);
    for (const PlannedRename& r : planned.renames)
        report.renames.push_back(r.entry);
    report.collisions = planned.collisions;
    if (!run.scriptName.empty()) {
        report.unpatchedScript = run.scriptName;
        report.scriptOccurrences = occurrencesIn(planned, sides.size() - 1);
    }
    if (!write)
        return report;
    if (report.renames.empty()) {
        report.completed = true;
        return report;
    }

    for (std::size_t i = 0; i < run.triggers.size(); ++i)
        if (sides[i].bytes != run.triggers[i])
            run.map.replacedFiles()[run.triggerNames[i]] = std::move(sides[i].bytes);
    for (std::size_t i = 0; i < run.outside.texts.size(); ++i)
        run.outside.texts[i] = std::move(sides[run.triggers.size() + i]);

    FileTransaction files;
    std::size_t changed = 0;
    if (!run.map.stage(files, request.keepBackups, changed, sink)) {
        report.failed = true;
        return report;
    }
    if (!stageSideFiles(run.outside, true, request.keepBackups, files, changed, error)) {
        sink.message(error);
        report.failed = true;
        return report;
    }
    if (!files.commit(error)) {
        report.failed = true;
        sink.message("Failed to write map " + pathText(request.map) + ": " + error);
        return report;
    }
    report.bundleWritten = true;
    report.filesChanged = changed;
    report.completed = true;
    if (result)
        *result = std::move(run.map);
    return report;
}

bool planReplaceInMap(const MapReplaceRequest& request, MapReplacePlan& out, MessageSink& sink) {
    Run run;
    if (!prepare(request, run, sink))
        return false;
    out.plan = plan(run, out.sides);
    out.strings = run.strings;
    out.scriptObserved = !run.scriptName.empty();
    return true;
}

MergeReport mergeIntoMap(const std::filesystem::path& path, const std::filesystem::path& addedPath,
                         MergePolicy policy, bool takeBackup, MessageSink& sink, Document* result) {
    MergeReport report;
    report.ran = true;
    auto fail = [&](const std::string& text) {
        report.failed = true;
        sink.message(text);
        return report;
    };
    FileLocks lock;
    std::string error;
    if (!lock.acquire({path}, error))
        return fail(error);
    reportRecovered(lock, sink);
    if (sameFile(path, addedPath))
        return fail("The added file " + pathText(addedPath) + " is the map itself; nothing was written");
    RunFiles own;
    own.written(path, "the map", takeBackup);
    own.read(addedPath, "the added file");
    if (!own.check(error))
        return fail(error);
    AddedFile added;
    StringTable addedStrings;
    const bool addedIsMap = isMapForm(formOf(addedPath));
    if (addedIsMap ? !loadMapBundle(addedPath, added.content, addedStrings, error)
                   : !readAddedFile(addedPath, added, error))
        return fail(error);
    Document map;
    const WarningSink warn = [&sink](const std::string& line) { sink.warning(line); };
    if (!map.open(path, MergePolicy::Glue, warn, error))
        return fail(error);
    if (addedIsMap) {
        // Another map's objects bring the texts they refer to into this map's string table.
        std::size_t carried = 0;
        if (!carryStringsIntoMap(map.mapFiles(), {&added.content}, addedStrings, addedPath, false,
                                 map.replacedFiles(), map.addedFiles(), carried, error))
            return fail(error);
        added.bytes = added.content.toBytes();
    } else if (std::string note = referencesWithoutTableWarning(addedPath, added.content, path); !note.empty()) {
        sink.warning(note);
    }
    map.objects().mergePolicy = policy;
    if (const LoadResult loaded = mergeAddedFile(map.objects(), added, addedPath, &report.merged); !loaded)
        return fail(loadFailureMessage(loaded, addedPath));
    FileTransaction files;
    std::size_t changed = 0;
    if (!map.stage(files, takeBackup, changed, sink)) {
        report.failed = true;
        return report;
    }
    if (!files.commit(error))
        return fail("Failed to write map " + pathText(path) + ": " + error);
    report.bundleWritten = !files.empty();
    report.completed = true;
    if (result && report.bundleWritten)
        *result = std::move(map);
    return report;
}

bool putObjectFilesIntoMap(const std::filesystem::path& path, const ObjectBundle& givenMain,
                           const ObjectBundle& givenSkin, std::optional<MergePolicy> policy, bool takeBackup,
                           const std::function<bool(const MapObjectsBuild&)>& approve, std::size_t& written,
                           MessageSink& sink, const StringTable* texts) {
    written = 0;
    FileLocks lock;
    Document map;
    std::string error;
    const WarningSink warn = [&sink](const std::string& line) { sink.warning(line); };
    if (!lock.acquire({path}, error)) {
        sink.message(error);
        return false;
    }
    reportRecovered(lock, sink);
    if (!map.open(path, MergePolicy::Glue, warn, error)) {
        sink.message(error);
        return false;
    }
    // The texts the references stood for where the objects came from come along, under new numbers where the
    // map holds them under another number or not at all.
    ObjectBundle carriedMain;
    ObjectBundle carriedSkin;
    std::size_t carried = 0;
    if (texts && texts->size() != 0) {
        carriedMain = givenMain;
        carriedSkin = givenSkin;
        if (!carryStringsIntoMap(map.mapFiles(), {&carriedMain, &carriedSkin}, *texts, path, true,
                                 map.replacedFiles(), map.addedFiles(), carried, error)) {
            sink.message(error);
            return false;
        }
    }
    const ObjectBundle& main = carried != 0 ? carriedMain : givenMain;
    const ObjectBundle& skin = carried != 0 ? carriedSkin : givenSkin;
    MapObjectsBuild build;
    build.before.main = map.objects();
    build.before.skin = map.skin();
    for (bool isSkin : {false, true}) {
        const ObjectBundle& from = isSkin ? skin : main;
        ObjectBundle& into = isSkin ? map.skin() : map.objects();
        for (ObjectKind k : kAllObjectKinds) {
            if (from.kind(k).present == 0)
                continue;
            if (!policy || into.kind(k).present == 0) {
                into.kind(k) = from.kind(k);
                continue;
            }
            into.mergePolicy = *policy;
            const std::string name = pathText(path) + ":" + mapObjectFileName(k, isSkin);
            if (const LoadResult r = into.loadObjectFileBytes(from.objectFileBytes(k), k, name); !r) {
                sink.message(r.error);
                return false;
            }
        }
    }
    build.main = map.objects();
    build.skin = map.skin();
    if (!approve(build))
        return true;
    std::map<std::string, std::vector<std::uint8_t>> replaced;
    std::map<std::string, std::vector<std::uint8_t>> added;
    map.mapChanges(replaced, added);
    if (replaced.empty() && added.empty())
        return true;
    FileTransaction files;
    std::size_t changed = 0;
    if (!map.stage(files, takeBackup, changed, sink))
        return false;
    if (!files.commit(error)) {
        sink.message("Failed to write map " + pathText(path) + ": " + error);
        return false;
    }
    written = replaced.size() + added.size() - (carried != 0 ? 1 : 0); // the string table is no object file
    return true;
}

} // namespace brindlemark
