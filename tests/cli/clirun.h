#pragma once

// Runs the built brindlemark-cli and collects its exit status and output.

#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <cstdlib>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace brindlemark::testing {

inline std::string textOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

struct CliRun {
    int status = -1; // the exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs the program with `args` (bytes, passed unchanged) and collects what it writes. Standard output goes to
// `stdoutPath` instead when one is given; standard input comes from `stdinPath` when one is given.
inline CliRun runCli(const std::vector<std::string>& args, const std::filesystem::path& stdoutPath = {},
                     const std::filesystem::path& stdinPath = {}) {
    TempDir capture;
    const std::filesystem::path outPath = stdoutPath.empty() ? capture / "stdout" : stdoutPath;
    const std::filesystem::path errPath = capture / "stderr";
    CliRun run;
#ifdef _WIN32
    std::string command = "\"\"" BRINDLEMARK_CLI "\"";
    for (const std::string& a : args)
        command += " \"" + a + "\"";
    command += " >\"" + outPath.string() + "\" 2>\"" + errPath.string() + "\"";
    if (!stdinPath.empty())
        command += " <\"" + stdinPath.string() + "\"";
    command += "\"";
    run.status = std::system(command.c_str());
#else
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!stdinPath.empty())
        posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
    std::vector<std::string> argStorage = {BRINDLEMARK_CLI};
    argStorage.insert(argStorage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStorage)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, BRINDLEMARK_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << BRINDLEMARK_CLI << ": " << std::strerror(spawned);
        return run;
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
#endif
    if (stdoutPath.empty())
        run.out = textOf(readAll(outPath));
    run.err = textOf(readAll(errPath));
    return run;
}

} // namespace brindlemark::testing
