// build JSON (-o OUT | --into MAP): object data written from the JSON that dump --json writes.
#include "cli/command.h"
#include "cli/consolesink.h"
#include "cli/objectjson.h"

#include "core/fileio.h"
#include "core/objectbundle.h"
#include "map/mapcommands.h"

#include <cstdio>
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
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
    if (std::ferror(stdin)) {
        printError("cannot read standard input");
        return false;
    }
    return true;
}

bool parseInput(const std::vector<std::uint8_t>& bytes, const std::string& name, OrderedJson& doc) {
    try {
        doc = OrderedJson::parse(bytes.begin(), bytes.end());
        return true;
    } catch (const OrderedJson::parse_error& e) {
        // The library's message starts with its own tag: "[json.exception.parse_error.101] parse error at ...".
        std::string what = e.what();
        if (const std::size_t tag = what.find("] "); tag != std::string::npos)
            what.erase(0, tag + 2);
        printError(name + ": not JSON, at byte " + std::to_string(e.byte) + ": " + what);
        return false;
    }
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

int runBuild(const ParsedArguments& args) {
    const Argument* out = args.value("--output");
    const Argument* into = args.value("--into");
    if ((out != nullptr) == (into != nullptr)) {
        printError("build: give either -o OUT or --into MAP");
        std::fprintf(stderr, "usage: %s build JSON (-o OUT | --into MAP [--no-backup])\n", kProgramName);
        return kExitUsage;
    }
    if (out && isMap(out->path)) {
        printError("build: " + out->text + " is a map: write into it with --into");
        return kExitUsage;
    }
    if (into && !isMap(into->path)) {
        printError("build: --into takes a map (.w3x, .w3m, or a map saved as a folder), not " + into->text);
        return kExitUsage;
    }
    if (out && !checkOutput("build", *out, args.positional, false))
        return kExitFailure;
    FileLock lock;
    std::string error;
    if (out && out->text != "-" && !lock.acquire(out->path, error)) {
        printError(error);
        return kExitFailure;
    }
    std::vector<std::uint8_t> bytes;
    std::string name;
    OrderedJson doc;
    if (!readInput(args.positional[0], bytes, name) || !parseInput(bytes, name, doc))
        return kExitFailure;
    bytes = {};
    ObjectBundle bundle;
    std::vector<JsonProblem> problems;
    const WarningSink warn = [&name](const std::string& line) { printError(name + ": " + line); };
    StringTable texts; // what references stood for in the map the JSON was dumped from
    if (!bundleFromJson(doc, bundle, problems, warn, &texts)) {
        for (std::size_t i = 0; i < problems.size() && i < kProblemsShown; ++i)
            printError(name + ": " + problems[i].path + ": " + problems[i].message);
        if (problems.size() > kProblemsShown)
            printError(name + ": and " + std::to_string(problems.size() - kProblemsShown) + " more problems" +
                       (problems.size() == 100 ? " or more" : ""));
        return kExitFailure;
    }
    doc = nullptr;
    if (into) {
        if constexpr (kMapsSupported) {
            ConsoleSink sink;
            return putObjectFilesIntoMap(into->path, bundle, !args.has("--no-backup"), sink, &texts) ? kExitSuccess
                                                                                                     : kExitFailure;
        } else {
            printError(into->text + ": " + std::string(kMapsUnsupported));
            return kExitFailure;
        }
    }
    const std::optional<ObjectKind> kind = singleKindOf(out->path);
    if (kind && !fitsSingleKind(bundle, *kind, name, *out))
        return kExitFailure;
    return writeOutput(*out, kind ? bundle.objectFileBytes(*kind) : bundle.toBytes()) ? kExitSuccess : kExitFailure;
}

constexpr OptionSpec kBuildOptions[] = {
    {.longName = "--output", .shortName = "-o", .takesValue = true, .valueName = "OUT", .required = false,
     .help = "the bundle or object file to write (- for standard output); replaced only once it is written whole; "
             "it may not be JSON itself",
     .value = ValueKind::ObjectFile},
    {.longName = "--into", .shortName = "", .takesValue = true, .valueName = "MAP", .required = false,
     .help = "write the object file of every kind the JSON holds into the map (.w3x, .w3m, or a map folder) as "
             "war3map.<ext>, after copying the map to BACKUP_<name>; the map's other files, skin files and object "
             "files of other kinds stay as they are",
     .value = ValueKind::ObjectFileOrMap},
    {.longName = "--no-backup", .shortName = "", .help = "with --into, write the map without the backup copy"},
};
constexpr ValueKind kPositionals[] = {ValueKind::AnyFile};

} // namespace

const Command& buildCommand() {
    static const Command command{
        .name = "build",
        .synopsis = "build JSON (-o OUT | --into MAP [--no-backup])",
        .summary = "Writes a bundle, object file or map's object files from JSON.",
        .details =
            "Reads the JSON that dump --json writes (JSON may be - for standard input) and writes OUT: an\n"
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
            "nothing is written.\n"
            "\n"
            "A dump of a map gives each string value that refers to its string table (\"TRIGSTR_012\") the\n"
            "text it stands for (\"text\"). Built --into a map whose war3map.wts holds that text under that\n"
            "number, the reference stays; otherwise the text is added to the map's war3map.wts under a new\n"
            "number and the value refers to it. The map's own texts keep their bytes.\n",
        .options = kBuildOptions,
        .minPositional = 1,
        .maxPositional = 1,
        .run = &runBuild,
        .examples = "brindlemark-cli dump war3map.w3u --json > units.json\n"
                    "brindlemark-cli build units.json -o war3map.w3u\n"
                    "brindlemark-cli build objects.json --into MyMap.w3x",
        .positionals = kPositionals,
    };
    return command;
}

} // namespace brindlemark::cli
