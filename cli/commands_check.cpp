// check FILE: whether a bundle loads, with its versions and how much it holds.
#include "cli/command.h"

#include "core/fileio.h"
#include "core/objectbundle.h"
#include "document/document.h"
#include "document/mainform.h"

#include <string>
#include <utility>

namespace brindlemark::cli {

namespace {

std::size_t modificationTotal(const ObjectTable& table) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < table.count(); ++i)
        total += table.at(i).modificationCount();
    return total;
}

// A folder that is not a map, told apart here for the hint; files of another form are named as loading refuses
// them.
std::string otherKindOfFile(const std::filesystem::path& path) {
    if (isFolderButNoMap(path))
        return "a folder that is not a map (no war3map.w3i in it, and its name does not end in .w3x or .w3m)";
    return "";
}

int runCheck(const ParsedArguments& args) {
    const Argument& file = args.positional[0];
    if (const std::string other = otherKindOfFile(file.path); !other.empty()) {
        printError(file.text + ": " + other);
        return kExitFailure;
    }
    MainView view; // a map's skin files kept apart
    view.onlyCounted = true;
    if (!loadView(file, view, true))
        return kExitFailure;
    const ObjectBundle& bundle = view.objects;
    const ObjectBundle& skin = view.skin;
    // An object file of one kind has no bundle version of its own.
    const bool single = formOf(file.path) == MainForm::ObjectFile;
    std::string text = single ? "" : "bundle version: " + std::to_string(bundle.version) + "\n";
    for (const auto& [from, label] : {std::pair{&bundle, ""}, std::pair{&skin, "skin "}})
        for (ObjectKind k : kAllObjectKinds) {
            const ObjectBundle::Kind& kind = from->kind(k);
            if (kind.present == 0)
                continue;
            const ObjectFile& file = kind.file;
            text += label + std::string(kindName(k)) + ": object file version " + std::to_string(file.version) +
                    ", standard objects " + std::to_string(file.standardTable.count()) + ", custom objects " +
                    std::to_string(file.customTable.count()) + ", modifications " +
                    std::to_string(modificationTotal(file.standardTable) + modificationTotal(file.customTable));
            if (kind.present != 1)
                text += ", presence flag " + std::to_string(kind.present);
            text += "\n";
        }
    printOut(text);
    return kExitSuccess;
}

constexpr ValueKind kObjectFileOrMap[] = {ValueKind::ObjectFileOrMap};

} // namespace

const Command& checkCommand() {
    static const Command command{
        .name = "check",
        .synopsis = "check FILE",
        .summary = "Loads a bundle, object file or map and shows its versions and object counts.",
        .details = "Prints the bundle version and, for every kind that the file holds, the version of its object\n"
                   "file, its modified standard objects, its custom objects and their modifications, counted as\n"
                   "they are after loading (objects with matching identifiers glued together, standard objects\n"
                   "without modifications dropped). A presence flag other than 1 is shown.\n"
                   "A map's skin files (war3mapSkin.<ext>) are counted apart, as \"skin units\" and so on.\n"
                   "An object file of one kind has no bundle version line. A file that is not object data is\n"
                   "named for what it is where that can be told (a map, a trigger file, a string table, text, a\n"
                   "folder that is not a map), with exit status 1.\n"
                   "Exits with 1 and the reason, with the byte offset of the damage, when the file is refused.\n",
        .options = {},
        .minPositional = 1,
        .maxPositional = 1,
        .run = &runCheck,
        .examples = "brindlemark-cli check war3map.w3o",
        .positionals = kObjectFileOrMap,
    };
    return command;
}

} // namespace brindlemark::cli
