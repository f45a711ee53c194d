// normalize FILE -o OUT: a bundle loaded and written back in the form this program writes.
#include "cli/command.h"

#include "core/fileio.h"
#include "core/objectbundle.h"
#include "document/document.h"
#include "document/mainform.h"

#include <cstdio>
#include <string>

namespace brindlemark::cli {

namespace {

int runNormalize(const ParsedArguments& args) {
    const Argument* out = args.value("--output");
    const Argument& in = args.positional[0];
    // A bundle or single-kind file may be normalized onto itself; a map written as a bare bundle would be lost.
    const bool sameFormat = mayWriteObjectsOver(in.path, out->path);
    if (!checkOutput("normalize", *out, args.positional, sameFormat))
        return kExitFailure;
    FileLocks lock;
    std::string error;
    if (!lockRunFiles(lock, {out->path}))
        return kExitFailure;
    MainView view;
    if (!loadView(in, view) || !checkOutputForm("normalize", *out, view.objects, in.text))
        return kExitFailure;
    ObjectBundle& bundle = view.objects;
    const StringTable& strings = view.strings;
    // A map's texts leave it with its objects: the output has no string table to refer to.
    if (view.ownStrings) {
        if (args.has("--keep-string-refs")) {
            if (const std::size_t kept = missingStrings(bundle, StringTable()).size(); kept != 0)
                printError(std::to_string(kept) + " string values stay references into the string table of " + in.text +
                           " (--keep-string-refs)");
        } else if (const std::vector<MissingString> missing = missingStrings(bundle, strings); !missing.empty()) {
            printError(missingStringsMessage(in.path, strings.size() != 0, missing) +
                       "; nothing was written (--keep-string-refs keeps every reference as it is)");
            return kExitFailure;
        } else {
            resolveStrings(bundle, strings);
        }
    }
    // The bytes are streamed out as they are made: a large bundle never stands in memory twice.
    if (out->text != "-") {
        if (!bundle.save(out->path, error)) {
            printError(error);
            return kExitFailure;
        }
        return kExitSuccess;
    }
    bool written = true;
    bundle.writeTo(singleKindOf(out->path), [&written](const std::uint8_t* data, std::size_t size) {
        written = written && std::fwrite(data, 1, size, stdout) == size;
    });
    if (!written || std::fflush(stdout) != 0) {
        printError("cannot write to standard output");
        return kExitFailure;
    }
    return kExitSuccess;
}

constexpr OptionSpec kNormalizeOptions[] = {
    {.longName = "--output",
     .shortName = "-o",
     .takesValue = true,
     .valueName = "OUT",
     .required = true,
     .help = "where to write the bundle"},
    {.longName = "--keep-string-refs",
     .shortName = "",
     .help = "for a map, keep its TRIGSTR_ references instead of their texts"},
};
constexpr ValueKind kPositionals[] = {ValueKind::ObjectFileOrMap};

} // namespace

const Command& normalizeCommand() {
    static const Command command{
        .name = "normalize",
        .synopsis = "normalize FILE -o OUT [--keep-string-refs]",
        .summary = "Loads a bundle and writes it back to OUT in normal form.",
        .details = "Objects come out sorted by identifier, a custom object standing among the standard ones\n"
                   "moves to the custom objects, objects with matching identifiers are glued together, standard\n"
                   "objects without modifications are dropped, modifications are sorted by field, and every\n"
                   "end marker becomes the object's base identifier unless the file had a stray one there.\n"
                   "OUT is a bundle, or the object file of one kind its extension names (refused when FILE holds\n"
                   "other kinds too), never a map. A bundle made from a map or an object file has bundle version\n"
                   "1, as the editor writes them.\n"
                   "OUT may be FILE itself, unless FILE is a map; - writes to standard output. OUT is replaced\n"
                   "only once the whole bundle is written; a refused FILE or a failed write leaves it as it was\n"
                   "(exit status 1, with the reason).\n"
                   "The string values of a map that refer to its string table (\"TRIGSTR_012\" into war3map.wts)\n"
                   "are written as their texts, as OUT has no string table; a reference the table lacks is\n"
                   "refused, naming each, unless --keep-string-refs keeps the references as they are.\n",
        .options = kNormalizeOptions,
        .minPositional = 1,
        .maxPositional = 1,
        .run = &runNormalize,
        .examples = "brindlemark-cli normalize war3map.w3o -o war3map-normal.w3o",
        .positionals = kPositionals,
    };
    return command;
}

} // namespace brindlemark::cli
