#include "replace/sidefile.h"
#include "tests/replace/plainreplace.h"

#include "core/fileio.h"
#include "core/filetransaction.h"
#include "replace/dryrun.h"
#include "replace/sidefileset.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace brindlemark {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::id;
using testing::patchSideFile;
using testing::patchSideFileInPlace;
using testing::readAll;
using testing::TempDir;
using testing::textOf;
using testing::writeAll;

namespace fs = std::filesystem;

// The plain pass, step by step: compare the window at p with `from`; on a match write `to` and go on behind
// it.
void plainPass(Bytes& bytes, ObjectId from, ObjectId to) {
    std::size_t p = 0;
    while (p + 4 <= bytes.size()) {
        if (std::memcmp(bytes.data() + p, from.bytes.data(), 4) == 0) {
            std::memcpy(bytes.data() + p, to.bytes.data(), 4);
            p += 4;
        } else {
            ++p;
        }
    }
}

Bytes plainPasses(Bytes bytes, const std::vector<SidePass>& passes) {
    for (const SidePass& pass : passes)
        plainPass(bytes, pass.from, pass.to);
    return bytes;
}

Bytes fastPasses(Bytes bytes, const std::vector<SidePass>& passes) {
    applySidePasses(bytes, passes);
    return bytes;
}

// The file's content after one patchSideFile pass over `content`.
std::string patchedFile(std::string_view content, std::string_view from, std::string_view to) {
    TempDir dir;
    const auto path = dir / "side.wct";
    writeAll(path, content);
    EXPECT_TRUE(patchSideFile(path, id(from), id(to)));
    return textOf(readAll(path));
}

// Whether this process can open a file for update even after its write permission was taken away (as root
// can).
bool permissionsAreBypassed(const fs::path& readOnlyFile) {
    std::FILE* probe = openFile(readOnlyFile, "r+b");
    if (!probe)
        return false;
    std::fclose(probe);
    return true;
}

struct Case {
    const char* content;
    const char* from;
    const char* to;
    const char* expected;
};

// Hand-made cases, each with its expected result reasoned out from the pass's rule.
const Case kCases[] = {
    {"hfoohfoo", "hfoo", "h001", "h001h001"},
    {"xhfoox", "hfoo", "h001", "xh001x"},
    {"HFOO", "hfoo", "h001", "HFOO"},
    {"aaaaa", "aaaa", "bbbb", "bbbba"}, // the occurrence at 1 overlaps the replaced one
    {"aaaaaaaa", "aaaa", "bbbb", "bbbbbbbb"},
    {"hfooo", "hfoo", "xhfo", "xhfoo"},     // the 'hfoo' the write created starts inside written bytes
    {"abchfoo", "hfoo", "h001", "abch001"}, // ends on the last byte
    {"abchfo", "hfoo", "h001", "abchfo"},   // cut off by the end
    {"hfo", "hfoo", "h001", "hfo"},
    {"", "hfoo", "h001", ""},
    {"hfoo", "hfoo", "hfoo", "hfoo"},
    {"ab,hfoo\r\n'hfoo'", "hfoo", "h001", "ab,h001\r\n'h001'"},
};

TEST(SideFile, APassReplacesNonOverlappingOccurrencesLeftToRight) {
    for (const Case& c : kCases) {
        EXPECT_EQ(patchedFile(c.content, c.from, c.to), c.expected) << c.content;
        EXPECT_EQ(textOf(fastPasses(bytesOf(c.content), {{id(c.from), id(c.to)}})), c.expected) << c.content;
        EXPECT_EQ(textOf(plainPasses(bytesOf(c.content), {{id(c.from), id(c.to)}})), c.expected) << c.content;
    }
}

TEST(SideFile, BytesOfAnyValueArePatchedAndLeftAlone) {
    const std::string content("\0hfoo\xFF\x00\x01\xFEh\x80\x00\x00\x00\x00", 15);
    ObjectId zeros;
    ObjectId high;
    high.bytes = {0xFE, 'h', 0x80, 0x00};
    // 'HIGH' is written over bytes 8..11, which takes byte 11 from the four zero bytes at 11..14: the zero
    // pass then finds only three zeros in a row and changes nothing.
    const std::vector<SidePass> passes = {{id("hfoo"), id("h001")}, {high, id("HIGH")}, {zeros, id("ZZZZ")}};
    std::string expected = content;
    expected.replace(1, 4, "h001");
    expected.replace(8, 4, "HIGH");
    EXPECT_EQ(textOf(plainPasses(bytesOf(content), passes)), expected);
    EXPECT_EQ(textOf(fastPasses(bytesOf(content), passes)), expected);

    // The other way round the zero window is replaced and the high one is gone.
    const std::vector<SidePass> zerosFirst = {{zeros, id("ZZZZ")}, {high, id("HIGH")}};
    std::string expectedZeros = content;
    expectedZeros.replace(11, 4, "ZZZZ");
    EXPECT_EQ(textOf(plainPasses(bytesOf(content), zerosFirst)), expectedZeros);
    EXPECT_EQ(textOf(fastPasses(bytesOf(content), zerosFirst)), expectedZeros);
}

TEST(SideFile, LaterPassesSeeWhatEarlierPassesWrote) {
    const std::string content = "A000 B000 A000B000 C000";
    const std::vector<SidePass> chain = {{id("A000"), id("B000")}, {id("B000"), id("C000")}};
    EXPECT_EQ(textOf(plainPasses(bytesOf(content), chain)), "C000 C000 C000C000 C000");
    EXPECT_EQ(textOf(fastPasses(bytesOf(content), chain)), "C000 C000 C000C000 C000");
    // The reverse order does not chain.
    const std::vector<SidePass> reversed = {chain[1], chain[0]};
    EXPECT_EQ(textOf(fastPasses(bytesOf(content), reversed)), "B000 C000 B000C000 C000");
    // A write that creates an occurrence of the next pass's identifier across its edge.
    const std::vector<SidePass> across = {{id("xxab"), id("xxcd")}, {id("cdef"), id("QQQQ")}};
    EXPECT_EQ(textOf(plainPasses(bytesOf("xxabef"), across)), "xxQQQQ");
    EXPECT_EQ(textOf(fastPasses(bytesOf("xxabef"), across)), "xxQQQQ");
}

TEST(SideFile, AFileListedTwiceGetsTwoPassesPerEntry) {
    // With 'hfooo' and hfoo -> xhfo, the second pass meets the occurrence the first one created.
    const std::vector<SidePass> twice = {{id("hfoo"), id("xhfo")}, {id("hfoo"), id("xhfo")}};
    EXPECT_EQ(textOf(plainPasses(bytesOf("hfooo"), twice)), "xxhfo");
    EXPECT_EQ(textOf(fastPasses(bytesOf("hfooo"), twice)), "xxhfo");
    const std::vector<SidePass> swap = {{id("aaab"), id("baaa")}, {id("aaab"), id("baaa")}};
    EXPECT_EQ(textOf(fastPasses(bytesOf("aaaab"), swap)), textOf(plainPasses(bytesOf("aaaab"), swap)));
}

TEST(SideFile, AMissingFileIsNotCreatedAndAFolderIsNotOpened) {
    TempDir dir;
    const auto missing = dir / "missing.wct";
    EXPECT_FALSE(patchSideFile(missing, id("hfoo"), id("h001")));
    EXPECT_FALSE(fs::exists(missing));

    std::string error;
    const std::vector<SidePass> passes = {{id("hfoo"), id("h001")}};
    EXPECT_FALSE(patchSideFileInPlace(missing, passes, error));
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_NE(error.find(pathText(missing)), std::string::npos) << error;
    EXPECT_NE(error.find("cannot open the file for update"), std::string::npos) << error;

    const auto folder = dir / "folder.wct";
    fs::create_directory(folder);
    EXPECT_FALSE(patchSideFile(folder, id("hfoo"), id("h001")));
    error.clear();
    EXPECT_FALSE(patchSideFileInPlace(folder, passes, error));
    EXPECT_NE(error.find(pathText(folder)), std::string::npos) << error;
}

TEST(SideFile, AReadOnlyFileStaysAsItWas) {
    TempDir dir;
    const auto path = dir / "locked.wct";
    writeAll(path, "hfoo hfoo");
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    if (permissionsAreBypassed(path))
        GTEST_SKIP() << "this process may write read-only files";
    EXPECT_FALSE(patchSideFile(path, id("hfoo"), id("h001")));
    EXPECT_EQ(textOf(readAll(path)), "hfoo hfoo");
    std::string error;
    const std::vector<SidePass> passes = {{id("hfoo"), id("h001")}};
    EXPECT_FALSE(patchSideFileInPlace(path, passes, error));
    EXPECT_EQ(textOf(readAll(path)), "hfoo hfoo");
    EXPECT_NE(error.find(pathText(path)), std::string::npos) << error;
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
}

// Random bytes over a small alphabet, so that occurrences overlap, chain and run into each other.
Bytes randomBytes(std::mt19937& rng, std::size_t size, const std::vector<std::uint8_t>& alphabet) {
    Bytes out(size);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (auto& b : out)
        b = alphabet[pick(rng)];
    return out;
}

ObjectId randomId(std::mt19937& rng, const std::vector<std::uint8_t>& alphabet) {
    ObjectId out;
    const Bytes b = randomBytes(rng, 4, alphabet);
    std::memcpy(out.bytes.data(), b.data(), 4);
    return out;
}

// Passes as a replace run makes them: some repeated (a file listed twice), some identities, some whose `to`
// is the `from` of a later pass, some taken from the content so that they surely occur.
std::vector<SidePass> randomPasses(std::mt19937& rng, const Bytes& content, std::size_t count,
                                   const std::vector<std::uint8_t>& alphabet) {
    std::vector<SidePass> passes;
    std::uniform_int_distribution<int> kind(0, 9);
    for (std::size_t i = 0; i < count; ++i) {
        SidePass pass{randomId(rng, alphabet), randomId(rng, alphabet)};
        const int k = kind(rng);
        if (k <= 2 && content.size() >= 4) {
            const std::size_t at = std::uniform_int_distribution<std::size_t>(0, content.size() - 4)(rng);
            std::memcpy(pass.from.bytes.data(), content.data() + at, 4);
        } else if (k == 3 && !passes.empty()) {
            pass.from = passes.back().to; // a chain
        } else if (k == 4 && !passes.empty()) {
            pass = passes.back(); // the same pass again
        } else if (k == 5) {
            pass.to = pass.from;
        } else if (k == 6) {
            // The replacement is the pattern shifted by one, so writing it can create a new occurrence.
            pass.to.bytes = {pass.to.bytes[0], pass.from.bytes[0], pass.from.bytes[1], pass.from.bytes[2]};
        }
        passes.push_back(pass);
    }
    return passes;
}

// The passes over `content` fed to a SideStream in random pieces, against the passes over the whole content:
// the same bytes, the same counts per pass, and changed() exactly when the bytes differ.
void expectStreamedAsWhole(std::mt19937& rng, const Bytes& content, const std::vector<SidePass>& passes,
                           std::size_t maxPiece) {
    Bytes whole = content;
    std::vector<std::size_t> counts;
    applySidePasses(whole, passes, &counts);
    SideStream stream(passes, std::uniform_int_distribution<std::size_t>(1, maxPiece)(rng));
    Bytes streamed;
    const SideStream::Sink out = [&](const std::uint8_t* data, std::size_t size) {
        streamed.insert(streamed.end(), data, data + size);
    };
    for (std::size_t at = 0; at < content.size();) {
        const std::size_t size =
            std::min(content.size() - at, std::uniform_int_distribution<std::size_t>(1, 2 * maxPiece)(rng));
        stream.feed(content.data() + at, size, out);
        at += size;
    }
    stream.finish(out);
    ASSERT_EQ(streamed, whole) << "content " << textOf(content);
    EXPECT_EQ(stream.replaced(), counts);
    EXPECT_EQ(stream.changed(), whole != content);
}

TEST(SideFile, ManyPassesGiveTheSameBytesAsOnePlainPassAfterAnother) {
    std::mt19937 rng(20240611);
    const std::vector<std::vector<std::uint8_t>> alphabets = {
        {'a', 'b'}, {'a', 'b', 'c'}, {'h', 'f', 'o', 'x'}, {'a'}, {0x00, 0xFF, 'a'}};
    int compared = 0;
    int changed = 0;
    for (int round = 0; round < 6000; ++round) {
        const auto& alphabet = alphabets[static_cast<std::size_t>(round) % alphabets.size()];
        const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 40)(rng);
        const Bytes content = randomBytes(rng, size, alphabet);
        const std::size_t count = std::uniform_int_distribution<std::size_t>(0, 12)(rng);
        const std::vector<SidePass> passes = randomPasses(rng, content, count, alphabet);
        const Bytes expected = plainPasses(content, passes);
        const Bytes actual = fastPasses(content, passes);
        ASSERT_EQ(actual, expected) << "round " << round << ", content " << textOf(content);
        expectStreamedAsWhole(rng, content, passes, 8);
        ++compared;
        changed += expected != content;
    }
    EXPECT_EQ(compared, 6000);
    // The cases are worth comparing only if most of them change something.
    EXPECT_GT(changed, 3000);
}

TEST(SideFile, LongContentWithManyPassesGivesTheSameBytesAsThePlainPasses) {
    std::mt19937 rng(7);
    const std::vector<std::vector<std::uint8_t>> alphabets = {{'a', 'b'}, {'a', 'b', 'c', 'd'}, {'h', 'f', 'o'}};
    for (int round = 0; round < 60; ++round) {
        const auto& alphabet = alphabets[static_cast<std::size_t>(round) % alphabets.size()];
        const Bytes content = randomBytes(rng, 3000, alphabet);
        const std::vector<SidePass> passes = randomPasses(rng, content, 400, alphabet);
        ASSERT_EQ(fastPasses(content, passes), plainPasses(content, passes)) << "round " << round;
        expectStreamedAsWhole(rng, content, passes, 700);
    }
}

TEST(SideFile, StreamingAcrossBufferBoundariesMatchesThePlainPass) {
    // Larger than the streaming buffer, with occurrences planted across every 64 KiB boundary.
    std::mt19937 rng(99);
    Bytes content = randomBytes(rng, 300000, {'a', 'b', 'c', 'x'});
    std::size_t k = 0;
    for (std::size_t boundary = 65536; boundary + 4 < content.size(); boundary += 65536, ++k)
        std::memcpy(content.data() + boundary - 4 + k % 4, "abca", 4); // before, then across each boundary
    const std::vector<SidePass> passes = {{id("abca"), id("bcab")}, {id("bcab"), id("xxxx")}, {id("aaaa"), id("abab")}};
    TempDir dir;
    const auto path = dir / "big.wtg";
    writeAll(path, content);
    for (const SidePass& pass : passes)
        EXPECT_TRUE(patchSideFile(path, pass.from, pass.to));
    const Bytes expected = plainPasses(content, passes);
    EXPECT_NE(expected, content);
    EXPECT_EQ(readAll(path), expected);
}

// A run's side files held in memory and the same files read in pieces: the same counts per rename and the same
// files written, backups included; a file whose passes write back what stood there stays unwritten either way.
TEST(SideFile, FilesReadInPiecesAreCountedAndWrittenAsFilesHeldInMemory) {
    std::mt19937 rng(4242);
    const std::vector<std::uint8_t> alphabet = {'a', 'b', 'c'};
    std::vector<Bytes> contents;
    for (std::size_t size : {0, 3, 5000, 300000})
        contents.push_back(randomBytes(rng, size, alphabet));
    contents.push_back(bytesOf("abca"));
    std::vector<PlannedRename> renames;
    for (const SidePass& pass : randomPasses(rng, contents[2], 30, alphabet))
        renames.push_back({RenameEntry{pass.from, pass.to, std::nullopt}, {}, {}});
    renames.push_back({RenameEntry{id("abca"), id("cccc"), std::nullopt}, {}, {}});
    renames.push_back({RenameEntry{id("cccc"), id("abca"), std::nullopt}, {}, {}});
    TempDir dir;
    std::vector<std::vector<std::size_t>> counts;
    std::vector<std::size_t> changedFiles;
    for (const std::uint64_t holdUpTo : {kHeldSideBytes, std::uint64_t{0}}) {
        const fs::path folder = dir / std::to_string(holdUpTo);
        fs::create_directories(folder);
        std::vector<fs::path> rows;
        for (std::size_t i = 0; i < contents.size(); ++i) {
            rows.push_back(folder / ("side" + std::to_string(i) + ".wct"));
            writeAll(rows.back(), contents[i]);
        }
        rows.push_back(folder / "." / "side2.wct"); // the same file named twice: two passes per rename
        SideFileSet sides;
        std::string error;
        ASSERT_TRUE(readSideFiles(rows, sides, error, holdUpTo)) << error;
        std::vector<PlannedRename> planned = renames;
        patchSideTexts(planned, sides.texts);
        counts.emplace_back();
        for (const PlannedRename& r : planned)
            counts.back().insert(counts.back().end(), r.occurrences.begin(), r.occurrences.end());
        FileTransaction files;
        changedFiles.push_back(0);
        ASSERT_TRUE(stageSideFiles(sides, true, true, files, changedFiles.back(), error)) << error;
        ASSERT_TRUE(files.commit(error)) << error;
    }
    EXPECT_EQ(counts[0], counts[1]);
    EXPECT_EQ(changedFiles[0], changedFiles[1]);
    EXPECT_EQ(changedFiles[0], 2u); // not the empty, the short, or the one patched back to what it held
    for (const auto& entry : fs::directory_iterator(dir / std::to_string(kHeldSideBytes)))
        EXPECT_EQ(readAll(dir / "0" / entry.path().filename()), readAll(entry.path())) << entry.path();
}

// A file read in pieces is read twice, once to count and once to write: when another program changes it in
// between, nothing of it is written and the run says why.
TEST(SideFile, AFileReadInPiecesThatChangesBeforeItIsWrittenIsNotWritten) {
    TempDir dir;
    const fs::path path = dir / "war3map.j";
    writeAll(path, "call CreateUnit(p, 'h000')");
    SideFileSet sides;
    std::string error;
    ASSERT_TRUE(readSideFiles({path}, sides, error, 0)) << error;
    std::vector<PlannedRename> planned = {{RenameEntry{id("h000"), id("h001"), std::nullopt}, {}, {}}};
    patchSideTexts(planned, sides.texts);
    setFaultHook([&](FileStep step, const fs::path& target) {
        if (step == FileStep::Open && target.filename() == path.filename())
            writeAll(path, "call CreateUnit(p, 'h000') // changed");
        return 0;
    });
    std::size_t changed = 0;
    {
        FileTransaction files;
        EXPECT_FALSE(stageSideFiles(sides, true, false, files, changed, error));
    }
    setFaultHook(nullptr);
    EXPECT_NE(error.find("war3map.j, replace aborted (the file changed while it was read)"), std::string::npos)
        << error;
    EXPECT_EQ(readAll(path), bytesOf("call CreateUnit(p, 'h000') // changed"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(SideFile, InPlacePatchingWritesTheSameBytesAsPassAfterPass) {
    std::mt19937 rng(12345);
    TempDir dir;
    for (int round = 0; round < 30; ++round) {
        const std::vector<std::uint8_t> alphabet = {'a', 'b', 'c'};
        const Bytes content = randomBytes(rng, std::uniform_int_distribution<std::size_t>(0, 100000)(rng), alphabet);
        const std::vector<SidePass> passes = randomPasses(rng, content, 50, alphabet);
        const auto fast = dir / ("fast" + std::to_string(round) + ".wct");
        const auto plain = dir / ("plain" + std::to_string(round) + ".wct");
        writeAll(fast, content);
        writeAll(plain, content);
        std::string error;
        ASSERT_TRUE(patchSideFileInPlace(fast, passes, error)) << error;
        for (const SidePass& pass : passes)
            ASSERT_TRUE(patchSideFile(plain, pass.from, pass.to));
        const Bytes patched = readAll(fast);
        EXPECT_EQ(patched.size(), content.size());
        EXPECT_EQ(patched, readAll(plain)) << "round " << round;
        EXPECT_EQ(patched, plainPasses(content, passes)) << "round " << round;
    }
}

TEST(SideFile, InPlacePatchingOfAnEmptyOrUntouchedFileChangesNothing) {
    TempDir dir;
    const auto empty = dir / "empty.wct";
    writeAll(empty, "");
    std::string error;
    const std::vector<SidePass> passes = {{id("hfoo"), id("h001")}};
    EXPECT_TRUE(patchSideFileInPlace(empty, passes, error)) << error;
    EXPECT_TRUE(readAll(empty).empty());

    const auto other = dir / "other.wct";
    writeAll(other, "hkni hfo");
    EXPECT_TRUE(patchSideFileInPlace(other, passes, error)) << error;
    EXPECT_EQ(textOf(readAll(other)), "hkni hfo");
}

} // namespace
} // namespace brindlemark
