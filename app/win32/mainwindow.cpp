#include "app/win32/mainwindow.h"

#include "app/win32/filechooser.h"
#include "app/win32/messagepresenter.h"
#include "app/win32/resource.h"
#include "app/win32/widetext.h"
#include "app/windowlayout.h"

#include "brindlemarkversion.h"

#include <commctrl.h>

#include <vector>

namespace brindlemark {

namespace {

HINSTANCE moduleInstance() {
    return GetModuleHandleW(nullptr);
}

std::wstring wideText(Language language, Text id) {
    return toWide(fill(text(language, id), {BRINDLEMARK_VERSION_TEXT}));
}

// The About box's children in the template's order: the icon, then its lines.
constexpr Text kAboutTexts[] = {Text::None,           Text::WindowTitle, Text::AboutVersion,   Text::AboutCopyright,
                                Text::AboutGroupName, Text::AboutThanks, Text::AboutCommunity, Text::AboutTesters};

void paintGrey(HWND list) {
    ListView_SetBkColor(list, kListGrey);
    ListView_SetTextBkColor(list, kListGrey);
}

void addRenameColumn(HWND list, int index, const wchar_t* heading) {
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = kRenameColumnWidth;
    column.pszText = const_cast<wchar_t*>(heading);
    column.iSubItem = index;
    ListView_InsertColumn(list, index, &column);
}

std::wstring rowText(HWND list, int row, int column) {
    std::vector<wchar_t> buffer(32768, L'\0');
    ListView_GetItemText(list, row, column, buffer.data(), static_cast<int>(buffer.size()));
    return std::wstring(buffer.data());
}

INT_PTR CALLBACK aboutProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        const auto language = static_cast<Language>(lParam);
        SetWindowTextW(box, wideText(language, Text::AboutTitle).c_str());
        HWND child = GetWindow(box, GW_CHILD);
        for (Text line : kAboutTexts) {
            if (!child)
                break;
            if (line != Text::None)
                SetWindowTextW(child, wideText(language, line).c_str());
            child = GetWindow(child, GW_HWNDNEXT);
        }
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(box, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

} // namespace

POINT minimisedIconPosition(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
    return POINT{(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

void openAboutBox(HWND owner, Language language) {
    DialogBoxParamW(moduleInstance(), MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, aboutProc, static_cast<LPARAM>(language));
}

MainWindow::MainWindow(AppState& state, FileChooser& chooser, MessagePresenter& presenter)
    : state_(state), chooser_(chooser), presenter_(presenter),
      icon_(static_cast<HICON>(LoadImageW(moduleInstance(), MAKEINTRESOURCEW(IDI_BRINDLEMARK), IMAGE_ICON, 0, 0,
                                          LR_DEFAULTSIZE | LR_SHARED))),
      controller_(state, *this) {}

MainWindow::~MainWindow() {
    if (window_ && !modal_)
        DestroyWindow(window_);
}

bool MainWindow::run(HWND owner, const std::filesystem::path& startFile) {
    modal_ = true;
    startFile_ = startFile;
    const INT_PTR result = DialogBoxParamW(moduleInstance(), MAKEINTRESOURCEW(IDD_MAINWINDOW), owner, dialogProc,
                                           reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    return result != -1;
}

HWND MainWindow::create(HWND owner) {
    modal_ = false;
    return CreateDialogParamW(moduleInstance(), MAKEINTRESOURCEW(IDD_MAINWINDOW), owner, dialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainWindow::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<MainWindow*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
        self->initialise();
        return TRUE; // the keyboard focus goes to the first control in tab order, button 1
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    return self ? self->handleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR MainWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        onCommand(static_cast<ControlId>(LOWORD(wParam)), HIWORD(wParam));
        return TRUE;
    case kOpenStartFile:
        openMainFile(startFile_);
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == kAboutCommand) {
            openAboutBox(window_, state_.language);
            return TRUE;
        }
        for (std::size_t i = 0; i < std::size(kLanguages); ++i)
            if ((wParam & 0xFFF0) == kLanguageCommands[i]) {
                chooseLanguage(kLanguages[i]);
                return TRUE;
            }
        return FALSE; // the platform's own handling: move, close and so on
    case WM_PAINT:
        return paintMinimised();
    case WM_QUERYDRAGICON:
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(icon_));
        return TRUE;
    case WM_DESTROY:
        SetWindowLongPtrW(window_, DWLP_USER, 0);
        window_ = nullptr;
        return FALSE;
    }
    (void)lParam;
    return FALSE;
}

void MainWindow::initialise() {
    const std::wstring aboutText = wideText(state_.language, Text::AboutItem);
    if (HMENU menu = GetSystemMenu(window_, FALSE); menu && !aboutText.empty()) {
        // The languages, each named in its own words, then the About item.
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        for (std::size_t i = 0; i < std::size(kLanguages); ++i)
            AppendMenuW(menu, MF_STRING, kLanguageCommands[i], toWide(languageName(kLanguages[i])).c_str());
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, kAboutCommand, aboutText.c_str());
    }
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    // The file given at start opens once the window is up, so that a message about it stands over the window.
    if (!startFile_.empty())
        PostMessageW(window_, kOpenStartFile, 0, 0);

    const HWND sideFiles = control(ControlId::SideFiles);
    const HWND renames = control(ControlId::Renames);
    paintGrey(sideFiles);
    paintGrey(renames);
    // One column as wide as the visible list; addSideFile widens it to show a longer path whole.
    RECT area{};
    GetClientRect(sideFiles, &area);
    ListView_SetColumnWidth(sideFiles, 0, area.right - area.left);

    for (ControlId id : {ControlId::ReplaceBackups, ControlId::MergeBackups, ControlId::Glue})
        CheckDlgButton(window_, static_cast<int>(id), BST_CHECKED);
    addRenameColumn(renames, 0, L"OldID");
    addRenameColumn(renames, 1, L"NewID");
    setLanguage(state_.language);
    controller_.updateButtons();
}

void MainWindow::setLanguage(Language language) {
    state_.language = language;
    SetWindowTextW(window_, wideText(language, Text::WindowTitle).c_str());
    // The template creates the controls in the table's order; the group boxes have no id to find them by.
    HWND child = GetWindow(window_, GW_CHILD);
    for (const ControlEntry& entry : kMainWindowControls) {
        if (!child)
            break;
        if (entry.caption != Text::None)
            SetWindowTextW(child, wideText(language, entry.caption).c_str());
        child = GetWindow(child, GW_HWNDNEXT);
    }
    if (HMENU menu = GetSystemMenu(window_, FALSE)) {
        ModifyMenuW(menu, kAboutCommand, MF_BYCOMMAND | MF_STRING, kAboutCommand,
                    wideText(language, Text::AboutItem).c_str());
        for (std::size_t i = 0; i < std::size(kLanguages); ++i)
            CheckMenuItem(menu, kLanguageCommands[i],
                          MF_BYCOMMAND | (kLanguages[i] == language ? MF_CHECKED : MF_UNCHECKED));
    }
}

void MainWindow::chooseLanguage(Language language) {
    setLanguage(language);
    if (state_.folderMemory)
        state_.folderMemory->setLanguage(languageCode(language));
}

void MainWindow::onCommand(ControlId id, UINT code) {
    switch (id) {
    case ControlId::MainPath:
    case ControlId::ReplaceListPath:
        if (code == EN_CHANGE)
            controller_.fieldChanged();
        return;
    case ControlId::Cancel:
        close();
        return;
    default:
        if (code == BN_CLICKED)
            controller_.clicked(id);
        return;
    }
}

bool MainWindow::paintMinimised() {
    if (!IsIconic(window_))
        return false;
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window_, &paint);
    SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT area{};
    GetClientRect(window_, &area);
    const POINT at = minimisedIconPosition(area.right - area.left, area.bottom - area.top, GetSystemMetrics(SM_CXICON),
                                           GetSystemMetrics(SM_CYICON));
    DrawIcon(dc, at.x, at.y, icon_);
    EndPaint(window_, &paint);
    return true;
}

void MainWindow::close() {
    // Nothing is asked or saved.
    if (modal_)
        EndDialog(window_, IDCANCEL);
    else
        DestroyWindow(window_);
}

void MainWindow::openMainFile(const std::filesystem::path& path) {
    controller_.openMainFile(path);
}

std::filesystem::path MainWindow::fieldText(ControlId field) const {
    const HWND edit = control(field);
    std::wstring out(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
    out.resize(static_cast<std::size_t>(GetWindowTextW(edit, out.data(), static_cast<int>(out.size()))));
    return pathFromWide(out);
}

void MainWindow::setFieldText(ControlId field, const std::filesystem::path& text) {
    SetWindowTextW(control(field), wideFromPath(text).c_str());
}

std::vector<std::filesystem::path> MainWindow::listRows(ControlId list) const {
    const HWND view = control(list);
    std::vector<std::filesystem::path> rows;
    const int count = ListView_GetItemCount(view);
    for (int row = 0; row < count; ++row)
        rows.push_back(pathFromWide(rowText(view, row, 0)));
    return rows;
}

void MainWindow::setListRows(ControlId list, const std::vector<std::filesystem::path>& rows) {
    const HWND view = control(list);
    ListView_DeleteAllItems(view);
    int index = 0;
    for (const std::filesystem::path& row : rows) {
        std::wstring text = wideFromPath(row);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = index++;
        item.pszText = text.data();
        ListView_InsertItem(view, &item);
        // The one column widens to show a longer path whole.
        const int width = ListView_GetStringWidth(view, text.c_str()) + 16;
        if (width > ListView_GetColumnWidth(view, 0))
            ListView_SetColumnWidth(view, 0, width);
    }
}

void MainWindow::setReportRows(ControlId report, const std::vector<std::array<std::string, 2>>& rows) {
    const HWND view = control(report);
    ListView_DeleteAllItems(view);
    int index = 0;
    for (const auto& [fromText, toText] : rows) {
        std::wstring from = toWide(fromText);
        std::wstring to = toWide(toText);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = index++;
        item.pszText = from.data();
        const int inserted = ListView_InsertItem(view, &item);
        ListView_SetItemText(view, inserted, 1, to.data());
    }
}

bool MainWindow::isChecked(ControlId control) const {
    return IsDlgButtonChecked(window_, static_cast<int>(control)) == BST_CHECKED;
}

void MainWindow::setChecked(ControlId control, bool checked) {
    CheckDlgButton(window_, static_cast<int>(control), checked ? BST_CHECKED : BST_UNCHECKED);
}

void MainWindow::setEnabled(ControlId control, bool enabled) {
    EnableWindow(this->control(control), enabled);
}

std::optional<std::filesystem::path> MainWindow::askFile(const ChooserQuestion& question, std::string& filterEntry) {
    return question.save
               ? chooser_.saveFile(window_, question.filter, question.initialName, question.folder, filterEntry)
               : chooser_.openFile(window_, question.filter, question.initialName, question.folder, filterEntry);
}

void MainWindow::showMessage(const std::string& text) {
    presenter_.show(window_, text);
}

} // namespace brindlemark
