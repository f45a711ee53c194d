#pragma once

#include "core/bundlepath.h"
#include "core/fileio.h"
#include "core/messagesink.h"
#include "core/objectbundle.h"

#include <filesystem>
#include <optional>

namespace brindlemark {

// What the user asked the Merge command to do.
struct MergeRequest {
    bool enabled = true;      // the window's backup switch: when clear, the command does nothing at all
    bool takeBackup = true;   // copy the main file to its backup name first (the command-line tool may skip it)
    std::filesystem::path addedFile;
    MergePolicy policy = MergePolicy::Glue;
};

// What a run did.
struct MergeReport {
    bool ran = false;
    bool failed = false; // a failure message was shown
    bool bundleWritten = false;
    bool completed = false; // the merge went through (whether or not the file had to change); each front end says so
    KindCounts merged{};    // per kind, what the policy did with each object of the added file
};

// Reads the added file and checks that it can be merged, loads the main file afresh (so that the run starts from
// the file as it is on disk) under the policy in force, makes `policy` the policy, loads the added file on top,
// backs up the main file and writes the result over it; the bundle then holds the result. A merge whose result
// the file already holds writes nothing and keeps the backup. A main file that did not load, an added file that
// cannot be opened or is damaged, or one holding kinds that a main file of one kind cannot hold, is reported,
// nothing is written and the bundle stays as it was. `prepared` is the added file already read (a map's objects,
// see readAddedMap()); without it the request's added file is read.
struct AddedFile;
MergeReport mergeObjectFiles(ObjectBundle& bundle, const BundlePath& bundlePath, bool mainLoaded,
                             const MergeRequest& request, MessageSink& sink, const AddedFile* prepared = nullptr);

// The message for a bundle file that did not load: "Sorry, can't open object file %s" and the reason when it
// could not be opened, the damage with its byte offset when it was refused.
std::string loadFailureMessage(const LoadResult& result, const std::filesystem::path& path);

// The added file of a merge, read and checked before anything is written.
struct AddedFile {
    std::vector<std::uint8_t> bytes;
    std::optional<ObjectKind> single; // the kind of an object file of one kind; none for a bundle
    ObjectBundle content;             // what the file holds, read on its own
};

// Reads and checks the added file. False with the message when it cannot be read or is damaged.
[[nodiscard]] bool readAddedFile(const std::filesystem::path& path, AddedFile& out, std::string& error);

// Whether a main file of kind `mainKind` (none: a bundle, which holds every kind) can hold what `added` holds.
// False with a message naming the kinds it cannot hold.
[[nodiscard]] bool checkKindsFit(std::optional<ObjectKind> mainKind, const AddedFile& added,
                                 const std::filesystem::path& mainPath, const std::filesystem::path& addedPath,
                                 std::string& error);

// Loads the added file's bytes on top of `bundle` under the bundle's policy, as loading the file would; with
// `counts`, what became of each object is added to them.
LoadResult mergeAddedFile(ObjectBundle& bundle, const AddedFile& added, const std::filesystem::path& path,
                          KindCounts* counts = nullptr);

} // namespace brindlemark
