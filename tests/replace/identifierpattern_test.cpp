#include "replace/identifierpattern.h"

#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cstring>
#include <string>
#include <vector>

namespace brindlemark {
namespace {

using testing::id;

// The text after substituteInText(text, pattern, replacement).
std::string substituted(std::string text, std::string_view pattern, std::string_view replacement) {
    substituteInText(text, id(pattern), id(replacement));
    return text;
}

std::int32_t storedValue(std::string_view four) {
    return static_cast<std::int32_t>(id(four).value());
}

TEST(IdentifierPattern, DelimitersAreTheCLocaleSpaceAndPunctuationBytes) {
    const char* previous = std::setlocale(LC_CTYPE, nullptr);
    const std::string saved = previous ? previous : "C";
    std::setlocale(LC_CTYPE, "C");
    for (int b = 0; b < 256; ++b) {
        const bool expected = std::isspace(b) != 0 || std::ispunct(b) != 0;
        EXPECT_EQ(isDelimiter(static_cast<std::uint8_t>(b)), expected) << "byte " << b;
    }
    std::setlocale(LC_CTYPE, saved.c_str());

    for (char c : std::string("_%(),.[]{}~`@:;/\\ \t\n\v\f\r!"))
        EXPECT_TRUE(isDelimiter(static_cast<std::uint8_t>(c))) << c;
    for (int b : {0x00, 0x01, 0x08, 0x0E, 0x1F, 0x7F, 0x80, 0xA0, 0xC3, 0xFF, int('0'), int('9'), int('a'), int('z'),
                  int('A'), int('Z')})
        EXPECT_FALSE(isDelimiter(static_cast<std::uint8_t>(b))) << "byte " << b;
}

TEST(IdentifierPattern, ReplacesWholeWordsBetweenDelimitersAndTextEnds) {
    EXPECT_EQ(substituted("hfoo,hkni", "hfoo", "h001"), "h001,hkni");
    EXPECT_EQ(substituted("hfoo", "hfoo", "h001"), "h001");
    EXPECT_EQ(substituted("x_hfoo", "hfoo", "h001"), "x_h001");
    EXPECT_EQ(substituted("(hfoo)", "hfoo", "h001"), "(h001)");
    EXPECT_EQ(substituted("call CreateUnit('hfoo');", "hfoo", "h001"), "call CreateUnit('h001');");
}

TEST(IdentifierPattern, LettersDigitsAndHighBytesNextToAnOccurrencePreventTheHit) {
    EXPECT_EQ(substituted("hfoox", "hfoo", "h001"), "hfoox");
    EXPECT_EQ(substituted("xhfoo", "hfoo", "h001"), "xhfoo");
    EXPECT_EQ(substituted("1hfoo", "hfoo", "h001"), "1hfoo");
    EXPECT_EQ(substituted("hfoohfoo", "hfoo", "h001"), "hfoohfoo");
    EXPECT_EQ(substituted("\xE9hfoo", "hfoo", "h001"), "\xE9hfoo");
    EXPECT_EQ(substituted("hfoo\x80", "hfoo", "h001"), "hfoo\x80");
    EXPECT_EQ(substituted("\xD0\xB0hfoo \xFF", "hfoo", "h001"), "\xD0\xB0hfoo \xFF");
    EXPECT_EQ(substituted("\x7Fhfoo", "hfoo", "h001"), "\x7Fhfoo");
}

TEST(IdentifierPattern, EveryByteBesideAnOccurrenceDecidesByItsClass) {
    for (int b = 1; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const bool delimiter = (b >= 0x09 && b <= 0x0D) || b == 0x20 || (b >= 0x21 && b <= 0x2F) ||
                               (b >= 0x3A && b <= 0x40) || (b >= 0x5B && b <= 0x60) || (b >= 0x7B && b <= 0x7E);
        const std::string before = std::string(1, c) + "hfoo";
        const std::string after = "hfoo" + std::string(1, c);
        EXPECT_EQ(substituted(before, "hfoo", "h001"), delimiter ? std::string(1, c) + "h001" : before) << b;
        EXPECT_EQ(substituted(after, "hfoo", "h001"), delimiter ? "h001" + std::string(1, c) : after) << b;
    }
}

TEST(IdentifierPattern, MatchingIsCaseSensitive) {
    EXPECT_EQ(substituted("HFOO", "hfoo", "h001"), "HFOO");
    EXPECT_EQ(substituted("Hfoo hfoo", "hfoo", "h001"), "Hfoo h001");
}

TEST(IdentifierPattern, ConsecutiveHitsSeparatedByOneDelimiterAreAllReplaced) {
    EXPECT_EQ(substituted("hfoo hfoo", "hfoo", "h001"), "h001 h001");
    EXPECT_EQ(substituted("hfoo,hfoo,hfoo", "hfoo", "h001"), "h001,h001,h001");
    EXPECT_EQ(substituted(" hfoo  hfoo ", "hfoo", "h001"), " h001  h001 ");
}

TEST(IdentifierPattern, WildcardsMatchAnyByteAndKeepBytesInTheReplacement) {
    EXPECT_EQ(substituted("hfoo hkni", "h%%%", "x%%%"), "xfoo xkni");
    EXPECT_EQ(substituted("hfoo", "hfoo", "%001"), "h001");
    EXPECT_EQ(substituted("hfoo Hfoo", "%foo", "%%%x"), "hfox Hfox");
    // The replacement's wildcards need not stand where the pattern's do.
    EXPECT_EQ(substituted("A0b1", "%0%1", "Z%%%"), "Z0b1");
    // A literal % in the text is matched by the wildcard, and is itself a delimiter.
    EXPECT_EQ(substituted("%hfoo%", "hfoo", "h001"), "%h001%");
}

TEST(IdentifierPattern, TheDelimiterAfterAHitIsPassedOverWithIt) {
    // The hit at 0 covers "abc,"; the scan resumes at 5, where fewer than four bytes remain, so " xyz"
    // (starting on the delimiter after the hit) is never examined.
    EXPECT_EQ(substituted("abc, xyz", "%%%%", "____"), "____ xyz");
    // Two words of four with one delimiter between: the second window starts right after that delimiter.
    EXPECT_EQ(substituted("abcd efgh", "%%%%", "____"), "____ ____");
    EXPECT_EQ(substituted("abcd efgh ijkl", "%%%%", "____"), "____ ____ ____");
    // ",efg" starts on the delimiter after the hit and would match (a written '_' before it, the end after
    // it), but it is never examined.
    EXPECT_EQ(substituted("abcd,efg", "%%%%", "____"), "____,efg");
    // Here the window after the skipped delimiter does match.
    EXPECT_EQ(substituted("abcd,,efg", "%%%%", "____"), "____,____");
}

TEST(IdentifierPattern, ShortTextsAreNeverChanged) {
    for (const char* text : {"", "a", "ab", "abc", ",,,"})
        EXPECT_EQ(substituted(text, "%%%%", "____"), text);
}

TEST(IdentifierPattern, LengthNeverChanges) {
    const std::string text = "hfoo hfoo,x_hfoo hfooh hfoo";
    const std::string out = substituted(text, "hfoo", "%%%%");
    EXPECT_EQ(out, text); // a replacement made only of wildcards keeps every byte
    EXPECT_EQ(substituted(text, "hfoo", "ABCD").size(), text.size());
}

TEST(IdentifierPattern, TheStringFormStopsAtTheFirstNul) {
    std::string text("hfoo\0hfoo", 9);
    substituteInText(text, id("hfoo"), id("h001"));
    EXPECT_EQ(text, std::string("h001\0hfoo", 9));
}

TEST(IdentifierPattern, TheSpanFormTakesANulAsAnOrdinaryByte) {
    std::vector<std::uint8_t> bytes = {'h', 'f', 'o', 'o', 0, 'h', 'f', 'o', 'o'};
    const auto before = bytes;
    substituteInText(std::span<std::uint8_t>(bytes), id("hfoo"), id("h001"));
    EXPECT_EQ(bytes, before);

    std::vector<std::uint8_t> spaced = {'h', 'f', 'o', 'o', ' ', 'h', 'f', 'o', 'o'};
    substituteInText(std::span<std::uint8_t>(spaced), id("hfoo"), id("h001"));
    EXPECT_EQ(std::string(spaced.begin(), spaced.end()), "h001 h001");
}

TEST(IdentifierPattern, TheCStringFormChangesTheBufferInPlace) {
    char buffer[] = "hfoo,hkni\0hfoo";
    substituteInText(buffer, id("hfoo"), id("h001"));
    EXPECT_STREQ(buffer, "h001,hkni");
    EXPECT_EQ(std::memcmp(buffer + 10, "hfoo", 4), 0);
}

TEST(IdentifierPattern, ValuesMatchAsAWholeWord) {
    EXPECT_EQ(substituteInValue(id("hfoo"), id("%%%%"), id("____")), id("____"));
    EXPECT_EQ(substituteInValue(id("hfoo"), id("%%%%"), id("x%%%")), id("xfoo"));
    EXPECT_EQ(substituteInValue(id("hfoo"), id("hfoo"), id("h001")), id("h001"));
    EXPECT_EQ(substituteInValue(id("hfoo"), id("hkni"), id("h001")), id("hfoo"));
    EXPECT_EQ(substituteInValue(id("HFOO"), id("hfoo"), id("h001")), id("HFOO"));
    // No boundaries inside a value: delimiters and high bytes in it do not matter.
    EXPECT_EQ(substituteInValue(id("a,b."), id("%%%%"), id("____")), id("____"));
    EXPECT_EQ(substituteInValue(id("\xC3\xA9zz"), id("%%zz"), id("%%yy")), id("\xC3\xA9yy"));
}

TEST(IdentifierPattern, ValuesHoldingAZeroByteAreNeverChanged) {
    for (std::string_view pattern : {"%%%%", "h%%%", "hfo%"}) {
        EXPECT_EQ(substituteInValue(ObjectId{}, id(pattern), id("____")), ObjectId{}) << pattern;
        EXPECT_EQ(substituteInValue(std::int32_t{5}, id(pattern), id("____")), 5) << pattern;
        EXPECT_EQ(substituteInValue(std::int32_t{0}, id(pattern), id("____")), 0) << pattern;
        EXPECT_EQ(substituteInValue(id("hfo"), id(pattern), id("____")), id("hfo")) << pattern;
        const ObjectId gap = ObjectId::fromValue(id("hfoo").value() & 0xFF00FFFFu); // 'h' 'f' 0 'o'
        EXPECT_EQ(substituteInValue(gap, id(pattern), id("____")), gap) << pattern;
    }
    EXPECT_EQ(substituteInValue(ObjectId{}, ObjectId{}, id("____")), ObjectId{});
}

TEST(IdentifierPattern, IntegerValuesAreTheirStoredBytes) {
    EXPECT_EQ(substituteInValue(storedValue("hfoo"), id("hfoo"), id("h001")), storedValue("h001"));
    EXPECT_EQ(substituteInValue(storedValue("hfoo"), id("%%%%"), id("x%%%")), storedValue("xfoo"));
    EXPECT_EQ(substituteInValue(id("hfoo").value(), id("h%%%"), id("%0%1")), id("h0o1").value());
    // -1 stores four 0xFF bytes, none of them zero.
    EXPECT_EQ(substituteInValue(std::int32_t{-1}, id("%%%%"), id("____")), storedValue("____"));
    EXPECT_EQ(substituteInValue(std::int32_t{-1}, id("%%%%"), id("%%%A")), static_cast<std::int32_t>(0x41FFFFFFu));
    // The value as seen big-endian does not match.
    EXPECT_EQ(substituteInValue(storedValue("oofh"), id("hfoo"), id("h001")), storedValue("oofh"));
}

} // namespace
} // namespace brindlemark
