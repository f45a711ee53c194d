// brindlemark-cli on map archives and on object files of one kind.
#include "core/fileio.h"
#include "core/objectbundle.h"
#include "map/maparchive.h"
#include "tests/cli/clirun.h"
#include "tests/map/archivebuilder.h"
#include "tests/replace/bundlefixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace brindlemark {
namespace {

using namespace testing;
namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct CliMap : ::testing::Test {
    void SetUp() override {
        ObjectBundle units;
        put(units, ObjectKind::Units, makeObject("hfoo", "h000", {textField("unam", "TRIGSTR_004")}));
        put(units, ObjectKind::Units, makeObject("hkni", "h001", {idField("ubui", "h000")}));
        units.kind(ObjectKind::Units).file.version = 2;
        const std::vector<mpq::File> files = {
            {"war3map.w3u", units.objectFileBytes(ObjectKind::Units)},
            mpq::textFile("war3map.wtg", "trigger h000 h001"),
            mpq::textFile("war3map.wct", "h000"),
            mpq::textFile("war3map.lua", "CreateUnit(FourCC('h000'))"),
            mpq::textFile("war3map.wts", "\xEF\xBB\xBFSTRING 4\r\n{\r\nCaptain\r\n}\r\n"),
        };
        original = mpq::build(dir / "scratch.mpq", files);
        map = dir / "Тест.w3x";
        writeAll(map, original);
    }

    std::string inside(const char* name) {
        MapArchive archive;
        std::string error;
        EXPECT_TRUE(archive.open(map, error)) << error;
        Bytes out;
        EXPECT_TRUE(archive.read(name, out, error)) << error;
        return textOf(out);
    }

    TempDir dir;
    fs::path map;
    Bytes original;
};

TEST_F(CliMap, LooksIntoTheMapWithNamesFromItsStringTable) {
    const CliRun check = runCli({"check", pathText(map)});
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_THAT(check.out, HasSubstr("units: object file version 2"));
    const CliRun ids = runCli({"idlist", pathText(map), "-o", pathText(dir / "ids.txt")});
    EXPECT_EQ(ids.status, 0) << ids.err;
    EXPECT_EQ(textOf(readAll(dir / "ids.txt")), "h000\th000\t// Captain\r\nh001\th001\r\n");
}

TEST_F(CliMap, ReplaceRewritesTheMapAndKeepsABackup) {
    writeAll(dir / "list.txt", std::string("h000 u000\n"));
    const CliRun run = runCli({"replace", pathText(map), "--list", pathText(dir / "list.txt"), "--patch-script"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "h000\tu000\n");
    EXPECT_EQ(inside("war3map.wtg"), "trigger u000 h001");
    EXPECT_EQ(inside("war3map.wct"), "u000");
    EXPECT_EQ(inside("war3map.lua"), "CreateUnit(FourCC('u000'))");
    EXPECT_EQ(readAll(dir / "BACKUP_Тест.w3x"), original);
    ObjectBundle units;
    const std::string w3u = inside("war3map.w3u");
    ASSERT_TRUE(units.loadObjectFileBytes(Bytes(w3u.begin(), w3u.end()), ObjectKind::Units, "w3u"));
    EXPECT_EQ(idValueOf(units.kind(ObjectKind::Units).file.customTable.at(0), "ubui"), "u000");
}

TEST_F(CliMap, DryRunOnAMapNamesObjectsAndWritesNothing) {
    writeAll(dir / "list.txt", std::string("h000 u000\n"));
    const CliRun run = runCli({"replace", pathText(map), "--list", pathText(dir / "list.txt"), "--dry-run"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "h000 -> u000  \"Captain\": 0 strings, 1 integer; war3map.wtg 1, war3map.wct 1, "
                       "war3map.lua (not patched) 1\n"
                       "total: 1 rename, 0 strings, 1 integer; war3map.wtg 1, war3map.wct 1, "
                       "war3map.lua (not patched) 1\n");
    EXPECT_EQ(readAll(map), original);
}

TEST_F(CliMap, DamagedMapIsRefusedAndUnchanged) {
    Bytes damaged = original;
    for (std::size_t i = 600; i < damaged.size(); i += 3)
        damaged[i] ^= 0x5a;
    writeAll(map, damaged);
    writeAll(dir / "list.txt", std::string("h000 u000\n"));
    const CliRun run = runCli({"replace", pathText(map), "--list", pathText(dir / "list.txt")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr(pathText(map)));
    EXPECT_EQ(readAll(map), damaged);
    EXPECT_FALSE(fs::exists(dir / "BACKUP_Тест.w3x"));
}

TEST_F(CliMap, MergeTakesASingleKindFileIntoTheMap) {
    ObjectBundle abilities;
    put(abilities, ObjectKind::Abilities, makeObject("AHbz", "A000", {textField("anam", "Storm")}));
    std::string error;
    ASSERT_TRUE(abilities.save(dir / "spells.w3a", error));
    const CliRun run = runCli({"merge", pathText(map), pathText(dir / "spells.w3a"), "--policy", "glue"});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string w3a = inside("war3map.w3a");
    ObjectBundle merged;
    ASSERT_TRUE(merged.loadObjectFileBytes(Bytes(w3a.begin(), w3a.end()), ObjectKind::Abilities, "w3a"));
    EXPECT_EQ(tableIds(merged.kind(ObjectKind::Abilities).file.customTable), std::vector<std::string>{"A000"});
    EXPECT_EQ(inside("war3map.wtg"), "trigger h000 h001");
}

TEST(CliSingleKind, ReplaceWritesTheFileBackInItsOwnLayout) {
    TempDir dir;
    ObjectBundle units;
    put(units, ObjectKind::Units, makeObject("hfoo", "h000", {intField("uhpm", 1)}));
    units.kind(ObjectKind::Units).file.version = 2;
    std::string error;
    ASSERT_TRUE(units.save(dir / "war3map.w3u", error));
    writeAll(dir / "list.txt", std::string("h000 u000"));
    const CliRun run = runCli({"replace", pathText(dir / "war3map.w3u"), "--list", pathText(dir / "list.txt")});
    EXPECT_EQ(run.status, 0) << run.err;
    ObjectBundle again;
    ASSERT_TRUE(again.load(dir / "war3map.w3u"));
    EXPECT_EQ(tableIds(again.kind(ObjectKind::Units).file.customTable), std::vector<std::string>{"u000"});
    EXPECT_EQ(readAll(dir / "war3map.w3u").size(), readAll(dir / "BACKUP_war3map.w3u").size());
    EXPECT_EQ(runCli({"replace", pathText(dir / "war3map.w3u"), "--list", pathText(dir / "list.txt"),
                      "--patch-script"}).status,
              2);
}

TEST_F(CliMap, BuildWritesEditedJsonIntoTheMapAndDiffShowsIt) {
    const fs::path json = dir / "objects.json";
    ASSERT_EQ(runCli({"dump", pathText(map), "--json"}, json).status, 0);
    std::string text = textOf(readAll(json));
    const std::size_t at = text.find("TRIGSTR_004");
    ASSERT_NE(at, std::string::npos) << text;
    writeAll(json, text.replace(at, 11, "Sergeant"));
    const CliRun run = runCli({"build", pathText(json), "--into", pathText(map)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(inside("war3map.w3u"), HasSubstr("Sergeant"));
    EXPECT_EQ(inside("war3map.wtg"), "trigger h000 h001");
    EXPECT_EQ(readAll(dir / "BACKUP_Тест.w3x"), original);

    writeAll(dir / "old.w3x", original);
    const CliRun diff = runCli({"diff", pathText(dir / "old.w3x"), pathText(map)});
    EXPECT_EQ(diff.status, 1) << diff.err;
    EXPECT_EQ(diff.out, "changed: units custom h000 \"Sergeant\"\n"
                        "  unam: string \"TRIGSTR_004\" -> string \"Sergeant\"\n");
}

} // namespace
} // namespace brindlemark

namespace brindlemark {
namespace {

using namespace testing;

// An output that is one of the inputs would be lost (a whole map turned into a bare bundle or a text list);
// such a command, and one that would replace a device or a pipe, is refused and changes nothing.
TEST(CliOutput, AnOutputThatWouldDestroyAnInputOrADeviceIsRefused) {
    TempDir dir;
    ObjectBundle bundle;
    put(bundle, ObjectKind::Units, makeObject("hfoo", "h000", {textField("unam", "Guard")}));
    std::string error;
    ASSERT_TRUE(bundle.save(dir / "a.w3o", error));
    writeAll(dir / "Карта.w3x", std::string("stands in for a map"));
#ifndef _WIN32
    std::filesystem::create_symlink(dir / "a.w3o", dir / "link.w3o");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
#endif
    const std::string a = pathText(dir / "a.w3o");
    const std::string map = pathText(dir / "Карта.w3x");
    const Bytes bundleBytes = readAll(dir / "a.w3o");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    std::vector<Case> cases = {
        {{"normalize", map, "-o", map}, "is the input"},
        {{"idlist", a, "-o", a}, "is the input"},
        {{"idlist", a, "-o", pathText(dir.path() / "." / "a.w3o")}, "is the input"},
        {{"merge", a, pathText(dir.path() / "." / "a.w3o"), "--policy", "glue"}, "is MAIN itself"},
    };
#ifndef _WIN32
    // Links, devices and pipes as POSIX has them.
    cases.insert(cases.end(), {
                                  {{"idlist", a, "-o", pathText(dir / "link.w3o")}, "is the input"},
                                  {{"merge", a, pathText(dir / "link.w3o"), "--policy", "glue"}, "is MAIN itself"},
                                  {{"normalize", a, "-o", "/dev/null"}, "not a regular file"},
                                  {{"normalize", a, "-o", pathText(dir / "pipe")}, "not a regular file"},
                              });
#endif
    for (const Case& c : cases) {
        const CliRun run = runCli(c.args);
        EXPECT_EQ(run.status, 1) << c.args[0] << " " << c.args.back();
        EXPECT_THAT(run.err, HasSubstr(c.err)) << c.args[0];
    }
    EXPECT_EQ(readAll(dir / "a.w3o"), bundleBytes);
    EXPECT_EQ(readAll(dir / "Карта.w3x"), Bytes(std::string_view("stands in for a map").begin(),
                                                 std::string_view("stands in for a map").end()));
#ifndef _WIN32
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.w3o"));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
#endif

    // A bundle may be normalized onto itself, and - is standard output.
    EXPECT_EQ(runCli({"normalize", a, "-o", a}).status, 0);
    const CliRun listed = runCli({"idlist", a, "-o", "-"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, "h000\th000\t// Guard\r\n");
    const CliRun piped = runCli({"normalize", a, "-o", "-"});
    EXPECT_EQ(Bytes(piped.out.begin(), piped.out.end()), bundleBytes);
}

} // namespace
} // namespace brindlemark
