// idlist BUNDLE -o OUT: the identifier list, ready to edit into a replace list.
#include "cli/command.h"

#include "core/fileio.h"
#include "core/objectbundle.h"
#include "replace/idlist.h"

namespace brindlemark::cli {

namespace {

int runIdList(const ParsedArguments& args) {
    ObjectBundle bundle;
    if (!loadBundle(bundle, args.positional[0]))
        return kExitFailure;
    const Argument* out = args.value("--output");
    std::string why;
    if (!writeIdList(bundle, out->path, why)) {
        printError("Failed to write identifier list " + pathText(out->path) + " (" + why + ")");
        return kExitFailure;
    }
    return kExitSuccess;
}

constexpr OptionSpec kIdListOptions[] = {
    {.longName = "--output", .shortName = "-o", .takesValue = true, .valueName = "OUT", .required = true},
};

} // namespace

const Command& idListCommand() {
    static const Command command{
        .name = "idlist",
        .synopsis = "idlist BUNDLE -o OUT",
        .summary = "Writes every object identifier of the bundle, mapped to itself, with its name.",
        .details = "One line per identifier, in byte order: the identifier, TAB, the same identifier, and\n"
                   "TAB // name when the object has a name. Edit the second column and pass the file to\n"
                   "replace --list. Lines end in CR LF.\n"
                   "\n"
                   "Options:\n"
                   "  -o, --output OUT   where to write the list (required)\n"
                   "\nExample: brindlemark-cli idlist war3map.w3o -o war3map_IdList.txt\n",
        .options = kIdListOptions,
        .minPositional = 1,
        .maxPositional = 1,
        .run = &runIdList,
    };
    return command;
}

} // namespace brindlemark::cli
