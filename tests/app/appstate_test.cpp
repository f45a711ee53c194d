#include "app/appstate.h"
#include "app/windowcontroller.h"
#include "app/windowlayout.h"

#include "core/fileio.h"
#include "document/mainform.h"
#if BRINDLEMARK_HAVE_ARCHIVES
#include "archive/maparchive.h"
#include "tests/map/archivebuilder.h"
#endif
#include "tests/replace/bundlefixtures.h"

#include "tests/support/recordingsink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace brindlemark {
namespace {

using namespace testing;
namespace fs = std::filesystem;

TEST(UpdateButtons, FollowTheLengthsOfTheThreeFields) {
    EXPECT_EQ(updateButtons(0, 0, 0), (ButtonStates{false, false, false}));
    EXPECT_EQ(updateButtons(1, 0, 0), (ButtonStates{true, false, false}));
    EXPECT_EQ(updateButtons(1, 1, 0), (ButtonStates{true, false, true}));
    EXPECT_EQ(updateButtons(1, 0, 1), (ButtonStates{true, true, false}));
    EXPECT_EQ(updateButtons(0, 5, 5), (ButtonStates{false, false, false}));
}

// A window of fields and marks only, which the controller drives as it drives both real windows.
class FakeView final : public WindowView {
public:
    std::map<ControlId, fs::path> fields;
    std::map<ControlId, bool> checked{{ControlId::Glue, true}};
    std::map<ControlId, bool> enabled;

    fs::path fieldText(ControlId field) const override {
        return fields.contains(field) ? fields.at(field) : fs::path();
    }
    void setFieldText(ControlId field, const fs::path& text) override { fields[field] = text; }
    std::vector<fs::path> listRows(ControlId) const override { return {}; }
    void setListRows(ControlId, const std::vector<fs::path>&) override {}
    void setReportRows(ControlId, const std::vector<std::array<std::string, 2>>&) override {}
    bool isChecked(ControlId control) const override { return checked.contains(control) && checked.at(control); }
    void setChecked(ControlId control, bool mark) override { checked[control] = mark; }
    void setEnabled(ControlId control, bool on) override { enabled[control] = on; }
    std::optional<fs::path> askFile(const ChooserQuestion&, std::string&) override { return std::nullopt; }
    void showMessage(const std::string&) override {}
};

// The three fields typed into, then the buttons 5, 6 and 7 as the controller enables them; then the toggles
// clicked in turn (each click flips its own mark first, as the platforms do), then the marks of 1009, 1010,
// 1011 and the policy a Merge takes.
TEST(WindowController, EnablesTheCommandsAndKeepsOneToggleChecked) {
    const struct {
        const char *main, *list, *added, *buttons;
        std::vector<ControlId> clicks;
        const char* marks;
        MergePolicy policy;
    } cases[] = {
        {"", "", "", "---", {}, "-G-", MergePolicy::Glue},
        {"m", "", "", "--7", {ControlId::Overwrite}, "O--", MergePolicy::Overwrite},
        {"m", "l", "", "5-7", {ControlId::Keep}, "--K", MergePolicy::Keep},
        {"m", "", "a", "-67", {ControlId::Glue}, "-G-", MergePolicy::Glue},
        {"", "l", "a", "---", {ControlId::Keep, ControlId::Keep}, "--K", MergePolicy::Keep},
        {"m",
         "l",
         "a",
         "567",
         {ControlId::Keep, ControlId::Overwrite, ControlId::Overwrite},
         "O--",
         MergePolicy::Overwrite},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.main) + "|" + c.list + "|" + c.added);
        AppState state;
        FakeView view;
        WindowController controller(state, view);
        view.fields = {
            {ControlId::MainPath, c.main}, {ControlId::ReplaceListPath, c.list}, {ControlId::AddedPath, c.added}};
        controller.fieldChanged();
        const auto mark = [](ControlId id, char on, std::map<ControlId, bool>& marks) { return marks[id] ? on : '-'; };
        EXPECT_EQ(std::string({mark(ControlId::Replace, '5', view.enabled), mark(ControlId::Merge, '6', view.enabled),
                               mark(ControlId::SaveIdList, '7', view.enabled)}),
                  c.buttons);
        for (ControlId toggle : c.clicks) {
            view.checked[toggle] = !view.checked[toggle];
            controller.clicked(toggle);
        }
        EXPECT_EQ(std::string({mark(ControlId::Overwrite, 'O', view.checked), mark(ControlId::Glue, 'G', view.checked),
                               mark(ControlId::Keep, 'K', view.checked)}),
                  c.marks);
        EXPECT_EQ(controller.checkedPolicy(), c.policy);
    }
}

TEST(Filters, BecomeDialogFiltersKeepingTheirTexts) {
    EXPECT_EQ(dialogFilter(kBundleFilter), "Warcraft 3 Object File, (*.W3O) (*.w3o)");
    EXPECT_EQ(dialogFilter(kTriggerFilter),
              "Warcraft Trigger Files, (*.WCT,*.WTG) (*.WCT *.WTG);;All Files, (*.*) (*.*)");
    EXPECT_EQ(dialogFilter(kTextFilter), "TXT File, (*.TXT) (*.txt);;All Files, (*.*) (*.*)");
    ASSERT_EQ(parseFilter(kBundleChooserFilter).size(), 2u);
    EXPECT_EQ(parseFilter(kBundleChooserFilter)[0].label, parseFilter(kBundleFilter)[0].label);
    EXPECT_EQ(parseFilter(kBundleChooserFilter)[1].patterns.size(), 7u);
    ASSERT_EQ(parseFilter(kTriggerFilter).size(), 2u);
    EXPECT_EQ(parseFilter(kTriggerFilter)[0].patterns, (std::vector<std::string>{"*.WCT", "*.WTG"}));
}

TEST(AppState, ProposedNamesComeFromTheMainBundle) {
    AppState state;
    RecordingSink sink;
    EXPECT_EQ(state.proposedSideFileName(), fs::path(".wct"));
    EXPECT_EQ(state.proposedIdListName(), fs::path("_IdList.txt"));
    state.chooseMainBundle("C:\\maps\\war.w3o", sink);
    EXPECT_EQ(state.proposedSideFileName(), fs::path("war.wct"));
    EXPECT_EQ(state.proposedIdListName(), fs::path("war_IdList.txt"));
    EXPECT_EQ(backupName(state.bundlePath), fs::path("C:\\maps\\BACKUP_war.w3o"));
}

TEST(AppState, ChoosingAMainBundleReplacesWhatWasLoaded) {
    TempDir dir;
    ObjectBundle first;
    put(first, ObjectKind::Units, makeObject("hfoo", "h000", {intField("aaaa", 1)}));
    put(first, ObjectKind::Items, makeObject("ratf", "I000", {intField("aaaa", 1)}));
    ObjectBundle second;
    put(second, ObjectKind::Units, makeObject("hkni", "h001", {intField("aaaa", 1)}));
    std::string error;
    ASSERT_TRUE(first.save(dir / "first.w3o", error));
    ASSERT_TRUE(second.save(dir / "second.w3o", error));

    AppState state;
    RecordingSink sink;
    state.chooseMainBundle(dir / "first.w3o", sink);
    state.chooseMainBundle(dir / "second.w3o", sink);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_TRUE(state.mainLoaded);
    EXPECT_EQ(tableIds(state.bundle.kind(ObjectKind::Units).file.customTable), std::vector<std::string>{"h001"});
    EXPECT_EQ(state.bundle.kind(ObjectKind::Items).present, 0);
    EXPECT_EQ(state.bundlePath.fullPath, dir / "second.w3o");
}

TEST(AppState, AMainBundleThatDoesNotLoadIsReportedAndProtected) {
    TempDir dir;
    AppState state;
    RecordingSink sink;
    state.chooseMainBundle(dir / "missing.w3o", sink);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"Sorry, can't open object file " + pathText(dir / "missing.w3o") +
                                                      " (No such file or directory)"});
    EXPECT_FALSE(state.mainLoaded);
    EXPECT_EQ(state.bundlePath.name, fs::path("missing")); // the path is still taken

    writeAll(dir / "cut.w3o", std::string("\x01\x00\x00\x00\x01\x00\x00", 7));
    sink.messages.clear();
    state.chooseMainBundle(dir / "cut.w3o", sink);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0],
              pathText(dir / "cut.w3o") + ": the file ends at byte 7 inside the presence flag (units)");

    writeAll(dir / "list.txt", std::string("hfoo h001"));
    sink.messages.clear();
    state.replace({dir / "list.txt", {}, true}, sink);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"Main object file " + pathText(dir / "cut.w3o") +
                                                      " was not loaded; nothing was written"});
    EXPECT_EQ(readAll(dir / "cut.w3o").size(), 7u);
}

TEST(AppState, IdListFailureIsReported) {
    TempDir dir;
    AppState state;
    RecordingSink sink;
    state.saveIdListAs(dir / "ids.txt", sink);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_TRUE(fs::exists(dir / "ids.txt"));
    state.saveIdListAs(dir / "nowhere" / "ids.txt", sink);
    EXPECT_EQ(sink.messages,
              std::vector<std::string>{"Failed to write identifier list " + pathText(dir / "nowhere" / "ids.txt") +
                                       " (No such file or directory)"});
}

// The identifier list shows the main file as it is: one that another program saved since it was loaded is read
// again, while renames made in memory only stand as long as the file is as loaded.
TEST(AppState, IdListReadsAgainAMainFileChangedSinceItWasLoaded) {
    TempDir dir;
    ObjectBundle b;
    put(b, ObjectKind::Units, makeObject("hfoo", "h000", {intField("uhpm", 1)}));
    std::string error;
    ASSERT_TRUE(b.save(dir / "war.w3o", error)) << error;
    AppState state;
    RecordingSink sink;
    state.chooseMainBundle(dir / "war.w3o", sink);
    writeAll(dir / "list.txt", std::string("h000 h00Z"));
    state.replace({dir / "list.txt", {}, false}, sink); // in memory only
    const auto ids = [&] {
        state.saveIdListAs(dir / "ids.txt", sink);
        const Bytes bytes = readAll(dir / "ids.txt");
        return std::string(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(ids().substr(0, 4), "h00Z");
    put(b, ObjectKind::Units, makeObject("hfoo", "h001", {intField("uhpm", 2)}));
    ASSERT_TRUE(b.save(dir / "war.w3o", error)) << error;
    EXPECT_EQ(ids().substr(0, 9), "h000\th000");
    EXPECT_NE(ids().find("h001"), std::string::npos);
    EXPECT_TRUE(sink.messages.empty());
}

#if BRINDLEMARK_HAVE_ARCHIVES
// A map with a custom unit 'h000' named through its string table, triggers and a script that name it.
struct MapScene {
    TempDir dir;
    fs::path map = dir / "Карта.w3x";
    std::string script = "call CreateUnit('h000')";

    explicit MapScene(bool withScript = true) {
        ObjectBundle units;
        put(units, ObjectKind::Units, makeObject("hfoo", "h000", {textField("unam", "TRIGSTR_001")}));
        std::vector<mpq::File> files = {
            {"war3map.w3u", units.objectFileBytes(ObjectKind::Units)},
            mpq::textFile("war3map.wtg", "WTG! h000"),
            mpq::textFile("war3map.wts", "STRING 1\r\n{\r\nGate Guard\r\n}\r\n"),
        };
        if (withScript)
            files.push_back(mpq::textFile("war3map.j", script));
        writeAll(map, mpq::build(dir / "scratch.mpq", files));
    }

    std::string file(const char* name) const {
        MapArchive archive;
        std::string error;
        EXPECT_TRUE(archive.open(map, error)) << error;
        Bytes out;
        EXPECT_TRUE(archive.read(name, out, error)) << error;
        return std::string(out.begin(), out.end());
    }
};
#endif // BRINDLEMARK_HAVE_ARCHIVES

ReplaceRequest replaceRequest(const fs::path& list, std::vector<fs::path> sides, bool keepBackups) {
    ReplaceRequest request;
    request.replaceList = list;
    request.sideFiles = std::move(sides);
    request.keepBackups = keepBackups;
    return request;
}

std::string idList(AppState& state, const fs::path& path) {
    RecordingSink sink;
    state.saveIdListAs(path, sink);
    EXPECT_TRUE(sink.messages.empty());
    const Bytes bytes = readAll(path);
    return std::string(bytes.begin(), bytes.end());
}

#if BRINDLEMARK_HAVE_ARCHIVES
TEST(AppStateMap, ReplaceRenamesInsideTheMapAndInSideFilesAndLeavesTheScript) {
    MapScene scene;
    AppState state;
    RecordingSink sink;
    state.chooseMainBundle(scene.map, sink);
    ASSERT_TRUE(sink.messages.empty()) << sink.messages[0];
    EXPECT_TRUE(state.mainLoaded);
    EXPECT_EQ(idList(state, scene.dir / "ids.txt"), "h000\th000\t// Gate Guard\r\n");

    writeAll(scene.dir / "list.txt", std::string("h000 u000"));
    writeAll(scene.dir / "outside.wct", std::string("h000"));
    // Without backups only the objects in memory change.
    const Bytes before = readAll(scene.map);
    AppState inMemory;
    inMemory.chooseMainBundle(scene.map, sink);
    const ReplaceRequest noBackups = replaceRequest(scene.dir / "list.txt", {scene.dir / "outside.wct"}, false);
    EXPECT_EQ(inMemory.replace(noBackups, sink).renames.size(), 1u);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(readAll(scene.map), before);
    EXPECT_EQ(readAll(scene.dir / "outside.wct"), Bytes({'h', '0', '0', '0'}));
    EXPECT_EQ(idList(inMemory, scene.dir / "ids.txt"), "u000\tu000\t// Gate Guard\r\n");

    const ReplaceReport report =
        state.replace(replaceRequest(scene.dir / "list.txt", {scene.dir / "outside.wct"}, true), sink);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_THAT(sink.messages[0], ::testing::StartsWith("Процесс изменения завершен!"));
    EXPECT_THAT(sink.messages[0], ::testing::EndsWith("\nСценарий карты war3map.j оставлен без изменений."));
    ASSERT_EQ(report.renames.size(), 1u);
    EXPECT_EQ(scene.file("war3map.wtg"), "WTG! u000");
    EXPECT_EQ(scene.file("war3map.j"), scene.script);
    EXPECT_EQ(readAll(scene.dir / "outside.wct"), Bytes({'u', '0', '0', '0'}));
    EXPECT_TRUE(fs::exists(scene.dir / "BACKUP_Карта.w3x"));
    // The identifier list shows the map as it now is.
    EXPECT_EQ(idList(state, scene.dir / "ids.txt"), "u000\tu000\t// Gate Guard\r\n");
}

TEST(AppStateMap, CompletionNamesNoScriptWhenTheMapHasNone) {
    MapScene scene(false);
    AppState state;
    RecordingSink sink;
    state.chooseMainBundle(scene.map, sink);
    writeAll(scene.dir / "list.txt", std::string("h000 u000"));
    state.replace(replaceRequest(scene.dir / "list.txt", {}, true), sink);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_THAT(sink.messages[0], ::testing::Not(::testing::HasSubstr("war3map")));
}

TEST(AppStateMap, MergeAddsToTheMapUnlessItsSwitchIsClear) {
    MapScene scene;
    ObjectBundle added;
    put(added, ObjectKind::Units, makeObject("hkni", "h001", {intField("uhpm", 5)}));
    std::string error;
    ASSERT_TRUE(added.save(scene.dir / "added.w3o", error));
    AppState state;
    RecordingSink sink;
    state.chooseMainBundle(scene.map, sink);

    const Bytes before = readAll(scene.map);
    EXPECT_FALSE(state.merge({false, true, scene.dir / "added.w3o", MergePolicy::Glue}, sink).ran);
    EXPECT_EQ(readAll(scene.map), before);

    const MergeReport report = state.merge({true, true, scene.dir / "added.w3o", MergePolicy::Glue}, sink);
    EXPECT_TRUE(report.bundleWritten);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"Процесс обьединения завершен! Юниты — добавлено: 1, "
                                                      "перезаписано: 0, склеено: 0, оставлено: 0."});
    EXPECT_EQ(tableIds(state.bundle.kind(ObjectKind::Units).file.customTable),
              (std::vector<std::string>{"h000", "h001"}));
    EXPECT_EQ(readAll(scene.dir / "BACKUP_Карта.w3x"), before);
}

TEST(AppStateMap, ADamagedMapIsReportedAndLeavesTheBundleEmpty) {
    MapScene scene;
    Bytes bytes = readAll(scene.map);
    bytes.resize(bytes.size() / 2);
    writeAll(scene.map, bytes);
    AppState state;
    RecordingSink sink;
    state.chooseMainBundle(scene.map, sink);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_THAT(sink.messages[0], ::testing::HasSubstr(pathText(scene.map)));
    EXPECT_FALSE(state.mainLoaded);
    EXPECT_EQ(state.bundle.kind(ObjectKind::Units).present, 0);
}

#endif // BRINDLEMARK_HAVE_ARCHIVES

// A map saved as a folder, known by the war3map.w3i it holds, is chosen through that file; a Replace then
// writes into the folder, backing up only the files it changes.
TEST(AppStateMap, AMapFolderIsChosenThroughItsInfoFileAndWrittenLikeAnArchive) {
    TempDir dir;
    const fs::path folder = dir / "Карта";
    fs::create_directories(folder);
    ObjectBundle units;
    put(units, ObjectKind::Units, makeObject("hfoo", "h000", {textField("unam", "TRIGSTR_001")}));
    writeAll(folder / "war3map.w3i", std::string("info"));
    writeAll(folder / "War3map.w3u", units.objectFileBytes(ObjectKind::Units));
    writeAll(folder / "war3map.wts", std::string("STRING 1\r\n{\r\nGate Guard\r\n}\r\n"));
    writeAll(folder / "war3map.j", std::string("call CreateUnit('h000')"));
    writeAll(dir / "list.txt", std::string("h000 u000"));

    EXPECT_EQ(chosenMainFile(folder / "WAR3MAP.W3I"), folder);
    EXPECT_EQ(chosenMainFile(folder / "War3map.w3u"), folder / "War3map.w3u");
    EXPECT_EQ(chosenMainFile(dir / "list.txt"), dir / "list.txt");
    RunFolderMemory memory;
    AppState state;
    state.folderMemory = &memory;
    state.chooserConfirmed(Chooser::MainFile, folder / "war3map.w3i");
    EXPECT_EQ(state.chooserFolder(Chooser::MainFile), dir.path()); // beside the folder, not inside it

    RecordingSink sink;
    state.chooseMainBundle(chosenMainFile(folder / "war3map.w3i"), sink);
    ASSERT_TRUE(sink.messages.empty()) << sink.messages[0];
    EXPECT_TRUE(state.mainOwnStrings);
    EXPECT_EQ(idList(state, dir / "ids.txt"), "h000\th000\t// Gate Guard\r\n");
    const ReplaceReport report = state.replace(replaceRequest(dir / "list.txt", {}, true), sink);
    ASSERT_EQ(report.renames.size(), 1u);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_THAT(sink.messages[0], ::testing::EndsWith("\nСценарий карты war3map.j оставлен без изменений."));
    EXPECT_THAT(sink.messages[0], ::testing::Not(::testing::HasSubstr("--patch-script"))); // the window has no flags
    EXPECT_EQ(textOf(readAll(folder / "war3map.j")), "call CreateUnit('h000')");
    EXPECT_TRUE(fs::exists(dir / "BACKUP_Карта" / "War3map.w3u"));
    EXPECT_FALSE(fs::exists(dir / "BACKUP_Карта" / "war3map.j"));
    ObjectBundle renamed;
    ASSERT_TRUE(renamed.load(folder / "War3map.w3u"));
    EXPECT_EQ(tableIds(renamed.kind(ObjectKind::Units).file.customTable), std::vector<std::string>{"u000"});
    EXPECT_EQ(idList(state, dir / "ids.txt"), "u000\tu000\t// Gate Guard\r\n"); // the window shows it renamed
}

TEST(AppState, ChoosersOpenWhereTheyLastConfirmedAndTheIdListBesideTheMainFile) {
    RunFolderMemory memory;
    AppState state;
    EXPECT_EQ(state.chooserFolder(Chooser::SideFile), fs::path()); // no memory: the platform's folder
    state.folderMemory = &memory;
    state.chooserConfirmed(Chooser::SideFile, fs::path("/maps/triggers/war.wct"));
    state.chooserConfirmed(Chooser::IdList, fs::path("/lists/war_IdList.txt"));
    state.chooserConfirmed(Chooser::ReplaceList, fs::path("list.txt")); // no folder: nothing to remember
    EXPECT_EQ(state.chooserFolder(Chooser::SideFile), fs::path("/maps/triggers"));
    EXPECT_EQ(state.chooserFolder(Chooser::ReplaceList), fs::path());
    EXPECT_EQ(state.chooserFolder(Chooser::IdList), fs::path("/lists")); // before any main file
    RecordingSink sink;
    state.chooseMainBundle("/nowhere/maps/war.w3o", sink);
    EXPECT_EQ(state.chooserFolder(Chooser::IdList), fs::path("/nowhere/maps"));
    EXPECT_EQ(memory.folder("sideFile"), fs::path("/maps/triggers"));
}

} // namespace
} // namespace brindlemark

namespace brindlemark {
namespace {

using namespace testing;
namespace fs = std::filesystem;

// The map editor saves the main file while the window holds it: Replace refuses to write over the editor's work,
// and Merge starts from the file as the editor left it.
TEST(AppState, AMainFileChangedOnDiskIsNotWrittenOverAndMergeStartsFromIt) {
    TempDir dir;
    ObjectBundle first;
    put(first, ObjectKind::Units, makeObject("hfoo", "h000", {intField("uhpm", 1)}));
    put(first, ObjectKind::Units, makeObject("hfoo", "h001", {intField("uhpm", 2)}));
    std::string error;
    ASSERT_TRUE(first.save(dir / "map.w3o", error));
    AppState state;
    RecordingSink sink;
    state.chooseMainBundle(dir / "map.w3o", sink);

    ObjectBundle edited; // the editor deleted h001
    put(edited, ObjectKind::Units, makeObject("hfoo", "h000", {intField("uhpm", 7)}));
    ASSERT_TRUE(edited.save(dir / "map.w3o", error));
    const Bytes editorBytes = readAll(dir / "map.w3o");
    writeAll(dir / "list.txt", std::string("h000 h00Z"));
    state.replace({dir / "list.txt", {}, true}, sink);
    EXPECT_EQ(sink.messages, std::vector<std::string>{pathText(dir / "map.w3o") +
                                                      " changed on disk since it was loaded; choose it again"});
    EXPECT_EQ(readAll(dir / "map.w3o"), editorBytes);
    EXPECT_FALSE(fs::exists(dir / "BACKUP_map.w3o"));

    ObjectBundle added;
    put(added, ObjectKind::Units, makeObject("hfoo", "h002", {intField("uhpm", 3)}));
    ASSERT_TRUE(added.save(dir / "added.w3o", error));
    sink.messages.clear();
    state.merge({true, true, dir / "added.w3o", MergePolicy::Keep}, sink);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"Процесс обьединения завершен! Юниты — добавлено: 1, "
                                                      "перезаписано: 0, склеено: 0, оставлено: 0."});
    ObjectBundle result;
    ASSERT_TRUE(result.load(dir / "map.w3o"));
    EXPECT_EQ(tableIds(result.kind(ObjectKind::Units).file.customTable), (std::vector<std::string>{"h000", "h002"}));
    EXPECT_EQ(result.kind(ObjectKind::Units).file.customTable.at(0).find(id("uhpm"))->intValue, 7);

    // The Merge's policy stays for the runs after it: renamed onto h000 in memory, h002 meets it under Keep.
    writeAll(dir / "list.txt", std::string("h002 h000"));
    state.replace({dir / "list.txt", {}, false}, sink);
    const ObjectTable& units = state.bundle.kind(ObjectKind::Units).file.customTable;
    ASSERT_EQ(tableIds(units), std::vector<std::string>{"h000"});
    EXPECT_EQ(units.at(0).find(id("uhpm"))->intValue, 7);
}

// UTF-8 lead bytes of the Cyrillic letters (U+0400 to U+04FF).
bool hasCyrillic(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0xD0 && byte <= 0xD3;
    });
}

std::vector<std::string> placeholders(std::string_view text) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9')
            out.push_back(std::string(text.substr(i, 2)));
    std::sort(out.begin(), out.end());
    return out;
}

TEST(WindowTexts, EnglishHasNoCyrillicAndKeepsTheRussianPlaceholders) {
    for (int i = 0; i < static_cast<int>(Text::Count); ++i) {
        SCOPED_TRACE(i);
        const std::string_view russian = text(Language::Russian, static_cast<Text>(i));
        const std::string_view english = text(Language::English, static_cast<Text>(i));
        EXPECT_FALSE(hasCyrillic(english)) << english;
        EXPECT_EQ(placeholders(english), placeholders(russian)) << english;
        EXPECT_EQ(english.empty(), russian.empty());
    }
    // A value's own "%1" is not filled again; a placeholder without a value stays.
    EXPECT_EQ(fill("%2 of %1, %3%", {"a%2", "b"}), "b of a%2, %3%");
    for (Language language : kLanguages)
        EXPECT_EQ(languageFromCode(languageCode(language)), language);
    EXPECT_EQ(languageFromCode("de"), std::nullopt);
    EXPECT_EQ(languageFromCode(""), std::nullopt);
}

TEST(AppState, WordsItsCompletionMessagesInItsLanguage) {
    TempDir dir;
    ObjectBundle main;
    put(main, ObjectKind::Units, makeObject("hfoo", "h000", {intField("uhpm", 1)}));
    ObjectBundle added;
    put(added, ObjectKind::Units, makeObject("hkni", "h000", {intField("uhpm", 2)}));
    put(added, ObjectKind::Abilities, makeObject("AHbz", "A000", {intField("aaaa", 3)}));
    std::string error;
    ASSERT_TRUE(main.save(dir / "war.w3o", error));
    ASSERT_TRUE(added.save(dir / "added.w3o", error));
    writeAll(dir / "list.txt", std::string("h000 h00Z"));

    AppState state;
    state.language = Language::English;
    RecordingSink sink;
    state.chooseMainBundle(dir / "war.w3o", sink);
    state.merge({true, true, dir / "added.w3o", MergePolicy::Overwrite}, sink);
    ReplaceRequest request;
    request.replaceList = dir / "list.txt";
    request.keepBackups = true;
    state.replace(request, sink);
    EXPECT_EQ(sink.messages,
              (std::vector<std::string>{"Merging finished! Units — added: 0, overwritten: 1, combined: 0, kept: 0. "
                                        "Abilities — added: 1, overwritten: 0, combined: 0, kept: 0.",
                                        "Replacing finished! Identifiers renamed: 1, files changed: 1."}));
}

// The statements of a resource script's block `name`, continuation lines joined: keyword and comma-separated
// arguments, quotes kept.
std::vector<std::vector<std::string>> templateStatements(const std::string& script, const std::string& name) {
    std::size_t at = script.find("BEGIN", script.find(name + " DIALOGEX"));
    const std::size_t end = script.find("\nEND", at);
    std::vector<std::string> statements;
    for (at = script.find('\n', at) + 1; at < end;) {
        std::size_t next = script.find('\n', at);
        std::string line = script.substr(at, next - at);
        at = next + 1;
        if (line.rfind("  ", 0) == 0 && line.size() > 2 && line[2] != ' ')
            statements.push_back(line.substr(2));
        else if (!statements.empty())
            statements.back() += " " + line;
    }
    std::vector<std::vector<std::string>> out;
    for (const std::string& statement : statements) {
        const std::size_t space = statement.find(' ');
        std::vector<std::string> fields{statement.substr(0, space)};
        std::string field;
        bool quoted = false;
        for (char c : statement.substr(space)) {
            if (c == '"')
                quoted = !quoted;
            if (c == ',' && !quoted) {
                fields.push_back(field);
                field.clear();
            } else {
                field += c;
            }
        }
        fields.push_back(field);
        for (std::string& f : fields) {
            f.erase(0, f.find_first_not_of(' '));
            f.erase(f.find_last_not_of(' ') + 1);
        }
        out.push_back(fields);
    }
    return out;
}

// The Win32 dialog template holds the controls of the table the Qt window is built from: ids, kinds, Russian
// captions, places and the flags a template can state.
TEST(WindowLayout, TheWin32TemplateHoldsTheTablesControls) {
    const Bytes bytes = readAll(fs::path(BRINDLEMARK_SOURCE_DIR) / "app" / "win32" / "brindlemark.rc");
    const auto statements = templateStatements(std::string(bytes.begin(), bytes.end()), "IDD_MAINWINDOW");
    ASSERT_EQ(statements.size(), std::size(kMainWindowControls));
    for (std::size_t i = 0; i < statements.size(); ++i) {
        const std::vector<std::string>& f = statements[i];
        const ControlEntry& entry = kMainWindowControls[i];
        SCOPED_TRACE(i);
        ASSERT_GE(f.size(), 6u);
        const bool edit = f[0] == "EDITTEXT";
        const bool control = f[0] == "CONTROL";
        const std::string caption = edit ? "\"\"" : f[1];
        const std::string style = control ? f[4] : (f.size() > (edit ? 6u : 7u) ? f.back() : "");
        const std::size_t place = edit ? 2 : control ? 5 : 3;
        ASSERT_GE(f.size(), place + 4);
        ControlKind kind = ControlKind::Button;
        if (edit)
            kind = ControlKind::Field;
        else if (f[0] == "GROUPBOX")
            kind = ControlKind::Group;
        else if (control && f[3] == "\"SysListView32\"")
            kind = style.find("LVS_REPORT") != std::string::npos ? ControlKind::Report : ControlKind::List;
        else if (control)
            kind = style.find("BS_PUSHLIKE") != std::string::npos ? ControlKind::Toggle : ControlKind::CheckBox;
        unsigned flags = 0;
        if (style.find("NOT WS_VISIBLE") != std::string::npos)
            flags |= Hidden;
        if (kind == ControlKind::Group && style.find("BS_CENTER") != std::string::npos)
            flags |= Centred;
        if (kind == ControlKind::Group && style.find("BS_FLAT") == std::string::npos)
            flags |= OrdinaryFrame;

        const int raise = entry.flags & RaisedOnWin32 ? kWin32Raise : 0;
        EXPECT_EQ(std::stoi(f[edit ? 1 : 2]), entry.id);
        EXPECT_EQ(kind, entry.kind);
        EXPECT_EQ(caption, "\"" + std::string(text(Language::Russian, entry.caption)) + "\"");
        EXPECT_EQ(flags, entry.flags & (Hidden | Centred | OrdinaryFrame));
        EXPECT_EQ(std::stoi(f[place]), entry.x);
        EXPECT_EQ(std::stoi(f[place + 1]), entry.y - raise);
        EXPECT_EQ(std::stoi(f[place + 2]), entry.width);
        EXPECT_EQ(std::stoi(f[place + 3]), entry.height + raise);
    }
}

} // namespace
} // namespace brindlemark
