#include "core/objectbundle.h"

#include "core/fileio.h"
#include "core/recordplacer.h"

#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace brindlemark {
namespace {

using testing::Builder;
using testing::Bytes;
using testing::id;
using testing::TempDir;

// The bundle of one custom footman 'h000' named "Guard".
Bytes guardBundle() {
    return Builder()
        .i32(1)
        .i32(1) // units present
        .i32(2) // object file version
        .u32(0) // no modified standard objects
        .u32(1) // one custom object
        .id("hfoo")
        .id("h000")
        .u32(1)
        .id("unam")
        .i32(3)
        .str("Guard")
        .id("hfoo")
        .i32(0)
        .i32(0)
        .i32(0)
        .i32(0)
        .i32(0)
        .i32(0)
        .bytes;
}

// A bundle whose only present kind is `kind`, holding `objectFile` (version, sections and objects).
Bytes singleKind(ObjectKind kind, const Bytes& objectFile, std::int32_t flag = 1, std::int32_t version = 1) {
    Builder b;
    b.i32(version);
    for (ObjectKind k : kAllObjectKinds) {
        if (k == kind)
            b.i32(flag).append(objectFile);
        else
            b.i32(0);
    }
    return b.bytes;
}

LoadResult load(ObjectBundle& bundle, const Bytes& bytes, MergePolicy policy = MergePolicy::Glue) {
    return bundle.loadBytes(bytes, "war.w3o", policy);
}

int fieldValue(const ObjectRecord& r, const char* field) {
    const Modification* m = r.find(id(field));
    return m ? m->intValue : -1;
}

TEST(ObjectBundle, GuardBundleRoundTripsByteForByte) {
    const Bytes bytes = guardBundle();
    ASSERT_EQ(bytes.size(), 74u);
    ObjectBundle bundle;
    ASSERT_TRUE(load(bundle, bytes));
    const ObjectFile& units = bundle.kind(ObjectKind::Units).file;
    ASSERT_EQ(units.customTable.count(), 1u);
    EXPECT_EQ(units.customTable.at(0).find(id("unam"))->stringValue, "Guard");
    EXPECT_EQ(bundle.toBytes(), bytes);
}

TEST(ObjectBundle, EmptyBundleRoundTrips) {
    const Bytes bytes = Builder().i32(1).i32(0).i32(0).i32(0).i32(0).i32(0).i32(0).i32(0).bytes;
    ObjectBundle bundle;
    ASSERT_TRUE(load(bundle, bytes));
    EXPECT_EQ(bundle.toBytes(), bytes);
}

TEST(ObjectBundle, PresentFlagIsWrittenBackAsRead) {
    const Bytes file = Builder().i32(2).u32(0).u32(0).bytes;
    ObjectBundle bundle;
    ASSERT_TRUE(load(bundle, singleKind(ObjectKind::Buffs, file, 2)));
    EXPECT_EQ(bundle.kind(ObjectKind::Buffs).present, 2);
    EXPECT_EQ(bundle.toBytes(), singleKind(ObjectKind::Buffs, file, 2));
}

TEST(ObjectBundle, SectionsAreRefiledAndCustomObjectsSorted) {
    // A custom object in the first section and a standard one in the second swap sections on writing; custom
    // objects read as A001, a000, B000 are written as a000, A001, B000.
    auto obj = [](Builder& b, const char* base, const char* newId) {
        b.id(base).id(newId).u32(1).id("uhpm").i32(0).i32(1).id(base);
    };
    Builder in;
    in.i32(2).u32(2);
    obj(in, "hfoo", "A001");
    obj(in, "hfoo", "a000");
    in.u32(2);
    obj(in, "hkni", "\0\0\0\0");
    obj(in, "hfoo", "B000");
    ObjectBundle bundle;
    ASSERT_TRUE(load(bundle, singleKind(ObjectKind::Units, in.bytes)));

    Builder out;
    out.i32(2).u32(1);
    obj(out, "hkni", "\0\0\0\0");
    out.u32(3);
    obj(out, "hfoo", "a000");
    obj(out, "hfoo", "A001");
    obj(out, "hfoo", "B000");
    EXPECT_EQ(bundle.toBytes(), singleKind(ObjectKind::Units, out.bytes));
}

TEST(ObjectBundle, EmptyObjectsVanishOnlyWhenStandard) {
    Builder in;
    in.i32(3).u32(1).id("Bbak").id("\0\0\0\0").u32(1).i32(0).u32(0);
    in.u32(1).id("Bbak").id("B000").u32(1).i32(0).u32(0);
    ObjectBundle bundle;
    ASSERT_TRUE(load(bundle, singleKind(ObjectKind::Buffs, in.bytes)));
    const ObjectFile& buffs = bundle.kind(ObjectKind::Buffs).file;
    EXPECT_EQ(buffs.standardTable.count(), 0u);
    ASSERT_EQ(buffs.customTable.count(), 1u);
    const Bytes expected = Builder().i32(3).u32(0).u32(1).id("Bbak").id("B000").u32(1).i32(0).u32(0).bytes;
    EXPECT_EQ(bundle.toBytes(), singleKind(ObjectKind::Buffs, expected));
}

TEST(ObjectBundle, DuplicateIdentifiersInOneFileFollowThePolicy) {
    Builder in;
    in.i32(2).u32(0).u32(2);
    in.id("hfoo").id("h000").u32(2).id("aaaa").i32(0).i32(1).id("hfoo").id("cccc").i32(0).i32(3).id("hfoo");
    in.id("hkni").id("h000").u32(2).id("aaaa").i32(0).i32(10).id("hkni").id("bbbb").i32(0).i32(20).id("hkni");
    const Bytes file = singleKind(ObjectKind::Units, in.bytes);

    struct Case {
        MergePolicy policy;
        const char* base;
        int a, b, c;
    };
    for (const Case& c : {Case{MergePolicy::Glue, "hfoo", 10, 20, 3}, Case{MergePolicy::Keep, "hfoo", 1, -1, 3},
                          Case{MergePolicy::Overwrite, "hkni", 10, 20, -1}}) {
        ObjectBundle bundle;
        ASSERT_TRUE(load(bundle, file, c.policy));
        const ObjectTable& t = bundle.kind(ObjectKind::Units).file.customTable;
        ASSERT_EQ(t.count(), 1u);
        EXPECT_EQ(t.at(0).baseId, id(c.base));
        EXPECT_EQ(fieldValue(t.at(0), "aaaa"), c.a);
        EXPECT_EQ(fieldValue(t.at(0), "bbbb"), c.b);
        EXPECT_EQ(fieldValue(t.at(0), "cccc"), c.c);
    }
}

TEST(ObjectBundle, LoadingOnTopKeepsKindsTheSecondFileLacks) {
    ObjectBundle bundle;
    ASSERT_TRUE(load(bundle, guardBundle()));
    const Bytes abilities = Builder().i32(3).u32(0).u32(0).bytes;
    ASSERT_TRUE(load(bundle, singleKind(ObjectKind::Abilities, abilities, 1, 7)));
    EXPECT_EQ(bundle.version, 7);
    EXPECT_NE(bundle.kind(ObjectKind::Units).present, 0);
    EXPECT_EQ(bundle.kind(ObjectKind::Units).file.customTable.count(), 1u);
    EXPECT_EQ(bundle.kind(ObjectKind::Abilities).file.version, 3);

    bundle.clear();
    ASSERT_TRUE(load(bundle, singleKind(ObjectKind::Abilities, abilities)));
    EXPECT_EQ(bundle.kind(ObjectKind::Units).present, 0);
    EXPECT_EQ(bundle.kind(ObjectKind::Units).file.customTable.count(), 0u);
    EXPECT_EQ(bundle.toBytes(), singleKind(ObjectKind::Abilities, abilities));
}

TEST(ObjectBundle, VersionThreeObjectsKeepTheirSetFlag) {
    const Bytes file = Builder()
                           .i32(3)
                           .u32(0)
                           .u32(1)
                           .id("AHbz")
                           .id("A000")
                           .u32(1)
                           .i32(2)
                           .u32(1)
                           .id("Hbz1")
                           .i32(0)
                           .i32(1)
                           .i32(0)
                           .i32(5)
                           .id("AHbz")
                           .bytes;
    ObjectBundle bundle;
    ASSERT_TRUE(load(bundle, singleKind(ObjectKind::Abilities, file)));
    const ObjectRecord& r = bundle.kind(ObjectKind::Abilities).file.customTable.at(0);
    EXPECT_EQ(r.setFlag, 2);
    EXPECT_EQ(r.modifications()[0].level, 1);
    EXPECT_EQ(bundle.toBytes(), singleKind(ObjectKind::Abilities, file));

    // Objects of an older file loaded into a version-3 object file are written with set flag 0.
    const Bytes older = Builder()
                            .i32(2)
                            .u32(0)
                            .u32(1)
                            .id("AHbz")
                            .id("A001")
                            .u32(1)
                            .id("Hbz1")
                            .i32(0)
                            .i32(1)
                            .i32(0)
                            .i32(6)
                            .id("AHbz")
                            .bytes;
    ObjectBundle mixed;
    ASSERT_TRUE(load(mixed, singleKind(ObjectKind::Abilities, older)));
    ASSERT_TRUE(load(mixed, singleKind(ObjectKind::Abilities, file)));
    const Bytes expected = Builder()
                               .i32(3)
                               .u32(0)
                               .u32(2)
                               .id("AHbz")
                               .id("A000")
                               .u32(1)
                               .i32(2)
                               .u32(1)
                               .id("Hbz1")
                               .i32(0)
                               .i32(1)
                               .i32(0)
                               .i32(5)
                               .id("AHbz")
                               .id("AHbz")
                               .id("A001")
                               .u32(1)
                               .i32(0)
                               .u32(1)
                               .id("Hbz1")
                               .i32(0)
                               .i32(1)
                               .i32(0)
                               .i32(6)
                               .id("AHbz")
                               .bytes;
    EXPECT_EQ(mixed.toBytes(), singleKind(ObjectKind::Abilities, expected));

    // The other way round (an older file merged into a version-3 one) keeps version 3 and every set flag.
    ObjectBundle merged;
    ASSERT_TRUE(load(merged, singleKind(ObjectKind::Abilities, file)));
    ASSERT_TRUE(load(merged, singleKind(ObjectKind::Abilities, older)));
    EXPECT_EQ(merged.toBytes(), singleKind(ObjectKind::Abilities, expected));
}

TEST(ObjectBundle, BytesAfterTheEndAreCountedInAWarning) {
    Bytes file = guardBundle();
    const std::size_t end = file.size();
    file.insert(file.end(), 5, 0);
    ObjectBundle bundle;
    std::vector<std::string> warnings;
    ASSERT_TRUE(
        bundle.loadBytes(file, "x.w3o", MergePolicy::Glue, [&](const std::string& line) { warnings.push_back(line); }));
    EXPECT_EQ(warnings, std::vector<std::string>{"x.w3o: 5 bytes after the end of the object data at byte " +
                                                 std::to_string(end) + " were ignored"});
    EXPECT_EQ(bundle.toBytes(), guardBundle());
}

TEST(ObjectBundle, RefusesUnsupportedObjectFileVersions) {
    for (std::int32_t version : {-1, 4, 100}) {
        ObjectBundle bundle;
        const LoadResult r = load(bundle, singleKind(ObjectKind::Items, Builder().i32(version).u32(0).u32(0).bytes));
        ASSERT_FALSE(r);
        EXPECT_EQ(r.outcome, LoadResult::Outcome::Refused);
        EXPECT_EQ(r.offset, 12u);
        EXPECT_EQ(r.error, "war.w3o: object file version " + std::to_string(version) +
                               " is not supported at byte 12, in the object file header (items)");
    }
}

TEST(ObjectBundle, TruncationNamesFileOffsetAndPlace) {
    const Bytes bytes = guardBundle();
    ObjectBundle bundle;
    const LoadResult r = load(bundle, Bytes(bytes.begin(), bytes.begin() + 46));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.offset, 46u);
    EXPECT_EQ(r.error, "war.w3o: the file ends at byte 46 inside a modification of object 'h000' (units)");
    // A count that the rest of the file cannot hold is refused before anything is read for it.
    const LoadResult early = load(bundle, Bytes(bytes.begin(), bytes.begin() + 40));
    EXPECT_EQ(early.offset, 40u);
    EXPECT_EQ(early.error, "war.w3o: the file ends at byte 40, too soon for the 1 modifications counted at byte 28, "
                           "in object 'h000' (units)");
}

TEST(ObjectBundle, EveryPrefixIsRefusedAndLeavesTheBundleAsItWas) {
    Builder abilities;
    abilities.i32(3).u32(1).id("AHbz").id("\0\0\0\0").u32(1).i32(0).u32(2);
    abilities.id("Hbz1").i32(2).i32(1).i32(0).f32bits(0x40000000).id("AHbz");
    abilities.id("anam").i32(3).i32(0).i32(0).str("Blizzard").id("AHbz");
    abilities.u32(0);
    Bytes full = guardBundle();
    full.resize(full.size() - 24); // drop the flags after units
    Builder rest;
    rest.i32(0).i32(0).i32(0).i32(1).append(abilities.bytes).i32(0).i32(0);
    full.insert(full.end(), rest.bytes.begin(), rest.bytes.end());

    ObjectBundle reference;
    ASSERT_TRUE(load(reference, full));
    const Bytes before = reference.toBytes();
    for (std::size_t n = 0; n < full.size(); ++n) {
        ObjectBundle bundle;
        ASSERT_TRUE(load(bundle, full));
        const LoadResult r = load(bundle, Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)));
        ASSERT_FALSE(r) << n;
        EXPECT_EQ(r.outcome, LoadResult::Outcome::Refused);
        EXPECT_EQ(r.offset, n);
        EXPECT_EQ(r.error.rfind("war.w3o: the file ends at byte " + std::to_string(n), 0), 0u) << r.error;
        EXPECT_EQ(bundle.toBytes(), before) << n;
    }
    // Bytes after the last kind are not looked at.
    Bytes longer = full;
    longer.push_back(0x55);
    ObjectBundle bundle;
    EXPECT_TRUE(load(bundle, longer));
}

TEST(ObjectBundle, LoadReportsAFileThatCannotBeOpened) {
    TempDir dir;
    ObjectBundle bundle;
    ASSERT_TRUE(load(bundle, guardBundle()));
    const LoadResult r = bundle.load(dir / "missing.w3o");
    EXPECT_EQ(r.outcome, LoadResult::Outcome::CannotOpen);
    EXPECT_NE(r.error.find("missing.w3o"), std::string::npos);
    EXPECT_EQ(bundle.toBytes(), guardBundle());
}

TEST(ObjectBundle, SaveReplacesTheFileWholeOrNotAtAll) {
    TempDir dir;
    const auto path = dir / "Карта карт.w3o"; // non-ASCII names work
    testing::writeAll(path, std::string("old contents"));
    ObjectBundle bundle;
    ASSERT_TRUE(load(bundle, guardBundle()));
    std::string error;
    ASSERT_TRUE(bundle.save(path, error)) << error;
    EXPECT_EQ(testing::readAll(path), guardBundle());
    ObjectBundle again;
    ASSERT_TRUE(again.load(path));
    EXPECT_EQ(again.toBytes(), guardBundle());

    // Into a folder that does not exist: an error naming the file, nothing created.
    const auto nowhere = dir / "no such folder" / "x.w3o";
    EXPECT_FALSE(bundle.save(nowhere, error));
    EXPECT_NE(error.find("x.w3o"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(nowhere));
    // No temporary files are left behind.
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 1u);
}

TEST(ObjectBundle, HoldsMoreObjectsAndModificationsThanAnyFixedCapacity) {
    Builder file;
    file.i32(2).u32(0).u32(1500);
    for (int i = 0; i < 1500; ++i) {
        const std::string name = "h" + std::to_string(100 + i % 900) + (i < 900 ? "" : "x");
        file.id("hfoo").id(std::string(1, char('A' + i / 900)) + name.substr(1, 3)).u32(i == 0 ? 2500 : 1);
        for (int m = 0; m < (i == 0 ? 2500 : 1); ++m)
            file.id(std::string{'f', char('a' + m / 676), char('a' + m / 26 % 26), char('a' + m % 26)})
                .i32(0)
                .i32(m)
                .id("hfoo");
    }
    const Bytes bytes = singleKind(ObjectKind::Units, file.bytes);
    ObjectBundle bundle;
    ASSERT_TRUE(load(bundle, bytes));
    const ObjectTable& custom = bundle.kind(ObjectKind::Units).file.customTable;
    EXPECT_EQ(custom.count(), 1500u);
    EXPECT_EQ(custom.at(0).modificationCount(), 2500u);
    ObjectBundle again;
    ASSERT_TRUE(load(again, bundle.toBytes()));
    EXPECT_EQ(again.toBytes(), bundle.toBytes());
}

TEST(ObjectBundle, ALargeShuffledFileSortedWhileReadMatchesReadingItsBytesFromMemory) {
    // Abilities whose fields stand shuffled, some repeated with the same level columns, in a file large enough
    // to be sorted on a second thread while it is read. A copy cut short is refused as from memory.
    std::mt19937 rng(7);
    const char* const fields[] = {"anam", "Hbz1", "HBZ2", "aare", "acdn", "amcs", "atar", "ansf"};
    Builder file;
    file.i32(2).u32(0).u32(7000);
    for (int i = 0; i < 7000; ++i) {
        const std::uint32_t count = 20 + rng() % 20;
        file.id("AHbz")
            .id(std::string{'A', char('a' + i / 676 % 26), char('a' + i / 26 % 26), char('a' + i % 26)})
            .u32(count);
        for (std::uint32_t m = 0; m < count; ++m)
            file.id(fields[rng() % 8])
                .i32(0)
                .i32(static_cast<std::int32_t>(rng() % 4))
                .i32(1)
                .i32(static_cast<std::int32_t>(m))
                .id("AHbz");
    }
    const Bytes bytes = singleKind(ObjectKind::Abilities, file.bytes);
    ASSERT_GE(bytes.size(), RecordPlacer::kMinBytes);
    TempDir dir;
    const auto path = dir / "large.w3o";
    for (const std::size_t cut : {bytes.size(), bytes.size() / 2, bytes.size() - 3}) {
        SCOPED_TRACE(cut);
        const Bytes part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        testing::writeAll(path, part);
        ObjectBundle fromFile;
        ObjectBundle fromMemory;
        const LoadResult a = fromFile.load(path);
        const LoadResult b = fromMemory.loadBytes(part, pathText(path));
        EXPECT_EQ(bool(a), cut == bytes.size());
        EXPECT_EQ(a.error, b.error);
        EXPECT_EQ(a.offset, b.offset);
        EXPECT_EQ(fromFile.toBytes(), fromMemory.toBytes());
    }
}

TEST(ObjectBundle, LoadingABundleOnTopOfItselfChangesNothing) {
    // Every merge loads the main file again on top of itself; ability levels must not multiply.
    Builder abilities;
    abilities.i32(2).u32(0).u32(1).id("AHbz").id("A000").u32(8);
    for (int level = 1; level <= 4; ++level)
        for (int column = 1; column <= 2; ++column)
            abilities.id("Hbz1").i32(0).i32(level).i32(column).i32(level * 10 + column).id("AHbz");
    const Bytes bytes = singleKind(ObjectKind::Abilities, abilities.bytes);
    for (MergePolicy policy : {MergePolicy::Glue, MergePolicy::Keep, MergePolicy::Overwrite}) {
        ObjectBundle bundle;
        ASSERT_TRUE(load(bundle, bytes, policy));
        const Bytes once = bundle.toBytes();
        ASSERT_TRUE(load(bundle, bytes, policy));
        EXPECT_EQ(bundle.toBytes(), once);
        EXPECT_EQ(bundle.kind(ObjectKind::Abilities).file.customTable.at(0).modificationCount(), 8u);
    }
}

#ifndef _WIN32 // the file size limit is a POSIX resource limit
TEST(ObjectBundle, FailedWriteLeavesTheOldFile) {
    TempDir dir;
    const auto path = dir / "war.w3o";
    testing::writeAll(path, guardBundle());
    ObjectBundle bundle;
    ASSERT_TRUE(load(bundle, guardBundle()));
    bundle.kind(ObjectKind::Units).file.customTable.at(0).addOrReplace([] {
        Modification m;
        m.fieldId = id("utip");
        m.valueType = ModValueType::String;
        m.stringValue = std::string(20000, 't');
        return m;
    }());
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    std::string error;
    const bool saved = bundle.save(path, error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(saved);
    EXPECT_NE(error.find("war.w3o: cannot write the file"), std::string::npos) << error;
    EXPECT_EQ(testing::readAll(path), guardBundle());
}
#endif

TEST(SingleKindFile, LoadsAsTheOnlyPresentKindAndSavesInItsOwnLayout) {
    TempDir dir;
    Builder file;
    file.i32(2).u32(0).u32(1).id("AHbz").id("A000").u32(1).id("Hbz1").i32(0).i32(1).i32(0).i32(5).id("AHbz");
    testing::writeAll(dir / "war3mapSkin.W3A", file.bytes);
    EXPECT_EQ(singleKindOf(dir / "war3mapSkin.W3A"), ObjectKind::Abilities);
    EXPECT_EQ(singleKindOf(dir / "map.w3o"), std::nullopt);
    EXPECT_EQ(singleKindOf(dir / "w3a"), std::nullopt);

    ObjectBundle bundle;
    ASSERT_TRUE(bundle.load(dir / "war3mapSkin.W3A"));
    for (ObjectKind k : kAllObjectKinds)
        EXPECT_EQ(bundle.kind(k).present != 0, k == ObjectKind::Abilities) << kindName(k);
    EXPECT_EQ(bundle.kind(ObjectKind::Abilities).file.customTable.at(0).modifications()[0].level, 1);
    std::string error;
    ASSERT_TRUE(bundle.save(dir / "out.w3a", error)) << error;
    EXPECT_EQ(testing::readAll(dir / "out.w3a"), file.bytes);
    ASSERT_TRUE(bundle.save(dir / "out.w3o", error)) << error;
    // A bundle made from an object file has the bundle version the editor writes.
    EXPECT_EQ(testing::readAll(dir / "out.w3o"), singleKind(ObjectKind::Abilities, file.bytes, 1, kNewBundleVersion));

    // Merged into a bundle, it joins that kind.
    ObjectBundle main;
    ASSERT_TRUE(load(main, guardBundle()));
    ASSERT_TRUE(main.load(dir / "war3mapSkin.W3A"));
    EXPECT_EQ(main.kind(ObjectKind::Units).file.customTable.count(), 1u);
    EXPECT_EQ(main.kind(ObjectKind::Abilities).file.customTable.count(), 1u);
}

TEST(SingleKindFile, DamageNamesTheKind) {
    TempDir dir;
    testing::writeAll(dir / "war3map.w3u", Builder().i32(2).u32(1).id("hfoo").bytes);
    ObjectBundle bundle;
    const LoadResult r = bundle.load(dir / "war3map.w3u");
    EXPECT_EQ(r.outcome, LoadResult::Outcome::Refused);
    EXPECT_EQ(r.error, pathText(dir / "war3map.w3u") +
                           ": the file ends at byte 12, too soon for the 1 objects counted at byte 4, in an object "
                           "count (units)");
}

TEST(ObjectBundle, CollisionWarningGoesToTheSink) {
    // 'hfoo' stands as a standard object and as a custom object whose new id is 'hfoo' in other letter case;
    // a third object 'hfoo' arriving then meets both.
    Builder in;
    in.i32(2).u32(3);
    in.id("hfoo").id("\0\0\0\0").u32(1).id("uhpm").i32(0).i32(1).id("hfoo");
    in.id("hkni").id("HFOO").u32(1).id("uhpm").i32(0).i32(2).id("hkni");
    in.id("hfoo").id("\0\0\0\0").u32(1).id("uhpm").i32(0).i32(3).id("hfoo");
    in.u32(0);
    ObjectBundle bundle;
    std::vector<std::string> warnings;
    ASSERT_TRUE(bundle.loadBytes(singleKind(ObjectKind::Units, in.bytes), "w.w3o", MergePolicy::Glue,
                                 [&](const std::string& line) { warnings.push_back(line); }));
    EXPECT_EQ(warnings, std::vector<std::string>{"WARNING: COLLISION OF EXISTANCE FOR ID hfoo"});
}

} // namespace
} // namespace brindlemark

namespace brindlemark {
namespace {

using testing::Builder;
using testing::Bytes;
using testing::TempDir;

// Every modification as text, object by object, for comparing two loads.
std::string describe(const ObjectBundle& bundle) {
    std::string out;
    for (ObjectKind k : kAllObjectKinds)
        for (const ObjectTable* t : {&bundle.kind(k).file.standardTable, &bundle.kind(k).file.customTable})
            for (const ObjectRecord& r : t->objects()) {
                out += displayText(r.baseId) + "/" + displayText(r.newId) + ":";
                for (const Modification& m : r.modifications())
                    out += " " + displayText(m.fieldId) + "," + std::to_string(int(m.valueType)) + "," +
                           std::to_string(m.level) + "," + std::to_string(m.dataColumn) + "," +
                           std::to_string(m.intValue) + "," + m.stringValue + "," + displayText(m.endMarker) +
                           (m.recovered ? ",r" : "") + ";";
                out += "\n";
            }
    return out;
}

// A file loaded from disk keeps the modifications of an object as the file's bytes when they stand in order and
// end with the base id, and unpacks them when asked; every other object is read the plain way. Either way the
// bundle, its bytes when saved, and the refusal of every cut of the file are those of loading the same bytes
// from memory.
TEST(ObjectBundle, LoadingAFileMatchesLoadingItsBytesFromMemory) {
    auto units = [](const std::function<void(Builder&)>& mods, std::uint32_t count, const char* base = "hfoo",
                    const char* newId = "h000") {
        Builder b;
        b.i32(2).u32(0).u32(1).id(base).id(newId).u32(count);
        mods(b);
        return singleKind(ObjectKind::Units, b.bytes);
    };
    auto abilities = [](const std::function<void(Builder&)>& mods, std::uint32_t count) {
        Builder b;
        b.i32(2).u32(1).id("AHbz").id("").u32(count);
        mods(b);
        b.u32(0);
        return singleKind(ObjectKind::Abilities, b.bytes);
    };
    auto level = [](Builder& b, const char* field, std::int32_t lv, std::int32_t value) {
        b.id(field).i32(0).i32(lv).i32(1).i32(value).id("AHbz");
    };
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"in order", units(
                         [](Builder& b) {
                             b.id("uhpm").i32(0).i32(5).id("hfoo").id("unam").i32(3).str("Guard").id("hfoo");
                             b.id("usca").i32(1).f32bits(0x3f800000).id("hfoo").id("utip").i32(3).str("").id("hfoo");
                         },
                         4)},
        {"out of order",
         units([](Builder& b) { b.id("unam").i32(3).str("Guard").id("hfoo").id("uhpm").i32(0).i32(5).id("hfoo"); }, 2)},
        {"field twice",
         units([](Builder& b) { b.id("uhpm").i32(0).i32(5).id("hfoo").id("UHPM").i32(0).i32(6).id("hfoo"); }, 2)},
        {"other end marker",
         units([](Builder& b) { b.id("uhpm").i32(0).i32(5).id("hfoo").id("unam").i32(3).str("Guard").id("xxxx"); }, 2)},
        {"stray value", units(
                            [](Builder& b) {
                                b.id("uhpm").i32(0).i32(5).id("hfoo").id("junk").id("unam").i32(3).str("Guard").id(
                                    "hfoo");
                            },
                            2)},
        {"base id equal to new id", units([](Builder& b) { b.id("uhpm").i32(0).i32(5).id("H000"); }, 1, "H000")},
        {"levels in order", abilities(
                                [&](Builder& b) {
                                    level(b, "Hbz1", 1, 10);
                                    level(b, "Hbz1", 2, 20);
                                    level(b, "Hbz2", 1, 30);
                                },
                                3)},
        {"level twice", abilities(
                            [&](Builder& b) {
                                level(b, "Hbz1", 1, 10);
                                level(b, "Hbz1", 1, 20);
                            },
                            2)},
        {"long run of levels", abilities(
                                   [&](Builder& b) {
                                       for (int lv = 1; lv <= 20; ++lv)
                                           level(b, "Hbz1", lv, lv);
                                   },
                                   20)},
    };
    TempDir dir;
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        const auto path = dir / "case.w3o";
        testing::writeAll(path, bytes);
        ObjectBundle fromFile;
        ObjectBundle fromMemory;
        ASSERT_TRUE(fromFile.load(path));
        ASSERT_TRUE(load(fromMemory, bytes));
        EXPECT_EQ(fromFile.toBytes(), fromMemory.toBytes());
        EXPECT_EQ(describe(fromFile), describe(fromMemory));
        for (std::size_t n = 1; n < bytes.size(); ++n) {
            testing::writeAll(path, Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)));
            ObjectBundle cutFile;
            ObjectBundle cutMemory;
            const LoadResult a = cutFile.load(path);
            const LoadResult b = cutMemory.loadBytes(
                Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)), pathText(path));
            EXPECT_EQ(a.offset, b.offset) << n;
            EXPECT_EQ(a.error, b.error) << n;
        }
    }
}

} // namespace
} // namespace brindlemark
