#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace brindlemark {

// Asks the user for a file. The window's five choosers go through this, so that tests can answer them.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    // An existing file in an existing folder, or nothing when the user cancels. `filter` is in the file
    // dialog's form ("label (pattern pattern);;label (pattern)"); `initialName` is the name the chooser
    // proposes; `folder` where it opens (empty: the platform's usual folder). `nameFilter` is the entry of
    // `filter` selected at first (empty or unknown: the first); when the user confirms, it becomes the entry the
    // user left selected.
    virtual std::optional<QString> openFile(QWidget* parent, const QString& filter, const QString& initialName,
                                            const QString& folder, QString& nameFilter) = 0;
    // A file to write; the user is asked before an existing file is named. Nothing when the user cancels.
    virtual std::optional<QString> saveFile(QWidget* parent, const QString& filter, const QString& initialName,
                                            const QString& folder, QString& nameFilter) = 0;
};

// The platform's file dialogs, modal over `parent`, with their usual titles.
class DialogFileChooser final : public FileChooser {
public:
    std::optional<QString> openFile(QWidget* parent, const QString& filter, const QString& initialName,
                                    const QString& folder, QString& nameFilter) override;
    std::optional<QString> saveFile(QWidget* parent, const QString& filter, const QString& initialName,
                                    const QString& folder, QString& nameFilter) override;
};

} // namespace brindlemark
