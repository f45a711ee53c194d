#include "commands/importcommand.h"
#include "commands/mapcommands.h"
#include "commands/mergecommand.h"
#include "commands/replacecommand.h"

#include "core/fileio.h"
#if BRINDLEMARK_HAVE_ARCHIVES
#include "archive/maparchive.h"
#include "tests/map/archivebuilder.h"
#endif
#include "tests/replace/bundlefixtures.h"

#include "tests/support/commandcalls.h"
#include "tests/support/recordingsink.h"

#include <gtest/gtest.h>

#include <functional>

#include <map>
#include <set>

#ifdef _WIN32
#include <windows.h>
#endif

namespace brindlemark {
namespace {

using namespace testing;
namespace fs = std::filesystem;

#if BRINDLEMARK_HAVE_ARCHIVES // the map archive cases; map folders below need no archive module

// A map whose units file holds the footman 'hfoo' and the custom unit 'h000' (named through the string table in
// the skin file), with triggers and a script that name them.
struct MapFixture : ::testing::Test {
    void SetUp() override {
        ObjectBundle units;
        put(units, ObjectKind::Units, makeObject("hfoo", "", {intField("uhpm", 300)}));
        put(units, ObjectKind::Units, makeObject("hfoo", "h000", {idField("ubui", "hfoo")}));
        units.kind(ObjectKind::Units).file.version = 2;
        ObjectBundle skin;
        put(skin, ObjectKind::Units, makeObject("hfoo", "h000", {textField("unam", "TRIGSTR_001")}));
        skin.kind(ObjectKind::Units).file.version = 3;
        wtg = "WTG! CreateUnit h000 hfoo";
        wct = "custom text h000";
        script = "call CreateUnit('h000')";
        const std::vector<mpq::File> files = {
            {"war3map.w3u", units.objectFileBytes(ObjectKind::Units)},
            {"war3mapSkin.w3u", skin.objectFileBytes(ObjectKind::Units)},
            mpq::textFile("war3map.wtg", wtg),
            mpq::textFile("war3map.wct", wct),
            mpq::textFile("war3map.j", script),
            mpq::textFile("war3map.wts", "STRING 1\r\n{\r\nGate Guard\r\n}\r\n"),
            mpq::textFile("war3mapImported\\model.mdx", "model bytes h000"),
        };
        original = mpq::build(dir / "scratch.mpq", files);
        map = dir / "Карта.w3x";
        writeAll(map, original);
    }

    Bytes file(const char* name) {
        MapArchive archive;
        std::string error;
        EXPECT_TRUE(archive.open(map, error)) << error;
        Bytes out;
        EXPECT_TRUE(archive.read(name, out, error)) << error;
        return out;
    }

    TempDir dir;
    fs::path map;
    Bytes original;
    std::string wtg, wct, script;
    RecordingSink sink;
};

TEST_F(MapFixture, ReadsObjectFilesAndSkinAsOneBundleWithNamesFromTheStringTable) {
    ObjectBundle bundle;
    StringTable strings;
    std::string error;
    ASSERT_TRUE(loadMapBundle(map, bundle, strings, error, {})) << error;
    const ObjectFile& units = bundle.kind(ObjectKind::Units).file;
    EXPECT_EQ(tableIds(units.standardTable), std::vector<std::string>{"hfoo"});
    ASSERT_EQ(tableIds(units.customTable), std::vector<std::string>{"h000"});
    EXPECT_EQ(strings.resolve(textOf(units.customTable.at(0), "unam")), "Gate Guard");
    EXPECT_EQ(idValueOf(units.customTable.at(0), "ubui"), "hfoo");
}

TEST_F(MapFixture, ReplaceRenamesObjectFilesSkinAndTriggersInsideTheMap) {
    writeAll(dir / "list.txt", std::string("h000 u000\nhfoo h001\n"));
    MapReplaceRequest request;
    request.map = map;
    request.replaceList = dir / "list.txt";
    const ReplaceReport report = replaceInMap(request, sink);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(report.filesChanged, 1u);
    EXPECT_EQ(report.unpatchedScript, "war3map.j");
    EXPECT_EQ(report.scriptOccurrences, 1u);
    ASSERT_EQ(report.renames.size(), 2u);
    EXPECT_EQ(readAll(dir / "BACKUP_Карта.w3x"), original);

    EXPECT_EQ(textOf(file("war3map.wtg")), "WTG! CreateUnit u000 h001");
    EXPECT_EQ(textOf(file("war3map.wct")), "custom text u000");
    EXPECT_EQ(textOf(file("war3map.j")), script); // the script only when asked
    EXPECT_EQ(textOf(file("war3mapImported\\model.mdx")), "model bytes h000");

    ObjectBundle units;
    const Bytes w3u = file("war3map.w3u");
    ASSERT_TRUE(units.loadObjectFileBytes(w3u, ObjectKind::Units, "w3u"));
    EXPECT_EQ(tableIds(units.kind(ObjectKind::Units).file.customTable), (std::vector<std::string>{"h001", "u000"}));
    EXPECT_EQ(units.kind(ObjectKind::Units).file.version, 2);
    ObjectBundle skin;
    const Bytes skinBytes = file("war3mapSkin.w3u");
    ASSERT_TRUE(skin.loadObjectFileBytes(skinBytes, ObjectKind::Units, "skin"));
    EXPECT_EQ(tableIds(skin.kind(ObjectKind::Units).file.customTable), std::vector<std::string>{"u000"});
    EXPECT_EQ(skin.kind(ObjectKind::Units).file.version, 3);
}

TEST_F(MapFixture, ScriptIsPatchedWhenAsked) {
    writeAll(dir / "list.txt", std::string("h000 u000"));
    MapReplaceRequest request;
    request.map = map;
    request.replaceList = dir / "list.txt";
    request.patchScript = true;
    replaceInMap(request, sink);
    EXPECT_EQ(textOf(file("war3map.j")), "call CreateUnit('u000')");
}

TEST_F(MapFixture, DryRunCountsAndChangesNothing) {
    writeAll(dir / "list.txt", std::string("h000 u000"));
    writeAll(dir / "outside.txt", std::string("h000 h000"));
    MapReplaceRequest request;
    request.map = map;
    request.replaceList = dir / "list.txt";
    request.sideFiles = {dir / "outside.txt"};
    MapReplacePlan plan;
    ASSERT_TRUE(planReplaceInMap(request, plan, sink));
    const std::vector<PlannedRename>& renames = plan.plan.renames;
    const std::vector<SideText>& sides = plan.sides;
    const StringTable& strings = plan.strings;
    ASSERT_EQ(renames.size(), 1u);
    ASSERT_TRUE(renames[0].entry.displayName.has_value()); // from the skin file
    EXPECT_EQ(strings.resolve(*renames[0].entry.displayName), "Gate Guard");
    ASSERT_EQ(sides.size(), 4u);
    EXPECT_EQ(sides[0].name, "war3map.wtg");
    EXPECT_EQ(sides[3].name, "war3map.j (not patched)");
    EXPECT_EQ(renames[0].occurrences, (std::vector<std::size_t>{1, 1, 2, 1}));
    EXPECT_EQ(readAll(map), original);
    EXPECT_EQ(textOf(readAll(dir / "outside.txt")), "h000 h000");
}

TEST_F(MapFixture, DamagedMapIsRefusedAndLeftAlone) {
    Bytes damaged = original;
    damaged.resize(damaged.size() / 2);
    writeAll(map, damaged);
    writeAll(dir / "list.txt", std::string("h000 u000"));
    MapReplaceRequest request;
    request.map = map;
    request.replaceList = dir / "list.txt";
    const ReplaceReport report = replaceInMap(request, sink);
    EXPECT_TRUE(report.failed);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find(pathText(map)), std::string::npos) << sink.messages[0];
    EXPECT_EQ(readAll(map), damaged);
    EXPECT_FALSE(fs::exists(dir / "BACKUP_Карта.w3x"));
}

#ifdef _WIN32
// The editor holds a map it has open: a run that would replace the map, or a file inside a map folder, is
// refused with the reason and changes nothing, and once the editor lets go the same run goes through.
TEST_F(MapFixture, AMapAnotherProgramHoldsOpenIsRefusedAndLeftAlone) {
    writeAll(dir / "list.txt", std::string("h000 u000"));
    const fs::path folder = dir / "Папка.w3x";
    fs::create_directory(folder);
    writeAll(folder / "war3map.w3u", file("war3map.w3u"));
    writeAll(folder / "war3map.wtg", wtg);
    struct Case {
        fs::path map;
        fs::path held;
    };
    for (const Case& c : {Case{map, map}, Case{folder, folder / "war3map.wtg"}}) {
        SCOPED_TRACE(pathText(c.held));
        const Bytes before = readAll(c.held);
        const Bytes objects = readAll(c.map == map ? map : folder / "war3map.w3u");
        const auto names = [&] {
            std::set<fs::path> out;
            for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
                out.insert(entry.path());
            return out;
        };
        const std::set<fs::path> standing = names();
        HANDLE editor = CreateFileW(c.held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(editor, INVALID_HANDLE_VALUE);
        MapReplaceRequest request;
        request.map = c.map;
        request.replaceList = dir / "list.txt";
        sink.messages.clear();
        const ReplaceReport refused = replaceInMap(request, sink);
        CloseHandle(editor);
        EXPECT_FALSE(refused.completed);
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_NE(sink.messages[0].find(pathText(c.held)), std::string::npos) << sink.messages[0];
        EXPECT_NE(sink.messages[0].find("another program has the file open"), std::string::npos) << sink.messages[0];
        EXPECT_EQ(readAll(c.held), before);
        EXPECT_EQ(names(), standing) << "a temporary or a backup was left";
        EXPECT_EQ(readAll(c.map == map ? map : folder / "war3map.w3u"), objects) << "the objects were renamed";

        sink.messages.clear();
        EXPECT_TRUE(replaceInMap(request, sink).completed) << (sink.messages.empty() ? "" : sink.messages[0]);
    }
}
#endif

TEST_F(MapFixture, MergeAddsABundleToTheObjectFiles) {
    ObjectBundle added;
    put(added, ObjectKind::Units, makeObject("hkni", "h002", {intField("uhpm", 900)}));
    put(added, ObjectKind::Units, makeObject("hfoo", "h000", {intField("uhpm", 50)}));
    std::string error;
    ASSERT_TRUE(added.save(dir / "added.w3u", error));
    const MergeReport report = mergeIntoMap(map, dir / "added.w3u", MergePolicy::Glue, true, sink);
    EXPECT_TRUE(report.bundleWritten);
    EXPECT_TRUE(sink.messages.empty());
    KindCounts counts{};
    counts[static_cast<std::size_t>(ObjectKind::Units)] = {.added = 1, .glued = 1};
    EXPECT_EQ(report.merged, counts);
    ObjectBundle units;
    const Bytes w3u = file("war3map.w3u");
    ASSERT_TRUE(units.loadObjectFileBytes(w3u, ObjectKind::Units, "w3u"));
    const ObjectTable& custom = units.kind(ObjectKind::Units).file.customTable;
    ASSERT_EQ(tableIds(custom), (std::vector<std::string>{"h000", "h002"}));
    EXPECT_EQ(idValueOf(custom.at(0), "ubui"), "hfoo"); // glued: kept
    EXPECT_EQ(custom.at(0).find(id("uhpm"))->intValue, 50);
    EXPECT_EQ(readAll(dir / "BACKUP_Карта.w3x"), original);
    EXPECT_EQ(textOf(file("war3map.wtg")), wtg);
}

TEST_F(MapFixture, MergeOfAKindTheMapLacksAddsItsFile) {
    ObjectBundle added;
    put(added, ObjectKind::Items, makeObject("ratf", "I000", {intField("iclr", 1)}));
    std::string error;
    ASSERT_TRUE(added.save(dir / "items.w3o", error));
    const MergeReport report = mergeIntoMap(map, dir / "items.w3o", MergePolicy::Glue, false, sink);
    EXPECT_TRUE(report.bundleWritten) << (sink.messages.empty() ? "" : sink.messages[0]);
    ObjectBundle items;
    const Bytes w3t = file("war3map.w3t");
    ASSERT_TRUE(items.loadObjectFileBytes(w3t, ObjectKind::Items, "w3t"));
    EXPECT_EQ(tableIds(items.kind(ObjectKind::Items).file.customTable), std::vector<std::string>{"I000"});
    EXPECT_FALSE(fs::exists(dir / "BACKUP_Карта.w3x"));
}

#endif // BRINDLEMARK_HAVE_ARCHIVES

// A map saved as a folder, with a backup of its own beside it.
struct FolderMapFixture : ::testing::Test {
    void SetUp() override {
        ObjectBundle units;
        put(units, ObjectKind::Units, makeObject("hfoo", "h000", {intField("uhpm", 1)}));
        put(units, ObjectKind::Units, makeObject("hfoo", "h002", {intField("uhpm", 2)}));
        folder = dir / "Карта.w3x";
        backup = dir / "BACKUP_Карта.w3x";
        fs::create_directory(folder);
        writeAll(folder / "war3map.w3u", units.objectFileBytes(ObjectKind::Units));
        writeAll(folder / "war3map.wtg", "WTG! h000");
        writeAll(dir / "first.txt", "h000 h001\n");
        writeAll(dir / "second.txt", "h002 h003\n");
    }

    ReplaceReport replace(const fs::path& map, const char* list) {
        MapReplaceRequest request;
        request.map = map;
        request.replaceList = dir / list;
        request.sideFiles = sides;
        return replaceInMap(request, sink);
    }

    // The files of a folder, by name.
    std::map<std::string, Bytes> files(const fs::path& path) {
        std::map<std::string, Bytes> out;
        for (const auto& entry : fs::directory_iterator(path))
            out[pathText(entry.path().filename())] = entry.is_directory() ? Bytes() : readAll(entry.path());
        return out;
    }

    // The names in the test's folder, one line each.
    std::string entries() {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            names.insert(pathText(entry.path().filename()));
        std::string text;
        for (const std::string& name : names)
            text += name + "\n";
        return text;
    }

    TempDir dir;
    fs::path folder;
    fs::path backup;
    std::vector<fs::path> sides;
    RecordingSink sink;
};

// Each run's backup holds the files that run changed, as they were before it: restored, it gives the map as
// it was before that run, never a mix of two runs.
TEST_F(FolderMapFixture, EachRunReplacesTheBackupWithASnapshotThatRestoresTheMap) {
    ASSERT_FALSE(replace(folder, "first.txt").failed) << sink.messages[0];
    EXPECT_EQ(textOf(readAll(backup / "war3map.wtg")), "WTG! h000");
    const auto beforeSecond = files(folder);
    const auto firstBackup = files(backup);

    // A second run whose commit fails before any file of the map changed leaves the first backup in place.
    setFaultHook([&](FileStep step, const fs::path& path) {
        return step == FileStep::Rename && path == folder / "war3map.w3u" ? ENOSPC : 0;
    });
    EXPECT_TRUE(replace(folder, "second.txt").failed);
    setFaultHook(nullptr);
    EXPECT_EQ(files(folder), beforeSecond);
    EXPECT_EQ(files(backup), firstBackup);
    const std::string around =
        pathText(backup.filename()) + "\nfirst.txt\nsecond.txt\n" + pathText(folder.filename()) + "\n";
    EXPECT_EQ(entries(), around) << "no temporary folder left behind";

    ASSERT_FALSE(replace(folder, "second.txt").failed) << sink.messages.back();
    EXPECT_EQ(files(backup).size(), 1u); // the units only: this run did not change the triggers
    for (const auto& [name, bytes] : files(backup))
        writeAll(folder / name, bytes);
    EXPECT_EQ(files(folder), beforeSecond);
    EXPECT_EQ(entries(), around);
}

// A run on a folder map removes what killed runs left inside it, whichever file they were writing, and keeps
// the temporaries of a run that still goes on.
TEST_F(FolderMapFixture, TemporariesOfDeadRunsInsideTheFolderAreRemoved) {
    const std::string units = temporaryBeside(folder / "war3map.w3u").filename().string();
    const std::string other = temporaryBeside(folder / "war3map.w3i").filename().string();
    const std::string dead = units.substr(0, units.find('-') + 1) + "999999999-1.tmp";
    const std::string deadOther = other.substr(0, other.find('-') + 1) + "999999999-2.tmp";
    const std::string alive = other.substr(0, other.find('-') + 1) + "1-3.tmp"; // init's: it still runs
    for (const std::string& name : {dead, deadOther, alive})
        writeAll(folder / name, "left behind");
    ASSERT_FALSE(replace(folder, "first.txt").failed) << sink.messages[0];
    EXPECT_FALSE(fs::exists(folder / dead));
    EXPECT_FALSE(fs::exists(folder / deadOther));
#ifndef _WIN32
    EXPECT_TRUE(fs::exists(folder / alive));
#endif
}

// A map file that is a folder, or two files whose names differ only in letter case, are refused, not skipped.
TEST_F(FolderMapFixture, AMapFileThatIsAFolderOrTwoNamesOfOneFileAreRefused) {
    const std::string upper = pathText(folder / "WAR3MAP.W3U");
    struct Case {
        std::function<void()> make;
        std::function<void()> undo;
        std::string message;
    };
    const std::vector<Case> cases = {
        {[&] { fs::rename(folder / "war3map.wtg", dir / "t.wtg"), fs::create_directory(folder / "war3map.wtg"); },
         [&] { fs::remove(folder / "war3map.wtg"), fs::rename(dir / "t.wtg", folder / "war3map.wtg"); },
         pathText(folder / "war3map.wtg") + ": a folder where the map keeps a file; nothing was read"},
        {[&] { writeAll(folder / "WAR3MAP.W3U", "other units"); }, [&] { fs::remove(folder / "WAR3MAP.W3U"); },
         "whose names differ only in letter case; keep one"},
    };
    for (const Case& c : cases) {
        c.make();
        const auto before = files(folder);
        if (fs::exists(folder / "WAR3MAP.W3U") && fs::exists(folder / "war3map.W3U"))
            continue; // a file system that ignores letter case holds one file under both names
        EXPECT_TRUE(replace(folder, "first.txt").failed) << c.message;
        ASSERT_FALSE(sink.messages.empty());
        EXPECT_NE(sink.messages.back().find(c.message), std::string::npos) << sink.messages.back();
        EXPECT_EQ(files(folder), before);
        EXPECT_FALSE(fs::exists(backup));
        c.undo();
    }
}

// The map named with a trailing separator, or as "." from inside it, gets its backup beside it; a run that
// fails makes no backup folder; a file of the map that is a symbolic link out of it is never written through.
TEST_F(FolderMapFixture, BackupGoesBesideTheFolderAndFailuresLeaveNone) {
    const auto original = files(folder);
    writeAll(dir / "readonly.wtg", "h000");
    fs::permissions(dir / "readonly.wtg", fs::perms(0444));
    sides = {dir / "readonly.wtg"};
    EXPECT_TRUE(replace(folder, "first.txt").failed);
    EXPECT_EQ(files(folder), original);
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_EQ(entries(), "first.txt\nreadonly.wtg\nsecond.txt\n" + pathText(folder.filename()) + "\n")
        << "no temporary folder left behind";
    sides.clear();

#ifndef _WIN32
    writeAll(dir / "outside.wtg", "WTG! h000");
    fs::remove(folder / "war3map.wtg");
    fs::create_symlink(dir / "outside.wtg", folder / "war3map.wtg");
    EXPECT_TRUE(replace(folder, "first.txt").failed);
    ASSERT_EQ(sink.messages.size(), 2u);
    EXPECT_EQ(sink.messages[1], pathText(folder / "war3map.wtg") + " is a symbolic link to " +
                                    pathText(fs::weakly_canonical(dir / "outside.wtg")) +
                                    ", outside the map folder; nothing was written");
    EXPECT_EQ(textOf(readAll(dir / "outside.wtg")), "WTG! h000");
    EXPECT_FALSE(fs::exists(backup));
    fs::remove(folder / "war3map.wtg");
    writeAll(folder / "war3map.wtg", "WTG! h000");
#endif

    ASSERT_FALSE(replace(folder / "", "first.txt").failed) << sink.messages.back(); // "Карта.w3x/"
    EXPECT_EQ(files(backup), original);
    const fs::path here = fs::current_path();
    fs::current_path(folder);
    const ReplaceReport fromInside = replace(".", "second.txt");
    fs::current_path(here);
    ASSERT_FALSE(fromInside.failed) << sink.messages.back();
    EXPECT_EQ(files(backup).size(), 1u);
    EXPECT_EQ(files(folder).size(), 2u) << "nothing inside the map folder but its own files";
}

} // namespace
} // namespace brindlemark

namespace brindlemark {
namespace {

#if BRINDLEMARK_HAVE_ARCHIVES // compares with the same map in an archive
// A map saved as a folder, from real object, skin and trigger files with a script and a string table, behaves
// as the same map in an archive: the same bytes come out, files nothing changes keep their bytes and times,
// and the script warning appears exactly when the script holds renamed identifiers and is not patched.
TEST(FolderMap, GivesTheSameBytesAsTheArchiveAndLeavesUntouchedFilesAlone) {
    const fs::path corpus = corpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus folder";
    const fs::path source = corpus / "dbz-tribute-reforged";
    ObjectBundle units;
    ASSERT_TRUE(units.load(source / "war3map.w3u"));
    const ObjectTable& custom = units.kind(ObjectKind::Units).file.customTable;
    ASSERT_GE(custom.count(), 2u);
    const std::string a = custom.at(0).effectiveId().text();
    const std::string b = custom.at(1).effectiveId().text();
    const std::string script = "call CreateUnit(p, '" + a + "', 0, 0, 0)\r\n";
    std::vector<mpq::File> files = {mpq::textFile("war3map.w3i", "info"), mpq::textFile("war3map.j", script),
                                    mpq::textFile("war3map.wts", "STRING 1\r\n{\r\nname\r\n}\r\n")};
    for (const auto& entry : fs::directory_iterator(source))
        if (entry.path().filename().string().starts_with("war3map"))
            files.push_back({entry.path().filename().string(), readAll(entry.path())});

    for (const bool patchScript : {false, true}) {
        SCOPED_TRACE(patchScript ? "script patched" : "script left alone");
        TempDir dir;
        const fs::path archive = dir / "map.w3x";
        writeAll(archive, mpq::build(dir / "scratch.mpq", files));
        const fs::path folder = dir / "folder.w3x";
        fs::create_directory(folder);
        for (const mpq::File& f : files)
            writeAll(folder / f.name, f.data);
        const auto oldTime = fs::last_write_time(folder / "war3mapSkin.w3b") - std::chrono::hours(1);
        fs::last_write_time(folder / "war3mapSkin.w3b", oldTime);
        writeAll(dir / "list.txt", a + " X000\r\n" + b + " X001\r\n");

        std::vector<std::size_t> occurrences;
        for (const fs::path& map : {archive, folder}) {
            RecordingSink sink;
            MapReplaceRequest request;
            request.map = map;
            request.replaceList = dir / "list.txt";
            request.patchScript = patchScript;
            const ReplaceReport report = replaceInMap(request, sink);
            EXPECT_TRUE(report.bundleWritten) << (sink.messages.empty() ? "" : sink.messages[0]);
            EXPECT_TRUE(sink.messages.empty());
            EXPECT_EQ(report.unpatchedScript, patchScript ? "" : "war3map.j");
            occurrences.push_back(report.scriptOccurrences);
        }
        EXPECT_EQ(occurrences, (std::vector<std::size_t>(2, patchScript ? 0 : 1)));
        MapContents inArchive;
        MapContents inFolder;
        std::string error;
        ASSERT_TRUE(inArchive.open(archive, error)) << error;
        ASSERT_TRUE(inFolder.open(folder, error)) << error;
        for (const mpq::File& f : files) {
            Bytes x, y;
            ASSERT_TRUE(inArchive.read(f.name, x, error)) << error;
            ASSERT_TRUE(inFolder.read(f.name, y, error)) << error;
            EXPECT_EQ(x, y) << f.name;
        }
        EXPECT_EQ(textOf(readAll(folder / "war3map.j")).find("X000") != std::string::npos, patchScript);
        // Untouched files keep their bytes and their time; the backup folder holds only the files that changed.
        EXPECT_EQ(readAll(folder / "war3mapSkin.w3b"), readAll(source / "war3mapSkin.w3b"));
        EXPECT_EQ(fs::last_write_time(folder / "war3mapSkin.w3b"), oldTime);
        EXPECT_TRUE(fs::exists(dir / "BACKUP_folder.w3x" / "war3map.w3u"));
        EXPECT_FALSE(fs::exists(dir / "BACKUP_folder.w3x" / "war3mapSkin.w3b"));
        EXPECT_EQ(readAll(dir / "BACKUP_folder.w3x" / "war3map.w3u"), readAll(source / "war3map.w3u"));

        // A merge into both gives the same object files again.
        ObjectBundle added;
        put(added, ObjectKind::Units, makeObject("hfoo", "Y000", {intField("uhpm", 5)}));
        std::string saveError;
        ASSERT_TRUE(added.save(dir / "added.w3u", saveError));
        for (const fs::path& map : {archive, folder}) {
            RecordingSink sink;
            EXPECT_TRUE(mergeIntoMap(map, dir / "added.w3u", MergePolicy::Glue, true, sink).bundleWritten);
        }
        ASSERT_TRUE(inArchive.open(archive, error));
        ASSERT_TRUE(inFolder.open(folder, error));
        Bytes x, y;
        ASSERT_TRUE(inArchive.read("war3map.w3u", x, error));
        ASSERT_TRUE(inFolder.read("war3map.w3u", y, error));
        EXPECT_EQ(x, y);
    }
}

#endif // BRINDLEMARK_HAVE_ARCHIVES

// Replace, Merge and import are one command each for every form of main file: the command opens the file,
// renames, merges or imports its objects, writes it back after its backup copy, and the file read again holds the
// result. What the front ends ask of a main file is answered for each form alike: whether it is a map they refuse,
// how it reads for looking at, where its backup goes, and where its loading warnings go (a map's name the file
// inside, so they go to the command's sink).
TEST(EveryForm, ReplaceMergeAndImportWriteTheMainFileBackAfterItsBackup) {
    using Make = std::function<fs::path(const fs::path& dir, const Bytes& units)>;
    struct Form {
        const char* name;
        bool map;
        Make make;
    };
    const Form forms[] = {
        {"bundle", false,
         [](const fs::path& dir, const Bytes& units) {
             ObjectBundle bundle; // the byte past the objects is dropped here
             EXPECT_TRUE(bundle.loadObjectFileBytes(units, ObjectKind::Units, "units"));
             save(bundle, dir / "main.w3o");
             return dir / "main.w3o";
         }},
        {"object file of one kind", false,
         [](const fs::path& dir, const Bytes& units) {
             writeAll(dir / "main.w3u", units);
             return dir / "main.w3u";
         }},
        {"map folder", true,
         [](const fs::path& dir, const Bytes& units) {
             fs::create_directory(dir / "main.w3x");
             writeAll(dir / "main.w3x" / "war3map.w3u", units);
             return dir / "main.w3x";
         }},
#if BRINDLEMARK_HAVE_ARCHIVES
        {"map archive", true,
         [](const fs::path& dir, const Bytes& units) {
             writeAll(dir / "main.w3x", mpq::build(dir / "scratch.mpq", {{"war3map.w3u", units}}));
             return dir / "main.w3x";
         }},
#endif
    };
    for (const auto& [name, map, make] : forms) {
        SCOPED_TRACE(name);
        TempDir dir;
        ObjectBundle units;
        put(units, ObjectKind::Units, makeObject("hfoo", "h000", {intField("uhpm", 300)}));
        Bytes unitBytes = units.objectFileBytes(ObjectKind::Units);
        unitBytes.push_back(0); // a byte past the objects: a loading warning
        const fs::path path = make(dir.path(), unitBytes);
        EXPECT_EQ(mapRefusal(path, "it", "; no."), map ? "it is a map; no." : "");
        EXPECT_EQ(holdsMapFiles(path), map);
        EXPECT_EQ(mainBackupName(path), dir.path() / ("BACKUP_" + pathText(path.filename())));
        MainView view;
        std::string viewError;
        ASSERT_TRUE(readMainView(path, false, {}, view, viewError)) << viewError;
        EXPECT_EQ(view.ownStrings, map);
        EXPECT_EQ(tableIds(view.objects.kind(ObjectKind::Units).file.customTable), std::vector<std::string>{"h000"});
        ObjectBundle added;
        put(added, ObjectKind::Units, makeObject("hkni", "h002", {idField("ubui", "h000")}));
        save(added, dir / "added.w3o");
        writeAll(dir / "list.txt", std::string("h000 u000"));
        RecordingSink replaceSink;
        std::vector<std::string> warned;
        ReplaceRequest replace;
        replace.main = path;
        replace.replaceList = dir / "list.txt";
        replace.loadWarnings = [&warned](const std::string& line) { warned.push_back(line); };
        Document renamed;
        const ReplaceReport replaced = replaceIdentifiers(renamed, replace, replaceSink);
        EXPECT_EQ(warned.size(), std::string_view(name) == "object file of one kind" ? 1u : 0u);
        EXPECT_EQ(replaceSink.messages.size(), map ? 1u : 0u);
        EXPECT_TRUE(replaced.completed && replaced.bundleWritten);
        EXPECT_EQ(replaced.filesChanged, 1u);
        EXPECT_TRUE(fs::exists(dir / ("BACKUP_" + pathText(path.filename()))));

        RecordingSink sink;
        MergeRequest merge;
        merge.main = path;
        merge.addedFile = dir / "added.w3o";
        Document merged;
        const MergeReport report = mergeObjectFiles(merged, merge, sink);
        EXPECT_TRUE(report.completed && report.bundleWritten);
        EXPECT_EQ(report.merged[static_cast<std::size_t>(ObjectKind::Units)].added, 1u);
        EXPECT_TRUE(sink.messages.empty()) << sink.messages[0];

        // Imported again, the added object collides with the one merged and comes in under a free identifier.
        ImportRequest import;
        import.main = path;
        import.added = dir / "added.w3o";
        const ImportReport imported = importObjects(import, sink);
        EXPECT_TRUE(imported.written && !imported.failed) << (sink.messages.empty() ? "" : sink.messages[0]);
        ASSERT_EQ(imported.renames.size(), 1u);
        EXPECT_EQ(imported.renames[0].fromId.raw(), "h002");

        Document reread;
        std::string error;
        ASSERT_TRUE(reread.open(path, MergePolicy::Glue, {}, error)) << error;
        const std::vector<std::string> ids = tableIds(reread.objects().kind(ObjectKind::Units).file.customTable);
        EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()),
                  (std::set<std::string>{"h002", "u000", std::string(imported.renames[0].toId.raw())}));
    }
}

} // namespace
} // namespace brindlemark
