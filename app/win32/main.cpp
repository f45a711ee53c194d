// The window program on Windows: one main window over the process's one bundle. The command line is ignored.

#include "app/appstate.h"
#include "app/win32/filechooser.h"
#include "app/win32/mainwindow.h"
#include "app/win32/messagepresenter.h"

#include <windows.h>
#include <commctrl.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // List views and the themed look of version 6 of the common controls, which the manifest requests.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    brindlemark::AppState state;
    brindlemark::DialogFileChooser chooser;
    brindlemark::MessageBoxPresenter presenter;
    brindlemark::MainWindow window(state, chooser, presenter);
    window.run();
    return 0;
}
