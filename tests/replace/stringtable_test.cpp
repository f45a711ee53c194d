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
                                "garbage line\nSTRING x\n{\nnot a block\n}\n"
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

} // namespace
} // namespace brindlemark
