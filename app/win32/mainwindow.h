#pragma once

#include "app/appstate.h"
#include "app/windowcontroller.h"

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace brindlemark {

class FileChooser;
class MessagePresenter;

// The system menu's About item; every command id whose low four bits cleared give this opens the About box.
inline constexpr UINT kAboutCommand = 16;
// The system menu's language items, in the order of kLanguages, before the About item.
inline constexpr UINT kLanguageCommands[] = {0x40, 0x50};
inline constexpr COLORREF kListGrey = RGB(172, 172, 172);
inline constexpr int kRenameColumnWidth = 45; // pixels

// Where the icon of a minimised window is drawn in a client area of `clientWidth` x `clientHeight` pixels.
POINT minimisedIconPosition(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

// The program's one window, a dialog made from the IDD_MAINWINDOW template: the view of a WindowController,
// which runs its commands. It keeps nothing of its own beyond its controls.
class MainWindow : private WindowView {
public:
    MainWindow(AppState& state, FileChooser& chooser, MessagePresenter& presenter);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Runs the window modally until it is closed; `startFile`, when given, is opened as the main file once the
    // window is up. False when the window could not be created.
    bool run(HWND owner = nullptr, const std::filesystem::path& startFile = {});
    // Creates the window without running it, for a caller that drives it through messages; it stays until the
    // cancel command or the MainWindow's end. Null on failure.
    HWND create(HWND owner = nullptr);

    HWND handle() const { return window_; }
    HWND control(ControlId id) const { return GetDlgItem(window_, static_cast<int>(id)); }

    // Takes `path` as the main file, as if it had been chosen with button 1.
    void openMainFile(const std::filesystem::path& path);
    // Shows every caption, the title and the system menu's items in `language` at once, and words the messages
    // and the About box in it.
    void setLanguage(Language language);

private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void initialise();
    void onCommand(ControlId id, UINT code);
    bool paintMinimised();
    void close();
    // The language item chosen in the system menu: applied at once and remembered with the settings.
    void chooseLanguage(Language language);

    // WindowView.
    std::filesystem::path fieldText(ControlId field) const override;
    void setFieldText(ControlId field, const std::filesystem::path& text) override;
    std::vector<std::filesystem::path> listRows(ControlId list) const override;
    void setListRows(ControlId list, const std::vector<std::filesystem::path>& rows) override;
    void setReportRows(ControlId report, const std::vector<std::array<std::string, 2>>& rows) override;
    bool isChecked(ControlId control) const override;
    void setChecked(ControlId control, bool checked) override;
    void setEnabled(ControlId control, bool enabled) override;
    std::optional<std::filesystem::path> askFile(const ChooserQuestion& question, std::string& filterEntry) override;
    void showMessage(const std::string& text) override;

    AppState& state_;
    FileChooser& chooser_;
    MessagePresenter& presenter_;
    HWND window_ = nullptr;
    HICON icon_ = nullptr;
    bool modal_ = false;
    std::filesystem::path startFile_;
    WindowController controller_;
    static constexpr UINT kOpenStartFile = WM_APP + 1;
};

// Shows the About box modally over `owner`, in `language`, and returns when it closes (Enter, Esc or its close
// box).
void openAboutBox(HWND owner, Language language = kDefaultLanguage);

} // namespace brindlemark
