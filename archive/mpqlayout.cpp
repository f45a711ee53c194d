// Everything here reads bytes already in memory: a map file's bytes go in, the layout or a reason with its byte
// offset comes out. The bytes are read through ByteReader, so no read goes past the end.
#include "archive/mpqlayout.h"

#include "core/bytestream.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstring>

#ifdef BRINDLEMARK_HAVE_BZIP2
#include <bzlib.h>
#endif

namespace brindlemark::mpq {

namespace {

constexpr std::uint32_t kMapSignature = 0x57334D48;         // "HM3W"
constexpr std::uint32_t kMpqSignature = 0x1A51504D;         // "MPQ\x1A"
constexpr std::uint32_t kMpqUserDataSignature = 0x1B51504D; // "MPQ\x1B"
constexpr std::uint32_t kHeaderSize = 32;                   // the header of a version 1 archive
constexpr std::uint64_t kHeaderAlignment = 512;             // where Warcraft III and StormLib look for it
constexpr std::uint64_t kHeaderSearchLimit = 0x08000000;    // StormLib searches the first 128 MiB
constexpr std::uint32_t kMinSectorShift = 1;                // StormLib 9.22 reads no archive of 512-byte sectors
constexpr std::uint32_t kMaxSectorShift = 15;               // sectors of 512 B << 15 = 16 MiB at most
constexpr std::uint32_t kHashTableKey = 0xC3AF3770;         // hashName("(hash table)", FileKey)
constexpr std::uint32_t kBlockTableKey = 0xEC83B3A3;        // hashName("(block table)", FileKey)
// How much larger than its packed bytes a file may claim to be. A file in sectors cannot reach this with any
// method, as every sector is packed on its own; a larger claim is damage, and allocating for it would be the
// damage's gain.
constexpr std::uint64_t kMaxUnpackRatio = 2048;
constexpr std::uint32_t kKnownFileFlags = kKeptFileFlags | kFileExists;
constexpr std::uint8_t kMethodZlib = 0x02;

// Reads `count` little-endian words at byte `at` of `file`; false when they are not all there.
bool readWords(std::span<const std::uint8_t> file, std::uint64_t at, std::size_t count,
               std::vector<std::uint32_t>& words) {
    if (at > file.size())
        return false;
    ByteReader reader(file.subspan(static_cast<std::size_t>(at)));
    if (reader.remaining() / 4 < count)
        return false;
    words.resize(count);
    for (std::uint32_t& word : words)
        if (!reader.readU32(word))
            return false;
    return true;
}

std::uint32_t wordAt(std::span<const std::uint8_t> file, std::uint64_t at) {
    std::vector<std::uint32_t> word;
    return readWords(file, at, 1, word) ? word[0] : 0;
}

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

std::uint8_t asciiUpper(char c) {
    const auto u = static_cast<std::uint8_t>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<std::uint8_t>(u - 'a' + 'A') : u;
}

} // namespace

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

std::string_view plainName(std::string_view name) {
    const std::size_t slash = name.find_last_of("\\/");
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

namespace {

bool readTable(std::span<const std::uint8_t> file, const Layout& layout, std::uint32_t position, std::uint32_t entries,
               std::uint32_t key, const char* what, std::vector<std::uint32_t>& words, std::string& why) {
    const std::uint64_t start = layout.headerOffset + position;
    if (!readWords(file, start, std::size_t(entries) * 4, words)) {
        why = std::string("damaged archive: the ") + what + " (" + std::to_string(entries) + " entries at byte " +
              std::to_string(start) + ") runs past the end of the file, which has " + std::to_string(file.size()) +
              " bytes (cut short?)";
        return false;
    }
    decryptWords(words, key);
    return true;
}

} // namespace

namespace {

// Finds the archive header as StormLib and Warcraft III do, at a multiple of 512 bytes, and reads its words.
bool findHeader(std::span<const std::uint8_t> file, Layout& layout, std::vector<std::uint32_t>& header,
                std::string& why) {
    for (std::uint64_t at = 0; at + 4 <= file.size() && at < kHeaderSearchLimit; at += kHeaderAlignment) {
        const std::uint32_t signature = wordAt(file, at);
        if (signature == kMpqUserDataSignature) {
            why = "not a Warcraft III map: the archive has an MPQ user data block (byte " + std::to_string(at) +
                  "), which maps do not use";
            return false;
        }
        if (signature != kMpqSignature)
            continue;
        if (!readWords(file, at, kHeaderSize / 4, header)) {
            why = "damaged archive: the archive header at byte " + std::to_string(at) + " is cut short";
            return false;
        }
        layout.headerOffset = at;
        return true;
    }
    why = "not a map archive: no MPQ archive header found";
    return false;
}

// The header's sizes: its own, the sectors' and the two tables'.
bool checkHeader(const std::vector<std::uint32_t>& header, Layout& layout, std::string& why) {
    const std::uint32_t headerSize = header[1];
    const std::uint32_t sectorShift = header[3] >> 16; // the 16 bits at byte 14
    const std::uint32_t hashCount = header[6];
    const std::uint32_t blockCount = header[7];
    const std::string where = " (archive header at byte " + std::to_string(layout.headerOffset) + ")";
    if (headerSize < kHeaderSize) {
        why = "damaged or protected archive: the archive header gives its size as " + std::to_string(headerSize) +
              " bytes" + where;
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
    return true;
}

// The hash and the block table, decrypted.
bool readTables(std::span<const std::uint8_t> file, const std::vector<std::uint32_t>& header, Layout& layout,
                std::string& why) {
    const std::uint32_t hashCount = header[6];
    const std::uint32_t blockCount = header[7];
    std::vector<std::uint32_t> words;
    if (!readTable(file, layout, header[4], hashCount, kHashTableKey, "hash table", words, why))
        return false;
    layout.hashes.resize(hashCount);
    for (std::size_t i = 0; i < hashCount; ++i)
        layout.hashes[i] = {words[4 * i], words[4 * i + 1], words[4 * i + 2], words[4 * i + 3]};
    if (!readTable(file, layout, header[5], blockCount, kBlockTableKey, "block table", words, why))
        return false;
    layout.blocks.resize(blockCount);
    for (std::size_t i = 0; i < blockCount; ++i)
        layout.blocks[i] = {words[4 * i], words[4 * i + 1], words[4 * i + 2], words[4 * i + 3]};
    return true;
}

// The block of a file: flags a map may use, and data inside the archive's `archiveBytes`, long enough for what
// it claims. `entry` says which hash entry points at it.
bool checkBlock(const Layout& layout, std::uint32_t b, std::uint64_t archiveBytes, const std::string& entry,
                std::string& why) {
    const BlockEntry& block = layout.blocks[b];
    if (!(block.flags & kFileExists)) {
        why = "damaged or protected archive: " + entry + ", which holds no file";
        return false;
    }
    if (block.flags & ~kKnownFileFlags) {
        why = "damaged or protected archive: block " + std::to_string(b) + " has flags " + hex(block.flags) +
              ", which Warcraft III maps do not use";
        return false;
    }
    if ((block.flags & kFileImplode) && (block.flags & kFileCompress)) {
        why = "damaged or protected archive: block " + std::to_string(b) + " is marked both imploded and compressed";
        return false;
    }
    if ((block.flags & kFileFixKey) && !(block.flags & kFileEncrypted)) {
        why = "damaged or protected archive: block " + std::to_string(b) +
              " has a position-dependent key but is not encrypted";
        return false;
    }
    if (block.offset > archiveBytes || block.packedSize > archiveBytes - block.offset) {
        why = "damaged archive: the data of block " + std::to_string(b) + " (" + std::to_string(block.packedSize) +
              " bytes at byte " + std::to_string(layout.headerOffset + block.offset) +
              ") runs past the end of the file (cut short?)";
        return false;
    }
    const bool packed = (block.flags & (kFileImplode | kFileCompress)) != 0;
    if (!packed && block.size > block.packedSize) {
        why = "damaged archive: block " + std::to_string(b) + " holds " + std::to_string(block.packedSize) +
              " bytes of a stored file of " + std::to_string(block.size) + " bytes";
        return false;
    }
    if (packed &&
        (block.size > kMaxFileSize || block.size > std::max<std::uint64_t>(block.packedSize, 1) * kMaxUnpackRatio)) {
        why = "damaged or protected archive: block " + std::to_string(b) + " claims " + std::to_string(block.size) +
              " bytes unpacked from " + std::to_string(block.packedSize) + " packed bytes";
        return false;
    }
    if (packed && !(block.flags & kFileSingleUnit) && block.size > 0) {
        // A file in sectors starts with the offsets of its sectors (one more than there are sectors, and one
        // more again with sector checksums).
        const std::uint64_t sectors = (std::uint64_t(block.size) + layout.sectorSize - 1) / layout.sectorSize;
        const std::uint64_t tableBytes = (sectors + 1 + ((block.flags & kFileSectorCrc) ? 1 : 0)) * 4;
        if (tableBytes > block.packedSize) {
            why = "damaged archive: block " + std::to_string(b) + " (" + std::to_string(block.packedSize) +
                  " bytes) is too short for the sector offsets of " + std::to_string(block.size) + " bytes";
            return false;
        }
    }
    return true;
}

} // namespace

bool readLayout(std::span<const std::uint8_t> file, Layout& layout, std::string& why) {
    const std::uint64_t fileSize = file.size();
    if (fileSize == 0) {
        why = "the file is empty; it is not a map archive";
        return false;
    }
    // A Warcraft III map to StormLib 9.22 starts with "HM3W" and four zero bytes. In one, StormLib and
    // Warcraft III ignore the flag for files stored as a single unit and read them in sectors.
    layout.warcraftMap = fileSize > 16 && wordAt(file, 0) == kMapSignature && wordAt(file, 4) == 0;
    std::vector<std::uint32_t> header;
    if (!findHeader(file, layout, header, why) || !checkHeader(header, layout, why) ||
        !readTables(file, header, layout, why))
        return false;

    const std::uint64_t archiveBytes = fileSize - layout.headerOffset;
    const std::size_t blockCount = layout.blocks.size();
    std::vector<bool> used(blockCount, false);
    layout.liveFiles = 0;
    for (std::size_t i = 0; i < layout.hashes.size(); ++i) {
        const std::uint32_t b = layout.hashes[i].block;
        if (b == kHashFree || b == kHashDeleted)
            continue;
        const std::string entry = "hash entry " + std::to_string(i) + " points at block " + std::to_string(b);
        if (b >= blockCount) {
            why = "damaged or protected archive: " + entry + ", but the block table has " + std::to_string(blockCount) +
                  " entries";
            return false;
        }
        if (used[b]) {
            why = "damaged or protected archive: " + entry + ", which another hash entry uses too";
            return false;
        }
        used[b] = true;
        ++layout.liveFiles;
        if (layout.warcraftMap)
            layout.blocks[b].flags &= ~static_cast<std::uint32_t>(kFileSingleUnit);
        if (!checkBlock(layout, b, archiveBytes, entry, why))
            return false;
    }
    return true;
}
namespace {

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

} // namespace

namespace {

// The bytes of one stored piece with the file's encryption undone: whole words are decrypted, a tail of fewer
// than four bytes is stored as it is.
std::vector<std::uint8_t> decryptedPiece(std::span<const std::uint8_t> bytes, std::uint32_t key) {
    std::vector<std::uint8_t> out(bytes.begin(), bytes.end());
    std::vector<std::uint32_t> words(out.size() / 4);
    ByteReader reader(bytes);
    for (std::uint32_t& word : words)
        (void)reader.readU32(word);
    decryptWords(words, key);
    for (std::size_t i = 0; i < words.size(); ++i)
        for (int b = 0; b < 4; ++b)
            out[4 * i + b] = static_cast<std::uint8_t>(words[i] >> (8 * b));
    return out;
}

// The sector checksums a file in sectors holds after its sectors: Adler-32 sums (started from 0) of each
// sector as stored, after decryption. Stored plain when they fill their place, else packed with zlib. False
// when the file holds none that can be read (StormLib then checks none either): a place too short or too long,
// or a packing other than zlib.
bool sectorChecksums(std::span<const std::uint8_t> stored, std::uint32_t sectors, std::uint32_t sectorSize,
                     std::vector<std::uint32_t>& sums) {
    const std::size_t wanted = std::size_t(sectors) * 4;
    if (stored.size() < 4 || stored.size() > sectorSize)
        return false;
    std::vector<std::uint8_t> plain(wanted);
    if (stored.size() >= wanted) {
        std::copy_n(stored.begin(), wanted, plain.begin());
    } else {
        if (stored[0] != kMethodZlib)
            return false;
        uLongf size = static_cast<uLongf>(wanted);
        if (uncompress(plain.data(), &size, stored.data() + 1, static_cast<uLong>(stored.size() - 1)) != Z_OK ||
            size != wanted)
            return false;
    }
    return readWords(plain, 0, sectors, sums);
}

} // namespace

namespace {

// A packed file as it is stored, and the checks of its pieces.
struct StoredFile {
    std::span<const std::uint8_t> file;
    const BlockEntry& block;
    std::string what; // "damaged archive: 'name' (block n)", which every reason starts with
    bool encrypted = false;
    std::uint32_t key = 0;
    std::uint64_t start = 0; // of its data in the file

    // The stored bytes of a piece, decrypted; readLayout made sure that the block lies inside the file.
    std::vector<std::uint8_t> piece(std::uint64_t offset, std::uint32_t length, std::uint32_t pieceKey) const {
        const auto bytes = file.subspan(static_cast<std::size_t>(offset), length);
        return encrypted ? decryptedPiece(bytes, pieceKey) : std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    }

    // One packed piece (a sector, or a whole file stored as one): imploded pieces carry no method byte.
    bool checkPiece(std::uint64_t offset, std::uint32_t length, std::uint32_t unpacked, std::uint32_t pieceKey,
                    const std::string& name, std::string& why) const {
        if (length >= unpacked)
            return true; // stored as it is
        if (length == 0) {
            why = what + ": " + name + " is empty";
            return false;
        }
        if (block.flags & kFileImplode)
            return true;
        const std::vector<std::uint8_t> data = piece(offset, length, pieceKey);
        const std::uint8_t method = data[0];
        if (method == 0 || method == kMethodLzma || (method & ~kKnownMethods)) {
            why =
                what + ": " + name + " names compression methods " + hex(method) + ", which Warcraft III does not read";
            return false;
        }
        if (!(method & kMethodBzip2) || bzip2Ends(data, unpacked))
            return true;
#ifdef BRINDLEMARK_HAVE_BZIP2
        why = what + ": the bzip2 data of " + name + " does not unpack to its " + std::to_string(unpacked) + " bytes";
#else
        why = what + ": " + name + " is packed with bzip2, which this build cannot check (built without bzip2)";
#endif
        return false;
    }

    // The offsets of `sectors` sectors (and of the sector checksums after them when the file has them), which
    // must start after themselves and give every sector and the checksums a place inside the file's data.
    bool readSectorOffsets(std::uint32_t sectors, std::uint32_t sectorSize, bool checksums,
                           std::vector<std::uint32_t>& offsets, std::string& why) const {
        const std::uint32_t count = sectors + 1 + (checksums ? 1 : 0);
        if (!readWords(file, start, count, offsets)) {
            why = what + ": its sector offsets run past the end of the file";
            return false;
        }
        if (encrypted)
            decryptWords(offsets, key - 1);
        if (offsets[0] != count * 4) {
            why = what + ": its sector offsets do not start after themselves";
            return false;
        }
        for (std::uint32_t i = 0; i < sectors; ++i) {
            if (offsets[i + 1] < offsets[i] || offsets[i + 1] - offsets[i] > unpackedSector(i, sectors, sectorSize)) {
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
        return true;
    }

    std::uint32_t unpackedSector(std::uint32_t i, std::uint32_t sectors, std::uint32_t sectorSize) const {
        return i + 1 < sectors ? sectorSize : block.size - (sectors - 1) * sectorSize;
    }
};

} // namespace

bool checkStoredFile(std::span<const std::uint8_t> file, const Layout& layout, std::uint32_t blockIndex,
                     std::string_view fileName, std::string& why) {
    const BlockEntry& block = layout.blocks.at(blockIndex);
    const bool packed = (block.flags & (kFileImplode | kFileCompress)) != 0;
    if (!packed || block.size == 0)
        return true;
    StoredFile stored{file, block,
                      "damaged archive: '" + std::string(fileName) + "' (block " + std::to_string(blockIndex) + ")"};
    stored.encrypted = (block.flags & kFileEncrypted) != 0;
    if (stored.encrypted) {
        stored.key = hashName(plainName(fileName), HashKind::FileKey);
        if (block.flags & kFileFixKey)
            stored.key = (stored.key + block.offset) ^ block.size;
    }
    stored.start = layout.headerOffset + block.offset;
    if (block.flags & kFileSingleUnit)
        return stored.checkPiece(stored.start, block.packedSize, block.size, stored.key, "the file", why);

    const std::uint32_t sectors =
        static_cast<std::uint32_t>((std::uint64_t(block.size) + layout.sectorSize - 1) / layout.sectorSize);
    const bool checksums = (block.flags & kFileSectorCrc) != 0;
    std::vector<std::uint32_t> offsets;
    if (!stored.readSectorOffsets(sectors, layout.sectorSize, checksums, offsets, why))
        return false;
    std::vector<std::uint32_t> sums;
    const bool verify =
        checksums && sectorChecksums(file.subspan(static_cast<std::size_t>(stored.start + offsets[sectors]),
                                                  offsets[sectors + 1] - offsets[sectors]),
                                     sectors, layout.sectorSize, sums);
    for (std::uint32_t i = 0; i < sectors; ++i) {
        const std::uint64_t at = stored.start + offsets[i];
        const std::uint32_t length = offsets[i + 1] - offsets[i];
        if (!stored.checkPiece(at, length, stored.unpackedSector(i, sectors, layout.sectorSize), stored.key + i,
                               "sector " + std::to_string(i), why))
            return false;
        // A sum of 0 or 0xFFFFFFFF stands for one that was never computed.
        if (verify && sums[i] != 0 && sums[i] != 0xFFFFFFFF) {
            const std::vector<std::uint8_t> bytes = stored.piece(at, length, stored.key + i);
            if (static_cast<std::uint32_t>(adler32(0, bytes.data(), static_cast<uInt>(bytes.size()))) != sums[i]) {
                why = stored.what + ": sector " + std::to_string(i) + " at byte " + std::to_string(at) +
                      " does not match the checksum the archive holds for it";
                return false;
            }
        }
    }
    return true;
}

void readAttributes(std::span<const std::uint8_t> attributes, std::size_t blockCount, FileChecksums& out) {
    out = {};
    constexpr std::uint32_t kVersion = 100;
    constexpr std::uint32_t kCrc32 = 0x1, kFileTime = 0x2, kMd5 = 0x4, kPatchBit = 0x8;
    ByteReader reader(attributes);
    std::uint32_t version = 0, flags = 0;
    if (!reader.readU32(version) || !reader.readU32(flags) || version != kVersion)
        return;
    // Every array has one entry per block; the patch bits, where present, one bit each.
    const std::size_t expected = (flags & kCrc32 ? 4 : 0) + (flags & kFileTime ? 8 : 0) + (flags & kMd5 ? 16 : 0);
    const std::size_t patchBytes = flags & kPatchBit ? (blockCount + 7) / 8 : 0;
    if (reader.remaining() / std::max<std::size_t>(expected, 1) < blockCount ||
        reader.remaining() - expected * blockCount != patchBytes)
        return;
    FileChecksums sums;
    if (flags & kCrc32) {
        sums.crc32.resize(blockCount);
        for (std::uint32_t& crc : sums.crc32)
            (void)reader.readU32(crc);
    }
    if (flags & kFileTime) {
        std::uint32_t skipped = 0;
        for (std::size_t i = 0; i < 2 * blockCount; ++i)
            (void)reader.readU32(skipped);
    }
    if (flags & kMd5) {
        sums.md5.resize(blockCount);
        const std::size_t at = reader.offset();
        for (std::size_t i = 0; i < blockCount; ++i)
            std::copy_n(attributes.begin() + static_cast<std::ptrdiff_t>(at + 16 * i), 16, sums.md5[i].begin());
    }
    out = std::move(sums);
}

bool matchesAttributes(const FileChecksums& sums, std::uint32_t blockIndex, std::span<const std::uint8_t> contents,
                       std::string& why) {
    if (blockIndex < sums.crc32.size() && sums.crc32[blockIndex] != 0 && crc32Of(contents) != sums.crc32[blockIndex]) {
        why = "its contents do not match the CRC32 checksum the archive's (attributes) holds for it";
        return false;
    }
    static constexpr std::array<std::uint8_t, 16> kNone{};
    if (blockIndex < sums.md5.size() && sums.md5[blockIndex] != kNone && md5Of(contents) != sums.md5[blockIndex]) {
        why = "its contents do not match the MD5 checksum the archive's (attributes) holds for it";
        return false;
    }
    return true;
}

std::uint32_t crc32Of(std::span<const std::uint8_t> bytes) {
    uLong crc = crc32(0, Z_NULL, 0);
    // zlib takes lengths of at most 4 GiB at a time.
    for (std::size_t at = 0; at < bytes.size();) {
        const auto piece = static_cast<uInt>(std::min<std::size_t>(bytes.size() - at, 1u << 30));
        crc = crc32(crc, bytes.data() + at, piece);
        at += piece;
    }
    return static_cast<std::uint32_t>(crc);
}

std::array<std::uint8_t, 16> md5Of(std::span<const std::uint8_t> bytes) {
    // RFC 1321.
    static constexpr std::uint32_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                                 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                                 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                                 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    static const std::array<std::uint32_t, 64> kSine = [] {
        std::array<std::uint32_t, 64> k{};
        for (int i = 0; i < 64; ++i)
            k[i] = static_cast<std::uint32_t>(std::fabs(std::sin(double(i + 1))) * 4294967296.0);
        return k;
    }();
    std::uint32_t state[4] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};
    std::vector<std::uint8_t> message(bytes.begin(), bytes.end());
    const std::uint64_t bits = std::uint64_t(bytes.size()) * 8;
    message.push_back(0x80);
    while (message.size() % 64 != 56)
        message.push_back(0);
    for (int i = 0; i < 8; ++i)
        message.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    for (std::size_t chunk = 0; chunk < message.size(); chunk += 64) {
        std::uint32_t m[16];
        for (int i = 0; i < 16; ++i)
            m[i] = std::uint32_t(message[chunk + 4 * i]) | std::uint32_t(message[chunk + 4 * i + 1]) << 8 |
                   std::uint32_t(message[chunk + 4 * i + 2]) << 16 | std::uint32_t(message[chunk + 4 * i + 3]) << 24;
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t f = 0;
            int g = 0;
            if (i < 16) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (i < 32) {
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            const std::uint32_t rotated = a + f + kSine[i] + m[g];
            a = d;
            d = c;
            c = b;
            b += (rotated << kShift[i]) | (rotated >> (32 - kShift[i]));
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
    }
    std::array<std::uint8_t, 16> digest{};
    for (int i = 0; i < 16; ++i)
        digest[i] = static_cast<std::uint8_t>(state[i / 4] >> (8 * (i % 4)));
    return digest;
}

} // namespace brindlemark::mpq
