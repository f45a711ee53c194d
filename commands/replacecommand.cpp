#include "commands/replacecommand.h"

#include "core/fileio.h"
#include "replace/replacelist.h"
#include "replace/sidefileset.h"

#include <span>

namespace brindlemark {

namespace {

// Whether loading the file afresh under `policy` gives what `bundle` holds.
bool holdsWhatFileHolds(const ObjectBundle& bundle, MergePolicy policy, const std::filesystem::path& path) {
    ObjectBundle fresh;
    return fresh.load(path, policy) && fresh.toBytes() == bundle.toBytes();
}

// Where reading the main file at `path` warns: a map's warnings name the file inside and go to the sink.
WarningSink loadWarnings(const WarningSink& given, const std::filesystem::path& path, MessageSink& sink) {
    if (given && !isMapForm(formOf(path)))
        return given;
    return [&sink](const std::string& line) { sink.warning(line); };
}

// A map's trigger files that the renames are patched into, and the script they are not, which is only counted.
struct MapTexts {
    std::vector<std::string> names;
    std::vector<std::vector<std::uint8_t>> bytes;
    std::string scriptName; // empty when the script is patched or the map has none
    std::vector<std::uint8_t> script;
};

bool readMapTexts(const MapContents& files, bool patchScript, MapTexts& out, std::string& error) {
    out.names = mapTriggerFiles(files, patchScript);
    for (const std::string& name : out.names) {
        out.bytes.emplace_back();
        if (!files.read(name, out.bytes.back(), error))
            return false;
    }
    if (!patchScript)
        for (const char* name : {"war3map.j", "war3map.lua"})
            if (out.scriptName.empty() && files.contains(name)) {
                out.scriptName = name;
                if (!files.read(name, out.script, error))
                    return false;
            }
    return true;
}

// What a run reads before it plans.
struct Run {
    bool inMap = false; // a map opened from its files, whose trigger files are patched too
    MapTexts inside;
    ReplaceListContents list;
    StringTable names; // a map's string table, which names its objects in collisions
    SideFileSet outside;
};

// Opens the main file unless its objects are held (a map's view is replaced by the map itself in a run that
// writes), reads a map's trigger files, the replace list and the side files, and checks that the run's files
// are apart. Everything that can stop the run is checked here; a dry run on a bundle reads the side files only.
// False (said to `sink`) on failure.
bool prepare(Document& main, const ReplaceRequest& request, bool write, bool dryRun, Run& run, ReplaceReport& report,
             MessageSink& sink) {
    const auto fail = [&](const std::string& text) {
        sink.message(text);
        return false;
    };
    const std::filesystem::path& path = request.main;
    std::string error;
    if (!main.isOpen() || (write && main.isHeld() && main.isMap()))
        if (!main.open(path, request.policy, loadWarnings(request.loadWarnings, path, sink), error))
            return fail(error);
    if (write && !path.empty() && !main.loaded())
        return fail("Main object file " + pathText(path) + " was not loaded; nothing was written");
    run.inMap = main.hasMapFiles();
    if (run.inMap && !readMapTexts(main.mapFiles(), request.patchScript, run.inside, error))
        return fail(error);
    if (!readReplaceList(request.replaceList, run.list, error))
        return fail(error);
    if (!run.inMap)
        report.listOpened = true;
    if (run.inMap)
        run.names = main.strings();
    if (write || run.inMap) {
        if (path.empty())
            return fail("Failed to create backup file " + pathText(backupName(splitPath(path))) + ", replace aborted");
        if (!checkSideFilesApart(request.sideFiles, path, request.replaceList, error))
            return fail(error);
        RunFiles own;
        own.written(path, run.inMap ? "the map" : "the main file", request.keepBackups);
        own.read(request.replaceList, "the replace list");
        addSideFiles(own, request.sideFiles, request.keepBackups);
        if (!own.check(error))
            return fail(error);
        if (main.isHeld() && request.loadedStamp && stampFile(path) != *request.loadedStamp)
            return fail(pathText(path) + " changed on disk since it was loaded; choose it again");
    }
    if ((write || run.inMap || dryRun) && !readSideFiles(request.sideFiles, run.outside, error))
        return fail(write && !run.inMap ? error + "; replace aborted" : error);
    report.listOpened = true;
    return true;
}

// Stages the patched trigger files of a map (`sides` first), the objects and the side files, and commits them.
// False (said to `sink`) on failure; nothing is then written.
bool writeRun(Document& main, const ReplaceRequest& request, Run& run, std::vector<SideText>& sides,
              ReplaceReport& report, MessageSink& sink) {
    for (std::size_t i = 0; i < run.inside.names.size(); ++i)
        if (sides[i].bytes != run.inside.bytes[i])
            main.replacedFiles()[run.inside.names[i]] = std::move(sides[i].bytes);
    for (std::size_t i = 0; i < run.outside.texts.size(); ++i)
        run.outside.texts[i] = std::move(sides[run.inside.names.size() + i]);
    FileTransaction files;
    std::size_t changed = 0;
    std::string error;
    if (!main.stage(files, request.keepBackups, changed, sink, "replace aborted"))
        return false;
    if (!stageSideFiles(run.outside, !report.renames.empty(), request.keepBackups, files, changed, error)) {
        sink.message(error);
        return false;
    }
    if (!files.commit(error)) {
        sink.message("Failed to write " + std::string(run.inMap ? "map " : "object file ") + pathText(request.main) +
                     ": " + error);
        return false;
    }
    report.filesChanged = changed;
    return true;
}

} // namespace

ReplaceReport replaceIdentifiers(Document& main, const ReplaceRequest& request, MessageSink& sink,
                                 ReplacePreview* preview) {
    ReplaceReport report;
    const bool write = !preview && (request.keepBackups || request.writeWithoutBackups);
    FileLocks lock;
    std::string error;
    std::vector<std::filesystem::path> locked = request.sideFiles;
    locked.push_back(request.main);
    if (write && !request.main.empty() && !lock.acquire(locked, error)) {
        report.failed = true;
        sink.message(error);
        return report;
    }
    reportRecovered(lock, sink);
    Run run;
    if (!prepare(main, request, write, preview != nullptr, run, report, sink)) {
        report.failed = true;
        return report;
    }
    const bool inMap = run.inMap;

    // The plan renames in memory and patches in memory: a map's trigger files, the side files, then a map's
    // script that is not patched, counted only.
    std::vector<SideText> sides;
    for (std::size_t i = 0; i < run.inside.names.size(); ++i)
        sides.push_back({run.inside.names[i], run.inside.bytes[i], 1});
    for (SideText& side : run.outside.texts)
        sides.push_back(std::move(side));
    if (!run.inside.scriptName.empty())
        sides.push_back({run.inside.scriptName + " (not patched)", run.inside.script, 1});
    ObjectBundle* const bundles[] = {&main.objects(), &main.skin()};
    ReplacePlan plan = planReplace(std::span(bundles, inMap ? 2 : 1), main.policy(), run.list.pairs, sides);
    for (const SideText& side : sides)
        if (!side.failure.empty()) {
            report.failed = true;
            sink.message(write && !inMap ? side.failure + "; replace aborted" : side.failure);
            return report;
        }
    if (inMap)
        resolveCollisionNames(plan.collisions, run.names);
    for (const PlannedRename& r : plan.renames)
        report.renames.push_back(r.entry);
    report.collisions = plan.collisions;
    if (!run.inside.scriptName.empty()) {
        report.unpatchedScript = run.inside.scriptName;
        for (const PlannedRename& r : plan.renames)
            report.scriptOccurrences += r.occurrences[sides.size() - 1];
    }
    if (!inMap)
        sink.progress(1, 2);
    if (preview) {
        preview->plan = std::move(plan);
        preview->sides = std::move(sides);
        if (inMap)
            preview->names = std::move(run.names);
        return report;
    }
    if (!write)
        return report;
    // Nothing renamed, and the objects are what the file holds (no earlier run renamed them in memory only):
    // every file and every backup stays as it is.
    if (!report.renames.empty() || (!inMap && !holdsWhatFileHolds(main.objects(), main.policy(), request.main))) {
        if (!writeRun(main, request, run, sides, report, sink)) {
            report.failed = true;
            return report;
        }
        report.bundleWritten = true;
    }
    if (!inMap)
        sink.progress(2, 2);
    report.completed = true;
    return report;
}

} // namespace brindlemark
