#pragma once

#include "core/bundlepath.h"
#include "core/messagesink.h"
#include "core/objectbundle.h"
#include "replace/renamelist.h"

#include <filesystem>
#include <vector>

namespace brindlemark {

// What the user asked the Replace command to do.
struct ReplaceRequest {
    std::filesystem::path replaceList;              // pairs of four-byte tokens
    std::vector<std::filesystem::path> sideFiles;   // the additional files, first row first
    bool keepBackups = true;                        // when clear, only the bundle in memory changes
};

// What a run did.
struct ReplaceReport {
    bool listOpened = false;           // the renames below replace the previous run's
    std::vector<RenameEntry> renames;  // every rename applied, pair after pair, each pair's in list order
    bool failed = false;               // a failure message was shown
    bool bundleWritten = false;
};

// Renames the bundle's objects pair by pair from the replace list, rewrites every reference inside the bundle,
// patches the same renames into the side files, and writes the bundle back over its file. With backups on, each
// side file is copied to its backup name before its first change in the run, and the bundle's file before it is
// written. Every failure is reported once through `sink`, and nothing is written over a main file that did not
// load (`mainLoaded` false).
ReplaceReport replaceIdentifiers(ObjectBundle& bundle, const BundlePath& bundlePath, bool mainLoaded,
                                 const ReplaceRequest& request, MessageSink& sink);

// Patches the renames, in order, into the side files named by `rows` (a file named twice gets two passes per
// rename), each file copied to its backup name first. Failures are reported once per file through `sink` and
// marked in `report`; such a file is left alone.
void patchSideFiles(const std::vector<std::filesystem::path>& rows, const std::vector<RenameEntry>& renames,
                    MessageSink& sink, ReplaceReport& report);

// The pairs of a replace list file, in file order; false when the file cannot be opened.
bool readReplacePairs(const std::filesystem::path& path, std::vector<std::pair<ObjectId, ObjectId>>& pairs);

// A key that is the same for every spelling of one existing file's path.
std::filesystem::path sameFileKey(const std::filesystem::path& path);

} // namespace brindlemark
