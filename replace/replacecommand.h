#pragma once

#include "core/bundlepath.h"
#include "core/fileio.h"
#include "core/messagesink.h"
#include "core/objectbundle.h"
#include "replace/dryrun.h"
#include "replace/renamelist.h"
#include "replace/replaceplan.h"
#include "replace/sidefileset.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brindlemark {

// What the user asked the Replace command to do (commands/replacecommand.h runs it over a main file of any form).
struct ReplaceRequest {
    std::filesystem::path replaceList;            // pairs of four-byte tokens
    std::vector<std::filesystem::path> sideFiles; // the additional files, first row first
    bool keepBackups = true;                      // the window's switch: when clear, only the bundle in memory changes
    bool writeWithoutBackups = false;             // the command line's --no-backup: write, but take no backup copies
    std::optional<FileStamp>
        loadedStamp;            // the main file as it was when loaded; a file changed since is not written over
    std::filesystem::path main; // the main file: a bundle, an object file of one kind or a map
    bool patchScript = false;   // a map's script (war3map.j, war3map.lua) is patched too
    MergePolicy policy = MergePolicy::Glue; // how reading the main file resolves two objects with one identifier
    WarningSink loadWarnings;               // where reading a bundle or object file warns; the sink's warnings
                                            // when empty, and always for a map (they name the file inside)
};

// What a run did.
struct ReplaceReport {
    bool listOpened = false;           // the renames below replace the previous run's
    std::vector<RenameEntry> renames;  // every rename applied, pair after pair, each pair's in list order
    std::vector<Collision> collisions; // renames onto an identifier another object held
    bool failed = false;               // a failure message was shown
    bool bundleWritten = false;        // the files were written
    std::size_t filesChanged = 0;      // files written with new contents (backup copies not counted)
    bool completed = false;            // the run went through and wrote what it had to; each front end says so
    std::string unpatchedScript;       // a map's script (war3map.j, war3map.lua) that the run left as it was
    std::size_t scriptOccurrences = 0; // the occurrences of renamed identifiers that script still holds
};

} // namespace brindlemark
