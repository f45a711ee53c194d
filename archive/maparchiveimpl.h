#pragma once

// What the StormLib adapter (maparchive.cpp) and the writer (mapwriter.cpp) share: the open archive behind a
// MapArchive and the StormLib glue. Private to the map library; nothing outside map/ includes it.

#include "archive/maparchive.h"
#include "archive/mpqlayout.h"
#include "archive/stormpath.h"

#include <StormLib.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brindlemark {

namespace storm {

// The text of a StormLib error code.
std::string reason(DWORD code);
// See maparchive.cpp: StormLib 9.22 closes descriptor 0 when it fails to open a file.
void keepDescriptorZeroTaken();
std::uint64_t contentHash(const std::uint8_t* data, std::size_t size);

// What went into a new archive, to be compared with what can be read back from it.
struct WrittenFile {
    std::string name;
    std::uint32_t locale;
    std::uint32_t flags;
    std::uint32_t size;
    std::uint64_t hash;
};

class EntryNames; // the names found for the hash entries as an archive is opened
// The new contents of a rewritten archive's files, by the files' name keys.
using NewContents = std::unordered_map<std::string, const std::vector<std::uint8_t>*>;

// Removes a file when it goes out of scope.
struct RemoveOnExit {
    std::filesystem::path path;
    ~RemoveOnExit() {
        std::error_code ec;
        if (!path.empty())
            std::filesystem::remove(path, ec);
    }
};

} // namespace storm

// File name -> contents, as writeMapArchive takes them.
using FileContents = std::map<std::string, std::vector<std::uint8_t>>;

struct MapArchiveEntry {
    std::string name;
    std::uint32_t locale = 0;
    std::uint32_t flags = 0;
    std::uint32_t size = 0;
    std::uint64_t fileTime = 0;
    std::uint32_t block = 0;
    std::uint64_t dataOffset = 0; // where its stored bytes start in the map file
};

struct MapArchive::Impl {
    storm::RemoveOnExit copy; // on Windows, the copy of the archive that StormLib reads; removed after closing
    HANDLE handle = nullptr;
    std::filesystem::path path;
    std::vector<std::uint8_t> prefix; // the bytes before the archive header
    std::vector<MapArchiveEntry> entries;
    std::vector<std::string> names;
    std::unordered_map<std::string, std::size_t> byKey;
    std::uint32_t sectorSize = 0;
    std::uint32_t attributeFlags = 0;
    mpq::FileChecksums checksums; // what "(attributes)" holds

    ~Impl() {
        if (handle)
            SFileCloseArchive(handle);
    }

    // The steps of opening that follow the checks of the layout, each false with a message naming the map:
    // StormLib opens the archive, the listfile names every file, StormLib lists the same files, which are
    // then found by name, and the checksums of "(attributes)" are read.
    [[nodiscard]] bool openInStormLib(const std::vector<std::uint8_t>& bytes, const mpq::Layout& layout,
                                      std::string& error);
    [[nodiscard]] bool nameFromListFile(const mpq::Layout& layout, storm::EntryNames& names, std::string& error);
    [[nodiscard]] bool takeStormLibsList(const mpq::Layout& layout, std::vector<std::string>& names,
                                         std::string& error);
    [[nodiscard]] bool indexByName(std::string& error);
    [[nodiscard]] bool readChecksums(std::size_t blockCount, std::string& error);

    // The steps of writing the archive anew (mapwriter.cpp), each false with a message. Checks the names given
    // new contents (`replaced`) or added and gathers the contents by name key.
    [[nodiscard]] bool newContents(const FileContents& replaced, const FileContents& added,
                                   storm::NewContents& contents, std::string& error) const;
    // What StormLib is asked to create: the internal files stored as here, room for every file and `addedFiles`.
    [[nodiscard]] bool creation(std::size_t addedFiles, SFILE_CREATE_MPQ& create, std::string& error) const;
    // Every file of this archive, with its new contents where it has them, then the added files.
    [[nodiscard]] bool writeFiles(HANDLE archive, const storm::NewContents& contents, const FileContents& added,
                                  const std::string& targetName, std::vector<storm::WrittenFile>& written,
                                  std::string& error) const;

    // Opens the archive at `written` as any map is opened and checks that it holds exactly `files`.
    [[nodiscard]] static bool checkWritten(const std::filesystem::path& written,
                                           const std::vector<storm::WrittenFile>& files, std::string& why);

    const MapArchiveEntry* find(std::string_view name) const {
        const auto it = byKey.find(mpq::nameKey(name));
        return it == byKey.end() ? nullptr : &entries[it->second];
    }

    // The bytes of one file as StormLib unpacks them; on failure the reason alone, and `out` empty.
    [[nodiscard]] bool readEntry(const MapArchiveEntry& entry, std::vector<std::uint8_t>& out,
                                 std::string& reason) const;
    // The same, checked against the checksums of "(attributes)"; the message names the map and the file.
    [[nodiscard]] bool read(const MapArchiveEntry& entry, std::vector<std::uint8_t>& out, std::string& error) const;
};

} // namespace brindlemark
