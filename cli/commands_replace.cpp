// replace BUNDLE --list LIST [--side FILE]... [--no-backup] [--policy P]: the Replace command of the window.
#include "cli/command.h"
#include "cli/consolesink.h"

#include "core/bundlepath.h"
#include "core/fileio.h"
#include "merge/mergecommand.h"
#include "replace/replacecommand.h"

namespace brindlemark::cli {

namespace {

int runReplace(const ParsedArguments& args) {
    MergePolicy policy = MergePolicy::Glue;
    if (const Argument* p = args.value("--policy"); p && !parsePolicy(p->text, policy))
        return policyError("replace", p->text);
    ConsoleSink sink;
    ObjectBundle bundle;
    bool loaded = false;
    const BundlePath path = chooseMainBundle(bundle, args.positional[0], policy, sink, loaded);

    ReplaceRequest request;
    request.replaceList = args.value("--list")->path;
    for (const auto& [name, value] : args.options)
        if (name == "--side")
            request.sideFiles.push_back(value.path);
    request.keepBackups = !args.has("--no-backup");
    const ReplaceReport report = replaceIdentifiers(bundle, path, loaded, request, sink);
    std::string out;
    for (const RenameEntry& entry : report.renames) {
        out.append(entry.fromId.raw()).append("\t").append(entry.toId.raw()).append("\n");
    }
    printOut(out);
    return loaded && !report.failed ? kExitSuccess : kExitFailure;
}

constexpr OptionSpec kReplaceOptions[] = {
    {.longName = "--list", .shortName = "-l", .takesValue = true, .valueName = "LIST", .required = true},
    {.longName = "--side", .shortName = "-s", .takesValue = true, .valueName = "FILE"},
    {.longName = "--no-backup", .shortName = ""},
    {.longName = "--policy", .shortName = "", .takesValue = true, .valueName = "overwrite|glue|keep"},
};

} // namespace

const Command& replaceCommand() {
    static const Command command{
        .name = "replace",
        .synopsis = "replace BUNDLE --list LIST [--side FILE]... [--no-backup] [--policy overwrite|glue|keep]",
        .summary = "Renames object identifiers by a replace list, in the bundle and in side files.",
        .details =
            "LIST holds pairs of four-character identifiers: the old one (where % stands for any character)\n"
            "and the new one (where % keeps the character). Text after / up to the line end is a comment.\n"
            "Each pair renames the matching objects of BUNDLE (a modified standard object becomes a custom\n"
            "one) and rewrites every reference to them in the objects' text and integer values. Every rename\n"
            "is then patched byte for byte into each side file (typically war3map.wtg and war3map.wct), and\n"
            "BUNDLE is written back. Before a file changes it is copied to BACKUP_<name> beside it.\n"
            "\n"
            "Each applied rename is printed on standard output as: old identifier, TAB, new identifier.\n"
            "Messages go to standard error.\n"
            "\n"
            "Options:\n"
            "  -l, --list LIST      the replace list (required)\n"
            "  -s, --side FILE      a side file to patch; repeat for more, patched in the order given\n"
            "  --no-backup          rename in memory only: no file is copied, patched or written\n"
            "  --policy P           how loading BUNDLE resolves two objects with one identifier, and how\n"
            "                       a renamed object meets an existing one: overwrite, glue (default), keep\n"
            "\nExample: brindlemark-cli replace war3map.w3o --list war3map_IdList.txt \\\n"
            "           --side war3map.wtg --side war3map.wct\n",
        .options = kReplaceOptions,
        .minPositional = 1,
        .maxPositional = 1,
        .run = &runReplace,
    };
    return command;
}

} // namespace brindlemark::cli
