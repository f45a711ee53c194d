#include "map/mapcommands.h"

#include "core/fileio.h"
#include "replace/renaming.h"
#include "replace/replacelist.h"
#include "replace/sidefile.h"


namespace brindlemark {

namespace {

const char* const kMergeDone = "Процесс обьединения завершен!";

bool openMap(const std::filesystem::path& path, MapArchive& map, MessageSink& sink) {
    std::string error;
    if (map.open(path, error))
        return true;
    sink.message(error);
    return false;
}

// The object files whose contents the bundle now gives differently (`changed`), and those of kinds the map did
// not have (`added`), by name.
void changedObjectFiles(const ObjectBundle& bundle, bool skin, const MapObjects& objects,
                        std::map<std::string, std::vector<std::uint8_t>>& changed,
                        std::map<std::string, std::vector<std::uint8_t>>& added) {
    for (ObjectKind k : kAllObjectKinds) {
        const std::string name = mapObjectFileName(k, skin);
        const auto was = objects.files.find(name);
        if (was == objects.files.end()) {
            if (bundle.kind(k).present != 0)
                added[name] = bundle.objectFileBytes(k);
            continue;
        }
        std::vector<std::uint8_t> now = bundle.objectFileBytes(k);
        if (was->second != now)
            changed[name] = std::move(now);
    }
}

struct Run {
    MapArchive archive;
    MapObjects objects;
    ReplaceListContents list;
    std::vector<std::string> triggerNames;
    std::vector<std::vector<std::uint8_t>> triggers;
    SideFileSet outside;
};

// Opens the map, reads its object files, its trigger files, the replace list and the side files outside.
// False (reported) on failure.
bool prepare(const MapReplaceRequest& request, Run& run, MessageSink& sink) {
    if (!openMap(request.map, run.archive, sink))
        return false;
    std::string error;
    const WarningSink warn = [&sink](const std::string& line) { sink.warning(line); };
    if (!loadMapObjects(run.archive, request.policy, run.objects, error, warn)) {
        sink.message(error);
        return false;
    }
    run.triggerNames = mapTriggerFiles(run.archive, request.patchScript);
    for (const std::string& name : run.triggerNames) {
        run.triggers.emplace_back();
        if (!run.archive.read(name, run.triggers.back(), error)) {
            sink.message(error);
            return false;
        }
    }
    if (!readReplaceList(request.replaceList, run.list, error)) {
        sink.message(error);
        return false;
    }
    for (const std::string& warning : run.list.warnings)
        sink.warning(warning);
    if (!checkSideFilesApart(request.sideFiles, request.map, request.replaceList, error) ||
        !readSideFiles(request.sideFiles, run.outside, error)) {
        sink.message(error);
        return false;
    }
    return true;
}

// Plans the run: the object files and skin files renamed in memory, the trigger files and the outside side
// files patched in memory (in that order in `sides`).
ReplacePlan plan(Run& run, std::vector<SideText>& sides) {
    for (std::size_t i = 0; i < run.triggers.size(); ++i)
        sides.push_back({run.triggerNames[i], run.triggers[i], 1});
    for (const SideText& side : run.outside.texts)
        sides.push_back(side);
    ObjectBundle* const bundles[] = {&run.objects.main, &run.objects.skin};
    return planReplace(bundles, run.list.pairs, sides);
}

// Stages the map (written anew with `replaced` and `added`), after its backup copy with `backup`.
bool stageMap(const MapArchive& archive, const std::map<std::string, std::vector<std::uint8_t>>& replaced,
              const std::map<std::string, std::vector<std::uint8_t>>& added, bool backup, FileTransaction& files,
              MessageSink& sink) {
    std::string error;
    if (backup) {
        const std::filesystem::path copy = backupName(splitPath(archive.path()));
        if (!files.stageBackupOfReplaced(archive.path(), copy, error)) {
            sink.message("Failed to create backup file " + pathText(copy) + ", nothing was written (" + reasonOf(error) + ")");
            return false;
        }
    }
    const auto write = [&](const std::filesystem::path& temp, std::string& why) {
        return writeMapArchive(archive, replaced, temp, why, added);
    };
    if (!files.stageWrittenBy(archive.path(), write, error)) {
        sink.message("Failed to write map " + pathText(archive.path()) + " (" + reasonOf(error) + ")");
        return false;
    }
    return true;
}

} // namespace

bool isMapArchive(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 0x20);
    return ext == ".w3x" || ext == ".w3m";
}

std::string mapObjectFileName(ObjectKind kind, bool skin) {
    return std::string(skin ? "war3mapSkin." : "war3map.") + kindExtension(kind);
}

bool loadMapObjects(const MapArchive& map, MergePolicy policy, MapObjects& out, std::string& error,
                    const WarningSink& warn) {
    out.main.mergePolicy = policy;
    out.skin.mergePolicy = policy;
    out.main.warningSink = warn;
    out.skin.warningSink = warn;
    for (bool skin : {false, true}) {
        ObjectBundle& bundle = skin ? out.skin : out.main;
        for (ObjectKind k : kAllObjectKinds) {
            const std::string name = mapObjectFileName(k, skin);
            if (!map.contains(name))
                continue;
            std::vector<std::uint8_t> bytes;
            if (!map.read(name, bytes, error))
                return false;
            const LoadResult loaded = bundle.loadObjectFileBytes(bytes, k, pathText(map.path()) + ":" + name);
            if (!loaded) {
                error = loaded.error;
                return false;
            }
            out.files[name] = std::move(bytes);
        }
    }
    return true;
}

bool loadMapBundle(const std::filesystem::path& path, ObjectBundle& bundle, StringTable& strings,
                   std::string& error) {
    MapArchive map;
    if (!map.open(path, error))
        return false;
    MapObjects objects;
    if (!loadMapObjects(map, MergePolicy::Glue, objects, error, bundle.warningSink))
        return false;
    // Glue the skin files on top: in the current editor's maps they hold the names.
    const std::vector<std::uint8_t> main = objects.main.toBytes();
    const std::vector<std::uint8_t> skin = objects.skin.toBytes();
    bundle.mergePolicy = MergePolicy::Glue;
    if (const LoadResult r = bundle.loadBytes(main, pathText(path)); !r) {
        error = r.error;
        return false;
    }
    if (const LoadResult r = bundle.loadBytes(skin, pathText(path)); !r) {
        error = r.error;
        return false;
    }
    if (map.contains("war3map.wts")) {
        std::vector<std::uint8_t> table;
        if (!map.read("war3map.wts", table, error))
            return false;
        strings = StringTable::parse(table);
    }
    return true;
}

std::vector<std::string> mapTriggerFiles(const MapArchive& map, bool patchScript) {
    std::vector<std::string> names;
    std::vector<const char*> wanted = {"war3map.wtg", "war3map.wct"};
    if (patchScript) {
        wanted.push_back("war3map.j");
        wanted.push_back("war3map.lua");
    }
    for (const char* name : wanted)
        if (map.contains(name))
            names.push_back(name);
    return names;
}

ReplaceReport replaceInMap(const MapReplaceRequest& request, MessageSink& sink) {
    ReplaceReport report;
    const bool write = request.keepBackups || request.writeWithoutBackups;
    FileLock lock;
    std::string error;
    if (write && !lock.acquire(request.map, error)) {
        report.failed = true;
        sink.message(error);
        return report;
    }
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
    if (!write)
        return report;
    if (report.renames.empty()) {
        sink.message(replaceDoneMessage(report));
        return report;
    }

    std::map<std::string, std::vector<std::uint8_t>> replaced;
    for (std::size_t i = 0; i < run.triggers.size(); ++i)
        if (sides[i].bytes != run.triggers[i])
            replaced[run.triggerNames[i]] = std::move(sides[i].bytes);
    std::map<std::string, std::vector<std::uint8_t>> added;
    changedObjectFiles(run.objects.main, false, run.objects, replaced, added);
    changedObjectFiles(run.objects.skin, true, run.objects, replaced, added);
    for (std::size_t i = 0; i < run.outside.texts.size(); ++i)
        run.outside.texts[i] = std::move(sides[run.triggers.size() + i]);

    FileTransaction files;
    std::size_t changed = 1;
    if (!stageMap(run.archive, replaced, added, request.keepBackups, files, sink) ||
        !stageSideFiles(run.outside, true, request.keepBackups, files, changed, error)) {
        if (!error.empty())
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
    sink.message(replaceDoneMessage(report));
    return report;
}

bool planReplaceInMap(const MapReplaceRequest& request, MapReplacePlan& out, MessageSink& sink) {
    Run run;
    if (!prepare(request, run, sink))
        return false;
    if (run.archive.contains("war3map.wts")) {
        std::vector<std::uint8_t> table;
        std::string error;
        if (run.archive.read("war3map.wts", table, error))
            out.strings = StringTable::parse(table);
    }
    out.plan = plan(run, out.sides);
    return true;
}

MergeReport mergeIntoMap(const std::filesystem::path& path, const std::filesystem::path& addedPath,
                         MergePolicy policy, bool takeBackup, MessageSink& sink) {
    MergeReport report;
    report.ran = true;
    auto fail = [&](const std::string& text) {
        report.failed = true;
        sink.message(text);
        return report;
    };
    FileLock lock;
    std::string error;
    if (!lock.acquire(path, error))
        return fail(error);
    if (sameFile(path, addedPath))
        return fail("The added file " + pathText(addedPath) + " is the map itself; nothing was written");
    AddedFile added;
    if (!readAddedFile(addedPath, added, error))
        return fail(error);
    MapArchive archive;
    if (!archive.open(path, error))
        return fail(error);
    MapObjects objects;
    const WarningSink warn = [&sink](const std::string& line) { sink.warning(line); };
    if (!loadMapObjects(archive, MergePolicy::Glue, objects, error, warn))
        return fail(error);
    objects.main.mergePolicy = policy;
    if (const LoadResult loaded = mergeAddedFile(objects.main, added, addedPath); !loaded)
        return fail(loadFailureMessage(loaded, addedPath));
    std::map<std::string, std::vector<std::uint8_t>> replaced;
    std::map<std::string, std::vector<std::uint8_t>> newFiles;
    changedObjectFiles(objects.main, false, objects, replaced, newFiles);
    FileTransaction files;
    if (!stageMap(archive, replaced, newFiles, takeBackup, files, sink)) {
        report.failed = true;
        return report;
    }
    if (!files.commit(error))
        return fail("Failed to write map " + pathText(path) + ": " + error);
    report.bundleWritten = true;
    sink.message(kMergeDone);
    return report;
}

} // namespace brindlemark
