#include "core/recordplacer.h"

#include "core/objectrecord.h"

#include <system_error>
#include <utility>

namespace brindlemark {

namespace {
// Modifications handed over at once: few enough that the batch stays in the cache and the other thread starts
// early, enough that the lock is rare.
constexpr std::size_t kBatchModifications = 4096;
} // namespace

void RecordPlacer::Batch::clear() {
    entries.clear();
    keys.clear();
    starts.clear();
    levels.clear();
}

RecordPlacer::RecordPlacer() {
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to be had: add() sorts on the reading thread.
    }
}

RecordPlacer::~RecordPlacer() {
    finish();
}

bool RecordPlacer::worthIt(std::size_t bytes) {
    return bytes >= kMinBytes && std::thread::hardware_concurrency() > 1;
}

void RecordPlacer::add(const ObjectRecord& record, std::span<const std::uint64_t> keys,
                       std::span<const std::uint32_t> starts, std::span<const std::uint64_t> levels) {
    filling_.entries.push_back({&record, filling_.keys.size(), keys.size(), filling_.levels.size(), !levels.empty()});
    filling_.keys.insert(filling_.keys.end(), keys.begin(), keys.end());
    filling_.starts.insert(filling_.starts.end(), starts.begin(), starts.end());
    filling_.levels.insert(filling_.levels.end(), levels.begin(), levels.end());
    if (!thread_.joinable()) {
        place(filling_);
        filling_.clear();
    } else if (filling_.keys.size() >= kBatchModifications) {
        handOver();
    }
}

void RecordPlacer::handOver() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return ready_.empty(); });
        std::swap(filling_, ready_);
    }
    changed_.notify_all();
}

void RecordPlacer::finish() {
    if (!thread_.joinable())
        return;
    if (!filling_.empty())
        handOver();
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void RecordPlacer::run() {
    Batch working;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return finishing_ || !ready_.empty(); });
            if (ready_.empty())
                return;
            std::swap(working, ready_);
        }
        changed_.notify_all();
        place(working);
        working.clear();
    }
}

void RecordPlacer::place(const Batch& batch) {
    for (const Batch::Entry& entry : batch.entries)
        entry.record->placeFrom({batch.keys.data() + entry.first, entry.count},
                                {batch.starts.data() + entry.first, entry.count},
                                {batch.levels.data() + entry.firstLevels, entry.hasLevels ? entry.count : 0});
}

} // namespace brindlemark
