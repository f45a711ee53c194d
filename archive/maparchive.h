#pragma once

// A Warcraft III map (.w3x, .w3m) is an MPQ archive, normally behind a 512-byte "HM3W" map header. MapArchive
// reads one; writeMapArchive writes a copy of it with some files given new contents.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace brindlemark {

class MapArchive {
public:
    MapArchive();
    ~MapArchive();
    MapArchive(MapArchive&& other) noexcept;
    MapArchive& operator=(MapArchive&& other) noexcept;
    MapArchive(const MapArchive&) = delete;
    MapArchive& operator=(const MapArchive&) = delete;

    // Opens a map archive for reading. Returns false with a message that names the file when the file is not
    // an MPQ archive, is damaged, or is protected: an archive without a "(listfile)", or with files whose
    // names the listfile does not give, is refused, because such files could not be carried over into a
    // rewritten map. On failure an archive that was open before stays open and unchanged.
    [[nodiscard]] bool open(const std::filesystem::path& path, std::string& error);
    void close();
    bool isOpen() const;
    // The file last opened; empty when none is.
    const std::filesystem::path& path() const;

    // Every file of the archive, by the names its listfile gives, in the order they are stored; this includes
    // the archive's own "(listfile)", and "(attributes)" and "(signature)" where it has them.
    const std::vector<std::string>& fileNames() const;
    // Whether the archive holds a file of this name. Names are compared without regard to ASCII case, as the
    // archive itself looks them up; "\" and "/" are different characters.
    bool contains(std::string_view name) const;
    // The bytes of the named file (any case). On failure returns false with a message naming the archive and
    // the file, and leaves `out` empty.
    [[nodiscard]] bool read(std::string_view name, std::vector<std::uint8_t>& out, std::string& error) const;

    // Reading is not safe from several threads on one MapArchive; different MapArchives may be used at once.

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;

    friend bool writeMapArchive(const MapArchive& source,
                                const std::map<std::string, std::vector<std::uint8_t>>& replaced,
                                const std::filesystem::path& target, std::string& error,
                                const std::map<std::string, std::vector<std::uint8_t>>& added);
};

// Writes a new archive to `target` that holds every file of `source`, with the bytes of `replaced` (file name
// in any case -> new contents) in place of those files. A name in `replaced` that the archive does not hold,
// or that names "(listfile)", "(attributes)" or "(signature)", is an error; so is a file of the source that
// cannot be read. The bytes before the archive in the source file (the 512-byte map header) are kept as they
// were. Files keep their names, storage flags (compressed or imploded, encrypted, sector checksums) and
// language; compressed files are packed anew with zlib. "(listfile)" and "(attributes)" are written anew;
// "(signature)" and a signature after the archive are left out, as a rewritten map's signature could not
// match. The archive is built and read back in temporary files beside `target`, which is then replaced whole,
// so on failure (false with a message) the old `target` is left as it was and no temporary file remains.
// `target` may be the source's own file. Files in `added` (name -> contents), which the archive must not hold
// yet, are stored after all others, compressed.
[[nodiscard]] bool writeMapArchive(const MapArchive& source,
                                   const std::map<std::string, std::vector<std::uint8_t>>& replaced,
                                   const std::filesystem::path& target, std::string& error,
                                   const std::map<std::string, std::vector<std::uint8_t>>& added = {});

} // namespace brindlemark
