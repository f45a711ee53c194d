// merge MAIN ADDED --policy P [--no-backup]: the Merge command of the window.
#include "cli/command.h"
#include "cli/consolesink.h"

#include "commands/mergecommand.h"
#include "core/fileio.h"

namespace brindlemark::cli {

namespace {

// What a merge that went through did, per kind of the added file: "merged: units 2 added, 1 overwritten,
// 0 glued, 0 kept".
std::string mergeSummary(const MergeReport& report) {
    std::string kinds;
    for (ObjectKind k : kAllObjectKinds) {
        const FilingCounts& c = report.merged[static_cast<std::size_t>(k)];
        if (c.total() == 0)
            continue;
        kinds += (kinds.empty() ? "" : "; ") + std::string(kindName(k)) + " " + std::to_string(c.added) + " added, " +
                 std::to_string(c.overwritten) + " overwritten, " + std::to_string(c.glued) + " glued, " +
                 std::to_string(c.kept) + " kept";
    }
    return "merged: " + (kinds.empty() ? std::string("no objects") : kinds);
}

int runMerge(const ParsedArguments& args) {
    MergeRequest request;
    const Argument* p = args.value("--policy");
    if (!parsePolicy(p->text, request.policy))
        return policyError("merge", p->text);
    ConsoleSink sink;
    const Argument& main = args.positional[0];
    const Argument& added = args.positional[1];
    if (sameFile(main.path, added.path)) {
        printError("merge: ADDED " + added.text + " is MAIN itself; nothing was written");
        return kExitFailure;
    }
    request.main = main.path;
    request.addedFile = added.path;
    request.takeBackup = !args.has("--no-backup");
    request.keepStringRefs = args.has("--keep-string-refs");
    request.loadWarnings = loadWarningsOf(main);
    Document document;
    const MergeReport report = mergeObjectFiles(document, request, sink);
    if (report.completed)
        sink.message(main.text + ": " + mergeSummary(report));
    if (report.bundleWritten && report.referencesKept != 0)
        printError(std::to_string(report.referencesKept) + " string values stay references into the string table of " +
                   added.text + " (--keep-string-refs)");
    return report.failed ? kExitFailure : kExitSuccess;
}

constexpr OptionSpec kMergeOptions[] = {
    {.longName = "--policy",
     .shortName = "",
     .takesValue = true,
     .valueName = "overwrite|glue|keep",
     .required = true,
     .help = "what happens to an identifier in both: overwrite, glue or keep",
     .value = ValueKind::Words},
    {.longName = "--no-backup", .shortName = "", .help = "merge without the backup copy"},
    {.longName = "--keep-string-refs",
     .shortName = "",
     .help = "when ADDED is a map and MAIN is not, keep its TRIGSTR_ references instead of their texts"},
};
constexpr ValueKind kPositionals[] = {ValueKind::ObjectFileOrMap, ValueKind::ObjectFileOrMap};

} // namespace

const Command& mergeCommand() {
    static const Command command{
        .name = "merge",
        .synopsis = "merge MAIN|MAP ADDED|MAP --policy overwrite|glue|keep [--no-backup] [--keep-string-refs]",
        .summary = "Merges the objects of ADDED into MAIN and writes MAIN back.",
        .details = "Where an identifier stands in both, the policy decides: overwrite takes ADDED's object,\n"
                   "glue merges ADDED's field changes into MAIN's object, keep leaves MAIN's object as it is.\n"
                   "Kinds that only MAIN holds stay. MAIN is first copied to BACKUP_<name> beside it.\n"
                   "MAIN and ADDED may be bundles (.w3o) or object files of one kind (.w3u, .w3a, ...);\n"
                   "MAIN may be a map (.w3x, .w3m), whose object files then take ADDED's objects.\n"
                   "ADDED may be a map too: the texts its objects refer to (values \"TRIGSTR_012\" into its\n"
                   "war3map.wts) come along, into MAIN's war3map.wts under new numbers when MAIN is a map,\n"
                   "in place of the references otherwise. A reference that ADDED's table lacks is refused.\n",
        .options = kMergeOptions,
        .minPositional = 2,
        .maxPositional = 2,
        .run = &runMerge,
        .examples = "brindlemark-cli merge war3map.w3o imported.w3o --policy glue",
        .positionals = kPositionals,
    };
    return command;
}

} // namespace brindlemark::cli
