#pragma once

// The side files of a run (trigger and script files outside the main file that renames are patched into):
// reading each once, checking them against the run's own files, and staging the patched ones with their
// backup copies. Every command that patches side files uses these: Replace on any form of main file, and import.

#include "core/fileio.h"
#include "replace/dryrun.h"

#include <filesystem>
#include <string>
#include <vector>

namespace brindlemark {

// The side files of a run: each file read once however many rows name it (by whatever spelling), with a pass per
// row and rename.
struct SideFileSet {
    std::vector<std::filesystem::path> paths; // per file, the first row that names it
    std::vector<SideText> texts;              // patched by the plan, in memory or in pieces
};

// How many bytes of side files a run holds in memory, where they are patched once. Files beyond are read in
// pieces twice, to count and to write, and take little memory whatever their size.
inline constexpr std::uint64_t kHeldSideBytes = std::uint64_t{64} << 20;

// Reads the rows' files, while their total stays within `holdUpTo` bytes; the others are only opened, and read
// in pieces later. False with "Failed to patch file %s" and the reason when one cannot be read.
[[nodiscard]] bool readSideFiles(const std::vector<std::filesystem::path>& rows, SideFileSet& out, std::string& error,
                                 std::uint64_t holdUpTo = kHeldSideBytes);

// Stages, for a run that renamed something, each side file's backup copy (with `backups`) and its patched bytes
// where they differ. Counts the files that change. False with the message on failure.
[[nodiscard]] bool stageSideFiles(const SideFileSet& sides, bool anyRename, bool backups, FileTransaction& files,
                                  std::size_t& changed, std::string& error);

// Refuses a side file that is one of the run's own files (the main file, the replace list). False with the
// message.
[[nodiscard]] bool checkSideFilesApart(const std::vector<std::filesystem::path>& rows,
                                       const std::filesystem::path& mainFile, const std::filesystem::path& list,
                                       std::string& error);

// Refuses a side file that is `file`, one of the run's own files, named by its role ("the added file"). False
// with the message.
[[nodiscard]] bool checkSideFilesApartFrom(const std::vector<std::filesystem::path>& rows,
                                           const std::filesystem::path& file, const std::string& role,
                                           std::string& error);

// Adds the side files to the run's files, each written with its backup copy when `backups`.
void addSideFiles(RunFiles& files, const std::vector<std::filesystem::path>& rows, bool backups);

// A key that is the same for every spelling of one existing file's path.
std::filesystem::path sameFileKey(const std::filesystem::path& path);

} // namespace brindlemark
