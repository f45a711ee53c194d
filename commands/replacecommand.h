#pragma once

// The Replace command over a main file of any form: a bundle, an object file of one kind, a map archive or a map
// folder. It renames the objects pair by pair from the replace list, rewrites every reference to them, patches
// the same renames into the side files (and into a map's trigger files), and writes what changed. Nothing on
// disk changes until everything can.

#include "core/messagesink.h"
#include "document/document.h"
#include "replace/dryrun.h"
#include "replace/replacecommand.h"
#include "replace/replaceplan.h"
#include "replace/stringtable.h"

#include <optional>
#include <vector>

namespace brindlemark {

// What a dry run would do: the plan, the side texts it was made over (a map's trigger files by name, the side
// files, then a map's script that is counted but not patched), and a map's string table, which names its objects.
struct ReplacePreview {
    ReplacePlan plan;
    std::vector<SideText> sides;
    std::optional<StringTable> names;
};

// Runs the Replace command on `main`. An unopened document is opened from `request.main` under the request's
// policy after the run's locks are taken; objects held in memory (Document::hold()) are renamed as they are,
// except a map's, which a run that writes reads afresh from the map. After a run that wrote, `main` holds what
// was written.
// A bundle or object file that was held is not written over when it did not load or changed on disk since it was
// loaded (`request.loadedStamp`). A map's renames reach its object and skin files and its trigger files, and its
// script with `request.patchScript`; a script left as it was is counted in the report.
// With `preview` the run is a dry run: it takes no lock, plans everything in memory, fills `preview` and writes
// nothing. With neither backups nor writeWithoutBackups only the objects in memory are renamed.
// Every failure is said once to `sink` and leaves every file as it was.
ReplaceReport replaceIdentifiers(Document& main, const ReplaceRequest& request, MessageSink& sink,
                                 ReplacePreview* preview = nullptr);

} // namespace brindlemark
