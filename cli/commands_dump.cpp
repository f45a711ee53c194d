// dump FILE [--json]: every object and modification of a bundle, as text or as JSON.
#include "cli/command.h"
#include "text/objectjson.h"
#include "text/objecttext.h"

#include "core/objectbundle.h"
#include "document/document.h"

#include <cstdio>
#include <string>

namespace brindlemark::cli {

namespace {

// ---- Text listing

std::string modificationLine(const Modification& m) {
    return "    " + fieldSlotText(m) + " " + valueText(&m) + "\n";
}

void printTableText(const ObjectTable& table, const char* which) {
    for (std::size_t i = 0; i < table.count(); ++i) {
        const ObjectRecord& record = table.at(i);
        std::string text = std::string("  ") + which + " object " + escapedBytes(record.effectiveId()) + ": base " +
                           escapedBytes(record.baseId) + ", new " + escapedBytes(record.newId) + ", set flag " +
                           std::to_string(record.setFlag) + ", modifications " +
                           std::to_string(record.modificationCount()) + "\n";
        for (const Modification& m : record.modifications())
            text += modificationLine(m);
        printOut(text);
    }
}

void printKindsText(const ObjectBundle& bundle, const char* label) {
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectBundle::Kind& kind = bundle.kind(k);
        if (kind.present == 0)
            continue;
        printOut(label + std::string(kindName(k)) + ": presence flag " + std::to_string(kind.present) +
                 ", object file version " + std::to_string(kind.file.version) + "\n");
        printTableText(kind.file.standardTable, "standard");
        printTableText(kind.file.customTable, "custom");
    }
}

int runDump(const ParsedArguments& args) {
    MainView view; // a map's skin files kept apart
    if (!loadView(args.positional[0], view, true))
        return kExitFailure;
    const ObjectBundle& bundle = view.objects;
    const ObjectBundle& skin = view.skin;
    const StringTable& strings = view.strings;
    if (view.ownStrings) {
        std::vector<MissingString> missing = missingStrings(bundle, strings);
        const std::vector<MissingString> inSkin = missingStrings(skin, strings);
        missing.insert(missing.end(), inSkin.begin(), inSkin.end());
        if (!missing.empty())
            printError(missingStringsMessage(args.positional[0].path, strings.size() != 0, missing));
    }
    if (args.has("--json")) {
        writeBundleJson(bundle, printOut, &skin, &strings);
    } else {
        printOut("bundle version: " + std::to_string(bundle.version) + "\n");
        printKindsText(bundle, "");
        printKindsText(skin, "skin ");
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        printError("cannot write to standard output");
        return kExitFailure;
    }
    return kExitSuccess;
}

constexpr OptionSpec kDumpOptions[] = {
    {.longName = "--json",
     .shortName = "",
     .takesValue = false,
     .valueName = "",
     .required = false,
     .help =
         "write JSON: {version, kinds: {units: {present, version, hasLevels, standard: [objects], custom: "
         "[objects]}, ...}}; an object is {effectiveId, baseId, newId, setFlag, modifications: [{field, level, "
         "column, type, typeCode, value, bits, escaped, text, strayBefore}]}, where level and column appear for kinds "
         "with levels, bits for reals (value is then the shortest decimal of the single-precision number, or "
         "null when it is not finite), typeCode for a type the program does not know, escaped and strayBefore "
         "only when they apply (strayBefore: four bytes found before a modification of an unknown value "
         "type), text for a value of a map that refers to its string table (TRIGSTR_012): the text it stands for. "
         "Each modification stands on a line of its own, so that line-wise diffs of two dumps show the "
         "changed fields. The dump of a map keeps its skin files (war3mapSkin.<ext>) apart: their kinds follow "
         "as \"skin\", in the layout of \"kinds\". build reads this JSON back; docs/objectdata.schema.json "
         "describes it."},
};
constexpr ValueKind kPositionals[] = {ValueKind::ObjectFileOrMap};

} // namespace

const Command& dumpCommand() {
    static const Command command{
        .name = "dump",
        .synopsis = "dump FILE [--json]",
        .summary = "Lists every object and modification, as text or JSON.",
        .details =
            "Lists every kind that the file holds and, in the order in which they are stored (modified standard\n"
            "objects, then custom objects, each sorted by identifier), every object with its identifiers and set\n"
            "flag, and every modification: field, value type, level and data column (for doodads, abilities\n"
            "and upgrades), and value. A real value is shown with its bits in hexadecimal, so that its exact\n"
            "value is visible; a value type the program does not know is shown by its code.\n"
            "\n"
            "Identifiers show their four bytes: printable ASCII as it is, other bytes as \\xNN.\n"
            "String values are 8-bit text in any code page. In the text listing they stand in double quotes,\n"
            "with \\\" \\\\ \\n \\r \\t and \\xNN escapes. In JSON a string that is valid UTF-8 is written as it is;\n"
            "any other string is marked \"escaped\": true, and its value has each byte that is not part of\n"
            "valid UTF-8 as the text \\xNN and each backslash doubled. The output is always valid JSON.\n"
            "\n"
            "A map's skin files (war3mapSkin.<ext>, where the current editor keeps names and art) are listed\n"
            "apart from its object files, their kinds labelled \"skin units\" and so on.\n",
        .options = kDumpOptions,
        .minPositional = 1,
        .maxPositional = 1,
        .run = &runDump,
        .examples = "brindlemark-cli dump war3map.w3o | less\n"
                    "brindlemark-cli dump war3map.w3o --json > objects.json",
        .positionals = kPositionals,
    };
    return command;
}

} // namespace brindlemark::cli
