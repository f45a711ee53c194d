#pragma once

// What the StormLib adapter (maparchive.cpp) and the writer (mapwriter.cpp) share: the open archive behind a
// MapArchive and the StormLib glue. Private to the map library; nothing outside map/ includes it.

#include "archive/maparchive.h"
#include "archive/mpqlayout.h"
#include "archive/stormpath.h"

#include <StormLib.h>

#include <cstdint>
#include <filesystem>
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

    // Opens the archive at `written` as any map is opened and checks that it holds exactly `files`.
    [[nodiscard]] static bool checkWritten(const std::filesystem::path& written, const std::vector<storm::WrittenFile>& files,
                             std::string& why);

    const MapArchiveEntry* find(std::string_view name) const {
        const auto it = byKey.find(mpq::nameKey(name));
        return it == byKey.end() ? nullptr : &entries[it->second];
    }

    // The bytes of one file as StormLib unpacks them; on failure the reason alone, and `out` empty.
    [[nodiscard]] bool readEntry(const MapArchiveEntry& entry, std::vector<std::uint8_t>& out, std::string& reason) const;
    // The same, checked against the checksums of "(attributes)"; the message names the map and the file.
    [[nodiscard]] bool read(const MapArchiveEntry& entry, std::vector<std::uint8_t>& out, std::string& error) const;
};

} // namespace brindlemark
