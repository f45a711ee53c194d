#include "app/qt/systemmenu.h"

#include <QWidget>

namespace brindlemark::systemmenu {

// The Qt window is the window where no system menu can be reached; on Windows the native window
// (app/win32) adds its About item itself.
bool appendAboutItem(QWidget*, const QString&) {
    return false;
}

bool isAboutEvent(const QByteArray&, void*) {
    return false;
}

} // namespace brindlemark::systemmenu
