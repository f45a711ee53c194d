#include "core/filebuffer.h"

#include "core/fileio.h"

#include <cstdio>
#include <new>
#include <system_error>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace brindlemark {

namespace {
constexpr std::size_t kHugePage = std::size_t(2) << 20;
} // namespace

PageBlock::PageBlock(std::size_t size) {
    if (size == 0)
        return;
#if defined(__linux__)
    // A mapping a huge page longer than needed holds a huge-page-aligned run of the length rounded up.
    const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* mapping = ::mmap(nullptr, rounded + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping != MAP_FAILED) {
        const auto start = (reinterpret_cast<std::uintptr_t>(mapping) + kHugePage - 1) / kHugePage * kHugePage;
        ::madvise(reinterpret_cast<void*>(start), rounded, MADV_HUGEPAGE); // a hint: without it, small pages
        mapping_ = mapping;
        mappingBytes_ = rounded + kHugePage;
        data_ = reinterpret_cast<std::uint8_t*>(start);
        size_ = size;
        return;
    }
#endif
    data_ = new (std::nothrow) std::uint8_t[size];
    size_ = data_ ? size : 0;
}

PageBlock::~PageBlock() {
#if defined(__linux__)
    if (mapping_) {
        ::munmap(mapping_, mappingBytes_);
        return;
    }
#endif
    delete[] data_;
}

bool readWholeFile(const std::filesystem::path& path, std::span<std::uint8_t> block) {
    std::FILE* file = openFile(path, "rb");
    if (!file)
        return false;
    const std::size_t got = std::fread(block.data(), 1, block.size(), file);
    const bool whole = got == block.size() && std::fgetc(file) == EOF && !std::ferror(file);
    std::fclose(file);
    return whole;
}

std::shared_ptr<const FileBuffer> FileBuffer::read(const std::filesystem::path& path, std::uint64_t limit) {
    std::error_code ec;
    const auto expected = std::filesystem::file_size(path, ec);
    if (ec || expected == 0 || expected > limit)
        return nullptr;
    auto buffer = std::make_shared<FileBuffer>(static_cast<std::size_t>(expected));
    if (!buffer->block_.data())
        return nullptr;
    if (!readWholeFile(path, {buffer->block_.data(), buffer->block_.size()}))
        return nullptr;
    return buffer;
}

} // namespace brindlemark
