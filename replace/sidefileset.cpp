#include "replace/sidefileset.h"

#include "core/bundlepath.h"

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
                error =
                    "Failed to create backup file " + pathText(backup) + ", replace aborted (" + reasonOf(why) + ")";
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

} // namespace brindlemark
