// Files that change together: staged beside their targets, then put in place at once, with a journal that lets
// the next run finish or undo a commit that was killed part-way.
#include "core/filetransaction.h"

#include "core/fileinternal.h"
#include "core/platformfiles.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace fs = std::filesystem;

namespace brindlemark {

namespace {

// Copies the bytes of `from` into `file`, open for writing, and finishes it. False with a message on failure.
bool copyInto(const fs::path& from, SaveFile& file, std::string& error) {
    std::FILE* in = openFile(from, "rb");
    if (!in) {
        error = pathText(from) + ": cannot open the file (" + errorText(errno) + ")";
        return false;
    }
    std::uint8_t buffer[1 << 16];
    bool ok = true;
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
        file.write(buffer, got);
        if (got < sizeof buffer) {
            ok = !std::ferror(in);
            break;
        }
    }
    const int readError = errno;
    std::fclose(in);
    if (!ok) {
        error = pathText(from) + ": cannot read the file (" + errorText(readError) + ")";
        return false;
    }
    return file.finish(error);
}

// Refuses a backup location that is a symbolic link: a backup is never written through one.
bool checkNotLink(const fs::path& path, std::string& error) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec))
        return true;
    error = pathText(path) + ": a symbolic link, and a backup is never written through a link";
    return false;
}

std::string joinPaths(const std::vector<fs::path>& paths) {
    std::string text;
    for (const fs::path& p : paths)
        text += (text.empty() ? "" : ", ") + pathText(p);
    return text.empty() ? "none" : text;
}

// The journal of a commit of several files: "~bmcommit-<process>-<n>.journal" in each folder the commit writes
// to. Its lines: a first line naming the format, then per file "file" or "folder" and three paths (the new
// contents waiting to be put in place; where the old contents are kept, "-" when the target did not exist; the
// target), then per copy of the journal "copy" and its path. Paths are UTF-8, with "%", CR and LF escaped.
constexpr std::string_view kJournalHeader = "brindlemark commit journal 1";
constexpr std::string_view kJournalPrefix = "~bmcommit-";
constexpr std::string_view kJournalSuffix = ".journal";

struct JournalEntry {
    bool folder = false;
    fs::path temp;
    fs::path aside;
    fs::path target;
};

struct Journal {
    std::vector<JournalEntry> entries;
    std::vector<fs::path> copies;
};

bool present(const fs::path& path) {
    std::error_code ec;
    return !path.empty() && fs::exists(fs::symlink_status(path, ec));
}

std::string escapedPath(const fs::path& path) {
    std::string out;
    for (char c : pathText(path)) {
        if (c == '%')
            out += "%25";
        else if (c == '\n')
            out += "%0A";
        else if (c == '\r')
            out += "%0D";
        else
            out += c;
    }
    return out;
}

fs::path unescapedPath(std::string_view text) {
    std::u8string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() + 0 && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char8_t>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += static_cast<char8_t>(text[i]);
        }
    }
    return fs::path(out);
}

fs::path absolutePath(const fs::path& path) {
    std::error_code ec;
    fs::path out = fs::absolute(path, ec);
    return ec ? path : out;
}

// Writes a flushed copy of the journal into every folder that one of its targets stands in.
bool writeJournal(Journal& journal, std::string& error) {
    static std::atomic<unsigned> counter{0};
    const std::string name = std::string(kJournalPrefix) + std::to_string(platform::processId()) + "-" +
                             std::to_string(counter++) + std::string(kJournalSuffix);
    for (const JournalEntry& entry : journal.entries) {
        const fs::path copy = entry.target.parent_path() / name;
        if (std::find(journal.copies.begin(), journal.copies.end(), copy) == journal.copies.end())
            journal.copies.push_back(copy);
    }
    std::string text = std::string(kJournalHeader) + "\n";
    for (const JournalEntry& entry : journal.entries)
        text += std::string(entry.folder ? "folder" : "file") + "\n" + escapedPath(entry.temp) + "\n" +
                (entry.aside.empty() ? std::string("-") : escapedPath(entry.aside)) + "\n" + escapedPath(entry.target) +
                "\n";
    for (const fs::path& copy : journal.copies)
        text += "copy\n" + escapedPath(copy) + "\n";
    text += "end\n";
    // Written in place: a journal cut off by a kill lacks its last line and counts for nothing.
    for (std::size_t i = 0; i < journal.copies.size(); ++i) {
        const fs::path& copy = journal.copies[i];
        std::FILE* file = stepAllowed(FileStep::Open, copy) ? createFileExclusive(copy) : nullptr;
        int errorNumber = file ? 0 : errno;
        bool ok = file != nullptr;
        if (ok &&
            (!stepAllowed(FileStep::Write, copy) || std::fwrite(text.data(), 1, text.size(), file) != text.size())) {
            ok = false;
            errorNumber = errno;
        }
        if (ok && !stepAllowed(FileStep::Flush, copy)) {
            ok = false;
            errorNumber = errno;
        }
        if (file && !syncAndClose(file, errorNumber))
            ok = false;
        if (!ok) {
            error =
                pathText(copy) + ": cannot write the journal of this run's changes (" + errorText(errorNumber) + ")";
            for (std::size_t j = 0; j <= i; ++j) {
                std::error_code ec;
                fs::remove(journal.copies[j], ec);
            }
            journal.copies.clear();
            return false;
        }
    }
    return true;
}

void removeJournal(const Journal& journal) {
    for (const fs::path& copy : journal.copies) {
        std::error_code ec;
        fs::remove(copy, ec);
    }
}

bool readJournal(const fs::path& path, Journal& journal) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!readFile(path, bytes, error))
        return false;
    std::vector<std::string_view> lines;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            return false; // cut off: written only in part, so no rename happened
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (lines.empty() || lines[0] != kJournalHeader)
        return false;
    for (std::size_t i = 1; i < lines.size();) {
        if ((lines[i] == "file" || lines[i] == "folder") && i + 3 < lines.size()) {
            JournalEntry entry;
            entry.folder = lines[i] == "folder";
            entry.temp = unescapedPath(lines[i + 1]);
            if (lines[i + 2] != "-")
                entry.aside = unescapedPath(lines[i + 2]);
            entry.target = unescapedPath(lines[i + 3]);
            journal.entries.push_back(std::move(entry));
            i += 4;
        } else if (lines[i] == "copy" && i + 1 < lines.size()) {
            journal.copies.push_back(unescapedPath(lines[i + 1]));
            i += 2;
        } else {
            return lines[i] == "end" && i + 1 == lines.size() && !journal.entries.empty();
        }
    }
    return false;
}

// Keeps the old contents of `target` as `aside` until the commit is done: a second name for them where the file
// system allows, else a copy.
bool keepAside(const fs::path& target, const fs::path& aside, std::string& error) {
    if (platform::hardLink(target, aside))
        return true;
    SaveFile copy(aside);
    copy.setModel(target);
    if (copy.open(error) && copyInto(target, copy, error) && copy.replace(error))
        return true;
    error = pathText(target) + ": cannot keep the old contents until the files are written (" + reasonOf(error) + ")";
    return false;
}

// Puts every file's new contents in place, in order, then drops the old contents.
bool rollForward(const Journal& journal, std::string& why) {
    for (const JournalEntry& entry : journal.entries) {
        if (!present(entry.temp))
            continue; // already in place
        if (entry.folder) {
            std::error_code ec;
            if (present(entry.target) && !entry.aside.empty() && !present(entry.aside)) {
                if (!renameFolder(entry.target, entry.aside, why))
                    return false;
            } else if (present(entry.target)) {
                fs::remove_all(entry.target, ec);
            }
            if (!renameFolder(entry.temp, entry.target, why))
                return false;
        } else if (!renameOver(entry.temp, entry.target, why)) {
            return false;
        }
    }
    for (const JournalEntry& entry : journal.entries) {
        std::error_code ec;
        if (!entry.aside.empty())
            fs::remove_all(entry.aside, ec);
    }
    return true;
}

// Puts every file's old contents back, last first, and drops the new contents.
bool rollBack(const Journal& journal, std::string& why) {
    for (auto it = journal.entries.rbegin(); it != journal.entries.rend(); ++it) {
        const JournalEntry& entry = *it;
        std::error_code ec;
        if (entry.folder) {
            fs::remove_all(present(entry.temp) ? entry.temp : entry.target, ec);
            if (present(entry.aside) && !renameFolder(entry.aside, entry.target, why))
                return false;
        } else if (present(entry.temp)) {
            fs::remove(entry.temp, ec); // not yet in place: the target still holds its old contents
            if (!entry.aside.empty())
                fs::remove(entry.aside, ec);
        } else if (!entry.aside.empty()) {
            if (present(entry.aside) && !renameOver(entry.aside, entry.target, why))
                return false;
        } else {
            fs::remove(entry.target, ec); // a file this commit made
        }
    }
    return true;
}

// Whether the journal's renames stopped part-way in order, so that finishing them is what the run meant.
bool canRollForward(const Journal& journal) {
    bool anyDone = false;
    bool waiting = false;
    for (const JournalEntry& entry : journal.entries) {
        const bool done = !present(entry.temp);
        if (done && waiting)
            return false; // a later file in place while an earlier one waits: something else removed files
        anyDone = anyDone || done;
        waiting = waiting || !done;
    }
    return anyDone;
}

// The journals in `folder` of runs that no longer exist.
std::vector<fs::path> deadJournalsIn(const fs::path& folder) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = pathText(it->path().filename());
        if (!name.starts_with(kJournalPrefix) || !name.ends_with(kJournalSuffix))
            continue;
        const unsigned long pid = std::strtoul(name.c_str() + kJournalPrefix.size(), nullptr, 10);
        if (pid != 0 && pid != platform::processId() && !platform::processAlive(pid))
            out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

std::vector<std::string> recoverInterruptedCommits(const fs::path& path) {
    std::vector<std::string> report;
    std::vector<fs::path> folders = {path.parent_path().empty() ? fs::path(".") : path.parent_path()};
    std::error_code ec;
    if (fs::is_directory(path, ec))
        folders.push_back(path);
    for (const fs::path& folder : folders)
        for (const fs::path& found : deadJournalsIn(folder)) {
            Journal journal;
            if (!readJournal(found, journal)) {
                // Written only in part: the run stopped before its first rename, and its temporaries are
                // removed as any dead run's are.
                fs::remove(found, ec);
                continue;
            }
            std::vector<fs::path> targets;
            for (const JournalEntry& entry : journal.entries)
                targets.push_back(entry.target);
            const bool forward = canRollForward(journal);
            std::string why;
            if (forward ? rollForward(journal, why) : rollBack(journal, why)) {
                removeJournal(journal);
                report.push_back(
                    std::string("a run that stopped while writing its files was ") +
                    (forward ? "finished: new contents put in place for " : "undone: old contents put back for ") +
                    joinPaths(targets));
            } else {
                report.push_back(pathText(found) + ": a run that stopped while writing its files could not be " +
                                 (forward ? "finished" : "undone") + " (" + why + "); its journal is kept");
            }
        }
    return report;
}

bool holdsInterruptedCommit(const fs::path& folder) {
    for (const fs::path& found : deadJournalsIn(folder)) {
        Journal journal;
        if (readJournal(found, journal))
            return true;
        std::error_code ec;
        fs::remove(found, ec);
    }
    return false;
}

struct FileTransaction::Staged {
    fs::path named;
    SaveFile file;
    bool done = false;
    // A backup folder: the new folder made beside `named`, and where the old one was moved at the commit.
    bool folder = false;
    fs::path newFolder;
    fs::path oldFolder;
    // Where the target's old contents are kept while a commit of several files runs (for a folder: where the
    // old folder goes); empty when there are none.
    fs::path aside;

    explicit Staged(const fs::path& path) : named(path), file(path) {}
    ~Staged() {
        std::error_code ec;
        if (!newFolder.empty())
            fs::remove_all(newFolder, ec);
    }

    // Puts the new folder in the place of `named`, the old one (if any) moved aside.
    bool swapFolder(std::string& why) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(named, ec))) {
            const fs::path away = aside.empty() ? temporaryBeside(named) : aside;
            if (!renameFolder(named, away, why))
                return false;
            oldFolder = away;
        }
        if (!renameFolder(newFolder, named, why)) {
            std::string ignored;
            if (!oldFolder.empty() && renameFolder(oldFolder, named, ignored))
                oldFolder.clear();
            return false;
        }
        newFolder.clear();
        return true;
    }

    // Puts the old folder back in place of the new one.
    void unswapFolder() {
        std::error_code ec;
        fs::remove_all(named, ec);
        std::string ignored;
        if (!oldFolder.empty() && renameFolder(oldFolder, named, ignored))
            oldFolder.clear();
        done = false;
    }

    void dropOldFolder() {
        std::error_code ec;
        if (!oldFolder.empty())
            fs::remove_all(oldFolder, ec);
        oldFolder.clear();
    }
};

FileTransaction::FileTransaction() = default;
FileTransaction::~FileTransaction() = default;

bool FileTransaction::stage(const fs::path& target, std::span<const std::uint8_t> bytes, std::string& error) {
    return stageStreamed(
        target, [bytes](const auto& put) { put(bytes.data(), bytes.size()); }, error);
}

bool FileTransaction::stageStreamed(
    const fs::path& target,
    const std::function<void(const std::function<void(const std::uint8_t*, std::size_t)>&)>& write,
    std::string& error) {
    auto staged = std::make_unique<Staged>(target);
    if (!staged->file.open(error))
        return false;
    write([&file = staged->file](const std::uint8_t* data, std::size_t size) { file.write(data, size); });
    if (!staged->file.finish(error))
        return false;
    files_.push_back(std::move(staged));
    return true;
}

bool FileTransaction::stageCopy(const fs::path& from, const fs::path& to, std::string& error) {
    if (!checkNotLink(to, error))
        return false;
    if (!stepAllowed(FileStep::Copy, to)) {
        error = pathText(to) + ": cannot copy " + pathText(from) + " there (" + errorText(errno) + ")";
        return false;
    }
    auto staged = std::make_unique<Staged>(to);
    staged->file.setModel(from); // a backup copy keeps the original's owner and mode
    if (!staged->file.open(error) || !copyInto(from, staged->file, error))
        return false;
    files_.push_back(std::move(staged));
    return true;
}

bool FileTransaction::stageBackupOfReplaced(const fs::path& from, const fs::path& to, std::string& error) {
    if (!checkNotLink(to, error))
        return false;
    auto staged = std::make_unique<Staged>(to);
    const fs::path target = staged->file.target();
    if (!checkReplaceable(target, error))
        return false;
    if (!stepAllowed(FileStep::Copy, to)) {
        error = pathText(to) + ": cannot copy " + pathText(from) + " there (" + errorText(errno) + ")";
        return false;
    }
    removeStaleTemporaries(target);
    const fs::path source = writeTarget(from);
    const fs::path temp = temporaryBeside(target);
    if (!platform::hardLink(source, temp))
        return stageCopy(from, to, error);
    staged->file.adopt(temp);
    files_.push_back(std::move(staged));
    return true;
}

bool FileTransaction::stageBackupFolder(const fs::path& folder, const std::vector<fs::path>& files,
                                        std::string& error) {
    if (!checkNotLink(folder, error))
        return false;
    removeStaleTemporaries(folder);
    // A run that only adds files replaces none: an empty backup would restore nothing and take the place of the
    // earlier one, which stays instead.
    if (files.empty())
        return true;
    auto staged = std::make_unique<Staged>(folder);
    staged->folder = true;
    for (int attempt = 0; attempt < 8 && staged->newFolder.empty(); ++attempt) {
        std::error_code ec;
        const fs::path temp = temporaryBeside(folder);
        if (!stepAllowed(FileStep::Open, folder)) {
            error = pathText(folder) + ": cannot make the folder (" + errorText(errno) + ")";
            return false;
        }
        if (fs::create_directory(temp, ec))
            staged->newFolder = temp;
        else if (ec) {
            error = pathText(folder) + ": cannot make the folder (" + ec.message() + ")";
            return false;
        }
    }
    if (staged->newFolder.empty()) {
        error = pathText(folder) + ": cannot make the folder (" + errorText(EEXIST) + ")";
        return false;
    }
    for (const fs::path& from : files) {
        const fs::path to = staged->newFolder / from.filename();
        const fs::path named = folder / from.filename();
        if (!stepAllowed(FileStep::Copy, named)) {
            error = pathText(named) + ": cannot copy " + pathText(from) + " there (" + errorText(errno) + ")";
            return false;
        }
        // The file is replaced by a rename and its old contents never change: a second name for them will do.
        if (platform::hardLink(writeTarget(from), to))
            continue;
        SaveFile copy(to);
        copy.setModel(from);
        if (!copy.open(error) || !copyInto(from, copy, error) || !copy.replace(error)) {
            error = pathText(named) + ": " + reasonOf(error);
            return false;
        }
    }
    files_.push_back(std::move(staged));
    return true;
}

bool FileTransaction::stageWrittenBy(const fs::path& target,
                                     const std::function<bool(const fs::path&, std::string&)>& write,
                                     std::string& error) {
    auto staged = std::make_unique<Staged>(target);
    // The temporary file that the transaction puts in place is the one the writer makes.
    if (!staged->file.open(error))
        return false;
    const fs::path temp = temporaryBeside(staged->file.target());
    if (!write(temp, error)) {
        std::error_code ec;
        fs::remove(temp, ec);
        return false;
    }
    // Write the writer's bytes through the staged file, so that owner, mode and the flush are those of any save.
    std::vector<std::uint8_t> bytes;
    const bool read = readFile(temp, bytes, error);
    std::error_code ec;
    fs::remove(temp, ec);
    if (!read)
        return false;
    staged->file.write(bytes.data(), bytes.size());
    if (!staged->file.finish(error))
        return false;
    files_.push_back(std::move(staged));
    return true;
}

std::vector<fs::path> FileTransaction::targets() const {
    std::vector<fs::path> out;
    for (const auto& f : files_)
        out.push_back(f->named);
    return out;
}

bool FileTransaction::commit(std::string& error) {
    std::vector<fs::path> all;
    std::vector<fs::path> replaced;
    for (const auto& f : files_) {
        all.push_back(f->named);
        if (!f->folder)
            replaced.push_back(f->file.target());
    }
    const std::string nothingChanged = "; files holding their new contents: none; files left as they were: ";
    // Checked last thing before the first rename, this also proves that a backup made as a second name of a
    // replaced file still holds what the run loaded.
    if (!heldFilesUnchanged(replaced, error))
        return false;
    if (!commitFiles(error))
        return false;
    forgetHeldStamps(replaced);
    return true;
}

bool FileTransaction::commitFiles(std::string& error) {
    std::vector<fs::path> all;
    for (const auto& f : files_)
        all.push_back(f->named);
    const std::string nothingChanged = "; files holding their new contents: none; files left as they were: ";
    // A file that cannot be replaced now is found before any file changes, so that the commit does not stop
    // half-way on it.
    for (const auto& f : files_)
        if (!f->folder && !f->file.replaceable(error)) {
            error += nothingChanged + joinPaths(all);
            return false;
        }
    if (files_.size() < 2)
        return commitOne(error);

    // Several files: their old contents are kept aside and a journal names every rename before the first, so
    // that a failure here, or a run killed part-way (finished by the next run), leaves every file old or new.
    Journal journal;
    const auto dropAsides = [&] {
        for (const auto& f : files_)
            if (!f->folder && !f->aside.empty()) {
                std::error_code ec;
                fs::remove(f->aside, ec);
                f->aside.clear();
            }
    };
    for (const auto& f : files_) {
        JournalEntry entry;
        entry.folder = f->folder;
        entry.target = absolutePath(f->folder ? f->named : f->file.target());
        entry.temp = absolutePath(f->folder ? f->newFolder : f->file.temporary());
        if (present(entry.target)) {
            f->aside = temporaryBeside(entry.target);
            if (!f->folder && !keepAside(entry.target, f->aside, error)) {
                f->aside.clear();
                dropAsides();
                return false;
            }
            entry.aside = absolutePath(f->aside);
        }
        journal.entries.push_back(std::move(entry));
    }
    if (!writeJournal(journal, error)) {
        dropAsides();
        return false;
    }
    for (const auto& f : files_) {
        std::string why;
        if (f->folder ? f->swapFolder(why) : f->file.replace(why)) {
            f->done = true;
            continue;
        }
        std::string undoWhy;
        if (!rollBack(journal, undoWhy)) {
            std::vector<fs::path> updated;
            std::vector<fs::path> old;
            for (const auto& g : files_)
                (g->done ? updated : old).push_back(g->named);
            error = why + "; putting the old contents back failed too (" + undoWhy +
                    "); files holding their new contents: " + joinPaths(updated) +
                    "; files left as they were: " + joinPaths(old) + "; the next run on them finishes the job";
            return false;
        }
        for (const auto& g : files_) {
            g->done = false;
            g->oldFolder.clear();
            g->aside.clear();
        }
        removeJournal(journal);
        error = why + nothingChanged + joinPaths(all);
        return false;
    }
    for (const auto& f : files_) {
        f->dropOldFolder();
        if (!f->folder && !f->aside.empty()) {
            std::error_code ec;
            fs::remove(f->aside, ec);
        }
    }
    removeJournal(journal);
    return true;
}

bool FileTransaction::commitOne(std::string& error) {
    for (std::size_t i = 0; i < files_.size(); ++i) {
        std::string why;
        Staged& staged = *files_[i];
        if (staged.folder ? staged.swapFolder(why) : staged.file.replace(why)) {
            staged.done = true;
            continue;
        }
        error = why + "; files holding their new contents: none; files left as they were: " + joinPaths({staged.named});
        return false;
    }
    for (const auto& f : files_)
        f->dropOldFolder();
    return true;
}

} // namespace brindlemark
