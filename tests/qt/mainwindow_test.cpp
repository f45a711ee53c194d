// The main window itself: its controls, their places and captions, the enabling rules, the toggles, the keys,
// the About box and a screenshot.

#include "app/qt/aboutbox.h"
#include "app/qt/qtpaths.h"
#include "app/qt/wrappingcheckbox.h"
#include "app/windowlayout.h"
#include "tests/qt/windowfixture.h"
#include "tests/replace/bundlefixtures.h"

#include <QAction>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <map>

using namespace brindlemark;
using namespace brindlemark::testing;

namespace {

// The Qt class each kind of control of the layout table is made of.
const char* classOf(ControlKind kind) {
    switch (kind) {
    case ControlKind::Button:
    case ControlKind::Toggle:
        return "QPushButton";
    case ControlKind::Field:
        return "QLineEdit";
    case ControlKind::List:
        return "QListWidget";
    case ControlKind::Report:
        return "QTreeWidget";
    case ControlKind::CheckBox:
        return "QCheckBox";
    case ControlKind::Group:
        return "QGroupBox";
    }
    return "";
}

// Dialog units to pixels, rounded to the nearest pixel. Across, a unit is a quarter of the average width of
// the 52 Latin letters, as Windows measures it; down, an eighth of the font's height.
int acrossPixels(const QFont& font, int units) {
    const double letters =
        QFontMetrics(font).horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return qRound(units * qRound(letters / 52.0) / 4.0);
}
int downPixels(const QFont& font, int units) {
    return qRound(units * QFontMetrics(font).height() / 8.0);
}
QRect pixels(const QFont& font, int x, int y, int width, int height) {
    return QRect(acrossPixels(font, x), downPixels(font, y), acrossPixels(font, width), downPixels(font, height));
}

QString captionOf(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget))
        return group->title();
    return QString();
}

QString textOf(Language language, Text id) {
    return QString::fromUtf8(text(language, id).data());
}

// The languages with the names their screenshots carry: Russian's keep the names they always had.
const std::pair<Language, const char*> kScreenshotLanguages[] = {{Language::Russian, ""}, {Language::English, "-en"}};

bool isChecked(const WindowUnderTest& w, int id) {
    return w.get<QAbstractButton>(id)->isChecked();
}

std::vector<int> checkedToggles(const WindowUnderTest& w) {
    std::vector<int> out;
    for (int id : {1009, 1010, 1011})
        if (isChecked(w, id))
            out.push_back(id);
    return out;
}

struct Enabled {
    bool replace, merge, saveIdList;
    friend bool operator==(const Enabled&, const Enabled&) = default;
};

Enabled enabledButtons(const WindowUnderTest& w) {
    return {w.get<QPushButton>(5)->isEnabled(), w.get<QPushButton>(6)->isEnabled(), w.get<QPushButton>(7)->isEnabled()};
}

char* toString(const Enabled& e) {
    return QTest::toString(QStringLiteral("replace %1 merge %2 save %3").arg(e.replace).arg(e.merge).arg(e.saveIdList));
}

void showAndActivate(MainWindow& window) {
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void startsWithEveryControlInPlace();
    void startsWithEmptyFieldsAndListsAndTheCheckedDefaults();
    void groupBoxesFrameTheSections();
    void windowHasFixedSizeTitleAndOnlyACloseBox();
    void focusStartsOnButtonOneAndTabFollowsCreationOrder();
    void typingEnablesTheCommandButtons();
    void typingAPathLoadsNothing();
    void choosingAnAddedBundleEnablesMerge();
    void togglesKeepExactlyOneChecked();
    void arrowKeysDoNotMoveTheToggleChoice();
    void clearEmptiesTheListAndNothingElse();
    void escapeClosesAtOnce();
    void closeBoxClosesWithoutWriting();
    void enterRunsTheMainChooserUnlessOnAPushButton();
    void aboutBoxOpensFromF1AndTheContextMenu();
    void everyCaptionHasGlyphsInItsFont();
    void captionsFitTheirControls();
    void languageMenuRecaptionsEveryControlAtOnce();
    void screenshot();
};

void MainWindowTest::startsWithEveryControlInPlace() {
    WindowUnderTest w;
    const QFont font = w.window.font();
    QVERIFY(acrossPixels(font, 4) > 0);
    QCOMPARE(w.window.dialogUnits().charWidth(), acrossPixels(font, 4));
    QCOMPARE(w.window.dialogUnits().charHeight(), QFontMetrics(font).height());

    std::vector<QWidget*> created;
    for (const ControlEntry& e : kMainWindowControls) {
        if (e.id == kNoControlId)
            continue; // the group boxes: groupBoxesFrameTheSections
        QWidget* control = w.window.control(e.id);
        QVERIFY2(control, qPrintable(QStringLiteral("no control %1").arg(e.id)));
        QVERIFY2(control->inherits(classOf(e.kind)),
                 qPrintable(QStringLiteral("%1 is a %2").arg(e.id).arg(control->metaObject()->className())));
        QCOMPARE(control->property("controlId").toInt(), e.id);
        QCOMPARE(captionOf(control), textOf(Language::Russian, e.caption));
        QCOMPARE(control->geometry(), pixels(font, e.x, e.y, e.width, e.height));
        created.push_back(control);
    }
    // Creation order: the window's children stand in the table's order.
    const QObjectList children = w.window.children();
    std::vector<QWidget*> order;
    for (QObject* child : children)
        if (std::find(created.begin(), created.end(), child) != created.end())
            order.push_back(static_cast<QWidget*>(child));
    QCOMPARE(order.size(), created.size());
    QVERIFY(order == created);

    // Toggles are checkable push buttons; the others are plain buttons, none of them a default button.
    for (QPushButton* button : w.window.findChildren<QPushButton*>()) {
        const int id = button->property("controlId").toInt();
        QCOMPARE(button->isCheckable(), id >= 1009 && id <= 1011);
        QVERIFY(button->isFlat());
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    }
}

void MainWindowTest::startsWithEmptyFieldsAndListsAndTheCheckedDefaults() {
    WindowUnderTest w;
    showAndActivate(w.window);
    for (int id : {1000, 1001, 1006})
        QVERIFY(w.get<QLineEdit>(id)->text().isEmpty());
    QCOMPARE(w.get<QListWidget>(1002)->count(), 0);
    QCOMPARE(w.get<QTreeWidget>(1005)->topLevelItemCount(), 0);
    QVERIFY(isChecked(w, 1003));
    QVERIFY(isChecked(w, 1008));
    QCOMPARE(checkedToggles(w), std::vector<int>{1010});
    QCOMPARE(enabledButtons(w), (Enabled{false, false, false}));
    for (int id : {1, 2, 3, 4, 1004, 1007, 1009, 1010, 1011, 1003, 1008})
        QVERIFY(w.window.control(id)->isEnabled());

    QVERIFY(!w.window.control(2)->isVisible());
    QVERIFY(!w.window.control(1005)->isVisible());
    for (int id : {1, 1000, 1002, 1003, 7, 1009, 1006, 6})
        QVERIFY(w.window.control(id)->isVisible());

    auto* renames = w.get<QTreeWidget>(1005);
    QCOMPARE(renames->columnCount(), 2);
    QCOMPARE(renames->headerItem()->text(0), QStringLiteral("OldID"));
    QCOMPARE(renames->headerItem()->text(1), QStringLiteral("NewID"));
    QCOMPARE(renames->columnWidth(0), 45);
    QCOMPARE(renames->columnWidth(1), 45);
    QVERIFY(renames->header()->defaultAlignment() & Qt::AlignLeft);

    const QColor grey(172, 172, 172);
    QCOMPARE(w.get<QListWidget>(1002)->palette().color(QPalette::Base), grey);
    QCOMPARE(renames->palette().color(QPalette::Base), grey);
    QCOMPARE(w.get<QListWidget>(1002)->viewMode(), QListView::ListMode);
}

void MainWindowTest::groupBoxesFrameTheSections() {
    WindowUnderTest w;
    const QFont font = w.window.font();
    const QList<QGroupBox*> groups = w.window.findChildren<QGroupBox*>();
    qsizetype expected = 0;
    for (const ControlEntry& e : kMainWindowControls) {
        if (e.kind != ControlKind::Group)
            continue;
        ++expected;
        const QString title = textOf(Language::Russian, e.caption);
        QGroupBox* found = nullptr;
        for (QGroupBox* group : groups)
            if (group->title() == title && group->geometry().y() == downPixels(font, e.y))
                found = group;
        QVERIFY2(found, qPrintable(title));
        QCOMPARE(found->geometry(), pixels(font, e.x, e.y, e.width, e.height));
        QCOMPARE(bool(found->alignment() & Qt::AlignHCenter), bool(e.flags & Centred));
        QCOMPARE(found->isFlat(), !(e.flags & OrdinaryFrame));
        QCOMPARE(found->focusPolicy(), Qt::NoFocus);
    }
    QCOMPARE(groups.size(), expected);
    // The frames lie behind the controls, and a click inside a frame reaches the control under it.
    auto* list = w.get<QListWidget>(1002);
    QWidget* under = w.window.childAt(list->geometry().center());
    QVERIFY(under == list || list->isAncestorOf(under));
}

void MainWindowTest::windowHasFixedSizeTitleAndOnlyACloseBox() {
    WindowUnderTest w;
    QCOMPARE(w.window.windowTitle(), QStringLiteral("Brindlemark"));
    const Qt::WindowFlags flags = w.window.windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(flags & Qt::WindowContextHelpButtonHint));
    const QFont font = w.window.font();
    const QSize size(acrossPixels(font, 322), downPixels(font, 319));
    QCOMPARE(w.window.minimumSize(), size);
    QCOMPARE(w.window.maximumSize(), size);
    QVERIFY(!w.window.windowIcon().isNull());
}

void MainWindowTest::focusStartsOnButtonOneAndTabFollowsCreationOrder() {
    WindowUnderTest w;
    showAndActivate(w.window);
    QCOMPARE(QApplication::focusWidget(), w.window.control(1));

    // With every path field filled, every button is enabled and a tab stop (field 1006 first: only the other
    // two run the enabling rules when their text changes).
    for (int id : {1006, 1000, 1001})
        w.get<QLineEdit>(id)->setText(QStringLiteral("x"));
    const std::vector<int> expected = {1000, 1001, 1002, 1003, 4,    5,    3, 1004, 7,
                                       1009, 1010, 1011, 1006, 1007, 1008, 6, 1};
    std::vector<int> visited;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget()->property("controlId").toInt());
    }
    QCOMPARE(visited, expected);
}

void MainWindowTest::typingEnablesTheCommandButtons() {
    WindowUnderTest w;
    auto* mainPath = w.get<QLineEdit>(1000);
    auto* listPath = w.get<QLineEdit>(1001);
    typeText(mainPath, QStringLiteral("C"));
    QCOMPARE(enabledButtons(w), (Enabled{false, false, true}));
    typeText(listPath, QStringLiteral("l"));
    QCOMPARE(enabledButtons(w), (Enabled{true, false, true}));
    typeText(listPath, QStringLiteral("ist.txt"));
    QCOMPARE(listPath->text(), QStringLiteral("list.txt"));

    QTest::keyClick(mainPath, Qt::Key_Backspace);
    QVERIFY(mainPath->text().isEmpty());
    QCOMPARE(enabledButtons(w), (Enabled{false, false, false}));

    // Any character counts, Cyrillic ones too.
    typeText(mainPath, QStringLiteral("Ж:\\карты\\война.w3o"));
    QCOMPARE(mainPath->text(), QStringLiteral("Ж:\\карты\\война.w3o"));
    QCOMPARE(enabledButtons(w), (Enabled{true, false, true}));

    // Emptying the replace-list field disables Replace again.
    listPath->selectAll();
    QTest::keyClick(listPath, Qt::Key_Delete);
    QCOMPARE(enabledButtons(w), (Enabled{false, false, true}));

    // A field longer than 254 characters keeps all of its text.
    const QString longPath = QStringLiteral("/maps/") + QString(300, QLatin1Char('a')) + QStringLiteral(".txt");
    typeText(listPath, longPath);
    QCOMPARE(listPath->text(), longPath);
    QCOMPARE(enabledButtons(w), (Enabled{true, false, true}));
}

void MainWindowTest::typingAPathLoadsNothing() {
    WindowUnderTest w;
    typeText(w.get<QLineEdit>(1000), QStringLiteral("/no/such/war.w3o"));
    QVERIFY(!w.state.mainLoaded);
    QVERIFY(w.state.bundlePath.fullPath.empty());
    QVERIFY(w.presenter.messages.isEmpty());
    QVERIFY(w.chooser.calls.empty());
}

void MainWindowTest::choosingAnAddedBundleEnablesMerge() {
    WindowUnderTest w;
    typeText(w.get<QLineEdit>(1006), QStringLiteral("typed.w3o"));
    typeText(w.get<QLineEdit>(1000), QStringLiteral("main.w3o"));
    QCOMPARE(enabledButtons(w), (Enabled{false, true, true}));

    WindowUnderTest v;
    typeText(v.get<QLineEdit>(1000), QStringLiteral("main.w3o"));
    QCOMPARE(enabledButtons(v), (Enabled{false, false, true}));
    v.chooser.answers.push_back(QStringLiteral("/maps/added.w3o"));
    QTest::mouseClick(v.get<QPushButton>(1007), Qt::LeftButton);
    QCOMPARE(v.get<QLineEdit>(1006)->text(), QStringLiteral("/maps/added.w3o"));
    QCOMPARE(enabledButtons(v), (Enabled{false, true, true}));

    // Cancelling the chooser leaves the field as it was.
    QTest::mouseClick(v.get<QPushButton>(1007), Qt::LeftButton);
    QCOMPARE(v.chooser.calls.size(), std::size_t(2));
    QCOMPARE(v.get<QLineEdit>(1006)->text(), QStringLiteral("/maps/added.w3o"));
}

void MainWindowTest::togglesKeepExactlyOneChecked() {
    WindowUnderTest w;
    QTest::mouseClick(w.get<QPushButton>(1010), Qt::LeftButton);
    QCOMPARE(checkedToggles(w), std::vector<int>{1010});
    QTest::mouseClick(w.get<QPushButton>(1009), Qt::LeftButton);
    QCOMPARE(checkedToggles(w), std::vector<int>{1009});
    QTest::mouseClick(w.get<QPushButton>(1011), Qt::LeftButton);
    QCOMPARE(checkedToggles(w), std::vector<int>{1011});
    QTest::mouseClick(w.get<QPushButton>(1011), Qt::LeftButton);
    QCOMPARE(checkedToggles(w), std::vector<int>{1011});
    // The keyboard presses them as well.
    QTest::keyClick(w.get<QPushButton>(1010), Qt::Key_Space);
    QCOMPARE(checkedToggles(w), std::vector<int>{1010});
    QTest::keyClick(w.get<QPushButton>(1010), Qt::Key_Space);
    QCOMPARE(checkedToggles(w), std::vector<int>{1010});
}

void MainWindowTest::arrowKeysDoNotMoveTheToggleChoice() {
    WindowUnderTest w;
    showAndActivate(w.window);
    auto* glue = w.get<QPushButton>(1010);
    glue->setFocus();
    QTest::keyClick(glue, Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QCOMPARE(checkedToggles(w), std::vector<int>{1010});
}

void MainWindowTest::clearEmptiesTheListAndNothingElse() {
    WindowUnderTest w;
    auto* clear = w.get<QPushButton>(4);
    auto* list = w.get<QListWidget>(1002);
    QTest::mouseClick(clear, Qt::LeftButton); // an empty list stays empty
    QCOMPARE(list->count(), 0);

    typeText(w.get<QLineEdit>(1000), QStringLiteral("m"));
    typeText(w.get<QLineEdit>(1001), QStringLiteral("r"));
    for (const char* name : {"/maps/a.wct", "/maps/b.wtg"}) {
        w.chooser.answers.push_back(QString::fromUtf8(name));
        QTest::mouseClick(w.get<QPushButton>(3), Qt::LeftButton);
    }
    QCOMPARE(list->count(), 2);
    const Enabled before = enabledButtons(w);
    QCOMPARE(before, (Enabled{true, false, true}));
    QTest::mouseClick(clear, Qt::LeftButton);
    QCOMPARE(list->count(), 0);
    QCOMPARE(enabledButtons(w), before);
    QCOMPARE(w.get<QLineEdit>(1000)->text(), QStringLiteral("m"));
    QCOMPARE(w.get<QLineEdit>(1001)->text(), QStringLiteral("r"));
}

void MainWindowTest::escapeClosesAtOnce() {
    WindowUnderTest w;
    showAndActivate(w.window);
    typeText(w.get<QLineEdit>(1000), QStringLiteral("typed"));
    QTest::keyClick(w.get<QLineEdit>(1000), Qt::Key_Escape);
    QVERIFY(!w.window.isVisible());
    QCOMPARE(w.window.result(), int(QDialog::Rejected));
    QVERIFY(w.presenter.messages.isEmpty());
    QVERIFY(w.chooser.calls.empty());
}

void MainWindowTest::closeBoxClosesWithoutWriting() {
    TempDir dir;
    ObjectBundle bundle;
    put(bundle, ObjectKind::Units, makeObject("hfoo", "h000", {intField("aaaa", 1)}));
    std::string error;
    QVERIFY(bundle.save(dir / "war.w3o", error));
    const Bytes before = readAll(dir / "war.w3o");

    WindowUnderTest w;
    showAndActivate(w.window);
    w.chooser.answers.push_back(toQString(dir / "war.w3o"));
    QTest::mouseClick(w.get<QPushButton>(1), Qt::LeftButton);
    QVERIFY(w.state.mainLoaded);
    QVERIFY(w.window.close());
    QVERIFY(!w.window.isVisible());
    QCOMPARE(w.window.result(), int(QDialog::Rejected));
    QVERIFY(w.presenter.messages.isEmpty());
    QVERIFY(readAll(dir / "war.w3o") == before);
    QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()),
             std::ptrdiff_t(1));

    // The hidden cancel button closes the window the same way.
    WindowUnderTest v;
    showAndActivate(v.window);
    v.get<QPushButton>(2)->click();
    QVERIFY(!v.window.isVisible());
    QCOMPARE(v.window.result(), int(QDialog::Rejected));
}

void MainWindowTest::enterRunsTheMainChooserUnlessOnAPushButton() {
    WindowUnderTest w;
    showAndActivate(w.window);
    const QString bundleFilter = QString::fromStdString(dialogFilter(kMainChooserFilter));

    for (int id : {1000, 1001, 1006, 1003, 1002, 1009}) {
        QWidget* control = w.window.control(id);
        control->setFocus();
        QCOMPARE(QApplication::focusWidget(), control);
        const std::size_t before = w.chooser.calls.size();
        QTest::keyClick(control, Qt::Key_Return);
        QCOMPARE(w.chooser.calls.size(), before + 1);
        QCOMPARE(w.chooser.calls.back().filter, bundleFilter);
        QCOMPARE(w.chooser.calls.back().initialName, QStringLiteral("*.w3o"));
        QVERIFY(!w.chooser.calls.back().save);
    }
    QCOMPARE(checkedToggles(w), std::vector<int>{1010}); // Enter on a toggle does not press it

    // The keypad's Enter too, and the chosen file goes into field 1000.
    w.chooser.answers.push_back(QStringLiteral("/nowhere/war.w3o"));
    w.window.control(1000)->setFocus();
    QTest::keyClick(w.window.control(1000), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(w.get<QLineEdit>(1000)->text(), QStringLiteral("/nowhere/war.w3o"));
    QCOMPARE(w.presenter.messages.size(), 1); // the file does not exist

    // On a push button Enter presses that button: Clear empties the list and no chooser opens.
    w.chooser.answers.push_back(QStringLiteral("/maps/a.wct"));
    QTest::mouseClick(w.get<QPushButton>(3), Qt::LeftButton);
    QCOMPARE(w.get<QListWidget>(1002)->count(), 1);
    const std::size_t calls = w.chooser.calls.size();
    w.window.control(4)->setFocus();
    QTest::keyClick(w.window.control(4), Qt::Key_Return);
    QCOMPARE(w.get<QListWidget>(1002)->count(), 0);
    QCOMPARE(w.chooser.calls.size(), calls);
    QVERIFY(w.window.isVisible());
}

void MainWindowTest::aboutBoxOpensFromF1AndTheContextMenu() {
    WindowUnderTest w;
    QAction* about = w.window.aboutAction();
#ifdef _WIN32
    QVERIFY(!about); // the system menu carries the item
#else
    QVERIFY(about);
    QCOMPARE(about->text(), QStringLiteral("О программе Brindlemark..."));
    QVERIFY(w.window.actions().contains(about));
    QCOMPARE(w.window.contextMenuPolicy(), Qt::ActionsContextMenu);
    showAndActivate(w.window);

    QStringList titles;
    const auto record = [&titles](QWidget* modal) {
        titles.append(modal->inherits("brindlemark::AboutBox") ? modal->windowTitle() : QStringLiteral("?"));
    };
    {
        ModalCloser closer(record);
        QTest::keyClick(w.get<QLineEdit>(1000), Qt::Key_F1);
        QCOMPARE(closer.closed(), 1);
    }
    {
        ModalCloser closer(record);
        about->trigger();
        QCOMPARE(closer.closed(), 1);
    }
    QCOMPARE(titles,
             QStringList({QStringLiteral("О программе Brindlemark"), QStringLiteral("О программе Brindlemark")}));
    QVERIFY(w.window.isVisible());
    QVERIFY(w.chooser.calls.empty());
#endif
}

void MainWindowTest::everyCaptionHasGlyphsInItsFont() {
    WindowUnderTest w;
    AboutBox aboutBox;
    std::vector<std::pair<QWidget*, QString>> texts;
    texts.push_back({&w.window, w.window.windowTitle()});
    if (w.window.aboutAction())
        texts.push_back({&w.window, w.window.aboutAction()->text()});
    for (QAbstractButton* button : w.window.findChildren<QAbstractButton*>())
        texts.push_back({button, button->text()});
    for (QGroupBox* group : w.window.findChildren<QGroupBox*>())
        texts.push_back({group, group->title()});
    texts.push_back({&aboutBox, aboutBox.windowTitle()});
    for (QLabel* label : aboutBox.findChildren<QLabel*>())
        texts.push_back({label, label->text()});

    int cyrillic = 0;
    for (const auto& [widget, text] : texts) {
        const QFontMetrics metrics(widget->font());
        for (const QChar ch : text) {
            if (ch.isSpace())
                continue;
            if (ch.script() == QChar::Script_Cyrillic)
                ++cyrillic;
            QVERIFY2(metrics.inFont(ch), qPrintable(QStringLiteral("no glyph for '%1' in %2 of \"%3\"")
                                                        .arg(ch)
                                                        .arg(widget->font().family())
                                                        .arg(text)));
        }
    }
    QVERIFY(cyrillic > 200);
}

void MainWindowTest::captionsFitTheirControls() {
    WindowUnderTest w;
    const QFontMetrics metrics(w.window.font());
    for (Language language : kLanguages) {
        w.window.setLanguage(language);
        for (QPushButton* button : w.window.findChildren<QPushButton*>()) {
            QVERIFY2(metrics.horizontalAdvance(button->text()) + 4 <= button->width(), qPrintable(button->text()));
            QVERIFY2(metrics.height() <= button->height() + 2, qPrintable(button->text()));
        }
        for (QGroupBox* group : w.window.findChildren<QGroupBox*>()) {
            QFont bold = group->font();
            bold.setBold(true); // some styles draw the titles bold
            QVERIFY2(QFontMetrics(bold).horizontalAdvance(group->title()) + 16 <= group->width(),
                     qPrintable(group->title()));
        }
        for (int id : {1003, 1008}) {
            auto* box = w.get<WrappingCheckBox>(id);
            QVERIFY(box);
            const QRect area = box->captionRect();
            QVERIFY(area.width() > 0);
            const QRect needed = metrics.boundingRect(area, Qt::TextWordWrap | Qt::AlignLeft, box->text());
            QVERIFY2(needed.height() <= box->height(), qPrintable(box->text()));
            if (language == Language::Russian)
                QVERIFY(needed.height() > metrics.height()); // it does wrap onto a second line
        }
    }
}

void MainWindowTest::languageMenuRecaptionsEveryControlAtOnce() {
    RunFolderMemory settings;
    WindowUnderTest w;
    w.state.folderMemory = &settings;
    QCOMPARE(w.window.languageActions().size(), qsizetype(std::size(kLanguages)));
    QVERIFY(w.window.languageActions()[0]->isChecked()); // Russian unless chosen otherwise
    QVERIFY(w.window.actions().contains(w.window.languageActions()[1]));

    const QRegularExpression cyrillic(QStringLiteral("\\p{Cyrillic}"));
    const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    for (Language language : {Language::English, Language::Russian}) {
        QAction* item = w.window.languageActions()[static_cast<int>(language)];
        item->trigger();
        QVERIFY(item->isChecked());
        QCOMPARE(w.state.language, language); // the window's messages follow
        QCOMPARE(settings.language(), std::string(languageCode(language)));

        // Every control shows its caption in the chosen language; the group boxes are found by their place.
        QStringList captions{w.window.windowTitle()};
        if (w.window.aboutAction())
            captions.append(w.window.aboutAction()->text());
        for (const ControlEntry& entry : kMainWindowControls) {
            QWidget* control = entry.id != kNoControlId ? w.window.control(entry.id) : nullptr;
            const QRect place = w.window.dialogUnits().rect(entry.x, entry.y, entry.width, entry.height);
            for (QGroupBox* group : w.window.findChildren<QGroupBox*>())
                if (!control && group->geometry() == place)
                    control = group;
            QVERIFY(control);
            QCOMPARE(captionOf(control), textOf(language, entry.caption));
            captions.append(captionOf(control));
        }
        AboutBox about(&w.window, language);
        captions.append(about.windowTitle());
        const QString all = captions.join(QLatin1Char(' ')).remove(QStringLiteral("Brindlemark"));
        QVERIFY2(!all.contains(language == Language::English ? cyrillic : latin), qPrintable(all));
        QCOMPARE(about.windowTitle(), textOf(language, Text::AboutTitle));
    }
}

void MainWindowTest::screenshot() {
    WindowUnderTest w;
    showAndActivate(w.window);
    w.chooser.answers.push_back(QStringLiteral("C:\\maps\\trig.wct"));
    QTest::mouseClick(w.get<QPushButton>(3), Qt::LeftButton);
    QImage image;
    // mainwindow.png and aboutbox.png in Russian, mainwindow-en.png and aboutbox-en.png in English.
    for (const auto& [language, suffix] : kScreenshotLanguages) {
        w.window.setLanguage(language);
        image = w.window.grab().toImage();
        QCOMPARE(image.size() / image.devicePixelRatio(), w.window.size());
        QVERIFY(image.save(QStringLiteral(BRINDLEMARK_SCREENSHOT_DIR "/mainwindow%1.png").arg(suffix)));
        AboutBox aboutBox(&w.window, language);
        QVERIFY(aboutBox.grab().save(QStringLiteral(BRINDLEMARK_SCREENSHOT_DIR "/aboutbox%1.png").arg(suffix)));
    }

    // The list's empty rows are grey.
    auto* list = w.get<QListWidget>(1002);
    const QPoint inside =
        list->mapTo(&w.window, QPoint(list->width() / 2, list->height() - 8)) * image.devicePixelRatio();
    QCOMPARE(QColor(image.pixel(inside)), QColor(172, 172, 172));
}

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
