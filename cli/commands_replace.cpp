// replace BUNDLE --list LIST [--side FILE]... [--no-backup] [--policy P]: the Replace command of the window.
#include "cli/command.h"
#include "cli/consolesink.h"
#include "cli/dryrunreport.h"

#include "commands/replacecommand.h"
#include "core/bundlepath.h"
#include "core/fileio.h"
#include "document/mainform.h"

namespace brindlemark::cli {

namespace {

// Prints the collisions of the plan on standard error, one line each.
void printCollisions(const std::vector<Collision>& collisions) {
    for (const Collision& c : collisions)
        printError(collisionText(c));
}

void printRenames(const std::vector<RenameEntry>& renames) {
    std::string out;
    for (const RenameEntry& entry : renames)
        out.append(entry.fromId.raw()).append("\t").append(entry.toId.raw()).append("\n");
    printOut(out);
}

std::string counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// What a run that went through did: "renamed 3 identifiers, changed 1 file".
std::string replaceSummary(const ReplaceReport& report) {
    std::string text = "renamed " + counted(report.renames.size(), "identifier", "identifiers") + ", changed " +
                       counted(report.filesChanged, "file", "files");
    if (!report.collisions.empty())
        text += ", " + counted(report.collisions.size(), "rename", "renames") + " onto an identifier already held";
    return text;
}

// Prints what a run on `main` wrote: the summary and the collisions on standard error, the renames on standard
// output.
int finish(const Argument& main, const ReplaceReport& report, MessageSink& sink) {
    if (report.completed)
        sink.message(main.text + ": " + replaceSummary(report));
    if (report.bundleWritten) {
        printCollisions(report.collisions);
        printRenames(report.renames);
    }
    return report.failed ? kExitFailure : kExitSuccess;
}

// The advice after a run that left a map's script holding renamed identifiers: run again with --patch-script on
// the renamed map (the renames are done and the script stays as it is).
void printScriptAdvice(const ReplaceReport& report, const ReplaceRequest& request) {
    const std::filesystem::path& map = request.main;
    const std::string restore = request.keepBackups ? "restore the map from its backup " + pathText(mainBackupName(map))
                                                    : "restore the map as it was before this run";
    const std::size_t n = report.scriptOccurrences;
    printError(report.unpatchedScript + " holds " + std::to_string(n) + (n == 1 ? " occurrence" : " occurrences") +
               " of renamed identifiers and was not changed; to patch them, " + restore +
               " and run this replace again with --patch-script (on the renamed map it renames nothing), "
               "or save the map in the editor to regenerate the script");
}

int runReplace(const ParsedArguments& args) {
    ReplaceRequest request;
    if (const Argument* p = args.value("--policy"); p && !parsePolicy(p->text, request.policy))
        return policyError("replace", p->text);
    const Argument& main = args.positional[0];
    if (args.has("--patch-script") && !holdsMapFiles(main.path)) {
        printError("replace: --patch-script works on maps (.w3x, .w3m) only");
        return kExitUsage;
    }
    ConsoleSink sink;
    request.main = main.path;
    request.replaceList = args.value("--list")->path;
    request.sideFiles = args.paths("--side");
    request.keepBackups = !args.has("--no-backup");
    request.writeWithoutBackups = true;
    request.patchScript = args.has("--patch-script");
    request.loadWarnings = loadWarningsOf(main);
    Document document;
    if (args.has("--dry-run")) {
        ReplacePreview preview;
        if (replaceIdentifiers(document, request, sink, &preview).failed)
            return kExitFailure;
        printOut(dryRunReport(preview.plan, preview.sides, preview.names ? &*preview.names : nullptr));
        return kExitSuccess;
    }
    const ReplaceReport report = replaceIdentifiers(document, request, sink);
    const int status = finish(args.positional[0], report, sink);
    if (report.completed && report.scriptOccurrences != 0)
        printScriptAdvice(report, request);
    return status;
}

constexpr OptionSpec kReplaceOptions[] = {
    {.longName = "--list",
     .shortName = "-l",
     .takesValue = true,
     .valueName = "LIST",
     .required = true,
     .help = "the replace list",
     .value = ValueKind::TextFile},
    {.longName = "--side",
     .shortName = "-s",
     .takesValue = true,
     .valueName = "FILE",
     .help = "a side file to patch; repeat for more, patched in the order given"},
    {.longName = "--no-backup", .shortName = "", .help = "write the files without taking backup copies first"},
    {.longName = "--dry-run",
     .shortName = "",
     .help = "write nothing; print each rename with the object's name, how many string and integer values it "
             "rewrites and how many occurrences each side file holds, then the totals"},
    {.longName = "--patch-script",
     .shortName = "",
     .help = "with a map: also patch its script, war3map.j or war3map.lua (byte-wise patching of free text is "
             "the riskier choice, so it is not done unasked)"},
    {.longName = "--policy",
     .shortName = "",
     .takesValue = true,
     .valueName = "overwrite|glue|keep",
     .help = "how loading BUNDLE resolves two objects with one identifier, and how a renamed object meets an "
             "existing one: overwrite, glue (default), keep",
     .value = ValueKind::Words},
};
constexpr ValueKind kPositionals[] = {ValueKind::ObjectFileOrMap};

} // namespace

const Command& replaceCommand() {
    static const Command command{
        .name = "replace",
        .synopsis = "replace BUNDLE|MAP --list LIST [--side FILE]... [--no-backup] [--dry-run] "
                    "[--patch-script] [--policy overwrite|glue|keep]",
        .summary = "Renames object identifiers by a replace list, in the bundle and in side files.",
        .details = "LIST holds pairs of four-character identifiers: the old one (where % stands for any character)\n"
                   "and the new one (where % keeps the character). Text after / up to the line end is a comment.\n"
                   "Each line holds whole pairs: a list with a line that does not (one identifier alone, a word of\n"
                   "five characters) is refused, naming every such line, and nothing changes.\n"
                   "Each pair renames the matching objects of BUNDLE (a modified standard object becomes a custom\n"
                   "one) and rewrites every reference to them in the objects' text and integer values. Every rename\n"
                   "is then patched byte for byte into each side file (typically war3map.wtg and war3map.wct), and\n"
                   "BUNDLE is written back. Before a file changes it is copied to BACKUP_<name> beside it.\n"
                   "\n"
                   "BUNDLE may also be an object file of one kind (.w3u .w3t .w3b .w3d .w3a .w3h .w3q), written\n"
                   "back in its own layout. Given a map (.w3x .w3m), the command renames across every object file\n"
                   "inside it (war3map.* and war3mapSkin.*), patches its trigger files war3map.wtg and war3map.wct,\n"
                   "and writes the map anew through a temporary file; the map is first copied to BACKUP_<name>.\n"
                   "A protected or damaged map is refused and left as it was.\n"
                   "\n"
                   "Nothing changes until everything can: every new file is written beside its target first, and\n"
                   "only then are they all put in place; a failure leaves every file as it was.\n"
                   "\n"
                   "Each rename written is printed on standard output as: old identifier, TAB, new identifier.\n"
                   "Messages go to standard error, among them each rename onto an identifier that another object\n"
                   "already held: of the same kind, the two meet by the policy; of another kind, both keep it.\n",
        .options = kReplaceOptions,
        .minPositional = 1,
        .maxPositional = 1,
        .run = &runReplace,
        .examples = "brindlemark-cli replace war3map.w3o --list war3map_IdList.txt \\\n"
                    "    --side war3map.wtg --side war3map.wct",
        .positionals = kPositionals,
    };
    return command;
}

} // namespace brindlemark::cli
