#include "merge/mergecommand.h"

#include "core/fileio.h"
#include "tests/replace/bundlefixtures.h"

#include "tests/support/commandcalls.h"
#include "tests/support/recordingsink.h"

#include <gtest/gtest.h>

namespace brindlemark {
namespace {

using namespace testing;
namespace fs = std::filesystem;

// Main: unit 'h000' with fields a and c, and an ability. Added: 'h000' with fields a and b, and unit 'h001'.
struct MergeFixture : ::testing::Test {
    void SetUp() override {
        ObjectBundle main;
        put(main, ObjectKind::Units, makeObject("hfoo", "h000", {intField("aaaa", 1), intField("cccc", 3)}));
        put(main, ObjectKind::Abilities, makeObject("AHbz", "A000", {intField("aaaa", 7)}));
        save(main, dir / "main.w3o");
        ObjectBundle added;
        put(added, ObjectKind::Units, makeObject("hkni", "h000", {intField("aaaa", 10), intField("bbbb", 20)}));
        put(added, ObjectKind::Units, makeObject("hpea", "h001", {intField("aaaa", 5)}));
        save(added, dir / "added.w3o");
        mainBytes = readAll(dir / "main.w3o");
        path = splitPath(dir / "main.w3o");
        ASSERT_TRUE(bundle.load(path.fullPath));
    }

    MergeReport merge(MergePolicy policy, const fs::path& added) {
        return mergeObjectFiles(bundle, path, true, {true, true, added, policy}, sink, &heldPolicy);
    }

    ObjectBundle written() {
        ObjectBundle out;
        EXPECT_TRUE(out.load(path.fullPath));
        return out;
    }

    TempDir dir;
    Bytes mainBytes;
    BundlePath path;
    ObjectBundle bundle;
    MergePolicy heldPolicy = MergePolicy::Glue; // the policy the bundle stands under
    RecordingSink sink;
};

int field(const ObjectRecord& r, const char* name) {
    const Modification* m = r.find(id(name));
    return m ? m->intValue : -1;
}

TEST_F(MergeFixture, PoliciesDecideFieldsOfObjectsInBothFiles) {
    struct Expect {
        MergePolicy policy;
        int a, b, c;
        FilingCounts units; // h001 is added, h000 meets the main file's
    };
    for (const Expect& e :
         {Expect{MergePolicy::Overwrite, 10, 20, -1, {1, 1, 0, 0}}, Expect{MergePolicy::Glue, 10, 20, 3, {1, 0, 1, 0}},
          Expect{MergePolicy::Keep, 1, -1, 3, {1, 0, 0, 1}}}) {
        writeAll(path.fullPath, mainBytes);
        bundle.clear();
        heldPolicy = MergePolicy::Glue;
        ASSERT_TRUE(bundle.load(path.fullPath, heldPolicy));
        sink.messages.clear();
        const MergeReport report = merge(e.policy, dir / "added.w3o");
        EXPECT_TRUE(report.bundleWritten);
        EXPECT_TRUE(report.completed);
        EXPECT_TRUE(sink.messages.empty()); // the front ends word the completion
        KindCounts counts{};
        counts[static_cast<std::size_t>(ObjectKind::Units)] = e.units;
        EXPECT_EQ(report.merged, counts);
        EXPECT_EQ(heldPolicy, e.policy);
        ObjectBundle result = written();
        const ObjectTable& units = result.kind(ObjectKind::Units).file.customTable;
        ASSERT_EQ(tableIds(units), (std::vector<std::string>{"h000", "h001"})); // new objects under every policy
        EXPECT_EQ(field(units.at(0), "aaaa"), e.a);
        EXPECT_EQ(field(units.at(0), "bbbb"), e.b);
        EXPECT_EQ(field(units.at(0), "cccc"), e.c);
        // The added file has no abilities; the main file's stay.
        EXPECT_EQ(result.kind(ObjectKind::Abilities).file.customTable.count(), 1u);
        EXPECT_EQ(readAll(dir / "BACKUP_main.w3o"), mainBytes);
    }
}

TEST_F(MergeFixture, ClearBackupSwitchDoesNothingAtAll) {
    const MergeReport report = mergeObjectFiles(
        bundle, path, true, {false, true, dir / "added.w3o", MergePolicy::Overwrite}, sink, &heldPolicy);
    EXPECT_FALSE(report.ran);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(heldPolicy, MergePolicy::Glue);
    EXPECT_FALSE(fs::exists(dir / "BACKUP_main.w3o"));
    EXPECT_EQ(readAll(path.fullPath), mainBytes);
}

TEST_F(MergeFixture, MergingTheMainFileWithItselfUnderKeepChangesNothing) {
    merge(MergePolicy::Keep, path.fullPath);
    EXPECT_EQ(readAll(path.fullPath), mainBytes);
}

TEST_F(MergeFixture, MissingOrDamagedAddedFileWritesNothing) {
    const std::string previous = "the only good backup";
    writeAll(dir / "BACKUP_main.w3o", previous);
    merge(MergePolicy::Glue, dir / "absent.w3o");
    EXPECT_EQ(sink.messages, std::vector<std::string>{"Sorry, can't open object file " + pathText(dir / "absent.w3o") +
                                                      " (No such file or directory)"});
    EXPECT_EQ(readAll(path.fullPath), mainBytes);
    EXPECT_EQ(readAll(dir / "BACKUP_main.w3o"), Bytes(previous.begin(), previous.end()));

    sink.messages.clear();
    Bytes damaged = readAll(dir / "added.w3o");
    damaged.resize(damaged.size() - 30);
    writeAll(dir / "damaged.w3o", damaged);
    const MergeReport report = merge(MergePolicy::Glue, dir / "damaged.w3o");
    EXPECT_TRUE(report.failed);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].rfind(pathText(dir / "damaged.w3o") + ": the file ends at byte", 0), 0u)
        << sink.messages[0];
    EXPECT_EQ(readAll(path.fullPath), mainBytes);
}

TEST_F(MergeFixture, BackupFailureAbortsBeforeAnythingChanges) {
    fs::create_directory(dir / "BACKUP_main.w3o");
    merge(MergePolicy::Overwrite, dir / "added.w3o");
    EXPECT_EQ(sink.messages,
              std::vector<std::string>{"Failed to create backup file " + pathText(dir / "BACKUP_main.w3o") +
                                       ", nothing was written (not a regular file, so it is not written over)"});
    EXPECT_EQ(heldPolicy, MergePolicy::Glue);
    EXPECT_EQ(readAll(path.fullPath), mainBytes);

    sink.messages.clear();
    mergeObjectFiles(bundle, BundlePath{}, false, {true, true, dir / "added.w3o", MergePolicy::Glue}, sink);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"Main object file was not chosen; nothing was written"});
}

TEST_F(MergeFixture, AFileOfOneKindRefusesOtherKinds) {
    ObjectBundle units;
    put(units, ObjectKind::Units, makeObject("hfoo", "h000", {intField("uhpm", 1)}));
    save(units, dir / "units.w3u");
    const Bytes before = readAll(dir / "units.w3u");
    ObjectBundle loaded;
    ASSERT_TRUE(loaded.load(dir / "units.w3u"));
    mergeObjectFiles(loaded, splitPath(dir / "units.w3u"), true, {true, true, dir / "main.w3o", MergePolicy::Glue},
                     sink);
    EXPECT_EQ(sink.messages,
              std::vector<std::string>{pathText(dir / "main.w3o") + " holds abilities, which " +
                                       pathText(dir / "units.w3u") + " (units only) cannot hold; nothing was written"});
    EXPECT_EQ(readAll(dir / "units.w3u"), before);
    EXPECT_FALSE(fs::exists(dir / "BACKUP_units.w3u"));
}

TEST_F(MergeFixture, MainFileThatDidNotLoadIsNeverWritten) {
    const MergeReport report =
        mergeObjectFiles(bundle, path, false, {true, true, dir / "added.w3o", MergePolicy::Glue}, sink);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"Main object file " + pathText(path.fullPath) +
                                                      " was not loaded; nothing was written"});
    EXPECT_FALSE(report.bundleWritten);
    EXPECT_FALSE(fs::exists(dir / "BACKUP_main.w3o"));
}

TEST_F(MergeFixture, WithoutBackupCopyTheMergeStillWrites) {
    const MergeReport report =
        mergeObjectFiles(bundle, path, true, {true, false, dir / "added.w3o", MergePolicy::Glue}, sink);
    EXPECT_TRUE(report.bundleWritten);
    EXPECT_FALSE(fs::exists(dir / "BACKUP_main.w3o"));
    EXPECT_EQ(written().kind(ObjectKind::Units).file.customTable.count(), 2u);
}

TEST_F(MergeFixture, ThePolicyStaysForLaterLoads) {
    merge(MergePolicy::Keep, dir / "added.w3o");
    // A file with two objects of one identifier, loaded afresh: under Keep the first one read stays.
    Builder b;
    b.i32(1).i32(1).i32(2).u32(0).u32(2);
    b.id("hfoo").id("h000").u32(1).id("aaaa").i32(0).i32(1).id("hfoo");
    b.id("hkni").id("h000").u32(1).id("aaaa").i32(0).i32(2).id("hkni");
    for (int k = 0; k < 6; ++k)
        b.i32(0);
    writeAll(dir / "twice.w3o", b.bytes);
    bundle.clear();
    ASSERT_TRUE(bundle.load(dir / "twice.w3o", heldPolicy));
    EXPECT_EQ(field(bundle.kind(ObjectKind::Units).file.customTable.at(0), "aaaa"), 1);
}

} // namespace
} // namespace brindlemark

namespace brindlemark {
namespace {

TEST_F(MergeFixture, AFailureAtEveryStepLeavesTheMainFileOldOrWhollyNew) {
    Bytes merged;
    {
        TempDir other;
        fs::copy(path.fullPath, other / "main.w3o");
        ObjectBundle b;
        ASSERT_TRUE(b.load(other / "main.w3o"));
        RecordingSink quiet;
        ASSERT_TRUE(mergeObjectFiles(b, splitPath(other / "main.w3o"), true,
                                     {true, false, dir / "added.w3o", MergePolicy::Glue}, quiet)
                        .bundleWritten);
        merged = readAll(other / "main.w3o");
    }
    for (int failAt = 1;; ++failAt) {
        ASSERT_LT(failAt, 100);
        writeAll(path.fullPath, mainBytes);
        fs::remove(dir / "BACKUP_main.w3o");
        int step = 0;
        setFaultHook([&](FileStep, const fs::path&) { return ++step == failAt ? ENOSPC : 0; });
        sink.messages.clear();
        const MergeReport report = merge(MergePolicy::Glue, dir / "added.w3o");
        setFaultHook(nullptr);
        const Bytes now = readAll(path.fullPath);
        EXPECT_TRUE(now == mainBytes || now == merged) << "step " << failAt;
        if (!report.failed) {
            EXPECT_EQ(now, merged);
            EXPECT_EQ(readAll(dir / "BACKUP_main.w3o"), mainBytes);
            break;
        }
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_NE(sink.messages[0].find(errorText(ENOSPC)), std::string::npos) << sink.messages[0];
    }
}

} // namespace
} // namespace brindlemark
