#include "app/qt/filechooser.h"

#include <QFileDialog>

namespace brindlemark {

namespace {

std::optional<QString> runDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& filter,
                                 const QString& initialName, const QString& folder, QString& nameFilter) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    // An open chooser returns only a file that exists; a save chooser asks before it names an existing one
    // (Qt's default, as DontConfirmOverwrite stays clear).
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    const QStringList filters = filter.split(QStringLiteral(";;"));
    dialog.setNameFilters(filters);
    if (filters.contains(nameFilter))
        dialog.selectNameFilter(nameFilter);
    if (!folder.isEmpty())
        dialog.setDirectory(folder);
    dialog.selectFile(initialName);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return std::nullopt;
    nameFilter = dialog.selectedNameFilter();
    return files.constFirst();
}

} // namespace

std::optional<QString> DialogFileChooser::openFile(QWidget* parent, const QString& filter, const QString& initialName,
                                                   const QString& folder, QString& nameFilter) {
    return runDialog(parent, QFileDialog::AcceptOpen, filter, initialName, folder, nameFilter);
}

std::optional<QString> DialogFileChooser::saveFile(QWidget* parent, const QString& filter, const QString& initialName,
                                                   const QString& folder, QString& nameFilter) {
    return runDialog(parent, QFileDialog::AcceptSave, filter, initialName, folder, nameFilter);
}

} // namespace brindlemark
