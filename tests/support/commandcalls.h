#pragma once

// The Replace and Merge commands called as the tests of one form call them: on a bundle held in memory (as the
// window holds it), or on a map by its path. Each goes through the one command over a Document.

#include "commands/mergecommand.h"
#include "commands/replacecommand.h"
#include "core/bundlepath.h"

#include <filesystem>
#include <utility>

namespace brindlemark {

// Replace on `bundle`, held as loaded (or not) from `path` under `policy`; the bundle is left as the run leaves
// the objects.
inline ReplaceReport replaceIdentifiers(ObjectBundle& bundle, const BundlePath& path, bool loaded,
                                        ReplaceRequest request, MessageSink& sink,
                                        MergePolicy policy = MergePolicy::Glue) {
    Document main;
    main.hold(path.fullPath, std::move(bundle), loaded, policy, {});
    request.main = path.fullPath;
    const ReplaceReport report = replaceIdentifiers(main, request, sink);
    bundle = std::move(main.objects());
    return report;
}

// Merge into `bundle`, held as loaded (or not) from `path` under `*policy` (Glue when null); the bundle takes
// the result when the run went through, and `*policy` the policy it then stands under.
inline MergeReport mergeObjectFiles(ObjectBundle& bundle, const BundlePath& path, bool loaded, MergeRequest request,
                                    MessageSink& sink, MergePolicy* policy = nullptr) {
    Document main;
    main.hold(path.fullPath, bundle, loaded, policy ? *policy : MergePolicy::Glue, {});
    request.main = path.fullPath;
    const MergeReport report = mergeObjectFiles(main, request, sink);
    if (report.completed) {
        bundle = std::move(main.objects());
        if (policy)
            *policy = main.policy();
    }
    return report;
}

// What to rename in a map, by its path.
struct MapReplaceRequest {
    std::filesystem::path map;
    std::filesystem::path replaceList;
    std::vector<std::filesystem::path> sideFiles;
    bool keepBackups = true;
    bool writeWithoutBackups = false;
    bool patchScript = false;
    MergePolicy policy = MergePolicy::Glue;

    ReplaceRequest request() const {
        ReplaceRequest r;
        r.main = map;
        r.replaceList = replaceList;
        r.sideFiles = sideFiles;
        r.keepBackups = keepBackups;
        r.writeWithoutBackups = writeWithoutBackups;
        r.patchScript = patchScript;
        r.policy = policy;
        return r;
    }
};

// Replace on a map read from its path; with `result`, a run that wrote leaves there the map as written.
inline ReplaceReport replaceInMap(const MapReplaceRequest& request, MessageSink& sink, Document* result = nullptr) {
    Document main;
    const ReplaceReport report = replaceIdentifiers(main, request.request(), sink);
    if (result && report.bundleWritten)
        *result = std::move(main);
    return report;
}

// A dry run of Replace on a map.
struct MapReplacePlan {
    ReplacePlan plan;
    std::vector<SideText> sides;
    StringTable strings;
};
[[nodiscard]] inline bool planReplaceInMap(const MapReplaceRequest& request, MapReplacePlan& out, MessageSink& sink) {
    Document main;
    ReplacePreview preview;
    if (replaceIdentifiers(main, request.request(), sink, &preview).failed)
        return false;
    out.plan = std::move(preview.plan);
    out.sides = std::move(preview.sides);
    out.strings = preview.names.value_or(StringTable());
    return true;
}

// Merge into a map read from its path; with `result`, a run that wrote leaves there the map as written.
inline MergeReport mergeIntoMap(const std::filesystem::path& map, const std::filesystem::path& added,
                                MergePolicy policy, bool takeBackup, MessageSink& sink, Document* result = nullptr) {
    MergeRequest request;
    request.main = map;
    request.addedFile = added;
    request.policy = policy;
    request.takeBackup = takeBackup;
    Document main;
    const MergeReport report = mergeObjectFiles(main, request, sink);
    if (result && report.bundleWritten)
        *result = std::move(main);
    return report;
}

} // namespace brindlemark
