#include "app/qt/mainwindow.h"

#include "app/qt/aboutbox.h"
#include "app/qt/appicon.h"
#include "app/qt/dialogfont.h"
#include "app/qt/filechooser.h"
#include "app/qt/messagepresenter.h"
#include "app/qt/qtpaths.h"
#include "app/qt/systemmenu.h"
#include "app/qt/wrappingcheckbox.h"
#include "app/windowlayout.h"
#include "document/mainform.h"

#include <QAction>
#include <QActionGroup>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>

#include <limits>

namespace brindlemark {

namespace {

const QColor kListGrey(172, 172, 172);
constexpr int kRenameColumnWidth = 45; // pixels

// The flat look: push buttons and toggles with a thin one-pixel frame instead of a raised bevel (a checked
// toggle stays sunk in), and group boxes whose caption sits on the frame line. Only the "Совпадающие
// идентификаторы" box keeps the ordinary, grooved frame. %1 is half the caption height, where the frame line
// runs. The rules reach the window's own controls only, not the dialogs opened over it.
const char* const kStyleSheet = R"(
brindlemark--MainWindow > QPushButton {
    border: 1px solid palette(shadow); background-color: palette(button); padding: 0px 2px; }
brindlemark--MainWindow > QPushButton:disabled { border-color: palette(mid); }
brindlemark--MainWindow > QPushButton:pressed, brindlemark--MainWindow > QPushButton:checked {
    background-color: palette(mid); border-color: palette(shadow); }
brindlemark--MainWindow > QPushButton:focus { outline: 1px dotted palette(shadow); }
brindlemark--MainWindow > QGroupBox { border: 1px solid palette(dark); margin-top: %1px; }
brindlemark--MainWindow > QGroupBox[ordinaryFrame="true"] { border: 2px groove palette(mid); }
brindlemark--MainWindow > QGroupBox::title {
    subcontrol-origin: margin; subcontrol-position: top left; left: %2px; padding: 0px 2px; }
brindlemark--MainWindow > QGroupBox[centred="true"]::title { subcontrol-position: top center; left: 0px; }
)";

QString qText(Language language, Text id) {
    const std::string_view text = brindlemark::text(language, id);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void paintGrey(QWidget* list) {
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, kListGrey);
    palette.setColor(QPalette::AlternateBase, kListGrey);
    list->setPalette(palette);
    list->setAutoFillBackground(true);
}

// Shows `caption` on a control that has one: a button's text or a group box's title.
void setCaption(QWidget* control, const QString& caption) {
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->setText(caption);
    else if (auto* group = qobject_cast<QGroupBox*>(control))
        group->setTitle(caption);
}

QWidget* createControl(const ControlEntry& entry, const QString& caption, QWidget* parent) {
    switch (entry.kind) {
    case ControlKind::Button:
    case ControlKind::Toggle: {
        auto* button = new QPushButton(caption, parent);
        button->setFlat(true);
        // No button is the default one; Enter is handled by the window.
        button->setAutoDefault(false);
        button->setDefault(false);
        if (entry.kind == ControlKind::Toggle) {
            button->setCheckable(true);
            button->setAutoExclusive(false); // the window keeps the choice; arrow keys do not move it
            button->setChecked(entry.flags & Checked);
        }
        return button;
    }
    case ControlKind::Field: {
        auto* field = new QLineEdit(parent);
        field->setMaxLength(std::numeric_limits<int>::max()); // paths of any length
        return field;
    }
    case ControlKind::List: {
        auto* list = new QListWidget(parent);
        list->setViewMode(QListView::ListMode);
        list->setFlow(QListView::TopToBottom);
        list->setWrapping(false); // one column, each path whole on one line
        list->setTextElideMode(Qt::ElideNone);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        paintGrey(list);
        return list;
    }
    case ControlKind::Report: {
        auto* report = new QTreeWidget(parent);
        report->setRootIsDecorated(false);
        report->setColumnCount(2);
        report->setHeaderLabels({QStringLiteral("OldID"), QStringLiteral("NewID")});
        report->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        report->header()->setStretchLastSection(false);
        report->setColumnWidth(0, kRenameColumnWidth);
        report->setColumnWidth(1, kRenameColumnWidth);
        paintGrey(report);
        return report;
    }
    case ControlKind::Group: {
        auto* group = new QGroupBox(caption, parent);
        group->setAlignment(entry.flags & Centred ? Qt::AlignHCenter : Qt::AlignLeft);
        group->setFlat(!(entry.flags & OrdinaryFrame));
        group->setProperty("centred", bool(entry.flags & Centred));
        group->setProperty("ordinaryFrame", bool(entry.flags & OrdinaryFrame));
        // The boxes only frame the controls beside them; clicks go through to those controls.
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        return group;
    }
    case ControlKind::CheckBox: {
        auto* box = new WrappingCheckBox(caption, parent);
        box->setChecked(entry.flags & Checked);
        return box;
    }
    }
    return nullptr;
}

} // namespace

QString MainWindow::captionTexts() {
    QString all;
    for (Language language : kLanguages) {
        all += qText(language, Text::WindowTitle) + qText(language, Text::AboutItem);
        all += QString::fromUtf8(languageName(language).data());
        for (const ControlEntry& entry : kMainWindowControls)
            all += qText(language, entry.caption);
    }
    return all;
}

MainWindow::MainWindow(AppState& state, FileChooser& chooser, MessagePresenter& presenter, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      state_(state), chooser_(chooser), presenter_(presenter), units_(QFont()) {
    setWindowIcon(applicationIcon());
    setFont(dialogFont(captionTexts()));
    units_ = DialogUnits(font());
    setFixedSize(units_.size(kWindowWidth, kWindowHeight));

    setStyleSheet(QString::fromUtf8(kStyleSheet).arg(units_.y(4)).arg(units_.x(4)));
    createControls();
    connectControls();

    // The context menu offers the languages, each named in its own words, then the About item, as the Win32
    // window's system menu does.
    auto* languages = new QActionGroup(this);
    for (Language language : kLanguages) {
        auto* action = new QAction(QString::fromUtf8(languageName(language).data()), languages);
        action->setCheckable(true);
        action->setData(static_cast<int>(language));
        addAction(action);
        languageActions_.append(action);
        connect(action, &QAction::triggered, this, [this, language] { chooseLanguage(language); });
    }
    const QString aboutText = qText(state_.language, Text::AboutItem);
    if (!systemmenu::appendAboutItem(this, aboutText)) {
        auto* separator = new QAction(this);
        separator->setSeparator(true);
        addAction(separator);
        aboutAction_ = new QAction(aboutText, this);
        aboutAction_->setShortcut(QKeySequence(Qt::Key_F1));
        aboutAction_->setShortcutContext(Qt::WindowShortcut);
        addAction(aboutAction_);
        connect(aboutAction_, &QAction::triggered, this, &MainWindow::openAboutBox);
    }
    setContextMenuPolicy(Qt::ActionsContextMenu);

    setLanguage(state_.language);
    updateButtons();
}

void MainWindow::setLanguage(Language language) {
    state_.language = language;
    setWindowTitle(qText(language, Text::WindowTitle));
    if (aboutAction_)
        aboutAction_->setText(qText(language, Text::AboutItem));
    for (QAction* action : languageActions_)
        action->setChecked(action->data().toInt() == static_cast<int>(language));
    for (std::size_t i = 0; i < controls_.size(); ++i)
        setCaption(controls_[i], qText(language, kMainWindowControls[i].caption));
}

void MainWindow::chooseLanguage(Language language) {
    setLanguage(language);
    if (state_.folderMemory)
        state_.folderMemory->setLanguage(languageCode(language));
}

QWidget* MainWindow::control(int id) const {
    return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

void MainWindow::createControls() {
    QList<QGroupBox*> groups;
    for (const ControlEntry& entry : kMainWindowControls) {
        QWidget* widget = createControl(entry, qText(state_.language, entry.caption), this);
        widget->setGeometry(units_.rect(entry.x, entry.y, entry.width, entry.height));
        controls_.push_back(widget);
        if (entry.id != kNoControlId) {
            widget->setObjectName(QString::number(entry.id));
            widget->setProperty("controlId", entry.id);
        }
        if (entry.flags & Hidden)
            widget->setHidden(true);
        if (auto* group = qobject_cast<QGroupBox*>(widget))
            groups.append(group);
    }
    // The frames lie behind the controls they surround.
    for (QGroupBox* group : groups)
        group->lower();

    sideFiles_ = qobject_cast<QListWidget*>(control(1002));
    replaceBackups_ = qobject_cast<QCheckBox*>(control(1003));
    mainPath_ = qobject_cast<QLineEdit*>(control(1000));
    replaceListPath_ = qobject_cast<QLineEdit*>(control(1001));
    saveIdListButton_ = qobject_cast<QPushButton*>(control(7));
    replaceButton_ = qobject_cast<QPushButton*>(control(5));
    renames_ = qobject_cast<QTreeWidget*>(control(1005));
    overwriteToggle_ = qobject_cast<QPushButton*>(control(1009));
    glueToggle_ = qobject_cast<QPushButton*>(control(1010));
    keepToggle_ = qobject_cast<QPushButton*>(control(1011));
    mergeBackups_ = qobject_cast<QCheckBox*>(control(1008));
    addedPath_ = qobject_cast<QLineEdit*>(control(1006));
    addedChooser_ = qobject_cast<QPushButton*>(control(1007));
    mergeButton_ = qobject_cast<QPushButton*>(control(6));
}

void MainWindow::connectControls() {
    const auto onClick = [this](int id, void (MainWindow::*handler)()) {
        connect(qobject_cast<QPushButton*>(control(id)), &QPushButton::clicked, this, handler);
    };
    onClick(1, &MainWindow::chooseMainBundle);
    onClick(3, &MainWindow::addSideFile);
    onClick(5, &MainWindow::replaceIdentifiers);
    onClick(6, &MainWindow::mergeObjectFiles);
    onClick(7, &MainWindow::saveIdListAs);
    onClick(1004, &MainWindow::chooseReplaceList);
    onClick(1007, &MainWindow::chooseAddedBundle);
    connect(qobject_cast<QPushButton*>(control(2)), &QPushButton::clicked, this, &QDialog::reject);
    connect(qobject_cast<QPushButton*>(control(4)), &QPushButton::clicked, sideFiles_, &QListWidget::clear);
    connect(mainPath_, &QLineEdit::textChanged, this, &MainWindow::updateButtons);
    connect(replaceListPath_, &QLineEdit::textChanged, this, &MainWindow::updateButtons);
    for (QPushButton* toggle : {overwriteToggle_, glueToggle_, keepToggle_})
        connect(toggle, &QPushButton::clicked, this, [this, toggle] { toggleClicked(toggle); });
}

std::optional<QString> MainWindow::askFile(Chooser which, bool save, Text filterText,
                                           const QString& initialName) {
    const QString filter = QString::fromStdString(dialogFilter(text(state_.language, filterText)));
    const QString folder = toQString(state_.chooserFolder(which));
    QString nameFilter = QString::fromStdString(state_.chooserFilter(which));
    const std::optional<QString> path =
        save ? chooser_.saveFile(this, filter, initialName, folder, nameFilter)
             : chooser_.openFile(this, filter, initialName, folder, nameFilter);
    if (path)
        state_.chooserConfirmed(which, toPath(*path), nameFilter.toStdString());
    return path;
}

void MainWindow::chooseMainBundle() {
    const std::optional<QString> path =
        askFile(Chooser::MainFile, false, Text::MainChooserFilter, QString::fromUtf8(kBundleChooserName));
    if (path)
        openMainFile(chosenMainFile(toPath(*path)));
}

void MainWindow::openMainFile(const std::filesystem::path& path) {
    // "maps/../MyMap.w3x/" is shown and opened as "MyMap.w3x".
    std::filesystem::path file = path.lexically_normal();
    if (!file.has_filename() && file.has_relative_path())
        file = file.parent_path();
    mainPath_->setText(toQString(file));
    updateButtons();
    state_.chooseMainBundle(file, *this);
}

void MainWindow::chooseReplaceList() {
    const std::optional<QString> path =
        askFile(Chooser::ReplaceList, false, Text::TextFilter, toQString(state_.proposedIdListName()));
    if (!path)
        return;
    replaceListPath_->setText(*path);
    updateButtons();
}

void MainWindow::chooseAddedBundle() {
    const std::optional<QString> path =
        askFile(Chooser::AddedFile, false, Text::BundleChooserFilter, QString::fromUtf8(kBundleChooserName));
    if (!path)
        return;
    addedPath_->setText(*path);
    updateButtons();
}

void MainWindow::addSideFile() {
    const std::optional<QString> path =
        askFile(Chooser::SideFile, false, Text::TriggerFilter, toQString(state_.proposedSideFileName()));
    if (!path)
        return;
    // The newest row goes first, so the Replace command visits the file added last first.
    sideFiles_->insertItem(0, *path);
}

void MainWindow::saveIdListAs() {
    const std::optional<QString> path =
        askFile(Chooser::IdList, true, Text::TextFilter, toQString(state_.proposedIdListName()));
    if (!path)
        return;
    state_.saveIdListAs(toPath(*path), *this);
}

void MainWindow::replaceIdentifiers() {
    ReplaceRequest request;
    request.replaceList = toPath(replaceListPath_->text());
    for (int row = 0; row < sideFiles_->count(); ++row)
        request.sideFiles.push_back(toPath(sideFiles_->item(row)->text()));
    request.keepBackups = replaceBackups_->isChecked();

    const ReplaceReport report = state_.replace(request, *this);
    if (!report.listOpened)
        return; // the rows of the previous run stay
    renames_->clear();
    for (const RenameEntry& entry : report.renames)
        renames_->addTopLevelItem(new QTreeWidgetItem({QString::fromStdString(displayText(entry.fromId)),
                                                       QString::fromStdString(displayText(entry.toId))}));
}

void MainWindow::mergeObjectFiles() {
    MergeRequest request;
    request.enabled = mergeBackups_->isChecked();
    request.takeBackup = true;
    request.addedFile = toPath(addedPath_->text());
    request.policy = checkedPolicy();
    state_.merge(request, *this);
}

void MainWindow::updateButtons() {
    const ButtonStates states =
        brindlemark::updateButtons(static_cast<std::size_t>(mainPath_->text().size()),
                                   static_cast<std::size_t>(replaceListPath_->text().size()),
                                   static_cast<std::size_t>(addedPath_->text().size()));
    saveIdListButton_->setEnabled(states.saveIdList);
    mergeButton_->setEnabled(states.merge);
    replaceButton_->setEnabled(states.replace);
}

void MainWindow::toggleClicked(QPushButton* toggle) {
    // The click has already flipped the toggle's own mark.
    if (!toggle->isChecked()) {
        toggle->setChecked(true); // the checked toggle stays checked
        return;
    }
    for (QPushButton* other : {overwriteToggle_, glueToggle_, keepToggle_})
        if (other != toggle)
            other->setChecked(false);
}

MergePolicy MainWindow::checkedPolicy() const {
    if (overwriteToggle_->isChecked())
        return MergePolicy::Overwrite;
    if (keepToggle_->isChecked())
        return MergePolicy::Keep;
    return MergePolicy::Glue;
}

void MainWindow::message(const std::string& text) {
    presenter_.show(this, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void MainWindow::openAboutBox() {
    AboutBox box(this, state_.language);
    box.exec();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        // A focused push button takes Enter itself; anywhere else Enter means the window's command 1.
        auto* button = qobject_cast<QPushButton*>(focusWidget());
        if (button && !button->isCheckable() && button->isEnabled())
            button->click();
        else
            qobject_cast<QPushButton*>(control(1))->click();
        return;
    }
    QDialog::keyPressEvent(event); // Esc closes the window at once
}

bool MainWindow::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    if (systemmenu::isAboutEvent(eventType, message)) {
        openAboutBox();
        *result = 0;
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}

} // namespace brindlemark
