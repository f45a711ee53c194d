// build JSON (-o OUT | --into MAP): object data written from the JSON that dump --json writes.
#include "cli/command.h"
#include "cli/consolesink.h"
#include "text/objectjson.h"

#include "core/fileio.h"
#include "core/objectbundle.h"
#include "core/objectdiff.h"
#include "commands/mapcommands.h"
#include "document/mainform.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace brindlemark::cli {

namespace {

constexpr std::size_t kProblemsShown = 20;

bool readInput(const Argument& file, std::vector<std::uint8_t>& bytes, std::string& name) {
    if (file.text != "-") {
        name = pathText(file.path);
        std::string error;
        if (readFile(file.path, bytes, error))
            return true;
        printError(error);
        return false;
    }
    name = "standard input";
    char buffer[1 << 16];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
        bytes.insert(bytes.end(), buffer, buffer + n);
        if (bytes.size() > kMaxReadSize) { // an endless stream such as /dev/zero
            printError("standard input holds more than the " + std::to_string(kMaxReadSize) +
                       " bytes that such a file can hold");
            return false;
        }
    }
    if (std::ferror(stdin)) {
        printError("cannot read standard input");
        return false;
    }
    return true;
}

void printProblems(const std::vector<JsonProblem>& problems, const std::string& name) {
    for (std::size_t i = 0; i < problems.size() && i < kProblemsShown; ++i)
        printError(name + ": " + (problems[i].path.empty() ? "" : problems[i].path + ": ") + problems[i].message);
    if (problems.size() > kProblemsShown)
        printError(name + ": and " + std::to_string(problems.size() - kProblemsShown) + " more problems" +
                   (problems.size() == kMaxJsonProblems ? " or more" : ""));
}

std::size_t objectCount(const ObjectBundle& bundle, ObjectKind k) {
    const ObjectFile& file = bundle.kind(k).file;
    return bundle.kind(k).present == 0 ? 0 : file.standardTable.count() + file.customTable.count();
}

// Prints, for every kind that `from` holds, the map's objects before and after the build with what was added,
// removed and changed. Returns the objects removed, and in `removedText` where ("313 units, 2 skin buffs").
std::size_t printBuildReport(const ObjectBundle& before, const ObjectBundle& after, const ObjectBundle& from,
                             const char* label, std::string& removedText) {
    const BundleDiff diff = diffBundles(before, after);
    std::size_t removedAll = 0;
    std::string text;
    for (ObjectKind k : kAllObjectKinds) {
        if (from.kind(k).present == 0)
            continue;
        std::size_t added = 0;
        std::size_t removed = 0;
        std::size_t changed = 0;
        for (const ObjectChange& c : diff.objects)
            if (c.kind == k)
                ++(!c.before ? added : !c.after ? removed : changed);
        const std::string kind = label + std::string(kindName(k));
        text += kind + ": " + std::to_string(objectCount(before, k)) + " -> " + std::to_string(objectCount(after, k)) +
                " objects (" + std::to_string(added) + " added, " + std::to_string(removed) + " removed, " +
                std::to_string(changed) + " changed)\n";
        if (removed != 0)
            removedText += (removedText.empty() ? "" : ", ") + std::to_string(removed) + " " + kind;
        removedAll += removed;
    }
    printOut(text);
    return removedAll;
}

// For a single-kind OUT, whether the bundle holds that kind and no other; reported when not.
bool fitsSingleKind(const ObjectBundle& bundle, ObjectKind kind, const std::string& name, const Argument& out) {
    std::string others;
    for (ObjectKind k : kAllObjectKinds)
        if (k != kind && bundle.kind(k).present != 0)
            others += std::string(others.empty() ? "" : ", ") + kindName(k);
    if (bundle.kind(kind).present != 0 && others.empty())
        return true;
    printError(name + ": " + pathText(out.path) + " holds " + kindName(kind) + " only, but the JSON holds " +
               (bundle.kind(kind).present != 0 ? std::string(kindName(kind)) + " and " + others
                                               : (others.empty() ? std::string("no kind") : others)));
    return false;
}

int usage(const std::string& message) {
    printError(message);
    std::fprintf(stderr, "usage: %s %s\n", kProgramName, buildCommand().synopsis.data());
    return kExitUsage;
}

// build --into MAP: the JSON's kinds replace the map's or are merged into them; a build that would remove objects
// needs --replace.
int buildIntoMap(const ParsedArguments& args, const std::string& name, const ObjectBundle& main,
                 const ObjectBundle& skin, const StringTable& texts) {
    const Argument& into = *args.value("--into");
    std::optional<MergePolicy> policy;
    if (const Argument* p = args.value("--policy")) {
        MergePolicy chosen = MergePolicy::Glue;
        if (!parsePolicy(p->text, chosen))
            return policyError("build", p->text);
        policy = chosen;
    }
    const bool dryRun = args.has("--dry-run");
    bool refused = false;
    const auto approve = [&](const MapObjectsBuild& build) {
        std::string where;
        const std::size_t removed = printBuildReport(build.before.main, build.main, main, "", where) +
                                    printBuildReport(build.before.skin, build.skin, skin, "skin ", where);
        if (removed != 0 && !args.has("--replace")) {
            printError("build: " + name + " would remove " + std::to_string(removed) + " objects from " + into.text +
                       " (" + where +
                       "): a kind in the JSON replaces the map's kind; add --replace "
                       "to replace them, or --policy overwrite|glue|keep to merge into them; nothing was "
                       "written");
            refused = true;
            return false;
        }
        return !dryRun;
    };
    ConsoleSink sink;
    std::size_t written = 0;
    if (!putObjectFilesIntoMap(into.path, main, skin, policy, !args.has("--no-backup"), approve, written, sink, &texts))
        return kExitFailure;
    if (refused)
        return kExitFailure;
    if (dryRun)
        printOut("dry run: nothing was written\n");
    else if (written == 0)
        printOut(into.text + " already holds these objects; nothing was written\n");
    else
        printOut(into.text + ": " + std::to_string(written) + " object file" + (written == 1 ? "" : "s") +
                 " written\n");
    return kExitSuccess;
}

int runBuild(const ParsedArguments& args) {
    const Argument* out = args.value("--output");
    const Argument* into = args.value("--into");
    if ((out != nullptr) == (into != nullptr))
        return usage("build: give either -o OUT or --into MAP");
    if (!into)
        for (const char* option : {"--policy", "--replace", "--dry-run"})
            if (args.has(option))
                return usage(std::string("build: ") + option + " goes with --into MAP");
    if (into && args.has("--keep-string-refs"))
        return usage("build: --keep-string-refs goes with -o OUT");
    if (args.has("--policy") && args.has("--replace"))
        return usage("build: give either --policy (merge into the map's kinds) or --replace (replace them)");
    if (const std::string refused = out ? mapRefusal(out->path, out->text, ": write into it with --into") : "";
        !refused.empty()) {
        printError("build: " + refused);
        return kExitUsage;
    }
    if (into && !holdsMapFiles(into->path)) {
        printError("build: --into takes a map (.w3x, .w3m, or a map saved as a folder), not " + into->text);
        return kExitUsage;
    }
    if (out && !checkOutput("build", *out, args.positional, false))
        return kExitFailure;
    FileLocks lock;
    if (out && !lockRunFiles(lock, {out->path}))
        return kExitFailure;
    std::vector<std::uint8_t> bytes;
    std::string name;
    if (!readInput(args.positional[0], bytes, name))
        return kExitFailure;
    JsonBundle read; // texts: what references stood for in the map the JSON was dumped from
    std::vector<JsonProblem> problems;
    const WarningSink warn = [&name](const std::string& line) { printError(name + ": " + line); };
    if (!readBundleJson(bytes, read, problems, warn)) {
        printProblems(problems, name);
        return kExitFailure;
    }
    bytes = {};
    ObjectBundle& bundle = read.bundle;
    ObjectBundle& skin = read.skin;
    StringTable& texts = read.texts;
    if (into)
        return buildIntoMap(args, name, bundle, skin, texts);
    if (holdsAnyKind(skin)) {
        printError(name + ": the JSON holds skin objects (\"skin\"), which only a map keeps apart from its "
                          "objects; build it --into a map, or move them into \"kinds\"");
        return kExitFailure;
    }
    const std::optional<ObjectKind> kind = singleKindOf(out->path);
    if (kind && !fitsSingleKind(bundle, *kind, name, *out))
        return kExitFailure;
    // OUT has no string table: the references of a map's dump are written as the texts the dump gives for them.
    if (texts.size() != 0) {
        if (!args.has("--keep-string-refs"))
            resolveStrings(bundle, texts);
        else if (const std::size_t kept = missingStrings(bundle, StringTable()).size(); kept != 0)
            printError(std::to_string(kept) + " string values stay references into the string table of the map " +
                       name + " was dumped from (--keep-string-refs)");
    }
    return writeOutput(*out, kind ? bundle.objectFileBytes(*kind) : bundle.toBytes()) ? kExitSuccess : kExitFailure;
}

constexpr OptionSpec kBuildOptions[] = {
    {.longName = "--output",
     .shortName = "-o",
     .takesValue = true,
     .valueName = "OUT",
     .required = false,
     .help = "the bundle or object file to write (- for standard output); replaced only once it is written whole; "
             "it may not be JSON itself",
     .value = ValueKind::ObjectFile},
    {.longName = "--into",
     .shortName = "",
     .takesValue = true,
     .valueName = "MAP",
     .required = false,
     .help = "write the kinds the JSON holds into the map (.w3x, .w3m, or a map folder): each kind in \"kinds\" "
             "replaces the map's war3map.<ext>, each kind in \"skin\" its war3mapSkin.<ext>, after copying the map "
             "to BACKUP_<name>; the map's other files and the kinds the JSON lacks stay as they are. Prints, per "
             "kind, the objects before and after with those added, removed and changed. A build that would remove "
             "objects is refused unless --replace or --policy is given",
     .value = ValueKind::ObjectFileOrMap},
    {.longName = "--policy",
     .shortName = "",
     .takesValue = true,
     .valueName = "overwrite|glue|keep",
     .required = false,
     .help = "with --into, merge the JSON's objects into the map's kinds instead of replacing them: where an "
             "identifier stands in both, overwrite takes the JSON's object, glue merges its field changes into "
             "the map's object, keep leaves the map's object as it is",
     .value = ValueKind::Words},
    {.longName = "--replace",
     .shortName = "",
     .help = "with --into, let the JSON's kinds replace the map's even where that removes objects"},
    {.longName = "--dry-run",
     .shortName = "",
     .help = "with --into, print what the build would change and write nothing"},
    {.longName = "--no-backup", .shortName = "", .help = "with --into, write the map without the backup copy"},
    {.longName = "--keep-string-refs",
     .shortName = "",
     .help = "with -o, keep the TRIGSTR_ references of a map's dump instead of the texts the dump gives for them"},
};
constexpr ValueKind kPositionals[] = {ValueKind::JsonFile};

} // namespace

const Command& buildCommand() {
    static const Command command{
        .name = "build",
        .synopsis = "build JSON (-o OUT | --into MAP [--policy overwrite|glue|keep | --replace] [--dry-run] "
                    "[--no-backup])",
        .summary = "Writes a bundle, object file or map's object files from JSON.",
        .details = "Reads the JSON that dump --json writes (JSON may be - for standard input) and writes OUT: an\n"
                   "object file of one kind when its extension names one (.w3u .w3t .w3b .w3d .w3a .w3h .w3q; the\n"
                   "JSON must then hold that kind alone), else a .w3o bundle. What dump --json writes builds back\n"
                   "byte for byte into what normalize writes: real values keep their bits, strings their bytes,\n"
                   "unknown value types their codes and stray values their place, set flags their values.\n"
                   "\n"
                   "The JSON may be edited by hand: modifications in any order (they are filed as loading files\n"
                   "them), strings as plain UTF-8, and what can be derived left out: typeCode when type is given,\n"
                   "effectiveId, bits when value is given, level and column (0), setFlag (0). The input is checked\n"
                   "against the layout that docs/objectdata.schema.json describes; every value that breaks a rule\n"
                   "is reported with its place, as in $.kinds.abilities.custom[12].modifications[3].level, and\n"
                   "nothing is written. A document may also leave out its version (1), a kind's present (1) and\n"
                   "version (3), and empty standard and custom tables. A name given twice in one object is refused\n"
                   "with its place, since one of the two would be lost.\n"
                   "\n"
                   "With --into MAP, a kind in the JSON replaces the map's kind: objects of the map that the JSON\n"
                   "lacks are removed. The dump of a map keeps its skin files (war3mapSkin.<ext>) apart under\n"
                   "\"skin\", and they go back to those files, so dump --json MAP and build --into MAP without edits\n"
                   "change nothing. The build prints, per kind, the map's objects before -> after (added, removed,\n"
                   "changed). A build that would remove objects is refused, naming how many, unless --replace is\n"
                   "given; --policy merges the JSON's objects into the map's kinds instead, so a JSON with one new\n"
                   "unit adds that unit. --dry-run prints the same and writes nothing.\n"
                   "\n"
                   "A dump of a map gives each string value that refers to its string table (\"TRIGSTR_012\") the\n"
                   "text it stands for (\"text\"). Built --into a map whose war3map.wts holds that text under that\n"
                   "number, the reference stays; otherwise the text is added to the map's war3map.wts under a new\n"
                   "number and the value refers to it. The map's own texts keep their bytes. Built -o into a bundle\n"
                   "or object file, which has no string table, such a value is written as its text.\n",
        .options = kBuildOptions,
        .minPositional = 1,
        .maxPositional = 1,
        .run = &runBuild,
        .examples = "brindlemark-cli dump war3map.w3u --json > units.json\n"
                    "brindlemark-cli build units.json -o war3map.w3u\n"
                    "brindlemark-cli build objects.json --into MyMap.w3x --dry-run\n"
                    "brindlemark-cli build new-units.json --into MyMap.w3x --policy glue",
        .positionals = kPositionals,
    };
    return command;
}

} // namespace brindlemark::cli
