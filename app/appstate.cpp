#include "app/appstate.h"

#include "core/fileio.h"
#include "replace/idlist.h"

#include <cstdio>

namespace brindlemark {

namespace {

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
    // The window program writes the loading warning to standard output.
    bundle.warningSink = [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
}

void AppState::chooseMainBundle(const std::filesystem::path& path, MessageSink& sink) {
    bundle.clear();
    mainStamp = stampFile(path);
    const LoadResult result = bundle.load(path);
    mainLoaded = static_cast<bool>(result);
    bundlePath = splitPath(path);
    if (!result)
        sink.message(loadFailureMessage(result, path));
}

void AppState::reloadMainBundle() {
    bundle.clear();
    mainStamp = stampFile(bundlePath.fullPath);
    mainLoaded = static_cast<bool>(bundle.load(bundlePath.fullPath));
}

void AppState::saveIdListAs(const std::filesystem::path& path, MessageSink& sink) {
    std::string why;
    if (!writeIdList(bundle, path, why))
        sink.message("Failed to write identifier list " + pathText(path) + " (" + reasonOf(why) + ")");
}

ReplaceReport AppState::replace(const ReplaceRequest& request, MessageSink& sink) {
    const bool writes = request.keepBackups || request.writeWithoutBackups;
    FileLock lock;
    std::string error;
    if (writes && !bundlePath.fullPath.empty() && !lock.acquire(bundlePath.fullPath, error)) {
        sink.message(error);
        ReplaceReport report;
        report.failed = true;
        return report;
    }
    ReplaceRequest checked = request;
    if (mainLoaded)
        checked.loadedStamp = mainStamp;
    ReplaceReport report = replaceIdentifiers(bundle, bundlePath, mainLoaded, checked, sink);
    if (report.bundleWritten)
        mainStamp = stampFile(bundlePath.fullPath);
    else if (writes && report.failed && mainLoaded && !report.renames.empty())
        reloadMainBundle();
    return report;
}

MergeReport AppState::merge(const MergeRequest& request, MessageSink& sink) {
    FileLock lock;
    std::string error;
    if (request.enabled && !bundlePath.fullPath.empty() && !lock.acquire(bundlePath.fullPath, error)) {
        sink.message(error);
        MergeReport report;
        report.ran = true;
        report.failed = true;
        return report;
    }
    MergeReport report = mergeObjectFiles(bundle, bundlePath, mainLoaded, request, sink);
    if (report.bundleWritten)
        mainStamp = stampFile(bundlePath.fullPath);
    else if (report.failed && mainLoaded)
        reloadMainBundle();
    return report;
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
