#pragma once

#include "app/appstate.h"
#include "app/qt/dialogunits.h"
#include "core/messagesink.h"

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

// The program's one window. It reads its controls, hands them to AppState's commands, shows the commands'
// messages and fills its lists; it keeps nothing of its own beyond its controls.
//
// Every control with an id carries it as its object name ("1003") and as the property "controlId". The layout
// is in dialog units of the window's font; the creation order is the tab order.
class MainWindow : public QDialog, private MessageSink {
    Q_OBJECT
public:
    MainWindow(AppState& state, FileChooser& chooser, MessagePresenter& presenter, QWidget* parent = nullptr);

    // The control with this id, or null.
    QWidget* control(int id) const;
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

    // What the buttons run.
    void chooseMainBundle();
    void chooseReplaceList();
    void chooseAddedBundle();
    void addSideFile();
    void saveIdListAs();
    void replaceIdentifiers();
    void mergeObjectFiles();

    // Enables the three command buttons from the lengths of the three path fields.
    void updateButtons();
    // Keeps exactly one policy toggle checked after `toggle` was clicked.
    void toggleClicked(QPushButton* toggle);
    MergePolicy checkedPolicy() const;
    // Asks for a file to open or save with `which` chooser, in the folder it opens in; remembers the folder of
    // the file chosen.
    std::optional<QString> askFile(Chooser which, bool save, Text filter, const QString& initialName);
    // The language item chosen in the menu: applied at once and remembered with the settings.
    void chooseLanguage(Language language);

    void message(const std::string& text) override;

    AppState& state_;
    FileChooser& chooser_;
    MessagePresenter& presenter_;
    DialogUnits units_;
    QAction* aboutAction_ = nullptr;
    QList<QAction*> languageActions_;
    std::vector<QWidget*> controls_; // in the order of kMainWindowControls

    // The controls that the commands read and write.
    QListWidget* sideFiles_ = nullptr;        // 1002
    QCheckBox* replaceBackups_ = nullptr;     // 1003
    QLineEdit* mainPath_ = nullptr;           // 1000
    QLineEdit* replaceListPath_ = nullptr;    // 1001
    QPushButton* saveIdListButton_ = nullptr; // 7
    QPushButton* replaceButton_ = nullptr;    // 5
    QTreeWidget* renames_ = nullptr;          // 1005
    QPushButton* overwriteToggle_ = nullptr;  // 1009
    QPushButton* glueToggle_ = nullptr;       // 1010
    QPushButton* keepToggle_ = nullptr;       // 1011
    QCheckBox* mergeBackups_ = nullptr;       // 1008
    QLineEdit* addedPath_ = nullptr;          // 1006
    QPushButton* addedChooser_ = nullptr;     // 1007
    QPushButton* mergeButton_ = nullptr;      // 6
};

} // namespace brindlemark
