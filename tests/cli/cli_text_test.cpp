// Object data as text both ways: build from JSON, diff, merge3, and both with a real git.
#include "core/fileio.h"
#include "core/objectbundle.h"

#include "tests/cli/clirun.h"
#include "tests/replace/bundlefixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <functional>

namespace brindlemark {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using nlohmann::json;
using ::testing::HasSubstr;

Bytes normalised(const fs::path& file) {
    ObjectBundle bundle;
    bundle.warningSink = [](const std::string&) {};
    EXPECT_TRUE(bundle.load(file)) << pathText(file);
    if (const std::optional<ObjectKind> kind = singleKindOf(file))
        return bundle.objectFileBytes(*kind);
    return bundle.toBytes();
}

// dump --json X | build - -o Y, with Y named like X; returns Y's bytes (empty when a step failed).
Bytes dumpAndBuild(const fs::path& file, const TempDir& dir) {
    const fs::path text = dir / "dump.json";
    const fs::path built = dir / ("built" + file.extension().string());
    const CliRun dump = runCli({"dump", pathText(file), "--json"}, text);
    EXPECT_EQ(dump.status, 0) << dump.err;
    const CliRun build = runCli({"build", "-", "-o", pathText(built)}, {}, text);
    EXPECT_EQ(build.status, 0) << pathText(file) << ": " << build.err;
    return readAll(built);
}

TEST(CliBuild, DumpBuildsBackEveryCorpusFileInNormalForm) {
    const fs::path corpus = corpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus folder";
    TempDir dir;
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        const fs::path& file = entry.path();
        if (!entry.is_regular_file() || (!singleKindOf(file) && file.extension() != ".w3o"))
            continue;
        ++files;
        EXPECT_EQ(dumpAndBuild(file, dir), normalised(file)) << pathText(file);
    }
    EXPECT_GT(files, 0u);
}

TEST(CliBuild, DumpBuildsBackEveryOddityByteForByte) {
    // Units of version 3 with set flags, a stray value before an unknown value type, a NaN with a payload, minus
    // zero, text that is not UTF-8 with a backslash, and identifier bytes that are not printable; abilities with
    // levels; an upgrades kind with presence flag 2 and no objects.
    Builder units;
    units.i32(3).u32(1).id("hfoo").id("").u32(1).i32(7).u32(4);
    units.id("ua1d").i32(2).f32bits(0x7fc00001).id("hfoo");
    units.id("ua1e").i32(1).f32bits(0x80000000).id("hfoo");
    units.id("XXXX").id("uhpm").i32(9).id("hfoo");
    units.id("unam").i32(3).str("Caf\xe9 \\ \xff").id("hfoo");
    units.u32(1).id("hkni").raw("h\x01\\\x7f").u32(1).i32(-2).u32(1).raw(std::string_view("u\0hp", 4)).i32(0).i32(-5)
        .id("hkni");
    Builder abilities;
    abilities.i32(2).u32(0).u32(1).id("AHbz").id("A000").u32(2);
    abilities.id("Hbz1").i32(1).i32(2).i32(1).f32bits(0x3dcccccd).id("AHbz");
    abilities.id("anam").i32(3).i32(0).i32(0).str("\xd0\x91\xd1\x83\xd1\x80\xd1\x8f").id("AHbz");
    Builder bundle;
    bundle.i32(-3).i32(1).append(units.bytes).i32(0).i32(0).i32(0).i32(1).append(abilities.bytes).i32(0);
    bundle.i32(2).i32(2).u32(0).u32(0);
    TempDir dir;
    const fs::path file = dir / "odd.w3o";
    writeAll(file, bundle.bytes);
    EXPECT_EQ(dumpAndBuild(file, dir), normalised(file));
    const fs::path single = dir / "odd.w3u";
    writeAll(single, units.bytes);
    EXPECT_EQ(dumpAndBuild(single, dir), units.bytes); // already in normal form
}

TEST(CliBuild, HandEditedJsonIsFiledAsLoadingFilesIt) {
    TempDir dir;
    // Modifications out of order, a field twice, plain UTF-8, and everything derivable left out; the buffs leave
    // out what a dump would write as the default (the bundle's version too).
    writeAll(dir / "edited.json", std::string_view(R"({"kinds": {"abilities": {"present": 1,
        "version": 2, "standard": [], "custom": [{"baseId": "AHbz", "newId": "A000", "modifications": [
        {"field": "anam", "type": "string", "value": "Буря"},
        {"field": "Hbz1", "level": 2, "type": "real", "value": 0.1},
        {"field": "Hbz1", "level": 1, "typeCode": 1, "bits": "0x40000000"},
        {"field": "alev", "type": "integer", "value": 1},
        {"field": "alev", "type": "integer", "value": 3}]}]},
        "buffs": {"custom": [{"baseId": "BHbd", "newId": "B000", "modifications": []}]}}})"));
    const CliRun run = runCli({"build", pathText(dir / "edited.json"), "-o", pathText(dir / "out.w3o")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    Modification tenth;
    tenth.fieldId = id("Hbz1");
    tenth.valueType = ModValueType::Real;
    tenth.level = 2;
    tenth.realValue = 0.1f;
    Modification two = tenth;
    two.level = 1;
    two.realValue = 2.0f;
    std::vector<Modification> mods = {textField("anam", "Буря"), tenth, two, intField("alev", 1), intField("alev", 3)};
    for (Modification& m : mods)
        m.hasLevels = true;
    ObjectBundle expected;
    expected.version = 1;
    put(expected, ObjectKind::Abilities, makeObject("AHbz", "A000", mods));
    expected.kind(ObjectKind::Abilities).file.version = 2;
    put(expected, ObjectKind::Buffs, makeObject("BHbd", "B000", {}));
    expected.kind(ObjectKind::Buffs).file.version = 3;
    EXPECT_EQ(readAll(dir / "out.w3o"), expected.toBytes());
}

TEST(CliBuild, RefusesJsonThatBreaksTheLayoutNamingThePlace) {
    const json valid = json::parse(R"({"version": 1, "kinds": {
        "units": {"present": 1, "version": 2, "standard": [], "custom": [{"baseId": "hfoo", "newId": "h000",
          "modifications": [{"field": "unam", "type": "string", "value": "Guard"},
                            {"field": "uhpm", "type": "integer", "value": 5}]}]},
        "abilities": {"present": 1, "version": 3, "hasLevels": true, "standard": [], "custom": [{"baseId": "AHbz",
          "newId": "A000", "setFlag": 1, "modifications": [
            {"field": "Hbz1", "level": 1, "column": 1, "type": "real", "value": 2.5}]}]}}})");
    const std::string unit = "$.kinds.units.custom[0]";
    const std::string storm = "$.kinds.abilities.custom[0].modifications[0]";
    struct Case {
        std::function<void(json&)> edit;
        std::string problem;
        std::function<void(std::string&)> editText = {}; // on the written text, for what a json cannot hold
    };
    const auto twice = [](std::string from, std::string to) {
        return [from, to](std::string& text) { text.replace(text.find(from), from.size(), to); };
    };
    auto units = [](json& doc) -> json& { return doc["kinds"]["units"]["custom"][0]; };
    auto hp = [units](json& doc) -> json& { return units(doc)["modifications"][1]; };
    auto blizzard = [](json& doc) -> json& { return doc["kinds"]["abilities"]["custom"][0]["modifications"][0]; };
    const std::vector<Case> cases = {
        {[&](json& d) { units(d)["modifications"][0]["level"] = 1; },
         unit + ".modifications[0].level: units have no level columns"},
        {[&](json& d) { blizzard(d)["level"] = "one"; },
         storm + ".level: must be an integer from -2147483648 to 2147483647"},
        {[&](json& d) { units(d)["baseId"] = "hfo"; },
         unit + ".baseId: must be an identifier of four bytes, each printable ASCII but the backslash, or \\xNN; "
                "not \"hfo\""},
        {[&](json& d) { units(d).erase("newId"); }, unit + ".newId: is missing"},
        {[&](json& d) { d.erase("version"); d["kinds"]["units"].erase("present"); },
         unit + ".modifications[0].field: is given more than once in its object; each name may stand once",
         twice(R"("field":"unam")", R"("field":"unam","field":"unam")")},
        {[&](json&) {}, "$.kinds.units: is given more than once in its object; each name may stand once",
         twice(R"("kinds":{)", R"("kinds":{"units":{},)")},
        {[&](json& d) { d["kinds"]["units"]["version"] = 4; }, "$.kinds.units.version: must be an integer from 0 to 3"},
        {[&](json& d) { d["kinds"]["unit"] = d["kinds"]["units"]; },
         "$.kinds.unit: is not a kind (units, items, destructables, doodads, abilities, buffs, upgrades)"},
        {[&](json& d) { d["kinds"] = json::array(); }, "$.kinds: must be an object"},
        {[&](json& d) { d["kinds"]["abilities"]["hasLevels"] = false; },
         "$.kinds.abilities.hasLevels: must be true for abilities"},
        {[&](json& d) { hp(d)["value"] = 1.5; },
         unit + ".modifications[1].value: must be an integer from -2147483648 to 2147483647"},
        {[&](json& d) { hp(d)["vaule"] = 1; }, unit + ".modifications[1].vaule: is not part of the layout"},
        {[&](json& d) { hp(d)["type"] = "float"; },
         unit + ".modifications[1].type: must be one of \"integer\", \"real\", \"unreal\", \"string\", \"unknown\""},
        {[&](json& d) { hp(d)["typeCode"] = 3; },
         unit + ".modifications[1].typeCode: is 3, but type \"integer\" has the code 0"},
        {[&](json& d) { hp(d)["type"] = "unknown"; hp(d)["typeCode"] = 7; hp(d)["strayBefore"] = "XXXX"; },
         unit + ".modifications[1].value: must be left out: a value of an unknown type has no value"},
        {[&](json& d) { blizzard(d)["bits"] = "0x40000000"; },
         storm + ".bits: is 0x40000000 (2), but value is 2.5; change both or leave one out"},
        {[&](json& d) { blizzard(d)["value"] = nullptr; }, storm + ".value: is null, which needs bits to give the value"},
        {[&](json& d) { units(d)["setFlag"] = 1; },
         unit + ".setFlag: must be 0: object file version 2 keeps no set flags (version 3 does)"},
        {[&](json& d) { units(d)["effectiveId"] = "h001"; },
         unit + ".effectiveId: is h001, but baseId and newId make the object h000"},
        {[&](json& d) { units(d)["modifications"][0]["value"] = "a\\q"; units(d)["modifications"][0]["escaped"] = true; },
         unit + ".modifications[0].value: has a backslash at character 1 that starts neither \\\\ nor \\xNN"},
        {[&](json& d) { units(d)["modifications"][0]["value"] = std::string("a\0b", 3); },
         unit + ".modifications[0].value: holds a NUL character, which ends a string value in the file"},
    };
    TempDir dir;
    const fs::path input = dir / "objects.json";
    const fs::path out = dir / "out.w3o";
    writeAll(input, valid.dump());
    ASSERT_EQ(runCli({"build", pathText(input), "-o", pathText(out)}).status, 0);
    fs::remove(out);
    for (const Case& c : cases) {
        json doc = valid;
        c.edit(doc);
        std::string text = doc.dump();
        if (c.editText)
            c.editText(text);
        writeAll(input, text);
        const CliRun run = runCli({"build", pathText(input), "-o", pathText(out)});
        EXPECT_EQ(run.status, 1) << c.problem;
        EXPECT_EQ(run.err, "brindlemark-cli: " + pathText(input) + ": " + c.problem + "\n");
        EXPECT_FALSE(fs::exists(out)) << c.problem;
    }
}

TEST(CliBuild, RefusesWhatItCannotWrite) {
    TempDir dir;
    const fs::path input = dir / "objects.json";
    writeAll(input, std::string_view(R"({"version": 0, "kinds": {"units": {"present": 1, "version": 2,
        "standard": [], "custom": []}}})"));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string error;
    };
    const std::string name = pathText(input);
    const std::vector<Case> cases = {
        {{"build", name}, 2, "build: give either -o OUT or --into MAP"},
        {{"build", name, "-o", pathText(dir / "a.w3o"), "--replace"}, 2, "build: --replace goes with --into MAP"},
        {{"build", name, "--into", pathText(dir / "a.w3x"), "--policy", "glue", "--replace"}, 2,
         "build: give either --policy (merge into the map's kinds) or --replace (replace them)"},
        {{"build", name, "-o", pathText(dir / "a.w3a")}, 1,
         name + ": " + pathText(dir / "a.w3a") + " holds abilities only, but the JSON holds units"},
        {{"build", name, "-o", pathText(dir / "a.w3x")}, 2, "build: " + pathText(dir / "a.w3x") +
                                                               " is a map: write into it with --into"},
        {{"build", name, "-o", name}, 1,
         "build: the output " + name + " is the input " + name + "; it would be lost, so nothing was written"},
        {{"build", pathText(dir / "absent.json"), "-o", pathText(dir / "a.w3o")}, 1,
         pathText(dir / "absent.json") + ": cannot open"},
    };
    for (const Case& c : cases) {
        const CliRun run = runCli(c.args);
        EXPECT_EQ(run.status, c.status) << c.error;
        EXPECT_THAT(run.err, ::testing::StartsWith("brindlemark-cli: " + c.error)) << run.err;
    }
    writeAll(input, std::string_view("{\"version\": 1,\n \"kinds\": ]"));
    const CliRun broken = runCli({"build", name, "-o", pathText(dir / "a.w3o")});
    EXPECT_EQ(broken.status, 1);
    EXPECT_THAT(broken.err, ::testing::StartsWith("brindlemark-cli: " + name + ": not JSON, at byte 26: "));
    EXPECT_FALSE(fs::exists(dir / "a.w3o"));
}

// ---- diff and merge3

ObjectBundle diffSide(bool second) {
    ObjectBundle b;
    b.version = 1;
    std::vector<Modification> footman = {textField("unam", "Footman"), intField("uhpm", second ? 300 : 250)};
    if (second)
        footman.push_back(intField("umvs", 270));
    put(b, ObjectKind::Units, makeObject("hfoo", "", footman));
    put(b, ObjectKind::Units, second ? makeObject("hfoo", "h001", {textField("unam", "Archer")})
                                     : makeObject("hfoo", "h000", {textField("unam", "Guard")}));
    put(b, ObjectKind::Abilities,
        makeObject(second ? "AHtb" : "AHbz", "A000", {textField("anam", "Storm"), intField("Hbz1", second ? 2 : 1)}));
    return b;
}

TEST(CliDiff, ListsObjectsOnOneSideAndChangedFieldsByIdentifierAndName) {
    TempDir dir;
    save(diffSide(false), dir / "a.w3o");
    save(diffSide(true), dir / "b.w3o");
    const CliRun run = runCli({"diff", pathText(dir / "a.w3o"), pathText(dir / "b.w3o")});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "changed: units standard hfoo \"Footman\"\n"
                       "  uhpm: integer 250 -> integer 300\n"
                       "  umvs: none -> integer 270\n"
                       "only in A: units custom h000 \"Guard\"\n"
                       "only in B: units custom h001 \"Archer\"\n"
                       "changed: abilities custom A000 \"Storm\"\n"
                       "  base id: AHbz -> AHtb\n"
                       "  Hbz1 level 0 column 0: integer 1 -> integer 2\n");

    const CliRun asJson = runCli({"diff", pathText(dir / "a.w3o"), pathText(dir / "b.w3o"), "--json"});
    EXPECT_EQ(asJson.status, 1);
    const json doc = json::parse(asJson.out);
    EXPECT_EQ(doc.at("equal"), false);
    EXPECT_EQ(doc.at("onlyInA").at(0), json::parse(R"({"kind": "units", "table": "custom", "id": "h000",
                                                        "name": "Guard"})"));
    EXPECT_EQ(doc.at("changed").at(0).at("fields").at(0),
              json::parse(R"({"field": "uhpm", "old": {"type": "integer", "value": 250},
                              "new": {"type": "integer", "value": 300}})"));
    EXPECT_EQ(doc.at("changed").at(1).at("baseId"), json::parse(R"({"old": "AHbz", "new": "AHtb"})"));

    // The same objects in another order, with other end markers, as a single-kind file: equal.
    Builder units;
    units.i32(2).u32(1).id("hfoo").id("").u32(2);
    units.id("uhpm").i32(0).i32(250).id("zzzz").id("unam").i32(3).str("Footman").id("yyyy");
    units.u32(1).id("hfoo").id("h000").u32(1).id("unam").i32(3).str("Guard").id("hfoo");
    writeAll(dir / "a.w3u", units.bytes);
    ObjectBundle a = diffSide(false);
    a.kind(ObjectKind::Units).file.version = 2;
    save(a, dir / "normal.w3u");
    const CliRun same = runCli({"diff", pathText(dir / "a.w3u"), pathText(dir / "normal.w3u")});
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.out, "");

    const CliRun missing = runCli({"diff", pathText(dir / "a.w3o"), pathText(dir / "absent.w3o")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_THAT(missing.err, HasSubstr("absent.w3o: cannot open"));

    // Files taken out of a map name their objects through the map's string table when it is given.
    for (const std::int32_t hp : {1, 2}) {
        ObjectBundle knight;
        put(knight, ObjectKind::Units, makeObject("hfoo", "h007", {textField("unam", "TRIGSTR_007"),
                                                                   intField("uhpm", hp)}));
        save(knight, dir / ("knight" + std::to_string(hp) + ".w3u"));
    }
    writeAll(dir / "war3map.wts", std::string("STRING 7\r\n{\r\nKnight\r\n}\r\n"));
    const std::vector<std::string> loose = {"diff", pathText(dir / "knight1.w3u"), pathText(dir / "knight2.w3u")};
    EXPECT_THAT(runCli(loose).out, HasSubstr("changed: units custom h007 \"TRIGSTR_007\""));
    std::vector<std::string> named = loose;
    named.insert(named.end(), {"--strings", pathText(dir / "war3map.wts")});
    EXPECT_THAT(runCli(named).out, HasSubstr("changed: units custom h007 \"Knight\""));
}

ObjectBundle guardUnits(const char* name, std::int32_t hp, std::int32_t speed) {
    ObjectBundle b;
    put(b, ObjectKind::Units, makeObject("hfoo", "h000", {textField("unam", name), intField("uhpm", hp),
                                                          intField("umvs", speed)}));
    b.kind(ObjectKind::Units).file.version = 2;
    return b;
}

TEST(CliMerge3, MergesGitsTemporaryFilesInTheFormThePathNamesAndListsConflicts) {
    TempDir dir;
    // Named as a merge driver's temporary files are: no extension says what they hold.
    const fs::path base = dir / ".merge_file_a";
    const fs::path ours = dir / ".merge_file_b";
    const fs::path theirs = dir / ".merge_file_c";
    const std::string files[] = {pathText(base), pathText(ours), pathText(theirs)};
    auto merge3 = [&](std::vector<std::string> extra, const fs::path& out) {
        std::vector<std::string> args = {"merge3", files[0], files[1], files[2], "-o", pathText(out)};
        args.insert(args.end(), extra.begin(), extra.end());
        return runCli(args);
    };
    writeAll(base, guardUnits("Guard", 5, 1).objectFileBytes(ObjectKind::Units));
    writeAll(ours, guardUnits("Guard", 6, 2).objectFileBytes(ObjectKind::Units));
    writeAll(theirs, guardUnits("Captain", 5, 3).objectFileBytes(ObjectKind::Units));
    const Bytes oursBefore = readAll(ours);

    // What cannot be merged as named is refused, and nothing is written.
    struct Refusal {
        std::vector<std::string> extra;
        fs::path out;
        std::string error;
    };
    const std::vector<Refusal> refusals = {
        {{}, ours, "merge3: the names of the files do not say whether they hold a bundle or which kind of object "
                   "file; give --path (git's %P) or --kind"},
        {{"--kind", "spells"}, ours, "merge3: unknown kind 'spells'"},
        {{"--path", "units/war3map.txt"}, ours, "merge3: units/war3map.txt names neither a bundle"},
        {{"--path", "war3map.w3u", "--kind", "abilities"}, ours,
         "merge3: --kind abilities names abilities, but war3map.w3u names units; merge3 merges files of one form"},
        {{"--path", "war3map.w3o"}, ours, "merge3: war3map.w3o (base) holds an object file of a kind without level "
                                          "columns (units, items, destructables, buffs), not a bundle"},
        {{"--kind", "units"}, dir / "out.w3a",
         "merge3: " + pathText(dir / "out.w3a") + " holds abilities only, but the merged data holds units"},
        {{"--kind", "units"}, dir / "out.w3x", "merge3: " + pathText(dir / "out.w3x") + " is a map"},
    };
    for (const Refusal& r : refusals) {
        const CliRun run = merge3(r.extra, r.out);
        EXPECT_EQ(run.status, 2) << r.error;
        EXPECT_THAT(run.err, ::testing::StartsWith("brindlemark-cli: " + r.error)) << run.err;
        EXPECT_EQ(readAll(ours), oursBefore) << r.error;
        EXPECT_FALSE(fs::exists(r.out) && r.out != ours) << r.error;
    }

    // Messages name the file the temporary copies stand for.
    const CliRun run = merge3({"--path", "units/war3map.w3u"}, ours);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "brindlemark-cli: conflict: units/war3map.w3u: units custom h000 \"Guard\" umvs: base "
                       "integer 1, ours integer 2, theirs integer 3\n"
                       "brindlemark-cli: 1 conflict; units/war3map.w3u holds ours there\n");
    EXPECT_EQ(readAll(ours), guardUnits("Captain", 6, 2).objectFileBytes(ObjectKind::Units));

    // Both sides added the file alike: git hands over an empty base.
    writeAll(base, Bytes{});
    writeAll(theirs, readAll(ours));
    const CliRun added = merge3({"--kind", "units"}, ours);
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(readAll(ours), readAll(theirs));

    writeAll(theirs, Bytes{2, 0, 0, 0, 1});
    const CliRun refused = merge3({"--path", "war3map.w3u"}, dir / "out");
    EXPECT_EQ(refused.status, 2);
    EXPECT_THAT(refused.err, HasSubstr("war3map.w3u (theirs): the file ends at byte 5"));
    EXPECT_FALSE(fs::exists(dir / "out"));
}

// ---- git

#ifndef _WIN32
struct GitRun {
    int status = -1;
    std::string out;
};

// Runs git in `dir` with no user or system configuration.
GitRun git(const fs::path& dir, const std::string& args) {
    const fs::path out = dir.parent_path() / "git-output";
    const std::string command = "cd '" + dir.string() + "' && env -u GIT_DIR HOME='" + dir.parent_path().string() +
                                "' GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null git -c user.name=Test "
                                "-c user.email=test@example.invalid " + args + " >'" + out.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, textOf(readAll(out))};
}

struct CliGit : ::testing::Test {
    void SetUp() override {
        if (std::system("git --version >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "git not found";
        repo = dir / "repo";
        fs::create_directories(repo);
        ASSERT_EQ(git(repo, "init -q").status, 0);
        writeAll(repo / ".gitattributes",
                 std::string_view("*.w3u diff=brindlemark merge=brindlemark\n*.w3a merge=brindlemark\n"));
        const std::string cli = BRINDLEMARK_CLI;
        ASSERT_EQ(git(repo, "config diff.brindlemark.textconv \"" + cli + " dump\"").status, 0);
        ASSERT_EQ(git(repo, "config merge.brindlemark.driver \"" + cli + " merge3 %O %A %B -o %A --path %P\"").status, 0);
        units = repo / "war3map.w3u";
        writeAll(units, guardUnits("Guard", 5, 1).objectFileBytes(ObjectKind::Units));
        ASSERT_EQ(git(repo, "add . && git -c user.name=T -c user.email=t@e commit -q -m base").status, 0);
    }

    GitRun commitUnits(const ObjectBundle& bundle, const char* message) {
        writeAll(units, bundle.objectFileBytes(ObjectKind::Units));
        return git(repo, std::string("commit -q -a -m ") + message);
    }

    TempDir dir;
    fs::path repo;
    fs::path units;
};

TEST_F(CliGit, DiffShowsTheChangedFieldAsText) {
    writeAll(units, guardUnits("Guard", 7, 1).objectFileBytes(ObjectKind::Units));
    const GitRun diff = git(repo, "diff");
    EXPECT_EQ(diff.status, 0) << diff.out;
    EXPECT_THAT(diff.out, HasSubstr("\n-    uhpm integer 5\n+    uhpm integer 7\n"));
    // Nothing else changed.
    std::size_t changedLines = 0;
    for (std::size_t at = diff.out.find('\n'); at != std::string::npos; at = diff.out.find('\n', at + 1))
        if (at + 1 < diff.out.size() && (diff.out[at + 1] == '-' || diff.out[at + 1] == '+') &&
            diff.out.compare(at + 1, 3, "---") != 0 && diff.out.compare(at + 1, 3, "+++") != 0)
            ++changedLines;
    EXPECT_EQ(changedLines, 2u) << diff.out;
}

TEST_F(CliGit, MergeOfBranchesThatChangedDifferentFieldsHoldsBoth) {
    ASSERT_EQ(git(repo, "checkout -q -b captain").status, 0);
    ASSERT_EQ(commitUnits(guardUnits("Captain", 5, 1), "rename").status, 0);
    ASSERT_EQ(git(repo, "checkout -q -").status, 0);
    ASSERT_EQ(commitUnits(guardUnits("Guard", 9, 1), "stronger").status, 0);
    const GitRun merge = git(repo, "merge -q --no-edit captain");
    EXPECT_EQ(merge.status, 0) << merge.out;
    EXPECT_EQ(readAll(units), guardUnits("Captain", 9, 1).objectFileBytes(ObjectKind::Units));
    EXPECT_EQ(git(repo, "status --porcelain").out, "");
}

// Abilities whose objects carry no modifications read as well as units: only the path says they are abilities.
TEST_F(CliGit, MergeOfAbilitiesWithoutModificationsKeepsTheirNewAbility) {
    const fs::path abilities = repo / "war3map.w3a";
    auto commitAbilities = [&](const std::vector<const char*>& ids, std::int32_t level, const char* message) {
        ObjectBundle b;
        for (const char* newId : ids)
            put(b, ObjectKind::Abilities, makeObject("AHbz", newId, {}));
        if (level != 0)
            put(b, ObjectKind::Abilities, makeObject("AHbz", "A000", {intField("Hbz1", level)}));
        writeAll(abilities, b.objectFileBytes(ObjectKind::Abilities));
        return git(repo, std::string("add . && git -c user.name=T -c user.email=t@e commit -q -m ") + message).status;
    };
    ASSERT_EQ(commitAbilities({"A000"}, 0, "abilities"), 0);
    ASSERT_EQ(git(repo, "checkout -q -b frost").status, 0);
    ASSERT_EQ(commitAbilities({"A000", "A001"}, 0, "frost"), 0);
    ASSERT_EQ(git(repo, "checkout -q -").status, 0);
    ASSERT_EQ(commitAbilities({"A000"}, 2, "stronger"), 0);
    const GitRun merge = git(repo, "merge -q --no-edit frost");
    EXPECT_EQ(merge.status, 0) << merge.out;
    ObjectBundle merged;
    ASSERT_TRUE(merged.load(abilities));
    EXPECT_EQ(tableIds(merged.kind(ObjectKind::Abilities).file.customTable), (std::vector<std::string>{"A000", "A001"}));
    EXPECT_EQ(merged.kind(ObjectKind::Abilities).file.customTable.at(0).find(id("Hbz1"))->intValue, 2);
}
#endif

} // namespace
} // namespace brindlemark
