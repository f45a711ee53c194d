#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

namespace brindlemark {

// A block of writable memory for many megabytes of file bytes, not cleared. On Linux it is asked for in huge
// pages: filling fresh memory page by page costs more than reading a file itself, and far more than that in a
// virtual machine.
class PageBlock {
public:
    // Room for `size` bytes; empty (data() null) when there is none.
    explicit PageBlock(std::size_t size);
    ~PageBlock();
    PageBlock(const PageBlock&) = delete;
    PageBlock& operator=(const PageBlock&) = delete;

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    void* mapping_ = nullptr;      // what was mapped, when mapped
    std::size_t mappingBytes_ = 0; // its length
};

// A whole file read into one PageBlock that nothing else shares.
class FileBuffer {
public:
    // The file's bytes, or null when the file cannot be read this way (it cannot be opened, is empty or larger
    // than `limit`, or changed size while it was read); the caller then reads it the ordinary way, which reports
    // the reason.
    static std::shared_ptr<const FileBuffer> read(const std::filesystem::path& path, std::uint64_t limit);

    explicit FileBuffer(std::size_t size) : block_(size) {}

    std::span<const std::uint8_t> bytes() const { return {block_.data(), block_.size()}; }

private:
    PageBlock block_;
};

// Reads the whole file into `block`, which must be exactly the file's size: false when it could not be opened,
// read, or is not of that size now.
bool readWholeFile(const std::filesystem::path& path, std::span<std::uint8_t> block);

} // namespace brindlemark
