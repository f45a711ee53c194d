#include "replace/stringtable.h"

#include "replace/idlist.h"
#include "tests/replace/bundlefixtures.h"

#include <gtest/gtest.h>

namespace brindlemark {
namespace {

using namespace testing;

StringTable table(const std::string& text) {
    return StringTable::parse(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

TEST(StringTable, ReadsBlocksWithCommentsMarksAndEitherLineEnd) {
    const StringTable t = table("\xEF\xBB\xBFSTRING 1\r\n{\r\nFootman\r\n}\r\n\r\n"
                                "STRING 12\n// Units: h000 (Guard), Name (Name)\n{\nGuard of the\nnorth gate\n}\n"
                                "STRING 13\r\n{\r\n\r\n}\r\n"
                                "garbage line\nSTRING x\n{\nnot a block\n}\nSTRING 1\n{\nLater\n}\n"
                                "STRING 20\n{\ncut off");
    EXPECT_EQ(t.size(), 4u);
    ASSERT_NE(t.find(1), nullptr);
    EXPECT_EQ(*t.find(1), "Footman");
    EXPECT_EQ(*t.find(12), "Guard of the\nnorth gate");
    EXPECT_EQ(*t.find(13), "");
    EXPECT_EQ(*t.find(20), "cut off");
    EXPECT_EQ(t.find(2), nullptr);
}

TEST(StringTable, ResolvesOnlyWholeReferencesItHas) {
    const StringTable t = table("STRING 12\n{\nGuard\n}\n");
    EXPECT_EQ(t.resolve("TRIGSTR_012"), "Guard");
    EXPECT_EQ(t.resolve("TRIGSTR_12"), "Guard");
    EXPECT_EQ(t.resolve("TRIGSTR_013"), "TRIGSTR_013");
    EXPECT_EQ(t.resolve("TRIGSTR_012 and more"), "TRIGSTR_012 and more");
    EXPECT_EQ(t.resolve("trigstr_012"), "trigstr_012");
    EXPECT_EQ(t.resolve("TRIGSTR_"), "TRIGSTR_");
}

TEST(StringTable, GivesTheIdentifierListItsNames) {
    ObjectBundle bundle;
    put(bundle, ObjectKind::Units, makeObject("hfoo", "h000", {textField("unam", "TRIGSTR_007")}));
    put(bundle, ObjectKind::Units, makeObject("hfoo", "h001", {textField("unam", "TRIGSTR_999")}));
    const StringTable t = table("STRING 7\n{\nTwo\nlines\n}\n");
    EXPECT_EQ(idListText(bundle, &t), "h000\th000\t// Two lines\r\nh001\th001\t// TRIGSTR_999\r\n");
    EXPECT_EQ(idListText(bundle), "h000\th000\t// TRIGSTR_007\r\nh001\th001\t// TRIGSTR_999\r\n");
}

// Texts carried into a table: its bytes stay, the new blocks follow in its line ends, and every text it had reads
// back the same, even from a last block cut off without its "}". With reuseMatching a number the target holds
// with the same text stays, and only the others move.
TEST(StringTable, CarriesTextsBehindTheTargetsOwnBytes) {
    ObjectBundle original;
    put(original, ObjectKind::Units,
        makeObject("hfoo", "h000",
                   {textField("unam", "TRIGSTR_1"), textField("utip", "TRIGSTR_002"), textField("utub", "TRIGSTR_9"),
                    textField("ides", "plain")}));
    const StringTable source = table("STRING 1\n{\nSame\n}\nSTRING 2\n{\nOther\n}\n");
    EXPECT_EQ(missingStrings(original, source).size(), 1u);
    EXPECT_EQ(missingStrings(original, source)[0].reference, "TRIGSTR_9");

    ObjectBundle resolved = original;
    EXPECT_EQ(resolveStrings(resolved, source), 2u);
    const ObjectRecord& r = resolved.kind(ObjectKind::Units).file.customTable.at(0);
    EXPECT_EQ(r.find(id("unam"))->stringValue, "Same");
    EXPECT_EQ(r.find(id("utub"))->stringValue, "TRIGSTR_9");

    for (const std::string target :
         {"STRING 1\r\n{\r\nSame\r\n}\r\nSTRING 30\r\n{\r\nOwn\r\n}", "STRING 1\n{\nSame\n}\nSTRING 30\n{\nOwn\n",
          "STRING 1\n{\nSame\n}\nSTRING 30\n{\nOwn"}) {
        SCOPED_TRACE(target);
        ObjectBundle bundle = original;
        const CarriedStrings carried = carryStrings({&bundle}, source, bytesOf(target), true);
        EXPECT_EQ(carried.added, 1u);
        const std::string written = textOf(carried.table);
        EXPECT_TRUE(written.starts_with(target));
        const std::string eol = target.find('\r') != std::string::npos ? "\r\n" : "\n";
        EXPECT_TRUE(written.ends_with("STRING 31" + eol + "{" + eol + "Other" + eol + "}" + eol + eol));
        const StringTable before = table(target);
        const StringTable after = table(written);
        EXPECT_EQ(after.size(), 3u);
        EXPECT_EQ(*after.find(1), *before.find(1));
        EXPECT_EQ(*after.find(30), *before.find(30));
        EXPECT_EQ(*after.find(31), "Other");
        const ObjectRecord& c = bundle.kind(ObjectKind::Units).file.customTable.at(0);
        EXPECT_EQ(c.find(id("unam"))->stringValue, "TRIGSTR_1");
        EXPECT_EQ(c.find(id("utip"))->stringValue, "TRIGSTR_031");
        EXPECT_EQ(c.find(id("utub"))->stringValue, "TRIGSTR_9");
        EXPECT_EQ(c.find(id("ides"))->stringValue, "plain");
    }
}

} // namespace
} // namespace brindlemark
