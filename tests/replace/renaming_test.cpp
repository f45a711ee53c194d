#include "replace/renaming.h"

#include "replace/replaceplan.h"

#include "tests/replace/bundlefixtures.h"
#include "tests/replace/plainreplace.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace brindlemark {
namespace {

using namespace testing;

using Apply = std::function<void(ObjectBundle&, ObjectId, ObjectId, RenameList&)>;

// Every example runs through the real engine and through the plain step-by-step version.
class Renaming : public ::testing::TestWithParam<bool> {
protected:
    void apply(ObjectBundle& bundle, const char* pattern, const char* replacement, RenameList& list,
               MergePolicy policy = MergePolicy::Glue) {
        if (GetParam())
            applyRename(bundle, id(pattern), id(replacement), list, policy);
        else
            plainApplyRename(bundle, id(pattern), id(replacement), list, nullptr, policy);
    }
};

INSTANTIATE_TEST_SUITE_P(EngineAndPlain, Renaming, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Engine" : "Plain"; });

std::vector<std::string> froms(const RenameList& list) {
    std::vector<std::string> out;
    for (const RenameEntry& e : list.entries())
        out.push_back(e.fromId.text() + ">" + e.toId.text());
    return out;
}

TEST_P(Renaming, StandardObjectMovesToCustomAndEveryReferenceFollows) {
    ObjectBundle bundle;
    put(bundle, ObjectKind::Units, makeObject("hfoo", "", {textField("unam", "Footman"), intField("uhpm", 420)}));
    put(bundle, ObjectKind::Units,
        makeObject("hfoo", "h000",
                   {textField("utip", "Train hfoo, (hfoo) x_hfoo hfoox hfoohfoo HFOO"), idField("ubui", "hfoo")}));
    put(bundle, ObjectKind::Abilities, makeObject("AHbz", "A000", {idField("aord", "hfoo")}));
    RenameList list(false);
    apply(bundle, "hfoo", "h001", list);

    const ObjectFile& units = bundle.kind(ObjectKind::Units).file;
    EXPECT_EQ(units.standardTable.count(), 0u);
    EXPECT_EQ(tableIds(units.customTable), (std::vector<std::string>{"h000", "h001"}));
    const ObjectRecord& moved = units.customTable.at(1);
    EXPECT_EQ(moved.baseId, id("hfoo"));
    EXPECT_EQ(moved.newId, id("h001"));
    EXPECT_EQ(moved.modificationCount(), 2u);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.entries()[0].fromId, id("hfoo"));
    EXPECT_EQ(list.entries()[0].toId, id("h001"));
    EXPECT_EQ(list.entries()[0].displayName, "Footman");

    const ObjectRecord& other = units.customTable.at(0);
    EXPECT_EQ(textOf(other, "utip"), "Train h001, (h001) x_h001 hfoox hfoohfoo HFOO");
    EXPECT_EQ(idValueOf(other, "ubui"), "h001");
    EXPECT_EQ(other.baseId, id("hfoo")); // a custom object's base id never changes
    EXPECT_EQ(idValueOf(bundle.kind(ObjectKind::Abilities).file.customTable.at(0), "aord"), "h001");
}

TEST_P(Renaming, CustomObjectIsRenamedInPlaceAndTheTableStaysSorted) {
    ObjectBundle bundle;
    for (const char* name : {"a000", "b000", "c000"})
        put(bundle, ObjectKind::Items, makeObject("ratf", name, {intField("iclr", 1)}));
    RenameList list(false);
    apply(bundle, "a000", "z000", list);
    const ObjectTable& items = bundle.kind(ObjectKind::Items).file.customTable;
    EXPECT_EQ(tableIds(items), (std::vector<std::string>{"b000", "c000", "z000"}));
    EXPECT_EQ(items.at(2).baseId, id("ratf"));
    EXPECT_EQ(froms(list), std::vector<std::string>{"a000>z000"});
}

TEST_P(Renaming, BaseIdsOfCustomObjectsAreNotRenamed) {
    ObjectBundle bundle;
    put(bundle, ObjectKind::Units, makeObject("hfoo", "h000", {intField("uhpm", 1)}));
    RenameList list(false);
    apply(bundle, "hfoo", "h001", list);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(bundle.kind(ObjectKind::Units).file.customTable.at(0).baseId, id("hfoo"));
}

TEST_P(Renaming, WildcardPatternMovesEveryMatchingObjectInOrder) {
    ObjectBundle bundle;
    for (const char* base : {"hpea", "hkni", "hfoo", "ogru"})
        put(bundle, ObjectKind::Units, makeObject(base, "", {intField("uhpm", 1)}));
    RenameList list(false);
    apply(bundle, "h%%%", "x%%%", list);
    const ObjectFile& units = bundle.kind(ObjectKind::Units).file;
    EXPECT_EQ(tableIds(units.standardTable), std::vector<std::string>{"ogru"});
    EXPECT_EQ(tableIds(units.customTable), (std::vector<std::string>{"xfoo", "xkni", "xpea"}));
    EXPECT_EQ(froms(list), (std::vector<std::string>{"hfoo>xfoo", "hkni>xkni", "hpea>xpea"}));
}

TEST_P(Renaming, SentinelReplacementListsWithoutRenamingButRewritesReferences) {
    ObjectBundle bundle;
    put(bundle, ObjectKind::Units, makeObject("hfoo", "", {textField("utip", "hfoo here")}));
    put(bundle, ObjectKind::Units, makeObject("hfoo", "h000", {idField("ubui", "h000")}));
    RenameList list(false);
    apply(bundle, "%%%%", "____", list);
    const ObjectFile& units = bundle.kind(ObjectKind::Units).file;
    EXPECT_EQ(tableIds(units.standardTable), std::vector<std::string>{"hfoo"});
    EXPECT_EQ(tableIds(units.customTable), std::vector<std::string>{"h000"});
    EXPECT_EQ(froms(list), (std::vector<std::string>{"h000>____", "hfoo>____"}));
    EXPECT_EQ(textOf(units.standardTable.at(0), "utip"), "____ here");
    EXPECT_EQ(idValueOf(units.customTable.at(0), "ubui"), "____");
}

TEST_P(Renaming, AnIdentifierCarriedTwiceGivesTwoEntries) {
    ObjectBundle bundle;
    put(bundle, ObjectKind::Units, makeObject("hfoo", "", {textField("unam", "Standard")}));
    put(bundle, ObjectKind::Items, makeObject("ratf", "hfoo", {textField("unam", "Item")}));
    RenameList list(false);
    apply(bundle, "hfoo", "h001", list);
    ASSERT_EQ(list.size(), 2u);
    // The later one goes before the equal entry already there.
    EXPECT_EQ(list.entries()[0].displayName, "Item");
    EXPECT_EQ(list.entries()[1].displayName, "Standard");
}

TEST_P(Renaming, MovedObjectMeetingAnExistingOneFollowsThePolicy) {
    for (MergePolicy policy : {MergePolicy::Keep, MergePolicy::Glue, MergePolicy::Overwrite}) {
        ObjectBundle bundle;
        put(bundle, ObjectKind::Units, makeObject("hfoo", "", {intField("aaaa", 1), intField("bbbb", 1)}), policy);
        put(bundle, ObjectKind::Units, makeObject("hkni", "h001", {intField("aaaa", 2), intField("cccc", 2)}), policy);
        RenameList list(false);
        apply(bundle, "hfoo", "h001", list, policy);
        const ObjectFile& units = bundle.kind(ObjectKind::Units).file;
        EXPECT_EQ(units.standardTable.count(), 0u);
        ASSERT_EQ(units.customTable.count(), 1u);
        EXPECT_EQ(list.size(), 1u); // recorded whatever became of the object
        const ObjectRecord& r = units.customTable.at(0);
        const Modification* b = r.find(id("bbbb"));
        const Modification* c = r.find(id("cccc"));
        switch (policy) {
        case MergePolicy::Keep:
            EXPECT_EQ(r.baseId, id("hkni"));
            EXPECT_EQ(b, nullptr);
            break;
        case MergePolicy::Glue:
            EXPECT_EQ(r.baseId, id("hkni"));
            EXPECT_EQ(r.find(id("aaaa"))->intValue, 1);
            EXPECT_NE(b, nullptr);
            EXPECT_NE(c, nullptr);
            break;
        case MergePolicy::Overwrite:
            EXPECT_EQ(r.baseId, id("hfoo"));
            EXPECT_NE(b, nullptr);
            EXPECT_EQ(c, nullptr);
            break;
        }
    }
}

TEST_P(Renaming, CustomRenameOntoAnExistingIdentifierIsResolvedByThePolicy) {
    // 'a000' becomes 'c000', which the table already holds after it: of the two, 'a000' stood first.
    for (MergePolicy policy : {MergePolicy::Keep, MergePolicy::Glue, MergePolicy::Overwrite}) {
        ObjectBundle bundle;
        put(bundle, ObjectKind::Items, makeObject("ratf", "a000", {intField("aaaa", 1)}), policy);
        put(bundle, ObjectKind::Items, makeObject("ratc", "b000", {intField("aaaa", 2)}), policy);
        put(bundle, ObjectKind::Items, makeObject("rat6", "c000", {intField("cccc", 3)}), policy);
        RenameList list(false);
        apply(bundle, "a000", "c000", list, policy);
        const ObjectTable& items = bundle.kind(ObjectKind::Items).file.customTable;
        EXPECT_EQ(tableIds(items), (std::vector<std::string>{"b000", "c000"}));
        const ObjectRecord& c = items.at(1);
        EXPECT_EQ(c.baseId, id(policy == MergePolicy::Overwrite ? "rat6" : "ratf"));
        EXPECT_EQ(c.find(id("cccc")) != nullptr, policy != MergePolicy::Keep);
        EXPECT_EQ(c.find(id("aaaa")) != nullptr, policy != MergePolicy::Overwrite);
    }
}

TEST_P(Renaming, WildcardInsideAnObjectsOwnIdentifierActsInRewriting) {
    ObjectBundle bundle;
    put(bundle, ObjectKind::Units, makeObject("hfoo", "h%01", {textField("utip", "hq01 and h%01")}));
    RenameList list(false);
    apply(bundle, "h%01", "h002", list);
    EXPECT_EQ(froms(list), std::vector<std::string>{"h%01>h002"});
    EXPECT_EQ(textOf(bundle.kind(ObjectKind::Units).file.customTable.at(0), "utip"), "h002 and h002");
}

TEST_P(Renaming, ChainedPairsSeeEachOthersWork) {
    ObjectBundle bundle;
    put(bundle, ObjectKind::Units, makeObject("hfoo", "A000", {textField("utip", "A000 B000")}));
    put(bundle, ObjectKind::Units, makeObject("hfoo", "B000", {idField("ubui", "A000")}));
    RenameList first(false);
    apply(bundle, "A000", "C000", first);
    RenameList second(false);
    apply(bundle, "C000", "D000", second);
    const ObjectTable& units = bundle.kind(ObjectKind::Units).file.customTable;
    EXPECT_EQ(tableIds(units), (std::vector<std::string>{"B000", "D000"}));
    EXPECT_EQ(textOf(units.at(1), "utip"), "D000 B000");
    EXPECT_EQ(idValueOf(units.at(0), "ubui"), "D000");
}

TEST_P(Renaming, ReplacementWithANulByteEndsTheTextThere) {
    ObjectBundle bundle;
    put(bundle, ObjectKind::Units, makeObject("hfoo", "h000", {textField("utip", "x h000 tail")}));
    RenameList list(false);
    ObjectId nul = id("h0");
    nul.bytes[2] = 0;
    nul.bytes[3] = 'z';
    if (GetParam())
        applyRename(bundle, id("h000"), nul, list);
    else
        plainApplyRename(bundle, id("h000"), nul, list);
    const ObjectRecord& r = bundle.kind(ObjectKind::Units).file.customTable.at(0);
    EXPECT_EQ(textOf(r, "utip"), "x h0");
}

// Texts packed with identifiers made of letters and delimiters, so that every rewritten word makes and breaks
// words around it, some with a NUL inside, and chains of renames that write delimiters, wildcards and NULs: the
// engine, which rewrites
// only the places its word index lists, against the plain rewrite of every value by every rename.
TEST(RenameEngine, MatchesThePlainRewriteOnTextsDenseWithIdentifiers) {
    int changedValues = 0;
    for (unsigned seed = 0; seed < 300; ++seed) {
        std::mt19937 rng(seed);
        auto word = [&](const char* alphabet, std::size_t size) {
            ObjectId w;
            for (auto& b : w.bytes)
                b = static_cast<std::uint8_t>(alphabet[rng() % size]);
            return w;
        };
        std::vector<ObjectId> pool;
        for (int i = 0; i < 8; ++i)
            pool.push_back(word("ab,", 3));
        ObjectBundle engineBundle;
        const auto policy = static_cast<MergePolicy>(rng() % 3);
        for (int i = 0; i < 6; ++i) {
            ObjectRecord r;
            r.baseId = id("hfoo");
            r.newId = pool[rng() % pool.size()];
            for (const char* field : {"unam", "utip", "ubui", "ides"}) {
                if (rng() % 4 == 0) {
                    r.addOrReplace(intField(field, static_cast<std::int32_t>(pool[rng() % pool.size()].value())));
                    continue;
                }
                std::string text;
                while (text.size() < 60) {
                    if (rng() % 3)
                        text.append(pool[rng() % pool.size()].raw());
                    else
                        text += "ab, _"[rng() % 5];
                }
                if (rng() % 10 == 0) // a text made in memory may hold a NUL, which ends it for renaming
                    text[rng() % text.size()] = '\0';
                r.addOrReplace(textField(field, text));
            }
            put(engineBundle, ObjectKind::Units, std::move(r), policy);
        }
        ObjectBundle plainBundle = engineBundle;
        RenameEngine engine(engineBundle, policy);
        for (int step = 0; step < 10; ++step) {
            const ObjectId from = pool[rng() % pool.size()];
            ObjectId to = word("ab,%_", 5);
            if (rng() % 8 == 0)
                to.bytes[rng() % 4] = 0;
            RenameList engineList(false);
            RenameList plainList(false);
            std::vector<ValueCounts> engineCounts;
            std::vector<ValueCounts> plainCounts;
            engine.applyRename(from, to, engineList, &engineCounts);
            plainApplyRename(plainBundle, from, to, plainList, &plainCounts, policy);
            SCOPED_TRACE("seed " + std::to_string(seed) + ", step " + std::to_string(step));
            EXPECT_EQ(froms(engineList), froms(plainList));
            ASSERT_EQ(engineCounts.size(), plainCounts.size());
            for (std::size_t i = 0; i < engineCounts.size(); ++i) {
                EXPECT_EQ(engineCounts[i].strings, plainCounts[i].strings);
                EXPECT_EQ(engineCounts[i].integers, plainCounts[i].integers);
                changedValues += static_cast<int>(plainCounts[i].strings);
            }
            ASSERT_EQ(engineBundle.toBytes(), plainBundle.toBytes());
        }
    }
    EXPECT_GT(changedValues, 1000);
}

TEST(RenameList, OrdersByExactBytesAndRefusesRepeatsWhenUnique) {
    RenameList list(true);
    for (const char* from : {"hfoo", "a000", "Z000", "h000", "A000", "1abc"})
        EXPECT_TRUE(list.insert({id(from), id("____"), std::string(from)}));
    std::vector<std::string> order;
    for (const RenameEntry& e : list.entries())
        order.push_back(e.fromId.text());
    EXPECT_EQ(order, (std::vector<std::string>{"1abc", "A000", "Z000", "a000", "h000", "hfoo"}));
    EXPECT_FALSE(list.insert({id("hfoo"), id("x000"), std::string("second")}));
    EXPECT_EQ(list.size(), 6u);
    EXPECT_EQ(list.entries()[5].displayName, "hfoo");
}

TEST(FindDisplayName, FirstPresentNameFieldDecides) {
    EXPECT_EQ(findDisplayName(makeObject("hfoo", "", {textField("ides", "d"), textField("anam", "a")})), "a");
    EXPECT_EQ(findDisplayName(makeObject("hfoo", "", {intField("unam", 5), textField("anam", "a")})), std::nullopt);
    EXPECT_EQ(findDisplayName(makeObject("hfoo", "", {intField("uhpm", 5)})), std::nullopt);
    EXPECT_EQ(findDisplayName(makeObject("hfoo", "", {textField("UNAM", "upper")})), "upper");
}

} // namespace
} // namespace brindlemark

namespace brindlemark {
namespace {

using namespace testing;

TEST(ReplacePlan, CountsWhatEachRenameChangesInValuesAndSideTexts) {
    ObjectBundle bundle;
    put(bundle, ObjectKind::Units,
        makeObject("hfoo", "h000",
                   {textField("utip", "h000 h000"), textField("ides", "h000x"), idField("ubui", "h000")}));
    put(bundle, ObjectKind::Items, makeObject("ratf", "I000", {textField("utip", "not h000,")}));
    std::vector<SideText> sides = {{"a", {'h', '0', '0', '0', 'I', '0', '0', '0'}, 2}, {"b", {}, 1}};
    const std::vector<std::pair<ObjectId, ObjectId>> pairs = {
        {id("h000"), id("u000")}, {id("I000"), id("J000")}, {id("zzzz"), id("yyyy")}};
    ObjectBundle* const bundles[] = {&bundle};
    const std::vector<PlannedRename> planned = planReplace(bundles, MergePolicy::Glue, pairs, sides).renames;
    ASSERT_EQ(planned.size(), 2u);
    EXPECT_EQ(planned[0].values.strings, 2u); // two texts changed, however many words in each
    EXPECT_EQ(planned[0].values.integers, 1u);
    EXPECT_EQ(planned[0].occurrences, (std::vector<std::size_t>{1, 0}));
    EXPECT_EQ(planned[1].values.strings, 0u);
    EXPECT_EQ(planned[1].occurrences, (std::vector<std::size_t>{1, 0}));
    EXPECT_EQ(std::string(sides[0].bytes.begin(), sides[0].bytes.end()), "u000J000");
}

} // namespace
} // namespace brindlemark
