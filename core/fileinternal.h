#pragma once

// What the parts of core/fileio (saving one file, the transaction, the locks, reading) share among themselves.
// Not for code outside core/.

#include "core/fileio.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace brindlemark {

// Asks the fault hook about a step; sets errno and returns false when the step is to fail.
bool stepAllowed(FileStep step, const std::filesystem::path& path);

// Flushes, sends to the disk and closes `file`. False with `errorNumber` set when any of it failed; the file is
// closed either way.
bool syncAndClose(std::FILE* file, int& errorNumber);

// Renames a file over `to` (a file standing there is replaced), or moves a folder to a name where nothing
// stands. Both are steps the fault hook sees. False with the reason in `why`.
bool renameOver(const std::filesystem::path& from, const std::filesystem::path& to, std::string& why);
bool renameFolder(const std::filesystem::path& from, const std::filesystem::path& to, std::string& why);

// Whether `folder` holds the journal of a commit that a run which no longer exists stopped part-way: its
// temporaries are then what finishes or undoes it, and must stay. Journals cut off while they were being
// written stand for no rename and are removed.
bool holdsInterruptedCommit(const std::filesystem::path& folder);

// A hash of a file's contents that sees a change of any byte with all but certainty.
std::uint64_t contentHash(std::span<const std::uint8_t> bytes);

// Remembers the file read as it was, where it lies in a folder that this process holds a lock on.
void noteRead(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
// The same for a file read in pieces, by its size and contentHash().
void noteRead(const std::filesystem::path& path, std::uint64_t size, std::uint64_t hash);

// False, naming the file, when a file about to be replaced that this process holds a lock on changed since the
// lock was taken (or, in a locked folder, since it was read): another program's change is never written over.
bool heldFilesUnchanged(const std::vector<std::filesystem::path>& targets, std::string& error);

// After this process wrote them, the files hold its own contents: no later commit of the run checks them again
// (which would mean reading each once more).
void forgetHeldStamps(const std::vector<std::filesystem::path>& targets);

} // namespace brindlemark
