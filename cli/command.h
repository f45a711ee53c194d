#pragma once

#include "cli/arguments.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/bundlepath.h"
#include "core/fileio.h"
#include "core/objectbundle.h"
#include "replace/stringtable.h"

namespace brindlemark {
class MessageSink;
struct MainView;
} // namespace brindlemark

namespace brindlemark::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1; // the command ran and failed: a file refused, a save that failed
inline constexpr int kExitUsage = 2;   // the command line was wrong

inline constexpr const char* kProgramName = "brindlemark-cli";

// One command of the program. Each command lives in its own file and hands out its description; main.cpp lists
// them. The program parses the arguments by `options` and the positional counts, reports usage errors and
// answers --help, so `run` sees only well-formed arguments.
struct Command {
    std::string_view name;
    std::string_view synopsis; // the usage after "brindlemark-cli ": "check FILE"
    std::string_view summary;  // one line for the program's help
    std::string_view details;  // paragraphs of the command's help before its options; may be empty
    std::span<const OptionSpec> options;
    std::size_t minPositional = 0;
    std::size_t maxPositional = 0;
    int (*run)(const ParsedArguments& args) = nullptr;
    std::string_view examples{};              // command lines, one a line, shown after the options
    std::span<const ValueKind> positionals{}; // what each positional names; files of any kind past the end
};

const Command& checkCommand();
const Command& dumpCommand();
const Command& normalizeCommand();
const Command& replaceCommand();
const Command& idListCommand();
const Command& mergeCommand();
const Command& importCommand();
const Command& buildCommand();
const Command& diffCommand();
const Command& merge3Command();
const Command& recoverCommand();

// Writes "brindlemark-cli: <message>" and a line end to standard error.
void printError(std::string_view message);
// Locks every file the run writes (empty paths and "-" skipped) and prints what the locks found and finished of
// an earlier run that stopped part-way. Prints the reason and returns false when a file is busy.
bool lockRunFiles(FileLocks& locks, const std::vector<std::filesystem::path>& paths);
// Writes bytes to standard output as they are.
void printOut(std::string_view text);

// Reads `file`, of any form, for looking at it (see readMainView()); with `skinApart` a map's skin files go to
// `view.skin`. Warnings go to standard error, naming the file. On failure prints the reason and returns false.
bool loadView(const Argument& file, MainView& view, bool skinApart = false);

// Checks that OUT may be written: it is not one of `inputs` (however spelled, links resolved) unless
// `mayBeInput`, and it is standard output ("-"), a new file or a regular file. Prints the reason and returns false
// otherwise.
bool checkOutput(std::string_view command, const Argument& out, std::span<const Argument> inputs, bool mayBeInput);
// Checks that the form OUT's extension names holds `data` whole: OUT is not a map, and an object file of one kind
// only for data that holds no other kind. Prints the reason, naming `dataName`, and returns false otherwise.
bool checkOutputForm(std::string_view command, const Argument& out, const ObjectBundle& data,
                     std::string_view dataName);
// Writes bytes to OUT: standard output for "-", else through a temporary file that replaces OUT whole. Prints
// the reason and returns false on failure.
bool writeOutput(const Argument& out, std::span<const std::uint8_t> bytes);

// Reads "overwrite", "glue" or "keep"; false for anything else.
bool parsePolicy(std::string_view text, MergePolicy& policy);
// Reports a policy name that is none of the three; returns the usage exit status.
int policyError(std::string_view command, std::string_view text);

// Where the loading warnings of `file`, the main file of a command, are printed: each line after its name. A
// command sends a map's warnings, which name the file inside, to its sink instead.
WarningSink loadWarningsOf(const Argument& file);

} // namespace brindlemark::cli
