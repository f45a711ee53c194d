#pragma once

// Files on disk. Every write goes through a temporary file created exclusively beside its target and is put in
// place by a rename only when all of it was written and flushed, so a user's file is either as it was or wholly
// new. A symbolic link is followed and kept (its target is written), and the replaced file's owner and mode
// carry over. Several files that must change together are staged first and committed at once (FileTransaction).
//
// The code: filesave.cpp (one file), filetransaction.cpp (several, with the journal that finishes or undoes a
// commit that was killed), filelock.cpp, fileread.cpp, filepaths.cpp; under them the system's calls, one file per
// system (platformfiles.h).

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace brindlemark {

// A path as UTF-8 text, for messages.
std::string pathText(const std::filesystem::path& path);

#ifdef _WIN32
// The path as the wide Windows calls take it: an absolute path of MAX_PATH characters or more gets the "\\?\"
// prefix ("\\?\UNC\" for a network path), under which Windows takes paths of up to 32767 characters, so that
// no path is cut. Shorter and relative paths stay as they are. For libraries that open files themselves too.
std::wstring windowsPath(const std::filesystem::path& path);
#endif

// The system's text for an error number ("No space left on device").
std::string errorText(int errorNumber);

// The reason that ends a message of this file ("a.w3o: cannot open the file (Permission denied)" gives
// "Permission denied", "a.w3o: the file is read-only" gives "the file is read-only"); the whole message when it
// has none.
std::string reasonOf(const std::string& message);

// The steps of writing a file, as the fault hook sees them.
enum class FileStep { Open, Write, Flush, Rename, Copy };

// Called before each step of every write with the file it concerns; a non-zero result makes the step fail with
// that error number. For tests that prove what a failure at any step leaves behind. Null (the default) for none.
using FaultHook = std::function<int(FileStep step, const std::filesystem::path& path)>;
void setFaultHook(FaultHook hook);

// A name for a temporary file beside `target`, short whatever the target's name, so that a target whose name
// is as long as the system allows still gets one. No other write of this process uses it.
std::filesystem::path temporaryBeside(const std::filesystem::path& target);

// Removes the temporary files (and backup folders being made) that a run which no longer exists left beside
// `target`.
void removeStaleTemporaries(const std::filesystem::path& target);
// Removes every temporary file and folder in `folder` that a run which no longer exists left there, whatever
// its target: for a map folder, whose every file is the target of its runs.
void removeStaleTemporariesIn(const std::filesystem::path& folder);

// Creates a new file for writing, failing when anything (a file, a link) already stands at `path`. Null with
// errno set on failure.
std::FILE* createFileExclusive(const std::filesystem::path& path);

// Opens a file with a C stdio mode; wide-character paths work on every platform. Null on failure.
std::FILE* openFile(const std::filesystem::path& path, const char* mode);

// The most any input is read into memory: as large as the largest object file, and more than any map or text
// this program works on holds.
inline constexpr std::uint64_t kMaxReadSize = std::uint64_t{1} << 30;

// Reads the whole file into `out`. On failure returns false, sets `error` to a message that names the file, and
// leaves `out` empty. A file larger than `limit` bytes is refused before anything is read; a pipe is read up to
// `limit` bytes and refused beyond. A device or socket is refused unread: a stream such as /dev/zero never ends.
[[nodiscard]] bool readFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out, std::string& error,
                            std::uint64_t limit = kMaxReadSize);

// Whether the two paths name one existing file (links resolved, however spelled).
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// Whether the two paths name one place for a file: one existing file, or, where neither exists yet, one name in
// one folder (letter case aside on Windows). A run that would write one of them must not be given both.
bool samePlace(const std::filesystem::path& a, const std::filesystem::path& b);

// Whether `path` names `folder` or a place inside it, at any depth, links resolved on both sides.
bool insideFolder(const std::filesystem::path& path, const std::filesystem::path& folder);

// Whether a write to `path` stays in `folder`: true unless `path` is a symbolic link whose final target lies
// outside `folder`; that target is then set in `target`.
bool writeStaysIn(const std::filesystem::path& path, const std::filesystem::path& folder,
                  std::filesystem::path& target);

// The file that writing to `path` changes: the final target of a symbolic link, else `path` itself.
std::filesystem::path writeTarget(const std::filesystem::path& path);

// Whether a write to `path` may replace it: a file that exists must be a regular file (links followed) that is
// not read-only. False with the reason, naming the file.
[[nodiscard]] bool checkReplaceable(const std::filesystem::path& path, std::string& error);

// The files a run is given, and whether it writes them, to refuse one file given twice before anything is read:
// a backup location that is also the identifier list, a side file that is another side file's backup.
class RunFiles {
public:
    // A file the run only reads: "the replace list".
    void read(const std::filesystem::path& path, std::string role);
    // A file the run writes, as `role` ("a side file"), and with `backup` its backup copy BACKUP_<name> (for a
    // folder, the backup folder beside it, replaced whole). A file already added in the same role by another
    // spelling is the same file given on two rows, and counts once.
    void written(const std::filesystem::path& path, std::string role, bool backup);
    // False when two of the files are one (by file identity, or one place for a file not there yet) and the run
    // writes it, or when a file lies inside a backup folder that the run replaces; the message names both roles:
    // "BACKUP_map.w3o is both the identifier list and the backup copy of map.w3o; nothing was written".
    [[nodiscard]] bool check(std::string& error) const;

private:
    struct File {
        std::filesystem::path path;
        std::string role;
        bool written = false;
        bool folder = false; // a backup folder: nothing inside it may be given either
    };
    std::vector<File> files_;
};

// Writes a file so that the target is either left as it was or replaced whole: the bytes go into a temporary file
// beside the target, and commit() puts it in the target's place. A SaveFile destroyed without a successful
// commit() removes its temporary file.
class SaveFile {
public:
    explicit SaveFile(std::filesystem::path target);
    ~SaveFile();
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    // The file whose owner and mode the new file takes; by default the target's own, where it exists.
    void setModel(std::filesystem::path model) { model_ = std::move(model); }
    // Checks that the target may be replaced and creates the temporary file with the target's owner and mode.
    // False with a message naming the target when that fails.
    [[nodiscard]] bool open(std::string& error);
    // Appends bytes; a failure is remembered and reported by finish() or commit().
    void write(const void* data, std::size_t size);
    // Flushes the bytes to disk and closes the temporary file, leaving the target alone.
    [[nodiscard]] bool finish(std::string& error);
    // Puts the finished temporary file in the target's place.
    [[nodiscard]] bool replace(std::string& error);
    // finish() then replace(). False with a message when anything failed; the target is then unchanged.
    [[nodiscard]] bool commit(std::string& error);
    // Whether the target can be replaced now (on Windows: no other program holds it open); false with a message
    // that names it.
    [[nodiscard]] bool replaceable(std::string& error) const;
    // Removes the temporary file, if any.
    void discard();
    // Takes `written`, a complete file beside the target, as the temporary file to put in place.
    void adopt(std::filesystem::path written);

    // The file that will be replaced (a link's target).
    const std::filesystem::path& target() const { return target_; }
    // The temporary file that replace() puts in the target's place; empty when there is none.
    const std::filesystem::path& temporary() const { return temp_; }

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::filesystem::path model_;
    std::FILE* file_ = nullptr;
    bool finished_ = false;
    int errorNumber_ = 0;
    std::uint64_t written_ = 0;     // bytes written so far
    std::uint64_t writtenBack_ = 0; // of those, the ones already sent on their way to the disk
};

// Writes bytes to `target` through a SaveFile.
[[nodiscard]] bool saveBytes(const std::filesystem::path& target, const void* data, std::size_t size,
                             std::string& error);

// Files that change together. stage() and stageCopy() write every new file to a temporary beside its target and
// touch nothing else; commit() then puts them in place, in the order staged. Destroyed without a commit, the
// transaction removes its temporaries and every file stays as it was.
class FileTransaction {
public:
    FileTransaction();
    ~FileTransaction();
    FileTransaction(const FileTransaction&) = delete;
    FileTransaction& operator=(const FileTransaction&) = delete;

    // New contents for `target`.
    [[nodiscard]] bool stage(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
                             std::string& error);
    // New contents for `target` that `write` hands piece by piece, in order, to the function it is given: the
    // contents are never held whole in memory.
    [[nodiscard]] bool stageStreamed(
        const std::filesystem::path& target,
        const std::function<void(const std::function<void(const std::uint8_t*, std::size_t)>&)>& write,
        std::string& error);
    // A copy of `from` as `to` (a backup copy). A `to` that is a symbolic link is refused, naming it: a backup
    // is never written through a link.
    [[nodiscard]] bool stageCopy(const std::filesystem::path& from, const std::filesystem::path& to,
                                 std::string& error);
    // A backup copy of `from`, which this transaction also stages new contents for. As `from` is then replaced
    // by a rename and its old contents never change, the backup is a second name for those contents where the
    // file system allows (no bytes copied), else a copy. A `to` that is a symbolic link is refused.
    [[nodiscard]] bool stageBackupOfReplaced(const std::filesystem::path& from, const std::filesystem::path& to,
                                             std::string& error);
    // A backup folder: at the commit, `folder` is replaced whole by a new folder that holds a backup copy of each
    // of `files` (files this transaction also stages new contents for) under its file name, so that the folder
    // is one snapshot of the files as this run found them. The new folder is made now beside `folder`; the old
    // one is removed only when the whole commit succeeds (or when files of the commit already hold their new
    // contents, whose old contents the new folder holds). A `folder` that is a symbolic link is refused. With no
    // `files`, nothing is staged and an earlier backup folder stays as it is.
    [[nodiscard]] bool stageBackupFolder(const std::filesystem::path& folder,
                                         const std::vector<std::filesystem::path>& files, std::string& error);
    // New contents for `target` that `write` puts into the file it is given (which does not exist yet).
    [[nodiscard]] bool stageWrittenBy(const std::filesystem::path& target,
                                      const std::function<bool(const std::filesystem::path&, std::string&)>& write,
                                      std::string& error);
    // Puts every staged file in place. When one cannot be, the message names the files that already hold their
    // new contents and those that still hold the old; a backup folder swapped in before any file changed is
    // swapped back. A file that this process holds a lock on (FileLock) and that another program changed since
    // the lock was taken (or since it was read, in a locked folder) fails the commit before anything changes.
    [[nodiscard]] bool commit(std::string& error);

    bool empty() const { return files_.empty(); }
    // The files staged, as named when staged.
    std::vector<std::filesystem::path> targets() const;

private:
    struct Staged;
    [[nodiscard]] bool commitFiles(std::string& error);
    // The commit of a single file, which one rename makes whole.
    [[nodiscard]] bool commitOne(std::string& error);
    std::vector<std::unique_ptr<Staged>> files_;
};

// A commit of several files writes a journal beside them before its first rename (the temporaries, where the
// old contents are kept, and the targets) and removes it when done. This finishes the commits that runs which no
// longer exist left half-done in the folder of `path`, and in `path` itself when it is a folder: forward when
// every file still to be put in place is there, else back to the old contents. One line per commit, saying which
// it did and naming its files; empty when there was none.
std::vector<std::string> recoverInterruptedCommits(const std::filesystem::path& path);

// What a file was when it was read: to tell whether something else changed it since.
struct FileStamp {
    bool exists = false;
    std::uint64_t size = 0;
    std::filesystem::file_time_type modified{};
    std::uint64_t hash = 0;

    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};
// The stamp of the file as it is on disk now.
FileStamp stampFile(const std::filesystem::path& path);

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
    std::intptr_t lock_ = -1; // the system's hold on the lock (a file descriptor, a mutex), -1 when none
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
