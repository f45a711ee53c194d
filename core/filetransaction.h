#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace brindlemark {

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
    [[nodiscard]] bool
    stageStreamed(const std::filesystem::path& target,
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

} // namespace brindlemark
