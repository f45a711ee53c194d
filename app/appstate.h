#pragma once

#include "app/foldermemory.h"
#include "app/windowtexts.h"
#include "core/bundlepath.h"
#include "core/messagesink.h"
#include "core/objectbundle.h"
#include "merge/mergecommand.h"
#include "replace/replacecommand.h"
#include "replace/stringtable.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace brindlemark {

class Document;

struct FilterEntry {
    std::string label;
    std::vector<std::string> patterns;
};

// The entries of a filter text; a malformed tail (a label without patterns) is left out.
std::vector<FilterEntry> parseFilter(std::string_view filter);
// The same filter as a file dialog takes it: "label (pattern pattern)" entries joined by ";;".
std::string dialogFilter(std::string_view filter);

// Which command buttons are enabled, from the lengths of the three path fields.
struct ButtonStates {
    bool saveIdList = false;
    bool merge = false;
    bool replace = false;

    friend bool operator==(const ButtonStates&, const ButtonStates&) = default;
};
ButtonStates updateButtons(std::size_t mainPathLength, std::size_t replaceListLength, std::size_t addedPathLength);

// What the window's commands work on: the one bundle, the path of the main file it came from, and whether that
// file loaded. The main file is a bundle, an object file of one kind or a map (archive or folder); for a map the
// bundle holds its object and skin files glued together (for the identifier list), and a command that writes
// the map reads the map itself. The window reads its controls and calls these; nothing here knows of widgets.
class AppState {
public:
    AppState();

    ObjectBundle bundle;
    // The policy the objects stand under: a bundle or object file is read under it and Replace renames by it.
    // A Merge leaves its own policy here for the runs after it; a map's objects are read under Glue.
    MergePolicy mergePolicy = MergePolicy::Glue;
    // Where reading the main file warns; the window program writes the warnings to standard output.
    WarningSink loadWarnings;
    BundlePath bundlePath;
    bool mainLoaded = false;
    // Whether the main file's string values refer to a string table of its own, `mapStrings`, which names its
    // objects in the identifier list: a map's do.
    bool mainOwnStrings = false;
    StringTable mapStrings;
    FolderMemory* folderMemory = nullptr; // where the choosers' folders are kept; none when null
    Language language = kDefaultLanguage; // of the messages below
    // The main file as it was loaded or last written: Replace does not write over it once it changed on disk.
    FileStamp mainStamp;

    // The main-file chooser was confirmed with `path`: clears the bundle, loads the file and remembers its path.
    // A file that cannot be opened or is damaged is reported; the bundle then stays empty.
    void chooseMainBundle(const std::filesystem::path& path, MessageSink& sink);
    // Writes the identifier list; a failure is reported.
    void saveIdListAs(const std::filesystem::path& path, MessageSink& sink);
    // Replace and Merge hold a lock on the main file while they run. A run that failed leaves the files as they
    // were, and the bundle is then loaded again from the main file so that it matches the disk.
    // For a map: renames across its object, skin and trigger files and the side files, as the command line does
    // by default (the script stays as it is, which the completion message says). With the backup switch clear,
    // only the objects in memory are renamed, for a map as for a bundle.
    ReplaceReport replace(const ReplaceRequest& request, MessageSink& sink);
    // For a map: merges the added file into its object files.
    MergeReport merge(const MergeRequest& request, MessageSink& sink);

    // The folder a chooser opens in: the identifier-list chooser in the main file's folder, the others where a
    // file was last confirmed in them. Empty for the platform's usual folder.
    std::filesystem::path chooserFolder(Chooser chooser) const;
    // The filter entry a chooser selects at first: the one last confirmed in it, or empty for the first entry.
    std::string chooserFilter(Chooser chooser) const;
    // Remembers the folder of `answer`, just confirmed in `chooser` (for the main file, of the map it stands for),
    // and the filter entry `filter` that was selected then (none when empty).
    void chooserConfirmed(Chooser chooser, const std::filesystem::path& answer, std::string_view filter = {});

    // The names the side-file and the text choosers propose: "%s.wct" and "%s_IdList.txt" of the bundle's name.
    std::filesystem::path proposedSideFileName() const;
    std::filesystem::path proposedIdListName() const;

private:
    void reloadMainBundle();
    // Shows the main file as a command left it (`wrote`: wrote it), so that the identifier list shows what it
    // now holds.
    void show(Document& written, bool wrote, MessageSink& sink);
};

} // namespace brindlemark
