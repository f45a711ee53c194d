// recover PATH: finishes or undoes a run that stopped while it was writing its files.
#include "cli/command.h"

#include "core/fileio.h"

#include <string>

namespace brindlemark::cli {

namespace {

int runRecover(const ParsedArguments& args) {
    const Argument& target = args.positional[0];
    FileLock lock;
    std::string error;
    if (!lock.acquire(target.path, error)) {
        printError(error);
        return kExitFailure;
    }
    bool failed = false;
    for (const std::string& line : lock.recovered) {
        printError(line);
        failed = failed || line.ends_with("its journal is kept");
    }
    if (lock.recovered.empty())
        printOut("nothing to recover beside " + target.text + "\n");
    return failed ? kExitFailure : kExitSuccess;
}

constexpr ValueKind kObjectFileOrMap[] = {ValueKind::ObjectFileOrMap};

} // namespace

const Command& recoverCommand() {
    static const Command command{
        .name = "recover",
        .synopsis = "recover PATH",
        .summary = "Finishes or undoes a run that stopped while writing its files.",
        .details = "A run that writes several files (a bundle and its side files, a map folder and its backup)\n"
                   "first writes a journal beside them, which it removes when every file is in place. When a run\n"
                   "is killed or the power fails in between, the journal stays. This command, and the next run on\n"
                   "any of those files, then puts every file's new contents in place when all of them were\n"
                   "written, or else puts the old contents back, and says which it did: every file is then old or\n"
                   "new, never a mix. PATH is one of the files (or the map folder). Without a journal beside it\n"
                   "nothing changes.\n",
        .options = {},
        .minPositional = 1,
        .maxPositional = 1,
        .run = &runRecover,
        .examples = "brindlemark-cli recover war3map.w3o",
        .positionals = kObjectFileOrMap,
    };
    return command;
}

} // namespace brindlemark::cli
