// The window program on Windows: one main window over the process's one bundle. `brindlemark FILE` (as "Open
// with", a file association or a file dropped on the program gives it) opens with FILE as the main file;
// `--lang en|ru` shows the window in that language for this run, without changing the language kept in the
// registry.

#include "app/appstate.h"
#include "app/win32/filechooser.h"
#include "app/win32/mainwindow.h"
#include "app/win32/messagepresenter.h"
#include "app/win32/registryfoldermemory.h"
#include "app/win32/widetext.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <filesystem>
#include <optional>

namespace {

struct CommandLine {
    std::filesystem::path file;                    // empty when none is given
    std::optional<brindlemark::Language> language; // --lang en|ru; an unknown code is let go
};

// The first argument of the command line that is not an option, made absolute, and the language of --lang.
CommandLine readCommandLine() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments)
        return {};
    CommandLine line;
    for (int i = 1; i < count; ++i) {
        const std::wstring argument = arguments[i];
        if (argument == L"--lang" || argument.starts_with(L"--lang=")) {
            const std::wstring code = argument.size() > 6 ? argument.substr(7)
                                      : i + 1 < count     ? std::wstring(arguments[++i])
                                                          : std::wstring();
            line.language = brindlemark::languageFromCode(brindlemark::toUtf8(code));
            continue;
        }
        if (argument.empty() || argument[0] == L'-' || !line.file.empty())
            continue;
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(argument, error);
        line.file = error ? std::filesystem::path(argument) : absolute;
    }
    LocalFree(arguments);
    return line;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // List views and the themed look of version 6 of the common controls, which the manifest requests.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    const CommandLine line = readCommandLine();
    brindlemark::RegistryFolderMemory settings;
    brindlemark::AppState state;
    state.folderMemory = &settings;
    state.language = line.language.value_or(
        brindlemark::languageFromCode(settings.language()).value_or(brindlemark::kDefaultLanguage));
    brindlemark::DialogFileChooser chooser;
    brindlemark::MessageBoxPresenter presenter;
    brindlemark::MainWindow window(state, chooser, presenter);
    window.run(nullptr, line.file);
    return 0;
}
