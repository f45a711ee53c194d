#include "core/filebuffer.h"

#include "core/fileio.h"
#include "core/platformfiles.h"

#include <cstdio>
#include <new>
#include <system_error>

namespace brindlemark {

PageBlock::PageBlock(std::size_t size) {
    if (size == 0)
        return;
    if (const platform::PageMapping pages = platform::mapHugePages(size); pages.data) {
        mapping_ = pages.mapping;
        mappingBytes_ = pages.bytes;
        data_ = pages.data;
        size_ = size;
        return;
    }
    data_ = new (std::nothrow) std::uint8_t[size];
    size_ = data_ ? size : 0;
}

PageBlock::~PageBlock() {
    if (mapping_) {
        platform::unmapPages({mapping_, mappingBytes_, data_});
        return;
    }
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
