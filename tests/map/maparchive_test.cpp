#include "archive/maparchive.h"
#include "archive/mpqlayout.h"

#include "core/fileio.h"
#include "tests/map/archivebuilder.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace brindlemark {
namespace {

namespace fs = std::filesystem;
namespace mpq = testing::mpq;
using testing::Bytes;
using testing::TempDir;

Bytes randomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(rng());
    return out;
}

// Bytes that compress, but not to nothing.
Bytes textBytes(std::size_t size, std::uint32_t seed) {
    static const std::string_view words[] = {"call ",  "set ",  "udg_Hero",        " = ",         "CreateUnit(",
                                             "'hfoo'", ")\r\n", "endfunction\r\n", "TRIGSTR_012", "// comment\r\n"};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        const auto w = words[rng() % std::size(words)];
        out.insert(out.end(), w.begin(), w.end());
    }
    out.resize(size);
    return out;
}

// The files of a small map, stored in every way a map stores them. (Not as a single unit: Warcraft III
// ignores that flag, and so does StormLib in a map.)
std::vector<mpq::File> mapFiles() {
    return {
        {"war3map.w3u", textBytes(3000, 1), MPQ_FILE_COMPRESS, 0},
        {"war3map.j", textBytes(9000, 2), MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED | MPQ_FILE_FIX_KEY, 0},
        {"war3map.wts", textBytes(700, 3), MPQ_FILE_COMPRESS, 0},
        {"war3mapImported\\Icon.blp", randomBytes(5000, 4), 0, 0},
        {"war3map.wtg", textBytes(6000, 5), MPQ_FILE_COMPRESS | MPQ_FILE_SECTOR_CRC, 0},
        {"war3map.w3e", textBytes(2000, 6), MPQ_FILE_IMPLODE, 0},
        {"war3map.shd", {}, MPQ_FILE_COMPRESS, 0},
        {"war3map.mmp", {}, 0, 0},
        {"war3map.wct", randomBytes(9000, 7), MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED, 0},
    };
}

// Three small files: the fixture that damage tests cut and scribble on.
std::vector<mpq::File> smallFiles() {
    return {mpq::textFile("war3map.w3u", "units units units"), mpq::textFile("war3map.j", "function main"),
            mpq::textFile("war3map.wts", "STRING 1 { Footman }", 0)};
}

Bytes build(const TempDir& dir, const std::vector<mpq::File>& files, const mpq::Options& options = {}) {
    return mpq::build(dir / "scratch.mpq", files, options);
}

fs::path put(const TempDir& dir, const fs::path& name, const Bytes& bytes) {
    const fs::path path = dir / name;
    testing::writeAll(path, bytes);
    return path;
}

// The error of opening `path`; fails the test when it opens.
std::string openError(const fs::path& path) {
    MapArchive archive;
    std::string error;
    EXPECT_FALSE(archive.open(path, error)) << pathText(path) << " opened";
    EXPECT_FALSE(archive.isOpen());
    return error;
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> namesOf(const std::vector<mpq::File>& files, bool withInternal = true) {
    std::vector<std::string> names;
    for (const auto& f : files)
        names.push_back(f.name);
    if (withInternal) {
        names.push_back("(listfile)");
        names.push_back("(attributes)");
    }
    return names;
}

std::vector<std::string> filesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(pathText(entry.path().filename()));
    return sorted(names);
}

#define ASSERT_OPENS(archive, path)                                                                                    \
    do {                                                                                                               \
        std::string openError_;                                                                                        \
        ASSERT_TRUE((archive).open((path), openError_)) << openError_;                                                 \
    } while (0)

void expectContents(const MapArchive& archive, const std::vector<mpq::File>& files) {
    for (const auto& f : files) {
        std::vector<std::uint8_t> bytes;
        std::string error;
        ASSERT_TRUE(archive.read(f.name, bytes, error)) << error;
        EXPECT_EQ(bytes, f.data) << f.name;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Reading

TEST(MapArchive, ListsAndReadsEveryFile) {
    TempDir dir;
    const auto files = mapFiles();
    const fs::path path = put(dir, "map.w3x", build(dir, files));
    MapArchive archive;
    ASSERT_OPENS(archive, path);
    EXPECT_TRUE(archive.isOpen());
    EXPECT_EQ(archive.path(), path);
    EXPECT_EQ(sorted(archive.fileNames()), sorted(namesOf(files)));
    expectContents(archive, files);

    // The files come in the order they are stored; StormLib stores its own two last.
    const auto& names = archive.fileNames();
    ASSERT_EQ(names.size(), files.size() + 2);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + files.size()), namesOf(files, false));

    // The archive's own listfile is a file like any other.
    std::vector<std::uint8_t> list;
    std::string error;
    ASSERT_TRUE(archive.read("(listfile)", list, error)) << error;
    const std::string text(list.begin(), list.end());
    for (const auto& f : files)
        EXPECT_NE(text.find(f.name), std::string::npos) << f.name;
}

TEST(MapArchive, LooksUpNamesWithoutRegardToCase) {
    TempDir dir;
    const auto files = mapFiles();
    MapArchive archive;
    ASSERT_OPENS(archive, put(dir, "map.w3x", build(dir, files)));
    EXPECT_TRUE(archive.contains("war3map.w3u"));
    EXPECT_TRUE(archive.contains("WAR3MAP.W3U"));
    EXPECT_TRUE(archive.contains("War3MapImported\\ICON.blp"));
    EXPECT_TRUE(archive.contains("(LISTFILE)"));
    // "/" is not "\" to the archive's lookup.
    EXPECT_FALSE(archive.contains("war3mapImported/Icon.blp"));
    EXPECT_FALSE(archive.contains("war3map.w3q"));
    EXPECT_FALSE(archive.contains("war3map.w3"));
    EXPECT_FALSE(archive.contains(""));

    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(archive.read("WAR3MAPIMPORTED\\icon.BLP", bytes, error)) << error;
    EXPECT_EQ(bytes, files[3].data);
}

TEST(MapArchive, GivesNamesAsTheListFileSpellsThem) {
    TempDir dir;
    // Encrypted files' keys come from the name after the last "\\" or "/".
    const std::uint32_t encrypted = MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED;
    const std::vector<mpq::File> files = {mpq::textFile("War3Map.J", "function main"),
                                          mpq::textFile("Sub\\Folder\\Deep File.MDX", "model"),
                                          {"Sub\\Folder\\Secret.txt", textBytes(5000, 21), encrypted, 0},
                                          {"Other/Folder/Secret.txt", textBytes(5000, 22), encrypted, 0},
                                          {"Ünïcödé\\файл.txt", textBytes(100, 23), encrypted, 0}};
    MapArchive archive;
    ASSERT_OPENS(archive, put(dir, "map.w3x", build(dir, files)));
    EXPECT_EQ(sorted(archive.fileNames()), sorted(namesOf(files)));
    EXPECT_TRUE(archive.contains("war3map.j"));
    EXPECT_TRUE(archive.contains("Ünïcödé\\файл.TXT")); // only ASCII letters change case
    EXPECT_FALSE(archive.contains("ÜNÏCÖDÉ\\файл.txt"));
    expectContents(archive, files);
}

TEST(MapArchive, ReadingAFileItDoesNotHaveNamesBoth) {
    TempDir dir;
    const fs::path path = put(dir, "map.w3x", build(dir, smallFiles()));
    MapArchive archive;
    ASSERT_OPENS(archive, path);
    std::vector<std::uint8_t> bytes{1, 2, 3};
    std::string error;
    EXPECT_FALSE(archive.read("war3map.w3q", bytes, error));
    EXPECT_EQ(error, pathText(path) + ": the archive has no file named 'war3map.w3q'");
    EXPECT_TRUE(bytes.empty());

    MapArchive closed;
    EXPECT_FALSE(closed.read("war3map.j", bytes, error));
    EXPECT_EQ(error, "no map archive is open");
    EXPECT_TRUE(closed.fileNames().empty());
    EXPECT_FALSE(closed.contains("war3map.j"));
}

TEST(MapArchive, OpensAnArchiveWithoutMapHeader) {
    TempDir dir;
    const auto files = smallFiles();
    mpq::Options options;
    options.mapHeader = false;
    const Bytes bytes = build(dir, files, options);
    ASSERT_EQ(mpq::get32(bytes, 0), 0x1A51504Du);
    const fs::path path = put(dir, "plain.mpq", bytes);
    MapArchive archive;
    ASSERT_OPENS(archive, path);
    expectContents(archive, files);

    // Written back, there is still nothing before the archive.
    std::string error;
    ASSERT_TRUE(writeMapArchive(archive, {}, dir / "out.mpq", error)) << error;
    EXPECT_EQ(mpq::get32(testing::readAll(dir / "out.mpq"), 0), 0x1A51504Du);
}

TEST(MapArchive, OpensAndWritesAnEmptyArchive) {
    TempDir dir;
    const fs::path path = put(dir, "empty.w3x", build(dir, {}));
    MapArchive archive;
    ASSERT_OPENS(archive, path);
    EXPECT_EQ(sorted(archive.fileNames()), sorted({"(listfile)", "(attributes)"}));
    std::vector<std::uint8_t> list;
    std::string error;
    ASSERT_TRUE(archive.read("(listfile)", list, error)) << error;
    EXPECT_TRUE(list.empty());

    ASSERT_TRUE(writeMapArchive(archive, {}, dir / "out.w3x", error)) << error;
    MapArchive again;
    ASSERT_OPENS(again, dir / "out.w3x");
    EXPECT_EQ(sorted(again.fileNames()), sorted({"(listfile)", "(attributes)"}));
}

TEST(MapArchive, FindsTheArchiveBehindALongerMapHeader) {
    TempDir dir;
    mpq::Options options;
    options.mapHeader = false;
    Bytes bytes = mpq::mapHeader();
    const Bytes more = randomBytes(512, 9); // a second block of anything before the archive
    bytes.insert(bytes.end(), more.begin(), more.end());
    const Bytes archiveBytes = build(dir, smallFiles(), options);
    bytes.insert(bytes.end(), archiveBytes.begin(), archiveBytes.end());
    const fs::path path = put(dir, "map.w3x", bytes);
    MapArchive archive;
    ASSERT_OPENS(archive, path);
    expectContents(archive, smallFiles());

    std::string error;
    ASSERT_TRUE(writeMapArchive(archive, {}, dir / "out.w3x", error)) << error;
    const Bytes out = testing::readAll(dir / "out.w3x");
    ASSERT_GE(out.size(), 1024u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 1024, out.begin()));
    EXPECT_EQ(mpq::header(out).offset, 1024u);
}

TEST(MapArchive, KeepsTheLanguageOfAFile) {
    TempDir dir;
    auto files = smallFiles();
    files.push_back({"war3mapLocal.txt", textBytes(100, 8), MPQ_FILE_COMPRESS, 0x409});
    MapArchive archive;
    ASSERT_OPENS(archive, put(dir, "map.w3x", build(dir, files)));
    expectContents(archive, files);
    std::string error;
    ASSERT_TRUE(writeMapArchive(archive, {}, dir / "out.w3x", error)) << error;
    for (const auto& listed : mpq::list(dir / "out.w3x"))
        EXPECT_EQ(listed.locale, listed.name == "war3mapLocal.txt" ? 0x409u : 0u) << listed.name;
}

TEST(MapArchive, WorksWithNonAsciiAndLongPaths) {
    // Names in other scripts, with spaces, in a folder whose path is longer than Windows' MAX_PATH (260).
    TempDir dir;
    fs::path folder = dir / fs::path(u8"Карты ü");
    for (int i = 0; folder.native().size() < 300; ++i)
        folder /= fs::path(u8"папка с длинным именем " + std::u8string(1, char8_t('0' + i)));
    fs::create_directories(folder);
    const fs::path path = folder / fs::path(u8"Ледяной трон — 2.w3x");
    const Bytes built = build(dir, smallFiles());
    std::string error;
    ASSERT_TRUE(saveBytes(path, built.data(), built.size(), error)) << error;
    MapArchive archive;
    ASSERT_OPENS(archive, path);
    expectContents(archive, smallFiles());
    const fs::path target = folder / fs::path(u8"新しい地図.w3x");
    ASSERT_TRUE(writeMapArchive(archive, {{"war3map.j", Bytes{'x'}}}, target, error)) << error;
    ASSERT_TRUE(writeMapArchive(archive, {{"war3map.j", Bytes{'y'}}}, target, error)) << error; // replacing it
    MapArchive again;
    ASSERT_OPENS(again, target);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(again.read("war3map.j", bytes, error)) << error;
    EXPECT_EQ(bytes, Bytes{'y'});

    // Messages give such names in UTF-8.
    const fs::path missing = folder / fs::path(u8"нет.w3x");
    EXPECT_EQ(openError(missing).rfind(pathText(missing) + ": ", 0), 0u);
}

TEST(MapArchive, AFailedOpenKeepsTheArchiveThatWasOpen) {
    TempDir dir;
    const fs::path good = put(dir, "good.w3x", build(dir, smallFiles()));
    const fs::path bad = put(dir, "bad.w3x", randomBytes(3000, 10));
    MapArchive archive;
    ASSERT_OPENS(archive, good);
    std::string error;
    EXPECT_FALSE(archive.open(bad, error));
    EXPECT_TRUE(archive.isOpen());
    EXPECT_EQ(archive.path(), good);
    expectContents(archive, smallFiles());
    archive.close();
    EXPECT_FALSE(archive.isOpen());
    EXPECT_TRUE(archive.fileNames().empty());
}

TEST(MapArchive, MovesWithItsOpenArchive) {
    TempDir dir;
    MapArchive first;
    ASSERT_OPENS(first, put(dir, "map.w3x", build(dir, smallFiles())));
    MapArchive second(std::move(first));
    expectContents(second, smallFiles());
    MapArchive third;
    third = std::move(second);
    expectContents(third, smallFiles());
}

#ifndef _WIN32
TEST(MapArchive, ReadsTheRightFilesWhenStandardInputIsClosed) {
    // StormLib 9.22 closes descriptor 0 when it fails to open a file, as it does when it checks that a file
    // it is about to create does not exist. An archive open on descriptor 0 would then be read from another
    // file.
    const int savedInput = dup(0);
    ASSERT_GE(savedInput, 0);
    close(0);
    {
        TempDir dir;
        const auto first = mapFiles();
        const auto second = smallFiles();
        MapArchive a;
        ASSERT_OPENS(a, put(dir, "a.w3x", build(dir, first)));
        MapArchive b;
        ASSERT_OPENS(b, put(dir, "b.w3x", build(dir, second)));
        std::string error;
        ASSERT_TRUE(writeMapArchive(a, {}, dir / "out.w3x", error)) << error;
        put(dir, "c.w3x", build(dir, second)); // StormLib creating an archive of its own
        HANDLE missing = nullptr;              // and failing to open one
        EXPECT_FALSE(SFileOpenArchive((dir / "missing.mpq").string().c_str(), 0, MPQ_OPEN_READ_ONLY, &missing));
        expectContents(a, first);
        expectContents(b, second);
        MapArchive out;
        ASSERT_OPENS(out, dir / "out.w3x");
        expectContents(out, first);
    }
    dup2(savedInput, 0);
    close(savedInput);
}
#endif

// ---------------------------------------------------------------------------------------------------------------
// Writing

TEST(MapArchive, RoundTripKeepsEveryFileAndTheMapHeader) {
    TempDir dir;
    const auto files = mapFiles();
    const Bytes sourceBytes = build(dir, files);
    const fs::path source = put(dir, "map.w3x", sourceBytes);
    MapArchive archive;
    ASSERT_OPENS(archive, source);
    const fs::path target = dir / "out.w3x";
    std::string error;
    ASSERT_TRUE(writeMapArchive(archive, {}, target, error)) << error;

    const Bytes out = testing::readAll(target);
    ASSERT_GT(out.size(), 512u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 512), mpq::mapHeader());
    EXPECT_EQ(mpq::header(out).offset, 512u);

    MapArchive again;
    ASSERT_OPENS(again, target);
    EXPECT_EQ(again.fileNames(), archive.fileNames());
    expectContents(again, files);

    // Every file keeps its flags (compression, encryption, single unit, sector checksums) and size.
    const auto before = mpq::list(source);
    const auto after = mpq::list(target);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i].name == "(attributes)" || before[i].name == "(listfile)")
            continue;
        EXPECT_EQ(after[i], before[i]) << before[i].name;
    }
    // Nothing stray: the hash table points at exactly the files listed.
    EXPECT_EQ(mpq::liveEntries(out), files.size() + 2);
    // The source is untouched.
    EXPECT_EQ(testing::readAll(source), sourceBytes);
}

TEST(MapArchive, ReplacesTheGivenFilesAndKeepsTheOthers) {
    TempDir dir;
    const auto files = mapFiles();
    MapArchive archive;
    ASSERT_OPENS(archive, put(dir, "map.w3x", build(dir, files)));
    const Bytes newUnits = textBytes(12000, 20);
    const std::map<std::string, std::vector<std::uint8_t>> replaced = {
        {"WAR3MAP.W3U", newUnits}, // any case
        {"war3map.j", {}},         // to nothing
        {"war3mapImported\\Icon.blp", Bytes{1, 2, 3}},
    };
    const fs::path target = dir / "out.w3x";
    std::string error;
    ASSERT_TRUE(writeMapArchive(archive, replaced, target, error)) << error;

    MapArchive again;
    ASSERT_OPENS(again, target);
    EXPECT_EQ(again.fileNames(), archive.fileNames()); // the names keep their own spelling
    auto expected = files;
    expected[0].data = newUnits;
    expected[1].data.clear();
    expected[3].data = Bytes{1, 2, 3};
    expectContents(again, expected);
    for (const auto& listed : mpq::list(target)) {
        if (listed.name == "war3map.j") {
            EXPECT_EQ(listed.flags & MPQ_FILE_ENCRYPTED, MPQ_FILE_ENCRYPTED);
        }
        if (listed.name == "war3mapImported\\Icon.blp") {
            EXPECT_EQ(listed.flags & MPQ_FILE_COMPRESS, 0u);
        }
    }
}

TEST(MapArchive, AddsNewFilesAfterTheOthers) {
    TempDir dir;
    const auto files = mapFiles();
    MapArchive archive;
    ASSERT_OPENS(archive, put(dir, "map.w3x", build(dir, files)));
    const Bytes items = textBytes(3000, 21);
    const fs::path target = dir / "out.w3x";
    std::string error;
    ASSERT_TRUE(writeMapArchive(archive, {}, target, error, {{"war3map.w3t", items}})) << error;
    MapArchive again;
    ASSERT_OPENS(again, target);
    auto expected = files;
    expected.push_back({"war3map.w3t", items});
    expectContents(again, expected);
    EXPECT_EQ(again.fileNames().size(), archive.fileNames().size() + 1);

    // A name the archive holds already (in any case) is refused, and nothing is written.
    const Bytes before = testing::readAll(target);
    EXPECT_FALSE(writeMapArchive(again, {}, target, error, {{"WAR3MAP.W3T", Bytes{1}}}));
    EXPECT_EQ(error, pathText(target) + ": cannot add 'WAR3MAP.W3T': the archive has a file of that name already");
    EXPECT_EQ(testing::readAll(target), before);
}

TEST(MapArchive, WritesOverItsOwnFile) {
    TempDir dir;
    const auto files = mapFiles();
    const fs::path path = put(dir, "map.w3x", build(dir, files));
    std::string error;
    {
        MapArchive archive;
        ASSERT_OPENS(archive, path);
        ASSERT_TRUE(writeMapArchive(archive, {{"war3map.wts", Bytes{'n', 'e', 'w'}}}, path, error)) << error;
    }
    MapArchive again;
    ASSERT_OPENS(again, path);
    auto expected = files;
    expected[2].data = Bytes{'n', 'e', 'w'};
    expectContents(again, expected);
    EXPECT_EQ(Bytes(testing::readAll(path)).size() > 512, true);
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"map.w3x"});
}

TEST(MapArchive, AFailedWriteLeavesTheTargetAndNoTemporaryFiles) {
    TempDir dir;
    const fs::path source = put(dir, "map.w3x", build(dir, smallFiles()));
    const std::string oldText = "old contents";
    const Bytes oldContents(oldText.begin(), oldText.end());
    const fs::path existing = put(dir, "existing.w3x", oldContents);
    fs::create_directory(dir / "folder.w3x");
    const auto before = filesIn(dir.path());
    MapArchive archive;
    ASSERT_OPENS(archive, source);
    std::string error;

    // A folder that does not exist.
    const fs::path nowhere = dir / "no such folder" / "x.w3x";
    EXPECT_FALSE(writeMapArchive(archive, {}, nowhere, error));
    EXPECT_EQ(error.rfind(pathText(nowhere) + ": ", 0), 0u) << error;
    EXPECT_FALSE(fs::exists(nowhere));

    // A name the archive does not hold: nothing is written.
    EXPECT_FALSE(writeMapArchive(archive, {{"war3map.w3q", Bytes{1}}}, existing, error));
    EXPECT_EQ(error, pathText(source) + ": cannot replace 'war3map.w3q': the archive has no such file");
    EXPECT_EQ(testing::readAll(existing), oldContents);

    // A target that cannot be replaced (a folder): the archive is built, then the last step fails.
    EXPECT_FALSE(writeMapArchive(archive, {}, dir / "folder.w3x", error));
    EXPECT_EQ(error.rfind(pathText(dir / "folder.w3x") + ": ", 0), 0u) << error;
    EXPECT_TRUE(fs::is_directory(dir / "folder.w3x"));
    EXPECT_TRUE(fs::is_empty(dir / "folder.w3x"));

    EXPECT_EQ(filesIn(dir.path()), before);
}

TEST(MapArchive, WillNotReplaceTheFilesTheArchiveWritesItself) {
    TempDir dir;
    const fs::path source = put(dir, "map.w3x", build(dir, smallFiles()));
    MapArchive archive;
    ASSERT_OPENS(archive, source);
    std::string error;
    EXPECT_FALSE(writeMapArchive(archive, {{"(listfile)", Bytes{}}}, dir / "out.w3x", error));
    EXPECT_EQ(error, pathText(source) + ": cannot replace '(listfile)': the archive writes it itself");
    EXPECT_FALSE(writeMapArchive(archive, {{"(Attributes)", Bytes{}}}, dir / "out.w3x", error));
    EXPECT_EQ(error, pathText(source) + ": cannot replace '(Attributes)': the archive writes it itself");
    EXPECT_FALSE(fs::exists(dir / "out.w3x"));
}

TEST(MapArchive, WillNotTakeTwoContentsForOneFile) {
    TempDir dir;
    const fs::path source = put(dir, "map.w3x", build(dir, smallFiles()));
    MapArchive archive;
    ASSERT_OPENS(archive, source);
    std::string error;
    EXPECT_FALSE(writeMapArchive(archive, {{"war3map.j", Bytes{1}}, {"WAR3MAP.J", Bytes{2}}}, dir / "out.w3x", error));
    EXPECT_EQ(error, pathText(source) + ": 'war3map.j' is given new contents twice (names differing only in case)");
    EXPECT_FALSE(fs::exists(dir / "out.w3x"));

    MapArchive closed;
    EXPECT_FALSE(writeMapArchive(closed, {}, dir / "out.w3x", error));
    EXPECT_EQ(error, pathText(dir / "out.w3x") + ": cannot write the map: no map archive is open");
}

TEST(MapArchive, LeavesOutTheSignature) {
    TempDir dir;
    mpq::Options options;
    options.signature = true;
    Bytes bytes = build(dir, smallFiles(), options);
    // A strong signature goes after the archive: "NGIS" and 256 bytes.
    const Bytes footer = [] {
        Bytes f = {'N', 'G', 'I', 'S'};
        const Bytes sig = randomBytes(256, 11);
        f.insert(f.end(), sig.begin(), sig.end());
        return f;
    }();
    bytes.insert(bytes.end(), footer.begin(), footer.end());
    const fs::path source = put(dir, "signed.w3x", bytes);
    MapArchive archive;
    ASSERT_OPENS(archive, source);
    EXPECT_TRUE(archive.contains("(signature)"));

    std::string error;
    EXPECT_FALSE(writeMapArchive(archive, {{"(signature)", Bytes{}}}, dir / "out.w3x", error));
    EXPECT_EQ(error, pathText(source) + ": cannot replace '(signature)': a rewritten map is not signed");
    ASSERT_TRUE(writeMapArchive(archive, {}, dir / "out.w3x", error)) << error;
    MapArchive again;
    ASSERT_OPENS(again, dir / "out.w3x");
    EXPECT_FALSE(again.contains("(signature)"));
    EXPECT_EQ(sorted(again.fileNames()), sorted(namesOf(smallFiles())));
    expectContents(again, smallFiles());
    const Bytes out = testing::readAll(dir / "out.w3x");
    EXPECT_FALSE(std::search(out.begin(), out.end(), footer.begin(), footer.end()) != out.end());
}

TEST(MapArchive, HasRoomInTheHashTableForEveryFile) {
    TempDir dir;
    std::vector<mpq::File> files;
    for (int i = 0; i < 300; ++i)
        files.push_back(mpq::textFile("war3mapImported\\file" + std::to_string(i) + ".txt", std::to_string(i * i)));
    mpq::Options options;
    options.maxFiles = 512;
    MapArchive archive;
    ASSERT_OPENS(archive, put(dir, "map.w3x", build(dir, files, options)));
    std::string error;
    ASSERT_TRUE(writeMapArchive(archive, {}, dir / "out.w3x", error)) << error;
    const Bytes out = testing::readAll(dir / "out.w3x");
    const auto header = mpq::header(out);
    // 302 files with a quarter of the table free at least.
    EXPECT_GE(header.hashEntries, 302u * 4 / 3);
    EXPECT_EQ(mpq::liveEntries(out), 302u);
    MapArchive again;
    ASSERT_OPENS(again, dir / "out.w3x");
    expectContents(again, files);
}

TEST(MapArchive, KeepsAFileStoredWithoutCompressionAsItWas) {
    TempDir dir;
    mpq::Options options;
    options.listFileFlags = MPQ_FILE_EXISTS; // stored as plain text
    options.attributesFlags = 0;             // and no (attributes)
    MapArchive archive;
    ASSERT_OPENS(archive, put(dir, "map.w3x", build(dir, smallFiles(), options)));
    auto names = namesOf(smallFiles(), false);
    names.push_back("(listfile)");
    EXPECT_EQ(sorted(archive.fileNames()), sorted(names));
    std::string error;
    ASSERT_TRUE(writeMapArchive(archive, {}, dir / "out.w3x", error)) << error;
    bool sawListFile = false;
    for (const auto& listed : mpq::list(dir / "out.w3x")) {
        if (listed.name == "(listfile)") {
            sawListFile = true;
            EXPECT_EQ(listed.flags & (MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED), 0u);
        }
    }
    EXPECT_TRUE(sawListFile);
}

TEST(MapArchive, KeepsSingleUnitFilesOfAPlainArchive) {
    TempDir dir;
    mpq::Options options;
    options.mapHeader = false;
    const std::vector<mpq::File> files = {
        {"whole.txt", textBytes(3000, 16), MPQ_FILE_COMPRESS | MPQ_FILE_SINGLE_UNIT, 0},
        {"stored.txt", textBytes(100, 17), MPQ_FILE_SINGLE_UNIT, 0}};
    MapArchive archive;
    ASSERT_OPENS(archive, put(dir, "plain.mpq", build(dir, files, options)));
    expectContents(archive, files);
    std::string error;
    ASSERT_TRUE(writeMapArchive(archive, {{"whole.txt", textBytes(5000, 18)}}, dir / "out.mpq", error)) << error;
    // StormLib 9.40 writes a version 1 archive in sectors only; the files read back the same either way.
    const std::uint32_t kept = STORMLIB_VERSION < 0x0928 ? MPQ_FILE_SINGLE_UNIT : 0;
    for (const auto& listed : mpq::list(dir / "out.mpq")) {
        if (listed.name == "whole.txt" || listed.name == "stored.txt") {
            EXPECT_EQ(listed.flags & MPQ_FILE_SINGLE_UNIT, kept) << listed.name;
        }
    }
    MapArchive out;
    ASSERT_OPENS(out, dir / "out.mpq");
    expectContents(out, {{"whole.txt", textBytes(5000, 18)}, files[1]});
}

TEST(MapArchive, ReadsAMapAsWarcraftDoes) {
    // Warcraft III, and StormLib in a map, ignore the single-unit flag and read such a file in sectors: in a
    // map, a file really stored whole is damage, and it is found before StormLib reads it.
    TempDir dir;
    mpq::Options options;
    options.mapHeader = false;
    auto files = smallFiles();
    files.push_back({"whole.txt", textBytes(3000, 16), MPQ_FILE_COMPRESS | MPQ_FILE_SINGLE_UNIT, 0});
    Bytes bytes = mpq::mapHeader();
    const Bytes archiveBytes = build(dir, files, options);
    bytes.insert(bytes.end(), archiveBytes.begin(), archiveBytes.end());
    const fs::path path = put(dir, "map.w3x", bytes);
    EXPECT_EQ(openError(path), pathText(path) + ": damaged archive: 'whole.txt' (block 3): its sector offsets do "
                                                "not start after themselves");
    // Without the map header the same archive is an ordinary one.
    const fs::path plain = put(dir, "plain.mpq", archiveBytes);
    MapArchive archive;
    ASSERT_OPENS(archive, plain);
    expectContents(archive, files);
}

// ---------------------------------------------------------------------------------------------------------------
// Refusals

namespace layout = brindlemark::mpq;

// Whether `text` matches `pattern`, in which "*" stands for any text.
bool matches(std::string_view text, std::string_view pattern) {
    std::size_t star = pattern.find('*');
    if (star == std::string_view::npos)
        return text == pattern;
    if (text.substr(0, star) != pattern.substr(0, star))
        return false;
    text.remove_prefix(star);
    pattern.remove_prefix(star + 1);
    while ((star = pattern.find('*')) != std::string_view::npos) {
        const std::size_t at = text.find(pattern.substr(0, star));
        if (at == std::string_view::npos)
            return false;
        text.remove_prefix(at + star);
        pattern.remove_prefix(star + 1);
    }
    return text.ends_with(pattern);
}

// The checks made before StormLib reads an archive, as opening it makes them: the layout, then the stored
// layout of every file found by an internal name and then by one of `names`. The first reason, or nothing.
std::string layoutRefusal(const Bytes& bytes, const std::vector<std::string>& names) {
    layout::Layout found;
    std::string why;
    if (!layout::readLayout(bytes, found, why))
        return why;
    std::vector<std::string> all = {"(listfile)", "(attributes)", "(signature)"};
    all.insert(all.end(), names.begin(), names.end());
    for (const std::string& name : all) {
        const std::uint32_t a = layout::hashName(name, layout::HashKind::NameA);
        const std::uint32_t b = layout::hashName(name, layout::HashKind::NameB);
        for (const layout::HashEntry& hash : found.hashes)
            if (hash.nameA == a && hash.nameB == b && hash.block < found.blocks.size() &&
                !layout::checkStoredFile(bytes, found, hash.block, name, why))
                return why;
    }
    return {};
}

std::vector<mpq::File> bzip2Files() {
    return {{"war3map.j", textBytes(2000, 31), MPQ_FILE_COMPRESS, 0, MPQ_COMPRESSION_BZIP2},
            {"war3map.wts", textBytes(9000, 32), MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED, 0, MPQ_COMPRESSION_BZIP2}};
}

// The archives the damages start from.
enum class Fixture { Small, Map, Script, Bzip2, WithoutMapHeader, WithoutListFile, PlainListFile, TwoLanguages };

struct Built {
    Bytes bytes;
    std::vector<std::string> names; // of the files put in
};

const Built& fixture(Fixture which) {
    static std::map<Fixture, Built> built;
    if (const auto it = built.find(which); it != built.end())
        return it->second;
    std::vector<mpq::File> files = smallFiles();
    mpq::Options options;
    switch (which) {
    case Fixture::Small:
        break;
    case Fixture::Map: // war3map.wtg: 6000 bytes in two sectors, with sector checksums
        files = mapFiles();
        break;
    case Fixture::Script:
        files = {{"war3map.j", textBytes(2000, 30), MPQ_FILE_COMPRESS, 0}};
        break;
    case Fixture::Bzip2:
        files = bzip2Files();
        break;
    case Fixture::WithoutMapHeader:
        options.mapHeader = false;
        break;
    case Fixture::WithoutListFile:
        options.listFileFlags = 0;
        break;
    case Fixture::PlainListFile: // plain text, so that a damage can change a name in it
        options.listFileFlags = MPQ_FILE_EXISTS;
        break;
    case Fixture::TwoLanguages:
        files.push_back({"war3map.j", textBytes(50, 15), MPQ_FILE_COMPRESS, 0x409});
        break;
    }
    TempDir dir;
    return built[which] = {build(dir, files, options), namesOf(files, false)};
}

std::uint32_t blockOf(const Bytes& bytes, std::string_view name) {
    const long entry = mpq::hashEntryOf(bytes, name);
    if (entry < 0)
        throw std::runtime_error("no file " + std::string(name));
    return mpq::hashTable(bytes)[4 * entry + 3];
}

// The first byte of the single sector of an unencrypted file, which names its compression methods.
std::size_t firstSectorByte(const Bytes& bytes, std::string_view name) {
    return mpq::header(bytes).offset + mpq::blockTable(bytes)[4 * blockOf(bytes, name)] + 8; // after two offsets
}

// Changes the block table entry of `file` (offset, packed size, size, flags) with `change`; gives its block.
template <class Change> std::uint32_t changeBlock(Bytes& bytes, std::string_view file, Change change) {
    const std::uint32_t block = blockOf(bytes, file);
    auto blocks = mpq::blockTable(bytes);
    change(std::span(blocks).subspan(4 * block, 4));
    mpq::setBlockTable(bytes, blocks);
    return block;
}

// One damage done to the bytes of an archive.
struct Damage {
    std::string name;
    Fixture fixture;
    // Damages the bytes; gives the reason of the refusal, "*" standing for any text.
    std::function<std::string(Bytes& bytes)> apply;
    bool alsoOpened = false; // one of the few also refused through MapArchive::open
};

// Damages that the checks before StormLib find.
std::vector<Damage> layoutDamages() {
    const auto noHeader = [](Bytes bytes) {
        return [bytes](Bytes& b) {
            b = bytes;
            return std::string("not a map archive: no MPQ archive header found");
        };
    };
    const auto badHeader = [](std::size_t at, std::uint32_t value, bool byte, std::string what) {
        return [=](Bytes& b) {
            if (byte)
                b[512 + at] = static_cast<std::uint8_t>(value);
            else
                mpq::put32(b, 512 + at, value);
            return "damaged or protected archive: " + what + " (archive header at byte 512)";
        };
    };
    // The sector offsets of war3map.wtg: the starts of its two sectors, their end and the end of the checksums.
    using Offsets = std::array<std::uint32_t, 4>;
    const auto sectorOffsets = [](std::size_t word, std::uint32_t (*value)(const Offsets&, std::uint32_t packed),
                                  std::string what) {
        return [=](Bytes& b) {
            const std::uint32_t block = blockOf(b, "war3map.wtg");
            const auto blocks = mpq::blockTable(b);
            const std::size_t at = mpq::header(b).offset + blocks[4 * block];
            Offsets offsets{};
            for (std::size_t i = 0; i < offsets.size(); ++i)
                offsets[i] = mpq::get32(b, at + 4 * i);
            mpq::put32(b, at + 4 * word, value(offsets, blocks[4 * block + 1]));
            return "damaged archive: 'war3map.wtg' (block " + std::to_string(block) + "): its sector offsets " + what;
        };
    };
    const auto method = [](std::uint8_t value) {
        return [=](Bytes& b) {
            b[firstSectorByte(b, "war3map.j")] = value;
            return "damaged archive: 'war3map.j' (block " + std::to_string(blockOf(b, "war3map.j")) +
                   "): sector 0 names compression methods " + layout::hex(value) + ", which Warcraft III does not read";
        };
    };
    std::vector<Damage> damages = {
        {"an empty file", Fixture::Small,
         [](Bytes& b) {
             b.clear();
             return std::string("the file is empty; it is not a map archive");
         }},
        {"a map header alone", Fixture::Small, noHeader(mpq::mapHeader())},
        {"an archive header cut short", Fixture::Small,
         [](Bytes& b) {
             b = mpq::mapHeader();
             b.insert(b.end(), {'M', 'P', 'Q', 0x1A, 0x20, 0});
             return std::string("damaged archive: the archive header at byte 512 is cut short");
         }},
        {"user data", Fixture::WithoutMapHeader,
         [](Bytes& b) {
             Bytes userData(512, 0);
             mpq::put32(userData, 0, 0x1B51504D); // "MPQ\x1B"
             mpq::put32(userData, 4, 16);
             mpq::put32(userData, 8, 512);
             b.insert(b.begin(), userData.begin(), userData.end());
             return std::string("not a Warcraft III map: the archive has an MPQ user data block (byte 0), which "
                                "maps do not use");
         }},
        {"header size", Fixture::Small, badHeader(4, 16, false, "the archive header gives its size as 16 bytes")},
        {"hash table size", Fixture::Small,
         badHeader(24, 12, false, "the hash table size 12 is not a power of two from 1 to 524288")},
        {"sector size", Fixture::Small, badHeader(14, 40, true, "the sector size exponent 40 is out of range")},
        // StormLib 9.22 writes archives of 512-byte sectors, but opens none.
        {"512-byte sectors", Fixture::Small, badHeader(14, 0, true, "the sector size exponent 0 is out of range")},
        {"block table size", Fixture::Small,
         badHeader(28, 0x100000, false, "the block table has 1048576 entries, more than 524288")},
        {"garbage in the hash table", Fixture::Small,
         [](Bytes& b) {
             const auto h = mpq::header(b);
             const Bytes noise = randomBytes(h.hashEntries * 16, 13);
             std::copy(noise.begin(), noise.end(), b.begin() + static_cast<std::ptrdiff_t>(h.hashTable));
             return std::string("damaged or protected archive: hash entry *");
         }},
        {"garbage in the block table", Fixture::Small,
         [](Bytes& b) {
             const auto h = mpq::header(b);
             const Bytes noise = randomBytes(h.blockEntries * 16, 14);
             std::copy(noise.begin(), noise.end(), b.begin() + static_cast<std::ptrdiff_t>(h.blockTable));
             return std::string("damaged*");
         }},
        {"a hash entry past the block table", Fixture::Small,
         [](Bytes& b) {
             const long entry = mpq::hashEntryOf(b, "war3map.j");
             auto table = mpq::hashTable(b);
             const std::uint32_t blocks = mpq::header(b).blockEntries;
             table[4 * entry + 3] = blocks + 5;
             mpq::setHashTable(b, table);
             return "damaged or protected archive: hash entry " + std::to_string(entry) + " points at block " +
                    std::to_string(blocks + 5) + ", but the block table has " + std::to_string(blocks) + " entries";
         },
         true},
        {"two names for one block", Fixture::Small,
         [](Bytes& b) {
             auto table = mpq::hashTable(b);
             table[4 * mpq::hashEntryOf(b, "war3map.w3u") + 3] = blockOf(b, "war3map.j");
             mpq::setHashTable(b, table);
             return std::string("*, which another hash entry uses too");
         }},
        {"file data past the end", Fixture::Small,
         [](Bytes& b) {
             const auto block = changeBlock(b, "war3map.j", [&](auto e) { e[0] = std::uint32_t(b.size()); });
             return "damaged archive: the data of block " + std::to_string(block) +
                    " (*) runs past the end of the file (cut short?)";
         }},
        {"an implausible unpacked size", Fixture::Small,
         [](Bytes& b) {
             std::uint32_t packed = 0;
             const auto block = changeBlock(b, "war3map.w3u", [&](auto e) {
                 e[2] = 0x40000000;
                 packed = e[1];
             });
             return "damaged or protected archive: block " + std::to_string(block) +
                    " claims 1073741824 bytes unpacked from " + std::to_string(packed) + " packed bytes";
         }},
        {"unknown file flags", Fixture::Small,
         [](Bytes& b) {
             std::uint32_t flags = 0;
             const auto block = changeBlock(b, "war3map.w3u", [&](auto e) { flags = e[3] |= MPQ_FILE_PATCH_FILE; });
             return "damaged or protected archive: block " + std::to_string(block) + " has flags " +
                    layout::hex(flags) + ", which Warcraft III maps do not use";
         }},
        {"sector offsets that start early", Fixture::Map,
         sectorOffsets(
             0, [](const Offsets& o, std::uint32_t) { return o[0] - 4; }, "do not start after themselves"),
         true},
        {"a first sector that ends after the second", Fixture::Map,
         sectorOffsets(
             1, [](const Offsets& o, std::uint32_t) { return o[2] + 1; }, "give sector 1 an impossible length")},
        // A checksum table longer than two sectors need: StormLib 9.22 would read it past its buffer.
        {"a sector checksum table too long", Fixture::Map,
         sectorOffsets(
             2, [](const Offsets& o, std::uint32_t) { return o[2] - 2; },
             "give the sector checksums an impossible place")},
        {"sector checksums past the file's data", Fixture::Map,
         sectorOffsets(
             3, [](const Offsets&, std::uint32_t packed) { return packed + 1; },
             "give the sector checksums an impossible place")},
        {"LZMA", Fixture::Script, method(0x12)},
        {"sparse", Fixture::Script, method(0x20)},
        {"an unknown compression method", Fixture::Script, method(0x04)},
        {"no compression method", Fixture::Script, method(0)},
#ifdef BRINDLEMARK_HAVE_BZIP2
        // Said to be a byte shorter than its bzip2 data unpacks to: StormLib would never stop unpacking.
        {"bzip2 data longer than the file", Fixture::Bzip2,
         [](Bytes& b) {
             const auto block = changeBlock(b, "war3map.j", [](auto e) { e[2] -= 1; });
             return "damaged archive: 'war3map.j' (block " + std::to_string(block) +
                    "): the bzip2 data of sector 0 does not unpack to its 1999 bytes";
         }},
        {"bzip2 data cut short", Fixture::Bzip2,
         [](Bytes& b) {
             const std::size_t end = firstSectorByte(b, "war3map.j") - 4; // where sector 0 ends
             mpq::put32(b, end, mpq::get32(b, end) - 10);
             const auto block = changeBlock(b, "war3map.j", [](auto e) { e[1] -= 10; });
             return "damaged archive: 'war3map.j' (block " + std::to_string(block) +
                    "): the bzip2 data of sector 0 does not unpack to its 2000 bytes";
         }},
#else
        {"bzip2", Fixture::Bzip2,
         [](Bytes& b) {
             return "damaged archive: 'war3map.j' (block " + std::to_string(blockOf(b, "war3map.j")) +
                    "): sector 0 is packed with bzip2, which this build cannot check (built without bzip2)";
         }},
#endif
    };
    for (const std::size_t size : {1u, 31u, 512u, 5000u, 70000u})
        damages.push_back(
            {"noise of " + std::to_string(size) + " bytes", Fixture::Small, noHeader(randomBytes(size, 12))});
    return damages;
}

// Damages refused only as the archive is opened: the files StormLib lists must be named by the listfile, once.
std::vector<Damage> openDamages() {
    const auto noListFile = [](Bytes&) {
        return std::string("protected or damaged map: the archive has no (listfile), so the names of its files "
                           "are unknown and it cannot be rewritten");
    };
    return {
        {"no listfile", Fixture::WithoutListFile, noListFile},
        {"a deleted listfile", Fixture::Small,
         [noListFile](Bytes& b) {
             auto table = mpq::hashTable(b);
             table[4 * mpq::hashEntryOf(b, "(listfile)") + 3] = 0xFFFFFFFE;
             mpq::setHashTable(b, table);
             return noListFile(b);
         }},
        {"a file the listfile does not name", Fixture::PlainListFile,
         [](Bytes& b) {
             const std::string name = "war3map.w3u";
             const auto at = std::search(b.begin(), b.end(), name.begin(), name.end());
             if (at == b.end() || std::search(at + 1, b.end(), name.begin(), name.end()) != b.end())
                 throw std::runtime_error("the listfile's name is not there once");
             *(at + name.size() - 1) = 'x'; // the listfile now names war3map.w3x, which is not there
             return std::string("protected or damaged map: 1 of its 5 files are not named in its (listfile), so "
                                "they could not be carried over and the map cannot be rewritten");
         }},
        // Whether StormLib finds the damage or unpacks it into names that are not there, the map is refused.
        {"a damaged listfile", Fixture::Map,
         [](Bytes& b) {
             const std::uint32_t block = blockOf(b, "(listfile)");
             const auto blocks = mpq::blockTable(b);
             if (!(blocks[4 * block + 3] & MPQ_FILE_COMPRESS) || blocks[4 * block + 1] >= blocks[4 * block + 2])
                 throw std::runtime_error("the listfile is not packed");
             // The packed bytes after the two sector offsets and the first word, which names the method.
             const std::size_t at = mpq::header(b).offset + blocks[4 * block];
             for (std::size_t i = 12; i < blocks[4 * block + 1]; ++i)
                 b[at + i] ^= 0x5A;
             return std::string("protected or damaged map: *(listfile)*");
         }},
        {"a name in two languages", Fixture::TwoLanguages,
         [](Bytes&) {
             return std::string("the archive holds 'war3map.j' more than once (in several languages); such a map "
                                "is not supported");
         }},
    };
}

TEST(MpqLayout, RefusesEveryDamageBeforeStormLibReadsIt) {
    for (const Damage& damage : layoutDamages()) {
        Bytes bytes = fixture(damage.fixture).bytes;
        const std::string expected = damage.apply(bytes);
        const std::string why = layoutRefusal(bytes, fixture(damage.fixture).names);
        EXPECT_TRUE(matches(why, expected)) << damage.name << "\n  reason:   " << why << "\n  expected: " << expected;
    }
}

// Opening refuses what it cannot carry over, and every refusal names the map.
TEST(MapArchive, RefusesADamagedMapByItsName) {
    TempDir dir;
    const fs::path missing = dir / "missing.w3x";
    EXPECT_EQ(openError(missing), pathText(missing) + ": cannot open the file (No such file or directory)");

    std::vector<Damage> damages = openDamages();
    for (Damage& damage : layoutDamages())
        if (damage.alsoOpened)
            damages.push_back(std::move(damage));
    for (const Damage& damage : damages) {
        Bytes bytes = fixture(damage.fixture).bytes;
        const std::string expected = pathText(dir / "map.w3x") + ": " + damage.apply(bytes);
        const std::string error = openError(put(dir, "map.w3x", bytes));
        EXPECT_TRUE(matches(error, expected))
            << damage.name << "\n  error:    " << error << "\n  expected: " << expected;
    }
}

TEST(MpqLayout, RefusesEveryCutOfAnArchive) {
    const Built& small = fixture(Fixture::Small);
    for (std::size_t length = 0; length < small.bytes.size(); ++length) {
        const std::string why = layoutRefusal(Bytes(small.bytes.begin(), small.bytes.begin() + length), small.names);
        const bool explained = why.find("cut short") != std::string::npos ||
                               why.find("no MPQ archive header found") != std::string::npos ||
                               why.find("the file is empty") != std::string::npos;
        EXPECT_TRUE(explained) << "cut at " << length << ": " << why;
    }
    // The whole file opens, and so does the file with bytes after it.
    TempDir dir;
    Bytes longer = small.bytes;
    longer.push_back(0);
    MapArchive archive;
    ASSERT_OPENS(archive, put(dir, "longer.w3x", longer));
    expectContents(archive, smallFiles());
}

// Inputs on which StormLib itself overran a buffer or hung, found by the fuzz target: all are refused before
// StormLib reads them.
TEST(MpqLayout, RefusesWhatTheFuzzerFound) {
    const std::map<std::string, std::string> expected = {
        {"overflow-sector-checksums.w3x",
         "damaged archive: '(listfile)' (block 6): its sector offsets do not start after themselves"},
        {"hang-bzip2-attributes.w3x", "damaged archive: '(attributes)' (block 7): sector 0 names compression "
                                      "methods 0x000000FA, which Warcraft III does not read"},
    };
    std::size_t seen = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(BRINDLEMARK_TEST_DATA) / "fuzz")) {
        const auto it = expected.find(pathText(entry.path().filename()));
        ASSERT_NE(it, expected.end()) << pathText(entry.path());
        EXPECT_EQ(layoutRefusal(testing::readAll(entry.path()), {}), it->second);
        ++seen;
    }
    EXPECT_EQ(seen, expected.size());
}

#ifdef BRINDLEMARK_HAVE_BZIP2
TEST(MapArchive, ReadsBzip2PackedFiles) {
    TempDir dir;
    MapArchive archive;
    ASSERT_OPENS(archive, put(dir, "map.w3x", fixture(Fixture::Bzip2).bytes));
    expectContents(archive, bzip2Files());
    std::string error;
    ASSERT_TRUE(writeMapArchive(archive, {}, dir / "out.w3x", error)) << error;
    MapArchive again;
    ASSERT_OPENS(again, dir / "out.w3x");
    expectContents(again, bzip2Files());
}
#endif
} // namespace
} // namespace brindlemark

namespace brindlemark {
namespace {

// The layout checker's own hashing gives the keys StormLib decrypts the two tables with.
TEST(MpqLayout, TableKeysAreTheFormatOnes) {
    EXPECT_EQ(brindlemark::mpq::hashName("(hash table)", brindlemark::mpq::HashKind::FileKey), MPQ_KEY_HASH_TABLE);
    EXPECT_EQ(brindlemark::mpq::hashName("(block table)", brindlemark::mpq::HashKind::FileKey), MPQ_KEY_BLOCK_TABLE);
    // RFC 1321's examples.
    const std::string abc = "abc";
    const auto digest = brindlemark::mpq::md5Of(std::span(reinterpret_cast<const std::uint8_t*>(abc.data()), 3));
    EXPECT_EQ(brindlemark::mpq::hex(digest[0] << 24 | digest[1] << 16 | digest[2] << 8 | digest[3]), "0x90015098");
}

// A single flipped bit in the stored bytes of a file is found, by the sector checksums the archive holds for
// the file or by the CRC32 and MD5 of its "(attributes)": the map is refused, naming the map and the file, and
// never written anew with fresh checksums.
TEST(MapArchive, RefusesEveryFlippedBitInAFileItHoldsChecksumsFor) {
    TempDir dir;
    const auto files = mapFiles();
    const Bytes good = build(dir, files);
    const auto blocks = mpq::blockTable(good);
    const std::size_t base = mpq::header(good).offset;
    std::mt19937 rng(11);
    for (const mpq::File& file : files) {
        if (file.data.empty())
            continue;
        const long entry = mpq::hashEntryOf(good, file.name);
        ASSERT_GE(entry, 0);
        const std::uint32_t block = mpq::hashTable(good)[4 * entry + 3];
        // The stored bytes after the sector offsets of a packed file: the sectors and their checksums.
        const std::uint32_t flags = blocks[4 * block + 3];
        const std::size_t sectors = (file.data.size() + 0xFFF) / 0x1000;
        const std::size_t table = flags & (MPQ_FILE_COMPRESS | MPQ_FILE_IMPLODE)
                                      ? (sectors + 1 + (flags & MPQ_FILE_SECTOR_CRC ? 1 : 0)) * 4
                                      : 0;
        const std::size_t start = base + blocks[4 * block] + table;
        const std::size_t length = blocks[4 * block + 1] - table;
        for (int flip = 0; flip < 6; ++flip) {
            Bytes bytes = good;
            const std::size_t at = start + rng() % length;
            bytes[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
            const fs::path path = put(dir, fs::path(u8"карта с изъяном.w3x"), bytes);
            const fs::path target = dir / "rewritten.w3x";
            MapArchive archive;
            std::string error;
            bool accepted = archive.open(path, error);
            if (accepted) {
                // Damage inside a sector is found when the file is read, so the rewrite is refused.
                accepted = writeMapArchive(archive, {}, target, error);
                EXPECT_FALSE(fs::exists(target));
            }
            if (accepted) {
                ADD_FAILURE() << file.name << ": the bit flipped at byte " << at << " went unnoticed";
                continue;
            }
            EXPECT_EQ(error.rfind(pathText(path) + ": ", 0), 0u) << error;
            EXPECT_NE(error.find("'" + file.name + "'"), std::string::npos) << error;
            if (flags & MPQ_FILE_SECTOR_CRC) { // found by its sector's checksum, at the sector's offset
                EXPECT_NE(error.find(" at byte "), std::string::npos) << error;
            }
        }
    }
}

} // namespace
} // namespace brindlemark
