// merge3 BASE OURS THEIRS -o OUT: a three-way merge of object data, fit for a version control merge driver.
#include "cli/command.h"
#include "cli/objectinput.h"
#include "text/objecttext.h"

#include "core/fileform.h"
#include "core/fileio.h"
#include "core/layoutdetect.h"
#include "document/mainform.h"
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

// What follows "<file> is a map" when one is given.
constexpr std::string_view kMapRefusal = "; merge3 merges bundles and object files";

// The form of the files merged: a bundle, or one kind's object file.
struct Form {
    std::optional<ObjectKind> kind; // none: a bundle
    bool operator==(const Form&) const = default;
};

std::string formText(const Form& form) {
    return form.kind ? std::string(kindName(*form.kind)) : "a bundle";
}

// The form a file name's extension names: .w3o a bundle, .w3u and the others their kind's object file.
std::optional<Form> formOfName(const std::filesystem::path& path) {
    if (const std::optional<ObjectKind> kind = singleKindOf(path))
        return Form{kind};
    if (formOf(path) == MainForm::Bundle)
        return Form{};
    return std::nullopt;
}

FileLayout layoutOf(const Form& form) {
    if (!form.kind)
        return FileLayout::Bundle;
    return kindHasLevels(*form.kind) ? FileLayout::ObjectFileWithLevels : FileLayout::ObjectFile;
}

std::string layoutText(FileLayout layout) {
    switch (layout) {
    case FileLayout::Bundle:
        return "a bundle";
    case FileLayout::ObjectFile:
        return "an object file of a kind without level columns (units, items, destructables, buffs)";
    case FileLayout::ObjectFileWithLevels:
        return "an object file of a kind with level columns (doodads, abilities, upgrades)";
    }
    return "";
}

// Decides the form from --kind, --path and the files' own extensions, which must all agree; a form that nothing
// names is refused rather than guessed from the bytes. Prints the reason and returns false otherwise.
bool decideForm(const ParsedArguments& args, Form& form) {
    std::optional<Form> decided;
    std::string decidedBy;
    auto named = [&](const Form& f, const std::string& by) {
        if (!decided) {
            decided = f;
            decidedBy = by;
            return true;
        }
        if (*decided == f)
            return true;
        printError("merge3: " + decidedBy + " names " + formText(*decided) + ", but " + by + " names " + formText(f) +
                   "; merge3 merges files of one form, so nothing was written");
        return false;
    };
    if (const Argument* kind = args.value("--kind")) {
        Form f;
        bool known = kind->text == "bundle";
        for (ObjectKind k : kAllObjectKinds)
            if (kind->text == kindName(k)) {
                f.kind = k;
                known = true;
            }
        if (!known) {
            printError("merge3: unknown kind '" + kind->text +
                       "' (units, items, destructables, doodads, abilities, buffs, upgrades or bundle)");
            return false;
        }
        named(f, "--kind " + kind->text);
    }
    if (const Argument* path = args.value("--path")) {
        if (const std::string refused = mapRefusal(path->path, path->text, kMapRefusal); !refused.empty()) {
            printError("merge3: " + refused);
            return false;
        }
        const std::optional<Form> f = formOfName(path->path);
        if (!f) {
            printError("merge3: " + path->text +
                       " names neither a bundle (.w3o) nor an object file (.w3u, .w3a ...); "
                       "give --kind");
            return false;
        }
        if (!named(*f, path->text))
            return false;
    }
    for (const Argument& file : args.positional)
        if (const std::optional<Form> f = formOfName(file.path); f && !named(*f, file.text))
            return false;
    if (!decided) {
        printError("merge3: the names of the files do not say whether they hold a bundle or which kind of object "
                   "file; give --path (git's %P) or --kind");
        return false;
    }
    form = *decided;
    return true;
}

// Loads one input in the form decided. An empty file holds nothing: a merge driver's base is empty when both
// sides added the file. Bytes that read better in another layout are refused, never read into wrong columns.
bool loadInput(const Argument& file, const Form& form, const std::string& name, ObjectInput& input) {
    input.form = form.kind ? ObjectInput::Form::SingleKind : ObjectInput::Form::Bundle;
    input.kind = form.kind.value_or(ObjectKind::Units);
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!readFile(file.path, bytes, error, kMaxObjectFileSize)) {
        printError(error);
        return false;
    }
    if (bytes.empty())
        return true;
    if (const std::optional<FileLayout> better = betterLayout(bytes, layoutOf(form))) {
        if (const std::string other = wrongFormMessage(fileFormOf(bytes, name), name); !other.empty())
            printError("merge3: " + other);
        else
            printError("merge3: " + name + " holds " + layoutText(*better) + ", not " + formText(form) +
                       "; nothing was written");
        return false;
    }
    const WarningSink warn = [name](const std::string& line) { printError(name + ": " + line); };
    const LoadResult loaded = form.kind
                                  ? input.bundle.loadObjectFileBytes(bytes, *form.kind, name, MergePolicy::Glue, warn)
                                  : input.bundle.loadBytes(bytes, name, MergePolicy::Glue, warn);
    if (!loaded)
        printError(loaded.error);
    return static_cast<bool>(loaded);
}

// The bytes OUT gets: the form its extension names, else the form merged.
std::vector<std::uint8_t> outputBytes(const ObjectBundle& merged, const Form& form, const Argument& out) {
    const Form written = out.text == "-" ? form : formOfName(out.path).value_or(form);
    return written.kind ? merged.objectFileBytes(*written.kind) : merged.toBytes();
}

int runMerge3(const ParsedArguments& args) {
    const Argument& out = *args.value("--output");
    // OUT may be OURS, as a merge driver has it; writing over BASE or THEIRS would lose a version.
    const Argument others[] = {args.positional[0], args.positional[2]};
    if (!checkOutput("merge3", out, others, false))
        return kExitTrouble;
    for (const Argument& file : args.positional)
        if (const std::string refused = mapRefusal(file.path, file.text, kMapRefusal); !refused.empty()) {
            printError("merge3: " + refused);
            return kExitTrouble;
        }
    Form form;
    if (!decideForm(args, form))
        return kExitTrouble;
    FileLocks lock;
    if (!lockRunFiles(lock, {out.path}))
        return kExitTrouble;
    // A merge driver's files are git's temporary copies: messages name the file they stand for.
    const Argument* path = args.value("--path");
    constexpr const char* kSides[] = {"base", "ours", "theirs"};
    ObjectInput inputs[3];
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string name = path ? path->text + " (" + kSides[i] + ")" : pathText(args.positional[i].path);
        if (!loadInput(args.positional[i], form, name, inputs[i]))
            return kExitTrouble;
    }
    const MergeResult result = mergeThreeWay(inputs[0].bundle, inputs[1].bundle, inputs[2].bundle);
    if (!checkOutputForm("merge3", out, result.merged, "the merged data") ||
        !writeOutput(out, outputBytes(result.merged, form, out)))
        return kExitTrouble;
    // The file the conflicts are in: the one git names, or the output.
    const std::string target = path ? path->text : out.text == "-" ? std::string("standard output") : out.text;
    for (const MergeConflict& c : result.conflicts)
        printError("conflict: " + target + ": " + conflictText(c, inputs[1]));
    if (result.conflicts.empty())
        return kExitSuccess;
    printError(std::to_string(result.conflicts.size()) + (result.conflicts.size() == 1 ? " conflict" : " conflicts") +
               "; " + target + " holds ours there");
    return kExitConflicts;
}

constexpr OptionSpec kMerge3Options[] = {
    {.longName = "--output",
     .shortName = "-o",
     .takesValue = true,
     .valueName = "OUT",
     .required = true,
     .help = "where to write the merged data (- for standard output); may be OURS, not BASE or THEIRS",
     .value = ValueKind::ObjectFile},
    {.longName = "--path",
     .shortName = "",
     .takesValue = true,
     .valueName = "PATH",
     .help = "the file the three stand for, as git's %P gives it: its extension names the bundle or the kind, and "
             "messages name it instead of git's temporary files",
     .value = ValueKind::ObjectFile},
    {.longName = "--kind",
     .shortName = "",
     .takesValue = true,
     .valueName = "units|items|destructables|doodads|abilities|buffs|upgrades|bundle",
     .help = "what the three files hold, where no name says it",
     .value = ValueKind::Words},
};
constexpr ValueKind kPositionals[] = {ValueKind::ObjectFile, ValueKind::ObjectFile, ValueKind::ObjectFile};

} // namespace

const Command& merge3Command() {
    static const Command command{
        .name = "merge3",
        .synopsis = "merge3 BASE OURS THEIRS -o OUT [--path PATH | --kind KIND]",
        .summary = "Three-way merge of object data, for use as a git merge driver.",
        .details = "OURS and THEIRS are two versions of one bundle or object file that grew from BASE. A field\n"
                   "changed on one side only takes that side's value; changed on both sides to the same value takes\n"
                   "it; changed on both sides to different values is a conflict. Objects added or removed on one\n"
                   "side follow that side; an object removed on one side and changed on the other is a conflict.\n"
                   "At a conflict OUT gets OURS's value, and the conflict is listed on standard error with the\n"
                   "object, the field and the base, ours and theirs values.\n"
                   "\n"
                   "The files are bundles or object files of one kind. What they hold is named, never guessed: by\n"
                   "--kind, by the extension of --path (git's %P: the temporary files git hands to a merge driver\n"
                   "have none) or by the files' own extensions; names that disagree, and bytes that read better\n"
                   "in another layout than the one named, are refused. With --path, messages name that file\n"
                   "rather than git's temporary copies. OUT is written in the form its extension names, else in\n"
                   "that of the files, and replaced only once it is written whole; an OUT of one kind is refused\n"
                   "when the merged files hold others.\n"
                   "\n"
                   "Exit status: 0 merged, 1 merged with conflicts (git then marks the file as conflicted),\n"
                   "2 trouble (a file that cannot be read or written; files whose form nothing names, or that\n"
                   "disagree with it; a wrong command line).\n",
        .options = kMerge3Options,
        .minPositional = 3,
        .maxPositional = 3,
        .run = &runMerge3,
        .examples = "git config merge.brindlemark.driver \"brindlemark-cli merge3 %O %A %B -o %A --path %P\"",
        .positionals = kPositionals,
    };
    return command;
}

} // namespace brindlemark::cli
