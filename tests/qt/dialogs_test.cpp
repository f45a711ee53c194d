// The pieces under the window: the real message box and file dialogs, the About box, the icon, the
// system-menu command ids, dialog units and the path conversion.

#include "app/qt/aboutbox.h"
#include "app/qt/appicon.h"
#include "app/qt/dialogunits.h"
#include "app/qt/qtpaths.h"
#include "app/qt/systemmenu.h"
#include "tests/qt/windowfixture.h"
#include "tests/support/testsupport.h"

#include "brindlemarkversion.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

using namespace brindlemark;
using namespace brindlemark::testing;
namespace fs = std::filesystem;

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    void messageBoxHasTheProgramsNameOneButtonAndNoIcon();
    void openChooserAcceptsOnlyExistingFiles();
    void saveChooserAsksBeforeOverwriting();
    void aboutBoxLayout();
    void aboutBoxClosesOnEnterAndEscape();
    void iconIs32By32WithoutTransparency();
    void systemMenuCommandsSixteenToThirtyOneAreAbout();
    void dialogUnitsRoundToTheNearestPixel();
    void pathsKeepEveryCharacter();
};

void DialogsTest::messageBoxHasTheProgramsNameOneButtonAndNoIcon() {
    QCOMPARE(MessageBoxPresenter::caption(), QStringLiteral(BRINDLEMARK_TEST_PROGRAM));

    QWidget parent;
    parent.show();
    QString className, title, text;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QList<QAbstractButton*> buttons;
    QMessageBox::StandardButton okRole = QMessageBox::NoButton;
    QWidget* boxParent = nullptr;
    ModalCloser closer([&](QWidget* modal) {
        className = QString::fromLatin1(modal->metaObject()->className());
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->buttons();
        if (!buttons.isEmpty())
            okRole = box->standardButton(buttons.first());
        boxParent = box->parentWidget();
        if (!buttons.isEmpty())
            buttons.first()->click();
    });
    MessageBoxPresenter().show(&parent, QStringLiteral("Процесс изменения завершен!"));
    QCOMPARE(closer.closed(), 1);
    QCOMPARE(className, QStringLiteral("QMessageBox"));
    QCOMPARE(title, QStringLiteral(BRINDLEMARK_TEST_PROGRAM));
    QCOMPARE(text, QStringLiteral("Процесс изменения завершен!"));
    QCOMPARE(icon, QMessageBox::NoIcon);
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(okRole, QMessageBox::Ok);
    QCOMPARE(boxParent, &parent);
}

void DialogsTest::openChooserAcceptsOnlyExistingFiles() {
    TempDir dir;
    const fs::path file = dir.path() / fs::path(u8"война.w3o");
    writeAll(file, std::string("x"));

    QWidget parent;
    bool sawDialog = false;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QFileDialog::AcceptMode accept = QFileDialog::AcceptSave;
    // An entry the filter does not hold selects the first; the one the user leaves selected comes back.
    const QString objectFilter = QStringLiteral("Warcraft 3 Object File, (*.W3O) (*.w3o)");
    const QString allFilter = QStringLiteral("All Files, (*.*) (*.*)");
    QString selectedAtFirst;
    QString nameFilter = QStringLiteral("Warcraft 3 Map, (*.W3X) (*.w3x)");
    QStringList filters;
    QString proposed;
    ModalCloser closer([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog)
            return;
        sawDialog = true;
        mode = dialog->fileMode();
        accept = dialog->acceptMode();
        filters = dialog->nameFilters();
        selectedAtFirst = dialog->selectedNameFilter();
        // Typed, as a user would: selectFile() can lose to the folder's listing, which comes in later.
        if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            proposed = edit->text();
            edit->setText(toQString(file));
        }
        static_cast<QDialog*>(dialog)->accept();
    });
    const std::optional<QString> chosen =
        DialogFileChooser().openFile(&parent, objectFilter + QStringLiteral(";;") + allFilter, QStringLiteral("*.w3o"),
                                     toQString(dir.path()), nameFilter);
    QCOMPARE(closer.closed(), 1);
    QVERIFY(sawDialog);
    QCOMPARE(mode, QFileDialog::ExistingFile);
    QCOMPARE(accept, QFileDialog::AcceptOpen);
    QCOMPARE(filters, QStringList({objectFilter, allFilter}));
    QCOMPARE(proposed, QStringLiteral("*.w3o"));
    QCOMPARE(selectedAtFirst, objectFilter);
    QCOMPARE(nameFilter, objectFilter);
    QVERIFY(chosen.has_value());
    QVERIFY(fs::equivalent(toPath(*chosen), file));
}

void DialogsTest::saveChooserAsksBeforeOverwriting() {
    QWidget parent;
    bool sawDialog = false;
    bool confirms = false;
    QFileDialog::AcceptMode accept = QFileDialog::AcceptOpen;
    QStringList filters;
    QString proposed;
    QString selectedAtFirst;
    ModalCloser closer([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog)
            return;
        sawDialog = true;
        confirms = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        accept = dialog->acceptMode();
        filters = dialog->nameFilters();
        if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            proposed = edit->text();
        selectedAtFirst = dialog->selectedNameFilter();
        dialog->reject();
    });
    // The entry remembered from the last time is selected at first, and stays remembered when cancelled.
    QString nameFilter = QStringLiteral("All Files, (*.*) (*.*)");
    const std::optional<QString> chosen =
        DialogFileChooser().saveFile(&parent, QStringLiteral("TXT File, (*.TXT) (*.txt);;All Files, (*.*) (*.*)"),
                                     QStringLiteral("war_IdList.txt"), QString(), nameFilter);
    QCOMPARE(closer.closed(), 1);
    QVERIFY(sawDialog);
    QVERIFY(confirms);
    QCOMPARE(accept, QFileDialog::AcceptSave);
    QCOMPARE(filters,
             QStringList({QStringLiteral("TXT File, (*.TXT) (*.txt)"), QStringLiteral("All Files, (*.*) (*.*)")}));
    QCOMPARE(proposed, QStringLiteral("war_IdList.txt"));
    QVERIFY(!chosen.has_value()); // cancelled
    QCOMPARE(selectedAtFirst, QStringLiteral("All Files, (*.*) (*.*)"));
    QCOMPARE(nameFilter, QStringLiteral("All Files, (*.*) (*.*)"));
}

void DialogsTest::aboutBoxLayout() {
    AboutBox box;
    const DialogUnits& units = box.dialogUnits();
    const int letters = QFontMetrics(box.font())
                            .horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    QCOMPARE(units.charWidth(), qRound(letters / 52.0));
    QCOMPARE(units.charHeight(), QFontMetrics(box.font()).height());
    QCOMPARE(box.windowTitle(), QStringLiteral("О программе Brindlemark"));
    QCOMPARE(box.minimumSize(), units.size(169, 110));
    QCOMPARE(box.maximumSize(), units.size(169, 110));
    QVERIFY(box.isModal());
    QVERIFY(box.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(box.windowFlags() & Qt::WindowContextHelpButtonHint));
    QVERIFY(box.findChildren<QAbstractButton*>().isEmpty());
    QVERIFY(box.findChildren<QLineEdit*>().isEmpty());

    auto* icon = box.findChild<QLabel*>(QStringLiteral("icon"));
    QVERIFY(icon);
    QCOMPARE(icon->geometry(), units.rect(11, 17, 20, 20));
    QCOMPARE(icon->pixmap().size(), QSize(32, 32));

    struct Line {
        const char* text;
        int x, y;
    };
    // The program's own version, and no contact: the project has no public address.
    const Line lines[] = {{"Brindlemark", 42, 6}, {"Версия " BRINDLEMARK_VERSION_TEXT, 42, 16},
                          {nullptr, 42, 27},      {"Thanks to", 7, 72},
                          {nullptr, 42, 81},      {nullptr, 42, 91}};
    QList<QLabel*> labels;
    for (QLabel* label : box.findChildren<QLabel*>())
        if (label != icon)
            labels.append(label);
    QCOMPARE(labels.size(), qsizetype(std::size(lines)));
    for (std::size_t i = 0; i < std::size(lines); ++i) {
        QLabel* label = labels[qsizetype(i)];
        QVERIFY(!label->text().isEmpty());
        QVERIFY(!label->text().contains(QLatin1Char('&')) || label->textFormat() == Qt::PlainText);
        if (lines[i].text)
            QCOMPARE(label->text(), QString::fromUtf8(lines[i].text));
        QCOMPARE(label->geometry().topLeft(), QPoint(units.x(lines[i].x), units.y(lines[i].y)));
        QCOMPARE(label->height(), units.y(10));
        QVERIFY(label->geometry().right() < box.width());
        QVERIFY2(QFontMetrics(label->font()).horizontalAdvance(label->text()) <= label->width(),
                 qPrintable(label->text()));
    }
    QVERIFY(labels[3]->alignment() & Qt::AlignHCenter);
    QVERIFY(labels[2]->text().contains(QStringLiteral("2026")));
    for (QLabel* label : labels)
        QVERIFY2(!label->text().contains(QLatin1Char('@')) && !label->text().contains(QStringLiteral("http")),
                 qPrintable(label->text()));
}

void DialogsTest::aboutBoxClosesOnEnterAndEscape() {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        AboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QTest::keyClick(&box, key);
        QVERIFY(!box.isVisible());
    }
    AboutBox box;
    box.show();
    QVERIFY(box.close());
    QVERIFY(!box.isVisible());
}

void DialogsTest::iconIs32By32WithoutTransparency() {
    const QPixmap pixmap = applicationPixmap();
    QVERIFY(!pixmap.isNull());
    QCOMPARE(pixmap.size(), QSize(32, 32));
    const QImage image = pixmap.toImage();
    QVERIFY(!image.hasAlphaChannel());
    // A picture, not one flat colour.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    QVERIFY(colours.size() > 16);
    QVERIFY(!applicationIcon().isNull());
}

void DialogsTest::systemMenuCommandsSixteenToThirtyOneAreAbout() {
    for (unsigned id = 16; id <= 31; ++id)
        QVERIFY(systemmenu::isAboutCommand(id));
    for (unsigned id : {0u, 15u, 32u, 0xF060u, 0xF010u, 0x10010u + 0x20u})
        QVERIFY(!systemmenu::isAboutCommand(id));
    QVERIFY(systemmenu::isAboutCommand(0x10010u)); // only the low 16 bits count
#ifndef _WIN32
    QWidget window;
    QVERIFY(!systemmenu::appendAboutItem(&window, QStringLiteral("О программе Brindlemark...")));
    QVERIFY(!systemmenu::isAboutEvent("windows_generic_MSG", nullptr));
#endif
}

void DialogsTest::dialogUnitsRoundToTheNearestPixel() {
    // The usual 8-point dialog font: 6 pixels across, 13 down.
    const DialogUnits units(6, 13);
    QCOMPARE(units.size(322, 319), QSize(483, 518));               // 483, 518.375
    QCOMPARE(units.rect(295, 11, 20, 16), QRect(443, 18, 30, 26)); // 442.5, 17.875, 30, 26
    QCOMPARE(units.x(1), 2);                                       // 1.5 rounds up
    QCOMPARE(units.y(3), 5);                                       // 4.875
    QCOMPARE(units.y(4), 7);                                       // 6.5
    QCOMPARE(units.x(-1), -2);                                     // half away from zero
    const DialogUnits wide(7, 16);
    QCOMPARE(wide.rect(6, 12, 286, 15), QRect(11, 24, 501, 30)); // 10.5, 24, 500.5, 30
}

void DialogsTest::pathsKeepEveryCharacter() {
    const QString cyrillic = QStringLiteral("/tmp/карты/война ☃.w3o");
    QCOMPARE(toQString(toPath(cyrillic)), cyrillic);
    QCOMPARE(toPath(cyrillic), fs::path(u8"/tmp/карты/война ☃.w3o"));
    const QString longPath = QStringLiteral("/maps/") + QString(400, QChar(0x0436)) + QStringLiteral(".wct");
    QCOMPARE(toQString(toPath(longPath)), longPath);
    QCOMPARE(toPath(longPath).filename().u8string().size(), std::size_t(400 * 2 + 4));

    TempDir dir;
    const fs::path file = dir.path() / fs::path(u8"файл.txt");
    writeAll(file, std::string("x"));
    QVERIFY(QFileInfo::exists(toQString(file)));
    QVERIFY(fs::exists(toPath(toQString(dir.path()) + QStringLiteral("/файл.txt"))));
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
