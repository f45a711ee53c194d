#include "replace/replacecommand.h"

#include "core/fileio.h"
#include "replace/renaming.h"
#include "replace/replacelist.h"
#include "replace/sidefile.h"

#include <map>

namespace brindlemark {

namespace {

const char* const kReplaceDone = "Процесс изменения завершен!";

// The side files of one run: each file (however many rows name it, by whatever spelling) is backed up once and
// then patched once with every pass its rows give, in row order per rename.
class SideFiles {
public:
    SideFiles(const std::vector<std::filesystem::path>& rows, MessageSink& sink, ReplaceReport& report)
        : rows_(rows), sink_(sink), report_(report) {}

    // Backs up every file and checks that it can be patched, in row order, as the first rename reaches them.
    void prepare() {
        for (const std::filesystem::path& row : rows_) {
            const std::filesystem::path key = sameFileKey(row);
            keys_.push_back(key);
            File& file = files_[key];
            if (file.state != State::Unvisited)
                continue;
            file.path = row;
            const std::filesystem::path backup = backupName(splitPath(row));
            std::string why;
            if (!copyFileReplacing(row, backup, why)) {
                fail(file, "Failed to create backup file " + pathText(backup) + ", file skipped");
                continue;
            }
            std::FILE* handle = openFile(row, "r+b");
            if (!handle) {
                fail(file, "Failed to patch file " + pathText(row) + ", file skipped");
                continue;
            }
            std::fclose(handle);
            file.state = State::Ready;
        }
    }

    // Patches every file that is ready with the renames, in order.
    void patch(const std::vector<RenameEntry>& renames) {
        std::map<std::filesystem::path, std::vector<SidePass>> passes;
        for (const RenameEntry& entry : renames)
            for (const std::filesystem::path& key : keys_)
                if (files_[key].state == State::Ready)
                    passes[key].push_back({entry.fromId, entry.toId});
        for (auto& [key, list] : passes) {
            File& file = files_[key];
            std::string why;
            if (!patchSideFileInPlace(file.path, list, why))
                fail(file, "Failed to patch file " + pathText(file.path) + ", file skipped");
        }
    }

private:
    enum class State { Unvisited, Ready, Skipped };
    struct File {
        State state = State::Unvisited;
        std::filesystem::path path;
    };

    void fail(File& file, const std::string& text) {
        file.state = State::Skipped;
        report_.failed = true;
        sink_.message(text);
    }

    const std::vector<std::filesystem::path>& rows_;
    MessageSink& sink_;
    ReplaceReport& report_;
    std::vector<std::filesystem::path> keys_;
    std::map<std::filesystem::path, File> files_;
};

} // namespace

void patchSideFiles(const std::vector<std::filesystem::path>& rows, const std::vector<RenameEntry>& renames,
                    MessageSink& sink, ReplaceReport& report) {
    if (renames.empty())
        return;
    SideFiles sideFiles(rows, sink, report);
    sideFiles.prepare();
    sideFiles.patch(renames);
}

std::filesystem::path sameFileKey(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path key = std::filesystem::canonical(path, ec);
    if (!ec)
        return key;
    key = std::filesystem::absolute(path, ec);
    return (ec ? path : key).lexically_normal();
}

bool readReplacePairs(const std::filesystem::path& path, std::vector<std::pair<ObjectId, ObjectId>>& pairs) {
    std::FILE* file = openFile(path, "rb");
    if (!file)
        return false;
    ObjectId from;
    ObjectId to;
    while (readReplaceToken(file, from) && readReplaceToken(file, to))
        pairs.emplace_back(from, to);
    std::fclose(file);
    return true;
}

ReplaceReport replaceIdentifiers(ObjectBundle& bundle, const BundlePath& bundlePath, bool mainLoaded,
                                 const ReplaceRequest& request, MessageSink& sink) {
    ReplaceReport report;
    std::vector<std::pair<ObjectId, ObjectId>> pairs;
    if (!readReplacePairs(request.replaceList, pairs)) {
        report.failed = true;
        sink.message("Sorry, can't open Replace List file " + pathText(request.replaceList));
    } else {
        report.listOpened = true;
        const std::size_t steps = pairs.size() + 1;
        RenameEngine engine(bundle);
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            RenameList list(false);
            engine.applyRename(pairs[i].first, pairs[i].second, list);
            for (const RenameEntry& entry : list.entries())
                report.renames.push_back(entry);
            sink.progress(i + 1, steps);
        }
        if (request.keepBackups)
            patchSideFiles(request.sideFiles, report.renames, sink, report);
        sink.progress(steps, steps);
    }

    if (!request.keepBackups)
        return report;
    const std::filesystem::path backup = backupName(bundlePath);
    if (!bundlePath.fullPath.empty() && !mainLoaded) {
        report.failed = true;
        sink.message("Main object file " + pathText(bundlePath.fullPath) + " was not loaded; nothing was written");
        return report;
    }
    std::string why;
    if (bundlePath.fullPath.empty() || !copyFileReplacing(bundlePath.fullPath, backup, why)) {
        report.failed = true;
        sink.message("Failed to create backup file " + pathText(backup) + ", replace aborted");
        return report;
    }
    if (!bundle.save(bundlePath.fullPath, why)) {
        report.failed = true;
        sink.message("Failed to write object file " + pathText(bundlePath.fullPath));
        return report;
    }
    report.bundleWritten = true;
    sink.message(kReplaceDone);
    return report;
}

} // namespace brindlemark
