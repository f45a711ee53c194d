#include "map/mapcommands.h"

#include "core/fileio.h"
#include "replace/renaming.h"
#include "replace/sidefile.h"


namespace brindlemark {

namespace {

const char* const kReplaceDone = "Процесс изменения завершен!";
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

// Copies the map to its backup name; false (reported) when that fails.
bool backUpMap(const std::filesystem::path& map, MessageSink& sink) {
    const std::filesystem::path backup = backupName(splitPath(map));
    std::string why;
    if (copyFileReplacing(map, backup, why))
        return true;
    sink.message("Failed to create backup file " + pathText(backup) + ", replace aborted");
    return false;
}

// Writes the map back with the files of `replaced` and `added`. False (reported) when that fails.
bool writeMap(const MapArchive& archive, const std::map<std::string, std::vector<std::uint8_t>>& replaced,
              const std::map<std::string, std::vector<std::uint8_t>>& added, MessageSink& sink) {
    std::string why;
    if (writeMapArchive(archive, replaced, archive.path(), why, added))
        return true;
    sink.message("Failed to write map " + pathText(archive.path()) + " (" + why + ")");
    return false;
}

struct Run {
    MapArchive archive;
    MapObjects objects;
    std::vector<std::pair<ObjectId, ObjectId>> pairs;
    std::vector<std::string> triggerNames;
    std::vector<std::vector<std::uint8_t>> triggers;
};

// Opens the map, reads its object files, trigger files and the replace list. False (reported) on failure.
bool prepare(const MapReplaceRequest& request, Run& run, MessageSink& sink) {
    if (!openMap(request.map, run.archive, sink))
        return false;
    std::string error;
    if (!loadMapObjects(run.archive, request.policy, run.objects, error)) {
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
    if (!readReplacePairs(request.replaceList, run.pairs)) {
        sink.message("Sorry, can't open Replace List file " + pathText(request.replaceList));
        return false;
    }
    return true;
}

// Applies each pair to the object files and to the skin files; the renames of a pair are those of the object
// files followed by any that only the skin files gave. A rename both gave takes its name from the skin files
// where the object files have none (the current editor keeps names there), and counts the values of both.
std::vector<RenameEntry> renameAll(Run& run, std::vector<ValueCounts>* counts) {
    RenameEngine main(run.objects.main);
    RenameEngine skin(run.objects.skin);
    std::vector<RenameEntry> renames;
    std::vector<ValueCounts> changed;
    for (const auto& [pattern, replacement] : run.pairs) {
        RenameList mainList(false);
        RenameList skinList(false);
        std::vector<ValueCounts> mainCounts;
        std::vector<ValueCounts> skinCounts;
        main.applyRename(pattern, replacement, mainList, &mainCounts);
        skin.applyRename(pattern, replacement, skinList, &skinCounts);
        const std::size_t first = renames.size();
        for (std::size_t i = 0; i < mainList.size(); ++i) {
            renames.push_back(mainList.entries()[i]);
            changed.push_back(mainCounts[i]);
        }
        for (std::size_t i = 0; i < skinList.size(); ++i) {
            const RenameEntry& e = skinList.entries()[i];
            std::size_t at = first;
            while (at < first + mainList.size() && !(renames[at].fromId == e.fromId && renames[at].toId == e.toId))
                ++at;
            if (at == first + mainList.size()) {
                renames.push_back(e);
                changed.push_back(skinCounts[i]);
                continue;
            }
            if (!renames[at].displayName)
                renames[at].displayName = e.displayName;
            changed[at].strings += skinCounts[i].strings;
            changed[at].integers += skinCounts[i].integers;
        }
    }
    if (counts)
        *counts = std::move(changed);
    return renames;
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

bool loadMapObjects(const MapArchive& map, MergePolicy policy, MapObjects& out, std::string& error) {
    out.main.mergePolicy = policy;
    out.skin.mergePolicy = policy;
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
    objects.main.warningSink = bundle.warningSink;
    objects.skin.warningSink = bundle.warningSink;
    if (!loadMapObjects(map, MergePolicy::Glue, objects, error))
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
    Run run;
    if (!prepare(request, run, sink)) {
        report.failed = true;
        return report;
    }
    report.listOpened = true;
    report.renames = renameAll(run, nullptr);
    if (!request.keepBackups)
        return report;
    if (report.renames.empty()) {
        sink.message(kReplaceDone);
        return report;
    }
    if (!backUpMap(request.map, sink)) {
        report.failed = true;
        return report;
    }
    patchSideFiles(request.sideFiles, report.renames, sink, report);

    std::vector<SidePass> passes;
    for (const RenameEntry& e : report.renames)
        passes.push_back({e.fromId, e.toId});
    std::map<std::string, std::vector<std::uint8_t>> replaced;
    for (std::size_t i = 0; i < run.triggers.size(); ++i) {
        std::vector<std::uint8_t> patched = run.triggers[i];
        applySidePasses(patched, passes);
        if (patched != run.triggers[i])
            replaced[run.triggerNames[i]] = std::move(patched);
    }
    std::map<std::string, std::vector<std::uint8_t>> added;
    changedObjectFiles(run.objects.main, false, run.objects, replaced, added);
    changedObjectFiles(run.objects.skin, true, run.objects, replaced, added);
    if (!writeMap(run.archive, replaced, added, sink)) {
        report.failed = true;
        return report;
    }
    report.bundleWritten = true;
    sink.message(kReplaceDone);
    return report;
}

bool planReplaceInMap(const MapReplaceRequest& request, std::vector<PlannedRename>& renames,
                      std::vector<SideText>& sides, StringTable& strings, MessageSink& sink) {
    Run run;
    if (!prepare(request, run, sink))
        return false;
    if (run.archive.contains("war3map.wts")) {
        std::vector<std::uint8_t> table;
        std::string error;
        if (run.archive.read("war3map.wts", table, error))
            strings = StringTable::parse(table);
    }
    std::vector<ValueCounts> counts;
    const std::vector<RenameEntry> entries = renameAll(run, &counts);
    for (std::size_t i = 0; i < run.triggers.size(); ++i)
        sides.push_back({run.triggerNames[i], std::move(run.triggers[i]), 1});
    bool ok = true;
    for (const std::filesystem::path& path : request.sideFiles) {
        SideText side{pathText(path), {}, 1};
        std::string why;
        if (!readFile(path, side.bytes, why)) {
            sink.message(why);
            ok = false;
        }
        sides.push_back(std::move(side));
    }
    renames.clear();
    for (std::size_t i = 0; i < entries.size(); ++i)
        renames.push_back({entries[i], counts[i], {}});
    patchSideTexts(renames, sides);
    return ok;
}

MergeReport mergeIntoMap(const std::filesystem::path& path, const std::filesystem::path& added, MergePolicy policy,
                         bool takeBackup, MessageSink& sink) {
    MergeReport report;
    report.ran = true;
    auto fail = [&](const std::string& text) {
        report.failed = true;
        sink.message(text);
        return report;
    };
    MapArchive archive;
    std::string error;
    if (!archive.open(path, error))
        return fail(error);
    MapObjects objects;
    if (!loadMapObjects(archive, MergePolicy::Glue, objects, error))
        return fail(error);
    objects.main.mergePolicy = policy;
    if (const LoadResult loaded = objects.main.load(added); !loaded)
        return fail(loadFailureMessage(loaded, added));
    if (takeBackup && !backUpMap(path, sink)) {
        report.failed = true;
        return report;
    }
    std::map<std::string, std::vector<std::uint8_t>> replaced;
    std::map<std::string, std::vector<std::uint8_t>> newFiles;
    changedObjectFiles(objects.main, false, objects, replaced, newFiles);
    if (!writeMap(archive, replaced, newFiles, sink)) {
        report.failed = true;
        return report;
    }
    report.bundleWritten = true;
    sink.message(kMergeDone);
    return report;
}

} // namespace brindlemark
