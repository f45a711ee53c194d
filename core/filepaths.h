#pragma once

// Paths: their text for messages, whether two name one file, where a write through a link lands; and the
// files a run is given, checked for one file given twice.

#include <filesystem>
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

} // namespace brindlemark
