#include "map/mapcommands.h"

#include "core/fileio.h"
#include "replace/renaming.h"
#include "replace/replacelist.h"
#include "replace/sidefile.h"

#include <algorithm>

namespace brindlemark {

namespace {

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 0x20);
    return out;
}

struct Run {
    MapContents map;
    MapObjects objects;
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
    if (!run.map.open(request.map, error)) {
        sink.message(error);
        return false;
    }
    const WarningSink warn = [&sink](const std::string& line) { sink.warning(line); };
    if (!loadMapObjects(run.map, request.policy, run.objects, error, warn)) {
        sink.message(error);
        return false;
    }
    run.triggerNames = mapTriggerFiles(run.map, request.patchScript);
    for (const std::string& name : run.triggerNames) {
        run.triggers.emplace_back();
        if (!run.map.read(name, run.triggers.back(), error)) {
            sink.message(error);
            return false;
        }
    }
    if (!request.patchScript)
        for (const char* name : {"war3map.j", "war3map.lua"})
            if (run.scriptName.empty() && run.map.contains(name)) {
                run.scriptName = name;
                if (!run.map.read(name, run.script, error)) {
                    sink.message(error);
                    return false;
                }
            }
    if (!readReplaceList(request.replaceList, run.list, error)) {
        sink.message(error);
        return false;
    }
    if (run.map.contains("war3map.wts")) {
        std::vector<std::uint8_t> table;
        if (run.map.read("war3map.wts", table, error))
            run.strings = StringTable::parse(table);
        else
            sink.warning(error + "; names are shown as the object files give them");
    }
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
    ObjectBundle* const bundles[] = {&run.objects.main, &run.objects.skin};
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

bool MapContents::open(const std::filesystem::path& path, std::string& error) {
    std::error_code ec;
    folder_ = std::filesystem::is_directory(path, ec);
    path_ = path;
    files_.clear();
    if (!folder_)
        return archive_.open(path, error);
    if (!isMapFolder(path)) {
        error = pathText(path) + ": a folder that is not a map (no war3map.w3i in it, and its name does not end in "
                                 ".w3x or .w3m)";
        return false;
    }
    // A map's files are found by name whatever their letter case, as in an archive: two names that differ only in
    // case would leave one of them unread, and a map file that is a folder unwritten.
    for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string key = lowerAscii(pathText(it->path().filename()));
        std::error_code kindError;
        if (it->is_directory(kindError) && key.starts_with("war3map")) {
            error = pathText(it->path()) + ": a folder where the map keeps a file; nothing was read";
            return false;
        }
        if (!it->is_regular_file(kindError))
            continue;
        if (const auto [at, fresh] = files_.emplace(key, it->path()); !fresh) {
            error = pathText(path) + ": holds both " + pathText(at->second.filename()) + " and " +
                    pathText(it->path().filename()) + ", whose names differ only in letter case; keep one";
            return false;
        }
    }
    if (ec) {
        error = pathText(path) + ": cannot read the folder (" + ec.message() + ")";
        return false;
    }
    return true;
}

bool MapContents::contains(std::string_view name) const {
    return folder_ ? files_.contains(lowerAscii(name)) : archive_.contains(name);
}

bool MapContents::read(std::string_view name, std::vector<std::uint8_t>& out, std::string& error) const {
    if (!folder_)
        return archive_.read(name, out, error);
    const auto it = files_.find(lowerAscii(name));
    if (it == files_.end()) {
        error = pathText(path_) + ": the map has no " + std::string(name);
        return false;
    }
    return readFile(it->second, out, error);
}

std::filesystem::path MapContents::fileInFolder(std::string_view name) const {
    const auto it = files_.find(lowerAscii(name));
    return it != files_.end() ? it->second : path_ / std::filesystem::path(std::string(name));
}

std::string mapObjectFileName(ObjectKind kind, bool skin) {
    return std::string(skin ? "war3mapSkin." : "war3map.") + kindExtension(kind);
}

void changedObjectFiles(const ObjectBundle& bundle, bool skin, const MapObjects& objects,
                        std::map<std::string, std::vector<std::uint8_t>>& changed,
                        std::map<std::string, std::vector<std::uint8_t>>& added) {
    for (ObjectKind k : kAllObjectKinds) {
        const std::string name = mapObjectFileName(k, skin);
        const auto was = objects.normal.find(name);
        if (was == objects.normal.end()) {
            if (bundle.kind(k).present != 0)
                added[name] = bundle.objectFileBytes(k);
            continue;
        }
        // Compared in written form, so that a file nothing changed keeps the bytes it had.
        std::vector<std::uint8_t> now = bundle.objectFileBytes(k);
        if (was->second != now)
            changed[name] = std::move(now);
    }
}

bool stageMapFiles(const MapContents& map, const std::map<std::string, std::vector<std::uint8_t>>& replaced,
                   const std::map<std::string, std::vector<std::uint8_t>>& added, bool backup, FileTransaction& files,
                   std::size_t& changed, MessageSink& sink) {
    std::string error;
    if (replaced.empty() && added.empty())
        return true; // nothing changes: nothing is written, and the backup stays as it is
    const std::filesystem::path backupPath =
        backupName(splitPath(map.isFolder() ? folderItself(map.path()) : map.path()));
    if (!map.isFolder()) {
        if (backup && !files.stageBackupOfReplaced(map.path(), backupPath, error)) {
            sink.message("Failed to create backup file " + pathText(backupPath) + ", nothing was written (" +
                         reasonOf(error) + ")");
            return false;
        }
        const auto write = [&](const std::filesystem::path& temp, std::string& why) {
            return writeMapArchive(map.archive(), replaced, temp, why, added);
        };
        if (!files.stageWrittenBy(map.path(), write, error)) {
            sink.message("Failed to write map " + pathText(map.path()) + " (" + reasonOf(error) + ")");
            return false;
        }
        ++changed;
        return true;
    }
    // A folder map: each changed file on its own. Its backup is one snapshot: the folder BACKUP_<map> beside it
    // is replaced whole by the old contents of the files this run replaces. What runs that were killed left
    // inside the folder, whichever of its files they were writing, goes first.
    removeStaleTemporariesIn(map.path());
    std::vector<std::filesystem::path> old;
    for (const auto* group : {&replaced, &added})
        for (const auto& [name, bytes] : *group) {
            const std::filesystem::path file = map.fileInFolder(name);
            if (std::filesystem::path target; !writeStaysIn(file, map.path(), target)) {
                sink.message(pathText(file) + " is a symbolic link to " + pathText(target) +
                             ", outside the map folder; nothing was written");
                return false;
            }
            if (group == &replaced)
                old.push_back(file);
        }
    if (backup && !files.stageBackupFolder(backupPath, old, error)) {
        sink.message("Failed to create backup folder " + pathText(backupPath) + ", nothing was written (" +
                     reasonOf(error) + ")");
        return false;
    }
    for (const auto* group : {&replaced, &added})
        for (const auto& [name, bytes] : *group) {
            const std::filesystem::path file = map.fileInFolder(name);
            if (!files.stage(file, bytes, error)) {
                sink.message("Failed to write map file " + pathText(file) + " (" + reasonOf(error) + ")");
                return false;
            }
            ++changed;
        }
    return true;
}

bool loadMapObjects(const MapContents& map, MergePolicy policy, MapObjects& out, std::string& error,
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
            out.normal[name] = bundle.objectFileBytes(k);
            out.files[name] = std::move(bytes);
        }
    }
    return true;
}

bool loadMapBundle(const std::filesystem::path& path, ObjectBundle& bundle, StringTable& strings, std::string& error,
                   ObjectBundle* skinApart) {
    MapContents map;
    if (!map.open(path, error))
        return false;
    MapObjects objects;
    if (!loadMapObjects(map, MergePolicy::Glue, objects, error, bundle.warningSink))
        return false;
    // Unless kept apart, the skin files are glued on top: in the current editor's maps they hold the names.
    const std::vector<std::uint8_t> main = objects.main.toBytes();
    const std::vector<std::uint8_t> skin = objects.skin.toBytes();
    bundle.mergePolicy = MergePolicy::Glue;
    if (const LoadResult r = bundle.loadBytes(main, pathText(path)); !r) {
        error = r.error;
        return false;
    }
    ObjectBundle& skinInto = skinApart ? *skinApart : bundle;
    skinInto.mergePolicy = MergePolicy::Glue;
    if (const LoadResult r = skinInto.loadBytes(skin, pathText(path)); !r) {
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

bool readAddedMap(const std::filesystem::path& path, bool keepReferences, AddedFile& out, std::string& error) {
    StringTable strings;
    out.single.reset();
    out.content.warningSink = [](const std::string&) {}; // its warnings come when it is merged
    if (!loadMapBundle(path, out.content, strings, error))
        return false;
    if (!keepReferences) {
        if (const std::vector<MissingString> missing = missingStrings(out.content, strings); !missing.empty()) {
            error = missingStringsMessage(path, strings.size() != 0, missing) + "; nothing was written";
            return false;
        }
        resolveStrings(out.content, strings);
    }
    out.bytes = out.content.toBytes();
    return true;
}

std::string referencesWithoutTableWarning(const std::filesystem::path& added, const ObjectBundle& objects,
                                          const std::filesystem::path& map) {
    const std::vector<MissingString> references = missingStrings(objects, StringTable());
    if (references.empty())
        return {};
    return pathText(added) + " holds " + std::to_string(references.size()) +
           " string values that refer to a string table (the first: " + references[0].reference + " in " +
           kindName(references[0].kind) + " " + displayText(references[0].object) + ") and carries none; in " +
           pathText(map) + " they stand for the map's own texts";
}

bool carryStringsIntoMap(const MapContents& target, std::initializer_list<ObjectBundle*> bundles,
                         const StringTable& source,
                         const std::filesystem::path& sourcePath, bool reuseMatching,
                         std::map<std::string, std::vector<std::uint8_t>>& replaced,
                         std::map<std::string, std::vector<std::uint8_t>>& added, std::size_t& carried,
                         std::string& error) {
    carried = 0;
    if (!reuseMatching) {
        std::vector<MissingString> missing;
        for (const ObjectBundle* bundle : bundles) {
            const std::vector<MissingString> more = missingStrings(*bundle, source);
            missing.insert(missing.end(), more.begin(), more.end());
        }
        if (!missing.empty()) {
            error = missingStringsMessage(sourcePath, source.size() != 0, missing) +
                    "; in another map they would stand for its own texts, so nothing was written";
            return false;
        }
    }
    const char* const name = "war3map.wts";
    std::vector<std::uint8_t> table;
    const bool had = target.contains(name);
    if (had && !target.read(name, table, error))
        return false;
    CarriedStrings result = carryStrings(bundles, source, table, reuseMatching);
    carried = result.added;
    if (result.added != 0)
        (had ? replaced : added)[name] = std::move(result.table);
    return true;
}

std::vector<std::string> mapTriggerFiles(const MapContents& map, bool patchScript) {
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
    if (write && !isMapFolder(request.map) && !lock.acquire(request.map, error)) {
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
    std::size_t changed = 0;
    if (!stageMapFiles(run.map, replaced, added, request.keepBackups, files, changed, sink)) {
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
    if (!isMapFolder(path) && !lock.acquire(path, error))
        return fail(error);
    if (sameFile(path, addedPath))
        return fail("The added file " + pathText(addedPath) + " is the map itself; nothing was written");
    RunFiles own;
    own.written(path, "the map", takeBackup);
    own.read(addedPath, "the added file");
    if (!own.check(error))
        return fail(error);
    AddedFile added;
    StringTable addedStrings;
    const bool addedIsMap = isMap(addedPath);
    if (addedIsMap ? !loadMapBundle(addedPath, added.content, addedStrings, error)
                   : !readAddedFile(addedPath, added, error))
        return fail(error);
    MapContents map;
    if (!map.open(path, error))
        return fail(error);
    MapObjects objects;
    const WarningSink warn = [&sink](const std::string& line) { sink.warning(line); };
    if (!loadMapObjects(map, MergePolicy::Glue, objects, error, warn))
        return fail(error);
    std::map<std::string, std::vector<std::uint8_t>> replaced;
    std::map<std::string, std::vector<std::uint8_t>> newFiles;
    if (addedIsMap) {
        // Another map's objects bring the texts they refer to into this map's string table.
        std::size_t carried = 0;
        if (!carryStringsIntoMap(map, {&added.content}, addedStrings, addedPath, false, replaced, newFiles, carried,
                                 error))
            return fail(error);
        added.bytes = added.content.toBytes();
    } else if (std::string note = referencesWithoutTableWarning(addedPath, added.content, path); !note.empty()) {
        sink.warning(note);
    }
    objects.main.mergePolicy = policy;
    if (const LoadResult loaded = mergeAddedFile(objects.main, added, addedPath, &report.merged); !loaded)
        return fail(loadFailureMessage(loaded, addedPath));
    changedObjectFiles(objects.main, false, objects, replaced, newFiles);
    FileTransaction files;
    std::size_t changed = 0;
    if (!stageMapFiles(map, replaced, newFiles, takeBackup, files, changed, sink)) {
        report.failed = true;
        return report;
    }
    if (!files.commit(error))
        return fail("Failed to write map " + pathText(path) + ": " + error);
    report.bundleWritten = !files.empty();
    report.completed = true;
    return report;
}

bool putObjectFilesIntoMap(const std::filesystem::path& path, const ObjectBundle& givenMain,
                           const ObjectBundle& givenSkin, std::optional<MergePolicy> policy, bool takeBackup,
                           const std::function<bool(const MapObjectsBuild&)>& approve, std::size_t& written,
                           MessageSink& sink, const StringTable* texts) {
    written = 0;
    FileLock lock;
    MapContents map;
    std::string error;
    if ((!isMapFolder(path) && !lock.acquire(path, error)) || !map.open(path, error)) {
        sink.message(error);
        return false;
    }
    // The texts the references stood for where the objects came from come along, under new numbers where the
    // map holds them under another number or not at all.
    std::map<std::string, std::vector<std::uint8_t>> replaced;
    std::map<std::string, std::vector<std::uint8_t>> added;
    ObjectBundle carriedMain;
    ObjectBundle carriedSkin;
    std::size_t carried = 0;
    if (texts && texts->size() != 0) {
        carriedMain = givenMain;
        carriedSkin = givenSkin;
        if (!carryStringsIntoMap(map, {&carriedMain, &carriedSkin}, *texts, path, true, replaced, added, carried,
                                 error)) {
            sink.message(error);
            return false;
        }
    }
    const ObjectBundle& main = carried != 0 ? carriedMain : givenMain;
    const ObjectBundle& skin = carried != 0 ? carriedSkin : givenSkin;
    MapObjectsBuild build;
    const WarningSink warn = [&sink](const std::string& line) { sink.warning(line); };
    if (!loadMapObjects(map, MergePolicy::Glue, build.before, error, warn)) {
        sink.message(error);
        return false;
    }
    build.main = build.before.main;
    build.skin = build.before.skin;
    for (bool isSkin : {false, true}) {
        const ObjectBundle& from = isSkin ? skin : main;
        ObjectBundle& into = isSkin ? build.skin : build.main;
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
    if (!approve(build))
        return true;
    changedObjectFiles(build.main, false, build.before, replaced, added);
    changedObjectFiles(build.skin, true, build.before, replaced, added);
    if (replaced.empty() && added.empty())
        return true;
    FileTransaction files;
    std::size_t changed = 0;
    if (!stageMapFiles(map, replaced, added, takeBackup, files, changed, sink))
        return false;
    if (!files.commit(error)) {
        sink.message("Failed to write map " + pathText(path) + ": " + error);
        return false;
    }
    written = replaced.size() + added.size() - (carried != 0 ? 1 : 0); // the string table is no object file
    return true;
}

} // namespace brindlemark
