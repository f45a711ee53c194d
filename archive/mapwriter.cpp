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

// Creates the empty archive `file` (a temporary file beside `target`) through StormLib.
bool createArchive(const fs::path& file, SFILE_CREATE_MPQ& create, const std::string& targetName, HANDLE& archive,
                   std::string& error) {
    std::FILE* created = createFileExclusive(file);
    if (!created) {
        error = targetName + ": cannot write the file (" + std::generic_category().message(errno) + ")";
        return false;
    }
    std::fclose(created);
    storm::keepDescriptorZeroTaken();
    if (!SFileCreateArchive2(storm::path(file).c_str(), &create, &archive)) {
        archive = nullptr;
        error = targetName + ": cannot write the file (" + storm::reason(GetLastError()) + ")";
        return false;
    }
    return true;
}

// Adds one file to the archive being written and notes what went in, to be read back.
bool writeFile(HANDLE archive, const std::string& name, std::uint64_t fileTime, std::uint32_t locale, DWORD flags,
               const std::vector<std::uint8_t>& data, const std::string& targetName,
               std::vector<storm::WrittenFile>& written, std::string& error) {
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
}

// The map header `prefix`, then the archive in `archiveFile`, into the target's place.
bool writeBehindPrefix(const std::vector<std::uint8_t>& prefix, const fs::path& archiveFile, const fs::path& target,
                       std::string& error) {
    const std::string targetName = pathText(target);
    std::FILE* in = openFile(archiveFile, "rb");
    if (!in) {
        error = targetName + ": cannot read the new archive back (" + std::generic_category().message(errno) + ")";
        return false;
    }
    SaveFile out(target);
    if (!out.open(error)) {
        std::fclose(in);
        return false;
    }
    out.write(prefix.data(), prefix.size());
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

} // namespace

bool MapArchive::Impl::newContents(const FileContents& replaced, const FileContents& added,
                                   storm::NewContents& contents, std::string& error) const {
    const std::string sourceName = pathText(path);
    for (const auto& [name, bytes] : replaced) {
        if (!find(name)) {
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
        if (!contents.emplace(nameKey(name), &bytes).second) {
            error = sourceName + ": '" + name + "' is given new contents twice (names differing only in case)";
            return false;
        }
    }
    for (const auto& [name, bytes] : added) {
        if (find(name) || isInternalName(name) || nameKey(name) == nameKey(kSignature) || name.empty()) {
            error = sourceName + ": cannot add '" + name + "': the archive has a file of that name already";
            return false;
        }
        if (bytes.size() > kMaxFileSize) {
            error = sourceName + ": cannot add '" + name + "': " + std::to_string(bytes.size()) +
                    " bytes are more than a map file may hold";
            return false;
        }
        if (!contents.emplace(nameKey(name), &bytes).second) {
            error = sourceName + ": '" + name + "' is given contents twice (names differing only in case)";
            return false;
        }
    }
    return true;
}

bool MapArchive::Impl::creation(std::size_t addedFiles, SFILE_CREATE_MPQ& create, std::string& error) const {
    std::uint32_t listFileFlags = MPQ_FILE_DEFAULT_INTERNAL;
    std::uint32_t attributesFlags = MPQ_FILE_DEFAULT_INTERNAL;
    std::size_t fileCount = addedFiles;
    for (const MapArchiveEntry& entry : entries) {
        const std::string key = nameKey(entry.name);
        if (key == nameKey(kListFile))
            listFileFlags = (entry.flags & kKeptFileFlags) | MPQ_FILE_EXISTS;
        else if (key == nameKey(kAttributes))
            attributesFlags = (entry.flags & kKeptFileFlags) | MPQ_FILE_EXISTS;
        else if (key != nameKey(kSignature))
            ++fileCount;
    }
    std::memset(&create, 0, sizeof create);
    create.cbSize = sizeof create;
    create.dwMpqVersion = MPQ_FORMAT_VERSION_1;
    create.dwFileFlags1 = listFileFlags;
    create.dwFileFlags2 = attributesFlags;
    create.dwFileFlags3 = 0; // no (signature)
    create.dwAttrFlags = attributeFlags & (MPQ_ATTRIBUTE_CRC32 | MPQ_ATTRIBUTE_FILETIME | MPQ_ATTRIBUTE_MD5);
    if (create.dwAttrFlags == 0)
        create.dwAttrFlags = MPQ_ATTRIBUTE_CRC32 | MPQ_ATTRIBUTE_FILETIME;
    create.dwSectorSize = sectorSize;
    create.dwMaxFileCount = hashTableEntriesFor(fileCount + 2);
    if (fileCount + 2 > create.dwMaxFileCount) {
        error = pathText(path) + ": the map holds too many files (" + std::to_string(fileCount) + ") to be written";
        return false;
    }
    return true;
}

bool MapArchive::Impl::writeFiles(HANDLE archive, const storm::NewContents& contents, const FileContents& added,
                                  const std::string& targetName, std::vector<storm::WrittenFile>& written,
                                  std::string& error) const {
    std::vector<std::uint8_t> bytes;
    for (const MapArchiveEntry& entry : entries) {
        if (isInternalName(entry.name))
            continue;
        const std::vector<std::uint8_t>* data = &bytes;
        if (const auto it = contents.find(nameKey(entry.name)); it != contents.end())
            data = it->second;
        else if (!read(entry, bytes, error))
            return false;
        if (!writeFile(archive, entry.name, entry.fileTime, entry.locale, entry.flags & kKeptFileFlags, *data,
                       targetName, written, error))
            return false;
    }
    for (const auto& [name, data] : added)
        if (!writeFile(archive, name, 0, 0, MPQ_FILE_COMPRESS, data, targetName, written, error))
            return false;
    return true;
}

bool writeMapArchive(const MapArchive& source, const FileContents& replaced, const fs::path& target, std::string& error,
                     const FileContents& added) {
    const std::string targetName = pathText(target);
    if (!source.impl_) {
        error = targetName + ": cannot write the map: no map archive is open";
        return false;
    }
    const MapArchive::Impl& from = *source.impl_;
    storm::NewContents contents; // which file each new content replaces, by name key
    SFILE_CREATE_MPQ create;
    if (!from.newContents(replaced, added, contents, error) || !from.creation(added.size(), create, error))
        return false;

    // The archive alone, in a temporary file beside the target.
    storm::RemoveOnExit mpqFile{temporaryBeside(target)};
    HANDLE archive = nullptr;
    if (!createArchive(mpqFile.path, create, targetName, archive, error))
        return false;
    std::vector<storm::WrittenFile> written;
    bool ok = from.writeFiles(archive, contents, added, targetName, written, error);
    if (!SFileCloseArchive(archive) && ok) {
        error = targetName + ": cannot write the file (" + storm::reason(GetLastError()) + ")";
        ok = false;
    }
    if (!ok)
        return false;

    // Read back, through the same checks as any map that is opened, before the target is touched.
    std::string why;
    if (!MapArchive::Impl::checkWritten(mpqFile.path, written, why)) {
        error = targetName + ": the new archive does not read back as written, so the file was left as it was (" + why +
                ")";
        return false;
    }
    return writeBehindPrefix(from.prefix, mpqFile.path, target, error);
}

} // namespace brindlemark
