#include "replace/sidefileset.h"

#include "core/bundlepath.h"
#include "core/fileread.h"

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

bool readSideFiles(const std::vector<std::filesystem::path>& rows, SideFileSet& out, std::string& error,
                   std::uint64_t holdUpTo) {
    std::uint64_t held = 0;
    std::map<std::filesystem::path, std::size_t> byKey;
    for (const std::filesystem::path& row : rows) {
        const auto [it, fresh] = byKey.try_emplace(sameFileKey(row), out.texts.size());
        if (!fresh) {
            ++out.texts[it->second].passes;
            continue;
        }
        SideText side{pathText(row), {}, 1};
        std::string why;
        std::error_code ec;
        const std::uint64_t size = std::filesystem::file_size(row, ec);
        bool readable = false;
        if (!ec && held + size <= holdUpTo) {
            readable = readFile(row, side.bytes, why);
            held += side.bytes.size();
        } else {
            // Only opened here: read in pieces when it is patched and again when it is written.
            side.file = row;
            readable = checkReadable(row, why);
        }
        if (!readable) {
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

// Stages the patched bytes of a side file, reading it in pieces once more with the passes it was counted with.
// The file must hold what it held then.
bool stagePatched(const SideText& side, FileTransaction& files, std::string& error) {
    SideStream stream(side.planned);
    std::uint64_t hash = 0;
    bool read = false;
    std::string why;
    const bool staged = files.stageStreamed(
        side.file,
        [&](const SideStream::Sink& put) {
            read = readFileInPieces(
                side.file, [&](std::span<const std::uint8_t> piece) { stream.feed(piece.data(), piece.size(), put); },
                hash, why);
            if (read)
                stream.finish(put);
        },
        why);
    if (staged && read && hash != side.hash)
        why = pathText(side.file) + ": the file changed while it was read";
    if (!staged || !read || hash != side.hash) {
        error = "Failed to patch file " + pathText(side.file) + ", replace aborted (" + reasonOf(why) + ")";
        return false;
    }
    return true;
}

} // namespace

bool stageSideFiles(const SideFileSet& sides, bool anyRename, bool backups, FileTransaction& files,
                    std::size_t& changed, std::string& error) {
    if (!anyRename)
        return true;
    for (std::size_t i = 0; i < sides.paths.size(); ++i) {
        const std::filesystem::path& path = sides.paths[i];
        const SideText& side = sides.texts[i];
        if (!side.failure.empty()) {
            error = side.failure + ", replace aborted";
            return false;
        }
        std::string why;
        // Patching may have written back what stood there: only bytes that differ make a new file. Bytes held are
        // compared with the file, which nothing changed yet.
        const bool held = side.file.empty();
        const bool patched = held ? !holdsBytes(path, side.bytes) : side.changed;
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
        if (held && !files.stage(path, side.bytes, why)) {
            error = "Failed to patch file " + pathText(path) + ", replace aborted (" + reasonOf(why) + ")";
            return false;
        }
        if (!held && !stagePatched(side, files, error))
            return false;
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
