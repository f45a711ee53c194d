// brindlemark-cli: the object bundle commands on the command line. A new command is one file that describes it
// (see command.h) and one line in kCommands.
#include "cli/command.h"

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
    &checkCommand,
    &dumpCommand,
    &normalizeCommand,
    &idListCommand,
    &replaceCommand,
    &mergeCommand,
    &importCommand,
};

const Command* findCommand(std::string_view name) {
    for (CommandDescription describe : kCommands)
        if (describe().name == name)
            return &describe();
    return nullptr;
}

std::string programUsage() { return std::string("usage: ") + kProgramName + " COMMAND [ARGUMENTS] (or --help)"; }

std::string commandUsage(const Command& command) {
    return std::string("usage: ") + kProgramName + " " + std::string(command.synopsis);
}

int usageError(std::string_view message, const std::string& usage) {
    printError(message);
    std::fprintf(stderr, "%s\n", usage.c_str());
    return kExitUsage;
}

void printProgramHelp() {
    std::string text = std::string("usage: ") + kProgramName + " COMMAND [ARGUMENTS]\n\n" +
                       "Reads and rewrites Warcraft III object bundles (.w3o files: the modified and custom units,\n"
                       "items, destructables, doodads, abilities, buffs and upgrades of a map).\n\n"
                       "Commands:\n";
    // Summaries stand in a column; a synopsis too long for it puts its summary on the next line.
    constexpr std::size_t kColumn = 26;
    for (CommandDescription describe : kCommands) {
        const Command& c = describe();
        text += "  " + std::string(c.synopsis);
        if (c.synopsis.size() + 2 <= kColumn)
            text += std::string(kColumn - c.synopsis.size(), ' ');
        else
            text += "\n" + std::string(kColumn + 2, ' ');
        text += std::string(c.summary) + "\n";
    }
    text += std::string("\n") + kProgramName + " COMMAND --help shows a command's help.\n" +
            "Exit status: 0 done, 1 failed (a file that cannot be read or written), 2 wrong command line.\n";
    printOut(text);
}

void printCommandHelp(const Command& command) {
    std::string text = commandUsage(command) + "\n\n" + std::string(command.summary) + "\n";
    if (!command.details.empty()) {
        text += '\n';
        text += command.details;
    }
    if (!text.ends_with('\n'))
        text += '\n';
    printOut(text);
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
        printProgramHelp();
        return kExitSuccess;
    }
    if (first == "--version") {
        printOut(std::string(kProgramName) + " " BRINDLEMARK_VERSION "\n");
        return kExitSuccess;
    }
    if (first == "help") {
        if (args.size() == 1) {
            printProgramHelp();
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
int main(int argc, char** argv) { return brindlemark::cli::runProgram(brindlemark::cli::programArguments(argc, argv)); }
#endif
