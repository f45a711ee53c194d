// The window program on Windows: one main window over the process's one bundle. `brindlemark FILE` (as "Open
// with", a file association or a file dropped on the program gives it) opens with FILE as the main file.

#include "app/appstate.h"
#include "app/win32/filechooser.h"
#include "app/win32/mainwindow.h"
#include "app/win32/messagepresenter.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <filesystem>

namespace {

// The first argument of the command line that is not an option, made absolute; empty when there is none.
std::filesystem::path fileOnCommandLine() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments)
        return {};
    std::filesystem::path file;
    for (int i = 1; i < count && file.empty(); ++i) {
        const std::wstring argument = arguments[i];
        if (argument.empty() || argument[0] == L'-')
            continue;
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(argument, error);
        file = error ? std::filesystem::path(argument) : absolute;
    }
    LocalFree(arguments);
    return file;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // List views and the themed look of version 6 of the common controls, which the manifest requests.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    brindlemark::AppState state;
    brindlemark::DialogFileChooser chooser;
    brindlemark::MessageBoxPresenter presenter;
    brindlemark::MainWindow window(state, chooser, presenter);
    window.run(nullptr, fileOnCommandLine());
    return 0;
}
