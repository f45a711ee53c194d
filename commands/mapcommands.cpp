#include "commands/mapcommands.h"

#include "document/document.h"

#include "core/fileio.h"
#include "replace/renaming.h"
#include "replace/replacelist.h"
#include "replace/sidefile.h"
#include "replace/sidefileset.h"

#include <algorithm>

namespace brindlemark {

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
        if (!carryStringsIntoMap(map.mapFiles(), {&carriedMain, &carriedSkin}, *texts, path, true, map.replacedFiles(),
                                 map.addedFiles(), carried, error)) {
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
            const std::string name = pathText(path) + ":" + mapObjectFileName(k, isSkin);
            const LoadResult r = into.loadObjectFileBytes(from.objectFileBytes(k), k, name, *policy, map.warnings());
            if (!r) {
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
