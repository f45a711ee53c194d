#include "replace/replacelist.h"

#include "core/fileio.h"
#include "tests/replace/plainreplace.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace brindlemark {
namespace {

using namespace std::string_literals;
using testing::Bytes;
using testing::bytesOf;
using Tokens = std::vector<std::string>;

// The pairs the list's parser reads from `content`, each token as its four raw bytes; nothing when it refuses the
// list.
std::optional<std::vector<std::string>> parsedTokens(std::string_view content) {
    ReplaceListContents list;
    std::string error;
    if (!parseReplaceList(std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()), "list.txt",
                          list, error))
        return std::nullopt;
    std::vector<std::string> tokens;
    for (const auto& [from, to] : list.pairs) {
        tokens.emplace_back(from.raw());
        tokens.emplace_back(to.raw());
    }
    return tokens;
}

// Every token of a replace list with the given content, each as its four raw bytes, read as one stream by the
// token rules. Where the parser takes the list (every line holding whole pairs, and no byte-order mark first,
// which it skips with what follows), it reads the same tokens.
std::vector<std::string> tokensOf(std::string_view content) {
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
    std::vector<std::string> tokens;
    ObjectId token;
    for (std::size_t at = 0; testing::plainReadReplaceToken(bytes, at, token);)
        tokens.emplace_back(token.raw());
    if (const auto parsed = parsedTokens(content); parsed && !content.starts_with("\xEF\xBB\xBF")) {
        EXPECT_EQ(*parsed, tokens) << "the parser differs on '" << content << "'";
    }
    return tokens;
}

TEST(ReplaceList, TokensAreSeparatedByAnyWhiteSpaceOrNothing) {
    const Tokens pair = {"hfoo", "h001"};
    EXPECT_EQ(tokensOf("hfoo h001"), pair);
    EXPECT_EQ(tokensOf("hfoo\th001"), pair);
    EXPECT_EQ(tokensOf("hfoo\r\nh001\r\n"), pair);
    EXPECT_EQ(tokensOf("hfooh001"), pair);
    EXPECT_EQ(tokensOf("\t\n\v\f\r hfoo \t\n\v\f\r h001 \t\n\v\f\r "), pair);
}

TEST(ReplaceList, ATokenIsFourRawBytesWhateverTheyAre) {
    EXPECT_EQ(tokensOf("hfo h001"), (Tokens{"hfo ", "h001"}));
    EXPECT_EQ(tokensOf("h/o, x001"), (Tokens{"h/o,", "x001"}));
    EXPECT_EQ(tokensOf("h%%% x%%%"), (Tokens{"h%%%", "x%%%"}));
    // Bytes that are not white space start a token: other control bytes, high bytes, NUL.
    EXPECT_EQ(tokensOf("\016abc \177xyz"), (Tokens{"\016abc", "\177xyz"})); // 0x0E and 0x7F
    EXPECT_EQ(tokensOf(std::string_view("\0\0\0\0 \xC3\xA9zz", 9)), (Tokens{std::string(4, '\0'), "\xC3\xA9zz"}));
    // 0xEF inside a token is an ordinary byte.
    EXPECT_EQ(tokensOf("h\xEFoo h001"), (Tokens{"h\xEFoo", "h001"}));
}

TEST(ReplaceList, CommentsRunToTheLineFeedAndOneSlashIsEnough) {
    EXPECT_EQ(tokensOf("// header\nhfoo h001  // footman\nhkni h002\n"), (Tokens{"hfoo", "h001", "hkni", "h002"}));
    EXPECT_EQ(tokensOf("/ one slash\nhfoo h001"), (Tokens{"hfoo", "h001"}));
    EXPECT_EQ(tokensOf("hfoo/comment\nh001"), (Tokens{"hfoo", "h001"}));
    // A carriage return alone does not end a comment.
    EXPECT_EQ(tokensOf("// a\rhfoo\nh001"), (Tokens{"h001"}));
    EXPECT_EQ(tokensOf("// only a comment\n"), Tokens{});
}

TEST(ReplaceList, ACommentWithoutLineFeedEndsTheList) {
    EXPECT_EQ(tokensOf("hfoo h001 // last line"), (Tokens{"hfoo", "h001"}));
    EXPECT_EQ(tokensOf("// no tokens at all"), Tokens{});
    EXPECT_EQ(tokensOf("hfoo /"), (Tokens{"hfoo"}));
}

TEST(ReplaceList, AByteOrderMarkIsSkippedAndTheTokenFollowsDirectly) {
    EXPECT_EQ(tokensOf("\xEF\xBB\xBFhfoo h001"), (Tokens{"hfoo", "h001"}));
    // Nothing is skipped after the mark: the line feed becomes the token's first byte.
    const Tokens afterLineFeed = tokensOf("\xEF\xBB\xBF\nhfoo h001");
    ASSERT_GE(afterLineFeed.size(), 2u);
    EXPECT_EQ(afterLineFeed[0], "\nhfo");
    EXPECT_EQ(afterLineFeed[1], "o h0");
    EXPECT_EQ(afterLineFeed.size(), 2u); // "01" is cut off by the end
    EXPECT_EQ(tokensOf("\xEF\xBB\xBF// x\n"), (Tokens{"// x"}));
    // Any 0xEF where a token could start counts as a mark, whatever its two bytes after it.
    EXPECT_EQ(tokensOf("hfoo \xEFxyh001"), (Tokens{"hfoo", "h001"}));
    EXPECT_EQ(tokensOf("\xEF\xBB"), Tokens{});
    EXPECT_EQ(tokensOf("\xEF\xBB\xBFhfo"), Tokens{});
}

TEST(ReplaceList, ATokenCutOffByTheEndIsNotATokenAndLeavesTheDestinationAlone) {
    EXPECT_EQ(tokensOf("hfoo h0"), (Tokens{"hfoo"}));
    EXPECT_EQ(tokensOf(""), Tokens{});
    EXPECT_EQ(tokensOf(" \r\n\t "), Tokens{});

    const Bytes cut = bytesOf("hfoo h0");
    std::size_t at = 0;
    ObjectId token;
    ASSERT_TRUE(testing::plainReadReplaceToken(cut, at, token));
    EXPECT_EQ(token, testing::id("hfoo"));
    EXPECT_FALSE(testing::plainReadReplaceToken(cut, at, token));
    EXPECT_EQ(token, testing::id("hfoo"));
    EXPECT_FALSE(testing::plainReadReplaceToken(cut, at, token)); // still at the end
    EXPECT_EQ(at, cut.size());
}

TEST(ReplaceList, TheReadingGoesOnJustAfterTheToken) {
    const Bytes list = bytesOf("  hfoo h001// c\nXYZW");
    std::size_t at = 0;
    ObjectId token;
    ASSERT_TRUE(testing::plainReadReplaceToken(list, at, token));
    EXPECT_EQ(at, 6u);
    ASSERT_TRUE(testing::plainReadReplaceToken(list, at, token));
    EXPECT_EQ(at, 11u);
    ASSERT_TRUE(testing::plainReadReplaceToken(list, at, token));
    EXPECT_EQ(token, testing::id("XYZW"));
    EXPECT_EQ(at, 20u);
}

// Lists made of pieces that meet in every way: wherever the parser takes a list, it reads the tokens the plain
// reader reads.
TEST(ReplaceList, ReadsWhatThePlainReaderReadsWhereEveryLineHoldsPairs) {
    const std::string pieces[] = {"hfoo",  "h001", "A0%B",         " ", "\t",     "\r\n", "\n",
                                  "// c ", "/",    "\xEF\xBB\xBF", "x", "\xEFxy", "\0"s};
    std::mt19937 rng(20);
    int taken = 0;
    for (int i = 0; i < 4000; ++i) {
        std::string content;
        for (std::size_t n = rng() % 12; n > 0; --n)
            content += pieces[rng() % std::size(pieces)];
        tokensOf(content);
        taken += parsedTokens(content) && !content.starts_with("\xEF\xBB\xBF") && !content.empty();
        if (::testing::Test::HasFailure())
            break;
    }
    EXPECT_GT(taken, 400);
}

} // namespace
} // namespace brindlemark

namespace brindlemark {
namespace {

using namespace std::string_literals;

std::vector<std::string> pairsText(const ReplaceListContents& list) {
    std::vector<std::string> out;
    for (const auto& [from, to] : list.pairs)
        out.push_back(std::string(from.raw()) + ">" + std::string(to.raw()));
    return out;
}

std::string utf16(std::string_view ascii, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) {
        out += bigEndian ? '\0' : c;
        out += bigEndian ? c : '\0';
    }
    return out;
}

// A line is a unit: lists whose every line holds whole pairs are read as the token rules read them; a list with
// any other line is refused, every such line named in one message.
TEST(ReplaceList, ReadsWholePairsPerLineAndRefusesEveryOtherLine) {
    struct Case {
        std::string content;
        std::vector<std::string> pairs;
        std::vector<std::string> badLines; // refused when not empty
    };
    const std::vector<Case> cases = {
        {"hfoo h001\r\nhkni h002 // knight\n", {"hfoo>h001", "hkni>h002"}, {}},
        {utf16("hfoo h001\r\nhkni h002\r\n", false), {"hfoo>h001", "hkni>h002"}, {}},
        {utf16("hfoo h001\n", true), {"hfoo>h001"}, {}},
        {"\xEF\xBB\xBFhfoo h001\r\n", {"hfoo>h001"}, {}},
        {"hfooh001\nhkni\th002 hpea h003\n", {"hfoo>h001", "hkni>h002", "hpea>h003"}, {}},
        {"// header\n\n  \r\nhfoo h001/c\n// last line without a line feed", {"hfoo>h001"}, {}},
        {"h%%% x%%%\n", {"h%%%>x%%%"}, {}},
        // The second column deleted to skip an object: that line alone, not the ones after it.
        {"h00A\th00A\t// a\r\nh00B\t// b\r\nh00C\th00C\r\n", {}, {"2"}},
        // A five-character typo, in either column.
        {"H0011 X001\nhfoo h001\nhkni h0022\n", {}, {"1", "3"}},
        {"hfoo h001 hkni\n", {}, {"1"}},
        {"hfo h001\n", {}, {"1"}},
        {"hfoo\r\nh001\r\n", {}, {"1", "2"}},
        {"hfoo h001\nhkni h0", {}, {"2"}},
        {"\xEF\xBB\xBF// saved with a mark\r\n\r\nhfoo h001\r\n", {"hfoo>h001"}, {}},
        {"hfoo h001 \xEF\xBB\xBF\n", {}, {"1"}},
        {utf16("hfoo\r\nhkni h002\r\n", false), {}, {"1"}},
        {std::string("hfoo h001\nA") + '\0' + "00 B000\n", {}, {"2"}},
    };
    for (const Case& c : cases) {
        ReplaceListContents list;
        std::string error;
        const bool ok =
            parseReplaceList(std::vector<std::uint8_t>(c.content.begin(), c.content.end()), "list.txt", list, error);
        EXPECT_EQ(ok, c.badLines.empty()) << c.content;
        if (ok) {
            EXPECT_EQ(pairsText(list), c.pairs) << c.content;
            continue;
        }
        std::vector<std::string> lines;
        for (std::size_t at = 0; (at = error.find("\nlist.txt, line ", at)) != std::string::npos;) {
            at += 16;
            lines.push_back(error.substr(at, error.find(':', at) - at));
        }
        EXPECT_EQ(lines, c.badLines) << c.content;
    }

    ReplaceListContents list;
    std::string error;
    const std::string text = "h00A\t// a\nh00AB h00C\nA\0\0\0 B000\nhfoo h001"s;
    ASSERT_FALSE(parseReplaceList(std::vector<std::uint8_t>(text.begin(), text.end()), "ids.txt", list, error));
    EXPECT_EQ(error, "Replace list ids.txt is refused, nothing was changed: each line must hold whole pairs of "
                     "four-character identifiers, the old one and the new one.\n"
                     "ids.txt, line 1: not a pair of four-character identifiers; read as 'h00A'\n"
                     "ids.txt, line 2: not a pair of four-character identifiers; read as 'h00A' 'B h0' '0C' cut short\n"
                     "ids.txt, line 3: a NUL byte inside an identifier; read as 'A\\x00\\x00\\x00' 'B000'");
}

} // namespace
} // namespace brindlemark
