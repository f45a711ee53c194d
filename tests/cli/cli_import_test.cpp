// Importing one map's objects into another: collisions renamed, references kept, and the same result as the
// printed list applied with replace and then merged with merge.
#include "core/fileio.h"
#include "core/objectbundle.h"
#include "merge/importplan.h"
#include "tests/cli/clirun.h"
#include "tests/replace/bundlefixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace brindlemark {
namespace {

using namespace testing;
namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(ImportPlan, NumbersFreeIdentifiersAsTheEditorDoes) {
    const std::vector<std::pair<std::string, std::string>> next = {
        {"A000", "A001"}, {"A009", "A00A"}, {"A00Z", "A010"}, {"h0ZZ", "h100"}, {"AZZZ", ""}, {"Abcd", "A000"}};
    for (const auto& [from, to] : next) {
        const std::optional<ObjectId> got = nextEditorId(id(from));
        EXPECT_EQ(got ? got->text() : "", to) << from;
    }

    // Main uses A000, A001 (abilities) and A002 (a unit); added has A000, A001 and A003 of its own.
    ObjectBundle main;
    put(main, ObjectKind::Abilities, makeObject("AHbz", "A000", {intField("alev", 1)}));
    put(main, ObjectKind::Abilities, makeObject("AHbz", "a001", {intField("alev", 1)}));
    put(main, ObjectKind::Units, makeObject("hfoo", "A002", {intField("uhpm", 1)}));
    ObjectBundle added;
    put(added, ObjectKind::Abilities, makeObject("AHbz", "A000", {intField("alev", 2)}));
    put(added, ObjectKind::Abilities, makeObject("AHbz", "A001", {intField("alev", 2)}));
    put(added, ObjectKind::Abilities, makeObject("AHbz", "A003", {intField("alev", 2)}));
    put(added, ObjectKind::Abilities, makeObject("AHbz", "", {intField("alev", 2)})); // standard: never renamed
    IdentifierSet used;
    used.addAll(main);
    std::vector<ImportRename> renames;
    std::string error;
    ASSERT_TRUE(planImportRenames(used, added, renames, error)) << error;
    std::vector<std::string> texts;
    for (const ImportRename& r : renames)
        texts.push_back(r.from.text() + ">" + r.to.text());
    EXPECT_EQ(texts, (std::vector<std::string>{"A000>A004", "A001>A005"}));
}

// Added's A000 refers to its own A001, and main has both: after the import the references follow the renames.
TEST(CliImport, ReferencesInsideTheAddedObjectsFollowTheirRenames) {
    TempDir dir;
    ObjectBundle main;
    put(main, ObjectKind::Abilities, makeObject("AHbz", "A000", {textField("anam", "Main blizzard")}));
    put(main, ObjectKind::Abilities, makeObject("AHbz", "A001", {textField("anam", "Main nova")}));
    save(main, dir / "main.w3o");
    ObjectBundle added;
    put(added, ObjectKind::Abilities,
        makeObject("AHbz", "A000", {textField("anam", "Chain"), textField("aeff", "A001,B00Q")}));
    put(added, ObjectKind::Abilities, makeObject("AHbz", "A001", {textField("anam", "Link")}));
    save(added, dir / "added.w3o");
    const Bytes addedBytes = readAll(dir / "added.w3o");
    writeAll(dir / "added.wtg", std::string("cast A000 then A001"));

    const CliRun dry = runCli({"import", pathText(dir / "main.w3o"), pathText(dir / "added.w3o"), "--side",
                               pathText(dir / "added.wtg"), "--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_FALSE(fs::exists(dir / "BACKUP_main.w3o"));

    const CliRun run = runCli({"import", pathText(dir / "main.w3o"), pathText(dir / "added.w3o"), "--side",
                               pathText(dir / "added.wtg"), "--list-out", pathText(dir / "renames.txt")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "A000\tA002\t// Chain\nA001\tA003\t// Link\n");
    EXPECT_EQ(dry.out, run.out);
    EXPECT_THAT(run.err, HasSubstr("imported 2 objects: 2 renamed, 0 standard objects met by the policy (glue)"));
    EXPECT_FALSE(hasCyrillic(run.err)) << run.err;
    EXPECT_THAT(run.err, HasSubstr(pathText(dir / "added.w3o") +
                                   ": unresolved (referenced by the added objects, defined by neither side): B00Q"));
    EXPECT_EQ(textOf(readAll(dir / "renames.txt")), "A000\tA002\t// Chain\r\nA001\tA003\t// Link\r\n");
    EXPECT_EQ(textOf(readAll(dir / "added.wtg")), "cast A002 then A003");
    EXPECT_EQ(readAll(dir / "added.w3o"), addedBytes);
    // "--list-out -" is standard output, as "-o -" is, not a file named "-".
    fs::copy_file(dir / "BACKUP_main.w3o", dir / "again.w3o");
    const CliRun toOut =
        runCli({"import", pathText(dir / "again.w3o"), pathText(dir / "added.w3o"), "--list-out", "-"});
    EXPECT_EQ(toOut.status, 0) << toOut.err;
    EXPECT_EQ(toOut.out, run.out);
    EXPECT_FALSE(fs::exists("-"));

    const ObjectBundle result = load(dir / "main.w3o");
    const ObjectTable& abilities = result.kind(ObjectKind::Abilities).file.customTable;
    EXPECT_EQ(tableIds(abilities), (std::vector<std::string>{"A000", "A001", "A002", "A003"}));
    EXPECT_EQ(abilities.at(0).find(id("anam"))->stringValue, "Main blizzard");
    EXPECT_EQ(abilities.at(2).find(id("aeff"))->stringValue, "A003,B00Q");
}

// Every object file of the corpus imported into another of its kind (and the bundles into each other) under
// keep: main's objects stay as they were, every added object arrives, and the printed list applied with replace
// and merged with merge gives the same file.
TEST(CliImport, CorpusPairsMatchReplaceThenMerge) {
    const fs::path corpus = corpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus folder";
    std::map<std::string, std::vector<fs::path>> byExtension;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".w3o" || singleKindOf(entry.path()))
            byExtension[ext].push_back(entry.path());
    }
    int pairs = 0;
    for (auto& [ext, files] : byExtension) {
        std::sort(files.begin(), files.end());
        for (std::size_t i = 0; i + 1 < files.size() && i < 2; ++i) {
            for (const auto& [mainFile, addedFile] :
                 {std::pair{files[i], files[i + 1]}, std::pair{files[i + 1], files[i]}}) {
                SCOPED_TRACE(pathText(mainFile) + " <- " + pathText(addedFile));
                TempDir dir;
                const fs::path main = dir / ("main" + ext);
                const fs::path viaReplace = dir / ("other" + ext);
                const fs::path added = dir / ("added" + ext);
                fs::copy(mainFile, main);
                fs::copy(mainFile, viaReplace);
                fs::copy(addedFile, added);
                for (const fs::path& copy : {main, viaReplace, added}) // the corpus is read-only; copies need not be
                    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
                const ObjectBundle before = load(main);
                const CliRun run = runCli({"import", pathText(main), pathText(added), "--policy", "keep", "--list-out",
                                           pathText(dir / "list.txt")});
                ASSERT_EQ(run.status, 0) << run.err;
                const ObjectBundle after = load(main);
                const ObjectBundle addedContent = load(added);
                for (ObjectKind k : kAllObjectKinds) {
                    const ObjectFile& was = before.kind(k).file;
                    const ObjectFile& now = after.kind(k).file;
                    for (const ObjectTable* table : {&was.standardTable, &was.customTable})
                        for (std::size_t o = 0; o < table->count(); ++o) {
                            const ObjectTable& same = table == &was.standardTable ? now.standardTable : now.customTable;
                            const std::size_t at = same.indexOf(table->at(o).effectiveId());
                            ASSERT_LT(at, same.count());
                            const auto& a = same.at(at).modifications();
                            const auto& b = table->at(o).modifications();
                            ASSERT_EQ(a.size(), b.size());
                            for (std::size_t m = 0; m < a.size(); ++m)
                                EXPECT_TRUE(a[m].fieldId == b[m].fieldId && a[m].level == b[m].level &&
                                            a[m].dataColumn == b[m].dataColumn && a[m].sameValueAs(b[m]));
                        }
                    // Every custom object of both sides, none lost to a collision.
                    EXPECT_EQ(now.customTable.count(),
                              was.customTable.count() + addedContent.kind(k).file.customTable.count());
                }
                ASSERT_EQ(
                    runCli({"replace", pathText(added), "--list", pathText(dir / "list.txt"), "--no-backup"}).status,
                    0);
                ASSERT_EQ(
                    runCli({"merge", pathText(viaReplace), pathText(added), "--policy", "keep", "--no-backup"}).status,
                    0);
                EXPECT_EQ(readAll(main), readAll(viaReplace));
                ++pairs;
            }
        }
    }
    EXPECT_GE(pairs, 8);
}

} // namespace
} // namespace brindlemark
