// The renaming and merging commands of brindlemark-cli, run as a map maker runs them from a build script.
#include "core/fileio.h"
#include "core/objectbundle.h"
#include "tests/cli/clirun.h"
#include "tests/replace/bundlefixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace brindlemark {
namespace {

using namespace testing;
namespace fs = std::filesystem;
using ::testing::HasSubstr;

ObjectBundle sampleBundle() {
    ObjectBundle b;
    put(b, ObjectKind::Units, makeObject("hfoo", "", {textField("unam", "Footman")}));
    put(b, ObjectKind::Units,
        makeObject("hfoo", "h000", {textField("unam", "Guard"), textField("utip", "Beats hpea.")}));
    put(b, ObjectKind::Units, makeObject("hpea", "h001", {textField("unam", "Worker")}));
    put(b, ObjectKind::Abilities, makeObject("AHbz", "A000", {idField("aord", "h000")}));
    return b;
}

TEST(CliReplace, RenamesBundleAndTriggerFilesWithBackups) {
    TempDir dir;
    save(sampleBundle(), dir / "war3map.w3o");
    const Bytes original = readAll(dir / "war3map.w3o");
    // A byte-order mark directly before the first token, comments, and a wildcard pair.
    writeAll(dir / "list.txt", std::string("\xEF\xBB\xBFh000 u000 // guard\r\n"
                                           "// the workers\n"
                                           "h%%% w%%%\n"));
    writeAll(dir / "war3map.wtg", std::string("CreateUnit(h000) h001 hfoo h000h000"));
    writeAll(dir / "war3map.wct", std::string("call h001"));

    const CliRun run = runCli({"replace", pathText(dir / "war3map.w3o"), "--list", pathText(dir / "list.txt"), "--side",
                               pathText(dir / "war3map.wtg"), "--side", pathText(dir / "war3map.wct")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "h000\tu000\nh001\tw001\nhfoo\twfoo\n");
    EXPECT_THAT(run.err, HasSubstr("brindlemark-cli: " + pathText(dir / "war3map.w3o") +
                                   ": renamed 3 identifiers, changed 3 files"));
    EXPECT_FALSE(hasCyrillic(run.err)) << run.err;

    EXPECT_EQ(textOf(readAll(dir / "war3map.wtg")), "CreateUnit(u000) w001 wfoo u000u000");
    EXPECT_EQ(textOf(readAll(dir / "war3map.wct")), "call w001");
    EXPECT_EQ(textOf(readAll(dir / "BACKUP_war3map.wtg")), "CreateUnit(h000) h001 hfoo h000h000");
    EXPECT_EQ(textOf(readAll(dir / "BACKUP_war3map.wct")), "call h001");
    EXPECT_EQ(readAll(dir / "BACKUP_war3map.w3o"), original);

    ObjectBundle result = load(dir / "war3map.w3o");
    const ObjectFile& units = result.kind(ObjectKind::Units).file;
    EXPECT_TRUE(units.standardTable.empty());
    EXPECT_EQ(tableIds(units.customTable), (std::vector<std::string>{"u000", "w001", "wfoo"}));
    EXPECT_EQ(idValueOf(result.kind(ObjectKind::Abilities).file.customTable.at(0), "aord"), "u000");
}

#ifndef _WIN32
// Two runs at once on one file, in each form a run writes: the first holds its locks while it waits for its
// replace list (a pipe the test writes only later); the second waits briefly, names the busy file and changes
// nothing; the first then goes through whole.
TEST(CliReplace, ASecondRunOnAFileInUseChangesNothing) {
    struct Case {
        const char* name;
        const char* first;  // the first run's main file
        const char* second; // the second run's
        const char* side;   // a side file both runs patch, or null
        const char* busy;   // the file the second run names
    };
    const Case cases[] = {
        {"bundle", "a.w3o", "a.w3o", nullptr, "a.w3o"},
        {"folder map", "map.w3x", "map.w3x", nullptr, "map.w3x"},
        {"shared side file", "a.w3o", "b.w3o", "t.wtg", "t.wtg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::create_directory(dir / "map.w3x");
        save(sampleBundle(), dir / "a.w3o");
        save(sampleBundle(), dir / "b.w3o");
        writeAll(dir / "map.w3x" / "war3map.w3u", sampleBundle().objectFileBytes(ObjectKind::Units));
        writeAll(dir / "t.wtg", "h000 h001");
        writeAll(dir / "list.txt", "h001 w001\n");
        ASSERT_EQ(::mkfifo((dir / "list.pipe").c_str(), 0600), 0);
        const auto args = [&](const char* main, const char* list) {
            std::vector<std::string> a = {"replace", pathText(dir / main), "--list", pathText(dir / list)};
            if (c.side)
                a.insert(a.end(), {"--side", pathText(dir / c.side)});
            return a;
        };
        CliRun first;
        std::thread running([&] { first = runCli(args(c.first, "list.pipe")); });
        // The first run opens its list only once it holds its locks.
        int pipe = -1;
        for (int tries = 0; pipe < 0 && tries < 400; ++tries) {
            pipe = ::open((dir / "list.pipe").c_str(), O_WRONLY | O_NONBLOCK);
            if (pipe < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        const fs::path mainFile = fs::is_directory(dir / c.second) ? dir / c.second / "war3map.w3u" : dir / c.second;
        const Bytes mainBefore = readAll(mainFile);
        const Bytes sideBefore = readAll(dir / "t.wtg");
        const CliRun second = runCli(args(c.second, "list.txt"));
        EXPECT_EQ(second.status, 1) << second.err;
        EXPECT_THAT(second.err,
                    HasSubstr("brindlemark-cli: " + pathText(dir / c.busy) + ": another run is changing this file"));
        EXPECT_EQ(readAll(mainFile), mainBefore);
        EXPECT_EQ(readAll(dir / "t.wtg"), sideBefore);
        EXPECT_GE(pipe, 0);
        if (pipe >= 0) {
            EXPECT_EQ(::write(pipe, "h000 u000\n", 10), 10);
            ::close(pipe);
        }
        running.join();
        EXPECT_EQ(first.status, 0) << first.err;
        EXPECT_THAT(first.out, HasSubstr("h000\tu000"));
        if (c.side) {
            EXPECT_EQ(textOf(readAll(dir / "t.wtg")), "u000 h001");
        }
    }
}
// A run killed between the renames of its commit leaves its journal; the next run on those files finishes the
// commit before it reads them, and says so.
TEST(CliReplace, FinishesAndReportsACommitThatAKilledRunLeftHalfDone) {
    TempDir dir;
    save(sampleBundle(), dir / "a.w3o");
    writeAll(dir / "t.wtg", "h000");
    writeAll(dir / "list.txt", "h001 w001\n");
    const Bytes renamed = sampleBundle().toBytes();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int renames = 0;
        setFaultHook([&renames](FileStep step, const fs::path&) {
            if (step == FileStep::Rename && ++renames == 2)
                std::raise(SIGKILL);
            return 0;
        });
        FileTransaction files;
        std::string error;
        const std::string trigger = "u000";
        if (files.stage(dir / "a.w3o", renamed, error) &&
            files.stage(dir / "t.wtg", std::span(reinterpret_cast<const std::uint8_t*>(trigger.data()), trigger.size()),
                        error))
            (void)files.commit(error);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    const CliRun run = runCli(
        {"replace", pathText(dir / "a.w3o"), "--list", pathText(dir / "list.txt"), "--side", pathText(dir / "t.wtg")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("brindlemark-cli: a run that stopped while writing its files was finished"));
    EXPECT_EQ(textOf(readAll(dir / "t.wtg")), "u000");
}
#endif

TEST(CliReplace, ReportsFailuresWithExitStatusOne) {
    TempDir dir;
    save(sampleBundle(), dir / "war3map.w3o");
    writeAll(dir / "list.txt", std::string("h000 u000"));
    const CliRun missingSide = runCli({"replace", pathText(dir / "war3map.w3o"), "--list", pathText(dir / "list.txt"),
                                       "--side", pathText(dir / "none.wtg")});
    EXPECT_EQ(missingSide.status, 1);
    EXPECT_THAT(missingSide.err, HasSubstr("Failed to patch file " + pathText(dir / "none.wtg") +
                                           " (No such file or directory); replace aborted"));
    EXPECT_EQ(missingSide.out, ""); // nothing was written, so no rename is reported as done
    EXPECT_FALSE(fs::exists(dir / "BACKUP_war3map.w3o"));
    EXPECT_FALSE(fs::exists(dir / "none.wtg"));

    const CliRun badPolicy =
        runCli({"replace", pathText(dir / "war3map.w3o"), "--list", pathText(dir / "list.txt"), "--policy", "mix"});
    EXPECT_EQ(badPolicy.status, 2);

    // A list with lines that are not pairs is refused whole, every such line named, in a dry run too.
    const Bytes before = readAll(dir / "war3map.w3o");
    writeAll(dir / "bad.txt", std::string("h000\t// guard\r\nh001 w001\r\nhfoo hfoo1\r\n"));
    for (const bool dryRun : {false, true}) {
        std::vector<std::string> args = {"replace", pathText(dir / "war3map.w3o"), "--list", pathText(dir / "bad.txt")};
        if (dryRun)
            args.push_back("--dry-run");
        const CliRun badList = runCli(args);
        EXPECT_EQ(badList.status, 1) << dryRun;
        EXPECT_EQ(badList.out, "") << dryRun;
        EXPECT_THAT(badList.err, HasSubstr("Replace list " + pathText(dir / "bad.txt") + " is refused")) << dryRun;
        EXPECT_THAT(badList.err, HasSubstr(pathText(dir / "bad.txt") + ", line 1: not a pair")) << dryRun;
        EXPECT_THAT(badList.err, HasSubstr(pathText(dir / "bad.txt") + ", line 3: not a pair")) << dryRun;
        EXPECT_THAT(badList.err, Not(HasSubstr("line 2"))) << dryRun;
        // Every line says which program wrote it, those of a command's report too.
        std::istringstream lines(badList.err);
        for (std::string line; std::getline(lines, line);)
            EXPECT_THAT(line, ::testing::StartsWith("brindlemark-cli: ")) << dryRun;
        EXPECT_EQ(readAll(dir / "war3map.w3o"), before) << dryRun;
        EXPECT_FALSE(fs::exists(dir / "BACKUP_war3map.w3o")) << dryRun;
    }

    writeAll(dir / "cut.w3o", std::string("\x01\x00\x00\x00", 4));
    const CliRun damaged = runCli({"replace", pathText(dir / "cut.w3o"), "--list", pathText(dir / "list.txt")});
    EXPECT_EQ(damaged.status, 1);
    EXPECT_THAT(damaged.err, HasSubstr("the file ends at byte 4"));
    EXPECT_EQ(readAll(dir / "cut.w3o").size(), 4u);
}

TEST(CliInputs, EndlessDevicesAreRefusedUnreadAsInputListOrSideFile) {
#ifdef _WIN32
    GTEST_SKIP() << "no /dev/zero";
#else
    TempDir dir;
    save(sampleBundle(), dir / "war3map.w3o");
    writeAll(dir / "list.txt", std::string("h000 u000"));
    const std::string bundle = pathText(dir / "war3map.w3o");
    const std::string list = pathText(dir / "list.txt");
    const Bytes before = readAll(dir / "war3map.w3o");
    const std::vector<std::vector<std::string>> cases = {
        {"replace", bundle, "--list", "/dev/zero"},
        {"replace", bundle, "--list", list, "--side", "/dev/urandom"},
        {"dump", "/dev/zero"},
        {"build", "/dev/urandom", "-o", pathText(dir / "out.w3o")},
    };
    for (const std::vector<std::string>& args : cases) {
        const CliRun run = runCli(args);
        EXPECT_EQ(run.status, 1) << args[0] << " " << run.err;
        EXPECT_THAT(run.err, HasSubstr("it is not a regular file but a device")) << args[0];
        EXPECT_EQ(readAll(dir / "war3map.w3o"), before);
        EXPECT_FALSE(fs::exists(dir / "BACKUP_war3map.w3o"));
        EXPECT_FALSE(fs::exists(dir / "out.w3o"));
    }
#endif
}

TEST(CliReplace, NoBackupWritesWithoutBackupCopies) {
    TempDir dir;
    save(sampleBundle(), dir / "war3map.w3o");
    const Bytes original = readAll(dir / "war3map.w3o");
    writeAll(dir / "list.txt", std::string("h000 u000"));
    writeAll(dir / "war3map.wtg", std::string("h000"));
    const CliRun run = runCli({"replace", pathText(dir / "war3map.w3o"), "--list", pathText(dir / "list.txt"), "--side",
                               pathText(dir / "war3map.wtg"), "--no-backup"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "h000\tu000\n");
    EXPECT_NE(readAll(dir / "war3map.w3o"), original);
    EXPECT_EQ(textOf(readAll(dir / "war3map.wtg")), "u000");
    EXPECT_FALSE(fs::exists(dir / "BACKUP_war3map.w3o"));
    EXPECT_FALSE(fs::exists(dir / "BACKUP_war3map.wtg"));
}

TEST(CliReplace, DryRunCountsEverythingAndWritesNothing) {
    TempDir dir;
    save(sampleBundle(), dir / "war3map.w3o");
    const Bytes original = readAll(dir / "war3map.w3o");
    writeAll(dir / "list.txt", std::string("h000 u000\nh001 w000\nzzzz yyyy\n"));
    writeAll(dir / "war3map.wtg", std::string("h000 h000 h001 zzzz"));
    writeAll(dir / "war3map.wct", std::string("nothing"));
    const CliRun run = runCli({"replace", pathText(dir / "war3map.w3o"), "--list", pathText(dir / "list.txt"), "--side",
                               pathText(dir / "war3map.wtg"), "--side", pathText(dir / "war3map.wct"), "--side",
                               pathText(dir / "war3map.wtg"), "--dry-run"});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string wtg = pathText(dir / "war3map.wtg");
    const std::string wct = pathText(dir / "war3map.wct");
    // The trigger file is named twice: its second pass per rename finds nothing more. No object is 'zzzz'.
    EXPECT_EQ(run.out, "h000 -> u000  \"Guard\": 0 strings, 1 integer; " + wtg + " 2, " + wct + " 0\n" +
                           "h001 -> w000  \"Worker\": 0 strings, 0 integers; " + wtg + " 1, " + wct + " 0\n" +
                           "total: 2 renames, 0 strings, 1 integer; " + wtg + " 3, " + wct + " 0\n");
    EXPECT_EQ(readAll(dir / "war3map.w3o"), original);
    EXPECT_EQ(textOf(readAll(dir / "war3map.wtg")), "h000 h000 h001 zzzz");
    EXPECT_FALSE(fs::exists(dir / "BACKUP_war3map.w3o"));
    EXPECT_FALSE(fs::exists(dir / "BACKUP_war3map.wtg"));
}

TEST(CliIdList, WritesAListThatReplaceAcceptsUnchanged) {
    TempDir dir;
    save(sampleBundle(), dir / "war3map.w3o");
    const Bytes original = readAll(dir / "war3map.w3o");
    const CliRun run = runCli({"idlist", pathText(dir / "war3map.w3o"), "-o", pathText(dir / "ids.txt")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(textOf(readAll(dir / "ids.txt")),
              "A000\tA000\r\nh000\th000\t// Guard\r\nh001\th001\t// Worker\r\nhfoo\thfoo\t// Footman\r\n");
    const CliRun replace = runCli({"replace", pathText(dir / "war3map.w3o"), "--list", pathText(dir / "ids.txt")});
    EXPECT_EQ(replace.status, 0);
    EXPECT_EQ(replace.out, "");
    EXPECT_EQ(readAll(dir / "war3map.w3o"), original);

    EXPECT_EQ(runCli({"idlist", pathText(dir / "war3map.w3o"), "-o", pathText(dir / "no" / "ids.txt")}).status, 1);
}

TEST(CliMerge, MergesUnderThePolicyAndKeepsABackup) {
    TempDir dir;
    save(sampleBundle(), dir / "main.w3o");
    const Bytes original = readAll(dir / "main.w3o");
    ObjectBundle added;
    put(added, ObjectKind::Units, makeObject("hfoo", "h000", {textField("unam", "Captain")}));
    put(added, ObjectKind::Items, makeObject("ratf", "I000", {textField("unam", "Claws")}));
    save(added, dir / "added.w3o");

    const CliRun keep = runCli({"merge", pathText(dir / "main.w3o"), pathText(dir / "added.w3o"), "--policy", "keep"});
    EXPECT_EQ(keep.status, 0) << keep.err;
    EXPECT_THAT(keep.err, HasSubstr("merged: units 0 added, 0 overwritten, 0 glued, 1 kept; "
                                    "items 1 added, 0 overwritten, 0 glued, 0 kept"));
    EXPECT_FALSE(hasCyrillic(keep.err)) << keep.err;
    EXPECT_EQ(readAll(dir / "BACKUP_main.w3o"), original);
    ObjectBundle kept = load(dir / "main.w3o");
    EXPECT_EQ(textOf(kept.kind(ObjectKind::Units).file.customTable.at(0), "unam"), "Guard");
    EXPECT_EQ(kept.kind(ObjectKind::Items).file.customTable.count(), 1u);

    const CliRun overwrite = runCli(
        {"merge", pathText(dir / "main.w3o"), pathText(dir / "added.w3o"), "--policy", "overwrite", "--no-backup"});
    EXPECT_EQ(overwrite.status, 0) << overwrite.err;
    EXPECT_THAT(overwrite.err, HasSubstr("merged: units 0 added, 1 overwritten, 0 glued, 0 kept; "
                                         "items 0 added, 1 overwritten, 0 glued, 0 kept"));
    EXPECT_EQ(textOf(load(dir / "main.w3o").kind(ObjectKind::Units).file.customTable.at(0), "unam"), "Captain");
    EXPECT_EQ(readAll(dir / "BACKUP_main.w3o"), original); // not taken again

    const CliRun missing =
        runCli({"merge", pathText(dir / "main.w3o"), pathText(dir / "absent.w3o"), "--policy", "glue"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.err, HasSubstr("Sorry, can't open object file " + pathText(dir / "absent.w3o")));
    EXPECT_EQ(runCli({"merge", pathText(dir / "main.w3o"), pathText(dir / "added.w3o")}).status, 2);
}

} // namespace
} // namespace brindlemark
