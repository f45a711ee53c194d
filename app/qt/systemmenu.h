#pragma once

#include <QByteArray>
#include <QString>

class QWidget;

namespace brindlemark {

// The About item of the window's system menu. Only Windows lets a program add to that menu, and there the native
// window (app/win32) is built instead of this one; so appendAboutItem() adds nothing and returns false, and the
// window offers the About box another way.
namespace systemmenu {

// The command id of the About item.
inline constexpr unsigned kAboutCommand = 16;

// Whether a system-menu command id is the About command: the id with its low four bits cleared, as a 16-bit
// value, is 16 (ids 16 to 31).
inline bool isAboutCommand(unsigned commandId) {
    return (commandId & 0xFFF0u) == kAboutCommand;
}

// Appends a separator and an item with `text` and the About command id to the window's system menu. False
// when the window has no system menu (or the platform gives no access to it) or `text` is empty; then nothing
// is added.
bool appendAboutItem(QWidget* window, const QString& text);

// Whether a native event handed to QWidget::nativeEvent() is the About command of the system menu.
bool isAboutEvent(const QByteArray& eventType, void* message);

} // namespace systemmenu

} // namespace brindlemark
