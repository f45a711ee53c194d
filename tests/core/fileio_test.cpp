// Writing files: what a save keeps of the file it replaces, what it refuses, and what a failure leaves behind.
#include "core/fileio.h"

#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brindlemark {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::readAll;
using testing::TempDir;
using testing::writeAll;
namespace fs = std::filesystem;

std::size_t entriesIn(const fs::path& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir))
        ++n;
    return n;
}

#ifndef _WIN32
TEST(SaveFile, WritesThroughALinkAndKeepsItsModeAndTheLink) {
    TempDir dir;
    writeAll(dir / "real.w3o", "old");
    fs::permissions(dir / "real.w3o", fs::perms(0640));
    fs::create_symlink("real.w3o", dir / "link.w3o");
    std::string error;
    ASSERT_TRUE(saveBytes(dir / "link.w3o", "new", 3, error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "link.w3o"));
    EXPECT_EQ(readAll(dir / "real.w3o"), bytesOf("new"));
    EXPECT_EQ(fs::status(dir / "real.w3o").permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(entriesIn(dir.path()), 2u);
    // A link whose file does not exist yet: the file is made where it points, through a second link too; a link
    // into a folder that does not exist is refused. The links stay links.
    fs::create_symlink("new.w3o", dir / "dangling.w3o");
    fs::create_symlink("dangling.w3o", dir / "twice.w3o");
    ASSERT_TRUE(saveBytes(dir / "twice.w3o", "made", 4, error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.w3o") && fs::is_symlink(dir / "twice.w3o"));
    EXPECT_EQ(readAll(dir / "new.w3o"), bytesOf("made"));
    fs::create_symlink("absent/x.w3o", dir / "nowhere.w3o");
    EXPECT_FALSE(saveBytes(dir / "nowhere.w3o", "lost", 4, error));
    EXPECT_TRUE(fs::is_symlink(dir / "nowhere.w3o"));
    EXPECT_EQ(entriesIn(dir.path()), 6u);
}

TEST(SaveFile, RefusesWhatItMustNotReplace) {
    TempDir dir;
    writeAll(dir / "readonly.w3o", "old");
    fs::permissions(dir / "readonly.w3o", fs::perms(0444));
    fs::create_directory(dir / "folder.w3o");
    struct Case {
        fs::path target;
        std::string message;
    };
    const std::vector<Case> cases = {
        {dir / "readonly.w3o", "the file is read-only"},
        {dir / "folder.w3o", "not a regular file"},
        {"/dev/null", "not a regular file"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(saveBytes(c.target, "new", 3, error)) << c.target;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    EXPECT_EQ(readAll(dir / "readonly.w3o"), bytesOf("old"));
    EXPECT_EQ(entriesIn(dir.path()), 2u);
}

TEST(SaveFile, ALinkPlantedAtATemporaryNameIsNotFollowed) {
    TempDir dir;
    writeAll(dir / "victim", "precious");
    fs::create_symlink(dir / "victim", dir / "planted.tmp");
    std::FILE* file = createFileExclusive(dir / "planted.tmp");
    EXPECT_EQ(file, nullptr);
    if (file)
        std::fclose(file);
    EXPECT_EQ(readAll(dir / "victim"), bytesOf("precious"));
}

TEST(SaveFile, ANameAsLongAsTheSystemAllowsCanBeWritten) {
    TempDir dir;
    const fs::path target = dir / (std::string(251, 'n') + ".w3o");
    std::string error;
    ASSERT_TRUE(saveBytes(target, "data", 4, error)) << error;
    EXPECT_EQ(readAll(target), bytesOf("data"));
}

TEST(SaveFile, TemporariesOfADeadRunAreRemovedByTheNextSave) {
    TempDir dir;
    // A temporary of a process that cannot exist (pid far above any limit), and one of this process.
    const std::string ours = temporaryBeside(dir / "map.w3o").filename().string();
    const std::string prefix = ours.substr(0, ours.find('-') + 1);
    writeAll(dir / (prefix + "999999999-3.tmp"), "left by a killed run");
    fs::create_directory(dir / (prefix + "999999999-4.tmp")); // a backup folder it was making
    writeAll(dir / (prefix + "999999999-4.tmp") / "war3map.w3u", "old units");
    writeAll(dir / "unrelated.tmp", "keep");
    // A writer that writes through a temporary of its own (the map archive writer) names it after the target.
    EXPECT_EQ(temporaryBeside(temporaryBeside(dir / "map.w3o")).filename().string().substr(0, prefix.size()), prefix);
    // Earlier runs named it after the first temporary: "~bm" and the name's FNV-1a hash.
    std::uint32_t hash = 2166136261u;
    for (const char c : prefix + "999999999-3.tmp")
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    char inner[32];
    std::snprintf(inner, sizeof inner, "~bm%08x-999999999-5.tmp", hash);
    writeAll(dir / inner, "the archive a killed run was writing");
    const std::string alive = prefix + "1-6.tmp"; // of a process that runs (init), which may still use it
    writeAll(dir / alive, "in use");
    std::string error;
    ASSERT_TRUE(saveBytes(dir / "map.w3o", "data", 4, error)) << error;
    EXPECT_FALSE(fs::exists(dir / (prefix + "999999999-3.tmp")));
    EXPECT_FALSE(fs::exists(dir / (prefix + "999999999-4.tmp")));
    EXPECT_FALSE(fs::exists(dir / inner));
    EXPECT_TRUE(fs::exists(dir / "unrelated.tmp"));
#ifndef _WIN32
    EXPECT_TRUE(fs::exists(dir / alive));
#endif
}

TEST(FileLock, ASecondRunWaitsThenFailsNamingTheFile) {
    TempDir dir;
    writeAll(dir / "map.w3o", "data");
    FileLock first;
    std::string error;
    ASSERT_TRUE(first.acquire(dir / "map.w3o", error)) << error;
    FileLock second;
    EXPECT_FALSE(second.acquire(dir / "map.w3o", error, std::chrono::milliseconds(100)));
    EXPECT_NE(error.find("map.w3o: another run is changing this file"), std::string::npos) << error;
    first.release();
    EXPECT_TRUE(second.acquire(dir / "map.w3o", error, std::chrono::milliseconds(100))) << error;
}
#endif

TEST(FileTransaction, AFailureAtAnyStepLeavesEveryFileAsItWasOrWhollyNew) {
    TempDir dir;
    const std::vector<fs::path> files = {dir / "a.w3o", dir / "b.wtg", dir / "BACKUP_a.w3o"};
    const auto reset = [&] {
        writeAll(files[0], "a-old");
        writeAll(files[1], "b-old");
        fs::remove(files[2]);
    };
    const auto run = [&](std::string& error) {
        FileTransaction t;
        return t.stageCopy(files[0], files[2], error) && t.stage(files[0], bytesOf("a-new"), error) &&
               t.stage(files[1], bytesOf("b-new"), error) && t.commit(error);
    };
    bool sawCommitFailure = false;
    for (int failAt = 1;; ++failAt) {
        reset();
        int step = 0;
        setFaultHook([&](FileStep, const fs::path&) { return ++step == failAt ? ENOSPC : 0; });
        std::string error;
        const bool ok = run(error);
        setFaultHook(nullptr);
        if (ok) {
            EXPECT_EQ(readAll(files[0]), bytesOf("a-new"));
            EXPECT_EQ(readAll(files[1]), bytesOf("b-new"));
            EXPECT_EQ(readAll(files[2]), bytesOf("a-old"));
            break;
        }
        EXPECT_NE(error.find(errorText(ENOSPC)), std::string::npos) << error;
        // Each file is old or new, never anything else, and no temporary is left.
        EXPECT_TRUE(readAll(files[0]) == bytesOf("a-old") || readAll(files[0]) == bytesOf("a-new"));
        EXPECT_TRUE(readAll(files[1]) == bytesOf("b-old") || readAll(files[1]) == bytesOf("b-new"));
        if (readAll(files[0]) == bytesOf("a-new") || fs::exists(files[2])) {
            sawCommitFailure = true;
            EXPECT_NE(error.find("files holding their new contents: "), std::string::npos) << error;
        }
        EXPECT_EQ(entriesIn(dir.path()), fs::exists(files[2]) ? 3u : 2u) << "at step " << failAt;
        ASSERT_LT(failAt, 100);
    }
    EXPECT_TRUE(sawCommitFailure);
}

TEST(FileTransaction, ABackupFolderOfNoFilesIsNotMadeAndKeepsTheEarlierOne) {
    TempDir dir;
    const fs::path backup = dir / "BACKUP_map.w3x";
    for (const bool earlier : {false, true}) {
        if (earlier)
            writeAll((fs::create_directory(backup), backup / "war3map.w3u"), "old units");
        FileTransaction t;
        std::string error;
        ASSERT_TRUE(t.stageBackupFolder(backup, {}, error) && t.stage(dir / "added.w3u", bytesOf("new"), error) &&
                    t.commit(error))
            << error;
        EXPECT_EQ(fs::exists(backup), earlier);
        if (earlier)
            EXPECT_EQ(readAll(backup / "war3map.w3u"), bytesOf("old units"));
    }
}

TEST(FileStamp, SeesAChangeOfContentsEvenWithSizeAndTimeKept) {
    TempDir dir;
    writeAll(dir / "a.w3o", "abcd");
    const FileStamp before = stampFile(dir / "a.w3o");
    const auto time = fs::last_write_time(dir / "a.w3o");
    writeAll(dir / "a.w3o", "abce");
    fs::last_write_time(dir / "a.w3o", time);
    EXPECT_TRUE(before.exists);
    EXPECT_NE(stampFile(dir / "a.w3o"), before);
    EXPECT_FALSE(stampFile(dir / "missing.w3o").exists);
}

} // namespace
} // namespace brindlemark
