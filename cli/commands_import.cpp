// import MAIN ADDED [--side FILE]... [--policy P] [--list-out LIST] [--dry-run] [--no-backup]: objects of another
// map brought in without identifier collisions.
#include "cli/command.h"
#include "cli/consolesink.h"

#include "core/fileio.h"
#include "commands/importcommand.h"

namespace brindlemark::cli {

namespace {

int runImport(const ParsedArguments& args) {
    ImportRequest request;
    request.main = args.positional[0].path;
    request.added = args.positional[1].path;
    if (const Argument* p = args.value("--policy"); p && !parsePolicy(p->text, request.policy))
        return policyError("import", p->text);
    request.sideFiles = args.paths("--side");
    // "-": standard output, where the list goes in any case.
    if (const Argument* list = args.value("--list-out"); list && list->text != "-") {
        if (!checkOutput("import", *list, args.positional, false))
            return kExitFailure;
        request.listOut = list->path;
    }
    request.dryRun = args.has("--dry-run");
    request.takeBackups = !args.has("--no-backup");
    request.keepStringRefs = args.has("--keep-string-refs");
    ConsoleSink sink;
    const ImportReport report = importObjects(request, sink);
    if (report.failed)
        return kExitFailure;
    std::string out;
    for (char c : report.listText)
        if (c != '\r')
            out += c;
    printOut(out);
    printError(args.positional[0].text + ": " + importSummary(report, request.policy));
    if (report.stringsCarried != 0)
        printError(std::to_string(report.stringsCarried) + " texts of " + args.positional[1].text +
                   "'s string table go into the string table of " + args.positional[0].text + " under new numbers");
    if (report.stringsResolved != 0)
        printError(std::to_string(report.stringsResolved) + " string references of " + args.positional[1].text +
                   " replaced by their texts");
    if (report.stringsKept != 0)
        printError(std::to_string(report.stringsKept) +
                   " string values stay references into the string table "
                   "of " +
                   args.positional[1].text + " (--keep-string-refs)");
    if (!report.unresolved.empty()) {
        std::string ids;
        for (ObjectId id : report.unresolved)
            ids += (ids.empty() ? "" : ", ") + displayText(id);
        printError(args.positional[1].text +
                   ": unresolved (referenced by the added objects, defined by neither side): " + ids);
    }
    return kExitSuccess;
}

constexpr OptionSpec kImportOptions[] = {
    {.longName = "--side",
     .shortName = "-s",
     .takesValue = true,
     .valueName = "FILE",
     .help = "a trigger or script file of ADDED to patch; repeat for more"},
    {.longName = "--policy",
     .shortName = "",
     .takesValue = true,
     .valueName = "overwrite|glue|keep",
     .help = "overwrite, glue (default) or keep",
     .value = ValueKind::Words},
    {.longName = "--list-out",
     .shortName = "",
     .takesValue = true,
     .valueName = "LIST",
     .help = "also write the renames to LIST, a replace list for other files (- for standard output, where they "
             "are listed anyway)",
     .value = ValueKind::TextFile},
    {.longName = "--dry-run", .shortName = "", .help = "print the same and write nothing"},
    {.longName = "--keep-string-refs",
     .shortName = "",
     .help = "when ADDED is a map and MAIN is not, keep its TRIGSTR_ references instead of their texts"},
    {.longName = "--no-backup", .shortName = "", .help = "write without backup copies"},
};
constexpr ValueKind kPositionals[] = {ValueKind::ObjectFileOrMap, ValueKind::ObjectFileOrMap};

} // namespace

const Command& importCommand() {
    static const Command command{
        .name = "import",
        .synopsis = "import MAIN ADDED [--side FILE]... [--policy overwrite|glue|keep] [--list-out LIST] "
                    "[--dry-run] [--no-backup]",
        .summary = "Brings the objects of ADDED into MAIN, renaming those whose identifiers MAIN already uses.",
        .details = "MAIN and ADDED are each a bundle (.w3o), an object file of one kind or a map (.w3x .w3m).\n"
                   "A custom object of ADDED collides when any object of MAIN, of any kind, has its identifier\n"
                   "(letter case aside). Each colliding object gets the first free identifier with the same first\n"
                   "character in the editor's numbering (X000, X001, ... X00Z, X010, ...), free meaning that\n"
                   "neither side uses it. References inside ADDED follow the renames, and so do the side files\n"
                   "(the trigger or script files that came with ADDED). The renamed objects are then merged into\n"
                   "MAIN under the policy; modified standard objects that both sides hold meet by the policy too.\n"
                   "ADDED itself is never written. MAIN and the side files are first copied to BACKUP_<name>, and\n"
                   "nothing changes until everything can.\n"
                   "\n"
                   "The texts of a map ADDED (names, tooltips: values \"TRIGSTR_012\" that refer to its war3map.wts)\n"
                   "come along: into MAIN's war3map.wts under new numbers when MAIN is a map (MAIN's own texts keep\n"
                   "their bytes), in place of the references otherwise. A reference that ADDED's string table lacks\n"
                   "is refused, naming each.\n"
                   "\n"
                   "Every rename is printed on standard output as an identifier-list line: old, TAB, new, TAB,\n"
                   "// name. The counts, and the identifiers ADDED refers to that neither side defines\n"
                   "(\"unresolved\"), go to standard error.\n",
        .options = kImportOptions,
        .minPositional = 2,
        .maxPositional = 2,
        .run = &runImport,
        .examples = "brindlemark-cli import war3map.w3o spellpack.w3o --side spellpack.wtg",
        .positionals = kPositionals,
    };
    return command;
}

} // namespace brindlemark::cli
