// The window program: one main window over the process's one bundle. `brindlemark FILE` opens with FILE
// chosen as the main file; `--lang en|ru` shows the window in that language for this run, without changing the
// language kept in the settings.

#include "app/appstate.h"
#include "app/qt/filechooser.h"
#include "app/qt/mainwindow.h"
#include "app/qt/messagepresenter.h"
#include "app/qt/settingsfoldermemory.h"

#include "brindlemarkversion.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

namespace {

// Qt aborts when it finds no display; say plainly what is missing instead.
bool displayAvailable() {
#if defined(__unix__) && !defined(__APPLE__)
    const auto isSet = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
#else
    return true;
#endif
}

constexpr const char* kUsage =
    "usage: brindlemark [--lang en|ru] [FILE]\n"
    "Opens the window; FILE (a .w3o bundle, an object file of one kind such as .w3u, "
    "or a .w3x/.w3m map)\nis taken as the main file. --lang shows the window in English or Russian for this "
    "run;\nthe window's menu changes the language for good.\n";

} // namespace

int main(int argc, char** argv) {
    std::optional<std::filesystem::path> file;
    std::optional<brindlemark::Language> language;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!file && std::strcmp(arg, "--version") == 0) {
            std::printf("brindlemark %s\n", BRINDLEMARK_VERSION_TEXT);
            return 0;
        }
        if (!file && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(arg, "--lang") == 0 || std::strncmp(arg, "--lang=", 7) == 0) {
            const char* code = arg[6] == '=' ? arg + 7 : (i + 1 < argc ? argv[++i] : "");
            language = brindlemark::languageFromCode(code);
            if (!language) {
                std::fprintf(stderr, "brindlemark: --lang takes en or ru, not '%s'\n%s", code, kUsage);
                return 2;
            }
            continue;
        }
        if (!file && std::strcmp(arg, "--") == 0 && i + 1 < argc)
            arg = argv[++i];
        else if (arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "brindlemark: unknown option '%s'\n%s", arg, kUsage);
            return 2;
        }
        if (file) {
            std::fprintf(stderr, "brindlemark: more than one file given\n%s", kUsage);
            return 2;
        }
        std::error_code error;
        const std::filesystem::path given(arg);
        const std::filesystem::path absolute = std::filesystem::absolute(given, error);
        file = error ? given : absolute;
    }
    if (!displayAvailable()) {
        std::fputs("brindlemark: no display found; set DISPLAY or run with QT_QPA_PLATFORM=offscreen\n", stderr);
        return 1;
    }
    // Only the program's own name reaches Qt, so no argument (not even Qt's own options) changes anything.
    char programName[] = "brindlemark";
    char* qtArgv[] = {argc > 0 && argv[0] ? argv[0] : programName, nullptr};
    int qtArgc = 1;
    QApplication application(qtArgc, qtArgv);

    brindlemark::SettingsFolderMemory folders;
    brindlemark::AppState state;
    state.folderMemory = &folders;
    state.language =
        language.value_or(brindlemark::languageFromCode(folders.language()).value_or(brindlemark::kDefaultLanguage));
    brindlemark::DialogFileChooser chooser;
    brindlemark::MessageBoxPresenter presenter;
    brindlemark::MainWindow window(state, chooser, presenter);
    if (file) // once the window is up, so that a message about the file stands over it
        QTimer::singleShot(0, &window, [&window, &file] { window.openMainFile(*file); });
    window.exec();
    return 0;
}
