#pragma once

// Locks on the files a run writes.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace brindlemark {

// An advisory lock on a file or a folder for the length of a writing command, so that two runs on one file do
// not interleave. Released by the destructor. The lock belongs to the file's name, not to the file: replacing
// the file by a rename (as every write here does) keeps it, and a file that does not exist yet (an output) can
// be locked too. (On POSIX a lock on the file itself would stay on the old file when the run renames a new one
// into its place, and let a second run in before the run had committed its other files.) The lock is taken on
// a small file named after the path in a folder of the user's own under the temporary folder, on Windows on a
// named mutex of the session. While it is held, a commit that would replace the file first checks that nothing
// else changed it since the lock was taken (see FileTransaction::commit).
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock, waiting up to `wait` while another run holds it. False with a message naming the file.
    [[nodiscard]] bool acquire(const std::filesystem::path& path, std::string& error,
                               std::chrono::milliseconds wait = std::chrono::milliseconds(2000));
    void release();

    // What acquire() found and finished of a commit that a run which no longer exists left half-done beside
    // the file: one line per commit (see recoverInterruptedCommits).
    std::vector<std::string> recovered;

private:
    [[nodiscard]] bool take(const std::filesystem::path& path, std::string& error, std::chrono::milliseconds wait);
    std::intptr_t lock_ = -1;  // the system's hold on the lock (a file descriptor, a mutex), -1 when none
    std::uint64_t ticket_ = 0; // this lock among the ones the process holds
};

// The locks on every file a run writes (its main file or map folder, side files, outputs), taken in one order,
// by the files' resolved names, so that two runs that share some of them never wait on each other in a circle.
// A file named twice is locked once.
class FileLocks {
public:
    // Takes every lock, waiting up to `wait` in all; false with a message naming the busy file, holding none.
    // Empty paths are skipped.
    [[nodiscard]] bool acquire(const std::vector<std::filesystem::path>& paths, std::string& error,
                               std::chrono::milliseconds wait = std::chrono::milliseconds(2000));
    void release() { locks_.clear(); }

    // The lines of every lock's `recovered`, each once.
    std::vector<std::string> recovered;

private:
    std::vector<std::unique_ptr<FileLock>> locks_;
};

} // namespace brindlemark
