// replace BUNDLE --list LIST [--side FILE]... [--no-backup] [--policy P]: the Replace command of the window.
#include "cli/command.h"
#include "cli/consolesink.h"
#include "cli/dryrunreport.h"

#include "core/bundlepath.h"
#include "core/fileio.h"
#include "map/mapcommands.h"
#include "merge/mergecommand.h"
#include "replace/dryrun.h"
#include "replace/replacecommand.h"

#include <map>

namespace brindlemark::cli {

namespace {

// Plans the run and prints what it would change; nothing is written.
int runDryRun(ObjectBundle& bundle, const ReplaceRequest& request) {
    std::vector<std::pair<ObjectId, ObjectId>> pairs;
    if (!readReplacePairs(request.replaceList, pairs)) {
        printError("Sorry, can't open Replace List file " + pathText(request.replaceList));
        return kExitFailure;
    }
    // Rows naming one file make one side text with a pass per row.
    std::vector<SideText> sides;
    std::map<std::filesystem::path, std::size_t> byKey;
    bool failed = false;
    for (const std::filesystem::path& row : request.sideFiles) {
        const auto [it, fresh] = byKey.try_emplace(sameFileKey(row), sides.size());
        if (!fresh) {
            ++sides[it->second].passes;
            continue;
        }
        SideText side{pathText(row), {}, 1};
        std::string why;
        if (!readFile(row, side.bytes, why)) {
            printError(why);
            failed = true;
        }
        sides.push_back(std::move(side));
    }
    const std::vector<PlannedRename> renames = planRenames(bundle, pairs, sides);
    printOut(dryRunReport(renames, sides, nullptr));
    return failed ? kExitFailure : kExitSuccess;
}

void printRenames(const std::vector<RenameEntry>& renames) {
    std::string out;
    for (const RenameEntry& entry : renames)
        out.append(entry.fromId.raw()).append("\t").append(entry.toId.raw()).append("\n");
    printOut(out);
}

// The same command on a map archive: its object files and trigger files inside, the side files outside.
int runReplaceInMap(const ParsedArguments& args, MergePolicy policy) {
    ConsoleSink sink;
    MapReplaceRequest request;
    request.map = args.positional[0].path;
    request.replaceList = args.value("--list")->path;
    for (const auto& [name, value] : args.options)
        if (name == "--side")
            request.sideFiles.push_back(value.path);
    request.keepBackups = !args.has("--no-backup");
    request.patchScript = args.has("--patch-script");
    request.policy = policy;
    if (args.has("--dry-run")) {
        std::vector<PlannedRename> renames;
        std::vector<SideText> sides;
        StringTable strings;
        const bool ok = planReplaceInMap(request, renames, sides, strings, sink);
        if (renames.empty() && !ok)
            return kExitFailure;
        printOut(dryRunReport(renames, sides, &strings));
        return ok ? kExitSuccess : kExitFailure;
    }
    const ReplaceReport report = replaceInMap(request, sink);
    printRenames(report.renames);
    return report.failed ? kExitFailure : kExitSuccess;
}

int runReplace(const ParsedArguments& args) {
    MergePolicy policy = MergePolicy::Glue;
    if (const Argument* p = args.value("--policy"); p && !parsePolicy(p->text, policy))
        return policyError("replace", p->text);
    if (isMapArchive(args.positional[0].path))
        return runReplaceInMap(args, policy);
    if (args.has("--patch-script")) {
        printError("replace: --patch-script works on maps (.w3x, .w3m) only");
        return kExitUsage;
    }
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
    if (args.has("--dry-run"))
        return loaded ? runDryRun(bundle, request) : kExitFailure;
    const ReplaceReport report = replaceIdentifiers(bundle, path, loaded, request, sink);
    printRenames(report.renames);
    return loaded && !report.failed ? kExitSuccess : kExitFailure;
}

constexpr OptionSpec kReplaceOptions[] = {
    {.longName = "--list", .shortName = "-l", .takesValue = true, .valueName = "LIST", .required = true},
    {.longName = "--side", .shortName = "-s", .takesValue = true, .valueName = "FILE"},
    {.longName = "--no-backup", .shortName = ""},
    {.longName = "--dry-run", .shortName = ""},
    {.longName = "--patch-script", .shortName = ""},
    {.longName = "--policy", .shortName = "", .takesValue = true, .valueName = "overwrite|glue|keep"},
};

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
            "Each applied rename is printed on standard output as: old identifier, TAB, new identifier.\n"
            "Messages go to standard error.\n"
            "\n"
            "Options:\n"
            "  -l, --list LIST      the replace list (required)\n"
            "  -s, --side FILE      a side file to patch; repeat for more, patched in the order given\n"
            "  --no-backup          rename in memory only: no file is copied, patched or written\n"
            "  --dry-run            write nothing; print each rename with the object's name, how many\n"
            "                       string and integer values it rewrites and how many occurrences each\n"
            "                       side file holds, then the totals\n"
            "  --patch-script       with a map: also patch its script, war3map.j or war3map.lua (byte-wise\n"
            "                       patching of free text is the riskier choice, so it is not done unasked)\n"
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
