#pragma once

// The stored layout of an MPQ archive (the container of a Warcraft III map), read from its bytes without
// StormLib: the archive header, the hash and block tables, where every file's data lies, the sector offsets,
// compression methods and sector checksums of a packed file, and the checksums that "(attributes)" holds. The
// map library checks all of it before StormLib is trusted with an archive; nothing here needs StormLib.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brindlemark::mpq {

// File flags of the block table.
inline constexpr std::uint32_t kFileImplode = 0x00000100;
inline constexpr std::uint32_t kFileCompress = 0x00000200;
inline constexpr std::uint32_t kFileEncrypted = 0x00010000;
inline constexpr std::uint32_t kFileFixKey = 0x00020000;
inline constexpr std::uint32_t kFileSingleUnit = 0x01000000;
inline constexpr std::uint32_t kFileSectorCrc = 0x04000000;
inline constexpr std::uint32_t kFileExists = 0x80000000;
// The flags a rewritten file keeps; every other flag but kFileExists marks an archive maps do not use.
inline constexpr std::uint32_t kKeptFileFlags =
    kFileImplode | kFileCompress | kFileEncrypted | kFileFixKey | kFileSingleUnit | kFileSectorCrc;

inline constexpr std::uint32_t kMaxTableEntries = 0x80000; // the largest hash table StormLib reads
// A file larger than this after unpacking is taken for damage; no map holds one.
inline constexpr std::uint64_t kMaxFileSize = 512u * 1024 * 1024;
inline constexpr std::uint32_t kHashFree = 0xFFFFFFFF;
inline constexpr std::uint32_t kHashDeleted = 0xFFFFFFFE;

inline constexpr std::string_view kListFile = "(listfile)";
inline constexpr std::string_view kAttributes = "(attributes)";
inline constexpr std::string_view kSignature = "(signature)";

enum class HashKind : std::uint32_t { TableOffset = 0, NameA = 1, NameB = 2, FileKey = 3 };

// The format's name hash; names hash without regard to ASCII case.
std::uint32_t hashName(std::string_view name, HashKind kind);
// Undoes the format's encryption of `words` under `key`.
void decryptWords(std::vector<std::uint32_t>& words, std::uint32_t key);
// The key under which a name is looked up: the name with ASCII letters in upper case.
std::string nameKey(std::string_view name);
// "(listfile)", "(attributes)" or "(signature)", in any case.
bool isInternalName(std::string_view name);
// The name under which a file's encryption key is made: the part after the last "\" or "/".
std::string_view plainName(std::string_view name);
std::string hex(std::uint32_t value);

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

// Finds the archive header in `file` (the whole map file) as StormLib and Warcraft III do, at a multiple of 512
// bytes, and checks the tables and every file's place against the file's size. False with the reason (which
// gives the byte offset where it applies, not the file name) when any of it does not hold.
[[nodiscard]] bool readLayout(std::span<const std::uint8_t> file, Layout& layout, std::string& why);

// Checks a file of the archive as it is stored, knowing its name (an encrypted file's key comes from it): the
// sector offsets, the place of the sector checksums and the compression methods the pieces name, which StormLib
// trusts, and every sector against the checksum the archive holds for it. False with the reason, naming the
// file and the byte offset.
[[nodiscard]] bool checkStoredFile(std::span<const std::uint8_t> file, const Layout& layout, std::uint32_t blockIndex,
                                   std::string_view fileName, std::string& why);

// The checksums "(attributes)" holds for the files, by block; a zero CRC32 or MD5 is one the archive does not
// hold.
struct FileChecksums {
    std::vector<std::uint32_t> crc32;
    std::vector<std::array<std::uint8_t, 16>> md5;
};

// Reads the bytes of "(attributes)" for an archive of `blockCount` blocks. An (attributes) file of a version
// or size that does not fit gives no checksums (true); StormLib reads such archives too.
void readAttributes(std::span<const std::uint8_t> attributes, std::size_t blockCount, FileChecksums& out);

// Whether the unpacked bytes of the file in block `blockIndex` agree with the checksums `sums` hold for it. False
// with the reason when one does not.
[[nodiscard]] bool matchesAttributes(const FileChecksums& sums, std::uint32_t blockIndex,
                                     std::span<const std::uint8_t> contents, std::string& why);

std::uint32_t crc32Of(std::span<const std::uint8_t> bytes);
std::array<std::uint8_t, 16> md5Of(std::span<const std::uint8_t> bytes);

} // namespace brindlemark::mpq
