#include "core/objectid.h"

#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

namespace brindlemark {
namespace {

using testing::id;

ObjectId bytes(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    ObjectId out;
    out.bytes = {a, b, c, d};
    return out;
}

TEST(ObjectId, LettersMatchAcrossCaseButAreNotExactlyEqual) {
    EXPECT_TRUE(idsMatch(id("hfoo"), id("HFoo")));
    EXPECT_FALSE(id("hfoo") == id("HFoo"));
    EXPECT_TRUE(id("hfoo") == id("hfoo"));
}

TEST(ObjectId, CapitalsSortAsLowerCaseAfterUnderscoreAndDigits) {
    // '_' (0x5F) lies between 'Z' and 'a'; folding puts 'A' after it.
    EXPECT_LT(compareIds(id("_abc"), id("Aabc")), 0);
    EXPECT_LT(compareIds(id("_abc"), id("aabc")), 0);
    EXPECT_LT(compareIds(id("1abc"), id("Aabc")), 0);
    EXPECT_LT(compareIds(id("Mno0"), id("pqr0")), 0);
    EXPECT_GT(compareIds(id("Mno0"), id("abc0")), 0);
}

TEST(ObjectId, HighBytesSortAfterAsciiAndAreNotFolded) {
    EXPECT_GT(compareIds(bytes(0xC0, 'a', 'a', 'a'), id("zaaa")), 0);
    EXPECT_GT(compareIds(bytes(0xE0, 'a', 'a', 'a'), bytes(0xC0, 'a', 'a', 'a')), 0); // no folding of 0xC0/0xE0
    EXPECT_FALSE(idsMatch(bytes(0xC0, 'a', 'a', 'a'), bytes(0xE0, 'a', 'a', 'a')));
}

TEST(ObjectId, NulEndsTheIdentifier) {
    EXPECT_TRUE(idsMatch(bytes('a', 'b', 0, 'x'), bytes('a', 'b', 0, 'y')));
    EXPECT_FALSE(bytes('a', 'b', 0, 'x') == bytes('a', 'b', 0, 'y'));
    // The zero identifier matches exactly those that begin with NUL, and sorts before all others.
    EXPECT_TRUE(idsMatch(ObjectId{}, bytes(0, 'q', 'q', 'q')));
    EXPECT_LT(compareIds(ObjectId{}, bytes(1, 0, 0, 0)), 0);
    EXPECT_GT(compareIds(bytes(1, 0, 0, 0), ObjectId{}), 0);
    // A shorter identifier (NUL earlier) sorts first.
    EXPECT_LT(compareIds(bytes('a', 0, 0, 0), id("aaaa")), 0);
}

TEST(ObjectId, TextFormStopsAtNul) {
    EXPECT_EQ(bytes('h', 0, 'o', 'o').text(), "h");
    EXPECT_EQ(id("hfoo").text(), "hfoo");
    EXPECT_EQ(ObjectId{}.text(), "");
    EXPECT_EQ(displayText(bytes('A', 0x01, 0xff, 'b')), "A\\x01\\xffb");
    EXPECT_EQ(escapedBytes(bytes('a', 0, '\\', 'b')), "a\\x00\\x5cb");
}

TEST(ObjectId, ValueIsLittleEndianStoredBytes) {
    EXPECT_EQ(ObjectId::fromValue(id("hfoo").value()), id("hfoo"));
    EXPECT_EQ(id("hfoo").value(), 0x6f6f6668u);
    EXPECT_TRUE(ObjectId{}.isZero());
    EXPECT_FALSE(bytes(0, 0, 0, 1).isZero());
}

} // namespace
} // namespace brindlemark
