#include "commands/replacecommand.h"

#include "core/fileio.h"
#include "replace/replacelist.h"
#include "replace/sidefileset.h"

#include <span>

namespace brindlemark {

namespace {

// Whether loading the file afresh gives what `bundle` holds.
bool holdsWhatFileHolds(const ObjectBundle& bundle, const std::filesystem::path& path) {
    ObjectBundle fresh;
    fresh.mergePolicy = bundle.mergePolicy;
    fresh.warningSink = [](const std::string&) {};
    return fresh.load(path) && fresh.toBytes() == bundle.toBytes();
}

WarningSink loadWarnings(const WarningSink& given, MessageSink& sink) {
    if (given)
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

} // namespace

ReplaceReport replaceIdentifiers(Document& main, const ReplaceRequest& request, MessageSink& sink,
                                 ReplacePreview* preview) {
    ReplaceReport report;
    const auto fail = [&](const std::string& text) {
        report.failed = true;
        sink.message(text);
        return report;
    };
    const bool write = !preview && (request.keepBackups || request.writeWithoutBackups);
    const std::filesystem::path& path = request.main;
    FileLocks lock;
    std::string error;
    std::vector<std::filesystem::path> locked = request.sideFiles;
    locked.push_back(path);
    if (write && !path.empty() && !lock.acquire(locked, error))
        return fail(error);
    reportRecovered(lock, sink);
    // A map's objects held in memory are its object and skin files glued together: a run that writes reads the
    // map itself.
    if (!main.isOpen() || (write && main.isHeld() && main.isMap()))
        if (!main.open(path, request.policy, loadWarnings(request.loadWarnings, sink), error))
            return fail(error);
    if (write && !path.empty() && !main.loaded())
        return fail("Main object file " + pathText(path) + " was not loaded; nothing was written");
    const bool inMap = main.hasMapFiles();

    MapTexts inside;
    if (inMap && !readMapTexts(main.mapFiles(), request.patchScript, inside, error))
        return fail(error);
    ReplaceListContents list;
    if (!readReplaceList(request.replaceList, list, error))
        return fail(error);
    if (!inMap)
        report.listOpened = true;
    StringTable names;
    if (inMap)
        names = main.strings();

    // Everything that can stop the run is checked before anything is planned. A dry run on a bundle reads the
    // side files only.
    SideFileSet outside;
    if (write || inMap) {
        if (path.empty())
            return fail("Failed to create backup file " + pathText(backupName(splitPath(path))) + ", replace aborted");
        if (!checkSideFilesApart(request.sideFiles, path, request.replaceList, error))
            return fail(error);
        RunFiles own;
        own.written(path, inMap ? "the map" : "the main file", request.keepBackups);
        own.read(request.replaceList, "the replace list");
        addSideFiles(own, request.sideFiles, request.keepBackups);
        if (!own.check(error))
            return fail(error);
        if (main.isHeld() && request.loadedStamp && stampFile(path) != *request.loadedStamp)
            return fail(pathText(path) + " changed on disk since it was loaded; choose it again");
    }
    if ((write || inMap || preview) && !readSideFiles(request.sideFiles, outside, error))
        return fail(write && !inMap ? error + "; replace aborted" : error);
    report.listOpened = true;

    // The plan renames in memory and patches in memory: a map's trigger files, the side files, then a map's
    // script that is not patched, counted only.
    std::vector<SideText> sides;
    for (std::size_t i = 0; i < inside.names.size(); ++i)
        sides.push_back({inside.names[i], inside.bytes[i], 1});
    for (SideText& side : outside.texts)
        sides.push_back(std::move(side));
    if (!inside.scriptName.empty())
        sides.push_back({inside.scriptName + " (not patched)", inside.script, 1});
    ObjectBundle* const bundles[] = {&main.objects(), &main.skin()};
    ReplacePlan plan = planReplace(std::span(bundles, inMap ? 2 : 1), list.pairs, sides);
    if (inMap)
        resolveCollisionNames(plan.collisions, names);
    for (const PlannedRename& r : plan.renames)
        report.renames.push_back(r.entry);
    report.collisions = plan.collisions;
    if (!inside.scriptName.empty()) {
        report.unpatchedScript = inside.scriptName;
        for (const PlannedRename& r : plan.renames)
            report.scriptOccurrences += r.occurrences[sides.size() - 1];
    }
    if (!inMap)
        sink.progress(1, 2);
    if (preview) {
        preview->plan = std::move(plan);
        preview->sides = std::move(sides);
        if (inMap)
            preview->names = std::move(names);
        return report;
    }
    if (!write)
        return report;
    // Nothing renamed, and the objects are what the file holds (no earlier run renamed them in memory only):
    // every file and every backup stays as it is.
    if (report.renames.empty() && (inMap || holdsWhatFileHolds(main.objects(), path))) {
        if (!inMap)
            sink.progress(2, 2);
        report.completed = true;
        return report;
    }

    for (std::size_t i = 0; i < inside.names.size(); ++i)
        if (sides[i].bytes != inside.bytes[i])
            main.replacedFiles()[inside.names[i]] = std::move(sides[i].bytes);
    for (std::size_t i = 0; i < outside.texts.size(); ++i)
        outside.texts[i] = std::move(sides[inside.names.size() + i]);
    FileTransaction files;
    std::size_t changed = 0;
    if (!main.stage(files, request.keepBackups, changed, sink, "replace aborted")) {
        report.failed = true;
        return report;
    }
    if (!stageSideFiles(outside, !report.renames.empty(), request.keepBackups, files, changed, error))
        return fail(error);
    if (!files.commit(error))
        return fail("Failed to write " + std::string(inMap ? "map " : "object file ") + pathText(path) + ": " + error);
    report.bundleWritten = true;
    report.filesChanged = changed;
    if (!inMap)
        sink.progress(2, 2);
    report.completed = true;
    return report;
}

} // namespace brindlemark
