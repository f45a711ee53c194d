// Advisory locks on the files a run writes, and what they saw of those files.
#include "core/filelock.h"

#include "core/fileinternal.h"
#include "core/platformfiles.h"

#include <algorithm>
#include <mutex>

namespace fs = std::filesystem;

namespace brindlemark {

namespace {

// The name by which locks know a file or folder: its absolute path with links resolved (letter case aside on
// Windows), whether or not it exists yet.
std::string lockKey(const fs::path& path) {
    std::error_code ec;
    fs::path key = fs::weakly_canonical(fs::absolute(writeTarget(path), ec), ec);
    if (ec)
        key = fs::absolute(path, ec);
    return platform::foldNameCase(pathText(key.lexically_normal()));
}

// What a lock held by this process saw of its file, to tell at the commit whether another program changed it
// since: the file as it was when the lock was taken, and for a folder each file in it as it was when read.
struct HeldLock {
    std::string key;
    bool folder = false;
    bool checked = true; // false once the run itself replaced the file
    FileStamp stamp;
    std::vector<std::pair<std::string, FileStamp>> reads;
};
std::recursive_mutex heldMutex; // stamping a file reads it, which notes the read
std::vector<std::pair<std::uint64_t, HeldLock>> heldLocks;
std::uint64_t nextTicket = 1;

// The stamp this process's locks took of `key`, if any.
const FileStamp* heldStamp(const std::string& key) {
    for (auto& [ticket, held] : heldLocks) {
        if (held.key == key && !held.folder && held.checked)
            return &held.stamp;
        for (auto& [read, stamp] : held.reads)
            if (read == key)
                return &stamp;
    }
    return nullptr;
}

} // namespace

void noteRead(const fs::path& path, std::span<const std::uint8_t> bytes) {
    {
        std::lock_guard<std::recursive_mutex> guard(heldMutex);
        if (std::none_of(heldLocks.begin(), heldLocks.end(), [](const auto& h) { return h.second.folder; }))
            return;
    }
    noteRead(path, bytes.size(), contentHash(bytes));
}

void noteRead(const fs::path& path, std::uint64_t size, std::uint64_t hash) {
    std::lock_guard<std::recursive_mutex> guard(heldMutex);
    if (std::none_of(heldLocks.begin(), heldLocks.end(), [](const auto& h) { return h.second.folder; }))
        return;
    const std::string key = lockKey(path);
    const std::string folder =
        lockKey(writeTarget(path).parent_path().empty() ? fs::path(".") : writeTarget(path).parent_path());
    for (auto& [ticket, held] : heldLocks) {
        if (!held.folder || held.key != folder)
            continue;
        if (std::any_of(held.reads.begin(), held.reads.end(), [&](const auto& r) { return r.first == key; }))
            continue;
        FileStamp stamp;
        std::error_code ec;
        stamp.exists = true;
        stamp.size = size;
        stamp.modified = fs::last_write_time(writeTarget(path), ec);
        stamp.hash = hash;
        held.reads.emplace_back(key, stamp);
    }
}

bool heldFilesUnchanged(const std::vector<fs::path>& targets, std::string& error) {
    std::lock_guard<std::recursive_mutex> guard(heldMutex);
    if (heldLocks.empty())
        return true;
    for (const fs::path& target : targets) {
        const FileStamp* held = heldStamp(lockKey(target));
        if (!held)
            continue;
        const FileStamp stamp = *held; // stamping the file may note its reading beside
        if (stampFile(target) != stamp) {
            error = pathText(target) + ": another program changed the file during this run; nothing was written";
            return false;
        }
    }
    return true;
}

void forgetHeldStamps(const std::vector<fs::path>& targets) {
    std::lock_guard<std::recursive_mutex> guard(heldMutex);
    for (const fs::path& target : targets) {
        const std::string key = lockKey(target);
        for (auto& [ticket, held] : heldLocks) {
            if (held.key == key)
                held.checked = false;
            std::erase_if(held.reads, [&](const auto& r) { return r.first == key; });
        }
    }
}

FileLock::~FileLock() {
    release();
}

bool FileLock::acquire(const fs::path& path, std::string& error, std::chrono::milliseconds wait) {
    recovered.clear();
    if (!take(path, error, wait))
        return false;
    // Now that no other run is writing here, a run that stopped part-way is finished or undone before this one
    // reads anything.
    recovered = recoverInterruptedCommits(path);
    // What the file is now, after any such repair: what this run reads, and what it may replace.
    std::error_code ec;
    HeldLock held;
    held.key = lockKey(path);
    held.folder = fs::is_directory(writeTarget(path), ec);
    if (!held.folder)
        held.stamp = stampFile(path);
    std::lock_guard<std::recursive_mutex> guard(heldMutex);
    ticket_ = nextTicket++;
    heldLocks.emplace_back(ticket_, std::move(held));
    return true;
}

bool FileLock::take(const fs::path& path, std::string& error, std::chrono::milliseconds wait) {
    release();
    const std::string key = lockKey(path);
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : key) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    std::string why;
    switch (platform::takeLock(hash, wait, lock_, why)) {
    case platform::LockResult::Taken:
        return true;
    case platform::LockResult::Busy:
        error = pathText(path) + ": another run is changing this file; try again when it has finished";
        return false;
    case platform::LockResult::Failed:
        break;
    }
    error = pathText(path) + ": cannot lock the file (" + why + ")";
    return false;
}

void FileLock::release() {
    if (ticket_ != 0) {
        std::lock_guard<std::recursive_mutex> guard(heldMutex);
        std::erase_if(heldLocks, [this](const auto& h) { return h.first == ticket_; });
        ticket_ = 0;
    }
    if (lock_ != platform::kNoLock) {
        platform::releaseLock(lock_);
        lock_ = platform::kNoLock;
    }
}

bool FileLocks::acquire(const std::vector<fs::path>& paths, std::string& error, std::chrono::milliseconds wait) {
    release();
    recovered.clear();
    std::vector<std::pair<std::string, fs::path>> keyed;
    for (const fs::path& path : paths)
        if (!path.empty())
            keyed.emplace_back(lockKey(path), path);
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    keyed.erase(
        std::unique(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
        keyed.end());
    const auto until = std::chrono::steady_clock::now() + wait;
    for (const auto& [key, path] : keyed) {
        auto lock = std::make_unique<FileLock>();
        const auto left =
            std::max(std::chrono::milliseconds(0),
                     std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()));
        if (!lock->acquire(path, error, left)) {
            release();
            return false;
        }
        for (std::string& line : lock->recovered)
            if (std::find(recovered.begin(), recovered.end(), line) == recovered.end())
                recovered.push_back(std::move(line));
        locks_.push_back(std::move(lock));
    }
    return true;
}

} // namespace brindlemark
