#pragma once

// What the main window's controls do, once for both windows. The controller reads and sets controls through
// WindowView, which the Qt and the Win32 window implement over their own widgets; it runs AppState's commands
// and keeps nothing of its own beyond what the view shows.

#include "app/appstate.h"
#include "app/windowlayout.h"
#include "core/messagesink.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindlemark {

// One question to a file chooser.
struct ChooserQuestion {
    Chooser chooser;
    bool save = false;                 // a file to write; otherwise an existing file to open
    std::string_view filter;           // "label|patterns|...||", in the window's language
    std::filesystem::path initialName; // the name the chooser proposes
    std::filesystem::path folder;      // where it opens; empty for the platform's usual folder
};

// The window as the controller sees it: controls by id, a file chooser and a message box.
class WindowView {
public:
    virtual ~WindowView() = default;
    // The text of a field (1000, 1001, 1006) as a path, and a new text for it.
    virtual std::filesystem::path fieldText(ControlId field) const = 0;
    virtual void setFieldText(ControlId field, const std::filesystem::path& text) = 0;
    // The rows of the side-file list (1002), top first, and new rows for it.
    virtual std::vector<std::filesystem::path> listRows(ControlId list) const = 0;
    virtual void setListRows(ControlId list, const std::vector<std::filesystem::path>& rows) = 0;
    // New rows for the rename report (1005): the old and the new identifier as shown.
    virtual void setReportRows(ControlId report, const std::vector<std::array<std::string, 2>>& rows) = 0;
    virtual bool isChecked(ControlId control) const = 0;
    virtual void setChecked(ControlId control, bool checked) = 0;
    virtual void setEnabled(ControlId control, bool enabled) = 0;
    // The file the user confirmed, or nothing when the user cancels. `filterEntry` is the filter entry selected
    // at first, as FolderMemory keeps it (empty: the first); on confirming, it becomes the one left selected.
    virtual std::optional<std::filesystem::path> askFile(const ChooserQuestion& question, std::string& filterEntry) = 0;
    // Shows a message (UTF-8) over the window and returns when it is closed.
    virtual void showMessage(const std::string& text) = 0;
};

class WindowController final : private MessageSink {
public:
    WindowController(AppState& state, WindowView& view);

    // A button or toggle was clicked (a toggle's own mark already flipped by the click). Ids that are not
    // commands of the controller (the cancel button, fields) are let go.
    void clicked(ControlId id);
    // The text of a field changed.
    void fieldChanged() { updateButtons(); }
    // Takes `path` as the main file, as if it had been chosen with button 1.
    void openMainFile(const std::filesystem::path& path);
    // Enables the three command buttons from the lengths of the three path fields.
    void updateButtons();
    // The merge policy of the toggle that is checked.
    MergePolicy checkedPolicy() const;

private:
    void chooseMainBundle();
    void chooseReplaceList();
    void chooseAddedBundle();
    void addSideFile();
    void saveIdListAs();
    void replaceIdentifiers();
    void mergeObjectFiles();
    // Keeps exactly one policy toggle checked after `toggle` was clicked.
    void toggleClicked(ControlId toggle);
    // Asks `chooser` for a file in the folder it opens in, and remembers the folder of the file chosen.
    std::optional<std::filesystem::path> askFile(Chooser chooser, bool save, Text filter,
                                                 const std::filesystem::path& initialName);

    void message(const std::string& text) override { view_.showMessage(text); }

    AppState& state_;
    WindowView& view_;
};

} // namespace brindlemark
