#pragma once

#include "core/bundlepath.h"
#include "core/fileio.h"
#include "core/messagesink.h"
#include "core/objectbundle.h"
#include "replace/dryrun.h"
#include "replace/renamelist.h"
#include "replace/replaceplan.h"

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

// The side files of a run: each file read once however many rows name it (by whatever spelling), with a pass per
// row and rename.
struct SideFileSet {
    std::vector<std::filesystem::path> paths;     // per file, the first row that names it
    std::vector<SideText> texts;                  // patched in memory by the plan
};

// Reads the rows' files. False with "Failed to patch file %s" and the reason when one cannot be read.
[[nodiscard]] bool readSideFiles(const std::vector<std::filesystem::path>& rows, SideFileSet& out,
                                 std::string& error);

// Stages, for a run that renamed something, each side file's backup copy (with `backups`) and its patched bytes
// where they differ. Counts the files that change. False with the message on failure.
[[nodiscard]] bool stageSideFiles(const SideFileSet& sides, bool anyRename, bool backups, FileTransaction& files,
                                  std::size_t& changed, std::string& error);

// Refuses a side file that is one of the run's own files (the main file, the replace list). False with the
// message.
[[nodiscard]] bool checkSideFilesApart(const std::vector<std::filesystem::path>& rows,
                                       const std::filesystem::path& mainFile, const std::filesystem::path& list,
                                       std::string& error);

// Refuses a side file that is `file`, one of the run's own files, named by its role ("the added file"). False
// with the message.
[[nodiscard]] bool checkSideFilesApartFrom(const std::vector<std::filesystem::path>& rows,
                                           const std::filesystem::path& file, const std::string& role,
                                           std::string& error);

// Adds the side files to the run's files, each written with its backup copy when `backups`.
void addSideFiles(RunFiles& files, const std::vector<std::filesystem::path>& rows, bool backups);

// A key that is the same for every spelling of one existing file's path.
std::filesystem::path sameFileKey(const std::filesystem::path& path);

} // namespace brindlemark
