#include "core/writebehind.h"

#include <algorithm>
#include <system_error>

namespace brindlemark {

namespace {
constexpr std::size_t kChunkBytes = std::size_t(256) << 10;
// Chunks made and not yet written: enough that neither side waits for the other's every step.
constexpr std::size_t kMaxWaiting = 3;
} // namespace

std::unique_ptr<WriteBehind> WriteBehind::start(WriteOut writeOut) {
    std::unique_ptr<WriteBehind> behind(new WriteBehind(std::move(writeOut)));
    try {
        behind->thread_ = std::thread([w = behind.get()] { w->run(); });
    } catch (const std::system_error&) {
        return nullptr;
    }
    behind->filling_.reserve(kChunkBytes);
    return behind;
}

WriteBehind::~WriteBehind() {
    stop(true);
}

void WriteBehind::write(const std::uint8_t* data, std::size_t size) {
    while (size != 0) {
        const std::size_t part = std::min(size, kChunkBytes - filling_.size());
        filling_.insert(filling_.end(), data, data + part);
        data += part;
        size -= part;
        if (filling_.size() == kChunkBytes)
            handOver();
    }
}

bool WriteBehind::failed() {
    const std::lock_guard lock(mutex_);
    return error_ != 0;
}

int WriteBehind::finish() {
    if (!filling_.empty())
        handOver();
    stop(false);
    const std::lock_guard lock(mutex_);
    return error_;
}

void WriteBehind::handOver() {
    std::vector<std::uint8_t> next;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return waiting_.size() < kMaxWaiting; });
        waiting_.push_back(std::move(filling_));
        if (!spare_.empty()) {
            next = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    changed_.notify_all();
    next.clear();
    next.reserve(kChunkBytes);
    filling_ = std::move(next);
}

void WriteBehind::stop(bool drop) {
    if (!thread_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        dropping_ = drop;
    }
    changed_.notify_all();
    thread_.join();
}

void WriteBehind::run() {
    std::vector<std::uint8_t> chunk;
    int error = 0;
    for (;;) {
        bool skip = false;
        {
            std::unique_lock lock(mutex_);
            if (error != 0 && error_ == 0)
                error_ = error;
            if (chunk.capacity() != 0)
                spare_.push_back(std::move(chunk));
            changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
            if (waiting_.empty() || dropping_)
                return;
            chunk = std::move(waiting_.front());
            waiting_.erase(waiting_.begin());
            skip = error_ != 0;
        }
        changed_.notify_all();
        error = skip ? 0 : writeOut_(chunk.data(), chunk.size());
    }
}

} // namespace brindlemark
