// The native Windows window driven through its messages, as the platform's dialog manager drives it: every
// control as the dialog template lays it out, typing, the enabling rules, the toggles, buttons pressed with
// BM_CLICK and choosers answered by the test, then a Replace and a Merge on real files. Writes a screenshot.

#include "app/win32/filechooser.h"
#include "app/win32/mainwindow.h"
#include "app/win32/messagepresenter.h"
#include "app/win32/registryfoldermemory.h"
#include "app/win32/resource.h"
#include "app/win32/widetext.h"
#include "app/windowlayout.h"
#include "core/fileio.h"
#include "document/mainform.h"
#if BRINDLEMARK_HAVE_ARCHIVES
#include "archive/maparchive.h"
#include "tests/map/archivebuilder.h"
#endif
#include "tests/replace/bundlefixtures.h"
#include "tests/support/testsupport.h"
#include "tests/win32/pngfile.h"

#include "brindlemarkversion.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <deque>

namespace brindlemark {
namespace {

namespace fs = std::filesystem;
using namespace testing;

const std::string kReplaceDone = "Процесс изменения завершен!";
const std::string kMergeDone = "Процесс обьединения завершен!";

struct ChooserCall {
    bool save;
    std::string filter;
    fs::path initialName;
    fs::path folder;
};

// Answers each chooser with the next queued path, or cancels when none is left; remembers what it was asked.
class ScriptedChooser final : public FileChooser {
public:
    std::deque<fs::path> answers;
    std::vector<ChooserCall> calls;

    std::optional<fs::path> openFile(HWND, std::string_view filter, const fs::path& initialName, const fs::path& folder,
                                     std::string&) override {
        return answer(false, filter, initialName, folder);
    }
    std::optional<fs::path> saveFile(HWND, std::string_view filter, const fs::path& initialName, const fs::path& folder,
                                     std::string&) override {
        return answer(true, filter, initialName, folder);
    }

private:
    std::optional<fs::path> answer(bool save, std::string_view filter, const fs::path& initialName,
                                   const fs::path& folder) {
        calls.push_back({save, std::string(filter), initialName, folder});
        if (answers.empty())
            return std::nullopt;
        fs::path path = answers.front();
        answers.pop_front();
        return path;
    }
};

class RecordingPresenter final : public MessagePresenter {
public:
    std::vector<std::string> messages;
    void show(HWND, const std::string& text) override { messages.push_back(text); }
};

class Win32Window : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
    }
    void SetUp() override {
        state.folderMemory = &folders;
        dialog = window.create();
        ASSERT_NE(dialog, nullptr);
        ShowWindow(dialog, SW_SHOW);
        pump();
    }

    static void pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    HWND item(int id) const { return GetDlgItem(dialog, id); }
    void click(int id) { SendMessageW(item(id), BM_CLICK, 0, 0); }
    void choose(int id, const fs::path& path) {
        chooser.answers.push_back(path);
        click(id);
    }
    void type(int id, const std::wstring& text) {
        for (wchar_t c : text)
            SendMessageW(item(id), WM_CHAR, c, 0);
    }
    void erase(int id) {
        SendMessageW(item(id), EM_SETSEL, 0, -1);
        SendMessageW(item(id), WM_CHAR, VK_BACK, 0);
    }
    std::string text(HWND control) const {
        std::wstring out(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
        out.resize(static_cast<std::size_t>(GetWindowTextW(control, out.data(), static_cast<int>(out.size()))));
        return toUtf8(out);
    }
    std::string text(int id) const { return text(item(id)); }
    bool enabled(int id) const { return IsWindowEnabled(item(id)) != FALSE; }
    bool checked(int id) const { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
    std::vector<std::string> rows(int id, int column = 0) const {
        std::vector<std::string> out;
        for (int row = 0; row < ListView_GetItemCount(item(id)); ++row) {
            wchar_t buffer[1024] = {};
            ListView_GetItemText(item(id), row, column, buffer, 1024);
            out.push_back(toUtf8(buffer));
        }
        return out;
    }
    // The buttons 5, 6 and 7, as enabled or not.
    std::string commandButtons() const {
        return std::string(enabled(5) ? "5" : "-") + (enabled(6) ? "6" : "-") + (enabled(7) ? "7" : "-");
    }

    // Draws the window as the display shows it, so that every control appears as drawn, and writes it as
    // tests/NAME in the build folder. Returns its pixels, three bytes each.
    std::vector<std::uint8_t> screenshot(const char* name) {
        SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        SetForegroundWindow(dialog);
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        for (int i = 0; i < 20; ++i) {
            pump();
            Sleep(25);
        }
        RECT frame{};
        GetWindowRect(dialog, &frame);
        const int width = frame.right - frame.left;
        const int height = frame.bottom - frame.top;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
        GdiFlush();
        const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t(3);
        std::vector<std::uint8_t> rgb;
        rgb.reserve(static_cast<std::size_t>(width) * height * 3);
        const auto* pixels = static_cast<const std::uint8_t*>(bits);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* p = pixels + y * stride + x * 3;
                rgb.insert(rgb.end(), {p[2], p[1], p[0]});
            }
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);

        const fs::path out = fs::path(BRINDLEMARK_BINARY_DIR) / "tests" / name;
        fs::create_directories(out.parent_path());
        EXPECT_TRUE(writePng(out, width, height, rgb));
        return rgb;
    }

    RunFolderMemory folders;
    AppState state;
    ScriptedChooser chooser;
    RecordingPresenter presenter;
    MainWindow window{state, chooser, presenter};
    HWND dialog = nullptr;
};

constexpr DWORD kButtonMask = (BS_TYPEMASK & ~DWORD(BS_DEFPUSHBUTTON)) | BS_FLAT | BS_PUSHLIKE | BS_MULTILINE |
                              BS_CENTER | WS_TABSTOP | WS_VISIBLE;
constexpr DWORD kCheckMask =
    BS_TYPEMASK | BS_FLAT | BS_PUSHLIKE | BS_MULTILINE | BS_CENTER | WS_TABSTOP | WS_VISIBLE | WS_GROUP;
constexpr DWORD kEditMask = ES_AUTOHSCROLL | ES_READONLY | ES_MULTILINE | WS_TABSTOP | WS_VISIBLE;
constexpr DWORD kListMask = LVS_TYPEMASK | WS_TABSTOP | WS_VISIBLE;

// A control of the layout table as the native window makes it: its class, and its style as far as `mask` reaches.
struct NativeControl {
    std::wstring className;
    DWORD style;
    DWORD mask;
};

NativeControl nativeOf(const ControlEntry& entry) {
    const DWORD visible = entry.flags & Hidden ? 0 : WS_VISIBLE;
    switch (entry.kind) {
    case ControlKind::Button:
        return {L"Button", BS_PUSHBUTTON | BS_FLAT | WS_TABSTOP | visible, kButtonMask};
    case ControlKind::Field:
        return {L"Edit", ES_AUTOHSCROLL | WS_TABSTOP | visible, kEditMask};
    case ControlKind::List:
        return {L"SysListView32", LVS_LIST | WS_TABSTOP | visible, kListMask};
    case ControlKind::Report:
        return {L"SysListView32", LVS_REPORT | WS_TABSTOP | visible, kListMask};
    case ControlKind::Group:
        return {L"Button",
                BS_GROUPBOX | (entry.flags & OrdinaryFrame ? 0 : BS_FLAT) | (entry.flags & Centred ? BS_CENTER : 0) |
                    visible,
                kCheckMask};
    case ControlKind::CheckBox:
        return {L"Button", BS_AUTOCHECKBOX | BS_MULTILINE | BS_FLAT | WS_TABSTOP | visible, kCheckMask};
    case ControlKind::Toggle:
        return {L"Button", BS_AUTOCHECKBOX | BS_PUSHLIKE | BS_FLAT | WS_GROUP | WS_TABSTOP | visible, kCheckMask};
    }
    return {};
}

TEST_F(Win32Window, EveryControlStandsAsTheTemplateLaysItOut) {
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const ControlEntry& entry : kMainWindowControls) {
        const std::string caption(brindlemark::text(Language::Russian, entry.caption));
        SCOPED_TRACE(entry.id == kNoControlId ? caption : std::to_string(entry.id));
        ASSERT_NE(child, nullptr);
        const NativeControl native = nativeOf(entry);
        EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(child))), entry.id);
        wchar_t className[64] = {};
        GetClassNameW(child, className, 64);
        EXPECT_EQ(std::wstring(className), native.className);
        EXPECT_EQ(text(child), caption);
        const DWORD style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
        EXPECT_EQ(style & native.mask, native.style) << std::hex << style;
        if (entry.kind == ControlKind::Field || entry.kind == ControlKind::List || entry.kind == ControlKind::Report) {
            EXPECT_TRUE((style & WS_BORDER) || (GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
        }
        if (entry.kind == ControlKind::CheckBox || entry.kind == ControlKind::Toggle) {
            EXPECT_EQ(checked(entry.id), (entry.flags & Checked) != 0);
        }

        // The dialog manager converts the place and the size each on its own.
        const int raise = entry.flags & RaisedOnWin32 ? kWin32Raise : 0;
        RECT expected{entry.x, entry.y - raise, entry.width, entry.height + raise};
        MapDialogRect(dialog, &expected);
        RECT actual{};
        GetWindowRect(child, &actual);
        MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.top, expected.top);
        EXPECT_EQ(actual.right - actual.left, expected.right);
        EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "a control the template does not hold";

    // The frame: title, system menu and close box, no minimise or maximise box, fixed size, on the task bar.
    EXPECT_EQ(text(dialog), "Brindlemark");
    const LONG style = GetWindowLongW(dialog, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    RECT size{0, 0, kWindowWidth, kWindowHeight};
    MapDialogRect(dialog, &size);
    RECT client{};
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0)) != nullptr, true);

    // The lists: grey, and the hidden record of renames with its two columns.
    for (int id : {1002, 1005}) {
        EXPECT_EQ(ListView_GetBkColor(item(id)), kListGrey);
        EXPECT_EQ(ListView_GetTextBkColor(item(id)), kListGrey);
    }
    HWND header = ListView_GetHeader(item(1005));
    ASSERT_EQ(Header_GetItemCount(header), 2);
    for (int column = 0; column < 2; ++column) {
        wchar_t heading[16] = {};
        HDITEMW info{};
        info.mask = HDI_TEXT | HDI_WIDTH | HDI_FORMAT;
        info.pszText = heading;
        info.cchTextMax = 16;
        Header_GetItem(header, column, &info);
        EXPECT_EQ(std::wstring(heading), column == 0 ? L"OldID" : L"NewID");
        EXPECT_EQ(info.cxy, kRenameColumnWidth);
        EXPECT_EQ(info.fmt & HDF_JUSTIFYMASK, HDF_LEFT);
    }
}

TEST_F(Win32Window, SystemMenuOpensTheAboutBoxForCommandsSixteenToThirtyOne) {
    HMENU menu = GetSystemMenu(dialog, FALSE);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_EQ(GetMenuItemID(menu, count - 1), kAboutCommand);
    wchar_t label[64] = {};
    GetMenuStringW(menu, count - 1, label, 64, MF_BYPOSITION);
    EXPECT_EQ(toUtf8(label), "О программе Brindlemark...");
    EXPECT_TRUE(GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR);

    // Every dialog that opens is closed at once; its title is remembered.
    static std::vector<std::string> opened;
    opened.clear();
    HHOOK hook = SetWindowsHookExW(
        WH_CBT,
        [](int code, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (code == HCBT_CREATEWND) {
                auto* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam);
                if (create->lpcs->lpszClass == MAKEINTATOM(32770) && create->lpcs->lpszName) {
                    opened.push_back(toUtf8(create->lpcs->lpszName));
                    PostMessageW(reinterpret_cast<HWND>(wParam), WM_COMMAND, IDCANCEL, 0);
                }
            }
            return CallNextHookEx(nullptr, code, wParam, lParam);
        },
        nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    for (WPARAM command = 16; command <= 31; ++command)
        SendMessageW(dialog, WM_SYSCOMMAND, command, 0);
    SendMessageW(dialog, WM_SYSCOMMAND, 32, 0); // not the About item: the platform's handling, nothing opens
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(opened, std::vector<std::string>(16, "О программе Brindlemark"));
    EXPECT_TRUE(IsWindow(dialog));
}

TEST_F(Win32Window, AboutBoxShowsTheProgramsVersion) {
    static std::string version;
    version.clear();
    HHOOK hook = SetWindowsHookExW(
        WH_CALLWNDPROCRET,
        [](int code, WPARAM wParam, LPARAM lParam) -> LRESULT {
            const auto* call = reinterpret_cast<CWPRETSTRUCT*>(lParam);
            if (code == HC_ACTION && call->message == WM_INITDIALOG && GetDlgItem(call->hwnd, IDC_ABOUT_VERSION)) {
                wchar_t text[64] = {};
                GetDlgItemTextW(call->hwnd, IDC_ABOUT_VERSION, text, 64);
                version = toUtf8(text);
                PostMessageW(call->hwnd, WM_COMMAND, IDCANCEL, 0);
            }
            return CallNextHookEx(nullptr, code, wParam, lParam);
        },
        nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    SendMessageW(dialog, WM_SYSCOMMAND, kAboutCommand, 0);
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(version, "Версия " BRINDLEMARK_VERSION_TEXT);
}

TEST_F(Win32Window, FreshStateTypingAndTheEnablingRules) {
    EXPECT_EQ(commandButtons(), "---");
    for (int id : {1, 2, 3, 4, 1004, 1007, 1003, 1008, 1009, 1010, 1011})
        EXPECT_TRUE(enabled(id)) << id;
    EXPECT_TRUE(checked(1003));
    EXPECT_TRUE(checked(1008));
    EXPECT_TRUE(checked(1010));
    EXPECT_FALSE(checked(1009));
    EXPECT_FALSE(checked(1011));
    EXPECT_EQ(GetFocus(), item(1));

    type(1000, L"к");
    EXPECT_EQ(commandButtons(), "--7");
    EXPECT_FALSE(state.mainLoaded); // typing loads nothing
    type(1001, L"x");
    EXPECT_EQ(commandButtons(), "5-7");
    type(1006, L"y"); // field 1006 does not run the rules by itself
    EXPECT_EQ(commandButtons(), "5-7");
    erase(1001);
    EXPECT_EQ(commandButtons(), "-67");
    erase(1000);
    type(1001, L"z");
    EXPECT_EQ(commandButtons(), "---");
    EXPECT_EQ(text(1000), "");
    EXPECT_EQ(text(1001), "z");

    click(4); // Clear with an empty list changes nothing
    EXPECT_EQ(commandButtons(), "---");
}

TEST_F(Win32Window, ExactlyOneToggleStaysChecked) {
    const auto toggles = [&] {
        return std::string(checked(1009) ? "O" : "-") + (checked(1010) ? "G" : "-") + (checked(1011) ? "K" : "-");
    };
    click(1010);
    EXPECT_EQ(toggles(), "-G-");
    click(1009);
    EXPECT_EQ(toggles(), "O--");
    click(1011);
    EXPECT_EQ(toggles(), "--K");
    click(1011);
    EXPECT_EQ(toggles(), "--K");
}

TEST_F(Win32Window, ChoosersGetTheirFiltersAndProposedNames) {
    TempDir dir;
    ObjectBundle b;
    put(b, ObjectKind::Units, makeObject("hfoo", "h000", {intField("aaaa", 1)}));
    std::string error;
    ASSERT_TRUE(b.save(dir / "war.w3o", error));

    type(1000, L"typed"); // enables button 7
    for (int id : {1, 1007, 3, 1004, 7})
        click(id);
    ASSERT_EQ(chooser.calls.size(), 5u);
    const auto expectCall = [&](std::size_t i, bool save, std::string_view filter, const char* name) {
        SCOPED_TRACE(i);
        EXPECT_EQ(chooser.calls[i].save, save);
        EXPECT_EQ(chooser.calls[i].filter, filter);
        EXPECT_EQ(pathText(chooser.calls[i].initialName), name);
    };
    expectCall(0, false, kMainChooserFilter, "*.w3o");
    expectCall(1, false, kBundleChooserFilter, "*.w3o");
    expectCall(2, false, "Warcraft Trigger Files, (*.WCT,*.WTG)|*.WCT;*.WTG|All Files, (*.*)|*.*||", ".wct");
    expectCall(3, false, "TXT File, (*.TXT)|*.txt|All Files, (*.*)|*.*||", "_IdList.txt");
    expectCall(4, true, "TXT File, (*.TXT)|*.txt|All Files, (*.*)|*.*||", "_IdList.txt");

    // Enter where no push button has the focus gives the window's default command: the main-bundle chooser.
    chooser.answers.push_back(dir / "war.w3o");
    SetFocus(item(1001));
    MSG enter{item(1001), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
    EXPECT_TRUE(IsDialogMessageW(dialog, &enter));
    pump();
    EXPECT_EQ(text(1000), pathText(dir / "war.w3o"));
    EXPECT_TRUE(state.mainLoaded);
    EXPECT_TRUE(presenter.messages.empty());
    chooser.calls.clear();
    for (int id : {3, 1004, 7})
        click(id);
    EXPECT_EQ(pathText(chooser.calls[0].initialName), "war.wct");
    EXPECT_EQ(pathText(chooser.calls[1].initialName), "war_IdList.txt");
    EXPECT_EQ(pathText(chooser.calls[2].initialName), "war_IdList.txt");
    // The identifier-list chooser opens beside the main file, the others where a file was last confirmed in them.
    EXPECT_EQ(chooser.calls[2].folder, dir.path());
    EXPECT_EQ(chooser.calls[0].folder, fs::path());
    choose(3, dir / "a.wct");
    choose(3, dir / "b.wct");
    EXPECT_EQ(chooser.calls.back().folder, dir.path());
    ListView_DeleteAllItems(item(1002));

    // A map folder is chosen through the war3map.w3i it holds: the folder is the main file.
    const fs::path folder = dir / fs::path(u8"Карта.w3x");
    fs::create_directories(folder);
    writeAll(folder / "war3map.w3i", std::string("info"));
    choose(1, folder / "war3map.w3i");
    EXPECT_EQ(text(1000), pathText(folder));
    presenter.messages.clear(); // a build without maps says it cannot read one

    // Side files stand newest first, a file chosen twice twice.
    for (const char* name : {"a.wct", "b.wtg", "a.wct", "в.wct"})
        choose(3, dir / fs::path(reinterpret_cast<const char8_t*>(name)));
    EXPECT_EQ(rows(1002), (std::vector<std::string>{pathText(dir / fs::path(u8"в.wct")), pathText(dir / "a.wct"),
                                                    pathText(dir / "b.wtg"), pathText(dir / "a.wct")}));
    click(4);
    EXPECT_TRUE(rows(1002).empty());
    EXPECT_EQ(commandButtons(), "--7");

    // Esc closes the window at once, without a question.
    MSG escape{item(1001), WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
    IsDialogMessageW(dialog, &escape);
    pump();
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(presenter.messages.empty());
}

TEST_F(Win32Window, FullReplaceRenamesPatchesAndWrites) {
    TempDir dir;
    ObjectBundle b;
    put(b, ObjectKind::Units, makeObject("hfoo", "h000", {idField("uabi", "A000"), intField("uhpm", 300)}));
    put(b, ObjectKind::Abilities, makeObject("AHbz", "A000", {intField("aaaa", 7)}));
    const fs::path folder = dir.path() / fs::path(u8"карты с пробелами");
    fs::create_directories(folder);
    const fs::path bundle = folder / fs::path(u8"война.w3o");
    std::string error;
    ASSERT_TRUE(b.save(bundle, error)) << error;
    const Bytes before = readAll(bundle);
    writeAll(folder / "war_IdList.txt", std::string("h000 h00Z\r\nA000 A00Z\r\n"));
    const fs::path trigger = folder / fs::path(u8"триггеры.wct");
    writeAll(trigger, std::string("xx h000 yy A000 zz"));

    choose(1, bundle);
    choose(3, trigger);
    EXPECT_EQ(commandButtons(), "--7");
    choose(1004, folder / "war_IdList.txt");
    EXPECT_EQ(commandButtons(), "5-7");
    click(5);

    ASSERT_EQ(presenter.messages.size(), 1u);
    EXPECT_EQ(presenter.messages[0], kReplaceDone + " Переименовано идентификаторов: 2, изменено файлов: 2.");
    EXPECT_EQ(rows(1005, 0), (std::vector<std::string>{"h000", "A000"}));
    EXPECT_EQ(rows(1005, 1), (std::vector<std::string>{"h00Z", "A00Z"}));
    EXPECT_EQ(readAll(folder / fs::path(u8"BACKUP_война.w3o")), before);
    ObjectBundle written;
    ASSERT_TRUE(written.load(bundle));
    EXPECT_EQ(tableIds(written.kind(ObjectKind::Units).file.customTable), std::vector<std::string>{"h00Z"});
    EXPECT_EQ(tableIds(written.kind(ObjectKind::Abilities).file.customTable), std::vector<std::string>{"A00Z"});
    const Bytes patched = readAll(trigger);
    EXPECT_EQ(std::string(patched.begin(), patched.end()), "xx h00Z yy A00Z zz");
    const Bytes backup = readAll(folder / fs::path(u8"BACKUP_триггеры.wct"));
    EXPECT_EQ(std::string(backup.begin(), backup.end()), "xx h000 yy A000 zz");
}

TEST_F(Win32Window, FullMergeAppliesTheCheckedPolicy) {
    struct Case {
        int toggle;
        MergePolicy policy;
        std::vector<std::int32_t> values; // h000's aaaa and, where present, bbbb and cccc
        std::string counts;               // what the completion message adds: h001 is added, h000 met
    };
    const Case cases[] = {
        {1009, MergePolicy::Overwrite, {10, 20}, "добавлено: 1, перезаписано: 1, склеено: 0, оставлено: 0."},
        {1010, MergePolicy::Glue, {10, 20, 3}, "добавлено: 1, перезаписано: 0, склеено: 1, оставлено: 0."},
        {1011, MergePolicy::Keep, {1, 3}, "добавлено: 1, перезаписано: 0, склеено: 0, оставлено: 1."}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.toggle);
        TempDir dir;
        const fs::path mainFile = dir.path() / fs::path(u8"война.w3o");
        const fs::path addedFile = dir.path() / fs::path(u8"добавка.w3o");
        ObjectBundle main;
        put(main, ObjectKind::Units, makeObject("hfoo", "h000", {intField("aaaa", 1), intField("cccc", 3)}));
        ObjectBundle added;
        put(added, ObjectKind::Units, makeObject("hkni", "h000", {intField("aaaa", 10), intField("bbbb", 20)}));
        put(added, ObjectKind::Units, makeObject("hpea", "h001", {intField("aaaa", 5)}));
        std::string error;
        ASSERT_TRUE(main.save(mainFile, error));
        ASSERT_TRUE(added.save(addedFile, error));
        const Bytes mainBytes = readAll(mainFile);

        presenter.messages.clear();
        choose(1, mainFile);
        EXPECT_EQ(commandButtons(), c.toggle == 1009 ? "--7" : "-67"); // field 1006 keeps the last file
        choose(1007, addedFile);
        EXPECT_EQ(commandButtons(), "-67");
        click(c.toggle);
        click(6);

        EXPECT_EQ(presenter.messages, std::vector<std::string>{kMergeDone + " Юниты — " + c.counts});
        EXPECT_EQ(readAll(dir.path() / fs::path(u8"BACKUP_война.w3o")), mainBytes);
        ObjectBundle written;
        ASSERT_TRUE(written.load(mainFile));
        const ObjectTable& units = written.kind(ObjectKind::Units).file.customTable;
        EXPECT_EQ(tableIds(units), (std::vector<std::string>{"h000", "h001"}));
        std::vector<std::int32_t> values;
        for (const ObjectRecord& r : units.objects())
            if (r.effectiveId() == id("h000"))
                for (const Modification& m : r.modifications())
                    values.push_back(m.intValue);
        EXPECT_EQ(values, c.values);
    }
}

#if BRINDLEMARK_HAVE_ARCHIVES
// Replace, Save ID list and Merge on a map archive and on a map folder (chosen through its war3map.w3i), both
// with Cyrillic letters and spaces in their names. Leaves a screenshot of the window with the archive open.
TEST_F(Win32Window, MapsTakeReplaceSaveIdListAndMerge) {
    TempDir dir;
    ObjectBundle units;
    put(units, ObjectKind::Units, makeObject("hfoo", "h000", {textField("unam", "TRIGSTR_001")}));
    const std::vector<mpq::File> files = {
        {"war3map.w3u", units.objectFileBytes(ObjectKind::Units)},
        mpq::textFile("war3map.w3i", "info"),
        mpq::textFile("war3map.wtg", "WTG! h000"),
        mpq::textFile("war3map.wts", "STRING 1\r\n{\r\nGate Guard\r\n}\r\n"),
    };
    const fs::path archive = dir / fs::path(u8"Моя карта.w3x");
    writeAll(archive, mpq::build(dir / "scratch.mpq", files));
    const fs::path folder = dir / fs::path(u8"Моя карта папкой.w3x");
    fs::create_directories(folder);
    for (const mpq::File& f : files)
        writeAll(folder / f.name, f.data);
    writeAll(dir / "list.txt", std::string("h000 u000"));
    ObjectBundle added;
    put(added, ObjectKind::Units, makeObject("hkni", "h001", {intField("uhpm", 5)}));
    std::string error;
    ASSERT_TRUE(added.save(dir / "added.w3o", error)) << error;

    struct Form {
        fs::path map;
        fs::path chosen;
        const char* screenshot;
    };
    for (const Form& form :
         {Form{archive, archive, "mainwindow-win32-map.png"}, Form{folder, folder / "war3map.w3i", nullptr}}) {
        SCOPED_TRACE(pathText(form.map));
        const auto inner = [&](const char* name) {
            Bytes out;
            if (fs::is_directory(form.map)) {
                out = readAll(form.map / name);
            } else {
                MapArchive opened;
                std::string readError;
                EXPECT_TRUE(opened.open(form.map, readError)) << readError;
                EXPECT_TRUE(opened.read(name, out, readError)) << readError;
            }
            return std::string(out.begin(), out.end());
        };
        presenter.messages.clear();
        choose(1, form.chosen);
        EXPECT_EQ(text(1000), pathText(form.map));
        EXPECT_TRUE(presenter.messages.empty()) << presenter.messages[0];
        choose(1004, dir / "list.txt");
        EXPECT_TRUE(enabled(5));
        click(5);
        ASSERT_EQ(presenter.messages.size(), 1u);
        EXPECT_EQ(presenter.messages[0].rfind(kReplaceDone, 0), 0u) << presenter.messages[0];
        EXPECT_EQ(rows(1005, 1), std::vector<std::string>{"u000"});
        EXPECT_EQ(inner("war3map.wtg"), "WTG! u000");
        EXPECT_NE(inner("war3map.w3u").find("u000"), std::string::npos);
        EXPECT_EQ(inner("war3map.w3u").find("h000"), std::string::npos);

        choose(7, dir / "ids.txt");
        const Bytes ids = readAll(dir / "ids.txt");
        EXPECT_EQ(std::string(ids.begin(), ids.end()), "u000\tu000\t// Gate Guard\r\n");

        presenter.messages.clear();
        choose(1007, dir / "added.w3o");
        click(1010);
        click(6);
        EXPECT_EQ(presenter.messages, std::vector<std::string>{kMergeDone + " Юниты — добавлено: 1, перезаписано: 0, "
                                                                            "склеено: 0, оставлено: 0."});
        EXPECT_NE(inner("war3map.w3u").find("h001"), std::string::npos);
        EXPECT_EQ(inner("war3map.wtg"), "WTG! u000");
        if (form.screenshot)
            screenshot(form.screenshot);
    }
}
#endif

// brindlemark.exe FILE, as "Open with" and a file association start it: the window opens with FILE as the main
// file, a name with Cyrillic letters and spaces included. With --lang en after the file its captions are English.
TEST(Win32WindowProgram, OpensTheFileOnItsCommandLine) {
    TempDir dir;
    ObjectBundle b;
    put(b, ObjectKind::Units, makeObject("hfoo", "h000", {intField("uhpm", 300)}));
    const fs::path bundle = dir.path() / fs::path(u8"война и мир.w3o");
    std::string error;
    ASSERT_TRUE(b.save(bundle, error)) << error;

    const std::wstring program = fs::path(u8"" BRINDLEMARK_WINDOW).wstring();
    std::wstring commandLine = L"\"" + program + L"\" \"" + bundle.wstring() + L"\" --lang en";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    // Its window, once the main file field shows something.
    struct Found {
        DWORD processId;
        HWND window = nullptr;
        std::string mainPath;
        std::string replaceCaption;
    } found{process.dwProcessId};
    for (int attempt = 0; attempt < 400 && found.mainPath.empty(); ++attempt) {
        Sleep(50);
        EnumWindows(
            [](HWND window, LPARAM data) -> BOOL {
                auto* found = reinterpret_cast<Found*>(data);
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                if (owner != found->processId || !GetDlgItem(window, 1000))
                    return TRUE;
                wchar_t text[1024] = {};
                GetDlgItemTextW(window, 1000, text, 1024);
                found->window = window;
                found->mainPath = toUtf8(text);
                GetDlgItemTextW(window, 5, text, 1024);
                found->replaceCaption = toUtf8(text);
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&found));
    }
    if (found.window)
        PostMessageW(found.window, WM_COMMAND, IDCANCEL, 0);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(found.mainPath, pathText(bundle));
    EXPECT_EQ(found.replaceCaption, text(Language::English, Text::Replace));
}

// The settings kept in the registry read back as written, Cyrillic folder names included; what was never
// written reads as empty.
TEST(Win32WindowSettings, RegistryKeepsFoldersFiltersAndTheLanguage) {
    const std::wstring key = L"Software\\Brindlemark tests";
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    {
        RegistryFolderMemory settings(key);
        EXPECT_EQ(settings.language(), "");
        EXPECT_EQ(settings.folder("mainFile"), fs::path());
        settings.setLanguage("en");
        settings.setFolder("mainFile", fs::path(u8"C:\\карты"));
        settings.setFilter("mainFile", "Warcraft 3 Map|*.w3x");
    }
    RegistryFolderMemory again(key);
    EXPECT_EQ(again.language(), "en");
    EXPECT_EQ(again.folder("mainFile"), fs::path(u8"C:\\карты"));
    EXPECT_EQ(again.filter("mainFile"), "Warcraft 3 Map|*.w3x");
    EXPECT_EQ(again.filter("addedFile"), "");
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

TEST(Win32WindowIcon, MinimisedIconStandsInTheMiddle) {
    EXPECT_EQ(minimisedIconPosition(36, 36, 32, 32).x, 2);
    EXPECT_EQ(minimisedIconPosition(37, 20, 32, 32).x, 3);
    EXPECT_EQ(minimisedIconPosition(37, 20, 32, 32).y, -5); // the division truncates toward zero
}

// The system menu's language items recaption every control at once, as the table of the layout orders them,
// and the window's title, the About item and the About box; the choice is remembered. Leaves
// tests/mainwindow-win32-en.png beside the Russian screenshot.
TEST_F(Win32Window, SystemMenuSwitchesTheLanguageAtOnce) {
    RunFolderMemory settings;
    state.folderMemory = &settings;
    HMENU menu = GetSystemMenu(dialog, FALSE);
    for (std::size_t i = 0; i < std::size(kLanguages); ++i) {
        wchar_t label[32] = {};
        GetMenuStringW(menu, kLanguageCommands[i], label, 32, MF_BYCOMMAND);
        EXPECT_EQ(toUtf8(label), languageName(kLanguages[i]));
    }
    // The About box's title and version line, as it shows them when it opens.
    static std::string aboutTexts;
    HHOOK hook = SetWindowsHookExW(
        WH_CALLWNDPROCRET,
        [](int code, WPARAM wParam, LPARAM lParam) -> LRESULT {
            const auto* call = reinterpret_cast<CWPRETSTRUCT*>(lParam);
            if (code == HC_ACTION && call->message == WM_INITDIALOG && GetDlgItem(call->hwnd, IDC_ABOUT_VERSION)) {
                wchar_t title[64] = {}, version[64] = {};
                GetWindowTextW(call->hwnd, title, 64);
                GetDlgItemTextW(call->hwnd, IDC_ABOUT_VERSION, version, 64);
                aboutTexts = toUtf8(title) + "|" + toUtf8(version);
                PostMessageW(call->hwnd, WM_COMMAND, IDCANCEL, 0);
            }
            return CallNextHookEx(nullptr, code, wParam, lParam);
        },
        nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);

    for (const std::size_t index : {1, 0}) {
        const Language language = kLanguages[index];
        SCOPED_TRACE(languageCode(language));
        SendMessageW(dialog, WM_SYSCOMMAND, kLanguageCommands[index], 0);
        EXPECT_EQ(settings.language(), languageCode(language));
        EXPECT_TRUE(GetMenuState(menu, kLanguageCommands[index], MF_BYCOMMAND) & MF_CHECKED);
        EXPECT_FALSE(GetMenuState(menu, kLanguageCommands[1 - index], MF_BYCOMMAND) & MF_CHECKED);

        wchar_t about[64] = {};
        GetMenuStringW(menu, kAboutCommand, about, 64, MF_BYCOMMAND);
        EXPECT_EQ(toUtf8(about), brindlemark::text(language, Text::AboutItem));
        std::string all = text(dialog) + toUtf8(about);
        HWND child = GetWindow(dialog, GW_CHILD);
        for (const ControlEntry& entry : kMainWindowControls) {
            ASSERT_NE(child, nullptr);
            EXPECT_EQ(text(child), brindlemark::text(language, entry.caption));
            all += text(child);
            child = GetWindow(child, GW_HWNDNEXT);
        }
        aboutTexts.clear();
        SendMessageW(dialog, WM_SYSCOMMAND, kAboutCommand, 0);
        EXPECT_EQ(aboutTexts, std::string(brindlemark::text(language, Text::AboutTitle)) + "|" +
                                  fill(brindlemark::text(language, Text::AboutVersion), {BRINDLEMARK_VERSION_TEXT}));
        all += aboutTexts.substr(0, aboutTexts.find('|'));

        // English shows no Cyrillic letter, Russian no Latin one but in the program's name.
        for (std::size_t at; (at = all.find("Brindlemark")) != std::string::npos;)
            all.erase(at, 11);
        const std::wstring wide = toWide(all);
        EXPECT_EQ(std::count_if(wide.begin(), wide.end(),
                                [&](wchar_t c) {
                                    return language == Language::English ? c >= 0x400 && c <= 0x4FF
                                                                         : (c | 0x20) >= L'a' && (c | 0x20) <= L'z';
                                }),
                  0)
            << all;
        if (language == Language::English)
            screenshot("mainwindow-win32-en.png");
    }
    UnhookWindowsHookEx(hook);
}

// Draws the window as it stands after a bundle was chosen, and writes it as tests/mainwindow-win32.png in the
// build folder.
TEST_F(Win32Window, Screenshot) {
    TempDir dir;
    ObjectBundle b;
    put(b, ObjectKind::Units, makeObject("hfoo", "h000", {intField("aaaa", 1)}));
    std::string error;
    ASSERT_TRUE(b.save(dir / "war.w3o", error));
    choose(1, dir / "war.w3o");
    choose(3, dir / "war.wct");
    const std::vector<std::uint8_t> rgb = screenshot("mainwindow-win32.png");
    // Something was drawn: the grey of the side-file list shows.
    std::size_t grey = 0;
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
        grey += rgb[i] == 172 && rgb[i + 1] == 172 && rgb[i + 2] == 172;
    EXPECT_GT(grey, 1000u);
}

} // namespace
} // namespace brindlemark
