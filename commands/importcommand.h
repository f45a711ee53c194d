#pragma once

// Importing the objects of one bundle, object file or map into another without identifier collisions: the added
// side's custom objects that collide get free identifiers (references inside the added side and in its own side
// files follow), then the renamed objects are merged into the main side under the policy. The added side itself
// is never written.

#include "core/messagesink.h"
#include "core/objectbundle.h"
#include "replace/renamelist.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brindlemark {

struct ImportRequest {
    std::filesystem::path main;                   // a bundle, an object file of one kind or a map
    std::filesystem::path added;                  // likewise
    std::vector<std::filesystem::path> sideFiles; // the added side's trigger or script files
    MergePolicy policy = MergePolicy::Glue;
    std::optional<std::filesystem::path> listOut; // where to write the renames as a replace list
    bool dryRun = false;                          // plan and report only
    bool takeBackups = true;
    bool keepStringRefs = false; // a map's objects going into a file without a string table keep their references
};

struct ImportReport {
    bool failed = false;
    bool written = false;
    std::vector<RenameEntry> renames; // the added side's renamed objects, with their names
    std::size_t imported = 0;         // objects of the added side
    std::size_t standardMet = 0;      // modified standard objects that both sides hold
    std::vector<ObjectId> unresolved; // referenced by the added side, defined by neither
    std::string listText;             // the renames in the form of an identifier list (CR LF line ends)
    std::size_t stringsCarried = 0;   // texts added to the main map's string table (added side a map)
    std::size_t stringsResolved = 0;  // references replaced by their texts (added side a map, main side not)
    std::size_t stringsKept = 0;      // references kept as they are (keepStringRefs)
};

// Runs the import. Nothing on disk changes until everything can; with `dryRun` nothing changes at all. The string
// values of a map's objects that refer to its string table bring their texts along: into the main map's table
// under new numbers, or, for a main file without a table, in place of the references (unless `keepStringRefs`).
// A reference that the added map's table lacks is refused, naming each.
ImportReport importObjects(const ImportRequest& request, MessageSink& sink);

// The line of counts: "imported 124 objects: 37 renamed, 5 standard objects met by the policy (glue)".
std::string importSummary(const ImportReport& report, MergePolicy policy);

} // namespace brindlemark
