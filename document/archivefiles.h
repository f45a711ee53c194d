#pragma once

// The files of a map archive, as the document sees them: read by name and written anew. The archive module
// (archive/, StormLib) provides them; a build without it has the other implementation, which refuses every
// archive. CMake chooses the file: archivefiles_stormlib.cpp or archivefiles_none.cpp.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace brindlemark {

class ArchiveFiles {
public:
    virtual ~ArchiveFiles() = default;
    // Whether the archive holds a file of this name (any ASCII letter case).
    virtual bool contains(std::string_view name) const = 0;
    // The bytes of the named file; false with a message naming the archive and the file.
    [[nodiscard]] virtual bool read(std::string_view name, std::vector<std::uint8_t>& out,
                                    std::string& error) const = 0;
    // Writes the archive anew to `target` with `replaced` files given new bytes and `added` files after the
    // others; false with a message, `target` unchanged.
    [[nodiscard]] virtual bool write(const std::map<std::string, std::vector<std::uint8_t>>& replaced,
                                     const std::map<std::string, std::vector<std::uint8_t>>& added,
                                     const std::filesystem::path& target, std::string& error) const = 0;
};

// Opens the archive; null with a message naming the file when it cannot be read, or when this build reads no
// archives.
std::unique_ptr<ArchiveFiles> openArchiveFiles(const std::filesystem::path& path, std::string& error);

} // namespace brindlemark
