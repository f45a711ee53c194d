// Writing a map archive anew through StormLib: every file of the source, some with new contents, behind the
// source's map header, read back and checked before it takes the target's place.
#include "archive/maparchiveimpl.h"

#include "core/fileio.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <unordered_map>

namespace fs = std::filesystem;

namespace brindlemark {

using mpq::isInternalName;
using mpq::kAttributes;
using mpq::kKeptFileFlags;
using mpq::kListFile;
using mpq::kMaxFileSize;
using mpq::kSignature;
using mpq::nameKey;

namespace {

std::uint32_t hashTableEntriesFor(std::size_t files) {
    // A quarter of the table stays free, so that lookups end soon; never fewer than 16 entries.
    const std::uint64_t wanted = std::max<std::uint64_t>(16, files + files / 3 + 1);
    std::uint64_t entries = 1;
    while (entries < wanted)
        entries <<= 1;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(entries, mpq::kMaxTableEntries));
}


} // namespace

bool writeMapArchive(const MapArchive& source,
                     const std::map<std::string, std::vector<std::uint8_t>>& replaced, const fs::path& target,
                     std::string& error, const std::map<std::string, std::vector<std::uint8_t>>& added) {
    const std::string targetName = pathText(target);
    if (!source.impl_) {
        error = targetName + ": cannot write the map: no map archive is open";
        return false;
    }
    const MapArchive::Impl& from = *source.impl_;
    const std::string sourceName = pathText(from.path);

    // Which file each new content replaces.
    std::unordered_map<std::string, const std::vector<std::uint8_t>*> replacement;
    for (const auto& [name, bytes] : replaced) {
        const MapArchiveEntry* entry = from.find(name);
        if (!entry) {
            error = sourceName + ": cannot replace '" + name + "': the archive has no such file";
            return false;
        }
        if (nameKey(name) == nameKey(kSignature)) {
            error = sourceName + ": cannot replace '" + name + "': a rewritten map is not signed";
            return false;
        }
        if (isInternalName(name)) {
            error = sourceName + ": cannot replace '" + name + "': the archive writes it itself";
            return false;
        }
        if (bytes.size() > kMaxFileSize) {
            error = sourceName + ": cannot replace '" + name + "': " + std::to_string(bytes.size()) +
                    " bytes are more than a map file may hold";
            return false;
        }
        if (!replacement.emplace(nameKey(name), &bytes).second) {
            error =
                sourceName + ": '" + name + "' is given new contents twice (names differing only in case)";
            return false;
        }
    }
    for (const auto& [name, bytes] : added) {
        if (from.find(name) || isInternalName(name) || nameKey(name) == nameKey(kSignature) || name.empty()) {
            error = sourceName + ": cannot add '" + name + "': the archive has a file of that name already";
            return false;
        }
        if (bytes.size() > kMaxFileSize) {
            error = sourceName + ": cannot add '" + name + "': " + std::to_string(bytes.size()) +
                    " bytes are more than a map file may hold";
            return false;
        }
        if (!replacement.emplace(nameKey(name), &bytes).second) {
            error = sourceName + ": '" + name + "' is given contents twice (names differing only in case)";
            return false;
        }
    }

    std::uint32_t listFileFlags = MPQ_FILE_DEFAULT_INTERNAL;
    std::uint32_t attributesFlags = MPQ_FILE_DEFAULT_INTERNAL;
    std::size_t fileCount = 0;
    for (const MapArchiveEntry& entry : from.entries) {
        const std::string key = nameKey(entry.name);
        if (key == nameKey(kListFile))
            listFileFlags = (entry.flags & kKeptFileFlags) | MPQ_FILE_EXISTS;
        else if (key == nameKey(kAttributes))
            attributesFlags = (entry.flags & kKeptFileFlags) | MPQ_FILE_EXISTS;
        else if (key != nameKey(kSignature))
            ++fileCount;
    }
    fileCount += added.size();

    // The archive alone, in a temporary file beside the target.
    storm::RemoveOnExit mpqFile{temporaryBeside(target)};
    SFILE_CREATE_MPQ create;
    std::memset(&create, 0, sizeof create);
    create.cbSize = sizeof create;
    create.dwMpqVersion = MPQ_FORMAT_VERSION_1;
    create.dwFileFlags1 = listFileFlags;
    create.dwFileFlags2 = attributesFlags;
    create.dwFileFlags3 = 0; // no (signature)
    create.dwAttrFlags =
        from.attributeFlags & (MPQ_ATTRIBUTE_CRC32 | MPQ_ATTRIBUTE_FILETIME | MPQ_ATTRIBUTE_MD5);
    if (create.dwAttrFlags == 0)
        create.dwAttrFlags = MPQ_ATTRIBUTE_CRC32 | MPQ_ATTRIBUTE_FILETIME;
    create.dwSectorSize = from.sectorSize;
    create.dwMaxFileCount = hashTableEntriesFor(fileCount + 2);
    if (fileCount + 2 > create.dwMaxFileCount) {
        error =
            sourceName + ": the map holds too many files (" + std::to_string(fileCount) + ") to be written";
        return false;
    }
    {
        std::FILE* created = createFileExclusive(mpqFile.path);
        if (!created) {
            error = targetName + ": cannot write the file (" + std::generic_category().message(errno) + ")";
            return false;
        }
        std::fclose(created);
    }
    storm::keepDescriptorZeroTaken();
    HANDLE archive = nullptr;
    if (!SFileCreateArchive2(storm::path(mpqFile.path).c_str(), &create, &archive)) {
        error = targetName + ": cannot write the file (" + storm::reason(GetLastError()) + ")";
        return false;
    }

    std::vector<storm::WrittenFile> written;
    std::vector<std::uint8_t> bytes;
    bool ok = true;
    const auto writeOne = [&](const std::string& name, std::uint64_t fileTime, std::uint32_t locale,
                              DWORD flags, const std::vector<std::uint8_t>& data) {
        const DWORD size = static_cast<DWORD>(data.size());
        HANDLE file = nullptr;
        if (!SFileCreateFile(archive, name.c_str(), fileTime, size, static_cast<LCID>(locale), flags, &file)) {
            error = targetName + ": cannot write '" + name + "' (" + storm::reason(GetLastError()) + ")";
            return false;
        }
        // StormLib 9.40 (unlike 9.22) stores every file of a version 1 archive in sectors, as Warcraft III reads
        // them whatever their flags say, and drops the single-unit flag: that is what must read back.
        DWORD stored = 0;
        if (SFileGetFileInfo(file, SFileInfoFlags, &stored, sizeof stored, nullptr) &&
            (stored & kKeptFileFlags) == (flags & ~MPQ_FILE_SINGLE_UNIT))
            flags = stored & kKeptFileFlags;
        bool fileOk = size == 0 || SFileWriteFile(file, data.data(), size, MPQ_COMPRESSION_ZLIB);
        DWORD code = fileOk ? 0 : GetLastError();
        if (!SFileFinishFile(file) && fileOk) {
            fileOk = false;
            code = GetLastError();
        }
        if (!fileOk) {
            error = targetName + ": cannot write '" + name + "' (" + storm::reason(code) + ")";
            return false;
        }
        written.push_back({name, locale, flags, size, storm::contentHash(data.data(), data.size())});
        return true;
    };
    for (const MapArchiveEntry& entry : from.entries) {
        if (isInternalName(entry.name))
            continue;
        const std::vector<std::uint8_t>* data = nullptr;
        if (const auto it = replacement.find(nameKey(entry.name)); it != replacement.end()) {
            data = it->second;
        } else {
            if (!from.read(entry, bytes, error)) {
                ok = false;
                break;
            }
            data = &bytes;
        }
        if (!writeOne(entry.name, entry.fileTime, entry.locale, entry.flags & kKeptFileFlags, *data)) {
            ok = false;
            break;
        }
    }
    for (auto it = added.begin(); ok && it != added.end(); ++it)
        ok = writeOne(it->first, 0, 0, MPQ_FILE_COMPRESS, it->second);
    if (!SFileCloseArchive(archive) && ok) {
        error = targetName + ": cannot write the file (" + storm::reason(GetLastError()) + ")";
        ok = false;
    }
    if (!ok)
        return false;

    // Read back, through the same checks as any map that is opened, before the target is touched.
    std::string why;
    if (!MapArchive::Impl::checkWritten(mpqFile.path, written, why)) {
        error = targetName +
                ": the new archive does not read back as written, so the file was left as it was (" + why +
                ")";
        return false;
    }

    // The map header from the source, then the new archive, into the target's place.
    std::FILE* in = openFile(mpqFile.path, "rb");
    if (!in) {
        error = targetName + ": cannot read the new archive back (" + std::generic_category().message(errno) +
                ")";
        return false;
    }
    SaveFile out(target);
    if (!out.open(error)) {
        std::fclose(in);
        return false;
    }
    out.write(from.prefix.data(), from.prefix.size());
    std::vector<std::uint8_t> buffer(1 << 16);
    bool readOk = true;
    for (;;) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        out.write(buffer.data(), got);
        if (got < buffer.size()) {
            readOk = !std::ferror(in);
            break;
        }
    }
    std::fclose(in);
    if (!readOk) {
        error = targetName + ": cannot read the new archive back";
        return false;
    }
    return out.commit(error);
}

} // namespace brindlemark
