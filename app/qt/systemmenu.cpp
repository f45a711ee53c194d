#include "app/qt/systemmenu.h"

#include <QWidget>

#ifdef _WIN32
#include <windows.h>
#endif

namespace brindlemark::systemmenu {

#ifdef _WIN32

bool appendAboutItem(QWidget* window, const QString& text) {
    if (text.isEmpty())
        return false;
    HWND handle = reinterpret_cast<HWND>(window->winId());
    HMENU menu = GetSystemMenu(handle, FALSE);
    if (!menu)
        return false;
    const std::wstring item = text.toStdWString();
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kAboutCommand, item.c_str());
    return true;
}

bool isAboutEvent(const QByteArray& eventType, void* message) {
    if (eventType != "windows_generic_MSG" || !message)
        return false;
    const MSG* msg = static_cast<const MSG*>(message);
    return msg->message == WM_SYSCOMMAND && isAboutCommand(static_cast<unsigned>(msg->wParam & 0xFFFFu));
}

#else

bool appendAboutItem(QWidget*, const QString&) {
    return false;
}

bool isAboutEvent(const QByteArray&, void*) {
    return false;
}

#endif

} // namespace brindlemark::systemmenu
