#include "replace/replacecommand.h"

#include "core/fileio.h"
#include "replace/replacelist.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

namespace brindlemark {

std::filesystem::path sameFileKey(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path key = std::filesystem::canonical(path, ec);
    if (!ec)
        return key;
    key = std::filesystem::absolute(path, ec);
    return (ec ? path : key).lexically_normal();
}

bool readSideFiles(const std::vector<std::filesystem::path>& rows, SideFileSet& out, std::string& error) {
    std::map<std::filesystem::path, std::size_t> byKey;
    for (const std::filesystem::path& row : rows) {
        const auto [it, fresh] = byKey.try_emplace(sameFileKey(row), out.texts.size());
        if (!fresh) {
            ++out.texts[it->second].passes;
            continue;
        }
        SideText side{pathText(row), {}, 1};
        std::string why;
        if (!readFile(row, side.bytes, why)) {
            error = "Failed to patch file " + pathText(row) + " (" + reasonOf(why) + ")";
            return false;
        }
        out.paths.push_back(row);
        out.texts.push_back(std::move(side));
    }
    return true;
}

namespace {

// Whether the file holds exactly these bytes: read piece by piece, so that no second copy of a large file is kept.
bool holdsBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::FILE* file = openFile(path, "rb");
    if (!file)
        return false;
    std::vector<std::uint8_t> buffer(std::min<std::size_t>(bytes.size() + 1, std::size_t(1) << 20));
    std::size_t at = 0;
    bool same = true;
    for (;;) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
        if (got == 0) {
            same = at == bytes.size() && !std::ferror(file);
            break;
        }
        if (got > bytes.size() - at || std::memcmp(buffer.data(), bytes.data() + at, got) != 0) {
            same = false;
            break;
        }
        at += got;
    }
    std::fclose(file);
    return same;
}

// Whether loading the file afresh gives what `bundle` holds.
bool holdsWhatFileHolds(const ObjectBundle& bundle, const std::filesystem::path& path) {
    ObjectBundle fresh;
    fresh.mergePolicy = bundle.mergePolicy;
    fresh.warningSink = [](const std::string&) {};
    return fresh.load(path) && fresh.toBytes() == bundle.toBytes();
}

} // namespace

bool stageSideFiles(const SideFileSet& sides, bool anyRename, bool backups, FileTransaction& files,
                    std::size_t& changed, std::string& error) {
    if (!anyRename)
        return true;
    for (std::size_t i = 0; i < sides.paths.size(); ++i) {
        const std::filesystem::path& path = sides.paths[i];
        std::string why;
        // Patching may have written back what stood there: compared with the file, which nothing changed yet.
        const bool patched = !holdsBytes(path, sides.texts[i].bytes);
        if (backups) {
            const std::filesystem::path backup = backupName(splitPath(path));
            if (!(patched ? files.stageBackupOfReplaced(path, backup, why) : files.stageCopy(path, backup, why))) {
                error = "Failed to create backup file " + pathText(backup) + ", replace aborted (" + reasonOf(why) + ")";
                return false;
            }
        }
        if (!patched)
            continue;
        if (!files.stage(path, sides.texts[i].bytes, why)) {
            error = "Failed to patch file " + pathText(path) + ", replace aborted (" + reasonOf(why) + ")";
            return false;
        }
        ++changed;
    }
    return true;
}

bool checkSideFilesApartFrom(const std::vector<std::filesystem::path>& rows, const std::filesystem::path& file,
                             const std::string& role, std::string& error) {
    for (const std::filesystem::path& row : rows)
        if (sameFile(row, file)) {
            error = "Side file " + pathText(row) + " is " + role + " itself; nothing was written";
            return false;
        }
    return true;
}

bool checkSideFilesApart(const std::vector<std::filesystem::path>& rows, const std::filesystem::path& mainFile,
                         const std::filesystem::path& list, std::string& error) {
    return checkSideFilesApartFrom(rows, mainFile, "the main file", error) &&
           checkSideFilesApartFrom(rows, list, "the replace list", error);
}

void addSideFiles(RunFiles& files, const std::vector<std::filesystem::path>& rows, bool backups) {
    for (const std::filesystem::path& row : rows)
        files.written(row, "a side file", backups);
}

ReplaceReport replaceIdentifiers(ObjectBundle& bundle, const BundlePath& bundlePath, bool mainLoaded,
                                 const ReplaceRequest& request, MessageSink& sink) {
    ReplaceReport report;
    const auto fail = [&](const std::string& text) {
        report.failed = true;
        sink.message(text);
        return report;
    };
    const bool write = request.keepBackups || request.writeWithoutBackups;
    const std::filesystem::path& main = bundlePath.fullPath;
    if (write && !main.empty() && !mainLoaded)
        return fail("Main object file " + pathText(main) + " was not loaded; nothing was written");

    ReplaceListContents list;
    std::string error;
    if (!readReplaceList(request.replaceList, list, error))
        return fail(error);
    report.listOpened = true;

    SideFileSet sides;
    if (write) {
        if (main.empty())
            return fail("Failed to create backup file " + pathText(backupName(bundlePath)) + ", replace aborted");
        if (!checkSideFilesApart(request.sideFiles, main, request.replaceList, error))
            return fail(error);
        RunFiles own;
        own.written(main, "the main file", request.keepBackups);
        own.read(request.replaceList, "the replace list");
        addSideFiles(own, request.sideFiles, request.keepBackups);
        if (!own.check(error))
            return fail(error);
        if (request.loadedStamp && stampFile(main) != *request.loadedStamp)
            return fail(pathText(main) + " changed on disk since it was loaded; choose it again");
        if (!readSideFiles(request.sideFiles, sides, error))
            return fail(error + "; replace aborted");
    }

    ObjectBundle* const bundles[] = {&bundle};
    const ReplacePlan plan = planReplace(bundles, list.pairs, sides.texts);
    for (const PlannedRename& r : plan.renames)
        report.renames.push_back(r.entry);
    report.collisions = plan.collisions;
    sink.progress(1, 2);
    if (!write)
        return report;
    // Nothing renamed and nothing patched, and the bundle holds what its file holds (no earlier run renamed in
    // memory only): every file and every backup stays as it is.
    if (plan.renames.empty() && holdsWhatFileHolds(bundle, main)) {
        sink.progress(2, 2);
        report.completed = true;
        return report;
    }

    FileTransaction files;
    const bool backups = request.keepBackups;
    if (backups) {
        const std::filesystem::path backup = backupName(bundlePath);
        if (!files.stageBackupOfReplaced(main, backup, error))
            return fail("Failed to create backup file " + pathText(backup) + ", replace aborted (" + reasonOf(error) + ")");
    }
    if (!bundle.stage(files, main, error))
        return fail("Failed to write object file " + pathText(main) + " (" + reasonOf(error) + ")");
    std::size_t changed = 1;
    if (!stageSideFiles(sides, !plan.renames.empty(), backups, files, changed, error))
        return fail(error);
    if (!files.commit(error))
        return fail("Failed to write object file " + pathText(main) + ": " + error);
    report.bundleWritten = true;
    report.filesChanged = changed;
    sink.progress(2, 2);
    report.completed = true;
    return report;
}

} // namespace brindlemark
