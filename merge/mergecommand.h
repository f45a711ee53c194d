#pragma once

#include "core/bundlepath.h"
#include "core/fileio.h"
#include "core/messagesink.h"
#include "core/objectbundle.h"

#include <filesystem>
#include <optional>

namespace brindlemark {

// What the user asked the Merge command to do (commands/mergecommand.h runs it over a main file of any form).
struct MergeRequest {
    bool enabled = true;    // the window's backup switch: when clear, the command does nothing at all
    bool takeBackup = true; // copy the main file to its backup name first (the command-line tool may skip it)
    std::filesystem::path addedFile;
    MergePolicy policy = MergePolicy::Glue;
    std::filesystem::path main;  // the main file: a bundle, an object file of one kind or a map
    bool keepStringRefs = false; // an added map's objects keep their references when the main file is no map
    WarningSink loadWarnings;    // where reading a bundle or object file warns; the sink's warnings when empty,
                                 // and always for a map (they name the file inside)
};

// What a run did.
struct MergeReport {
    bool ran = false;
    bool failed = false; // a failure message was shown
    bool bundleWritten = false;
    bool completed = false; // the merge went through (whether or not the file had to change); each front end says so
    KindCounts merged{};    // per kind, what the policy did with each object of the added file
    std::size_t referencesKept = 0; // string values of an added map left as references (keepStringRefs)
};

struct AddedFile;

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

// Loads the added file's bytes on top of `bundle` under `policy`, as loading the file would, warnings going to
// `warn`; with `counts`, what became of each object is added to them.
LoadResult mergeAddedFile(ObjectBundle& bundle, const AddedFile& added, const std::filesystem::path& path,
                          MergePolicy policy, const WarningSink& warn, KindCounts* counts = nullptr);

} // namespace brindlemark
