// dump FILE [--json]: every object and modification of a bundle, as text or as JSON.
#include "cli/command.h"
#include "cli/textescape.h"

#include "core/fileio.h"
#include "core/objectbundle.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace brindlemark::cli {

namespace {

using nlohmann::json;

const char* typeName(ModValueType type) {
    switch (type) {
    case ModValueType::Integer:
        return "integer";
    case ModValueType::Real:
        return "real";
    case ModValueType::Unreal:
        return "unreal";
    case ModValueType::String:
        return "string";
    }
    return "unknown";
}

std::uint32_t realBits(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::string hexBits(std::uint32_t bits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(bits));
    return text;
}

// The shortest decimal text that reads back as the same single-precision value.
std::string shortestText(float value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// Text for JSON: well-formed UTF-8 as it is, other text escaped so that the output stays valid.
std::string jsonSafe(std::string_view text) { return isUtf8(text) ? std::string(text) : escapeNonUtf8(text); }

// ---- Text listing

std::string modificationLine(const Modification& m) {
    std::string line = "    " + escapedBytes(m.fieldId);
    if (m.hasLevels)
        line += " level " + std::to_string(m.level) + " column " + std::to_string(m.dataColumn);
    switch (m.valueType) {
    case ModValueType::Integer:
        line += " integer " + std::to_string(m.intValue);
        break;
    case ModValueType::Real:
    case ModValueType::Unreal:
        line += std::string(" ") + typeName(m.valueType) + " " + shortestText(m.realValue) + " (bits " +
                hexBits(realBits(m.realValue)) + ")";
        break;
    case ModValueType::String:
        line += " string " + quotedText(m.stringValue);
        break;
    default:
        line += " type " + std::to_string(static_cast<std::int32_t>(m.valueType)) + " (unknown, no value)";
        break;
    }
    if (m.recovered)
        line += ", stray value " + escapedBytes(m.endMarker) + " before it";
    return line + "\n";
}

void printTableText(const ObjectTable& table, const char* which) {
    for (std::size_t i = 0; i < table.count(); ++i) {
        const ObjectRecord& record = table.at(i);
        std::string text = std::string("  ") + which + " object " + escapedBytes(record.effectiveId()) +
                           ": base " + escapedBytes(record.baseId) + ", new " + escapedBytes(record.newId) +
                           ", set flag " + std::to_string(record.setFlag) + ", modifications " +
                           std::to_string(record.modificationCount()) + "\n";
        for (const Modification& m : record.modifications())
            text += modificationLine(m);
        printOut(text);
    }
}

void printText(const ObjectBundle& bundle) {
    printOut("bundle version: " + std::to_string(bundle.version) + "\n");
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectBundle::Kind& kind = bundle.kind(k);
        if (kind.present == 0)
            continue;
        printOut(std::string(kindName(k)) + ": presence flag " + std::to_string(kind.present) +
                 ", object file version " + std::to_string(kind.file.version) + "\n");
        printTableText(kind.file.standardTable, "standard");
        printTableText(kind.file.customTable, "custom");
    }
}

// ---- JSON, written one object at a time so that a large bundle needs no large document in memory

json modificationJson(const Modification& m) {
    json j;
    j["field"] = escapedBytes(m.fieldId);
    j["type"] = typeName(m.valueType);
    j["typeCode"] = static_cast<std::int32_t>(m.valueType);
    if (m.hasLevels) {
        j["level"] = m.level;
        j["column"] = m.dataColumn;
    }
    switch (m.valueType) {
    case ModValueType::Integer:
        j["value"] = m.intValue;
        break;
    case ModValueType::Real:
    case ModValueType::Unreal:
        // JSON has no NaN or infinity; the bits always give the exact value.
        if (std::isfinite(m.realValue))
            j["value"] = std::strtod(shortestText(m.realValue).c_str(), nullptr);
        else
            j["value"] = nullptr;
        j["bits"] = hexBits(realBits(m.realValue));
        break;
    case ModValueType::String:
        if (isUtf8(m.stringValue)) {
            j["value"] = m.stringValue;
        } else {
            j["value"] = escapeNonUtf8(m.stringValue);
            j["escaped"] = true;
        }
        break;
    default:
        break;
    }
    if (m.recovered)
        j["strayBefore"] = escapedBytes(m.endMarker);
    return j;
}

json objectJson(const ObjectRecord& record) {
    json j;
    j["effectiveId"] = escapedBytes(record.effectiveId());
    j["baseId"] = escapedBytes(record.baseId);
    j["newId"] = escapedBytes(record.newId);
    j["setFlag"] = record.setFlag;
    json mods = json::array();
    for (const Modification& m : record.modifications())
        mods.push_back(modificationJson(m));
    j["modifications"] = std::move(mods);
    return j;
}

void printTableJson(const ObjectTable& table) {
    printOut("[");
    bool first = true;
    for (std::size_t i = 0; i < table.count(); ++i) {
        const ObjectRecord& record = table.at(i);
        printOut(first ? "\n    " : ",\n    ");
        printOut(objectJson(record).dump());
        first = false;
    }
    printOut(first ? "]" : "\n   ]");
}

void printJson(const ObjectBundle& bundle, const std::string& fileName) {
    printOut("{\n \"file\": " + json(jsonSafe(fileName)).dump() + ",\n \"version\": " +
             std::to_string(bundle.version) + ",\n \"kinds\": [");
    bool first = true;
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectBundle::Kind& kind = bundle.kind(k);
        if (kind.present == 0)
            continue;
        printOut(first ? "\n  {" : ",\n  {");
        first = false;
        printOut("\"kind\": " + json(kindName(k)).dump() + ", \"present\": " + std::to_string(kind.present) +
                 ", \"version\": " + std::to_string(kind.file.version) +
                 ", \"hasLevels\": " + (kind.file.hasLevels ? "true" : "false") + ",\n   \"standard\": ");
        printTableJson(kind.file.standardTable);
        printOut(",\n   \"custom\": ");
        printTableJson(kind.file.customTable);
        printOut("}");
    }
    printOut(first ? "]\n}\n" : "\n ]\n}\n");
}

int runDump(const ParsedArguments& args) {
    ObjectBundle bundle;
    if (!loadBundle(bundle, args.positional[0]))
        return kExitFailure;
    if (args.has("--json"))
        printJson(bundle, pathText(args.positional[0].path));
    else
        printText(bundle);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        printError("cannot write to standard output");
        return kExitFailure;
    }
    return kExitSuccess;
}

constexpr OptionSpec kDumpOptions[] = {
    {.longName = "--json", .shortName = "", .takesValue = false, .valueName = "", .required = false,
     .help = "write JSON: {file, version, kinds: [{kind, present, version, hasLevels, standard: [objects], "
             "custom: [objects]}]}; an object is {effectiveId, baseId, newId, setFlag, modifications: [{field, "
             "type, typeCode, level, column, value, bits, escaped, strayBefore}]}, where level and column appear "
             "for kinds with levels, bits for reals (value is then the shortest decimal of the single-precision "
             "number, or null when it is not finite), escaped and strayBefore only when they apply (strayBefore: "
             "four bytes found before a modification of an unknown value type)."},
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
            "valid UTF-8 as the text \\xNN and each backslash doubled. The output is always valid JSON.\n",
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
