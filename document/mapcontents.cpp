#include "document/mapcontents.h"

#include "document/archivefiles.h"
#include "replace/renaming.h"

namespace brindlemark {

namespace {

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 0x20);
    return out;
}

} // namespace

MapContents::MapContents() = default;
MapContents::~MapContents() = default;
MapContents::MapContents(MapContents&&) noexcept = default;
MapContents& MapContents::operator=(MapContents&&) noexcept = default;

bool MapContents::open(const std::filesystem::path& path, std::string& error) {
    std::error_code ec;
    folder_ = std::filesystem::is_directory(path, ec);
    path_ = path;
    files_.clear();
    archive_.reset();
    if (!folder_) {
        archive_ = openArchiveFiles(path, error);
        return archive_ != nullptr;
    }
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
    if (!folder_)
        return archive_ && archive_->contains(name);
    return files_.contains(lowerAscii(name));
}

bool MapContents::read(std::string_view name, std::vector<std::uint8_t>& out, std::string& error) const {
    if (!folder_) {
        if (archive_)
            return archive_->read(name, out, error);
        error = pathText(path_) + ": the map is not open";
        return false;
    }
    const auto it = files_.find(lowerAscii(name));
    if (it == files_.end()) {
        error = pathText(path_) + ": the map has no " + std::string(name);
        return false;
    }
    return readFile(it->second, out, error);
}

bool MapContents::writeArchive(const std::map<std::string, std::vector<std::uint8_t>>& replaced,
                               const std::map<std::string, std::vector<std::uint8_t>>& added,
                               const std::filesystem::path& target, std::string& error) const {
    if (!archive_) {
        error = pathText(path_) + ": the map is not open";
        return false;
    }
    return archive_->write(replaced, added, target, error);
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
            return map.writeArchive(replaced, added, temp, why);
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
    for (bool skin : {false, true}) {
        ObjectBundle& bundle = skin ? out.skin : out.main;
        for (ObjectKind k : kAllObjectKinds) {
            const std::string name = mapObjectFileName(k, skin);
            if (!map.contains(name))
                continue;
            std::vector<std::uint8_t> bytes;
            if (!map.read(name, bytes, error))
                return false;
            const LoadResult loaded =
                bundle.loadObjectFileBytes(bytes, k, pathText(map.path()) + ":" + name, policy, warn);
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
                   const WarningSink& warn, ObjectBundle* skinApart) {
    MapContents map;
    if (!map.open(path, error))
        return false;
    MapObjects objects;
    if (!loadMapObjects(map, MergePolicy::Glue, objects, error, warn) ||
        !glueMapObjects(objects.main, objects.skin, path, bundle, error, warn, skinApart))
        return false;
    if (map.contains("war3map.wts")) {
        std::vector<std::uint8_t> table;
        if (!map.read("war3map.wts", table, error))
            return false;
        strings = StringTable::parse(table);
    }
    return true;
}

bool glueMapObjects(const ObjectBundle& main, const ObjectBundle& skin, const std::filesystem::path& path,
                    ObjectBundle& bundle, std::string& error, const WarningSink& warn, ObjectBundle* skinApart) {
    // Unless kept apart, the skin files are glued on top: in the current editor's maps they hold the names.
    if (const LoadResult r = bundle.loadBytes(main.toBytes(), pathText(path), MergePolicy::Glue, warn); !r) {
        error = r.error;
        return false;
    }
    ObjectBundle& skinInto = skinApart ? *skinApart : bundle;
    // Skin files kept apart were warned about as they were read; copied on their own they say nothing more.
    const LoadResult r =
        skinInto.loadBytes(skin.toBytes(), pathText(path), MergePolicy::Glue, skinApart ? WarningSink() : warn);
    if (!r) {
        error = r.error;
        return false;
    }
    return true;
}

bool readAddedMap(const std::filesystem::path& path, bool keepReferences, AddedFile& out, std::string& error) {
    StringTable strings;
    out.single.reset();
    // Its warnings come when it is merged.
    if (!loadMapBundle(path, out.content, strings, error, {}))
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
                         const StringTable& source, const std::filesystem::path& sourcePath, bool reuseMatching,
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

} // namespace brindlemark
