// brindlemark-cli: the object bundle commands on the command line. A new command is one file that describes it
// (see command.h) and one line in kCommands.
#include "cli/command.h"
#include "cli/helptext.h"

#include "brindlemarkversion.h"
#include "core/fileio.h"

#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace brindlemark::cli {
namespace {

using CommandDescription = const Command& (*)();

constexpr CommandDescription kCommands[] = {
    &checkCommand,  &dumpCommand,  &normalizeCommand, &idListCommand, &replaceCommand, &mergeCommand,
    &importCommand, &buildCommand, &diffCommand,      &merge3Command, &recoverCommand,
};

const Command* findCommand(std::string_view name) {
    for (CommandDescription describe : kCommands)
        if (describe().name == name)
            return &describe();
    return nullptr;
}

std::vector<const Command*> commands() {
    std::vector<const Command*> out;
    for (CommandDescription describe : kCommands)
        out.push_back(&describe());
    return out;
}

std::string programUsage() {
    return std::string("usage: ") + kProgramName + " COMMAND [ARGUMENTS] (or --help)";
}

int usageError(std::string_view message, const std::string& usage) {
    printError(message);
    std::fprintf(stderr, "%s\n", usage.c_str());
    return kExitUsage;
}

void printCommandHelp(const Command& command) {
    printOut(commandHelp(command));
}

// The hidden `--generate man|bash|zsh FILE`: the build writes the manual page and the completions with it.
int generate(const std::vector<Argument>& args) {
    const std::string usage = std::string("usage: ") + kProgramName + " --generate man|bash|zsh FILE";
    if (args.size() != 3)
        return usageError("--generate: wrong number of arguments", usage);
    const std::string& kind = args[1].text;
    std::string text;
    if (kind == "man")
        text = manPage(commands(), BRINDLEMARK_VERSION_TEXT);
    else if (kind == "bash")
        text = bashCompletion(commands());
    else if (kind == "zsh")
        text = zshCompletion(commands());
    else
        return usageError("--generate: unknown kind '" + kind + "'", usage);
    std::string why;
    if (!saveBytes(args[2].path, text.data(), text.size(), why)) {
        printError(why);
        return kExitFailure;
    }
    return kExitSuccess;
}

bool asksForHelp(std::span<const Argument> args) {
    for (const Argument& arg : args) {
        if (arg.text == "--")
            return false;
        if (arg.text == "--help" || arg.text == "-h")
            return true;
    }
    return false;
}

int runCommand(const Command& command, std::span<const Argument> args) {
    if (asksForHelp(args)) {
        printCommandHelp(command);
        return kExitSuccess;
    }
    ParsedArguments parsed;
    std::string error;
    if (!parseArguments(args, command.options, parsed, error))
        return usageError(std::string(command.name) + ": " + error, commandUsage(command));
    if (parsed.positional.size() < command.minPositional)
        return usageError(std::string(command.name) + ": too few arguments", commandUsage(command));
    if (parsed.positional.size() > command.maxPositional)
        return usageError(std::string(command.name) + ": unexpected argument '" +
                              parsed.positional[command.maxPositional].text + "'",
                          commandUsage(command));
    return command.run(parsed);
}

int runProgram(const std::vector<Argument>& args) {
    if (args.empty())
        return usageError("no command given", programUsage());
    const std::string& first = args.front().text;
    if (first == "--help" || first == "-h") {
        printOut(programHelp(commands()));
        return kExitSuccess;
    }
    if (first == "--version") {
        printOut(std::string(kProgramName) + " " BRINDLEMARK_VERSION_TEXT "\n");
        return kExitSuccess;
    }
    if (first == "--generate")
        return generate(args);
    if (first == "help") {
        if (args.size() == 1) {
            printOut(programHelp(commands()));
            return kExitSuccess;
        }
        if (args.size() > 2)
            return usageError("help: unexpected argument '" + args[2].text + "'", programUsage());
        const Command* command = findCommand(args[1].text);
        if (!command)
            return usageError("help: unknown command '" + args[1].text + "'", programUsage());
        printCommandHelp(*command);
        return kExitSuccess;
    }
    const Command* command = findCommand(first);
    if (!command)
        return usageError("unknown command '" + first + "'", programUsage());
    return runCommand(*command, std::span<const Argument>(args).subspan(1));
}

} // namespace
} // namespace brindlemark::cli

#ifdef _WIN32
// Wide arguments carry every file name; MinGW builds need -municode for this entry point.
int wmain(int argc, wchar_t** argv) {
    // Output is UTF-8 with LF line ends, byte for byte what the program writes on other systems; a console is
    // told to show it as UTF-8.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    return brindlemark::cli::runProgram(brindlemark::cli::programArguments(argc, argv));
}
#else
int main(int argc, char** argv) {
    return brindlemark::cli::runProgram(brindlemark::cli::programArguments(argc, argv));
}
#endif
