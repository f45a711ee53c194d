#include "replace/replacecommand.h"

#include "core/fileio.h"
#include "replace/dryrun.h"
#include "replace/idlist.h"
#include "replace/replacelist.h"
#include "replace/replaceplan.h"
#include "tests/replace/bundlefixtures.h"
#include "tests/replace/plainreplace.h"

#include "tests/support/commandcalls.h"
#include "tests/support/recordingsink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <random>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace brindlemark {
namespace {

using namespace testing;
namespace fs = std::filesystem;

// A run that went through, with what was done; each front end words it, the command itself says nothing.
void expectCompleted(const ReplaceReport& report, const RecordingSink& sink, std::size_t renamed, std::size_t files) {
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(report.renames.size(), renamed);
    EXPECT_EQ(report.filesChanged, files);
    EXPECT_TRUE(sink.messages.empty()) << sink.messages[0];
}

// A main bundle on disk, loaded as the window would load it.
struct MainBundle {
    explicit MainBundle(const TempDir& dir, const ObjectBundle& content, const char* name = "map.w3o") {
        path = splitPath(dir / name);
        std::string error;
        EXPECT_TRUE(content.save(path.fullPath, error)) << error;
        EXPECT_TRUE(bundle.load(path.fullPath));
    }
    BundlePath path;
    ObjectBundle bundle;
};

ObjectBundle footmanBundle() {
    ObjectBundle b;
    put(b, ObjectKind::Units, makeObject("hfoo", "", {textField("unam", "Footman")}));
    put(b, ObjectKind::Units, makeObject("hkni", "", {textField("unam", "Knight")}));
    put(b, ObjectKind::Units, makeObject("hpea", "A000", {textField("utip", "A000")}));
    return b;
}

TEST(ReplaceCommand, WithoutBackupsOnlyTheBundleInMemoryChanges) {
    TempDir dir;
    MainBundle main(dir, footmanBundle());
    const Bytes mainBytes = readAll(main.path.fullPath);
    writeAll(dir / "list.txt", std::string("hfoo h001\n"));
    writeAll(dir / "trig.wtg", std::string("call hfoo;"));
    RecordingSink sink;
    ReplaceRequest request{dir / "list.txt", {dir / "trig.wtg"}, false};
    ReplaceReport report = replaceIdentifiers(main.bundle, main.path, true, request, sink);
    EXPECT_TRUE(sink.messages.empty());
    ASSERT_EQ(report.renames.size(), 1u);
    EXPECT_FALSE(report.bundleWritten);
    EXPECT_EQ(readAll(main.path.fullPath), mainBytes);
    const Bytes trig = readAll(dir / "trig.wtg");
    EXPECT_EQ(std::string(trig.begin(), trig.end()), "call hfoo;");
    EXPECT_FALSE(fs::exists(dir / "BACKUP_trig.wtg"));
    EXPECT_FALSE(fs::exists(dir / "BACKUP_map.w3o"));
    EXPECT_TRUE(main.bundle.kind(ObjectKind::Units).file.customTable.contains(id("h001")));

    // Again with backups: the list applies to the renamed bundle (nothing left to rename) and it is written.
    request.keepBackups = true;
    report = replaceIdentifiers(main.bundle, main.path, true, request, sink);
    EXPECT_TRUE(report.listOpened);
    EXPECT_TRUE(report.renames.empty());
    expectCompleted(report, sink, 0, 1);
    EXPECT_EQ(readAll(dir / "BACKUP_map.w3o"), mainBytes);
    ObjectBundle written;
    ASSERT_TRUE(written.load(main.path.fullPath));
    EXPECT_TRUE(written.kind(ObjectKind::Units).file.customTable.contains(id("h001")));

    // Once more: nothing to rename and the file holds the bundle, so nothing is written and the backup stays.
    const Bytes writtenBytes = readAll(main.path.fullPath);
    sink.messages.clear();
    report = replaceIdentifiers(main.bundle, main.path, true, request, sink);
    expectCompleted(report, sink, 0, 0);
    EXPECT_FALSE(report.bundleWritten);
    EXPECT_EQ(readAll(main.path.fullPath), writtenBytes);
    EXPECT_EQ(readAll(dir / "BACKUP_map.w3o"), mainBytes);
}

TEST(ReplaceCommand, SideFilesFollowChainsAndKeepOneBackupOfTheOriginal) {
    TempDir dir;
    MainBundle main(dir, footmanBundle());
    writeAll(dir / "list.txt", std::string("A000 B000\r\nB000 C000 // chain\nhkni h002\nzzzz yyyy\n"));
    const std::string trig = "A000 B000 zzzz hkni hknix";
    writeAll(dir / "trig.wct", trig);
    RecordingSink sink;
    const ReplaceReport report =
        replaceIdentifiers(main.bundle, main.path, true, {dir / "list.txt", {dir / "trig.wct"}, true}, sink);
    expectCompleted(report, sink, 3, 2);
    ASSERT_EQ(report.renames.size(), 3u);
    const Bytes patched = readAll(dir / "trig.wct");
    EXPECT_EQ(std::string(patched.begin(), patched.end()), "C000 C000 zzzz h002 h002x");
    const Bytes backup = readAll(dir / "BACKUP_trig.wct");
    EXPECT_EQ(std::string(backup.begin(), backup.end()), trig);
}

TEST(ReplaceCommand, SideFileNamedTwiceIsBackedUpOnceAndPatchedTwicePerRename) {
    TempDir dir;
    ObjectBundle content;
    put(content, ObjectKind::Units, makeObject("hfoo", "", {intField("uhpm", 1)}));
    MainBundle main(dir, content);
    writeAll(dir / "list.txt", std::string("hfoo xhfo"));
    writeAll(dir / "trig.wtg", std::string("hfooo"));
    RecordingSink sink;
    const fs::path row = dir / "trig.wtg";
    const fs::path sameByAnotherName = dir.path() / "." / "trig.wtg";
    replaceIdentifiers(main.bundle, main.path, true, {dir / "list.txt", {row, sameByAnotherName}, true}, sink);
    // First pass: 'hfooo' -> 'xhfoo'; the second pass finds the 'hfoo' the first one wrote.
    const Bytes patched = readAll(row);
    EXPECT_EQ(std::string(patched.begin(), patched.end()), "xxhfo");
    const Bytes backup = readAll(dir / "BACKUP_trig.wtg");
    EXPECT_EQ(std::string(backup.begin(), backup.end()), "hfooo");
}

// A run that cannot do everything does nothing: no file is patched, written or backed up.
TEST(ReplaceCommand, AFailureBeforeWritingLeavesEveryFileAsItWas) {
    struct Case {
        const char* what;
        std::string list; // the replace list's name in the folder
        std::vector<std::string> sides;
        std::string message; // the one message, {dir} standing for the folder
    };
    const std::vector<Case> cases = {
        {"missing side file",
         "list.txt",
         {"missing.wtg", "trig.wct"},
         "Failed to patch file {dir}/missing.wtg (No such file or directory); replace aborted"},
        {"unreadable list",
         "nope.txt",
         {"trig.wct"},
         "Sorry, can't open Replace List file {dir}/nope.txt (No such file or directory)"},
        {"list is a folder",
         "folder",
         {"trig.wct"},
         "Sorry, can't open Replace List file {dir}/folder (it is a folder)"},
        {"main file as side file",
         "list.txt",
         {"trig.wct", "map.w3o"},
         "Side file {dir}/map.w3o is the main file itself; nothing was written"},
        {"list as side file",
         "list.txt",
         {"./list.txt"},
         "Side file {dir}/./list.txt is the replace list itself; nothing was written"},
        {"read-only side file",
         "list.txt",
         {"readonly.wtg", "trig.wct"},
         "Failed to patch file {dir}/readonly.wtg, replace aborted (the file is read-only)"},
        {"a list line without its pair",
         "bad.txt",
         {"trig.wct"},
         "Replace list {dir}/bad.txt is refused, nothing was changed: each line must hold whole pairs of "
         "four-character identifiers, the old one and the new one.\n"
         "{dir}/bad.txt, line 2: not a pair of four-character identifiers; read as 'hkni'"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        MainBundle main(dir, footmanBundle());
        const Bytes mainBytes = readAll(main.path.fullPath);
        writeAll(dir / "list.txt", std::string("hfoo h001 hkni h002"));
        writeAll(dir / "trig.wct", std::string("hfoo hkni"));
        writeAll(dir / "bad.txt", std::string("hfoo h001\r\nhkni\t// knight\r\n"));
        writeAll(dir / "readonly.wtg", std::string("hfoo"));
        fs::permissions(dir / "readonly.wtg", fs::perms(0444));
        fs::create_directory(dir / "folder");
        std::vector<fs::path> rows;
        for (const std::string& side : c.sides)
            rows.push_back(dir.path() / side);
        RecordingSink sink;
        const ReplaceReport report = replaceIdentifiers(main.bundle, main.path, true, {dir / c.list, rows, true}, sink);
        // "{dir}/name" stands for the file's path as this system spells it.
        std::string expected = c.message;
        for (std::size_t at; (at = expected.find("{dir}/")) != std::string::npos;) {
            const std::size_t end = expected.find_first_of(" ,", at);
            const std::string name = expected.substr(at + 6, end - at - 6);
            expected.replace(at, end - at, pathText(dir.path() / fs::path(name)));
        }
        EXPECT_EQ(sink.messages, std::vector<std::string>{expected}) << c.what;
        EXPECT_TRUE(report.failed) << c.what;
        EXPECT_FALSE(report.bundleWritten) << c.what;
        EXPECT_EQ(readAll(main.path.fullPath), mainBytes) << c.what;
        EXPECT_EQ(textOf(readAll(dir / "trig.wct")), "hfoo hkni") << c.what;
        for (const char* name : {"BACKUP_map.w3o", "BACKUP_trig.wct", "BACKUP_readonly.wtg", "missing.wtg"})
            EXPECT_FALSE(fs::exists(dir / name)) << c.what << ": " << name;
    }
}

TEST(ReplaceCommand, CollisionsInTheSameKindAndAcrossKindsAreReported) {
    TempDir dir;
    ObjectBundle content;
    put(content, ObjectKind::Items, makeObject("ratf", "A001", {textField("unam", "Long Sword")}));
    put(content, ObjectKind::Items, makeObject("ratf", "A002", {textField("unam", "Short Sword")}));
    put(content, ObjectKind::Items, makeObject("ratf", "A003", {textField("unam", "Dagger")}));
    put(content, ObjectKind::Items, makeObject("ratf", "I000", {textField("unam", "Claws")}));
    put(content, ObjectKind::Items, makeObject("ratf", "I001", {textField("unam", "Gloves")}));
    put(content, ObjectKind::Abilities, makeObject("AHbz", "A072", {textField("anam", "Blizzard")}));
    put(content, ObjectKind::Abilities, makeObject("AHbz", "A073", {}));
    put(content, ObjectKind::Units, makeObject("hfoo", "", {intField("uhpm", 1)}));
    MainBundle main(dir, content);
    // A001 lands on A002, which stays; A003 -> A004 -> A003 lands on nothing. The ability A072 lands on the
    // item I000, and the standard unit hfoo on the item A003; identifiers differing in case are two identifiers.
    writeAll(dir / "list.txt", std::string("A001 A002\nA003 A004\nA004 A003\nA072 I000\nA073 i001\nhfoo A003\n"));
    RecordingSink sink;
    const ReplaceReport report = replaceIdentifiers(main.bundle, main.path, true, {dir / "list.txt", {}, true}, sink);
    std::vector<std::string> texts;
    for (const Collision& c : report.collisions)
        texts.push_back(collisionText(c));
    EXPECT_EQ(texts,
              (std::vector<std::string>{
                  "A001 -> A002 collides with the existing A002 'Short Sword'; glued",
                  "ability A072 -> I000 collides with the existing item I000 'Claws'; two objects now carry I000",
                  "unit hfoo -> A003 collides with the existing item A003 'Dagger'; two objects now carry A003"}));
    expectCompleted(report, sink, 6, 1);
}

TEST(ReplaceCommand, NeverWritesOverAMainFileThatDidNotLoad) {
    TempDir dir;
    writeAll(dir / "broken.w3o", std::string("\x01\x00\x00\x00\x01", 5));
    const BundlePath path = splitPath(dir / "broken.w3o");
    ObjectBundle empty;
    writeAll(dir / "list.txt", std::string("hfoo h001"));
    RecordingSink sink;
    replaceIdentifiers(empty, path, false, {dir / "list.txt", {}, true}, sink);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"Main object file " + pathText(dir / "broken.w3o") +
                                                      " was not loaded; nothing was written"});
    EXPECT_EQ(readAll(dir / "broken.w3o").size(), 5u);
    EXPECT_FALSE(fs::exists(dir / "BACKUP_broken.w3o"));

    // With no main bundle chosen at all, the backup of the empty path fails.
    RecordingSink none;
    replaceIdentifiers(empty, BundlePath{}, false, {dir / "list.txt", {}, true}, none);
    EXPECT_EQ(none.messages, std::vector<std::string>{"Failed to create backup file BACKUP_, replace aborted"});
}

#ifndef _WIN32 // the file size limit is a POSIX resource limit
// Lets this process write files of at most `bytes` bytes; root is bound by it too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit old_{};
    void (*previous_)(int) = nullptr;
};

TEST(ReplaceCommand, FailedSaveIsReportedInsteadOfCompletion) {
    TempDir dir;
    MainBundle main(dir, footmanBundle());
    const Bytes before = readAll(main.path.fullPath);
    // The bundle grew in memory since it was loaded; the disk takes the backup but not the bigger bundle.
    put(main.bundle, ObjectKind::Units, makeObject("hrif", "", {textField("utip", std::string(5000, 'x'))}));
    writeAll(dir / "list.txt", std::string("hfoo h001"));
    RecordingSink sink;
    ReplaceReport report;
    {
        FileSizeLimit limit(4096);
        report = replaceIdentifiers(main.bundle, main.path, true, {dir / "list.txt", {}, true}, sink);
    }
    EXPECT_EQ(sink.messages, std::vector<std::string>{"Failed to write object file " + pathText(main.path.fullPath) +
                                                      " (File too large)"});
    EXPECT_FALSE(report.bundleWritten);
    EXPECT_EQ(readAll(main.path.fullPath), before);
    EXPECT_FALSE(fs::exists(dir / "BACKUP_map.w3o"));
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 2u); // the bundle and the list: no backup, no temporary file left behind
}
#endif

TEST(IdList, ListsEveryIdentifierOnceInByteOrderWithNames) {
    ObjectBundle bundle;
    put(bundle, ObjectKind::Units, makeObject("hfoo", "", {textField("unam", "Foot\r\nman\nat\rarms")}));
    put(bundle, ObjectKind::Units, makeObject("hfoo", "h000", {intField("uhpm", 1)}));
    put(bundle, ObjectKind::Items, makeObject("ratf", "Hpal", {textField("unam", "Paladin item")}));
    put(bundle, ObjectKind::Items, makeObject("ratf", "hfoo", {textField("unam", "second hfoo")}));
    EXPECT_EQ(idListText(bundle), "Hpal\tHpal\t// Paladin item\r\nh000\th000\r\nhfoo\thfoo\t// Foot man at arms\r\n");
    EXPECT_EQ(idListText(ObjectBundle{}), "");

    TempDir dir;
    std::string error;
    ASSERT_TRUE(writeIdList(bundle, dir / "ids.txt", error));
    const Bytes text = readAll(dir / "ids.txt");
    EXPECT_EQ(std::string(text.begin(), text.end()), idListText(bundle));
    EXPECT_FALSE(writeIdList(bundle, dir / "no folder" / "ids.txt", error));
    EXPECT_NE(error.find("ids.txt"), std::string::npos);
}

TEST(IdList, FedBackAsAReplaceListChangesNothing) {
    TempDir dir;
    ObjectBundle content = footmanBundle();
    put(content, ObjectKind::Abilities, makeObject("AHbz", "A001", {idField("aord", "hfoo")}));
    // A name on two lines, whose second line would read as a pair.
    put(content, ObjectKind::Abilities, makeObject("AHbz", "A002", {textField("anam", "Storm\r\nA001 A003")}));
    MainBundle main(dir, content);
    const Bytes before = readAll(main.path.fullPath);
    std::string error;
    ASSERT_TRUE(writeIdList(main.bundle, dir / "ids.txt", error));
    RecordingSink sink;
    const ReplaceReport report = replaceIdentifiers(main.bundle, main.path, true, {dir / "ids.txt", {}, true}, sink);
    EXPECT_FALSE(report.failed);
    EXPECT_TRUE(report.renames.empty());
    EXPECT_EQ(readAll(main.path.fullPath), before);
}

// Random bundles, lists and side files: the real command and the plain one leave the same bytes everywhere.
class RandomCase {
public:
    // With `plainIds`, identifiers are made of letters and digits only: no wildcard, no delimiter.
    explicit RandomCase(unsigned seed, bool plainIds = false) : rng_(seed), plain_(plainIds) {}

    ObjectId randomId() {
        static const char letters[] = {'a', 'A', 'b', '%', '_', '1', ',', '\x80'};
        ObjectId out;
        for (auto& b : out.bytes)
            b = static_cast<std::uint8_t>(plain_ ? "aAb1"[rng_() % 4] : letters[rng_() % sizeof letters]);
        if (rng_() % 3 == 0)
            out = pool_[rng_() % pool_.size()];
        return out;
    }
    std::string randomText() {
        std::string text;
        const int words = static_cast<int>(rng_() % 6);
        for (int i = 0; i < words; ++i) {
            const ObjectId w = pool_[rng_() % pool_.size()];
            text.append(w.raw());
            static const char gaps[] = {' ', ',', 'x', '(', '\x90', '_'};
            if (rng_() % 4)
                text += gaps[rng_() % sizeof gaps];
        }
        return text;
    }
    ObjectBundle bundle() {
        ObjectBundle b;
        const int count = static_cast<int>(rng_() % 14);
        for (int i = 0; i < count; ++i) {
            const ObjectKind kind = kAllObjectKinds[rng_() % 3];
            ObjectRecord r;
            r.baseId = randomId();
            if (rng_() % 2)
                r.newId = randomId();
            const int mods = 1 + static_cast<int>(rng_() % 4);
            for (int m = 0; m < mods; ++m) {
                static const char* fields[] = {"unam", "utip", "uhpm", "ubui", "anam"};
                const char* field = fields[rng_() % 5];
                if (rng_() % 2)
                    r.addOrReplace(textField(field, randomText()));
                else
                    r.addOrReplace(
                        intField(field, rng_() % 8 == 0 ? 0 : static_cast<std::int32_t>(randomId().value())));
            }
            put(b, kind, std::move(r));
        }
        return b;
    }
    std::string list() {
        std::string text;
        const int pairs = static_cast<int>(rng_() % 6);
        for (int i = 0; i < pairs; ++i) {
            ObjectId from = pool_[rng_() % pool_.size()];
            ObjectId to = randomId();
            if (!plain_ && rng_() % 4 == 0)
                from.bytes[rng_() % 4] = '%';
            if (!plain_ && rng_() % 4 == 0)
                to.bytes[rng_() % 4] = '%';
            if (rng_() % 10 == 0)
                to = kSentinelId;
            text.append(from.raw()).append(" ").append(to.raw()).append("\n");
        }
        return text;
    }
    Bytes sideFile() {
        Bytes out;
        const int n = static_cast<int>(rng_() % 40);
        for (int i = 0; i < n; ++i) {
            if (rng_() % 2) {
                const ObjectId w = pool_[rng_() % pool_.size()];
                const std::size_t cut = rng_() % 5 == 0 ? 2 : 4;
                out.insert(out.end(), w.bytes.begin(), w.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
            } else {
                out.push_back(static_cast<std::uint8_t>("aA_1b%,"[rng_() % 7]));
            }
        }
        return out;
    }
    MergePolicy policy() { return static_cast<MergePolicy>(rng_() % 3); }
    std::mt19937& rng() { return rng_; }

    void seedPool() {
        pool_.clear();
        for (int i = 0; i < 6; ++i) {
            ObjectId id;
            for (auto& b : id.bytes)
                b = static_cast<std::uint8_t>(plain_ ? "aAb1"[rng_() % 4] : "aAb_1%"[rng_() % 6]);
            pool_.push_back(id);
        }
    }

private:
    std::mt19937 rng_;
    bool plain_;
    std::vector<ObjectId> pool_;
};

std::vector<std::string> renameTexts(const ReplaceReport& report) {
    std::vector<std::string> out;
    for (const RenameEntry& e : report.renames)
        out.push_back(escapedBytes(e.fromId) + ">" + escapedBytes(e.toId) + ":" + e.displayName.value_or("-"));
    return out;
}

TEST(ReplaceCommand, MatchesThePlainStepByStepCommandOnRandomInput) {
    int renamingCases = 0;
    for (unsigned seed = 0; seed < 1500; ++seed) {
        RandomCase gen(seed);
        gen.seedPool();
        const MergePolicy policy = gen.policy();
        ObjectBundle content = gen.bundle();
        const std::string list = gen.list();
        std::vector<Bytes> sides = {gen.sideFile(), gen.sideFile()};
        const bool twice = gen.rng()() % 3 == 0;
        const bool backups = gen.rng()() % 5 != 0;

        TempDir plainDir;
        TempDir fastDir;
        struct Run {
            const TempDir& dir;
            ReplaceReport report;
            RecordingSink sink;
        };
        std::vector<Run> runs;
        runs.push_back({plainDir, {}, {}});
        runs.push_back({fastDir, {}, {}});
        for (std::size_t r = 0; r < 2; ++r) {
            const TempDir& dir = runs[r].dir;
            writeAll(dir / "list.txt", list);
            writeAll(dir / "a.wtg", sides[0]);
            writeAll(dir / "b.wct", sides[1]);
            std::vector<fs::path> rows = {dir / "a.wtg", dir / "b.wct"};
            if (twice)
                rows.push_back(dir.path() / "." / "a.wtg");
            ObjectBundle bundle;
            std::string error;
            ASSERT_TRUE(content.save(dir / "map.w3o", error));
            ASSERT_TRUE(bundle.load(dir / "map.w3o", policy));
            const ReplaceRequest request{dir / "list.txt", rows, backups};
            runs[r].report =
                r == 0
                    ? plainReplaceIdentifiers(bundle, splitPath(dir / "map.w3o"), true, request, runs[r].sink, policy)
                    : replaceIdentifiers(bundle, splitPath(dir / "map.w3o"), true, request, runs[r].sink, policy);
            // The bundle in memory, whether or not it was written.
            ASSERT_TRUE(saveBytes(dir / "memory.bin", bundle.toBytes().data(), bundle.toBytes().size(), error));
        }
        SCOPED_TRACE("seed " + std::to_string(seed) + " list:\n" + list);
        EXPECT_EQ(renameTexts(runs[0].report), renameTexts(runs[1].report));
        EXPECT_EQ(runs[0].sink.messages.size(), runs[1].sink.messages.size());
        for (const char* name :
             {"memory.bin", "map.w3o", "BACKUP_map.w3o", "a.wtg", "b.wct", "BACKUP_a.wtg", "BACKUP_b.wct"}) {
            EXPECT_EQ(fs::exists(plainDir / name), fs::exists(fastDir / name)) << name;
            EXPECT_EQ(readAll(plainDir / name), readAll(fastDir / name)) << name;
        }
        renamingCases += runs[1].report.renames.empty() ? 0 : 1;
        if (::testing::Test::HasFailure())
            break;
    }
    EXPECT_GT(renamingCases, 500);
}

// Renames, names and value counts of a plan, entries with the same identifiers taken together.
std::vector<std::string> planTexts(const std::vector<PlannedRename>& renames) {
    std::vector<PlannedRename> merged;
    for (const PlannedRename& r : renames) {
        auto same = std::find_if(merged.begin(), merged.end(), [&](const PlannedRename& m) {
            return m.entry.fromId == r.entry.fromId && m.entry.toId == r.entry.toId;
        });
        if (same == merged.end()) {
            merged.push_back(r);
            continue;
        }
        same->values.strings += r.values.strings;
        same->values.integers += r.values.integers;
    }
    std::vector<std::string> out;
    for (const PlannedRename& r : merged)
        out.push_back(escapedBytes(r.entry.fromId) + ">" + escapedBytes(r.entry.toId) + ":" +
                      r.entry.displayName.value_or("-") + ":" + std::to_string(r.values.strings) + "," +
                      std::to_string(r.values.integers));
    return out;
}

// Plain renames have their references rewritten together in one pass; the bytes, the names in the report and
// the counts are those of rewriting each pair's references before the next pair.
TEST(ReplacePlan, RewritingRenamesTogetherMatchesRewritingThemOneAfterAnother) {
    int plainCases = 0;
    for (unsigned seed = 0; seed < 1500; ++seed) {
        RandomCase gen(seed, seed % 4 != 0);
        gen.seedPool();
        // Loaded from a file, the objects keep their modifications as the file's bytes, which the copy shares.
        TempDir dir;
        save(gen.bundle(), dir / "map.w3o");
        ObjectBundle together = load(dir / "map.w3o");
        const MergePolicy policy = gen.policy();
        ObjectBundle oneByOne = together;
        const std::string text = gen.list();
        ReplaceListContents list;
        std::string error;
        ASSERT_TRUE(parseReplaceList(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), "list",
                                     list, error));
        std::vector<SideText> noSides;
        ObjectBundle* const bundles[] = {&together};
        const ReplacePlan plan = planReplace(bundles, policy, list.pairs, noSides);
        const std::vector<PlannedRename> reference = plainPlanRenames(oneByOne, list.pairs, noSides, policy);
        SCOPED_TRACE("seed " + std::to_string(seed) + " list:\n" + text);
        EXPECT_EQ(planTexts(plan.renames), planTexts(reference));
        EXPECT_EQ(together.toBytes(), oneByOne.toBytes());
        plainCases += !plan.renames.empty() && text.find('%') == std::string::npos;
        if (::testing::Test::HasFailure())
            break;
    }
    EXPECT_GT(plainCases, 150);
}

} // namespace
} // namespace brindlemark

namespace brindlemark {
namespace {

using namespace testing;
namespace fs = std::filesystem;

// A failure at any step of any file operation leaves every file either as it was or wholly new, never a mix of
// the two within one file, and the run says so.
TEST(ReplaceCommand, AFailureAtEveryStepLeavesEachFileOldOrWhollyNew) {
    bool sawSuccess = false;
    for (int failAt = 1; !sawSuccess; ++failAt) {
        ASSERT_LT(failAt, 200);
        TempDir dir;
        ObjectBundle content;
        put(content, ObjectKind::Units, makeObject("hfoo", "h000", {textField("utip", "h001")}));
        put(content, ObjectKind::Units, makeObject("hfoo", "h001", {textField("unam", "Guard")}));
        std::string error;
        ASSERT_TRUE(content.save(dir / "map.w3o", error));
        writeAll(dir / "list.txt", std::string("h000 h00A\nh001 h00B\n"));
        writeAll(dir / "a.wtg", std::string("h000 h001"));
        writeAll(dir / "b.wct", std::string("call h001"));
        const std::vector<std::string> names = {"map.w3o", "a.wtg", "b.wct"};
        std::vector<Bytes> before;
        for (const std::string& n : names)
            before.push_back(readAll(dir / n));
        ObjectBundle bundle;
        ASSERT_TRUE(bundle.load(dir / "map.w3o"));
        int step = 0;
        setFaultHook([&](FileStep, const fs::path&) { return ++step == failAt ? EIO : 0; });
        RecordingSink sink;
        const ReplaceReport report = replaceIdentifiers(bundle, splitPath(dir / "map.w3o"), true,
                                                        {dir / "list.txt", {dir / "a.wtg", dir / "b.wct"}, true}, sink);
        setFaultHook(nullptr);
        sawSuccess = !report.failed;
        const std::vector<std::string> after = {"", textOf(readAll(dir / "a.wtg")), textOf(readAll(dir / "b.wct"))};
        EXPECT_TRUE(after[1] == "h000 h001" || after[1] == "h00A h00B") << after[1];
        EXPECT_TRUE(after[2] == "call h001" || after[2] == "call h00B") << after[2];
        ObjectBundle written;
        ASSERT_TRUE(written.load(dir / "map.w3o")) << "step " << failAt;
        if (report.failed) {
            ASSERT_EQ(sink.messages.size(), 1u);
            EXPECT_NE(sink.messages[0].find(errorText(EIO)), std::string::npos) << sink.messages[0];
        } else {
            EXPECT_EQ(after[1], "h00A h00B");
            EXPECT_EQ(after[2], "call h00B");
            EXPECT_EQ(readAll(dir / "BACKUP_map.w3o"), before[0]);
        }
        // Only the files of the run and their backups: no temporary is left.
        std::size_t files = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path()))
            ++files;
        EXPECT_LE(files, 7u) << "step " << failAt;
    }
}

} // namespace
} // namespace brindlemark
