// Object data compared as data, and files told apart by their bytes.
#include "core/layoutdetect.h"
#include "core/objectdiff.h"

#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

namespace brindlemark {
namespace {

using testing::Builder;
using testing::Bytes;
using testing::id;

// Units version 2: standard 'hfoo' with the given modifications (already in file form), custom 'h000'.
Bytes unitsFile(const Bytes& footmanMods, std::uint32_t count, const char* customNewId = "h000") {
    Builder b;
    b.i32(2).u32(1).id("hfoo").id("").u32(count).append(footmanMods);
    b.u32(1).id("hkni").id(customNewId).u32(1).id("unam").i32(3).str("Guard").id("hkni");
    return b.bytes;
}

// Abilities version 2: custom 'A000' with levels 1 (value 1) and 2 of Hbz1, level 2 first when asked.
Bytes abilitiesFile(bool levelTwoFirst = false, std::int32_t levelTwoValue = 3) {
    Builder b;
    b.i32(2).u32(0).u32(1).id("AHbz").id("A000").u32(2);
    for (std::int32_t level : {levelTwoFirst ? 2 : 1, levelTwoFirst ? 1 : 2})
        b.id("Hbz1").i32(0).i32(level).i32(0).i32(level == 2 ? levelTwoValue : 1).id("AHbz");
    return b.bytes;
}

Bytes bundleOf(const Bytes& units, const Bytes& abilities) {
    Builder b;
    b.i32(1);
    for (ObjectKind k : kAllObjectKinds) {
        if (k == ObjectKind::Units)
            b.i32(1).append(units);
        else if (k == ObjectKind::Abilities)
            b.i32(1).append(abilities);
        else
            b.i32(0);
    }
    return b.bytes;
}

ObjectBundle load(const Bytes& bytes) {
    ObjectBundle bundle;
    EXPECT_TRUE(bundle.loadBytes(bytes, "test"));
    return bundle;
}

Bytes hpAndSpeed(std::int32_t hp, const char* marker = "hfoo") {
    return Builder().id("uhpm").i32(0).i32(hp).id(marker).id("umvs").i32(0).i32(270).id(marker).bytes;
}

TEST(ObjectDiff, ComparesObjectDataNotBytes) {
    const Bytes base = bundleOf(unitsFile(hpAndSpeed(250), 2), abilitiesFile());
    struct Case {
        const char* what;
        Bytes other;
        std::vector<std::string> expected; // "kind table id: field before>after" per change
    };
    const Bytes speedFirst =
        Builder().id("umvs").i32(0).i32(270).id("xxxx").id("uhpm").i32(0).i32(250).id("yyyy").bytes;
    const std::vector<Case> cases = {
        {"order and end markers only", bundleOf(unitsFile(speedFirst, 2), abilitiesFile(true)), {}},
        {"a changed field",
         bundleOf(unitsFile(hpAndSpeed(300), 2), abilitiesFile()),
         {"units standard hfoo: uhpm 250>300"}},
        {"a changed level",
         bundleOf(unitsFile(hpAndSpeed(250), 2), abilitiesFile(false, 9)),
         {"abilities custom A000: Hbz1/2 3>9"}},
        {"a field removed",
         bundleOf(unitsFile(Builder().id("umvs").i32(0).i32(270).id("hfoo").bytes, 1), abilitiesFile()),
         {"units standard hfoo: uhpm 250>-"}},
        {"an object renamed",
         bundleOf(unitsFile(hpAndSpeed(250), 2, "h001"), abilitiesFile()),
         {"units custom h000: only in A", "units custom h001: only in B"}},
        {"an identifier's letter case",
         bundleOf(unitsFile(hpAndSpeed(250), 2, "H000"), abilitiesFile()),
         {"units custom H000: header"}},
    };
    const ObjectBundle a = load(base);
    for (const Case& c : cases) {
        const ObjectBundle b = load(c.other);
        std::vector<std::string> got;
        for (const ObjectChange& o : diffBundles(a, b).objects) {
            std::string head = std::string(kindName(o.kind)) + " " + tableName(o.table) + " " +
                               (o.after ? o.after : o.before)->effectiveId().text() + ":";
            if (!o.after || !o.before) {
                got.push_back(head + (o.after ? " only in B" : " only in A"));
                continue;
            }
            if (o.fields.empty())
                got.push_back(head + " header");
            for (const FieldChange& f : o.fields) {
                const Modification& slot = f.before ? *f.before : *f.after;
                got.push_back(head + " " + slot.fieldId.text() +
                              (slot.hasLevels ? "/" + std::to_string(slot.level) : "") + " " +
                              (f.before ? std::to_string(f.before->intValue) : "-") + ">" +
                              (f.after ? std::to_string(f.after->intValue) : "-"));
            }
        }
        EXPECT_EQ(got, c.expected) << c.what;
        EXPECT_EQ(diffBundles(a, b).empty(), c.expected.empty()) << c.what;
    }
}

TEST(ObjectDiff, VersionsOfKindsInBothCount) {
    // Version 3 objects carry a set count and flag after the identifiers.
    Builder b;
    b.i32(3).u32(0).u32(1).id("AHbz").id("A000").u32(1).i32(0).u32(2);
    b.id("Hbz1").i32(0).i32(1).i32(0).i32(1).id("AHbz");
    b.id("Hbz1").i32(0).i32(2).i32(0).i32(3).id("AHbz");
    const BundleDiff diff = diffBundles(load(bundleOf(unitsFile(hpAndSpeed(250), 2), abilitiesFile())),
                                        load(bundleOf(unitsFile(hpAndSpeed(250), 2), b.bytes)));
    ASSERT_EQ(diff.versions.size(), 1u);
    EXPECT_EQ(diff.versions[0].kind, ObjectKind::Abilities);
    EXPECT_EQ(diff.versions[0].before, 2);
    EXPECT_EQ(diff.versions[0].after, 3);
    EXPECT_TRUE(diff.objects.empty());
}

TEST(LayoutDetect, TellsBundlesFromObjectFilesByTheirBytes) {
    const Bytes units = unitsFile(hpAndSpeed(250), 2);
    const Bytes abilities = abilitiesFile();
    struct Case {
        const char* what;
        Bytes bytes;
        bool reads;
        FileLayout layout;
    };
    const std::vector<Case> cases = {
        {"bundle", bundleOf(units, abilities), true, FileLayout::Bundle},
        {"units", units, true, FileLayout::ObjectFile},
        {"abilities", abilities, true, FileLayout::ObjectFileWithLevels},
        {"empty object file", Builder().i32(2).u32(0).u32(0).bytes, true, FileLayout::ObjectFile},
        {"cut units", Bytes(units.begin(), units.end() - 3), false, FileLayout::Bundle},
        {"text", Bytes{'h', 'e', 'l', 'l', 'o'}, false, FileLayout::Bundle},
    };
    for (const Case& c : cases) {
        FileLayout layout = FileLayout::Bundle;
        ReadError error;
        EXPECT_EQ(detectLayout(c.bytes, layout, error), c.reads) << c.what;
        if (c.reads)
            EXPECT_EQ(layout, c.layout) << c.what;
        else
            EXPECT_NE(error.message, "") << c.what;
    }
    ObjectBundle bundle;
    FileLayout layout = FileLayout::Bundle;
    const LoadResult refused = loadDetected(bundle, Bytes(units.begin(), units.end() - 3), "f", layout);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.error.rfind("f: neither a bundle nor an object file: the file ends at byte", 0), 0u)
        << refused.error;
    ASSERT_TRUE(loadDetected(bundle, abilities, "f", layout));
    EXPECT_EQ(bundle.objectFileBytes(standInKind(layout)), abilities);
}

} // namespace
} // namespace brindlemark
