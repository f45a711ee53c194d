// Every call into StormLib lives in this file.
//
// StormLib (9.22, as Debian ships it) trusts the archive it opens more than a program that opens maps from
// strangers can: a hash table that points past the block table, file data past the end of the file, sector
// offsets or a checksum table that do not fit, a stated unpacked size of gigabytes, or a bzip2 stream that
// does not end can crash it, make it allocate without bound or hang it. So before StormLib reads anything of
// an archive, this file reads the archive header, the hash and block tables and the stored layout of every
// file itself and refuses what does not hold together; StormLib then does the unpacking, reading and writing.
#include "map/maparchive.h"

#include "core/fileio.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <StormLib.h>

#ifdef BRINDLEMARK_HAVE_BZIP2
#include <bzlib.h>
#endif

namespace fs = std::filesystem;

namespace brindlemark {

namespace {

// ---------------------------------------------------------------------------------------------------------------
// Limits and constants of the archive format

constexpr std::uint32_t kMapSignature = 0x57334D48;         // "HM3W"
constexpr std::uint32_t kMpqSignature = 0x1A51504D;         // "MPQ\x1A"
constexpr std::uint32_t kMpqUserDataSignature = 0x1B51504D; // "MPQ\x1B"
constexpr std::uint32_t kHeaderSize = 32;                   // the header of a version 1 archive
constexpr std::uint64_t kHeaderAlignment = 512;             // where Warcraft III and StormLib look for it
constexpr std::uint64_t kHeaderSearchLimit = 0x08000000;    // StormLib searches the first 128 MiB
constexpr std::uint32_t kMaxTableEntries = 0x80000;         // StormLib's largest hash table
constexpr std::uint32_t kMinSectorShift = 1;  // StormLib 9.22 reads no archive of 512-byte sectors
constexpr std::uint32_t kMaxSectorShift = 15; // sectors of 512 B << 15 = 16 MiB at most
constexpr std::uint32_t kHashFree = 0xFFFFFFFF;
constexpr std::uint32_t kHashDeleted = 0xFFFFFFFE;
// A file larger than this after unpacking is taken for damage; no map holds one.
constexpr std::uint64_t kMaxFileSize = 512u * 1024 * 1024;
// How much larger than its packed bytes a file may claim to be. A file in sectors cannot reach this with any
// method, as every sector is packed on its own; a larger claim is damage, and allocating for it would be the
// damage's gain.
constexpr std::uint64_t kMaxUnpackRatio = 2048;

constexpr std::uint32_t kKeptFileFlags = MPQ_FILE_IMPLODE | MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED |
                                         MPQ_FILE_FIX_KEY | MPQ_FILE_SINGLE_UNIT | MPQ_FILE_SECTOR_CRC;
constexpr std::uint32_t kKnownFileFlags = kKeptFileFlags | MPQ_FILE_EXISTS;

constexpr std::string_view kListFile = "(listfile)";
constexpr std::string_view kAttributes = "(attributes)";
constexpr std::string_view kSignature = "(signature)";

// ---------------------------------------------------------------------------------------------------------------
// MPQ hashing and table decryption, as the format defines them

const std::array<std::uint32_t, 0x500>& cryptTable() {
    static const std::array<std::uint32_t, 0x500> table = [] {
        std::array<std::uint32_t, 0x500> t{};
        std::uint32_t seed = 0x00100001;
        for (std::uint32_t i = 0; i < 0x100; ++i) {
            for (std::uint32_t j = 0, index = i; j < 5; ++j, index += 0x100) {
                seed = (seed * 125 + 3) % 0x2AAAAB;
                const std::uint32_t high = (seed & 0xFFFF) << 16;
                seed = (seed * 125 + 3) % 0x2AAAAB;
                t[index] = high | (seed & 0xFFFF);
            }
        }
        return t;
    }();
    return table;
}

enum class HashKind : std::uint32_t { TableOffset = 0, NameA = 1, NameB = 2, FileKey = 3 };

std::uint8_t asciiUpper(char c) {
    const auto u = static_cast<std::uint8_t>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<std::uint8_t>(u - 'a' + 'A') : u;
}

std::uint32_t hashName(std::string_view name, HashKind kind) {
    const auto& table = cryptTable();
    std::uint32_t seed1 = 0x7FED7FED;
    std::uint32_t seed2 = 0xEEEEEEEE;
    const std::uint32_t base = static_cast<std::uint32_t>(kind) << 8;
    for (const char c : name) {
        const std::uint32_t ch = asciiUpper(c);
        seed1 = table[base + ch] ^ (seed1 + seed2);
        seed2 = ch + seed1 + seed2 + (seed2 << 5) + 3;
    }
    return seed1;
}

void decryptWords(std::vector<std::uint32_t>& words, std::uint32_t key) {
    const auto& table = cryptTable();
    std::uint32_t seed = 0xEEEEEEEE;
    for (std::uint32_t& word : words) {
        seed += table[0x400 + (key & 0xFF)];
        const std::uint32_t plain = word ^ (key + seed);
        key = ((~key << 21) + 0x11111111) | (key >> 11);
        seed = plain + seed + (seed << 5) + 3;
        word = plain;
    }
}

// The key under which a name is looked up: names are compared without regard to ASCII case.
std::string nameKey(std::string_view name) {
    std::string key(name);
    for (char& c : key)
        c = static_cast<char>(asciiUpper(c));
    return key;
}

bool isInternalName(std::string_view name) {
    const std::string key = nameKey(name);
    return key == nameKey(kListFile) || key == nameKey(kAttributes) || key == nameKey(kSignature);
}

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// ---------------------------------------------------------------------------------------------------------------
// Reading the raw file

struct RawFile {
    std::FILE* file = nullptr;
    std::uint64_t size = 0;
    ~RawFile() {
        if (file)
            std::fclose(file);
    }
    // Reads exactly `count` bytes at `offset`; false when they are not all there.
    bool readAt(std::uint64_t offset, void* out, std::size_t count) {
        if (offset > size || count > size - offset)
            return false;
#ifdef _WIN32
        if (_fseeki64(file, static_cast<long long>(offset), SEEK_SET) != 0)
            return false;
#else
        if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0)
            return false;
#endif
        return std::fread(out, 1, count, file) == count;
    }
};

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// ---------------------------------------------------------------------------------------------------------------
// The archive's layout as read here, before StormLib is trusted with it

struct HashEntry {
    std::uint32_t nameA;
    std::uint32_t nameB;
    std::uint32_t locale; // language in the low 16 bits, platform above
    std::uint32_t block;
};

struct BlockEntry {
    std::uint32_t offset; // relative to the archive header
    std::uint32_t packedSize;
    std::uint32_t size;
    std::uint32_t flags;
};

struct Layout {
    bool warcraftMap = false; // StormLib then reads flags as Warcraft III does
    std::uint64_t headerOffset = 0;
    std::uint32_t sectorSize = 0;
    std::vector<HashEntry> hashes;
    std::vector<BlockEntry> blocks;
    std::size_t liveFiles = 0; // hash entries that point at a file
};

bool readTable(RawFile& raw, const Layout& layout, std::uint32_t position, std::uint32_t entries,
               std::uint32_t key, const char* what, std::vector<std::uint32_t>& words, std::string& why) {
    const std::uint64_t start = layout.headerOffset + position;
    const std::uint64_t bytes = std::uint64_t(entries) * 16;
    if (start > raw.size || bytes > raw.size - start) {
        why = std::string("damaged archive: the ") + what + " (" + std::to_string(entries) +
              " entries at byte " + std::to_string(start) + ") runs past the end of the file, which has " +
              std::to_string(raw.size) + " bytes (cut short?)";
        return false;
    }
    std::vector<std::uint8_t> bytesRead(static_cast<std::size_t>(bytes));
    if (!raw.readAt(start, bytesRead.data(), bytesRead.size())) {
        why = std::string("cannot read the ") + what;
        return false;
    }
    words.resize(bytesRead.size() / 4);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = le32(bytesRead.data() + 4 * i);
    decryptWords(words, key);
    return true;
}

// Finds the archive header as StormLib and Warcraft III do (at a multiple of 512 bytes) and checks the tables
// and every file's place against the file's size. False with the reason, without the file name, when any of
// it does not hold.
bool readLayout(RawFile& raw, Layout& layout, std::string& why) {
    if (raw.size == 0) {
        why = "the file is empty; it is not a map archive";
        return false;
    }
    // A Warcraft III map to StormLib 9.22 starts with "HM3W" and four zero bytes. In one, StormLib and
    // Warcraft III ignore the flag for files stored as a single unit and read them in sectors.
    if (raw.size > 16) {
        std::uint8_t start[8];
        if (!raw.readAt(0, start, sizeof start)) {
            why = "cannot read the file";
            return false;
        }
        layout.warcraftMap = le32(start) == kMapSignature && le32(start + 4) == 0;
    }

    // The header search.
    bool found = false;
    std::uint8_t header[kHeaderSize];
    for (std::uint64_t at = 0; at < raw.size && at < kHeaderSearchLimit; at += kHeaderAlignment) {
        std::uint8_t id[4];
        if (raw.size - at < 4)
            break;
        if (!raw.readAt(at, id, 4)) {
            why = "cannot read the file";
            return false;
        }
        const std::uint32_t signature = le32(id);
        if (signature == kMpqUserDataSignature) {
            why = "not a Warcraft III map: the archive has an MPQ user data block (byte " +
                  std::to_string(at) + "), which maps do not use";
            return false;
        }
        if (signature != kMpqSignature)
            continue;
        if (!raw.readAt(at, header, kHeaderSize)) {
            why = "damaged archive: the archive header at byte " + std::to_string(at) + " is cut short";
            return false;
        }
        layout.headerOffset = at;
        found = true;
        break;
    }
    if (!found) {
        why = "not a map archive: no MPQ archive header found";
        return false;
    }
    const std::uint32_t headerSize = le32(header + 4);
    const std::uint32_t sectorShift = std::uint32_t(header[14]) | std::uint32_t(header[15]) << 8;
    const std::uint32_t hashPosition = le32(header + 16);
    const std::uint32_t blockPosition = le32(header + 20);
    const std::uint32_t hashCount = le32(header + 24);
    const std::uint32_t blockCount = le32(header + 28);
    const std::string where = " (archive header at byte " + std::to_string(layout.headerOffset) + ")";
    if (headerSize < kHeaderSize) {
        why = "damaged or protected archive: the archive header gives its size as " +
              std::to_string(headerSize) + " bytes" + where;
        return false;
    }
    if (sectorShift < kMinSectorShift || sectorShift > kMaxSectorShift) {
        why = "damaged or protected archive: the sector size exponent " + std::to_string(sectorShift) +
              " is out of range" + where;
        return false;
    }
    layout.sectorSize = 512u << sectorShift;
    if (hashCount == 0 || hashCount > kMaxTableEntries || (hashCount & (hashCount - 1)) != 0) {
        why = "damaged or protected archive: the hash table size " + std::to_string(hashCount) +
              " is not a power of two from 1 to " + std::to_string(kMaxTableEntries) + where;
        return false;
    }
    if (blockCount > kMaxTableEntries) {
        why = "damaged or protected archive: the block table has " + std::to_string(blockCount) +
              " entries, more than " + std::to_string(kMaxTableEntries) + where;
        return false;
    }

    std::vector<std::uint32_t> words;
    if (!readTable(raw, layout, hashPosition, hashCount, MPQ_KEY_HASH_TABLE, "hash table", words, why))
        return false;
    layout.hashes.resize(hashCount);
    for (std::size_t i = 0; i < hashCount; ++i)
        layout.hashes[i] = {words[4 * i], words[4 * i + 1], words[4 * i + 2], words[4 * i + 3]};
    if (!readTable(raw, layout, blockPosition, blockCount, MPQ_KEY_BLOCK_TABLE, "block table", words, why))
        return false;
    layout.blocks.resize(blockCount);
    for (std::size_t i = 0; i < blockCount; ++i)
        layout.blocks[i] = {words[4 * i], words[4 * i + 1], words[4 * i + 2], words[4 * i + 3]};

    const std::uint64_t archiveBytes = raw.size - layout.headerOffset;
    std::vector<bool> used(blockCount, false);
    layout.liveFiles = 0;
    for (std::size_t i = 0; i < hashCount; ++i) {
        const std::uint32_t b = layout.hashes[i].block;
        if (b == kHashFree || b == kHashDeleted)
            continue;
        const std::string entry = "hash entry " + std::to_string(i) + " points at block " + std::to_string(b);
        if (b >= blockCount) {
            why = "damaged or protected archive: " + entry + ", but the block table has " +
                  std::to_string(blockCount) + " entries";
            return false;
        }
        if (used[b]) {
            why = "damaged or protected archive: " + entry + ", which another hash entry uses too";
            return false;
        }
        used[b] = true;
        ++layout.liveFiles;
        BlockEntry& block = layout.blocks[b];
        if (layout.warcraftMap)
            block.flags &= ~static_cast<std::uint32_t>(MPQ_FILE_SINGLE_UNIT);
        if (!(block.flags & MPQ_FILE_EXISTS)) {
            why = "damaged or protected archive: " + entry + ", which holds no file";
            return false;
        }
        if (block.flags & ~kKnownFileFlags) {
            why = "damaged or protected archive: block " + std::to_string(b) + " has flags " +
                  hex(block.flags) + ", which Warcraft III maps do not use";
            return false;
        }
        if ((block.flags & MPQ_FILE_IMPLODE) && (block.flags & MPQ_FILE_COMPRESS)) {
            why = "damaged or protected archive: block " + std::to_string(b) +
                  " is marked both imploded and compressed";
            return false;
        }
        if ((block.flags & MPQ_FILE_FIX_KEY) && !(block.flags & MPQ_FILE_ENCRYPTED)) {
            why = "damaged or protected archive: block " + std::to_string(b) +
                  " has a position-dependent key but is not encrypted";
            return false;
        }
        if (block.offset > archiveBytes || block.packedSize > archiveBytes - block.offset) {
            why = "damaged archive: the data of block " + std::to_string(b) + " (" +
                  std::to_string(block.packedSize) + " bytes at byte " +
                  std::to_string(layout.headerOffset + block.offset) +
                  ") runs past the end of the file (cut short?)";
            return false;
        }
        const bool packed = (block.flags & (MPQ_FILE_IMPLODE | MPQ_FILE_COMPRESS)) != 0;
        if (!packed && block.size > block.packedSize) {
            why = "damaged archive: block " + std::to_string(b) + " holds " +
                  std::to_string(block.packedSize) + " bytes of a stored file of " +
                  std::to_string(block.size) + " bytes";
            return false;
        }
        if (packed && (block.size > kMaxFileSize ||
                       block.size > std::max<std::uint64_t>(block.packedSize, 1) * kMaxUnpackRatio)) {
            why = "damaged or protected archive: block " + std::to_string(b) + " claims " +
                  std::to_string(block.size) + " bytes unpacked from " + std::to_string(block.packedSize) +
                  " packed bytes";
            return false;
        }
        if (packed && !(block.flags & MPQ_FILE_SINGLE_UNIT) && block.size > 0) {
            // A file in sectors starts with the offsets of its sectors (one more than there are sectors, and
            // one more again with sector checksums).
            const std::uint64_t sectors =
                (std::uint64_t(block.size) + layout.sectorSize - 1) / layout.sectorSize;
            const std::uint64_t tableBytes =
                (sectors + 1 + ((block.flags & MPQ_FILE_SECTOR_CRC) ? 1 : 0)) * 4;
            if (tableBytes > block.packedSize) {
                why = "damaged archive: block " + std::to_string(b) + " (" +
                      std::to_string(block.packedSize) + " bytes) is too short for the sector offsets of " +
                      std::to_string(block.size) + " bytes";
                return false;
            }
        }
    }
    return true;
}

// The compression methods a packed piece may name in its first byte: Huffman, zlib, PKWARE DCL, bzip2 and the
// two ADPCM methods for sound, as Warcraft III reads them. LZMA (0x12) and sparse (0x20) are later games'
// own.
constexpr std::uint8_t kKnownMethods = 0x01 | 0x02 | 0x08 | 0x10 | 0x40 | 0x80;
constexpr std::uint8_t kMethodBzip2 = 0x10;
constexpr std::uint8_t kMethodLzma = 0x12;

// StormLib 9.22 runs bzip2 until the stream ends, and never ends when the stream is cut short or unpacks to
// more than the piece should: then it hangs. So a bzip2 piece is unpacked here first, with the same bound.
bool bzip2Ends(const std::vector<std::uint8_t>& packed, std::uint32_t unpacked) {
#ifdef BRINDLEMARK_HAVE_BZIP2
    std::vector<char> out(std::max<std::uint32_t>(unpacked, 1));
    bz_stream stream;
    std::memset(&stream, 0, sizeof stream);
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK)
        return false;
    std::vector<char> in(packed.begin() + 1, packed.end()); // after the method byte
    stream.next_in = in.data();
    stream.avail_in = static_cast<unsigned>(in.size());
    stream.next_out = out.data();
    stream.avail_out = unpacked;
    bool ended = false;
    for (int idle = 0; idle < 4;) {
        const unsigned inBefore = stream.avail_in;
        const unsigned outBefore = stream.avail_out;
        const int result = BZ2_bzDecompress(&stream);
        if (result == BZ_STREAM_END) {
            ended = true;
            break;
        }
        if (result != BZ_OK)
            break;
        idle = (stream.avail_in == inBefore && stream.avail_out == outBefore) ? idle + 1 : 0;
    }
    BZ2_bzDecompressEnd(&stream);
    return ended;
#else
    (void)packed;
    (void)unpacked;
    return false;
#endif
}

// The name under which a file's key is made: the part after the last "\" or "/".
std::string_view plainName(std::string_view name) {
    const std::size_t slash = name.find_last_of("\\/");
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

// Checks a packed file as it is stored, before StormLib reads it: StormLib trusts the offsets of the sectors,
// the place of the sector checksums (a checksum table longer than the sectors need overruns its buffer
// in 9.22) and the compression methods the sectors name. The offsets and sectors of an encrypted file can
// only be read knowing its name.
bool checkStoredFile(RawFile& raw, const Layout& layout, const BlockEntry& block, std::uint32_t blockIndex,
                     std::string_view fileName, std::string& why) {
    const bool packed = (block.flags & (MPQ_FILE_IMPLODE | MPQ_FILE_COMPRESS)) != 0;
    if (!packed || block.size == 0)
        return true;
    const std::string what =
        "damaged archive: '" + std::string(fileName) + "' (block " + std::to_string(blockIndex) + ")";
    const bool encrypted = (block.flags & MPQ_FILE_ENCRYPTED) != 0;
    std::uint32_t key = 0;
    if (encrypted) {
        key = hashName(plainName(fileName), HashKind::FileKey);
        if (block.flags & MPQ_FILE_FIX_KEY)
            key = (key + block.offset) ^ block.size;
    }
    const std::uint64_t start = layout.headerOffset + block.offset;

    // One packed piece (a sector, or a whole file stored as one): imploded pieces carry no method byte.
    auto checkPiece = [&](std::uint64_t offset, std::uint32_t length, std::uint32_t unpacked,
                          std::uint32_t pieceKey, const std::string& piece) {
        if (length >= unpacked)
            return true; // stored as it is
        if (length == 0) {
            why = what + ": " + piece + " is empty";
            return false;
        }
        if (block.flags & MPQ_FILE_IMPLODE)
            return true;
        std::vector<std::uint8_t> bytes(std::min<std::uint32_t>(length, 4));
        if (!raw.readAt(offset, bytes.data(), bytes.size())) {
            why = what + ": cannot read " + piece;
            return false;
        }
        if (encrypted && bytes.size() == 4) {
            std::vector<std::uint32_t> word = {le32(bytes.data())};
            decryptWords(word, pieceKey);
            bytes = {static_cast<std::uint8_t>(word[0]), static_cast<std::uint8_t>(word[0] >> 8),
                     static_cast<std::uint8_t>(word[0] >> 16), static_cast<std::uint8_t>(word[0] >> 24)};
        }
        const std::uint8_t method = bytes[0];
        if (method == 0 || method == kMethodLzma || (method & ~kKnownMethods)) {
            why = what + ": " + piece + " names compression methods " + hex(method) +
                  ", which Warcraft III does not read";
            return false;
        }
        if (!(method & kMethodBzip2))
            return true;
        std::vector<std::uint8_t> data(length);
        if (!raw.readAt(offset, data.data(), data.size())) {
            why = what + ": cannot read " + piece;
            return false;
        }
        if (encrypted) {
            std::vector<std::uint32_t> words(length / 4);
            for (std::size_t i = 0; i < words.size(); ++i)
                words[i] = le32(data.data() + 4 * i);
            decryptWords(words, pieceKey);
            for (std::size_t i = 0; i < words.size(); ++i)
                for (int b = 0; b < 4; ++b)
                    data[4 * i + b] = static_cast<std::uint8_t>(words[i] >> (8 * b));
        }
        if (!bzip2Ends(data, unpacked)) {
#ifdef BRINDLEMARK_HAVE_BZIP2
            why = what + ": the bzip2 data of " + piece + " does not unpack to its " +
                  std::to_string(unpacked) + " bytes";
#else
            why = what + ": " + piece +
                  " is packed with bzip2, which this build cannot check (built without bzip2)";
#endif
            return false;
        }
        return true;
    };

    if (block.flags & MPQ_FILE_SINGLE_UNIT)
        return checkPiece(start, block.packedSize, block.size, key, "the file");

    const std::uint32_t sectors =
        static_cast<std::uint32_t>((std::uint64_t(block.size) + layout.sectorSize - 1) / layout.sectorSize);
    const bool checksums = (block.flags & MPQ_FILE_SECTOR_CRC) != 0;
    const std::uint32_t count = sectors + 1 + (checksums ? 1 : 0);
    std::vector<std::uint8_t> bytes(std::size_t(count) * 4);
    if (!raw.readAt(start, bytes.data(), bytes.size())) {
        why = what + ": its sector offsets run past the end of the file";
        return false;
    }
    std::vector<std::uint32_t> offsets(count);
    for (std::uint32_t i = 0; i < count; ++i)
        offsets[i] = le32(bytes.data() + 4 * i);
    if (encrypted)
        decryptWords(offsets, key - 1);
    if (offsets[0] != count * 4) {
        why = what + ": its sector offsets do not start after themselves";
        return false;
    }
    for (std::uint32_t i = 0; i < sectors; ++i) {
        const std::uint32_t unpacked =
            i + 1 < sectors ? layout.sectorSize : block.size - (sectors - 1) * layout.sectorSize;
        if (offsets[i + 1] < offsets[i] || offsets[i + 1] - offsets[i] > unpacked) {
            why = what + ": its sector offsets give sector " + std::to_string(i) + " an impossible length";
            return false;
        }
    }
    if (offsets[sectors] > block.packedSize) {
        why = what + ": its sector offsets run past its " + std::to_string(block.packedSize) + " bytes";
        return false;
    }
    if (checksums && (offsets[sectors + 1] < offsets[sectors] || offsets[sectors + 1] > block.packedSize ||
                      offsets[sectors + 1] - offsets[sectors] > sectors * 4)) {
        why = what + ": its sector offsets give the sector checksums an impossible place";
        return false;
    }
    for (std::uint32_t i = 0; i < sectors; ++i) {
        const std::uint32_t unpacked =
            i + 1 < sectors ? layout.sectorSize : block.size - (sectors - 1) * layout.sectorSize;
        if (!checkPiece(start + offsets[i], offsets[i + 1] - offsets[i], unpacked, key + i,
                        "sector " + std::to_string(i)))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------------------
// StormLib glue

// StormLib takes paths as TCHAR: UTF-8 bytes on POSIX, UTF-16 on Windows when it is built for Unicode.
std::basic_string<TCHAR> stormPath(const fs::path& path) {
#ifdef _WIN32
    if constexpr (sizeof(TCHAR) == sizeof(wchar_t))
        return path.wstring();
    else
        return path.string();
#else
    return path.string();
#endif
}

std::string stormReason(DWORD code) {
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

std::uint64_t contentHash(const std::uint8_t* data, std::size_t size) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::size_t i = 0; i < size; ++i) {
        h ^= data[i];
        h *= 0x100000001b3ull;
    }
    return h;
}

// What went into the new archive, to be compared with what can be read back from it.
struct WrittenFile {
    std::string name;
    std::uint32_t locale;
    std::uint32_t flags;
    std::uint32_t size;
    std::uint64_t hash;
};

// Removes a file when it goes out of scope.
struct RemoveOnExit {
    fs::path path;
    ~RemoveOnExit() {
        std::error_code ec;
        if (!path.empty())
            fs::remove(path, ec);
    }
};

struct MapArchiveEntry {
    std::string name;
    std::uint32_t locale = 0;
    std::uint32_t flags = 0;
    std::uint32_t size = 0;
    std::uint64_t fileTime = 0;
    std::uint32_t block = 0;
};

} // namespace

// ---------------------------------------------------------------------------------------------------------------

struct MapArchive::Impl {
    HANDLE handle = nullptr;
    fs::path path;
    std::vector<std::uint8_t> prefix; // the bytes before the archive header
    std::vector<MapArchiveEntry> entries;
    std::vector<std::string> names;
    std::unordered_map<std::string, std::size_t> byKey;
    std::uint32_t sectorSize = 0;
    std::uint32_t attributeFlags = 0;

    ~Impl() {
        if (handle)
            SFileCloseArchive(handle);
    }

    // Opens the archive at `written` as any map is opened and checks that it holds exactly `files`.
    static bool checkWritten(const fs::path& written, const std::vector<WrittenFile>& files,
                             std::string& why);

    const MapArchiveEntry* find(std::string_view name) const {
        const auto it = byKey.find(nameKey(name));
        return it == byKey.end() ? nullptr : &entries[it->second];
    }

    // The bytes of one file; on failure the reason alone, and `out` empty.
    bool readEntry(const MapArchiveEntry& entry, std::vector<std::uint8_t>& out, std::string& reason) const {
        out.clear();
        HANDLE file = openStormFile(handle, entry.name, entry.locale);
        if (!file) {
            reason = stormReason(GetLastError());
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
            reason = ok ? std::string("the data ends early") : stormReason(code);
            return false;
        }
        return true;
    }

    bool read(const MapArchiveEntry& entry, std::vector<std::uint8_t>& out, std::string& error) const {
        std::string reason;
        if (readEntry(entry, out, reason))
            return true;
        error = pathText(path) + ": cannot read '" + entry.name + "' from the archive (" + reason + ")";
        return false;
    }
};

MapArchive::MapArchive() = default;
MapArchive::~MapArchive() = default;
MapArchive::MapArchive(MapArchive&& other) noexcept = default;
MapArchive& MapArchive::operator=(MapArchive&& other) noexcept = default;

bool MapArchive::open(const fs::path& path, std::string& error) {
    const std::string name = pathText(path);
    auto fresh = std::make_unique<Impl>();
    fresh->path = path;

    // First the layout, read here.
    RawFile raw;
    Layout layout;
    {
        std::error_code ec;
        raw.size = fs::file_size(path, ec);
        if (ec) {
            error = name + ": cannot open the file (" + ec.message() + ")";
            return false;
        }
        raw.file = openFile(path, "rb");
        if (!raw.file) {
            error = name + ": cannot open the file (" + std::generic_category().message(errno) + ")";
            return false;
        }
        std::string why;
        if (!readLayout(raw, layout, why)) {
            error = name + ": " + why;
            return false;
        }
        fresh->prefix.resize(static_cast<std::size_t>(layout.headerOffset));
        if (!raw.readAt(0, fresh->prefix.data(), fresh->prefix.size())) {
            error = name + ": cannot read the file";
            return false;
        }
    }
    fresh->sectorSize = layout.sectorSize;

    // The files StormLib reads as it opens the archive are checked before it does.
    std::vector<std::string> names(layout.hashes.size());     // by hash entry; empty while unnamed
    std::unordered_multimap<std::uint64_t, std::size_t> live; // the two name hashes -> hash entry
    for (std::size_t i = 0; i < layout.hashes.size(); ++i)
        if (layout.hashes[i].block < layout.blocks.size())
            live.emplace(std::uint64_t(layout.hashes[i].nameA) << 32 | layout.hashes[i].nameB, i);
    std::size_t named = 0;
    auto nameEntries = [&](std::string_view candidate, std::string& why) {
        const std::uint64_t key =
            std::uint64_t(hashName(candidate, HashKind::NameA)) << 32 | hashName(candidate, HashKind::NameB);
        const auto [first, last] = live.equal_range(key);
        for (auto it = first; it != last; ++it) {
            const std::size_t i = it->second;
            if (!names[i].empty())
                continue;
            const HashEntry& hash = layout.hashes[i];
            if (!checkStoredFile(raw, layout, layout.blocks[hash.block], hash.block, candidate, why))
                return false;
            names[i] = std::string(candidate);
            ++named;
        }
        return true;
    };
    for (const std::string_view internal : {kListFile, kAttributes, kSignature}) {
        std::string why;
        if (!nameEntries(internal, why)) {
            error = name + ": " + why;
            return false;
        }
    }

    // Then StormLib. Forcing version 1 makes it read the header as Warcraft III does and as it was checked
    // above, and keeps it from looking for stream bitmaps at the end of the file.
    const DWORD flags = MPQ_OPEN_READ_ONLY | MPQ_OPEN_FORCE_MPQ_V1;
    keepDescriptorZeroTaken();
    if (!SFileOpenArchive(stormPath(path).c_str(), 0, flags, &fresh->handle)) {
        fresh->handle = nullptr;
        error = name + ": cannot open the archive (" + stormReason(GetLastError()) + ")";
        return false;
    }
    ULONGLONG headerOffset = 0;
    if (!SFileGetFileInfo(fresh->handle, SFileMpqHeaderOffset, &headerOffset, sizeof headerOffset, nullptr) ||
        headerOffset != layout.headerOffset) {
        error =
            name + ": damaged or protected archive: the archive header StormLib reads is not the first one";
        return false;
    }
    DWORD archiveFlags = 0;
    if (!SFileGetFileInfo(fresh->handle, SFileMpqFlags, &archiveFlags, sizeof archiveFlags, nullptr) ||
        ((archiveFlags & MPQ_FLAG_WAR3_MAP) != 0) != layout.warcraftMap) {
        error = name +
                ": damaged or protected archive: StormLib does not take it for the kind of archive its map "
                "header says";
        return false;
    }
    fresh->attributeFlags = SFileGetAttributes(fresh->handle);
    if (fresh->attributeFlags == SFILE_INVALID_ATTRIBUTES)
        fresh->attributeFlags = 0;

    // The names of the other files come from the listfile. Every file must have one: StormLib would look into
    // the data of a file without a name to make one up, and such a file could not be carried over anyway.
    const auto listFile = std::find(names.begin(), names.end(), std::string(kListFile));
    if (listFile == names.end()) {
        error = name +
                ": protected or damaged map: the archive has no (listfile), so the names of its files are "
                "unknown and it cannot be rewritten";
        return false;
    }
    {
        const HashEntry& hash = layout.hashes[static_cast<std::size_t>(listFile - names.begin())];
        MapArchiveEntry entry;
        entry.name = std::string(kListFile);
        entry.locale = hash.locale & 0xFFFF;
        entry.size = layout.blocks[hash.block].size;
        std::vector<std::uint8_t> list;
        std::string why;
        if (!fresh->readEntry(entry, list, why)) {
            error = name + ": protected or damaged map: its (listfile) cannot be read (" + why +
                    "), so the names of its files are unknown and it cannot be rewritten";
            return false;
        }
        // Names are separated by line breaks (or semicolons); every reading is tried, and only names that
        // hash to a file count.
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
        for (const std::string& candidate : candidates) {
            if (named == layout.liveFiles)
                break;
            if (!nameEntries(candidate, why)) {
                error = name + ": " + why;
                return false;
            }
        }
    }
    if (named < layout.liveFiles) {
        error =
            name + ": protected or damaged map: " + std::to_string(layout.liveFiles - named) + " of its " +
            std::to_string(layout.liveFiles) +
            " files are not named in its (listfile), so they could not be carried over and the map cannot be "
            "rewritten";
        return false;
    }

    // StormLib's list of the files must be the one found here, name for name.
    std::size_t agreed = 0;
    SFILE_FIND_DATA found;
    std::memset(&found, 0, sizeof found);
    HANDLE search = SFileFindFirstFile(fresh->handle, "*", &found, nullptr);
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
            fresh->entries.push_back(std::move(entry));
            names[index].clear(); // reported once
            ++agreed;
        } while (SFileFindNextFile(search, &found));
        SFileFindClose(search);
    }
    if (agreed != layout.liveFiles) {
        error = name + ": damaged or protected archive: StormLib lists " + std::to_string(agreed) +
                " of its " + std::to_string(layout.liveFiles) + " files by the names its (listfile) gives";
        return false;
    }

    std::sort(fresh->entries.begin(), fresh->entries.end(),
              [](const MapArchiveEntry& a, const MapArchiveEntry& b) { return a.block < b.block; });
    for (std::size_t i = 0; i < fresh->entries.size(); ++i) {
        const std::string key = nameKey(fresh->entries[i].name);
        if (!fresh->byKey.emplace(key, i).second) {
            error = name + ": the archive holds '" + fresh->entries[i].name +
                    "' more than once (in several languages); such a map is not supported";
            return false;
        }
        fresh->names.push_back(fresh->entries[i].name);
    }
    impl_ = std::move(fresh);
    return true;
}

bool MapArchive::Impl::checkWritten(const fs::path& written, const std::vector<WrittenFile>& files,
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
        const auto it = std::find_if(files.begin(), files.end(),
                                     [&](const WrittenFile& f) { return f.name == entry.name; });
        if (it == files.end()) {
            why = "the new archive holds '" + entry.name + "', which was not written";
            return false;
        }
        if ((entry.flags & kKeptFileFlags) != it->flags || entry.locale != it->locale) {
            why = "'" + entry.name + "' was stored with flags " + hex(entry.flags) + " and language " +
                  std::to_string(entry.locale) + " instead of " + hex(it->flags) + " and " +
                  std::to_string(it->locale);
            return false;
        }
        if (!back.read(entry, bytes, why))
            return false;
        if (bytes.size() != it->size || contentHash(bytes.data(), bytes.size()) != it->hash) {
            why = "'" + entry.name + "' reads back different from what was written";
            return false;
        }
    }
    if (count != files.size()) {
        why = "the new archive holds " + std::to_string(count) + " files instead of " +
              std::to_string(files.size());
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

// ---------------------------------------------------------------------------------------------------------------

namespace {

std::uint32_t hashTableEntriesFor(std::size_t files) {
    // A quarter of the table stays free, so that lookups end soon; never fewer than 16 entries.
    const std::uint64_t wanted = std::max<std::uint64_t>(16, files + files / 3 + 1);
    std::uint64_t entries = 1;
    while (entries < wanted)
        entries <<= 1;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(entries, kMaxTableEntries));
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
    RemoveOnExit mpqFile{temporaryBeside(target)};
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
    keepDescriptorZeroTaken();
    HANDLE archive = nullptr;
    if (!SFileCreateArchive2(stormPath(mpqFile.path).c_str(), &create, &archive)) {
        error = targetName + ": cannot write the file (" + stormReason(GetLastError()) + ")";
        return false;
    }

    std::vector<WrittenFile> written;
    std::vector<std::uint8_t> bytes;
    bool ok = true;
    const auto writeOne = [&](const std::string& name, std::uint64_t fileTime, std::uint32_t locale,
                              DWORD flags, const std::vector<std::uint8_t>& data) {
        const DWORD size = static_cast<DWORD>(data.size());
        HANDLE file = nullptr;
        if (!SFileCreateFile(archive, name.c_str(), fileTime, size, static_cast<LCID>(locale), flags, &file)) {
            error = targetName + ": cannot write '" + name + "' (" + stormReason(GetLastError()) + ")";
            return false;
        }
        bool fileOk = size == 0 || SFileWriteFile(file, data.data(), size, MPQ_COMPRESSION_ZLIB);
        DWORD code = fileOk ? 0 : GetLastError();
        if (!SFileFinishFile(file) && fileOk) {
            fileOk = false;
            code = GetLastError();
        }
        if (!fileOk) {
            error = targetName + ": cannot write '" + name + "' (" + stormReason(code) + ")";
            return false;
        }
        written.push_back({name, locale, flags, size, contentHash(data.data(), data.size())});
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
        error = targetName + ": cannot write the file (" + stormReason(GetLastError()) + ")";
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
