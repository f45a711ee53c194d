#include "core/objectfile.h"

#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace brindlemark {
namespace {

using testing::id;

ObjectRecord object(const char* base, const char* newId, std::vector<std::pair<const char*, int>> fields) {
    ObjectRecord r;
    r.baseId = id(base);
    r.newId = id(newId);
    for (auto [field, value] : fields) {
        Modification m;
        m.fieldId = id(field);
        m.intValue = value;
        r.addOrReplace(m);
    }
    return r;
}

std::vector<std::string> ids(const ObjectTable& t) {
    std::vector<std::string> out;
    for (const ObjectRecord& r : t.objects())
        out.push_back(r.effectiveId().text());
    return out;
}

int value(const ObjectRecord& r, const char* field) {
    const Modification* m = r.find(id(field));
    return m ? m->intValue : -1;
}

TEST(ObjectTable, KeepsIdentifierOrderWhateverTheInsertionOrder) {
    ObjectTable t;
    for (const char* name : {"A001", "a000", "B000", "_x00", "9zzz"})
        EXPECT_TRUE(t.add(object("hfoo", name, {{"uhpm", 1}}), MergePolicy::Glue));
    EXPECT_EQ(ids(t), (std::vector<std::string>{"9zzz", "_x00", "a000", "A001", "B000"}));
    EXPECT_TRUE(t.contains(id("b000")));
    EXPECT_FALSE(t.contains(id("b001")));
}

TEST(ObjectTable, PoliciesResolveAMatchingIdentifier) {
    // Existing object changes fields a and c, the incoming one a and b.
    const ObjectRecord main = object("hfoo", "h000", {{"aaaa", 1}, {"cccc", 3}});
    const ObjectRecord added = object("hkni", "H000", {{"aaaa", 10}, {"bbbb", 20}});

    ObjectTable overwrite;
    overwrite.add(main, MergePolicy::Glue);
    EXPECT_TRUE(overwrite.add(added, MergePolicy::Overwrite));
    ASSERT_EQ(overwrite.count(), 1u);
    EXPECT_EQ(overwrite.at(0).baseId, id("hkni"));
    EXPECT_EQ(value(overwrite.at(0), "aaaa"), 10);
    EXPECT_EQ(value(overwrite.at(0), "bbbb"), 20);
    EXPECT_EQ(value(overwrite.at(0), "cccc"), -1);

    ObjectTable glue;
    glue.add(main, MergePolicy::Glue);
    EXPECT_TRUE(glue.add(added, MergePolicy::Glue));
    ASSERT_EQ(glue.count(), 1u);
    EXPECT_EQ(glue.at(0).baseId, id("hfoo")); // the existing object keeps its identifiers
    EXPECT_EQ(glue.at(0).newId, id("h000"));
    EXPECT_EQ(value(glue.at(0), "aaaa"), 10);
    EXPECT_EQ(value(glue.at(0), "bbbb"), 20);
    EXPECT_EQ(value(glue.at(0), "cccc"), 3);

    ObjectTable keep;
    keep.add(main, MergePolicy::Glue);
    EXPECT_FALSE(keep.add(added, MergePolicy::Keep));
    ASSERT_EQ(keep.count(), 1u);
    EXPECT_EQ(value(keep.at(0), "aaaa"), 1);
    EXPECT_EQ(value(keep.at(0), "bbbb"), -1);
}

TEST(ObjectTable, RemoveAtAnswersWhetherItRemoved) {
    ObjectTable t;
    EXPECT_FALSE(t.removeAt(0));
    t.add(object("hfoo", "h000", {}), MergePolicy::Glue);
    EXPECT_FALSE(t.removeAt(1));
    EXPECT_EQ(t.count(), 1u);
    EXPECT_TRUE(t.removeAt(0));
    EXPECT_TRUE(t.empty());
}

TEST(ObjectTable, SortAndResolveLetsTheFirstOfMatchingNeighboursCountAsHeld) {
    for (MergePolicy policy : {MergePolicy::Overwrite, MergePolicy::Glue, MergePolicy::Keep}) {
        ObjectTable t;
        t.add(object("hfoo", "a000", {{"aaaa", 1}}), policy);
        t.add(object("hfoo", "b000", {{"aaaa", 2}, {"bbbb", 2}}), policy);
        t.add(object("hfoo", "c000", {{"cccc", 3}}), policy);
        t.at(0).newId = id("z000"); // out of order now
        t.at(2).newId = id("B000"); // matches b000, which stands before it
        t.sortAndResolve(policy);
        EXPECT_EQ(ids(t), (std::vector<std::string>{policy == MergePolicy::Overwrite ? "B000" : "b000", "z000"}));
        const ObjectRecord& b = t.at(0);
        switch (policy) {
        case MergePolicy::Keep:
            EXPECT_EQ(value(b, "aaaa"), 2);
            EXPECT_EQ(value(b, "cccc"), -1);
            break;
        case MergePolicy::Glue:
            EXPECT_EQ(value(b, "aaaa"), 2);
            EXPECT_EQ(value(b, "cccc"), 3);
            break;
        case MergePolicy::Overwrite:
            EXPECT_EQ(value(b, "aaaa"), -1);
            EXPECT_EQ(value(b, "cccc"), 3);
            break;
        }
    }
}

TEST(ObjectTable, RepositioningOneObjectEqualsSortingTheTable) {
    std::mt19937 rng(7);
    const char letters[] = "abAB_1";
    auto randomId = [&] {
        std::string s = "x";
        for (int i = 0; i < 3; ++i)
            s += letters[rng() % 6];
        return s;
    };
    for (int round = 0; round < 2000; ++round) {
        const MergePolicy policy = static_cast<MergePolicy>(rng() % 3);
        ObjectTable table;
        const int n = 1 + static_cast<int>(rng() % 12);
        for (int i = 0; i < n; ++i)
            table.add(object("hfoo", randomId().c_str(), {{"aaaa", i}, {i % 2 ? "bbbb" : "cccc", i}}), policy);
        const std::size_t moved = rng() % table.count();
        table.at(moved).newId = id(randomId());
        ObjectTable sorted = table;
        sorted.sortAndResolve(policy);
        table.reposition(moved, policy);
        ASSERT_EQ(table.count(), sorted.count());
        for (std::size_t i = 0; i < table.count(); ++i) {
            ASSERT_EQ(table.at(i).newId, sorted.at(i).newId) << round;
            ASSERT_EQ(value(table.at(i), "aaaa"), value(sorted.at(i), "aaaa")) << round;
            ASSERT_EQ(value(table.at(i), "bbbb"), value(sorted.at(i), "bbbb")) << round;
            ASSERT_EQ(value(table.at(i), "cccc"), value(sorted.at(i), "cccc")) << round;
        }
    }
}

TEST(ObjectTable, AddingAnObjectItselfKeepsItsAddressAndReportsWhatWasDestroyed) {
    struct Recorder : TableObserver {
        std::vector<const ObjectRecord*> destroyed;
        std::vector<const ObjectRecord*> mergedInto;
        void destroying(const ObjectRecord& r) override { destroyed.push_back(&r); }
        void merged(ObjectRecord& r) override { mergedInto.push_back(&r); }
    };
    ObjectTable t;
    auto first = std::make_unique<ObjectRecord>(object("hfoo", "h000", {{"aaaa", 1}}));
    const ObjectRecord* firstAddress = first.get();
    t.add(std::move(first), MergePolicy::Glue);
    EXPECT_EQ(&t.at(0), firstAddress);

    Recorder glue;
    auto second = std::make_unique<ObjectRecord>(object("hkni", "h000", {{"bbbb", 2}}));
    const ObjectRecord* secondAddress = second.get();
    t.add(std::move(second), MergePolicy::Glue, &glue);
    EXPECT_EQ(glue.mergedInto, std::vector<const ObjectRecord*>{firstAddress});
    EXPECT_EQ(glue.destroyed, std::vector<const ObjectRecord*>{secondAddress});

    Recorder overwrite;
    auto third = std::make_unique<ObjectRecord>(object("hkni", "h000", {{"cccc", 3}}));
    const ObjectRecord* thirdAddress = third.get();
    t.add(std::move(third), MergePolicy::Overwrite, &overwrite);
    EXPECT_EQ(overwrite.destroyed, std::vector<const ObjectRecord*>{firstAddress});
    EXPECT_EQ(&t.at(0), thirdAddress);
}

TEST(ObjectFile, FilesObjectsByTheirIdentifiersNotTheirSection) {
    ObjectFile f;
    const WarningSink quiet = [](const std::string&) {};
    EXPECT_TRUE(f.fileObject(object("hfoo", "\0\0\0\0", {{"uhpm", 1}}), MergePolicy::Glue, quiet));
    EXPECT_TRUE(f.fileObject(object("hkni", "hkni", {{"uhpm", 1}}), MergePolicy::Glue, quiet));
    EXPECT_TRUE(f.fileObject(object("hpea", "HPEA", {{"uhpm", 1}}), MergePolicy::Glue, quiet));
    EXPECT_TRUE(f.fileObject(object("hfoo", "h000", {}), MergePolicy::Glue, quiet));      // custom: kept though empty
    EXPECT_FALSE(f.fileObject(object("hrif", "\0\0\0\0", {}), MergePolicy::Glue, quiet)); // standard: dropped

    EXPECT_EQ(ids(f.standardTable), (std::vector<std::string>{"hfoo", "hkni"}));
    EXPECT_EQ(f.standardTable.at(1).newId, id("hkni")); // keeps its new id
    EXPECT_EQ(ids(f.customTable), (std::vector<std::string>{"h000", "HPEA"}));
    EXPECT_TRUE(f.customTable.at(1).baseId.isZero()); // differs from newId only in case
}

TEST(ObjectFile, WarnsOnceAnIdentifierStandsInBothTables) {
    ObjectFile f;
    std::vector<std::string> warnings;
    const WarningSink sink = [&](const std::string& line) { warnings.push_back(line); };
    f.fileObject(object("hfoo", "\0\0\0\0", {{"uhpm", 1}}), MergePolicy::Glue, sink);
    f.customTable.add(object("xxxx", "hfoo", {{"uhpm", 1}}), MergePolicy::Glue);
    EXPECT_TRUE(warnings.empty());
    f.fileObject(object("hfoo", "\0\0\0\0", {{"uhpm", 2}}), MergePolicy::Glue, sink);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "WARNING: COLLISION OF EXISTANCE FOR ID hfoo");
    EXPECT_EQ(value(f.standardTable.at(0), "uhpm"), 2); // filing went on
}

} // namespace
} // namespace brindlemark
