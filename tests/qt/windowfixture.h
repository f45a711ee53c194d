#pragma once

// What the window tests share: choosers answered by the test, messages recorded instead of shown, typing into
// fields one key at a time, and finding controls by id.

#include "app/appstate.h"
#include "app/qt/filechooser.h"
#include "app/qt/mainwindow.h"
#include "app/qt/messagepresenter.h"

#include <QApplication>
#include <QKeyEvent>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace brindlemark::testing {

struct ChooserCall {
    bool save = false;
    QString filter;
    QString initialName;
    QString folder;
    QString nameFilter; // the filter entry selected at first
};

// Answers each chooser with the next queued answer; with none queued the user cancels.
class ScriptedChooser final : public FileChooser {
public:
    std::vector<ChooserCall> calls;
    std::deque<std::optional<QString>> answers;
    std::deque<QString> nameFilterAnswers; // the filter entries the user selects, one per confirmed answer

    std::optional<QString> openFile(QWidget*, const QString& filter, const QString& initialName, const QString& folder,
                                    QString& nameFilter) override {
        return answer(false, filter, initialName, folder, nameFilter);
    }
    std::optional<QString> saveFile(QWidget*, const QString& filter, const QString& initialName, const QString& folder,
                                    QString& nameFilter) override {
        return answer(true, filter, initialName, folder, nameFilter);
    }

private:
    std::optional<QString> answer(bool save, const QString& filter, const QString& initialName, const QString& folder,
                                  QString& nameFilter) {
        calls.push_back({save, filter, initialName, folder, nameFilter});
        if (answers.empty())
            return std::nullopt;
        const bool confirmed = answers.front().has_value();
        const QString path = answers.front().value_or(QString());
        answers.pop_front();
        if (!confirmed)
            return std::nullopt;
        if (!nameFilterAnswers.empty()) {
            nameFilter = nameFilterAnswers.front();
            nameFilterAnswers.pop_front();
        }
        return path;
    }
};

class RecordingPresenter final : public MessagePresenter {
public:
    QStringList messages;
    void show(QWidget*, const QString& text) override { messages.append(text); }
};

// A window over its own state, with scripted choosers and recorded messages.
struct WindowUnderTest {
    AppState state;
    ScriptedChooser chooser;
    RecordingPresenter presenter;
    MainWindow window{state, chooser, presenter};

    WindowUnderTest() {
        state.loadWarnings = [](const std::string&) {};
    }

    template <class Control> Control* get(int id) const { return qobject_cast<Control*>(window.control(id)); }
};

// Types `text` into `widget` one key event per character, as a keyboard would; works for any character.
inline void typeText(QWidget* widget, const QString& text) {
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &release);
    }
}

// Watches for the next modal window; when one is open, hands it to `inspect` and then closes it (if `inspect`
// has not already). It polls from the event loop, so it also reaches a window that runs its own nested loop,
// and a window that nobody else would close cannot keep a test waiting.
class ModalCloser {
public:
    explicit ModalCloser(std::function<void(QWidget*)> inspect) : inspect_(std::move(inspect)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            timer_.stop();
            ++closed_;
            inspect_(modal);
            if (modal->isVisible())
                modal->close();
        });
        timer_.start(10);
    }
    // How many modal windows it has closed (0 or 1).
    int closed() const { return closed_; }

private:
    std::function<void(QWidget*)> inspect_;
    QTimer timer_;
    int closed_ = 0;
};

} // namespace brindlemark::testing
