// check FILE: whether a bundle loads, with its versions and how much it holds.
#include "cli/command.h"

#include "core/objectbundle.h"

#include <string>

namespace brindlemark::cli {

namespace {

std::size_t modificationTotal(const ObjectTable& table) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < table.count(); ++i)
        total += table.at(i).modificationCount();
    return total;
}

int runCheck(const ParsedArguments& args) {
    ObjectBundle bundle;
    if (!loadBundle(bundle, args.positional[0]))
        return kExitFailure;
    std::string text = "bundle version: " + std::to_string(bundle.version) + "\n";
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectBundle::Kind& kind = bundle.kind(k);
        if (kind.present == 0)
            continue;
        const ObjectFile& file = kind.file;
        text += std::string(kindName(k)) + ": object file version " + std::to_string(file.version) +
                ", standard objects " + std::to_string(file.standardTable.count()) + ", custom objects " +
                std::to_string(file.customTable.count()) + ", modifications " +
                std::to_string(modificationTotal(file.standardTable) + modificationTotal(file.customTable));
        if (kind.present != 1)
            text += ", presence flag " + std::to_string(kind.present);
        text += "\n";
    }
    printOut(text);
    return kExitSuccess;
}

} // namespace

const Command& checkCommand() {
    static const Command command{
        .name = "check",
        .synopsis = "check FILE",
        .summary = "Loads a bundle and shows its versions and object counts.",
        .details = "Prints the bundle version and, for every kind that the file holds, the version of its object\n"
                   "file, its modified standard objects, its custom objects and their modifications, counted as\n"
                   "they are after loading (objects with matching identifiers glued together, standard objects\n"
                   "without modifications dropped). A presence flag other than 1 is shown.\n"
                   "Exits with 1 and the reason, with the byte offset of the damage, when the file is refused.\n"
                   "\nExample: brindlemark-cli check war3map.w3o\n",
        .options = {},
        .minPositional = 1,
        .maxPositional = 1,
        .run = &runCheck,
    };
    return command;
}

} // namespace brindlemark::cli
