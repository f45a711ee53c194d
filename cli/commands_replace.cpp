// replace BUNDLE --list LIST [--side FILE]... [--no-backup] [--policy P]: the Replace command of the window.
#include "cli/command.h"
#include "cli/consolesink.h"
#include "cli/dryrunreport.h"

#include "core/bundlepath.h"
#include "core/fileio.h"
#include "commands/mapcommands.h"
#include "merge/mergecommand.h"
#include "replace/dryrun.h"
#include "replace/replacecommand.h"
#include "replace/replacelist.h"

#include <map>

namespace brindlemark::cli {

namespace {

// Prints the collisions of the plan on standard error, one line each.
void printCollisions(const std::vector<Collision>& collisions) {
    for (const Collision& c : collisions)
        printError(collisionText(c));
}

// Plans the run and prints what it would change; nothing is written.
int runDryRun(ObjectBundle& bundle, const ReplaceRequest& request) {
    ReplaceListContents list;
    std::string error;
    if (!readReplaceList(request.replaceList, list, error)) {
        printError(error);
        return kExitFailure;
    }
    SideFileSet sides;
    if (!readSideFiles(request.sideFiles, sides, error)) {
        printError(error);
        return kExitFailure;
    }
    ObjectBundle* const bundles[] = {&bundle};
    const ReplacePlan plan = planReplace(bundles, list.pairs, sides.texts);
    printOut(dryRunReport(plan, sides.texts, nullptr));
    return kExitSuccess;
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

// Prints what a run wrote: the summary and the collisions on standard error, the renames on standard output.
int finish(const ReplaceReport& report, MessageSink& sink) {
    if (report.completed)
        sink.message(replaceSummary(report));
    if (report.bundleWritten) {
        printCollisions(report.collisions);
        printRenames(report.renames);
    }
    return report.failed ? kExitFailure : kExitSuccess;
}

// The same command on a map archive: its object files and trigger files inside, the side files outside.
int runReplaceInMap(const ParsedArguments& args, MergePolicy policy) {
    ConsoleSink sink;
    MapReplaceRequest request;
    request.map = args.positional[0].path;
    request.replaceList = args.value("--list")->path;
    request.sideFiles = args.paths("--side");
    request.keepBackups = !args.has("--no-backup");
    request.writeWithoutBackups = true;
    request.patchScript = args.has("--patch-script");
    request.policy = policy;
    if (args.has("--dry-run")) {
        MapReplacePlan plan;
        if (!planReplaceInMap(request, plan, sink))
            return kExitFailure;
        printOut(dryRunReport(plan.plan, plan.sides, &plan.strings));
        return kExitSuccess;
    }
    const ReplaceReport report = replaceInMap(request, sink);
    const int status = finish(report, sink);
    // Run again with --patch-script on the renamed map, the renames are done and the script stays as it is.
    if (report.completed && report.scriptOccurrences != 0) {
        const std::filesystem::path& map = request.map;
        const std::string restore =
            request.keepBackups
                ? "restore the map from its backup " +
                      pathText(backupName(splitPath(formOf(map) == MainForm::MapFolder ? folderItself(map) : map)))
                : "restore the map as it was before this run";
        const std::size_t n = report.scriptOccurrences;
        printError(report.unpatchedScript + " holds " + std::to_string(n) +
                   (n == 1 ? " occurrence" : " occurrences") +
                   " of renamed identifiers and was not changed; to patch them, " + restore +
                   " and run this replace again with --patch-script (on the renamed map it renames nothing), "
                   "or save the map in the editor to regenerate the script");
    }
    return status;
}

int runReplace(const ParsedArguments& args) {
    MergePolicy policy = MergePolicy::Glue;
    if (const Argument* p = args.value("--policy"); p && !parsePolicy(p->text, policy))
        return policyError("replace", p->text);
    if (isMapForm(formOf(args.positional[0].path)))
        return runReplaceInMap(args, policy);
    if (args.has("--patch-script")) {
        printError("replace: --patch-script works on maps (.w3x, .w3m) only");
        return kExitUsage;
    }
    ConsoleSink sink;
    const bool dryRun = args.has("--dry-run");
    FileLocks lock;
    std::vector<std::filesystem::path> locked = args.paths("--side");
    locked.push_back(args.positional[0].path);
    if (!dryRun && !lockRunFiles(lock, locked))
        return kExitFailure;
    ObjectBundle bundle;
    bool loaded = false;
    const BundlePath path = chooseMainBundle(bundle, args.positional[0], policy, sink, loaded);
    if (!loaded)
        return kExitFailure;

    ReplaceRequest request;
    request.replaceList = args.value("--list")->path;
    request.sideFiles = args.paths("--side");
    request.keepBackups = !args.has("--no-backup");
    request.writeWithoutBackups = true;
    if (dryRun)
        return runDryRun(bundle, request);
    return finish(replaceIdentifiers(bundle, path, loaded, request, sink), sink);
}

constexpr OptionSpec kReplaceOptions[] = {
    {.longName = "--list", .shortName = "-l", .takesValue = true, .valueName = "LIST", .required = true,
     .help = "the replace list", .value = ValueKind::TextFile},
    {.longName = "--side", .shortName = "-s", .takesValue = true, .valueName = "FILE",
     .help = "a side file to patch; repeat for more, patched in the order given"},
    {.longName = "--no-backup", .shortName = "",
     .help = "write the files without taking backup copies first"},
    {.longName = "--dry-run", .shortName = "",
     .help = "write nothing; print each rename with the object's name, how many string and integer values it "
             "rewrites and how many occurrences each side file holds, then the totals"},
    {.longName = "--patch-script", .shortName = "",
     .help = "with a map: also patch its script, war3map.j or war3map.lua (byte-wise patching of free text is "
             "the riskier choice, so it is not done unasked)"},
    {.longName = "--policy", .shortName = "", .takesValue = true, .valueName = "overwrite|glue|keep",
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
        .details =
            "LIST holds pairs of four-character identifiers: the old one (where % stands for any character)\n"
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
