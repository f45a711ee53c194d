#pragma once

// The main file of a command, whatever its form: a bundle, an object file of one kind, a map archive or a map
// folder. It hands out the objects (a map's object files as one bundle, its skin files as another), the string
// table and the files inside a map, takes the other files a command changes in a map, and stages everything that
// changed into a FileTransaction. The commands in commands/ are written once over it.

#include "core/fileio.h"
#include "core/messagesink.h"
#include "core/objectbundle.h"
#include "document/mainform.h"
#include "document/mapcontents.h"
#include "replace/stringtable.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindlemark {

class Document {
public:
    // Opens the file at `path` and reads its objects under `policy`, which later insertions into them (merges,
    // renames) follow too unless a command sets another; loading warnings go to `warn`, and so do those of
    // reading the file again for a command. False with a message naming the file (and inside a map the file that
    // is damaged); the document is then empty.
    [[nodiscard]] bool open(const std::filesystem::path& path, MergePolicy policy, const WarningSink& warn,
                            std::string& error);

    // Takes the objects of the main file at `path` as a front end holds them, perhaps renamed in memory since
    // they were read; `loaded` is whether the file loaded at all. For a map they are its object and skin files
    // glued together, a view that cannot be written back: a command that writes the map reads it afresh.
    // `policy` and `warn` are those the objects were read under, as open() keeps them.
    void hold(const std::filesystem::path& path, ObjectBundle objects, bool loaded, MergePolicy policy,
              const WarningSink& warn);

    // The policy that insertions into the objects follow, and where reading the file warns.
    MergePolicy policy() const { return policy_; }
    const WarningSink& warnings() const { return warn_; }
    // The objects now stand under `policy`: a command merged them under it.
    void setPolicy(MergePolicy policy) { policy_ = policy; }

    // Whether the document was opened or given objects; whether they are the file's (it loaded); whether they
    // are objects held in memory (hold()) rather than read by open().
    bool isOpen() const { return opened_; }
    bool loaded() const { return loaded_; }
    bool isHeld() const { return held_; }
    // A map opened from its files, whose files a command can read and change.
    bool hasMapFiles() const { return isMap() && !held_; }

    MainForm form() const { return form_; }
    bool isMap() const { return isMapForm(form_); }
    const std::filesystem::path& path() const { return path_; }
    // The kind of an object file of one kind; none for a bundle or a map.
    std::optional<ObjectKind> singleKind() const;

    // The objects: the bundle or object file, or a map's object files.
    ObjectBundle& objects() { return isMap() ? map_.main : bundle_; }
    const ObjectBundle& objects() const { return isMap() ? map_.main : bundle_; }
    // A map's skin files; empty for a bundle or object file.
    ObjectBundle& skin() { return map_.skin; }
    const ObjectBundle& skin() const { return map_.skin; }
    // A map's string table (war3map.wts), read when asked; empty for a bundle or object file, or a map without
    // one. A table that cannot be read is a warning: the references are then shown as they stand.
    const StringTable& strings();

    // The files of a map; only for a map.
    const MapContents& mapFiles() const { return contents_; }
    // The files inside a map besides its object files that a command changes (`replaced`) or adds (`added`),
    // staged with the object files.
    std::map<std::string, std::vector<std::uint8_t>>& replacedFiles() { return replaced_; }
    std::map<std::string, std::vector<std::uint8_t>>& addedFiles() { return added_; }

    // The objects as they are now, for looking at: a map's skin glued on top as loadMapBundle() gives them, and
    // its string table as the changes given leave it; warnings of gluing them go to `warn`. False with the reason.
    [[nodiscard]] bool lookAt(ObjectBundle& bundle, StringTable& strings, const WarningSink& warn, std::string& error);
    // Hands the objects over as the window shows them: those of a bundle or object file, or objects held, as
    // they are; a map's as lookAt() gives them, which stand under the policy Glue as a map is read for looking
    // at (viewPolicy()). The document's objects are then unspecified.
    [[nodiscard]] bool takeView(ObjectBundle& bundle, StringTable& strings, const WarningSink& warn,
                                std::string& error);
    // The policy that the objects takeView() hands over stand under.
    MergePolicy viewPolicy() const { return hasMapFiles() ? MergePolicy::Glue : policy_; }

    // What stage() would write into a map, by name: the object and skin files whose bytes changed and the other
    // files given, in `replaced` for files the map has and `added` for those it does not have yet.
    void mapChanges(std::map<std::string, std::vector<std::uint8_t>>& replaced,
                    std::map<std::string, std::vector<std::uint8_t>>& added) const;

    // Stages every change: a bundle or object file is written whole (after its backup copy with `backup`); of a
    // map, the object files and skin files whose bytes changed and the other files given, as stageMapFiles()
    // does. A map with nothing changed stages nothing. Counts the files staged into `changed`. False (said to
    // `sink`) on failure; nothing is then written. `aborted` words what a failed backup copy of a bundle means.
    [[nodiscard]] bool stage(FileTransaction& files, bool backup, std::size_t& changed, MessageSink& sink,
                             std::string_view aborted = "nothing was written");

private:
    MainForm form_ = MainForm::Unknown;
    bool opened_ = false;
    bool loaded_ = false;
    bool held_ = false;
    MergePolicy policy_ = MergePolicy::Glue;
    WarningSink warn_;
    std::filesystem::path path_;
    ObjectBundle bundle_;
    MapContents contents_;
    MapObjects map_;
    bool stringsRead_ = false;
    StringTable strings_;
    std::map<std::string, std::vector<std::uint8_t>> replaced_;
    std::map<std::string, std::vector<std::uint8_t>> added_;
};

// A main file read for looking at it: listing, comparing, or writing its objects out elsewhere.
struct MainView {
    ObjectBundle objects;     // as stored; a map's skin files glued on top unless kept apart
    ObjectBundle skin;        // a map's skin files, when kept apart
    StringTable strings;      // a map's string table; empty for a map without one, and for any other file
    bool ownStrings = false;  // whether the string values refer to a table of the file's own, `strings`: a map's do
    bool onlyCounted = false; // set before reading: the objects are only counted, so their values need no order
};

// Reads the file at `path`, of any form, for looking at it; with `skinApart` a map's skin files go to `view.skin`.
// Loading warnings go to `warn`. `view.onlyCounted` is kept. False with the reason; a string table that cannot be
// read fails the whole.
[[nodiscard]] bool readMainView(const std::filesystem::path& path, bool skinApart, const WarningSink& warn,
                                MainView& view, std::string& error);

} // namespace brindlemark
