#pragma once

// Runs the built brindlemark-cli and collects its exit status and output.

#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace brindlemark::testing {

struct CliRun {
    int status = -1; // the exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Whether `text` holds a Cyrillic letter (the command line speaks English; only paths may hold other scripts).
inline bool hasCyrillic(std::string_view text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead >= 0xD0 && lead <= 0xD3 && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80)
            return true;
    }
    return false;
}

// Runs the program with `args` (bytes, passed unchanged) and collects what it writes. Standard output goes to
// `stdoutPath` instead when one is given; standard input comes from `stdinPath` when one is given.
inline CliRun runCli(const std::vector<std::string>& args, const std::filesystem::path& stdoutPath = {},
                     const std::filesystem::path& stdinPath = {}) {
    TempDir capture;
    const std::filesystem::path outPath = stdoutPath.empty() ? capture / "stdout" : stdoutPath;
    const std::filesystem::path errPath = capture / "stderr";
    CliRun run;
#ifdef _WIN32
    // The arguments are UTF-8; the program gets them as wide text, quoted as its runtime splits them.
    std::wstring commandLine;
    const auto quote = [&commandLine](const std::wstring& arg) {
        if (!commandLine.empty())
            commandLine += L' ';
        commandLine += L'"';
        std::size_t backslashes = 0;
        for (wchar_t c : arg) {
            if (c == L'\\') {
                ++backslashes;
                continue;
            }
            commandLine.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
            backslashes = 0;
            commandLine += c;
        }
        commandLine.append(backslashes * 2, L'\\');
        commandLine += L'"';
    };
    const auto fromUtf8 = [](std::string_view text) {
        return std::filesystem::path(std::u8string(text.begin(), text.end()));
    };
    const std::filesystem::path program = fromUtf8(BRINDLEMARK_CLI);
    quote(program.wstring());
    for (const std::string& a : args)
        quote(fromUtf8(a).wstring());
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const auto create = [&inherit](const std::filesystem::path& path) {
        return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    };
    HANDLE out = create(outPath);
    HANDLE err = create(errPath);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    HANDLE in = stdinPath.empty() ? INVALID_HANDLE_VALUE
                                  : CreateFileW(stdinPath.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    startup.hStdInput = stdinPath.empty() ? GetStdHandle(STD_INPUT_HANDLE) : in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    // Wine now and then fails to start a process (ERROR_INTERNAL_ERROR) and starts it when asked again: that is
    // the test machine, not the program under test.
    BOOL started = FALSE;
    std::string errors;
    for (int attempt = 1; attempt <= 3 && !started; ++attempt) {
        std::wstring line = commandLine; // which CreateProcessW may change
        started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                 &process);
        if (!started) {
            errors += " " + std::to_string(GetLastError());
            Sleep(200 * attempt);
        }
    }
    CloseHandle(out);
    CloseHandle(err);
    if (in != INVALID_HANDLE_VALUE)
        CloseHandle(in);
    if (!started) {
        ADD_FAILURE() << "cannot start " << BRINDLEMARK_CLI << ": errors" << errors;
        return run;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    run.status = static_cast<int>(exitCode);
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
