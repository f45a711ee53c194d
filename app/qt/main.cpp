// The window program: one main window over the process's one bundle. The command line is ignored.

#include "app/appstate.h"
#include "app/qt/filechooser.h"
#include "app/qt/mainwindow.h"
#include "app/qt/messagepresenter.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

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

} // namespace

int main(int argc, char** argv) {
    if (!displayAvailable()) {
        std::fputs("brindlemark: no display found; set DISPLAY or run with QT_QPA_PLATFORM=offscreen\n",
                   stderr);
        return 1;
    }
    // Only the program's own name reaches Qt, so no argument (not even Qt's own options) changes anything.
    char programName[] = "brindlemark";
    char* qtArgv[] = {argc > 0 && argv[0] ? argv[0] : programName, nullptr};
    int qtArgc = 1;
    QApplication application(qtArgc, qtArgv);

    brindlemark::AppState state;
    brindlemark::DialogFileChooser chooser;
    brindlemark::MessageBoxPresenter presenter;
    brindlemark::MainWindow window(state, chooser, presenter);
    window.exec();
    return 0;
}
