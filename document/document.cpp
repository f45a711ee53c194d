#include "document/document.h"

namespace brindlemark {

bool Document::open(const std::filesystem::path& path, MergePolicy policy, const WarningSink& warn,
                    std::string& error) {
    *this = Document();
    path_ = path;
    form_ = formOf(path);
    policy_ = policy;
    warn_ = warn;
    if (isMap()) {
        if (!contents_.open(path, error) || !loadMapObjects(contents_, policy, map_, error, warn)) {
            *this = Document();
            return false;
        }
        opened_ = loaded_ = true;
        return true;
    }
    const LoadResult loaded = bundle_.load(path, policy, warn);
    if (!loaded) {
        error = loadFailureMessage(loaded, path);
        *this = Document();
        return false;
    }
    opened_ = loaded_ = true;
    return true;
}

void Document::hold(const std::filesystem::path& path, ObjectBundle objects, bool loaded, MergePolicy policy,
                    const WarningSink& warn) {
    *this = Document();
    path_ = path;
    form_ = formOf(path);
    policy_ = policy;
    warn_ = warn;
    opened_ = held_ = true;
    loaded_ = loaded;
    this->objects() = std::move(objects);
}

std::optional<ObjectKind> Document::singleKind() const {
    return isMap() ? std::nullopt : singleKindOf(path_);
}

const StringTable& Document::strings() {
    if (!stringsRead_ && isMap() && contents_.contains("war3map.wts")) {
        std::vector<std::uint8_t> table;
        std::string error;
        if (contents_.read("war3map.wts", table, error))
            strings_ = StringTable::parse(table);
        else if (warn_)
            warn_(error + "; names are shown as the object files give them");
    }
    stringsRead_ = true;
    return strings_;
}

bool Document::lookAt(ObjectBundle& bundle, StringTable& strings, const WarningSink& warn, std::string& error) {
    if (!isMap()) {
        const LoadResult r = bundle.loadBytes(bundle_.toBytes(), pathText(path_), MergePolicy::Glue, warn);
        error = r ? "" : r.error;
        return static_cast<bool>(r);
    }
    if (!glueMapObjects(map_.main, map_.skin, path_, bundle, error, warn))
        return false;
    const char* const table = "war3map.wts";
    if (const auto it = replaced_.find(table); it != replaced_.end())
        strings = StringTable::parse(it->second);
    else if (const auto added = added_.find(table); added != added_.end())
        strings = StringTable::parse(added->second);
    else
        strings = this->strings();
    return true;
}

bool Document::takeView(ObjectBundle& bundle, StringTable& strings, const WarningSink& warn, std::string& error) {
    if (!hasMapFiles()) {
        bundle = std::move(objects());
        return true;
    }
    return lookAt(bundle, strings, warn, error);
}

void Document::mapChanges(std::map<std::string, std::vector<std::uint8_t>>& replaced,
                          std::map<std::string, std::vector<std::uint8_t>>& added) const {
    replaced = replaced_;
    added = added_;
    changedObjectFiles(map_.main, false, map_, replaced, added);
    changedObjectFiles(map_.skin, true, map_, replaced, added);
}

bool Document::stage(FileTransaction& files, bool backup, std::size_t& changed, MessageSink& sink,
                     std::string_view aborted) {
    std::string error;
    if (isMap()) {
        std::map<std::string, std::vector<std::uint8_t>> replaced;
        std::map<std::string, std::vector<std::uint8_t>> added;
        mapChanges(replaced, added);
        return stageMapFiles(contents_, replaced, added, backup, files, changed, sink);
    }
    if (backup) {
        const std::filesystem::path copy = backupName(splitPath(path_));
        if (!files.stageBackupOfReplaced(path_, copy, error)) {
            sink.message("Failed to create backup file " + pathText(copy) + ", " + std::string(aborted) + " (" +
                         reasonOf(error) + ")");
            return false;
        }
    }
    if (!bundle_.stage(files, path_, error)) {
        sink.message("Failed to write object file " + pathText(path_) + " (" + reasonOf(error) + ")");
        return false;
    }
    ++changed;
    return true;
}

bool readMainView(const std::filesystem::path& path, bool skinApart, const WarningSink& warn, MainView& view,
                  std::string& error) {
    const bool onlyCounted = view.onlyCounted;
    view = MainView();
    view.onlyCounted = onlyCounted;
    view.objects.sortWhenUsed = onlyCounted;
    view.skin.sortWhenUsed = onlyCounted;
    if (holdsMapFiles(path)) {
        view.ownStrings = true;
        return loadMapBundle(path, view.objects, view.strings, error, warn, skinApart ? &view.skin : nullptr);
    }
    const LoadResult result = view.objects.load(path, MergePolicy::Glue, warn);
    error = result ? "" : result.error;
    return static_cast<bool>(result);
}

} // namespace brindlemark
