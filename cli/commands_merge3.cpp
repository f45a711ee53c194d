// merge3 BASE OURS THEIRS -o OUT: a three-way merge of object data, fit for a version control merge driver.
#include "cli/command.h"
#include "cli/objectinput.h"
#include "cli/objecttext.h"

#include "core/fileio.h"
#include "map/mapcommands.h"
#include "merge/merge3.h"

#include <string>

namespace brindlemark::cli {

namespace {

constexpr int kExitConflicts = 1;
constexpr int kExitTrouble = 2;

std::string idText(const ObjectRecord* record, ObjectId ObjectRecord::*which) {
    return record ? escapedBytes(record->*which) : "none";
}

std::string conflictText(const MergeConflict& c, const ObjectInput& ours) {
    using Topic = MergeConflict::Topic;
    const std::optional<ObjectKind> kind = kindLabel(ours, c.kind);
    const std::string kindText = kind ? std::string(kindName(*kind)) + " " : std::string();
    auto numbers = [&](const std::string& what) {
        return what + ": base " + std::to_string(c.baseNumber) + ", ours " + std::to_string(c.oursNumber) +
               ", theirs " + std::to_string(c.theirsNumber);
    };
    switch (c.topic) {
    case Topic::BundleVersion:
        return numbers("bundle version");
    case Topic::Presence:
        return numbers(kindText + "presence flag");
    case Topic::FileVersion:
        return numbers(kindText + "object file version");
    default:
        break;
    }
    const ObjectRecord& record = c.ours ? *c.ours : c.theirs ? *c.theirs : *c.base;
    const std::string object = objectText(kind, c.table, record, objectName(record, ours.strings));
    switch (c.topic) {
    case Topic::Removal:
        return object + ": " + (c.ours ? "changed in ours, removed in theirs" : "removed in ours, changed in theirs");
    case Topic::BaseId:
    case Topic::NewId: {
        const auto which = c.topic == Topic::BaseId ? &ObjectRecord::baseId : &ObjectRecord::newId;
        return object + " " + (c.topic == Topic::BaseId ? "base id" : "new id") + ": base " + idText(c.base, which) +
               ", ours " + idText(c.ours, which) + ", theirs " + idText(c.theirs, which);
    }
    case Topic::SetFlag:
        return object + " " + numbers("set flag");
    default: {
        const Modification& slot = c.oursField ? *c.oursField : c.theirsField ? *c.theirsField : *c.baseField;
        return object + " " + fieldSlotText(slot) + ": base " + valueText(c.baseField) + ", ours " +
               valueText(c.oursField) + ", theirs " + valueText(c.theirsField);
    }
    }
}

// The bytes OUT gets: the layout its extension names, else that of OURS. False (reported) when OUT names a kind
// the merged data cannot fill.
bool outputBytes(const ObjectBundle& merged, const ObjectInput& ours, const Argument& out,
                 std::vector<std::uint8_t>& bytes) {
    std::string ext = out.path.extension().string();
    for (char& c : ext)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
    if (ext == ".w3o" || (ext != ".w3x" && ext != ".w3m" && !singleKindOf(out.path) &&
                          ours.form != ObjectInput::Form::SingleKind)) {
        bytes = merged.toBytes();
        return true;
    }
    ObjectKind kind = ours.kind;
    if (const std::optional<ObjectKind> named = singleKindOf(out.path)) {
        // A file told by its bytes holds a stand-in kind of the same layout.
        const bool standIn = !ours.kindKnown && kindHasLevels(*named) == kindHasLevels(ours.kind);
        if (merged.kind(*named).present == 0 && !standIn) {
            printError("merge3: " + out.text + " holds " + kindName(*named) + ", which the merged files lack");
            return false;
        }
        if (!standIn)
            kind = *named;
    } else if (ext == ".w3x" || ext == ".w3m") {
        printError("merge3: " + out.text + " is a map; merge3 writes a bundle or an object file");
        return false;
    }
    bytes = merged.objectFileBytes(kind);
    return true;
}

int runMerge3(const ParsedArguments& args) {
    const Argument& out = *args.value("--output");
    // OUT may be OURS, as a merge driver has it; writing over BASE or THEIRS would lose a version.
    const Argument others[] = {args.positional[0], args.positional[2]};
    if (!checkOutput("merge3", out, others, false))
        return kExitTrouble;
    FileLock lock;
    std::string error;
    if (out.text != "-" && !lock.acquire(out.path, error)) {
        printError(error);
        return kExitTrouble;
    }
    ObjectInput inputs[3];
    for (std::size_t i = 0; i < 3; ++i) {
        if (isMap(args.positional[i].path)) {
            printError("merge3: " + args.positional[i].text + " is a map; merge3 merges bundles and object files");
            return kExitTrouble;
        }
        if (!loadObjectInput(args.positional[i], inputs[i]))
            return kExitTrouble;
    }
    const MergeResult result = mergeThreeWay(inputs[0].bundle, inputs[1].bundle, inputs[2].bundle);
    std::vector<std::uint8_t> bytes;
    if (!outputBytes(result.merged, inputs[1], out, bytes) || !writeOutput(out, bytes))
        return kExitTrouble;
    for (const MergeConflict& c : result.conflicts)
        printError("conflict: " + conflictText(c, inputs[1]));
    if (result.conflicts.empty())
        return kExitSuccess;
    printError(std::to_string(result.conflicts.size()) + (result.conflicts.size() == 1 ? " conflict" : " conflicts") +
               "; " + out.text + " holds ours there");
    return kExitConflicts;
}

constexpr OptionSpec kMerge3Options[] = {
    {.longName = "--output", .shortName = "-o", .takesValue = true, .valueName = "OUT", .required = true,
     .help = "where to write the merged data (required; - for standard output); may be OURS, not BASE or THEIRS",
     .value = ValueKind::ObjectFile},
};
constexpr ValueKind kPositionals[] = {ValueKind::ObjectFile, ValueKind::ObjectFile, ValueKind::ObjectFile};

} // namespace

const Command& merge3Command() {
    static const Command command{
        .name = "merge3",
        .synopsis = "merge3 BASE OURS THEIRS -o OUT",
        .summary = "Three-way merge of object data, for use as a git merge driver.",
        .details =
            "OURS and THEIRS are two versions of one bundle or object file that grew from BASE. A field\n"
            "changed on one side only takes that side's value; changed on both sides to the same value takes\n"
            "it; changed on both sides to different values is a conflict. Objects added or removed on one\n"
            "side follow that side; an object removed on one side and changed on the other is a conflict.\n"
            "At a conflict OUT gets OURS's value, and the conflict is listed on standard error with the\n"
            "object, the field and the base, ours and theirs values.\n"
            "\n"
            "The files may be bundles or object files of one kind; a file whose extension names neither (as\n"
            "the temporary files git hands to a merge driver) is told by its bytes. OUT is written in the\n"
            "layout its extension names, else in that of OURS, and replaced only once it is written whole.\n"
            "\n"
            "Exit status: 0 merged, 1 merged with conflicts (git then marks the file as conflicted),\n"
            "2 trouble (a file that cannot be read or written; a wrong command line).\n",
        .options = kMerge3Options,
        .minPositional = 3,
        .maxPositional = 3,
        .run = &runMerge3,
        .examples = "git config merge.brindlemark.driver \"brindlemark-cli merge3 %O %A %B -o %A\"",
        .positionals = kPositionals,
    };
    return command;
}

} // namespace brindlemark::cli
