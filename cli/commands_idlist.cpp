// idlist BUNDLE -o OUT: the identifier list, ready to edit into a replace list.
#include "cli/command.h"

#include "core/fileio.h"
#include "core/objectbundle.h"
#include "document/document.h"
#include "replace/idlist.h"

namespace brindlemark::cli {

namespace {

int runIdList(const ParsedArguments& args) {
    const Argument* out = args.value("--output");
    if (!checkOutput("idlist", *out, args.positional, false))
        return kExitFailure;
    if (const Argument* table = args.value("--strings"); table && !checkOutput("idlist", *out, {table, 1}, false))
        return kExitFailure;
    MainView view;
    if (!loadView(args.positional[0], view))
        return kExitFailure;
    const ObjectBundle& bundle = view.objects;
    StringTable& strings = view.strings;
    if (const Argument* table = args.value("--strings")) {
        std::vector<std::uint8_t> bytes;
        std::string why;
        if (!readFile(table->path, bytes, why)) {
            printError(why);
            return kExitFailure;
        }
        strings = StringTable::parse(bytes);
    }
    const std::string text = idListText(bundle, &strings);
    if (out->text == "-")
        return writeOutput(*out, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}) ? kExitSuccess
                                                                                                    : kExitFailure;
    std::string why;
    if (!writeIdList(bundle, out->path, why, &strings)) {
        printError("Failed to write identifier list " + pathText(out->path) + " (" + why + ")");
        return kExitFailure;
    }
    return kExitSuccess;
}

constexpr OptionSpec kIdListOptions[] = {
    {.longName = "--output",
     .shortName = "-o",
     .takesValue = true,
     .valueName = "OUT",
     .required = true,
     .help = "where to write the list; - for standard output"},
    {.longName = "--strings",
     .shortName = "",
     .takesValue = true,
     .valueName = "FILE",
     .help = "the map's string table (war3map.wts): names such as TRIGSTR_012 are shown as the table's text. A "
             "map's own table is used by itself.",
     .value = ValueKind::StringTable},
};
constexpr ValueKind kPositionals[] = {ValueKind::ObjectFileOrMap};

} // namespace

const Command& idListCommand() {
    static const Command command{
        .name = "idlist",
        .synopsis = "idlist BUNDLE -o OUT [--strings FILE]",
        .summary = "Writes every object identifier of the bundle, mapped to itself, with its name.",
        .details = "One line per identifier, in byte order: the identifier, TAB, the same identifier, and\n"
                   "TAB // name when the object has a name. Edit the second column and pass the file to\n"
                   "replace --list. Lines end in CR LF. BUNDLE may be a .w3o bundle, an object file of one\n"
                   "kind (.w3u .w3t .w3b .w3d .w3a .w3h .w3q) or a map (.w3x .w3m).\n",
        .options = kIdListOptions,
        .minPositional = 1,
        .maxPositional = 1,
        .run = &runIdList,
        .examples = "brindlemark-cli idlist war3map.w3o -o war3map_IdList.txt",
        .positionals = kPositionals,
    };
    return command;
}

} // namespace brindlemark::cli
