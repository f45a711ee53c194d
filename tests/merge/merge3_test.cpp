// The three-way merge of object data.
#include "merge/merge3.h"

#include "tests/replace/bundlefixtures.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace brindlemark {
namespace {

using namespace testing;
using Topic = MergeConflict::Topic;

// The fields of custom unit 'h000' (field -> integer value), or none when the unit is absent.
using State = std::optional<std::map<std::string, int>>;

// Units holding 'h001', which no side changes, and 'h000' in the given state.
ObjectBundle unitsWith(const State& h000) {
    ObjectBundle bundle;
    bundle.kind(ObjectKind::Units).file.version = 2;
    put(bundle, ObjectKind::Units, makeObject("hkni", "h001", {intField("zzzz", 9)}));
    if (h000) {
        std::vector<Modification> mods;
        for (const auto& [field, value] : *h000)
            mods.push_back(intField(field.c_str(), value));
        put(bundle, ObjectKind::Units, makeObject("hfoo", "h000", std::move(mods)));
    }
    return bundle;
}

State stateOf(const ObjectBundle& bundle) {
    const ObjectTable& table = bundle.kind(ObjectKind::Units).file.customTable;
    EXPECT_TRUE(table.contains(id("h001")));
    const std::size_t at = table.indexOf(id("h000"));
    if (at == table.count())
        return std::nullopt;
    std::map<std::string, int> fields;
    for (const Modification& m : table.at(at).modifications())
        fields[m.fieldId.text()] = m.intValue;
    return fields;
}

TEST(MergeThreeWay, FollowsTheSideThatChangedAndKeepsOursAtConflicts) {
    const std::nullopt_t none = std::nullopt;
    struct Case {
        const char* what;
        State base, ours, theirs, merged;
        std::vector<Topic> conflicts;
    };
    const std::vector<Case> cases = {
        {"different fields",
         {{{"aaaa", 1}, {"bbbb", 1}}},
         {{{"aaaa", 2}, {"bbbb", 1}}},
         {{{"aaaa", 1}, {"bbbb", 2}}},
         {{{"aaaa", 2}, {"bbbb", 2}}},
         {}},
        {"the same change", {{{"aaaa", 1}}}, {{{"aaaa", 2}}}, {{{"aaaa", 2}}}, {{{"aaaa", 2}}}, {}},
        {"different changes", {{{"aaaa", 1}}}, {{{"aaaa", 2}}}, {{{"aaaa", 3}}}, {{{"aaaa", 2}}}, {Topic::Field}},
        {"field removed",
         {{{"aaaa", 1}, {"bbbb", 1}}},
         {{{"aaaa", 1}, {"bbbb", 1}}},
         {{{"aaaa", 1}}},
         {{{"aaaa", 1}}},
         {}},
        {"field removed and changed",
         {{{"aaaa", 1}, {"bbbb", 1}}},
         {{{"aaaa", 1}, {"bbbb", 2}}},
         {{{"aaaa", 1}}},
         {{{"aaaa", 1}, {"bbbb", 2}}},
         {Topic::Field}},
        {"object removed by ours", {{{"aaaa", 1}}}, none, {{{"aaaa", 1}}}, none, {}},
        {"object removed by both", {{{"aaaa", 1}}}, none, none, none, {}},
        {"removed by ours, changed by theirs", {{{"aaaa", 1}}}, none, {{{"aaaa", 2}}}, none, {Topic::Removal}},
        {"changed by ours, removed by theirs",
         {{{"aaaa", 1}}},
         {{{"aaaa", 2}}},
         none,
         {{{"aaaa", 2}}},
         {Topic::Removal}},
        {"added by theirs", none, none, {{{"aaaa", 1}}}, {{{"aaaa", 1}}}, {}},
        {"added by both differently",
         none,
         {{{"aaaa", 1}, {"bbbb", 1}}},
         {{{"aaaa", 2}, {"cccc", 1}}},
         {{{"aaaa", 1}, {"bbbb", 1}, {"cccc", 1}}},
         {Topic::Field}},
    };
    for (const Case& c : cases) {
        const ObjectBundle base = unitsWith(c.base);
        const ObjectBundle ours = unitsWith(c.ours);
        const ObjectBundle theirs = unitsWith(c.theirs);
        const MergeResult result = mergeThreeWay(base, ours, theirs);
        EXPECT_EQ(stateOf(result.merged), c.merged) << c.what;
        std::vector<Topic> topics;
        for (const MergeConflict& conflict : result.conflicts) {
            topics.push_back(conflict.topic);
            EXPECT_EQ((conflict.ours ? conflict.ours : conflict.theirs)->effectiveId(), id("h000")) << c.what;
        }
        EXPECT_EQ(topics, c.conflicts) << c.what;
    }
}

TEST(MergeThreeWay, KindsAndVersionsMergeLikeFields) {
    ObjectBundle base = unitsWith(std::nullopt);
    ObjectBundle ours = unitsWith(std::nullopt);
    ObjectBundle theirs = unitsWith(std::nullopt);
    ours.kind(ObjectKind::Units).file.version = 3;
    theirs.kind(ObjectKind::Units).file.version = 1;
    put(theirs, ObjectKind::Abilities, makeObject("AHbz", "A000", {intField("aaaa", 1)}));
    const MergeResult result = mergeThreeWay(base, ours, theirs);
    ASSERT_EQ(result.conflicts.size(), 1u);
    const MergeConflict& c = result.conflicts[0];
    EXPECT_EQ(c.topic, Topic::FileVersion);
    EXPECT_EQ(c.kind, ObjectKind::Units);
    EXPECT_EQ(std::vector<int>({c.baseNumber, c.oursNumber, c.theirsNumber}), std::vector<int>({2, 3, 1}));
    EXPECT_EQ(result.merged.kind(ObjectKind::Units).file.version, 3);
    EXPECT_EQ(result.merged.kind(ObjectKind::Abilities).present, 1);
    EXPECT_TRUE(result.merged.kind(ObjectKind::Abilities).file.customTable.contains(id("A000")));
}

} // namespace
} // namespace brindlemark
