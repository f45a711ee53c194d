// What paths name: text for messages, one file or one place, a link's target; and the files a run is given.
#include "core/filepaths.h"

#include "core/bundlepath.h"
#include "core/platformfiles.h"

#include <system_error>

namespace fs = std::filesystem;

namespace brindlemark {

std::string errorText(int errorNumber) {
    return errorNumber ? std::generic_category().message(errorNumber) : std::string("unknown error");
}

std::string reasonOf(const std::string& message) {
    const std::size_t open = message.rfind(" (");
    if (open != std::string::npos && message.ends_with(")"))
        return message.substr(open + 2, message.size() - open - 3);
    const std::size_t colon = message.rfind(": ");
    return colon == std::string::npos ? message : message.substr(colon + 2);
}

std::string pathText(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    const bool same = fs::equivalent(a, b, ec);
    return !ec && same;
}

bool samePlace(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    const bool hasA = fs::exists(a, ec);
    const bool hasB = fs::exists(b, ec);
    if (hasA || hasB)
        return hasA && hasB && sameFile(a, b);
    if (!platform::sameName(a.filename(), b.filename()))
        return false;
    const fs::path folderA = a.has_parent_path() ? a.parent_path() : fs::path(".");
    const fs::path folderB = b.has_parent_path() ? b.parent_path() : fs::path(".");
    if (fs::exists(folderA, ec) && fs::exists(folderB, ec))
        return sameFile(folderA, folderB);
    return platform::sameName(fs::absolute(a, ec).lexically_normal(), fs::absolute(b, ec).lexically_normal());
}

bool insideFolder(const fs::path& path, const fs::path& folder) {
    std::error_code ec;
    const fs::path outer = fs::weakly_canonical(folder, ec);
    if (ec)
        return false;
    const fs::path inner = fs::weakly_canonical(path, ec);
    if (ec)
        return false;
    auto o = outer.begin();
    auto i = inner.begin();
    for (; o != outer.end(); ++o, ++i) {
        if (o->empty() && std::next(o) == outer.end())
            break; // the empty last element of a path that ends in a separator
        if (i == inner.end() || !platform::sameName(*o, *i))
            return false;
    }
    return true;
}

bool writeStaysIn(const fs::path& path, const fs::path& folder, fs::path& target) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec))
        return true;
    target = fs::weakly_canonical(path, ec);
    return !ec && insideFolder(target, folder);
}

fs::path writeTarget(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec))
        return path;
    // Followed link by link, as the file a link names may not exist yet: a dangling link is written through,
    // never replaced by a file (weakly_canonical would stop at the link).
    fs::path at = path;
    for (int hops = 0; hops < 40 && fs::is_symlink(at, ec); ++hops) {
        const fs::path to = fs::read_symlink(at, ec);
        if (ec)
            return path;
        at = to.is_absolute() ? to : at.parent_path() / to;
    }
    fs::path target = fs::weakly_canonical(at, ec);
    return ec ? at : target;
}

void RunFiles::read(const fs::path& path, std::string role) {
    files_.push_back({path, std::move(role), false, false});
}

void RunFiles::written(const fs::path& path, std::string role, bool backup) {
    for (const File& f : files_)
        if (f.role == role && samePlace(f.path, path))
            return;
    std::error_code ec;
    const bool folder = fs::is_directory(path, ec);
    const std::string name = pathText(path);
    files_.push_back({path, std::move(role), true, false});
    if (backup) {
        const fs::path copy = backupName(splitPath(folder ? folderItself(path) : path));
        files_.push_back({copy, (folder ? "the backup folder of " : "the backup copy of ") + name, true, folder});
    }
}

bool RunFiles::check(std::string& error) const {
    for (std::size_t i = 0; i < files_.size(); ++i)
        for (std::size_t j = 0; j < files_.size(); ++j) {
            const File& a = files_[i];
            const File& b = files_[j];
            if (i == j || a.role == b.role)
                continue;
            if (i < j && (a.written || b.written) && samePlace(a.path, b.path)) {
                error = pathText(a.path) == pathText(b.path)
                            ? pathText(a.path) + " is both " + a.role + " and " + b.role
                            : pathText(a.path) + " (" + a.role + ") and " + pathText(b.path) + " (" + b.role +
                                  ") are one file";
                error += "; nothing was written";
                return false;
            }
            if (a.folder && !samePlace(a.path, b.path) && insideFolder(b.path, a.path)) {
                error = pathText(b.path) + " (" + b.role + ") is inside " + pathText(a.path) + ", " + a.role +
                        ", which this run replaces whole; nothing was written";
                return false;
            }
        }
    return true;
}

} // namespace brindlemark
