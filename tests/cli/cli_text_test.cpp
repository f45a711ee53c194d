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
        {{"build", name, "--into", pathText(dir / "a.w3x"), "--policy", "glue", "--replace"},
         2,
         "build: give either --policy (merge into the map's kinds) or --replace (replace them)"},
        {{"build", name, "-o", pathText(dir / "a.w3a")},
         1,
         name + ": " + pathText(dir / "a.w3a") + " holds abilities only, but the JSON holds units"},
        {{"build", name, "-o", pathText(dir / "a.w3x")},
         2,
         "build: " + pathText(dir / "a.w3x") + " is a map: write into it with --into"},
        {{"build", name, "-o", name},
         1,
         "build: the output " + name + " is the input " + name + "; it would be lost, so nothing was written"},
        {{"build", pathText(dir / "absent.json"), "-o", pathText(dir / "a.w3o")},
         1,
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
    writeAll(input, std::string_view(R"({"kinds": {"units": {"present": 1, "custom": {}}}})"));
    const CliRun layout = runCli({"build", name, "-o", pathText(dir / "a.w3o")});
    EXPECT_EQ(layout.status, 1);
    EXPECT_EQ(layout.err, "brindlemark-cli: " + name + ": $.kinds.units.custom: must be an array\n");
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
    put(b, ObjectKind::Units,
        second ? makeObject("hfoo", "h001", {textField("unam", "Archer")})
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
        put(knight, ObjectKind::Units,
            makeObject("hfoo", "h007", {textField("unam", "TRIGSTR_007"), intField("uhpm", hp)}));
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
    put(b, ObjectKind::Units,
        makeObject("hfoo", "h000", {textField("unam", name), intField("uhpm", hp), intField("umvs", speed)}));
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
        {{},
         ours,
         "merge3: the names of the files do not say whether they hold a bundle or which kind of object "
         "file; give --path (git's %P) or --kind"},
        {{"--kind", "spells"}, ours, "merge3: unknown kind 'spells'"},
        {{"--path", "units/war3map.txt"}, ours, "merge3: units/war3map.txt names neither a bundle"},
        {{"--path", "war3map.w3u", "--kind", "abilities"},
         ours,
         "merge3: --kind abilities names abilities, but war3map.w3u names units; merge3 merges files of one form"},
        {{"--path", "war3map.w3o"},
         ours,
         "merge3: war3map.w3o (base) holds an object file of a kind without level "
         "columns (units, items, destructables, buffs), not a bundle"},
        {{"--kind", "units"},
         dir / "out.w3a",
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

    // Without --path, the conflicts name the output.
    const CliRun plain = merge3({"--kind", "units"}, dir / "merged.w3u");
    EXPECT_EQ(plain.status, 1);
    EXPECT_THAT(plain.err, ::testing::StartsWith("brindlemark-cli: conflict: " + pathText(dir / "merged.w3u") +
                                                 ": units custom h000"));

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
                                "-c user.email=test@example.invalid " +
                                args + " >'" + out.string() + "' 2>&1";
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
        ASSERT_EQ(git(repo, "config merge.brindlemark.driver \"" + cli + " merge3 %O %A %B -o %A --path %P\"").status,
                  0);
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
    EXPECT_EQ(tableIds(merged.kind(ObjectKind::Abilities).file.customTable),
              (std::vector<std::string>{"A000", "A001"}));
    EXPECT_EQ(merged.kind(ObjectKind::Abilities).file.customTable.at(0).find(id("Hbz1"))->intValue, 2);
}
#endif

} // namespace
} // namespace brindlemark
