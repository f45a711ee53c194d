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
      state_(state), chooser_(chooser), presenter_(presenter), units_(QFont()), controller_(state, *this) {
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
    controller_.updateButtons();
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
}

void MainWindow::connectControls() {
    for (const ControlEntry& entry : kMainWindowControls) {
        const auto id = static_cast<ControlId>(entry.id);
        if (id == ControlId::Cancel)
            connect(qobject_cast<QPushButton*>(control(id)), &QPushButton::clicked, this, &QDialog::reject);
        else if (auto* button = qobject_cast<QPushButton*>(control(id)))
            connect(button, &QPushButton::clicked, this, [this, id] { controller_.clicked(id); });
    }
    for (ControlId field : {ControlId::MainPath, ControlId::ReplaceListPath})
        connect(qobject_cast<QLineEdit*>(control(field)), &QLineEdit::textChanged, this,
                [this] { controller_.fieldChanged(); });
}

void MainWindow::openMainFile(const std::filesystem::path& path) {
    controller_.openMainFile(path);
}

std::filesystem::path MainWindow::fieldText(ControlId field) const {
    return toPath(qobject_cast<QLineEdit*>(control(field))->text());
}

void MainWindow::setFieldText(ControlId field, const std::filesystem::path& text) {
    qobject_cast<QLineEdit*>(control(field))->setText(toQString(text));
}

std::vector<std::filesystem::path> MainWindow::listRows(ControlId list) const {
    const auto* widget = qobject_cast<QListWidget*>(control(list));
    std::vector<std::filesystem::path> rows;
    for (int row = 0; row < widget->count(); ++row)
        rows.push_back(toPath(widget->item(row)->text()));
    return rows;
}

void MainWindow::setListRows(ControlId list, const std::vector<std::filesystem::path>& rows) {
    auto* widget = qobject_cast<QListWidget*>(control(list));
    widget->clear();
    for (const std::filesystem::path& row : rows)
        widget->addItem(toQString(row));
}

void MainWindow::setReportRows(ControlId report, const std::vector<std::array<std::string, 2>>& rows) {
    auto* widget = qobject_cast<QTreeWidget*>(control(report));
    widget->clear();
    for (const auto& [from, to] : rows)
        widget->addTopLevelItem(new QTreeWidgetItem({QString::fromStdString(from), QString::fromStdString(to)}));
}

bool MainWindow::isChecked(ControlId control) const {
    return qobject_cast<QAbstractButton*>(this->control(control))->isChecked();
}

void MainWindow::setChecked(ControlId control, bool checked) {
    qobject_cast<QAbstractButton*>(this->control(control))->setChecked(checked);
}

void MainWindow::setEnabled(ControlId control, bool enabled) {
    this->control(control)->setEnabled(enabled);
}

std::optional<std::filesystem::path> MainWindow::askFile(const ChooserQuestion& question, std::string& filterEntry) {
    const QString filter = QString::fromStdString(dialogFilter(question.filter));
    const QString initialName = toQString(question.initialName);
    const QString folder = toQString(question.folder);
    QString nameFilter = QString::fromStdString(filterEntry);
    const std::optional<QString> path = question.save
                                            ? chooser_.saveFile(this, filter, initialName, folder, nameFilter)
                                            : chooser_.openFile(this, filter, initialName, folder, nameFilter);
    if (!path)
        return std::nullopt;
    filterEntry = nameFilter.toStdString();
    return toPath(*path);
}

void MainWindow::showMessage(const std::string& text) {
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
