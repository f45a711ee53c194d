// diff A B [--json]: two bundles, object files or maps compared as object data.
#include "cli/command.h"
#include "cli/objectinput.h"
#include "text/objectjson.h"
#include "text/objecttext.h"

#include "core/fileio.h"
#include "core/objectdiff.h"
#include "document/mainform.h"

#include <cstdio>
#include <string>

namespace brindlemark::cli {

namespace {

constexpr int kExitDifferent = 1;
constexpr int kExitTrouble = 2;

struct Sides {
    const ObjectInput& a;
    const ObjectInput& b;

    std::optional<ObjectKind> label(ObjectKind kind) const {
        return kindLabel(a, kind) && kindLabel(b, kind) ? std::optional(kind) : std::nullopt;
    }
    // The name in B, or in A when B lacks the object or its name.
    std::optional<std::string> name(const ObjectChange& c) const {
        std::optional<std::string> n = c.after ? objectName(b, c.kind, *c.after) : std::nullopt;
        if (!n && c.before)
            n = objectName(a, c.kind, *c.before);
        return n;
    }
    const ObjectRecord& record(const ObjectChange& c) const { return c.after ? *c.after : *c.before; }
};

// `label` stands before each kind: "skin " for a map's skin files.
std::string diffText(const BundleDiff& diff, const Sides& sides, const std::string& label) {
    std::string text;
    for (const VersionChange& v : diff.versions) {
        const std::optional<ObjectKind> kind = sides.label(v.kind);
        text += label + (kind ? std::string(kindName(*kind)) + ": object file" : std::string("object file")) +
                " version " + std::to_string(v.before) + " in A, " + std::to_string(v.after) + " in B\n";
    }
    for (const ObjectChange& c : diff.objects) {
        const char* what = !c.after ? "only in A: " : !c.before ? "only in B: " : "changed: ";
        text += what + label + objectText(sides.label(c.kind), c.table, sides.record(c), sides.name(c)) + "\n";
        if (!c.before || !c.after)
            continue;
        for (const HeaderChange& h : headerChanges(*c.before, *c.after))
            text += std::string("  ") + h.text + ": " + h.before + " -> " + h.after + "\n";
        for (const FieldChange& f : c.fields)
            text += "  " + fieldSlotText(f.before ? *f.before : *f.after) + ": " + valueText(f.before) + " -> " +
                    valueText(f.after) + "\n";
    }
    return text;
}

int runDiff(const ParsedArguments& args) {
    // Two maps compare their skin files apart; a map against a bundle or object file compares as the bundle
    // normalize would write, skin glued in.
    const bool maps = holdsMapFiles(args.positional[0].path) && holdsMapFiles(args.positional[1].path);
    ObjectInput a;
    ObjectInput b;
    if (!loadObjectInput(args.positional[0], a, maps) || !loadObjectInput(args.positional[1], b, maps))
        return kExitTrouble;
    // A map's references are compared by the texts they stand for: two maps number their texts each their own way.
    // Loose files name their objects through the string table given, a map through its own.
    if (const Argument* table = args.value("--strings")) {
        std::vector<std::uint8_t> bytes;
        std::string why;
        if (!readFile(table->path, bytes, why)) {
            printError(why);
            return kExitTrouble;
        }
        const StringTable strings = StringTable::parse(bytes);
        for (ObjectInput* input : {&a, &b})
            if (input->form != ObjectInput::Form::Map)
                input->strings = strings;
    }
    for (ObjectInput* input : {&a, &b})
        if (input->form == ObjectInput::Form::Map) {
            resolveStrings(input->bundle, input->strings);
            resolveStrings(input->skin, input->strings);
        }
    const BundleDiff diff = diffBundles(a.bundle, b.bundle);
    const BundleDiff skinDiff = diffBundles(a.skin, b.skin);
    const Sides sides{a, b};
    const DiffLabels labels{.kind = [&sides](ObjectKind k) { return sides.label(k); },
                            .name = [&sides](const ObjectChange& c) { return sides.name(c); }};
    printOut(args.has("--json") ? diffJson(diff, maps ? &skinDiff : nullptr, labels)
                                : diffText(diff, sides, "") + diffText(skinDiff, sides, "skin "));
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        printError("cannot write to standard output");
        return kExitTrouble;
    }
    return diff.empty() && skinDiff.empty() ? kExitSuccess : kExitDifferent;
}

constexpr OptionSpec kDiffOptions[] = {
    {.longName = "--json",
     .shortName = "",
     .takesValue = false,
     .valueName = "",
     .required = false,
     .help = "write JSON: {equal, versions: [{kind, old, new}], onlyInA: [objects], onlyInB: [objects], changed: "
             "[{kind, table, id, name, baseId, newId, setFlag, fields: [{field, level, column, old, new}]}]}; an "
             "object is {kind, table, id, name}, baseId, newId and setFlag appear as {old, new} when they changed, "
             "and old and new of a field are its value as dump --json writes it ({type, value, ...}) or null. "
             "Entries of two maps' skin files carry \"skin\": true."},
    {.longName = "--strings",
     .shortName = "",
     .takesValue = true,
     .valueName = "FILE",
     .help = "the map's string table (war3map.wts) for files outside the map: names such as TRIGSTR_012 are shown "
             "as the table's text. A map's own table is used by itself.",
     .value = ValueKind::StringTable},
};
constexpr ValueKind kPositionals[] = {ValueKind::ObjectFileOrMap, ValueKind::ObjectFileOrMap};

} // namespace

const Command& diffCommand() {
    static const Command command{
        .name = "diff",
        .synopsis = "diff A B [--json] [--strings FILE]",
        .summary = "Compares the object data of two files: objects only in one, and changed fields.",
        .details = "A and B may each be a .w3o bundle, an object file of one kind or a map (.w3x .w3m). They are\n"
                   "compared as object data, not as bytes: files that differ only in the order of objects or\n"
                   "modifications, or in end markers, are equal. Listed are the objects only in A, those only in B,\n"
                   "and the changed objects with each changed field: its id, level and column (for kinds with\n"
                   "levels), the value in A and the value in B (\"none\" where a side lacks the field). An object is\n"
                   "named by kind, table (standard or custom), identifier and name. Object file versions that\n"
                   "differ are listed too; bundle versions and presence flags are not compared.\n"
                   "Two maps' skin files (war3mapSkin.<ext>) are compared apart from their object files, and their\n"
                   "entries are labelled \"skin\"; a map compared with a bundle or object file is taken with its\n"
                   "skin files glued in, as normalize writes it. The string values of a map that refer to its string\n"
                   "table (\"TRIGSTR_012\") are compared as the texts they stand for.\n"
                   "\n"
                   "Exit status: 0 equal, 1 different, 2 trouble (a file that cannot be read; a wrong command line).\n",
        .options = kDiffOptions,
        .minPositional = 2,
        .maxPositional = 2,
        .run = &runDiff,
        .examples = "brindlemark-cli diff before/war3map.w3u after/war3map.w3u",
        .positionals = kPositionals,
    };
    return command;
}

} // namespace brindlemark::cli
