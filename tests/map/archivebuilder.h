#pragma once

// Builds small map archives with StormLib itself, for the map tests and the fuzz seeds, and reads and
// rewrites the raw tables of an archive so that tests can damage them on purpose. Independent of map/: the
// hashing and table encryption here are written from the MPQ format, so that they check the library rather
// than repeat it.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "archive/stormpath.h"

namespace brindlemark::testing::mpq {

using Bytes = std::vector<std::uint8_t>;

struct File {
    std::string name;
    Bytes data;
    std::uint32_t flags = MPQ_FILE_COMPRESS;
    std::uint32_t locale = 0;
    std::uint32_t compression = MPQ_COMPRESSION_ZLIB;
};

inline File textFile(std::string name, std::string_view text, std::uint32_t flags = MPQ_FILE_COMPRESS) {
    return File{std::move(name), Bytes(text.begin(), text.end()), flags, 0, MPQ_COMPRESSION_ZLIB};
}

struct Options {
    bool mapHeader = true;                                     // 512 bytes of "HM3W" map header before the archive
    std::uint32_t listFileFlags = MPQ_FILE_DEFAULT_INTERNAL;   // 0: no (listfile)
    std::uint32_t attributesFlags = MPQ_FILE_DEFAULT_INTERNAL; // 0: no (attributes)
    std::uint32_t attributes = MPQ_ATTRIBUTE_CRC32 | MPQ_ATTRIBUTE_FILETIME | MPQ_ATTRIBUTE_MD5;
    bool signature = false; // a "(signature)" file (of made-up bytes)
    std::uint32_t maxFiles = 32;
    std::uint32_t sectorSize = 0x1000;
};

// A 512-byte Warcraft III map header: "HM3W", a name, flags and a player count, and a pattern in the rest, so
// that a test notices when any byte of it changes.
inline Bytes mapHeader(std::string_view name = "Brindlemark Test Map") {
    Bytes header(512);
    for (std::size_t i = 0; i < header.size(); ++i)
        header[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const char magic[8] = {'H', 'M', '3', 'W', 0, 0, 0, 0};
    std::copy(magic, magic + 8, header.begin());
    std::size_t at = 8;
    for (char c : name)
        header[at++] = static_cast<std::uint8_t>(c);
    header[at++] = 0;
    return header;
}

inline Bytes readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

constexpr const char* kSignatureStandIn = "zz-signature-zz";
inline void renameFile(Bytes& file, std::string_view from, std::string_view to);

// The archive bytes (with the map header first when asked) of `files`, built with StormLib in `scratch`, a
// file path that must not exist yet and is removed again. Throws on any StormLib failure: a fixture that
// cannot be built is a broken test.
inline Bytes build(const std::filesystem::path& scratch, const std::vector<File>& files, const Options& options = {}) {
    std::error_code ec;
    std::filesystem::remove(scratch, ec);
    // StormLib 9.22 closes descriptor 0 when its check whether the file exists fails; an empty file passes
    // it.
    std::ofstream(scratch, std::ios::binary).close();
    SFILE_CREATE_MPQ create{};
    create.cbSize = sizeof create;
    // StormLib 9.40 stores every file of a version 1 archive in sectors; a file stored whole needs version 2,
    // whose header Warcraft III (and the map library) read as version 1 all the same.
    const bool singleUnit =
        std::any_of(files.begin(), files.end(), [](const File& file) { return file.flags & MPQ_FILE_SINGLE_UNIT; });
    create.dwMpqVersion = singleUnit ? MPQ_FORMAT_VERSION_2 : MPQ_FORMAT_VERSION_1;
    // The internal files stored as in a version 1 archive in either case.
    const auto internalFlags = [&](std::uint32_t flags) {
        return singleUnit && flags == MPQ_FILE_DEFAULT_INTERNAL
                   ? std::uint32_t(MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED | MPQ_FILE_FIX_KEY | MPQ_FILE_EXISTS)
                   : flags;
    };
    create.dwFileFlags1 = internalFlags(options.listFileFlags);
    create.dwFileFlags2 = internalFlags(options.attributesFlags);
    create.dwFileFlags3 = 0; // StormLib's own signing crashes in Debian's build (libtomcrypt without math)
    create.dwAttrFlags = options.attributesFlags ? options.attributes : 0;
    create.dwSectorSize = options.sectorSize;
    create.dwMaxFileCount = options.maxFiles;
    HANDLE archive = nullptr;
    if (!SFileCreateArchive2(brindlemark::storm::path(scratch).c_str(), &create, &archive))
        throw std::runtime_error("SFileCreateArchive2 failed: " + std::to_string(GetLastError()));
    for (const File& file : files) {
        HANDLE handle = nullptr;
        if (!SFileCreateFile(archive, file.name.c_str(), 0x01D0000000000000ull + file.data.size(),
                             static_cast<DWORD>(file.data.size()), file.locale, file.flags, &handle))
            throw std::runtime_error("SFileCreateFile failed for " + file.name + ": " + std::to_string(GetLastError()));
        if (!file.data.empty() &&
            !SFileWriteFile(handle, file.data.data(), static_cast<DWORD>(file.data.size()), file.compression))
            throw std::runtime_error("SFileWriteFile failed for " + file.name + ": " + std::to_string(GetLastError()));
        if (!SFileFinishFile(handle))
            throw std::runtime_error("SFileFinishFile failed for " + file.name + ": " + std::to_string(GetLastError()));
    }
    if (options.signature) {
        // The size of a weak signature: 8 bytes, then 64 of RSA signature. StormLib will not add a file of
        // that name, so it goes in under another name that is changed afterwards.
        Bytes signature(72, 0);
        for (std::size_t i = 8; i < signature.size(); ++i)
            signature[i] = static_cast<std::uint8_t>(i * 13);
        HANDLE handle = nullptr;
        if (!SFileCreateFile(archive, kSignatureStandIn, 0, 72, 0, MPQ_FILE_EXISTS, &handle) ||
            !SFileWriteFile(handle, signature.data(), 72, 0) || !SFileFinishFile(handle))
            throw std::runtime_error("cannot add (signature): " + std::to_string(GetLastError()));
    }
    if (!SFileCloseArchive(archive))
        throw std::runtime_error("SFileCloseArchive failed: " + std::to_string(GetLastError()));
    Bytes archiveBytes = readBytes(scratch);
    std::filesystem::remove(scratch, ec);
    if (options.signature)
        renameFile(archiveBytes, kSignatureStandIn, "(signature)");
    Bytes out = options.mapHeader ? mapHeader() : Bytes();
    out.insert(out.end(), archiveBytes.begin(), archiveBytes.end());
    return out;
}

// ---------------------------------------------------------------------------------------------------------------
// The raw archive: header fields and the two encrypted tables.

inline std::uint32_t get32(const Bytes& b, std::size_t at) {
    return std::uint32_t(b.at(at)) | std::uint32_t(b.at(at + 1)) << 8 | std::uint32_t(b.at(at + 2)) << 16 |
           std::uint32_t(b.at(at + 3)) << 24;
}

inline void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

struct Header {
    std::size_t offset = 0;    // of "MPQ\x1A" in the file
    std::size_t hashTable = 0; // file offsets
    std::size_t blockTable = 0;
    std::uint32_t hashEntries = 0;
    std::uint32_t blockEntries = 0;
};

inline Header header(const Bytes& file) {
    for (std::size_t at = 0; at + 32 <= file.size(); at += 512) {
        if (get32(file, at) == 0x1A51504D) {
            Header h;
            h.offset = at;
            h.hashTable = at + get32(file, at + 16);
            h.blockTable = at + get32(file, at + 20);
            h.hashEntries = get32(file, at + 24);
            h.blockEntries = get32(file, at + 28);
            return h;
        }
    }
    throw std::runtime_error("no archive header");
}

inline const std::array<std::uint32_t, 0x500>& cryptTable() {
    static const std::array<std::uint32_t, 0x500> table = [] {
        std::array<std::uint32_t, 0x500> t{};
        std::uint32_t seed = 0x00100001;
        for (std::uint32_t i = 0; i < 0x100; ++i)
            for (std::uint32_t j = 0; j < 5; ++j) {
                seed = (seed * 125 + 3) % 0x2AAAAB;
                const std::uint32_t a = (seed & 0xFFFF) << 0x10;
                seed = (seed * 125 + 3) % 0x2AAAAB;
                t[i + j * 0x100] = a | (seed & 0xFFFF);
            }
        return t;
    }();
    return table;
}

inline std::uint32_t hashString(std::string_view text, std::uint32_t type) {
    std::uint32_t seed1 = 0x7FED7FED, seed2 = 0xEEEEEEEE;
    for (char c : text) {
        std::uint32_t ch = static_cast<std::uint8_t>(c);
        if (ch >= 'a' && ch <= 'z')
            ch -= 0x20;
        seed1 = cryptTable()[(type << 8) + ch] ^ (seed1 + seed2);
        seed2 = ch + seed1 + seed2 + (seed2 << 5) + 3;
    }
    return seed1;
}

constexpr std::uint32_t kHashTableKey = 0xC3AF3770;  // hashString("(hash table)", 3)
constexpr std::uint32_t kBlockTableKey = 0xEC83B3A3; // hashString("(block table)", 3)

// The table of `entries` 16-byte entries at `at`, decrypted, as words.
inline std::vector<std::uint32_t> readTable(const Bytes& file, std::size_t at, std::uint32_t entries,
                                            std::uint32_t key) {
    std::vector<std::uint32_t> words(std::size_t(entries) * 4);
    std::uint32_t seed = 0xEEEEEEEE;
    for (std::size_t i = 0; i < words.size(); ++i) {
        seed += cryptTable()[0x400 + (key & 0xFF)];
        const std::uint32_t plain = get32(file, at + 4 * i) ^ (key + seed);
        key = ((~key << 0x15) + 0x11111111) | (key >> 0x0B);
        seed = plain + seed + (seed << 5) + 3;
        words[i] = plain;
    }
    return words;
}

inline void writeTable(Bytes& file, std::size_t at, const std::vector<std::uint32_t>& words, std::uint32_t key) {
    std::uint32_t seed = 0xEEEEEEEE;
    for (std::size_t i = 0; i < words.size(); ++i) {
        seed += cryptTable()[0x400 + (key & 0xFF)];
        put32(file, at + 4 * i, words[i] ^ (key + seed));
        key = ((~key << 0x15) + 0x11111111) | (key >> 0x0B);
        seed = words[i] + seed + (seed << 5) + 3;
    }
}

inline std::vector<std::uint32_t> hashTable(const Bytes& file) {
    const Header h = header(file);
    return readTable(file, h.hashTable, h.hashEntries, kHashTableKey);
}
inline std::vector<std::uint32_t> blockTable(const Bytes& file) {
    const Header h = header(file);
    return readTable(file, h.blockTable, h.blockEntries, kBlockTableKey);
}
inline void setHashTable(Bytes& file, const std::vector<std::uint32_t>& words) {
    writeTable(file, header(file).hashTable, words, kHashTableKey);
}
inline void setBlockTable(Bytes& file, const std::vector<std::uint32_t>& words) {
    writeTable(file, header(file).blockTable, words, kBlockTableKey);
}

// The index (in entries) of the hash entry of `name`, or -1.
inline long hashEntryOf(const Bytes& file, std::string_view name) {
    const std::vector<std::uint32_t> table = hashTable(file);
    const std::uint32_t a = hashString(name, 1), b = hashString(name, 2);
    for (std::size_t i = 0; i < table.size() / 4; ++i)
        if (table[4 * i] == a && table[4 * i + 1] == b && table[4 * i + 3] < 0xFFFFFFFE)
            return static_cast<long>(i);
    return -1;
}

// Gives the file `from` the name `to` by moving its hash entry; only for files that are not encrypted, whose
// bytes do not depend on their name. The listfile still gives the old name.
inline void renameFile(Bytes& file, std::string_view from, std::string_view to) {
    const long old = hashEntryOf(file, from);
    if (old < 0)
        throw std::runtime_error("no file to rename");
    std::vector<std::uint32_t> table = hashTable(file);
    const std::size_t size = table.size() / 4;
    std::array<std::uint32_t, 4> entry = {hashString(to, 1), hashString(to, 2), table[4 * old + 2], table[4 * old + 3]};
    table[4 * old + 3] = 0xFFFFFFFE; // deleted
    for (std::size_t i = hashString(to, 0) % size, n = 0; n < size; i = (i + 1) % size, ++n) {
        if (table[4 * i + 3] >= 0xFFFFFFFE) {
            std::copy(entry.begin(), entry.end(), table.begin() + 4 * i);
            setHashTable(file, table);
            return;
        }
    }
    throw std::runtime_error("no room to rename");
}

// The number of hash entries that point at a block.
inline std::size_t liveEntries(const Bytes& file) {
    const std::vector<std::uint32_t> table = hashTable(file);
    std::size_t n = 0;
    for (std::size_t i = 0; i < table.size() / 4; ++i)
        n += table[4 * i + 3] < 0xFFFFFFFE ? 1 : 0;
    return n;
}

// What StormLib lists in an archive file: every file with its flags and language, sorted by name.
struct Listed {
    std::string name;
    std::uint32_t flags;
    std::uint32_t locale;
    std::uint32_t size;
    bool operator==(const Listed&) const = default;
};

inline std::vector<Listed> list(const std::filesystem::path& path) {
    HANDLE archive = nullptr;
    if (!SFileOpenArchive(brindlemark::storm::path(path).c_str(), 0, MPQ_OPEN_READ_ONLY, &archive))
        throw std::runtime_error("SFileOpenArchive failed: " + std::to_string(GetLastError()));
    std::vector<Listed> out;
    SFILE_FIND_DATA found{};
    HANDLE search = SFileFindFirstFile(archive, "*", &found, nullptr);
    if (search) {
        do
            out.push_back({found.cFileName, found.dwFileFlags, found.lcLocale, found.dwFileSize});
        while (SFileFindNextFile(search, &found));
        SFileFindClose(search);
    }
    SFileCloseArchive(archive);
    std::sort(out.begin(), out.end(), [](const Listed& a, const Listed& b) { return a.name < b.name; });
    return out;
}

} // namespace brindlemark::testing::mpq
