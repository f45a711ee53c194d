#pragma once

#include <QString>

class QWidget;

namespace brindlemark {

// Shows the commands' messages to the user. The window reports through this, so that tests can record the
// messages instead of facing a modal box.
class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    // Returns once the user has read the message.
    virtual void show(QWidget* parent, const QString& text) = 0;
};

// A modal message box over `parent`: the text, one OK button, no icon, and the program's name as its caption.
class MessageBoxPresenter final : public MessagePresenter {
public:
    void show(QWidget* parent, const QString& text) override;
    // The base name of the program's executable file, without folder and extension.
    static QString caption();
};

} // namespace brindlemark
