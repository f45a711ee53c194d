// brindlemark-cli on map archives and on object files of one kind.
#include "core/fileio.h"
#include "core/objectbundle.h"
#include "commands/mapcommands.h"
#include "tests/cli/clirun.h"
#if BRINDLEMARK_HAVE_ARCHIVES
#include "archive/maparchive.h"
#include "tests/map/archivebuilder.h"
#endif
#include "tests/replace/bundlefixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <regex>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace brindlemark {
namespace {

using namespace testing;
namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::ContainsRegex;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

#if BRINDLEMARK_HAVE_ARCHIVES // the map archive cases
struct CliMap : ::testing::Test {
    void SetUp() override {
        ObjectBundle units;
        put(units, ObjectKind::Units, makeObject("hfoo", "h000", {textField("unam", "TRIGSTR_004")}));
        put(units, ObjectKind::Units, makeObject("hkni", "h001", {idField("ubui", "h000")}));
        units.kind(ObjectKind::Units).file.version = 2;
        ObjectBundle skin;
        put(skin, ObjectKind::Units, makeObject("hfoo", "h000", {textField("umdl", "units\\captain.mdx")}));
        skin.kind(ObjectKind::Units).file.version = 3;
        const std::vector<mpq::File> files = {
            {"war3map.w3u", units.objectFileBytes(ObjectKind::Units)},
            {"war3mapSkin.w3u", skin.objectFileBytes(ObjectKind::Units)},
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
    EXPECT_THAT(check.out, HasSubstr("\nunits: object file version 2, standard objects 0, custom objects 2"));
    EXPECT_THAT(check.out, HasSubstr("\nskin units: object file version 3, standard objects 0, custom objects 1"));
    const CliRun ids = runCli({"idlist", pathText(map), "-o", pathText(dir / "ids.txt")});
    EXPECT_EQ(ids.status, 0) << ids.err;
    EXPECT_EQ(textOf(readAll(dir / "ids.txt")), "h000\th000\t// Captain\r\nh001\th001\r\n");
}

// A map is not a bare bundle: an output named as a map is refused, and a map's objects written out as a bundle
// carry the bundle version the editor writes.
TEST_F(CliMap, AMapIsNamedWhereABundleBelongsAndItsBundleHasVersionOne) {
    const std::string name = pathText(map);
    const std::string bundle = pathText(dir / "objects.w3o");
    ASSERT_EQ(runCli({"normalize", name, "-o", bundle}).status, 0);
    EXPECT_THAT(runCli({"check", bundle}).out, ::testing::StartsWith("bundle version: 1\n"));
    writeAll(dir / "Copy.w3x", original);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"normalize", name, "-o", pathText(dir / "Out.w3x")}, pathText(dir / "Out.w3x") + " is a map"},
        {{"normalize", bundle, "-o", pathText(dir / "Copy.w3x")}, pathText(dir / "Copy.w3x") + " is a map"},
    };
    const Bytes before = readAll(dir / "objects.w3o");
    for (const auto& [args, said] : cases) {
        const CliRun run = runCli(args);
        EXPECT_EQ(run.status, 1) << said;
        EXPECT_THAT(run.err, HasSubstr(said));
    }
    for (const char* made : {"Out.w3x", "BACKUP_objects.w3o", "BACKUP_Тест.w3x"})
        EXPECT_FALSE(fs::exists(dir / fs::path(std::u8string(reinterpret_cast<const char8_t*>(made))))) << made;
    EXPECT_EQ(readAll(dir / "objects.w3o"), before);
    EXPECT_EQ(readAll(map), original);
    EXPECT_EQ(readAll(dir / "Copy.w3x"), original);
}

TEST_F(CliMap, ReplaceRewritesTheMapAndKeepsABackup) {
    writeAll(dir / "list.txt", std::string("h000 u000\n"));
    // Without --patch-script the script keeps the old identifiers, and the hint says how to patch them: from the
    // backup, as the renamed map has nothing left to rename.
    const CliRun unpatched = runCli({"replace", pathText(map), "--list", pathText(dir / "list.txt")});
    EXPECT_EQ(unpatched.status, 0) << unpatched.err;
    EXPECT_THAT(unpatched.err, HasSubstr("renamed 1 identifier, changed 1 file\n"));
    EXPECT_THAT(unpatched.err,
                HasSubstr("war3map.lua holds 1 occurrence of renamed identifiers and was not changed; "
                          "to patch them, restore the map from its backup " +
                          pathText(backupName(splitPath(map))) + " and run this replace again with --patch-script"));
    EXPECT_EQ(inside("war3map.lua"), "CreateUnit(FourCC('h000'))");
    writeAll(map, readAll(backupName(splitPath(map)))); // MinGW's copy_file cannot overwrite
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

    // A collision names the object that held the identifier by its text, not its string reference.
    writeAll(dir / "list.txt", std::string("h001 h000\n"));
    const CliRun collision = runCli({"replace", pathText(map), "--list", pathText(dir / "list.txt"), "--dry-run"});
    EXPECT_EQ(collision.status, 0) << collision.err;
    EXPECT_THAT(collision.out, HasSubstr("\nh001 -> h000 collides with the existing h000 'Captain'; glued\n"));
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

#endif // BRINDLEMARK_HAVE_ARCHIVES

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
    EXPECT_EQ(runCli({"replace", pathText(dir / "war3map.w3u"), "--list", pathText(dir / "list.txt"), "--patch-script"})
                  .status,
              2);
}

#if BRINDLEMARK_HAVE_ARCHIVES // the map archive cases
TEST_F(CliMap, BuildWritesEditedJsonIntoTheMapAndDiffShowsIt) {
    const fs::path json = dir / "objects.json";
    ASSERT_EQ(runCli({"dump", pathText(map), "--json"}, json).status, 0);
    std::string text = textOf(readAll(json));
    const std::size_t at = text.find("TRIGSTR_004");
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, 11, "Sergeant");
    const std::size_t model = text.find("captain.mdx");
    ASSERT_NE(model, std::string::npos) << text;
    writeAll(json, text.replace(model, 7, "major"));
    const CliRun run = runCli({"build", pathText(json), "--into", pathText(map)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "units: 2 -> 2 objects (0 added, 0 removed, 1 changed)\n"
                       "skin units: 1 -> 1 objects (0 added, 0 removed, 1 changed)\n" +
                           pathText(map) + ": 2 object files written\n");
    EXPECT_THAT(inside("war3map.w3u"), AllOf(HasSubstr("Sergeant"), Not(HasSubstr("mdx"))));
    EXPECT_THAT(inside("war3mapSkin.w3u"), AllOf(HasSubstr("major.mdx"), Not(HasSubstr("Sergeant"))));
    EXPECT_EQ(inside("war3map.wtg"), "trigger h000 h001");
    EXPECT_EQ(readAll(dir / "BACKUP_Тест.w3x"), original);

    writeAll(dir / "old.w3x", original);
    const CliRun diff = runCli({"diff", pathText(dir / "old.w3x"), pathText(map)});
    EXPECT_EQ(diff.status, 1) << diff.err;
    EXPECT_EQ(diff.out, "changed: units custom h000 \"Sergeant\"\n"
                        "  unam: string \"Captain\" -> string \"Sergeant\"\n"
                        "changed: skin units custom h000 \"Sergeant\"\n"
                        "  umdl: string \"units\\\\captain.mdx\" -> string \"units\\\\major.mdx\"\n");
    EXPECT_THAT(runCli({"diff", pathText(dir / "old.w3x"), pathText(map), "--json"}).out, HasSubstr(R"("skin": true)"));
    // A bundle cannot hold skin objects apart.
    const CliRun bundle = runCli({"build", pathText(json), "-o", pathText(dir / "objects.w3o")});
    EXPECT_EQ(bundle.status, 1);
    EXPECT_THAT(bundle.err, HasSubstr("the JSON holds skin objects"));
    EXPECT_FALSE(fs::exists(dir / "objects.w3o"));
}

// A kind in the JSON replaces the map's: a build that would drop objects is refused unless asked for, or the JSON
// is merged into the map's kinds; the skin files, which the JSON leaves out, stay.
TEST_F(CliMap, BuildIntoTheMapSaysWhatItReplacesAndRemovesNothingUnasked) {
    const fs::path json = dir / "new.json";
    writeAll(json, std::string_view(R"({"kinds": {"units": {"custom": [
        {"baseId": "hfoo", "newId": "h002", "modifications": []}]}}})"));
    const std::string replaced = "units: 2 -> 1 objects (1 added, 2 removed, 0 changed)\n";
    struct Case {
        std::vector<std::string> options;
        int status;
        std::string out;
        std::vector<std::string> units; // after the run; empty: the map is unchanged
        std::string err = {};
    };
    const std::vector<Case> cases = {
        {{},
         1,
         replaced,
         {},
         "brindlemark-cli: build: " + pathText(json) + " would remove 2 objects from " + pathText(map) +
             " (2 units): a kind in the JSON replaces the map's kind; add --replace to replace them, or --policy "
             "overwrite|glue|keep to merge into them; nothing was written\n"},
        {{"--dry-run"}, 1, replaced, {}, "brindlemark-cli: build: " + pathText(json) + " would remove 2 objects"},
        {{"--replace", "--dry-run"}, 0, replaced + "dry run: nothing was written\n", {}},
        {{"--policy", "glue", "--dry-run"},
         0,
         "units: 2 -> 3 objects (1 added, 0 removed, 0 changed)\ndry run: nothing was written\n",
         {}},
        {{"--policy", "keep"},
         0,
         "units: 2 -> 3 objects (1 added, 0 removed, 0 changed)\n" + pathText(map) + ": 1 object file written\n",
         {"h000", "h001", "h002"}},
        {{"--replace"}, 0, replaced + pathText(map) + ": 1 object file written\n", {"h002"}},
        {{"--policy", "merge"}, 2, "", {}, "brindlemark-cli: build: unknown policy 'merge'"},
    };
    const std::string skin = inside("war3mapSkin.w3u");
    for (const Case& c : cases) {
        writeAll(map, original);
        fs::remove(dir / "BACKUP_Тест.w3x");
        std::vector<std::string> args = {"build", pathText(json), "--into", pathText(map)};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const CliRun run = runCli(args);
        const std::string what = c.options.empty() ? "no option" : c.options[0];
        EXPECT_EQ(run.status, c.status) << what << ": " << run.err;
        EXPECT_EQ(run.out, c.out) << what;
        EXPECT_THAT(run.err, StartsWith(c.err)) << what;
        if (c.units.empty()) {
            EXPECT_EQ(readAll(map), original) << what;
            EXPECT_FALSE(fs::exists(dir / "BACKUP_Тест.w3x")) << what;
            continue;
        }
        ObjectBundle units;
        const std::string w3u = inside("war3map.w3u");
        ASSERT_TRUE(units.loadObjectFileBytes(Bytes(w3u.begin(), w3u.end()), ObjectKind::Units, "w3u"));
        EXPECT_EQ(tableIds(units.kind(ObjectKind::Units).file.customTable), c.units) << what;
        EXPECT_EQ(inside("war3mapSkin.w3u"), skin) << what;
    }
}

// dump --json of a map built back into it changes no byte, for every map the corpus's object files make, as a map
// folder and as an archive.
TEST(CliMapCorpus, DumpBuiltIntoTheSameMapChangesNothing) {
    const fs::path corpus = corpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus folder";
    TempDir dir;
    std::size_t maps = 0;
    for (const auto& set : fs::directory_iterator(corpus)) {
        if (!set.is_directory())
            continue;
        std::vector<mpq::File> files;
        for (const auto& entry : fs::directory_iterator(set.path())) {
            const std::string name = pathText(entry.path().filename());
            if ((name.starts_with("war3map.") || name.starts_with("war3mapSkin.")) && singleKindOf(entry.path()))
                files.push_back({name, readAll(entry.path())});
        }
        if (files.empty())
            continue;
        ++maps;
        const fs::path folder = dir / (pathText(set.path().filename()) + ".w3x");
        fs::create_directory(folder);
        for (const mpq::File& f : files)
            writeAll(folder / f.name, f.data);
        const fs::path archive = dir / (pathText(set.path().filename()) + ".w3m");
        writeAll(archive, mpq::build(dir / "scratch.mpq", files));
        const Bytes archiveBytes = readAll(archive);
        for (const fs::path& map : {folder, archive}) {
            const fs::path json = dir / "dump.json";
            ASSERT_EQ(runCli({"dump", pathText(map), "--json"}, json).status, 0) << pathText(map);
            const CliRun run = runCli({"build", pathText(json), "--into", pathText(map)});
            EXPECT_EQ(run.status, 0) << pathText(map) << ": " << run.err;
            EXPECT_THAT(run.out, EndsWith(pathText(map) + " already holds these objects; nothing was written\n"));
            EXPECT_FALSE(std::regex_search(run.out, std::regex("[1-9][0-9]* (added|removed|changed)"))) << run.out;
        }
        for (const mpq::File& f : files)
            EXPECT_EQ(readAll(folder / f.name), f.data) << f.name;
        EXPECT_EQ(readAll(archive), archiveBytes) << pathText(archive);
        EXPECT_FALSE(fs::exists(dir / ("BACKUP_" + pathText(folder.filename()))));
    }
    EXPECT_GT(maps, 0u);
}

// Maps that refer to texts in their string tables: "source" names its units by TRIGSTR_004 and TRIGSTR_7;
// "target" has a text of its own under number 4, in LF line ends.
struct MapStrings : ::testing::Test {
    static constexpr const char* kTargetTable = "STRING 4\n{\nHeroic Type\n}\n";

    // A map holding `units` and, unless empty, the string table `table`: an archive, or a folder.
    fs::path makeMap(const std::string& name, const ObjectBundle& units, const std::string& table, bool folder) {
        std::vector<mpq::File> files = {{"war3map.w3u", units.objectFileBytes(ObjectKind::Units)},
                                        mpq::textFile("war3map.w3i", "info")};
        if (!table.empty())
            files.push_back(mpq::textFile("war3map.wts", table));
        const fs::path path = dir / name;
        if (!folder) {
            writeAll(path, mpq::build(dir / (name + ".scratch"), files));
            return path;
        }
        fs::create_directory(path);
        for (const mpq::File& f : files)
            writeAll(path / f.name, f.data);
        return path;
    }
    fs::path source(const std::string& table = "\xEF\xBB\xBFSTRING 4\r\n{\r\nHoly Priest\r\n}\r\n"
                                               "STRING 7\r\n{\r\nHeals\r\nallies\r\n}\r\n") {
        ObjectBundle units;
        put(units, ObjectKind::Units,
            makeObject("hfoo", "h000", {textField("unam", "TRIGSTR_004"), textField("utub", "TRIGSTR_7")}));
        put(units, ObjectKind::Units, makeObject("hkni", "h001", {textField("unam", "TRIGSTR_004")}));
        return makeMap("source.w3x", units, table, false);
    }
    fs::path target(bool folder, bool withTable = true) {
        ObjectBundle units;
        put(units, ObjectKind::Units, makeObject("hpea", "h000", {textField("unam", "TRIGSTR_004")}));
        return makeMap(folder ? "target" : "target.w3x", units, withTable ? kTargetTable : "", folder);
    }
    // The texts of the objects' fields in a map or a file: references resolved by the map's table.
    static std::map<std::string, std::string> texts(const fs::path& path, StringTable* table = nullptr) {
        ObjectBundle bundle;
        StringTable strings;
        std::string error;
        if (isMapForm(formOf(path)))
            EXPECT_TRUE(loadMapBundle(path, bundle, strings, error, {})) << error;
        else
            bundle = load(path);
        std::map<std::string, std::string> out;
        for (const ObjectRecord& r : bundle.kind(ObjectKind::Units).file.customTable.objects())
            for (const Modification& m : r.modifications())
                out[r.effectiveId().text() + "." + m.fieldId.text()] = strings.resolve(m.stringValue);
        if (table)
            *table = strings;
        return out;
    }
    static std::string wts(const fs::path& map) {
        MapContents contents;
        std::string error;
        Bytes bytes;
        EXPECT_TRUE(contents.open(map, error) && contents.read("war3map.wts", bytes, error)) << error;
        return textOf(bytes);
    }

    // A fresh folder for the next case.
    void nextCase() {
        dir = root / std::to_string(++cases);
        fs::create_directory(dir);
    }

    TempDir root;
    int cases = 0;
    fs::path dir = root / "0";
    void SetUp() override { fs::create_directory(dir); }
};

// Objects that move out of a map take their texts along: into another map's table under new numbers (the
// target's own bytes stay, new blocks follow in its line ends), or in place of the references in a file without
// a table. A reference the source's table lacks stops every such run, and nothing is written.
TEST_F(MapStrings, TextsTravelWithTheObjects) {
    const std::map<std::string, std::string> moved = {
        {"h002.unam", "Holy Priest"}, {"h002.utub", "Heals\nallies"}, {"h001.unam", "Holy Priest"}};
    struct Case {
        const char* command;
        bool mainIsMap;
        bool folder;
    };
    for (const Case& c : {Case{"import", true, false}, Case{"import", true, true}, Case{"merge", true, false},
                          Case{"import", false, false}, Case{"merge", false, false}, Case{"normalize", false, false}}) {
        SCOPED_TRACE(std::string(c.command) +
                     (c.mainIsMap ? (c.folder ? " into a folder map" : " into a map") : " into a file"));
        nextCase();
        const fs::path from = source();
        const fs::path main = c.mainIsMap ? target(c.folder) : dir / "main.w3o";
        if (!c.mainIsMap) {
            ObjectBundle own;
            put(own, ObjectKind::Units, makeObject("hpea", "h000", {textField("unam", "Peasant")}));
            save(own, main);
        }
        std::vector<std::string> args = {c.command, pathText(main), pathText(from)};
        if (std::string(c.command) == "normalize")
            args = {c.command, pathText(from), "-o", pathText(main)};
        else if (std::string(c.command) == "merge")
            args.insert(args.end(), {"--policy", "glue"});
        const Bytes sourceBytes = readAll(from);
        const CliRun run = runCli(args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(readAll(from), sourceBytes);

        StringTable table;
        std::map<std::string, std::string> got = texts(main, &table);
        if (std::string(c.command) == "import") {
            for (const auto& [field, text] : moved)
                EXPECT_EQ(got[field], text) << field;
        } else { // merge and normalize keep the identifiers
            EXPECT_EQ(got["h000.utub"], "Heals\nallies");
            EXPECT_EQ(got["h001.unam"], "Holy Priest");
        }
        if (c.mainIsMap) {
            // The target's own text keeps its number and bytes; each source text came once, numbered on.
            const std::string table = wts(main);
            EXPECT_TRUE(table.starts_with(kTargetTable)) << table;
            EXPECT_EQ(table,
                      std::string(kTargetTable) + "STRING 5\n{\nHoly Priest\n}\n\nSTRING 6\n{\nHeals\nallies\n}\n\n");
            if (std::string(c.command) == "import") {
                EXPECT_EQ(got["h000.unam"], "Heroic Type");
            }
        } else {
            EXPECT_EQ(textOf(readAll(main)).find("TRIGSTR_"), std::string::npos);
        }
    }

    // A missing text is refused by name, and so is one from a map without any string table.
    for (const std::string& table : {std::string("STRING 7\n{\nHeals\n}\n"), std::string()}) {
        for (const char* command : {"import", "merge", "normalize"}) {
            SCOPED_TRACE(std::string(command) + (table.empty() ? " from a map without a table" : ""));
            nextCase();
            const fs::path from = source(table);
            const fs::path main = target(false);
            const Bytes before = readAll(main);
            const CliRun run = std::string(command) == "normalize"
                                   ? runCli({command, pathText(from), "-o", pathText(dir / "out.w3o")})
                                   : runCli({command, pathText(main), pathText(from), "--policy", "glue"});
            EXPECT_EQ(run.status, 1) << run.err;
            EXPECT_THAT(run.err, HasSubstr("TRIGSTR_004 (units h000, field unam)"));
            EXPECT_THAT(run.err, HasSubstr(table.empty() ? "that the map does not have" : "not in its string table"));
            EXPECT_EQ(readAll(main), before);
            EXPECT_FALSE(fs::exists(dir / "out.w3o"));
            EXPECT_FALSE(fs::exists(dir / "BACKUP_target.w3x"));
        }
    }

    // Kept as references on the way out, they are named when they go into a map, whose own texts they then mean.
    nextCase();
    const CliRun kept =
        runCli({"normalize", pathText(source()), "-o", pathText(dir / "refs.w3o"), "--keep-string-refs"});
    EXPECT_THAT(kept.err, HasSubstr("3 string values stay references"));
    const CliRun merged = runCli({"merge", pathText(target(false)), pathText(dir / "refs.w3o"), "--policy", "glue"});
    EXPECT_EQ(merged.status, 0) << merged.err;
    EXPECT_THAT(merged.out + merged.err, HasSubstr("refs.w3o holds 3 string values that refer to a string table"));
}

// A dump of a map gives each reference its text: built into the same map nothing changes, built into another
// map the texts join its table; two maps that number the same texts differently are equal to diff.
TEST_F(MapStrings, DumpBuildIntoAnotherMapAndDiffGoByTheTexts) {
    const fs::path from = source();
    const fs::path json = dir / "source.json";
    ASSERT_EQ(runCli({"dump", pathText(from), "--json"}, json).status, 0);
    EXPECT_THAT(textOf(readAll(json)), HasSubstr("\"value\": \"TRIGSTR_004\", \"text\": \"Holy Priest\""));

    const Bytes sourceBytes = readAll(from);
    const CliRun same = runCli({"build", pathText(json), "--into", pathText(from)});
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(readAll(from), sourceBytes);

    const fs::path into = target(true, false); // a folder map without a string table
    const CliRun other = runCli({"build", pathText(json), "--into", pathText(into), "--no-backup"});
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(wts(into), "\xEF\xBB\xBFSTRING 1\r\n{\r\nHoly Priest\r\n}\r\n\r\n"
                         "STRING 2\r\n{\r\nHeals\r\nallies\r\n}\r\n\r\n");
    EXPECT_EQ(texts(into), texts(from));

    const CliRun diff = runCli({"diff", pathText(from), pathText(into)});
    EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
    const CliRun differs = runCli({"diff", pathText(from), pathText(target(false))});
    EXPECT_THAT(differs.out, HasSubstr("unam: string \"Holy Priest\" -> string \"Heroic Type\""));

    // Built into a bundle, which has no string table, the texts are written; or the references, when asked.
    for (const bool keep : {false, true}) {
        const fs::path bundle = dir / (keep ? "refs.w3o" : "texts.w3o");
        std::vector<std::string> args = {"build", pathText(json), "-o", pathText(bundle)};
        if (keep)
            args.push_back("--keep-string-refs");
        const CliRun built = runCli(args);
        ASSERT_EQ(built.status, 0) << built.err;
        const std::string dumped = runCli({"dump", pathText(bundle)}).out;
        EXPECT_THAT(dumped, HasSubstr(keep ? "TRIGSTR_004" : "Holy Priest"));
        EXPECT_THAT(dumped, Not(HasSubstr(keep ? "Holy Priest" : "TRIGSTR_004")));
    }
}

#endif // BRINDLEMARK_HAVE_ARCHIVES

} // namespace
} // namespace brindlemark

namespace brindlemark {
namespace {

using namespace testing;

// Every file and link under `root`, by path inside it: a file's bytes, a link's target.
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = pathText(entry.path().lexically_relative(root));
        if (entry.is_symlink())
            out[name] = "-> " + pathText(fs::read_symlink(entry.path()));
        else if (entry.is_regular_file())
            out[name] = textOf(readAll(entry.path()));
    }
    return out;
}

// In every form of main file a backup holds the user's data: a run that renames or merges nothing writes nothing
// and keeps the backup there is; a file given in two roles, and a backup location that is a symbolic link, are
// refused, and nothing changes.
TEST(CliBackups, HoldTheUsersDataInEveryFormOfMainFile) {
    ObjectBundle units;
    put(units, ObjectKind::Units, makeObject("hfoo", "h000", {textField("unam", "Guard")}));
    const Bytes w3u = units.objectFileBytes(ObjectKind::Units);
    struct Form {
        const char* name;
        bool folder;
    };
    std::vector<Form> forms = {Form{"main.w3o", false}, Form{"main.w3u", false}, Form{"main.w3x", true}};
    if (BRINDLEMARK_HAVE_ARCHIVES)
        forms.push_back(Form{"main.w3x", false});
    for (const Form form : forms) {
        SCOPED_TRACE(std::string(form.name) + (form.folder ? " (folder)" : ""));
        TempDir dir;
        TempDir scratch;
        const fs::path main = dir / form.name;
        const fs::path backup = dir / (std::string("BACKUP_") + form.name);
        std::string error;
        if (form.folder) {
            fs::create_directory(main);
            writeAll(main / "war3map.w3u", w3u);
            writeAll(main / "war3map.wtg", "h000");
            fs::create_directory(backup);
            writeAll(backup / "war3map.w3u", "an earlier backup");
        } else if (main.extension() == ".w3x") {
#if BRINDLEMARK_HAVE_ARCHIVES
            writeAll(main,
                     mpq::build(scratch / "map.mpq", {{"war3map.w3u", w3u}, mpq::textFile("war3map.wtg", "h000")}));
#endif
            writeAll(backup, "an earlier backup");
        } else {
            ASSERT_TRUE(units.save(main, error)) << error;
            writeAll(backup, "an earlier backup");
        }
        ASSERT_TRUE(units.save(dir / "added.w3o", error)) << error;
        writeAll(dir / "t.wtg", "h000");
        writeAll(dir / "BACKUP_t.wtg", "an earlier trigger backup");
        writeAll(dir / "nothing.txt", "zzzz yyyy\n");
        writeAll(dir / "list.txt", "h000 h001\n");
        const std::string m = pathText(main);
        const std::string t = pathText(dir / "t.wtg");
        const std::string list = pathText(dir / "list.txt");
        const auto before = snapshot(dir.path());

        const CliRun nothing = runCli({"replace", m, "--list", pathText(dir / "nothing.txt"), "--side", t});
        EXPECT_EQ(nothing.status, 0) << nothing.err;
        EXPECT_EQ(snapshot(dir.path()), before);
        const CliRun same = runCli({"merge", m, pathText(dir / "added.w3o"), "--policy", "glue"});
        EXPECT_EQ(same.status, 0) << same.err;
        EXPECT_EQ(snapshot(dir.path()), before);

        struct Case {
            std::vector<std::string> args;
            std::string err;
        };
        std::vector<Case> cases = {
            {{"replace", m, "--list", list, "--side", t, "--side", pathText(dir / "BACKUP_t.wtg")},
             pathText(dir / "BACKUP_t.wtg") + " is both the backup copy of " + t + " and a side file"},
            // a side file that is another of the run's own files is named by that file's role
            {{"import", m, pathText(dir / "added.w3o"), "--side", pathText(dir / "added.w3o")},
             "Side file " + pathText(dir / "added.w3o") + " is the added file itself"},
            {{"import", m, pathText(dir / "added.w3o"), "--side", t, "--list-out", t},
             "Side file " + t + " is the list written with --list-out itself"},
        };
        if (form.folder)
            cases.push_back({{"import", m, pathText(dir / "added.w3o"), "--list-out", pathText(backup / "ids.txt")},
                             pathText(backup / "ids.txt") + " (the identifier list) is inside " + pathText(backup) +
                                 ", the backup folder of " + m + ", which this run replaces whole"});
        else {
            cases.push_back({{"import", m, pathText(dir / "added.w3o"), "--list-out", pathText(backup)},
                             pathText(backup) + " is both the backup copy of " + m + " and the identifier list"});
            cases.push_back({{"merge", m, pathText(backup), "--policy", "glue"},
                             pathText(backup) + " is both the backup copy of " + m + " and the added file"});
        }
        for (const Case& c : cases) {
            const CliRun run = runCli(c.args);
            EXPECT_EQ(run.status, 1) << c.args[0];
            EXPECT_THAT(run.err, HasSubstr(c.err + "; nothing was written")) << c.args[0];
            EXPECT_EQ(snapshot(dir.path()), before) << c.args[0];
        }

#ifndef _WIN32 // links need rights on Windows that a user rarely has
        // A backup location that is a link is not written through.
        const fs::path victim = dir / "victim";
        fs::rename(backup, victim);
        if (form.folder)
            fs::create_directory_symlink(victim, backup);
        else
            fs::create_symlink(victim, backup);
        const auto linked = snapshot(dir.path());
        const CliRun run = runCli({"replace", m, "--list", list});
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.err, HasSubstr(pathText(backup)));
        EXPECT_THAT(run.err, HasSubstr("a symbolic link, and a backup is never written through a link"));
        EXPECT_EQ(snapshot(dir.path()), linked);
#endif
    }
}

// Import, Replace and Merge are written once for every form of main file: the same runs on a bundle, an object
// file of one kind, a map folder and a map archive leave the same objects, which the bundle's shows are right.
TEST(CliForms, EveryFormOfMainFileTakesTheSameRunsToTheSameObjects) {
    ObjectBundle units;
    put(units, ObjectKind::Units, makeObject("hfoo", "h000", {textField("unam", "Guard")}));
    const Bytes w3u = units.objectFileBytes(ObjectKind::Units);
    ObjectBundle scout;
    put(scout, ObjectKind::Units, makeObject("hkni", "h000", {textField("unam", "Scout"), idField("ubui", "h000")}));
    ObjectBundle merged;
    put(merged, ObjectKind::Units, makeObject("hpea", "h0ZZ", {textField("unam", "Merged")}));
    struct Form {
        const char* name;
        bool folder;
    };
    std::vector<Form> forms = {Form{"main.w3o", false}, Form{"main.w3u", false}, Form{"main.w3x", true}};
    if (BRINDLEMARK_HAVE_ARCHIVES)
        forms.push_back(Form{"main.w3x", false});
    std::string first;
    for (const Form form : forms) {
        SCOPED_TRACE(std::string(form.name) + (form.folder ? " (folder)" : ""));
        TempDir dir;
        const fs::path main = dir / form.name;
        std::string error;
        if (form.folder) {
            fs::create_directory(main);
            writeAll(main / "war3map.w3u", w3u);
        } else if (main.extension() == ".w3x") {
#if BRINDLEMARK_HAVE_ARCHIVES
            writeAll(main, mpq::build(dir / "map.mpq", {{"war3map.w3u", w3u}}));
#endif
        } else {
            ASSERT_TRUE(units.save(main, error)) << error;
        }
        ASSERT_TRUE(scout.save(dir / "scout.w3o", error)) << error;
        ASSERT_TRUE(merged.save(dir / "merged.w3o", error)) << error;
        writeAll(dir / "list.txt", "h000 h00A\n");
        const std::string m = pathText(main);
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"import", m, pathText(dir / "scout.w3o"), "--no-backup"},
              std::vector<std::string>{"replace", m, "--list", pathText(dir / "list.txt"), "--no-backup"},
              std::vector<std::string>{"merge", m, pathText(dir / "merged.w3o"), "--policy", "glue", "--no-backup"}}) {
            const CliRun run = runCli(args);
            EXPECT_EQ(run.status, 0) << args[0] << ": " << run.err;
        }
        const CliRun listed = runCli({"idlist", m, "-o", "-"});
        EXPECT_EQ(listed.status, 0) << listed.err;
        if (first.empty())
            first = listed.out;
        EXPECT_EQ(listed.out, first);
    }
    // The imported Scout collided and took h001, so Replace then renamed the Guard only.
    EXPECT_EQ(first, "h001\th001\t// Scout\r\nh00A\th00A\t// Guard\r\nh0ZZ\th0ZZ\t// Merged\r\n");
}

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
    EXPECT_EQ(readAll(dir / "Карта.w3x"),
              Bytes(std::string_view("stands in for a map").begin(), std::string_view("stands in for a map").end()));
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
