#pragma once

#include "core/bundlepath.h"
#include "core/messagesink.h"
#include "core/objectbundle.h"

#include <filesystem>

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
};

// Backs up the main file, loads it again on top of the bundle under the policy in force, makes `policy` the
// bundle's policy, loads the added file on top, and writes the result over the main file. A main file that did
// not load, or an added file that cannot be opened or is damaged, is reported and nothing is written.
MergeReport mergeObjectFiles(ObjectBundle& bundle, const BundlePath& bundlePath, bool mainLoaded,
                             const MergeRequest& request, MessageSink& sink);

// The message for a bundle file that did not load: "Sorry, can't open object file %s" when it could not be
// opened, the damage with its byte offset when it was refused.
std::string loadFailureMessage(const LoadResult& result, const std::filesystem::path& path);

} // namespace brindlemark
