#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace brindlemark {

// Writes bytes on a thread of its own, so that making a large file's bytes and writing them go on at once.
// Bytes are copied into chunks of a megabyte, at most a few of them waiting, and handed in order to `writeOut`,
// which runs on that thread alone and returns 0 or the error number of a failed write; after a failure the rest
// is dropped.
class WriteBehind {
public:
    using WriteOut = std::function<int(const std::uint8_t* data, std::size_t size)>;

    // Null when no thread can be started; the caller then writes the bytes itself.
    static std::unique_ptr<WriteBehind> start(WriteOut writeOut);
    // Drops what was not written yet and waits for the thread.
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    void write(const std::uint8_t* data, std::size_t size);
    // Whether a write has failed (the bytes from then on go nowhere).
    bool failed();
    // Writes what is left, waits for the thread, and returns 0 or the first error number.
    int finish();

private:
    explicit WriteBehind(WriteOut writeOut) : writeOut_(std::move(writeOut)) {}
    void run();
    void handOver();
    void stop(bool drop);

    WriteOut writeOut_;
    std::vector<std::uint8_t> filling_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::vector<std::uint8_t>> waiting_; // under mutex_, oldest first
    std::vector<std::vector<std::uint8_t>> spare_;   // under mutex_: written chunks, kept for reuse
    int error_ = 0;                                  // under mutex_
    bool stopping_ = false;                          // under mutex_
    bool dropping_ = false;                          // under mutex_
    std::thread thread_;
};

} // namespace brindlemark
