// The window's buttons driven end to end on real files: the choosers (answered by the test), Replace and
// Merge, with the files on disk, the backups, the rename list and the messages checked.

#include "app/qt/qtpaths.h"
#include "app/qt/settingsfoldermemory.h"
#include "core/fileio.h"
#include "tests/qt/windowfixture.h"
#include "tests/replace/bundlefixtures.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

using namespace brindlemark;
using namespace brindlemark::testing;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(MergePolicy)

namespace {

const QString kReplaceDone = QStringLiteral("Процесс изменения завершен!");
const QString kMergeDone = QStringLiteral("Процесс обьединения завершен!");

QString qtext(const fs::path& path) {
    return QString::fromStdString(pathText(path));
}

void click(const WindowUnderTest& w, int id) {
    QTest::mouseClick(w.get<QAbstractButton>(id), Qt::LeftButton);
}

// Answers the next chooser with `path` and presses button `id`.
void choose(WindowUnderTest& w, int id, const fs::path& path) {
    w.chooser.answers.push_back(toQString(path));
    click(w, id);
}

ObjectBundle loaded(const fs::path& path) {
    ObjectBundle bundle;
    const LoadResult result = bundle.load(path);
    if (!result)
        qWarning("%s", result.error.c_str());
    return bundle;
}

// "aaaa=1 cccc=3": the integer fields of an object in their order.
QString fieldsOf(const ObjectRecord& record) {
    QStringList out;
    for (const Modification& m : record.modifications())
        out.append(QStringLiteral("%1=%2").arg(QString::fromStdString(m.fieldId.text())).arg(m.intValue));
    return out.join(QLatin1Char(' '));
}

const ObjectRecord* findObject(const ObjectTable& table, const char* four) {
    for (const ObjectRecord& r : table.objects())
        if (r.effectiveId() == id(four))
            return &r;
    return nullptr;
}

std::vector<std::pair<QString, QString>> renameRows(const WindowUnderTest& w) {
    std::vector<std::pair<QString, QString>> rows;
    auto* list = w.get<QTreeWidget>(1005);
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows.emplace_back(list->topLevelItem(i)->text(0), list->topLevelItem(i)->text(1));
    return rows;
}

std::vector<std::pair<QString, QString>> rows(std::initializer_list<std::pair<const char*, const char*>> pairs) {
    std::vector<std::pair<QString, QString>> out;
    for (const auto& [from, to] : pairs)
        out.emplace_back(QString::fromUtf8(from), QString::fromUtf8(to));
    return out;
}

// A main bundle with a custom unit h000 that carries the ability A000, and that ability; a replace list that
// renames both; and side files that mention both.
struct ReplaceScene {
    TempDir dir;
    fs::path bundle;
    fs::path list;
    fs::path trigger;
    fs::path farTrigger; // in a folder with a Cyrillic name, more than 254 characters from the root
    Bytes bundleBytes;
    std::string triggerText = "xx h000 yy A000 zz";
    std::string farText = "A000|h000|A000";

    ReplaceScene() {
        ObjectBundle b;
        put(b, ObjectKind::Units, makeObject("hfoo", "h000", {idField("uabi", "A000"), intField("uhpm", 300)}));
        put(b, ObjectKind::Abilities, makeObject("AHbz", "A000", {intField("aaaa", 7)}));
        bundle = dir / "war.w3o";
        std::string error;
        if (!b.save(bundle, error))
            qFatal("%s", error.c_str());
        bundleBytes = readAll(bundle);
        list = dir / "war_IdList.txt";
        writeAll(list, std::string("h000 h00Z\r\nA000 A00Z\r\n"));
        trigger = dir / "war.wct";
        writeAll(trigger, triggerText);
        fs::path far = dir.path() / fs::path(u8"триггеры");
        for (int i = 0; i < 6; ++i)
            far /= std::string(40, static_cast<char>('a' + i));
        fs::create_directories(far);
        farTrigger = far / fs::path(u8"карта.wtg");
        writeAll(farTrigger, farText);
        if (farTrigger.native().size() <= 254)
            qFatal("the far side file's path is too short");
    }
};

} // namespace

class WindowCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void choosersProposeNamesFromTheMainBundle();
    void cancellingTheMainChooserKeepsEverything();
    void sideFilesStandNewestFirstWithDuplicates();
    void aDamagedMainBundleIsReportedAndNotOverwritten();
    void replaceRenamesPatchesAndWrites();
    void replaceWithoutBackupsOnlyRenamesInMemory();
    void aMissingReplaceListKeepsTheRenameRows();
    void mergeAppliesTheCheckedPolicy_data();
    void mergeAppliesTheCheckedPolicy();
    void mergeWithItsBackupSwitchClearDoesNothing();
    void saveIdListWritesTheChosenFile();
    void choosersOpenInTheFoldersRememberedBetweenRuns();
    void aFileGivenAtStartIsTheMainFile();
};

void WindowCommandsTest::choosersProposeNamesFromTheMainBundle() {
    TempDir dir;
    fs::create_directories(dir / "maps");
    ObjectBundle b;
    put(b, ObjectKind::Units, makeObject("hfoo", "h000", {intField("aaaa", 1)}));
    std::string error;
    QVERIFY(b.save(dir / "maps" / "war.w3o", error));

    WindowUnderTest w;
    typeText(w.get<QLineEdit>(1000), QStringLiteral("typed")); // enables button 7
    for (int id : {1, 1007, 3, 1004, 7})
        click(w, id);
    const QString bundleFilter =
        QStringLiteral("Warcraft 3 Object File, (*.W3O) (*.w3o);;"
                       "Warcraft 3 Object File of one kind, (*.W3U,*.W3T,*.W3B,*.W3D,*.W3A,*.W3H,*.W3Q) "
                       "(*.w3u *.w3t *.w3b *.w3d *.w3a *.w3h *.w3q)");
    const QString mainFilter =
        bundleFilter + QStringLiteral(";;Warcraft 3 Map, (*.W3X,*.W3M,WAR3MAP.W3I) (*.w3x *.w3m war3map.w3i)");
    const QString triggerFilter =
        QStringLiteral("Warcraft Trigger Files, (*.WCT,*.WTG) (*.WCT *.WTG);;All Files, (*.*) (*.*)");
    const QString textFilter = QStringLiteral("TXT File, (*.TXT) (*.txt);;All Files, (*.*) (*.*)");
    QCOMPARE(w.chooser.calls.size(), std::size_t(5));
    const auto expectCall = [&](std::size_t i, bool save, const QString& filter, const QString& name) {
        QCOMPARE(w.chooser.calls[i].save, save);
        QCOMPARE(w.chooser.calls[i].filter, filter);
        QCOMPARE(w.chooser.calls[i].initialName, name);
    };
    expectCall(0, false, mainFilter, QStringLiteral("*.w3o"));
    expectCall(1, false, bundleFilter, QStringLiteral("*.w3o"));
    expectCall(2, false, triggerFilter, QStringLiteral(".wct"));
    expectCall(3, false, textFilter, QStringLiteral("_IdList.txt"));
    expectCall(4, true, textFilter, QStringLiteral("_IdList.txt"));

    w.chooser.calls.clear();
    choose(w, 1, dir / "maps" / "war.w3o");
    QCOMPARE(w.get<QLineEdit>(1000)->text(), toQString(dir / "maps" / "war.w3o"));
    QVERIFY(w.state.mainLoaded);
    QVERIFY(w.presenter.messages.isEmpty());
    for (int id : {1007, 3, 1004, 7})
        click(w, id);
    expectCall(1, false, bundleFilter, QStringLiteral("*.w3o"));
    expectCall(2, false, triggerFilter, QStringLiteral("war.wct"));
    expectCall(3, false, textFilter, QStringLiteral("war_IdList.txt"));
    expectCall(4, true, textFilter, QStringLiteral("war_IdList.txt"));
    // Every chooser above was cancelled: nothing changed.
    QVERIFY(w.get<QLineEdit>(1001)->text().isEmpty());
    QVERIFY(w.get<QLineEdit>(1006)->text().isEmpty());
    QCOMPARE(w.get<QListWidget>(1002)->count(), 0);
    QVERIFY(!fs::exists(dir / "maps" / "war_IdList.txt"));

    // A map folder is chosen through the war3map.w3i it holds: the folder is the main file.
    const fs::path folder = dir / "maps" / "Карта.w3x";
    fs::create_directories(folder);
    writeAll(folder / "war3map.w3i", std::string("info"));
    choose(w, 1, folder / "war3map.w3i");
    QCOMPARE(w.get<QLineEdit>(1000)->text(), toQString(folder));
    QCOMPARE(w.state.bundlePath.fullPath, folder);
    click(w, 7);
    QCOMPARE(w.chooser.calls.back().initialName, QStringLiteral("Карта_IdList.txt"));
}

void WindowCommandsTest::cancellingTheMainChooserKeepsEverything() {
    ReplaceScene scene;
    WindowUnderTest w;
    choose(w, 1, scene.bundle);
    typeText(w.get<QLineEdit>(1000), QStringLiteral("-edited"));
    click(w, 1); // cancelled
    QCOMPARE(w.get<QLineEdit>(1000)->text(), toQString(scene.bundle) + QStringLiteral("-edited"));
    QVERIFY(w.state.mainLoaded);
    QCOMPARE(w.state.bundlePath.fullPath, scene.bundle);
    QVERIFY(findObject(w.state.bundle.kind(ObjectKind::Units).file.customTable, "h000"));
}

void WindowCommandsTest::sideFilesStandNewestFirstWithDuplicates() {
    WindowUnderTest w;
    // Field 1000 gets text without running the enabling rules: adding rows must not run them either.
    auto* mainPath = w.get<QLineEdit>(1000);
    mainPath->blockSignals(true);
    mainPath->setText(QStringLiteral("war.w3o"));
    mainPath->blockSignals(false);
    QVERIFY(!w.get<QPushButton>(7)->isEnabled());

    for (const char* name : {"/maps/a.wct", "/maps/b.wtg", "/maps/a.wct", "/карты/в.wct"})
        choose(w, 3, fs::path(reinterpret_cast<const char8_t*>(name)));
    auto* list = w.get<QListWidget>(1002);
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    QCOMPARE(texts, QStringList({QStringLiteral("/карты/в.wct"), QStringLiteral("/maps/a.wct"),
                                 QStringLiteral("/maps/b.wtg"), QStringLiteral("/maps/a.wct")}));
    QVERIFY(!w.get<QPushButton>(7)->isEnabled());

    click(w, 3); // cancelled: no row
    QCOMPARE(list->count(), 4);
}

void WindowCommandsTest::aDamagedMainBundleIsReportedAndNotOverwritten() {
    TempDir dir;
    const fs::path damaged = dir / "cut.w3o";
    writeAll(damaged, std::string("\x01\x00\x00\x00\x01\x00\x00", 7));
    writeAll(dir / "list.txt", std::string("hfoo h001"));

    WindowUnderTest w;
    choose(w, 1, damaged);
    QCOMPARE(w.get<QLineEdit>(1000)->text(), toQString(damaged));
    QVERIFY(w.get<QPushButton>(7)->isEnabled());
    QVERIFY(!w.state.mainLoaded);
    QCOMPARE(w.presenter.messages.size(), 1);
    QVERIFY(w.presenter.messages[0].startsWith(qtext(damaged)));

    choose(w, 1004, dir / "list.txt");
    QVERIFY(w.get<QPushButton>(5)->isEnabled());
    click(w, 5);
    QCOMPARE(w.presenter.messages.size(), 2);
    QCOMPARE(w.presenter.messages[1], QStringLiteral("Main object file ") + qtext(damaged) +
                                          QStringLiteral(" was not loaded; nothing was written"));
    QCOMPARE(readAll(damaged).size(), std::size_t(7));
    QVERIFY(!fs::exists(dir / "BACKUP_cut.w3o"));
}

void WindowCommandsTest::replaceRenamesPatchesAndWrites() {
    ReplaceScene scene;
    WindowUnderTest w;
    choose(w, 1, scene.bundle);
    choose(w, 3, scene.trigger);
    choose(w, 3, scene.farTrigger);
    QVERIFY(!w.get<QPushButton>(5)->isEnabled());
    choose(w, 1004, scene.list);
    QCOMPARE(w.get<QLineEdit>(1001)->text(), toQString(scene.list));
    QVERIFY(w.get<QPushButton>(5)->isEnabled());

    click(w, 5);
    QCOMPARE(w.presenter.messages.size(), 1);
    QVERIFY(w.presenter.messages[0].startsWith(kReplaceDone));
    QCOMPARE(renameRows(w), rows({{"h000", "h00Z"}, {"A000", "A00Z"}}));

    // The bundle on disk carries the new ids and the reference to the renamed ability; its backup is the old
    // file.
    QVERIFY(readAll(scene.dir / "BACKUP_war.w3o") == scene.bundleBytes);
    const ObjectBundle written = loaded(scene.bundle);
    QCOMPARE(tableIds(written.kind(ObjectKind::Units).file.customTable), std::vector<std::string>{"h00Z"});
    QCOMPARE(tableIds(written.kind(ObjectKind::Abilities).file.customTable), std::vector<std::string>{"A00Z"});
    QCOMPARE(idValueOf(*findObject(written.kind(ObjectKind::Units).file.customTable, "h00Z"), "uabi"),
             std::string("A00Z"));

    // Both side files are patched, each backed up as it was, the far one despite its long non-ASCII path.
    const auto text = [](const fs::path& p) {
        const Bytes bytes = readAll(p);
        return std::string(bytes.begin(), bytes.end());
    };
    QCOMPARE(text(scene.trigger), std::string("xx h00Z yy A00Z zz"));
    QCOMPARE(text(scene.dir / "BACKUP_war.wct"), scene.triggerText);
    QCOMPARE(text(scene.farTrigger), std::string("A00Z|h00Z|A00Z"));
    QCOMPARE(text(scene.farTrigger.parent_path() / fs::path(u8"BACKUP_карта.wtg")), scene.farText);
}

void WindowCommandsTest::replaceWithoutBackupsOnlyRenamesInMemory() {
    ReplaceScene scene;
    WindowUnderTest w;
    choose(w, 1, scene.bundle);
    choose(w, 3, scene.trigger);
    choose(w, 1004, scene.list);
    click(w, 1003);
    QVERIFY(!w.get<QCheckBox>(1003)->isChecked());

    click(w, 5);
    QVERIFY(w.presenter.messages.isEmpty());
    QCOMPARE(renameRows(w), rows({{"h000", "h00Z"}, {"A000", "A00Z"}}));
    QVERIFY(findObject(w.state.bundle.kind(ObjectKind::Units).file.customTable, "h00Z"));
    QVERIFY(readAll(scene.bundle) == scene.bundleBytes);
    QVERIFY(readAll(scene.trigger) == Bytes(scene.triggerText.begin(), scene.triggerText.end()));
    QVERIFY(!fs::exists(scene.dir / "BACKUP_war.w3o"));
    QVERIFY(!fs::exists(scene.dir / "BACKUP_war.wct"));

    // With backups on again, the list meets the renamed bundle: nothing more to rename, and the bundle is
    // written.
    click(w, 1003);
    click(w, 5);
    QCOMPARE(w.presenter.messages.size(), 1);
    QVERIFY(w.presenter.messages[0].startsWith(kReplaceDone));
    QVERIFY(renameRows(w).empty());
    QCOMPARE(tableIds(loaded(scene.bundle).kind(ObjectKind::Units).file.customTable), std::vector<std::string>{"h00Z"});
    QVERIFY(readAll(scene.dir / "BACKUP_war.w3o") == scene.bundleBytes);
}

void WindowCommandsTest::aMissingReplaceListKeepsTheRenameRows() {
    ReplaceScene scene;
    WindowUnderTest w;
    choose(w, 1, scene.bundle);
    choose(w, 1004, scene.list);
    click(w, 5);
    QCOMPARE(renameRows(w).size(), std::size_t(2));

    const fs::path missing = scene.dir / "missing.txt";
    choose(w, 1004, missing);
    w.presenter.messages.clear();
    click(w, 5);
    QCOMPARE(w.presenter.messages, QStringList({QStringLiteral("Sorry, can't open Replace List file ") +
                                                qtext(missing) + QStringLiteral(" (No such file or directory)")}));
    QCOMPARE(renameRows(w), rows({{"h000", "h00Z"}, {"A000", "A00Z"}}));
}

void WindowCommandsTest::mergeAppliesTheCheckedPolicy_data() {
    QTest::addColumn<int>("toggle");
    QTest::addColumn<MergePolicy>("policy");
    QTest::addColumn<QString>("fields");
    QTest::addColumn<QString>("counts");
    // Main h000: aaaa=1 cccc=3. Added h000: aaaa=10 bbbb=20, and h001, which every policy adds.
    QTest::newRow("overwrite") << 1009 << MergePolicy::Overwrite << QStringLiteral("aaaa=10 bbbb=20")
                               << QStringLiteral("добавлено: 1, перезаписано: 1, склеено: 0, оставлено: 0.");
    QTest::newRow("glue") << 1010 << MergePolicy::Glue << QStringLiteral("aaaa=10 bbbb=20 cccc=3")
                          << QStringLiteral("добавлено: 1, перезаписано: 0, склеено: 1, оставлено: 0.");
    QTest::newRow("keep") << 1011 << MergePolicy::Keep << QStringLiteral("aaaa=1 cccc=3")
                          << QStringLiteral("добавлено: 1, перезаписано: 0, склеено: 0, оставлено: 1.");
}

void WindowCommandsTest::mergeAppliesTheCheckedPolicy() {
    QFETCH(int, toggle);
    QFETCH(MergePolicy, policy);
    QFETCH(QString, fields);
    QFETCH(QString, counts);

    TempDir dir;
    const fs::path folder = dir.path() / fs::path(u8"карты");
    fs::create_directories(folder);
    const fs::path mainFile = folder / fs::path(u8"война.w3o");
    const fs::path addedFile = folder / fs::path(u8"добавка.w3o");
    ObjectBundle main;
    put(main, ObjectKind::Units, makeObject("hfoo", "h000", {intField("aaaa", 1), intField("cccc", 3)}));
    put(main, ObjectKind::Abilities, makeObject("AHbz", "A000", {intField("aaaa", 7)}));
    ObjectBundle added;
    put(added, ObjectKind::Units, makeObject("hkni", "h000", {intField("aaaa", 10), intField("bbbb", 20)}));
    put(added, ObjectKind::Units, makeObject("hpea", "h001", {intField("aaaa", 5)}));
    std::string error;
    QVERIFY(main.save(mainFile, error));
    QVERIFY(added.save(addedFile, error));
    const Bytes mainBytes = readAll(mainFile);

    WindowUnderTest w;
    choose(w, 1, mainFile);
    QVERIFY(w.state.mainLoaded);
    QVERIFY(!w.get<QPushButton>(6)->isEnabled());
    choose(w, 1007, addedFile);
    QVERIFY(w.get<QPushButton>(6)->isEnabled());
    click(w, toggle);
    click(w, 6);

    QCOMPARE(w.presenter.messages, QStringList{kMergeDone + QStringLiteral(" Юниты — ") + counts});
    QCOMPARE(w.state.mergePolicy, policy);
    QVERIFY(readAll(folder / fs::path(u8"BACKUP_война.w3o")) == mainBytes);
    const ObjectBundle written = loaded(mainFile);
    const ObjectTable& units = written.kind(ObjectKind::Units).file.customTable;
    QCOMPARE(tableIds(units), (std::vector<std::string>{"h000", "h001"}));
    QCOMPARE(fieldsOf(*findObject(units, "h000")), fields);
    QCOMPARE(tableIds(written.kind(ObjectKind::Abilities).file.customTable), std::vector<std::string>{"A000"});
}

void WindowCommandsTest::mergeWithItsBackupSwitchClearDoesNothing() {
    TempDir dir;
    ObjectBundle main;
    put(main, ObjectKind::Units, makeObject("hfoo", "h000", {intField("aaaa", 1)}));
    ObjectBundle added;
    put(added, ObjectKind::Units, makeObject("hpea", "h001", {intField("aaaa", 5)}));
    std::string error;
    QVERIFY(main.save(dir / "main.w3o", error));
    QVERIFY(added.save(dir / "added.w3o", error));
    const Bytes mainBytes = readAll(dir / "main.w3o");

    WindowUnderTest w;
    choose(w, 1, dir / "main.w3o");
    choose(w, 1007, dir / "added.w3o");
    click(w, 1011);
    click(w, 1008);
    QVERIFY(!w.get<QCheckBox>(1008)->isChecked());
    QVERIFY(w.get<QCheckBox>(1003)->isChecked()); // the two switches are separate
    click(w, 6);
    QVERIFY(w.presenter.messages.isEmpty());
    QVERIFY(readAll(dir / "main.w3o") == mainBytes);
    QVERIFY(!fs::exists(dir / "BACKUP_main.w3o"));
    QCOMPARE(tableIds(w.state.bundle.kind(ObjectKind::Units).file.customTable), std::vector<std::string>{"h000"});
    QCOMPARE(w.state.mergePolicy, MergePolicy::Glue);
}

void WindowCommandsTest::saveIdListWritesTheChosenFile() {
    TempDir dir;
    const fs::path mainFile = dir.path() / fs::path(u8"война.w3o");
    ObjectBundle main;
    put(main, ObjectKind::Units, makeObject("hfoo", "h000", {textField("unam", "Captain")}));
    std::string error;
    QVERIFY(main.save(mainFile, error));

    WindowUnderTest w;
    choose(w, 1, mainFile);
    const fs::path listFile = dir.path() / fs::path(u8"список.txt");
    choose(w, 7, listFile);
    QCOMPARE(w.chooser.calls.back().initialName, QStringLiteral("война_IdList.txt"));
    QVERIFY(w.chooser.calls.back().save);
    QVERIFY(w.presenter.messages.isEmpty());
    const Bytes bytes = readAll(listFile);
    const std::string text(bytes.begin(), bytes.end());
    QVERIFY2(text.find("h000") != std::string::npos, text.c_str());

    // A folder that does not exist: the failure is reported.
    choose(w, 7, dir / "nowhere" / "ids.txt");
    QCOMPARE(w.presenter.messages,
             QStringList{QStringLiteral("Failed to write identifier list ") + qtext(dir / "nowhere" / "ids.txt") +
                         QStringLiteral(" (No such file or directory)")});
}

void WindowCommandsTest::choosersOpenInTheFoldersRememberedBetweenRuns() {
    TempDir dir;
    fs::create_directories(dir / "maps");
    fs::create_directories(dir / "lists");
    ObjectBundle b;
    put(b, ObjectKind::Units, makeObject("hfoo", "h000", {intField("aaaa", 1)}));
    std::string error;
    QVERIFY(b.save(dir / "maps" / "war.w3o", error));
    const QString settingsFile = qtext(dir / "settings.ini");
    {
        SettingsFolderMemory memory(settingsFile);
        WindowUnderTest w;
        w.state.folderMemory = &memory;
        w.chooser.nameFilterAnswers = {QStringLiteral("All Files, (*.*)")};
        choose(w, 1004, dir / "lists" / "war_IdList.txt");
        choose(w, 3, dir / "lists" / "war.wct");
        click(w, 1007); // cancelled: remembers nothing
        QCOMPARE(w.chooser.calls[0].folder, QString());
    }
    // The next run: every chooser opens where a file was last chosen in it; the ID list beside the main file.
    SettingsFolderMemory memory(settingsFile);
    WindowUnderTest w;
    w.state.folderMemory = &memory;
    for (int id : {1004, 3, 1007, 1})
        click(w, id);
    choose(w, 1, dir / "maps" / "war.w3o");
    w.get<QLineEdit>(1000)->setText(QStringLiteral("war.w3o")); // enables button 7
    click(w, 7);
    click(w, 1);
    QStringList folders;
    for (const ChooserCall& call : w.chooser.calls)
        folders.append(call.folder);
    QCOMPARE(folders, QStringList({qtext(dir / "lists"), qtext(dir / "lists"), QString(), QString(), QString(),
                                   qtext(dir / "maps"), qtext(dir / "maps")}));
    // The replace list's chooser selects the filter entry it was last confirmed with; the others their first.
    QCOMPARE(w.chooser.calls[0].nameFilter, QStringLiteral("All Files, (*.*)"));
    QCOMPARE(w.chooser.calls[1].nameFilter, QString());
}

void WindowCommandsTest::aFileGivenAtStartIsTheMainFile() {
    ReplaceScene scene;
    WindowUnderTest w;
    // Given as "folder/../folder/file", it is shown and opened as "folder/file".
    w.window.openMainFile(scene.bundle.parent_path() / ".." / scene.bundle.parent_path().filename() /
                          scene.bundle.filename());
    QCOMPARE(w.get<QLineEdit>(1000)->text(), qtext(scene.bundle));
    QVERIFY(w.get<QPushButton>(7)->isEnabled());
    QVERIFY(w.state.mainLoaded);
    QCOMPARE(w.state.bundlePath.fullPath, scene.bundle);
}

QTEST_MAIN(WindowCommandsTest)
#include "windowcommands_test.moc"
