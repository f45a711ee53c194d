#pragma once

#include "app/appstate.h"
#include "app/qt/dialogunits.h"
#include "app/windowcontroller.h"

#include <QDialog>

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

class QAction;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;

namespace brindlemark {

class FileChooser;
class MessagePresenter;

// The program's one window: the view of a WindowController, which runs its commands. It keeps nothing of its own
// beyond its controls.
//
// Every control with an id carries it as its object name ("1003") and as the property "controlId". The layout
// is in dialog units of the window's font; the creation order is the tab order.
class MainWindow : public QDialog, private WindowView {
    Q_OBJECT
public:
    MainWindow(AppState& state, FileChooser& chooser, MessagePresenter& presenter, QWidget* parent = nullptr);

    // The control with this id, or null.
    QWidget* control(int id) const;
    QWidget* control(ControlId id) const { return control(static_cast<int>(id)); }
    using QDialog::setEnabled; // beside WindowView's, for the window itself
    const DialogUnits& dialogUnits() const { return units_; }
    // The About item of the window's context menu (F1), or null when the system menu carries it instead. The
    // context menu also offers the languages.
    QAction* aboutAction() const { return aboutAction_; }
    // The texts of every caption the window shows, its own title included, in every language: the window's font
    // is chosen to draw them all, so that a change of language keeps the layout.
    static QString captionTexts();

    // Shows every caption, the title and the About item in `language` at once, and words the messages in it.
    void setLanguage(Language language);
    // The language items of the window's menu, in the order of kLanguages.
    const QList<QAction*>& languageActions() const { return languageActions_; }

    // Takes `path` as the main file, as if it had been chosen with the first "..." button.
    void openMainFile(const std::filesystem::path& path);

public slots:
    void openAboutBox();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void createControls();
    void connectControls();

    // WindowView.
    std::filesystem::path fieldText(ControlId field) const override;
    void setFieldText(ControlId field, const std::filesystem::path& text) override;
    std::vector<std::filesystem::path> listRows(ControlId list) const override;
    void setListRows(ControlId list, const std::vector<std::filesystem::path>& rows) override;
    void setReportRows(ControlId report, const std::vector<std::array<std::string, 2>>& rows) override;
    bool isChecked(ControlId control) const override;
    void setChecked(ControlId control, bool checked) override;
    void setEnabled(ControlId control, bool enabled) override;
    std::optional<std::filesystem::path> askFile(const ChooserQuestion& question, std::string& filterEntry) override;
    void showMessage(const std::string& text) override;

    // The language item chosen in the menu: applied at once and remembered with the settings.
    void chooseLanguage(Language language);

    AppState& state_;
    FileChooser& chooser_;
    MessagePresenter& presenter_;
    DialogUnits units_;
    QAction* aboutAction_ = nullptr;
    QList<QAction*> languageActions_;
    std::vector<QWidget*> controls_; // in the order of kMainWindowControls
    WindowController controller_;
};

} // namespace brindlemark
