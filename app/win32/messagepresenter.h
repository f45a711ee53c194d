#pragma once

#include <windows.h>

#include <string>

namespace brindlemark {

// Shows the commands' messages to the user. The window reports through this, so that tests can record the
// messages instead of facing a modal box.
class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    // `text` is UTF-8. Returns once the user has read the message.
    virtual void show(HWND owner, const std::string& text) = 0;
};

// A modal message box over `owner`: the text, one OK button, no icon, and the program's name as its caption.
class MessageBoxPresenter final : public MessagePresenter {
public:
    void show(HWND owner, const std::string& text) override;
    // The base name of the program's executable file, without folder and extension.
    static std::wstring caption();
};

} // namespace brindlemark
