// The StormLib adapter: every call into StormLib that reads an archive lives here; mapwriter.cpp writes.
//
// StormLib (9.22, as Debian ships it) trusts the archive it opens more than a program that opens maps from
// strangers can: a hash table that points past the block table, file data past the end of the file, sector
// offsets or a checksum table that do not fit, a stated unpacked size of gigabytes, or a bzip2 stream that
// does not end can crash it, make it allocate without bound or hang it. So before StormLib reads anything of
// an archive, the layout checker (mpqlayout.cpp) reads the archive header, the hash and block tables and the
// stored layout of every file, and the sector checksums the archive holds, and refuses what does not hold
// together; StormLib then does the unpacking and reading, and what it unpacks is checked against the
// checksums of "(attributes)".
#include "archive/maparchiveimpl.h"

#include "core/fileio.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <span>
#include <system_error>
#include <unordered_set>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace brindlemark {

using mpq::BlockEntry;
using mpq::HashEntry;
using mpq::HashKind;
using mpq::hashName;
using mpq::hex;
using mpq::isInternalName;
using mpq::kAttributes;
using mpq::kKeptFileFlags;
using mpq::kListFile;
using mpq::kSignature;
using mpq::Layout;
using mpq::nameKey;

namespace storm {

std::string reason(DWORD code) {
    switch (code) {
    case ERROR_SUCCESS:
        return "unknown error";
    case ERROR_BAD_FORMAT:
        return "not a valid MPQ archive";
    case ERROR_FILE_CORRUPT:
        return "the data is damaged";
    case ERROR_CHECKSUM_ERROR:
        return "a checksum does not match";
    case ERROR_UNKNOWN_FILE_KEY:
        return "the file cannot be decrypted";
    case ERROR_FILE_INCOMPLETE:
        return "the data is incomplete";
    case ERROR_HANDLE_EOF:
        return "the data ends early";
    case ERROR_AVI_FILE:
        return "the file is a video, not an archive";
    case ERROR_NO_MORE_FILES:
        return "no more files";
    case ERROR_CAN_NOT_COMPLETE:
        return "the operation could not be completed";
    case ERROR_NOT_ENOUGH_MEMORY:
        return "not enough memory";
    case ERROR_DISK_FULL:
        return "the disk is full";
    default:
        break;
    }
#ifdef _WIN32
    return std::system_category().message(static_cast<int>(code));
#else
    return std::generic_category().message(static_cast<int>(code));
#endif
}

// StormLib 9.22 on POSIX closes descriptor 0 whenever it fails to open a file (its stream starts with a
// handle of 0 and is closed as if it had been opened). Were an archive open on descriptor 0 - as it is when
// standard input is closed - it would be closed under StormLib, and the next file opened would take its place
// and be read in its stead. So before StormLib opens or creates anything, descriptor 0 is made sure to be
// taken (by /dev/null when it was free), and files that StormLib creates are created here first, so that its
// check whether they exist does not fail.
void keepDescriptorZeroTaken() {
#ifndef _WIN32
    if (fcntl(0, F_GETFD) == -1 && errno == EBADF) {
        const int fd = ::open("/dev/null", O_RDONLY);
        if (fd > 0)
            ::close(fd); // another thread took descriptor 0 meanwhile
    }
#endif
}

std::uint64_t contentHash(const std::uint8_t* data, std::size_t size) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::size_t i = 0; i < size; ++i) {
        h ^= data[i];
        h *= 0x100000001b3ull;
    }
    return h;
}
} // namespace storm

namespace {

// StormLib chooses among a file's languages through a process-wide setting; opening a file sets it for the
// moment of the call, under this lock.
std::mutex& localeLock() {
    static std::mutex lock;
    return lock;
}

HANDLE openStormFile(HANDLE archive, const std::string& name, std::uint32_t locale) {
    std::lock_guard<std::mutex> guard(localeLock());
    const LCID previous = SFileGetLocale();
    SFileSetLocale(static_cast<LCID>(locale));
    HANDLE file = nullptr;
    if (!SFileOpenFileEx(archive, name.c_str(), SFILE_OPEN_FROM_MPQ, &file))
        file = nullptr;
    const DWORD code = GetLastError();
    SFileSetLocale(previous);
    SetLastError(code);
    return file;
}

} // namespace

bool MapArchive::Impl::readEntry(const MapArchiveEntry& entry, std::vector<std::uint8_t>& out,
                                 std::string& reason) const {
    out.clear();
    HANDLE file = openStormFile(handle, entry.name, entry.locale);
    if (!file) {
        reason = storm::reason(GetLastError());
        return false;
    }
    DWORD high = 0;
    const DWORD size = SFileGetFileSize(file, &high);
    if (size == SFILE_INVALID_SIZE || high != 0 || size != entry.size) {
        SFileCloseFile(file);
        reason = "its size is not the one the archive gives";
        return false;
    }
    try {
        out.resize(size);
    } catch (const std::bad_alloc&) {
        SFileCloseFile(file);
        reason = "not enough memory for " + std::to_string(size) + " bytes";
        return false;
    }
    DWORD got = 0;
    const bool ok = size == 0 || SFileReadFile(file, out.data(), size, &got, nullptr);
    const DWORD code = GetLastError();
    SFileCloseFile(file);
    if (!ok || (size != 0 && got != size)) {
        out.clear();
        out.shrink_to_fit();
        reason = ok ? std::string("the data ends early") : storm::reason(code);
        return false;
    }
    return true;
}

bool MapArchive::Impl::read(const MapArchiveEntry& entry, std::vector<std::uint8_t>& out, std::string& error) const {
    std::string reason;
    if (!readEntry(entry, out, reason)) {
        error = pathText(path) + ": cannot read '" + entry.name + "' from the archive (" + reason + ")";
        return false;
    }
    if (!mpq::matchesAttributes(checksums, entry.block, out, reason)) {
        out.clear();
        error = pathText(path) + ": damaged archive: '" + entry.name + "' (block " + std::to_string(entry.block) +
                ", data at byte " + std::to_string(entry.dataOffset) + "): " + reason;
        return false;
    }
    return true;
}

MapArchive::MapArchive() = default;
MapArchive::~MapArchive() = default;
MapArchive::MapArchive(MapArchive&& other) noexcept = default;
MapArchive& MapArchive::operator=(MapArchive&& other) noexcept = default;

namespace storm {

// The names of the archive's hash entries as they are found. An entry's stored layout is checked as it gets
// its name, which an encrypted file's key comes from.
class EntryNames {
public:
    EntryNames(std::span<const std::uint8_t> bytes, const Layout& layout)
        : bytes_(bytes), layout_(layout), names_(layout.hashes.size()) {
        for (std::size_t i = 0; i < layout.hashes.size(); ++i)
            if (layout.hashes[i].block < layout.blocks.size())
                live_.emplace(key(layout.hashes[i].nameA, layout.hashes[i].nameB), i);
    }

    // Names every unnamed entry of a file that `candidate` hashes to. False with the reason when the stored
    // layout of one does not hold.
    [[nodiscard]] bool name(std::string_view candidate, std::string& why) {
        const auto [first, last] =
            live_.equal_range(key(hashName(candidate, HashKind::NameA), hashName(candidate, HashKind::NameB)));
        for (auto it = first; it != last; ++it) {
            const std::size_t i = it->second;
            if (!names_[i].empty())
                continue;
            if (!mpq::checkStoredFile(bytes_, layout_, layout_.hashes[i].block, candidate, why))
                return false;
            names_[i] = std::string(candidate);
            ++named_;
        }
        return true;
    }

    std::size_t named() const { return named_; }
    // By hash entry; empty while unnamed.
    std::vector<std::string>& byEntry() { return names_; }

private:
    static std::uint64_t key(std::uint32_t nameA, std::uint32_t nameB) { return std::uint64_t(nameA) << 32 | nameB; }

    std::span<const std::uint8_t> bytes_;
    const Layout& layout_;
    std::vector<std::string> names_;
    std::unordered_multimap<std::uint64_t, std::size_t> live_; // the two name hashes -> hash entry
    std::size_t named_ = 0;
};

} // namespace storm

namespace {

// The names a listfile gives: separated by line breaks (or semicolons). Every reading is offered, as only
// names that hash to a file count.
std::unordered_set<std::string> listedNames(const std::vector<std::uint8_t>& list) {
    const std::string text(list.begin(), list.end());
    std::unordered_set<std::string> candidates;
    std::size_t begin = 0;
    for (std::size_t at = 0; at <= text.size(); ++at) {
        if (at < text.size() && text[at] != '\r' && text[at] != '\n' && text[at] != '\0')
            continue;
        const std::string line = text.substr(begin, at - begin);
        begin = at + 1;
        std::size_t piece = 0;
        for (std::size_t i = 0; i <= line.size(); ++i) {
            if (i < line.size() && line[i] != ';')
                continue;
            candidates.insert(line.substr(piece, i - piece));
            piece = i + 1;
        }
        candidates.insert(line);
    }
    candidates.erase(std::string());
    return candidates;
}

} // namespace

bool MapArchive::open(const fs::path& path, std::string& error) {
    const std::string name = pathText(path);
    auto fresh = std::make_unique<Impl>();
    fresh->path = path;

    // First the layout, read here from the file's bytes.
    std::vector<std::uint8_t> bytes;
    Layout layout;
    std::string why;
    if (!readFile(path, bytes, why)) {
        error = why;
        return false;
    }
    if (!mpq::readLayout(bytes, layout, why)) {
        error = name + ": " + why;
        return false;
    }
    fresh->prefix.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(layout.headerOffset));
    fresh->sectorSize = layout.sectorSize;

    // The files StormLib reads as it opens the archive are checked before it does.
    storm::EntryNames names(bytes, layout);
    for (const std::string_view internal : {kListFile, kAttributes, kSignature}) {
        if (!names.name(internal, why)) {
            error = name + ": " + why;
            return false;
        }
    }
    if (!fresh->openInStormLib(bytes, layout, error) || !fresh->nameFromListFile(layout, names, error) ||
        !fresh->takeStormLibsList(layout, names.byEntry(), error) || !fresh->indexByName(error) ||
        !fresh->readChecksums(layout.blocks.size(), error))
        return false;
    impl_ = std::move(fresh);
    return true;
}

bool MapArchive::Impl::openInStormLib(const std::vector<std::uint8_t>& bytes, const Layout& layout,
                                      std::string& error) {
    const std::string name = pathText(path);
    // Forcing version 1 makes StormLib read the header as Warcraft III does and as it was checked, and keeps
    // it from looking for stream bitmaps at the end of the file.
    const DWORD flags = MPQ_OPEN_READ_ONLY | MPQ_OPEN_FORCE_MPQ_V1;
    storm::keepDescriptorZeroTaken();
    fs::path stormFile = path;
#ifdef _WIN32
    // StormLib keeps the archive open while it is read, and Windows replaces no file that is open (StormLib
    // does not share it for deletion): a command could not write a map over its own file. So StormLib reads a
    // copy of the bytes checked above, in the temporary folder, removed when the archive is closed - as on
    // POSIX, where the open file stays readable when it is replaced.
    {
        std::error_code ec;
        // With the map's extension: StormLib takes a ".w3x" or ".w3m" for a map by its name too.
        fs::path copyPath = temporaryBeside(fs::temp_directory_path(ec) / "brindlemark-map");
        copyPath += path.extension();
        std::FILE* file = ec ? nullptr : createFileExclusive(copyPath);
        bool written = false;
        if (file) {
            copy.path = copyPath;
            written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
            written = std::fclose(file) == 0 && written;
        }
        if (!written) {
            error = name + ": cannot make a working copy of the archive in the temporary folder (" +
                    (ec ? ec.message() : std::generic_category().message(errno)) + ")";
            return false;
        }
        stormFile = copy.path;
    }
#else
    (void)bytes;
#endif
    if (!SFileOpenArchive(storm::path(stormFile).c_str(), 0, flags, &handle)) {
        handle = nullptr;
        error = name + ": cannot open the archive (" + storm::reason(GetLastError()) + ")";
        return false;
    }
    ULONGLONG headerOffset = 0;
    if (!SFileGetFileInfo(handle, SFileMpqHeaderOffset, &headerOffset, sizeof headerOffset, nullptr) ||
        headerOffset != layout.headerOffset) {
        error = name + ": damaged or protected archive: the archive header StormLib reads is not the first one";
        return false;
    }
    DWORD archiveFlags = 0;
    if (!SFileGetFileInfo(handle, SFileMpqFlags, &archiveFlags, sizeof archiveFlags, nullptr) ||
        ((archiveFlags & MPQ_FLAG_WAR3_MAP) != 0) != layout.warcraftMap) {
        error = name + ": damaged or protected archive: StormLib does not take it for the kind of archive its map "
                       "header says";
        return false;
    }
    attributeFlags = SFileGetAttributes(handle);
    if (attributeFlags == SFILE_INVALID_ATTRIBUTES)
        attributeFlags = 0;
    return true;
}

// The names of the other files come from the listfile. Every file must have one: StormLib would look into the
// data of a file without a name to make one up, and such a file could not be carried over anyway.
bool MapArchive::Impl::nameFromListFile(const Layout& layout, storm::EntryNames& names, std::string& error) {
    const std::string name = pathText(path);
    const std::vector<std::string>& byEntry = names.byEntry();
    const auto listFile = std::find(byEntry.begin(), byEntry.end(), std::string(kListFile));
    if (listFile == byEntry.end()) {
        error = name + ": protected or damaged map: the archive has no (listfile), so the names of its files are "
                       "unknown and it cannot be rewritten";
        return false;
    }
    const HashEntry& hash = layout.hashes[static_cast<std::size_t>(listFile - byEntry.begin())];
    MapArchiveEntry entry;
    entry.name = std::string(kListFile);
    entry.locale = hash.locale & 0xFFFF;
    entry.size = layout.blocks[hash.block].size;
    std::vector<std::uint8_t> list;
    std::string why;
    if (!readEntry(entry, list, why)) {
        error = name + ": protected or damaged map: its (listfile) cannot be read (" + why +
                "), so the names of its files are unknown and it cannot be rewritten";
        return false;
    }
    for (const std::string& candidate : listedNames(list)) {
        if (names.named() == layout.liveFiles)
            break;
        if (!names.name(candidate, why)) {
            error = name + ": " + why;
            return false;
        }
    }
    if (names.named() < layout.liveFiles) {
        error = name + ": protected or damaged map: " + std::to_string(layout.liveFiles - names.named()) + " of its " +
                std::to_string(layout.liveFiles) +
                " files are not named in its (listfile), so they could not be carried over and the map cannot be "
                "rewritten";
        return false;
    }
    return true;
}

// StormLib's list of the files must be the one found here, name for name.
bool MapArchive::Impl::takeStormLibsList(const Layout& layout, std::vector<std::string>& names, std::string& error) {
    std::size_t agreed = 0;
    SFILE_FIND_DATA found;
    std::memset(&found, 0, sizeof found);
    HANDLE search = SFileFindFirstFile(handle, "*", &found, nullptr);
    if (search) {
        do {
            const std::string fileName(found.cFileName, strnlen(found.cFileName, sizeof found.cFileName));
            const std::uint32_t index = found.dwHashIndex;
            if (index >= names.size() || names[index].empty() || nameKey(names[index]) != nameKey(fileName) ||
                (layout.hashes[index].locale & 0xFFFF) != (found.lcLocale & 0xFFFF))
                continue;
            const HashEntry& hash = layout.hashes[index];
            const BlockEntry& block = layout.blocks[hash.block];
            MapArchiveEntry entry;
            entry.name = fileName;
            entry.locale = hash.locale & 0xFFFF;
            entry.flags = block.flags;
            entry.size = block.size;
            entry.fileTime = (std::uint64_t(found.dwFileTimeHi) << 32) | found.dwFileTimeLo;
            entry.block = hash.block;
            entry.dataOffset = layout.headerOffset + block.offset;
            entries.push_back(std::move(entry));
            names[index].clear(); // reported once
            ++agreed;
        } while (SFileFindNextFile(search, &found));
        SFileFindClose(search);
    }
    if (agreed != layout.liveFiles) {
        error = pathText(path) + ": damaged or protected archive: StormLib lists " + std::to_string(agreed) +
                " of its " + std::to_string(layout.liveFiles) + " files by the names its (listfile) gives";
        return false;
    }
    return true;
}

bool MapArchive::Impl::indexByName(std::string& error) {
    std::sort(entries.begin(), entries.end(),
              [](const MapArchiveEntry& a, const MapArchiveEntry& b) { return a.block < b.block; });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!byKey.emplace(nameKey(entries[i].name), i).second) {
            error = pathText(path) + ": the archive holds '" + entries[i].name +
                    "' more than once (in several languages); such a map is not supported";
            return false;
        }
        names.push_back(entries[i].name);
    }
    return true;
}

// The checksums of "(attributes)", which every file read from now on must match.
bool MapArchive::Impl::readChecksums(std::size_t blockCount, std::string& error) {
    const MapArchiveEntry* attributes = find(kAttributes);
    if (!attributes)
        return true;
    std::vector<std::uint8_t> table;
    std::string why;
    if (!readEntry(*attributes, table, why)) {
        error = pathText(path) + ": damaged archive: its (attributes) cannot be read (" + why + ")";
        return false;
    }
    mpq::readAttributes(table, blockCount, checksums);
    return true;
}

bool MapArchive::Impl::checkWritten(const fs::path& written, const std::vector<storm::WrittenFile>& files,
                                    std::string& why) {
    MapArchive check;
    if (!check.open(written, why))
        return false;
    const Impl& back = *check.impl_;
    std::size_t count = 0;
    std::vector<std::uint8_t> bytes;
    for (const MapArchiveEntry& entry : back.entries) {
        if (isInternalName(entry.name))
            continue;
        ++count;
        const auto it =
            std::find_if(files.begin(), files.end(), [&](const storm::WrittenFile& f) { return f.name == entry.name; });
        if (it == files.end()) {
            why = "the new archive holds '" + entry.name + "', which was not written";
            return false;
        }
        if ((entry.flags & kKeptFileFlags) != it->flags || entry.locale != it->locale) {
            why = "'" + entry.name + "' was stored with flags " + hex(entry.flags) + " and language " +
                  std::to_string(entry.locale) + " instead of " + hex(it->flags) + " and " + std::to_string(it->locale);
            return false;
        }
        if (!back.read(entry, bytes, why))
            return false;
        if (bytes.size() != it->size || storm::contentHash(bytes.data(), bytes.size()) != it->hash) {
            why = "'" + entry.name + "' reads back different from what was written";
            return false;
        }
    }
    if (count != files.size()) {
        why = "the new archive holds " + std::to_string(count) + " files instead of " + std::to_string(files.size());
        return false;
    }
    return true;
}

void MapArchive::close() {
    impl_.reset();
}

bool MapArchive::isOpen() const {
    return impl_ != nullptr;
}

const fs::path& MapArchive::path() const {
    static const fs::path none;
    return impl_ ? impl_->path : none;
}

const std::vector<std::string>& MapArchive::fileNames() const {
    static const std::vector<std::string> none;
    return impl_ ? impl_->names : none;
}

bool MapArchive::contains(std::string_view name) const {
    return impl_ && impl_->find(name);
}

bool MapArchive::read(std::string_view name, std::vector<std::uint8_t>& out, std::string& error) const {
    out.clear();
    if (!impl_) {
        error = "no map archive is open";
        return false;
    }
    const MapArchiveEntry* entry = impl_->find(name);
    if (!entry) {
        error = pathText(impl_->path) + ": the archive has no file named '" + std::string(name) + "'";
        return false;
    }
    return impl_->read(*entry, out, error);
}

} // namespace brindlemark
