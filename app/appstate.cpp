#include "app/appstate.h"

#include "core/fileio.h"
#include "commands/mergecommand.h"
#include "commands/replacecommand.h"
#include "document/document.h"
#include "replace/idlist.h"

#include <cstdio>

namespace brindlemark {

namespace {

// Takes the messages of a run whose failure was already said.
class NoMessages : public MessageSink {
public:
    void message(const std::string&) override {}
};

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

// The window's completion message of a Replace: what was done, and the script of a map that stays as it was.
std::string replaceDoneText(Language language, const ReplaceReport& report) {
    std::string text = fill(brindlemark::text(language, Text::ReplaceDone),
                            {std::to_string(report.renames.size()), std::to_string(report.filesChanged)});
    if (!report.collisions.empty())
        text += fill(brindlemark::text(language, Text::ReplaceCollisions), {std::to_string(report.collisions.size())});
    if (!report.unpatchedScript.empty())
        text += fill(brindlemark::text(language, Text::ReplaceScriptKept), {report.unpatchedScript});
    return text;
}

// The window's completion message of a Merge: per kind of the added file, what the policy did with its objects.
std::string mergeDoneText(Language language, const MergeReport& report) {
    std::string text(brindlemark::text(language, Text::MergeDone));
    for (ObjectKind k : kAllObjectKinds) {
        const FilingCounts& c = report.merged[static_cast<std::size_t>(k)];
        if (c.total() == 0)
            continue;
        text += fill(brindlemark::text(language, Text::MergeKindCounts),
                     {kindText(language, k), std::to_string(c.added), std::to_string(c.overwritten),
                      std::to_string(c.glued), std::to_string(c.kept)});
    }
    return text;
}

} // namespace

std::vector<FilterEntry> parseFilter(std::string_view filter) {
    std::vector<FilterEntry> entries;
    const std::vector<std::string> fields = split(filter, '|');
    for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
        if (fields[i].empty())
            break; // the closing "||"
        entries.push_back({fields[i], split(fields[i + 1], ';')});
    }
    return entries;
}

std::string dialogFilter(std::string_view filter) {
    std::string out;
    for (const FilterEntry& entry : parseFilter(filter)) {
        if (!out.empty())
            out += ";;";
        out += entry.label + " (";
        for (std::size_t i = 0; i < entry.patterns.size(); ++i)
            out += (i ? " " : "") + entry.patterns[i];
        out += ")";
    }
    return out;
}

ButtonStates updateButtons(std::size_t mainPathLength, std::size_t replaceListLength, std::size_t addedPathLength) {
    ButtonStates states;
    states.saveIdList = mainPathLength > 0;
    states.merge = mainPathLength > 0 && addedPathLength > 0;
    states.replace = mainPathLength > 0 && replaceListLength > 0;
    return states;
}

AppState::AppState() {
    loadWarnings = [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
}

void AppState::chooseMainBundle(const std::filesystem::path& path, MessageSink& sink) {
    bundle.clear();
    {
        // A run that stopped part-way on this file is finished or undone before the file is shown.
        FileLock lock;
        std::string busy;
        if (lock.acquire(path, busy, std::chrono::milliseconds(200)))
            reportRecovered(lock, sink);
    }
    mainStamp = stampFile(path);
    mapStrings = StringTable();
    mainOwnStrings = holdsMapFiles(path);
    if (mainOwnStrings) {
        bundlePath = splitPath(path);
        std::string error;
        mainLoaded = loadMapBundle(path, bundle, mapStrings, error, loadWarnings);
        if (!mainLoaded) {
            bundle.clear(); // what loaded before the damage is not the map
            sink.message(error);
            return;
        }
        mergePolicy = MergePolicy::Glue;
        return;
    }
    const LoadResult result = bundle.load(path, mergePolicy, loadWarnings);
    mainLoaded = static_cast<bool>(result);
    bundlePath = splitPath(path);
    if (!result)
        sink.message(loadFailureMessage(result, path));
}

void AppState::reloadMainBundle() {
    // Read as the main-file chooser reads it; a failure leaves the bundle empty and `mainLoaded` clear.
    NoMessages quiet;
    chooseMainBundle(bundlePath.fullPath, quiet);
}

void AppState::saveIdListAs(const std::filesystem::path& path, MessageSink& sink) {
    // A main file that another program changed since it was loaded is read again: the list shows the file as it
    // now is. (Renames made in memory only stand while the file stays as loaded.)
    if (mainLoaded && !bundlePath.fullPath.empty() && stampFile(bundlePath.fullPath) != mainStamp)
        chooseMainBundle(bundlePath.fullPath, sink);
    std::string why;
    if (!writeIdList(bundle, path, why, mainOwnStrings ? &mapStrings : nullptr))
        sink.message(fill(text(language, Text::IdListWriteFailed), {pathText(path), reasonOf(why)}));
}

ReplaceReport AppState::replace(const ReplaceRequest& request, MessageSink& sink) {
    // The command renames the objects held here; a run that writes a map reads the map afresh, of which they are
    // only a view. With the backup switch clear a Replace only renames in memory, for a map as for a bundle.
    ReplaceRequest run = request;
    run.main = bundlePath.fullPath;
    if (mainLoaded)
        run.loadedStamp = mainStamp;
    Document main;
    main.hold(bundlePath.fullPath, bundle, mainLoaded, mergePolicy, loadWarnings);
    const ReplaceReport report = replaceIdentifiers(main, run, sink);
    const bool writes = request.keepBackups || request.writeWithoutBackups;
    if (report.completed)
        sink.message(replaceDoneText(language, report));
    if (report.bundleWritten || (!writes && !report.failed))
        show(main, report.bundleWritten, sink);
    else if (writes && report.failed && mainLoaded && !report.renames.empty())
        reloadMainBundle();
    return report;
}

MergeReport AppState::merge(const MergeRequest& request, MessageSink& sink) {
    MergeRequest run = request;
    run.main = bundlePath.fullPath;
    // The command reads the main file afresh: of the objects held here it needs only whether they loaded, and
    // the policy and warnings they were read under.
    Document main;
    main.hold(bundlePath.fullPath, ObjectBundle(), mainLoaded, mergePolicy, loadWarnings);
    const MergeReport report = mergeObjectFiles(main, run, sink);
    if (report.completed) {
        sink.message(mergeDoneText(language, report));
        show(main, report.bundleWritten, sink);
    } else if (report.failed && mainLoaded)
        reloadMainBundle();
    return report;
}

void AppState::show(Document& written, bool wrote, MessageSink& sink) {
    if (wrote)
        mainStamp = stampFile(bundlePath.fullPath);
    ObjectBundle fresh;
    const MergePolicy policy = written.viewPolicy();
    std::string error;
    if (!written.takeView(fresh, mapStrings, loadWarnings, error)) {
        sink.message(error);
        return;
    }
    bundle = std::move(fresh);
    mergePolicy = policy;
}

std::filesystem::path AppState::chooserFolder(Chooser chooser) const {
    if (chooser == Chooser::IdList && !bundlePath.fullPath.empty() && bundlePath.fullPath.has_parent_path())
        return bundlePath.fullPath.parent_path();
    return folderMemory ? folderMemory->folder(chooserName(chooser)) : std::filesystem::path();
}

std::string AppState::chooserFilter(Chooser chooser) const {
    return folderMemory ? folderMemory->filter(chooserName(chooser)) : std::string();
}

void AppState::chooserConfirmed(Chooser chooser, const std::filesystem::path& answer, std::string_view filter) {
    // A map folder chosen through its war3map.w3i: the chooser opens next beside the folder, not inside it.
    const std::filesystem::path file = chooser == Chooser::MainFile ? chosenMainFile(answer) : answer;
    if (folderMemory && file.has_parent_path())
        folderMemory->setFolder(chooserName(chooser), file.parent_path());
    if (folderMemory && !filter.empty())
        folderMemory->setFilter(chooserName(chooser), filter);
}

std::filesystem::path AppState::proposedSideFileName() const {
    std::filesystem::path name = bundlePath.name;
    name += ".wct";
    return name;
}

std::filesystem::path AppState::proposedIdListName() const {
    std::filesystem::path name = bundlePath.name;
    name += "_IdList.txt";
    return name;
}

} // namespace brindlemark
