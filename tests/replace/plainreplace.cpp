#include "tests/replace/plainreplace.h"

#include "core/fileio.h"
#include "replace/renaming.h"
#include "replace/replacelist.h"
#include "replace/sidefile.h"
#include "tests/support/testsupport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <system_error>

namespace brindlemark::testing {

void plainApplyRename(ObjectBundle& bundle, ObjectId pattern, ObjectId replacement, RenameList& list,
                      std::vector<ValueCounts>* counts, MergePolicy policy) {
    for (ObjectKind k : kAllObjectKinds) {
        ObjectFile& file = bundle.kind(k).file;
        collectRenames(file.standardTable, pattern, replacement, &file.customTable, policy, list);
        collectRenames(file.customTable, pattern, replacement, nullptr, policy, list);
    }
    // Tables in which identifiers changed in place go back into identifier order.
    for (ObjectKind k : kAllObjectKinds) {
        bundle.kind(k).file.standardTable.sortAndResolve(policy);
        bundle.kind(k).file.customTable.sortAndResolve(policy);
    }
    if (counts)
        counts->clear();
    for (const RenameEntry& entry : list.entries()) {
        ValueCounts total;
        for (ObjectKind k : kAllObjectKinds) {
            ObjectFile& file = bundle.kind(k).file;
            for (ObjectTable* table : {&file.standardTable, &file.customTable})
                for (std::size_t i = 0; i < table->count(); ++i) {
                    const ValueCounts c = substituteInValues(table->at(i), entry.fromId, entry.toId);
                    total.strings += c.strings;
                    total.integers += c.integers;
                }
        }
        if (counts)
            counts->push_back(total);
    }
}

bool plainReadReplaceToken(std::span<const std::uint8_t> bytes, std::size_t& at, ObjectId& token) {
    const auto isSpace = [](std::uint8_t c) { return c == 0x20 || (c >= 0x09 && c <= 0x0D); };
    for (std::size_t pos = at; pos < bytes.size();) {
        const std::uint8_t c = bytes[pos];
        if (c == '/') {
            while (pos < bytes.size() && bytes[pos] != '\n')
                ++pos;
            if (pos == bytes.size())
                break;
            ++pos;
            continue;
        }
        if (isSpace(c)) {
            ++pos;
            continue;
        }
        // After a byte-order mark, whatever its two other bytes are, the token follows directly.
        const std::size_t start = c == 0xEF ? pos + 3 : pos;
        if (start + 4 > bytes.size())
            break;
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(start), 4, token.bytes.begin());
        at = start + 4;
        return true;
    }
    at = bytes.size();
    return false;
}

std::vector<PlannedRename> plainPlanRenames(ObjectBundle& bundle, std::span<const std::pair<ObjectId, ObjectId>> pairs,
                                            std::vector<SideText>& sides, MergePolicy policy) {
    std::vector<PlannedRename> planned;
    RenameEngine engine(bundle, policy);
    for (const auto& [pattern, replacement] : pairs) {
        RenameList list(false);
        std::vector<ValueCounts> counts;
        engine.applyRename(pattern, replacement, list, &counts);
        for (std::size_t i = 0; i < list.size(); ++i)
            planned.push_back({list.entries()[i], counts[i], std::vector<std::size_t>(sides.size(), 0)});
    }
    patchSideTexts(planned, sides);
    return planned;
}

ReplaceReport plainReplaceIdentifiers(ObjectBundle& bundle, const BundlePath& bundlePath, bool mainLoaded,
                                      const ReplaceRequest& request, MessageSink& sink, MergePolicy policy) {
    ReplaceReport report;
    auto fail = [&](const std::string& text) {
        report.failed = true;
        sink.message(text);
    };
    enum class State { Unvisited, BackedUp, Skipped };
    std::map<std::filesystem::path, State> states;

    std::FILE* list = openFile(request.replaceList, "rb");
    if (!list) {
        fail("Sorry, can't open Replace List file " + pathText(request.replaceList));
    } else {
        report.listOpened = true;
        std::vector<std::uint8_t> bytes;
        for (int c; (c = std::getc(list)) != EOF;)
            bytes.push_back(static_cast<std::uint8_t>(c));
        for (std::size_t at = 0;;) {
            RenameList renames(false);
            ObjectId from;
            ObjectId to;
            if (!plainReadReplaceToken(bytes, at, from) || !plainReadReplaceToken(bytes, at, to))
                break;
            plainApplyRename(bundle, from, to, renames, nullptr, policy);
            for (const RenameEntry& entry : renames.entries()) {
                report.renames.push_back(entry);
                for (const std::filesystem::path& row : request.sideFiles) {
                    if (!request.keepBackups)
                        continue;
                    State& state = states[sameFileKey(row)];
                    if (state == State::Skipped)
                        continue;
                    if (state == State::Unvisited) {
                        const std::filesystem::path backup = backupName(splitPath(row));
                        std::string why;
                        if (!copyFileReplacing(row, backup, why)) {
                            state = State::Skipped;
                            fail("Failed to create backup file " + pathText(backup) + ", file skipped");
                            continue;
                        }
                        state = State::BackedUp;
                    }
                    if (!patchSideFile(row, entry.fromId, entry.toId)) {
                        state = State::Skipped;
                        fail("Failed to patch file " + pathText(row) + ", file skipped");
                    }
                }
            }
        }
        std::fclose(list);
    }

    if (!request.keepBackups)
        return report;
    const std::filesystem::path backup = backupName(bundlePath);
    if (!bundlePath.fullPath.empty() && !mainLoaded) {
        fail("Main object file " + pathText(bundlePath.fullPath) + " was not loaded; nothing was written");
        return report;
    }
    if (!bundlePath.fullPath.empty() && report.renames.empty()) {
        // Nothing renamed, and the file holds the bundle: nothing written, the backup kept.
        ObjectBundle onDisk;
        if (onDisk.load(bundlePath.fullPath, policy) && onDisk.toBytes() == bundle.toBytes()) {
            report.completed = true;
            return report;
        }
    }
    std::string why;
    if (bundlePath.fullPath.empty() || !copyFileReplacing(bundlePath.fullPath, backup, why)) {
        fail("Failed to create backup file " + pathText(backup) + ", replace aborted");
        return report;
    }
    if (!bundle.save(bundlePath.fullPath, why)) {
        fail("Failed to write object file " + pathText(bundlePath.fullPath));
        return report;
    }
    report.bundleWritten = true;
    report.completed = true;
    return report;
}

namespace {

std::string reason(int errorNumber) {
    return errorNumber ? std::generic_category().message(errorNumber) : std::string("unknown error");
}

// A side file opened for update: never created, and never a folder.
bool openForUpdate(const std::filesystem::path& path, std::fstream& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        errno = ec ? ec.value() : EISDIR;
        return false;
    }
    errno = 0;
    file.open(path, std::ios::in | std::ios::out | std::ios::binary);
    return file.is_open();
}

} // namespace

bool patchSideFile(const std::filesystem::path& path, ObjectId from, ObjectId to) {
    std::fstream file;
    if (!openForUpdate(path, file))
        return false;
    constexpr std::size_t kChunk = 1 << 16;
    // Up to three bytes of an unfinished window are carried over in front of the next chunk.
    std::vector<char> buffer(kChunk + 3);
    std::uint64_t base = 0; // file offset of buffer[0]
    std::size_t held = 0;
    for (;;) {
        file.seekg(static_cast<std::streamoff>(base + held));
        file.read(buffer.data() + held, kChunk);
        const auto got = static_cast<std::size_t>(file.gcount());
        if (file.bad())
            return false;
        file.clear();
        if (got == 0)
            return true;
        held += got;
        std::size_t p = 0;
        std::size_t dirtyBegin = held;
        std::size_t dirtyEnd = 0;
        while (p + 4 <= held) {
            if (std::memcmp(buffer.data() + p, from.bytes.data(), 4) == 0) {
                std::memcpy(buffer.data() + p, to.bytes.data(), 4);
                dirtyBegin = std::min(dirtyBegin, p);
                dirtyEnd = p + 4;
                p += 4;
            } else {
                ++p;
            }
        }
        if (dirtyBegin < dirtyEnd) {
            file.seekp(static_cast<std::streamoff>(base + dirtyBegin));
            file.write(buffer.data() + dirtyBegin, static_cast<std::streamsize>(dirtyEnd - dirtyBegin));
            if (!file.flush())
                return false;
        }
        // Bytes before p are done; the rest (never written, at most three) starts the next window.
        held -= p;
        std::memmove(buffer.data(), buffer.data() + p, held);
        base += p;
    }
}

bool patchSideFileInPlace(const std::filesystem::path& path, std::span<const SidePass> passes, std::string& error) {
    std::fstream file;
    if (!openForUpdate(path, file)) {
        error = pathText(path) + ": cannot open the file for update (" + reason(errno) + ")";
        return false;
    }
    std::vector<std::uint8_t> original;
    {
        char chunk[1 << 16];
        while (file.read(chunk, sizeof chunk) || file.gcount() > 0)
            original.insert(original.end(), chunk, chunk + file.gcount());
        if (file.bad()) {
            error = pathText(path) + ": cannot read the file (" + reason(errno) + ")";
            return false;
        }
        file.clear();
    }
    std::vector<std::uint8_t> patched = original;
    applySidePasses(patched, passes);
    // Changed ranges less than a storage block apart are written as one, the unchanged bytes between them
    // included.
    constexpr std::size_t kJoinGap = 4096;
    const std::size_t size = original.size();
    std::size_t p = 0;
    const auto differ = [&](std::size_t at) { return original[at] != patched[at]; };
    while (p < size && !differ(p))
        ++p;
    while (p < size) {
        const std::size_t begin = p;
        std::size_t end = p;
        for (;;) {
            while (end < size && differ(end))
                ++end;
            p = end;
            while (p < size && !differ(p))
                ++p;
            if (p == size || p - end >= kJoinGap)
                break;
            end = p;
        }
        file.seekp(static_cast<std::streamoff>(begin));
        file.write(reinterpret_cast<const char*>(patched.data() + begin), static_cast<std::streamsize>(end - begin));
        if (!file) {
            error = pathText(path) + ": cannot write the file (" + reason(errno) + ")";
            return false;
        }
    }
    if (!file.flush()) {
        error = pathText(path) + ": cannot write the file (" + reason(errno) + ")";
        return false;
    }
    return true;
}

} // namespace brindlemark::testing
