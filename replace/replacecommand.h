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

// What the user asked the Replace command to do.
struct ReplaceRequest {
    std::filesystem::path replaceList;              // pairs of four-byte tokens
    std::vector<std::filesystem::path> sideFiles;   // the additional files, first row first
    bool keepBackups = true;                        // the window's switch: when clear, only the bundle in memory changes
    bool writeWithoutBackups = false;               // the command line's --no-backup: write, but take no backup copies
    std::optional<FileStamp> loadedStamp;           // the main file as it was when loaded; a file changed since is not written over
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

// Renames the bundle's objects pair by pair from the replace list, rewrites every reference inside the bundle,
// patches the same renames into the side files, and writes the bundle back over its file. Nothing on disk
// changes until everything can: the list is read, every rename planned, every backup copy and every new file
// written beside its target, and only then are they put in place. Every failure is reported once through
// `sink`; nothing is written over a main file that did not load (`mainLoaded` false) or that changed on disk
// since it was loaded.
ReplaceReport replaceIdentifiers(ObjectBundle& bundle, const BundlePath& bundlePath, bool mainLoaded,
                                 const ReplaceRequest& request, MessageSink& sink);

} // namespace brindlemark
