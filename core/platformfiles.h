#pragma once

// The operating system's calls that core/'s file code rests on (files, locks, memory for file bytes), one file
// per system: platform_posix.cpp and platform_windows.cpp (CMake builds the one for the target). Everything above
// these calls is written once. Not for code outside core/.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace brindlemark::platform {

// This process's id, and whether the process with id `pid` still runs (one that exists but is not ours to
// signal or open counts as running).
unsigned long processId();
bool processAlive(unsigned long pid);

// Lets a write past the system's file size limit fail with an error number instead of ending the process.
void ignoreFileSizeSignal();

// Gives `file` (open on `path`) the owner and mode of `model`, where the system allows; on Windows, the hidden
// attribute.
void copyOwnerAndMode(std::FILE* file, const std::filesystem::path& path, const std::filesystem::path& model);

// Starts writing `length` bytes from `offset` of the file to the disk without waiting, so that the flush at the
// end waits for less. Only a hint: where the system has no such call it does nothing, and errors surface at the
// flush.
void startWriteBack(std::FILE* file, std::uint64_t offset, std::uint64_t length);

// Sends what the system holds of the file (already flushed out of stdio) to the disk. False with `errorNumber`
// set when the disk did not take it.
bool flushToDisk(std::FILE* file, int& errorNumber);

// How a rename treats its destination.
enum class RenameMode {
    ReplaceFile, // a file standing at the destination is replaced
    NewName,     // nothing stands at the destination (a folder moved aside or into place)
};
// Renames `from` to `to`. False with the system's reason in `why`; on Windows, a file that another program holds
// open is waited for a little, and then named as the reason.
bool renamePath(const std::filesystem::path& from, const std::filesystem::path& to, RenameMode mode, std::string& why);

// Whether `to` can be replaced now, found before a commit renames anything. On Windows a file that another
// program holds open without sharing its deletion refuses replacement; such a hold is often brief, so it is
// tried a few times. Other obstacles are left for the rename itself to report.
bool replaceableNow(const std::filesystem::path& to, std::string& why);

// Gives the file `source` the second name `name` (which does not exist). False where the file system cannot, or
// (on Windows) where the second name could not be removed again.
bool hardLink(const std::filesystem::path& source, const std::filesystem::path& name);

// Removes the file `path`, if it can.
void removeFile(const std::filesystem::path& path);

// Whether this user may write over the existing regular file `path`; false with the reason ("the file is
// read-only", "cannot write the file (Permission denied)").
bool writable(const std::filesystem::path& path, std::string& why);

// Whether two names are one name on this system's file systems (letter case aside on Windows).
bool sameName(const std::filesystem::path& a, const std::filesystem::path& b);
// The text of a path as locks compare it: lower case on Windows, as it stands elsewhere.
std::string foldNameCase(std::string text);

// A lock held by this process; kNoLock when none.
using LockHandle = std::intptr_t;
inline constexpr LockHandle kNoLock = -1;

enum class LockResult { Taken, Busy, Failed };
// Takes the lock that the number `key` names among this user's locks, waiting up to `wait` while another process
// holds it. Failed sets `why` to the system's reason.
LockResult takeLock(std::uint64_t key, std::chrono::milliseconds wait, LockHandle& handle, std::string& why);
void releaseLock(LockHandle handle);

// Memory for many megabytes of file bytes in huge pages, where the system has them: `data` is where the `size`
// bytes start, `mapping` and `bytes` what unmapPages() gives back. All empty where there are none; the caller then
// takes memory the ordinary way.
struct PageMapping {
    void* mapping = nullptr;
    std::size_t bytes = 0;
    std::uint8_t* data = nullptr;
};
PageMapping mapHugePages(std::size_t size);
void unmapPages(const PageMapping& pages);

} // namespace brindlemark::platform
