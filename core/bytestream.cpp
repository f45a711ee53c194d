#include "core/bytestream.h"

namespace brindlemark {

bool ByteReader::cStringLength(std::size_t maxBytes, std::size_t& length) {
    const std::size_t start = pos_;
    const std::size_t limit = remaining() < maxBytes ? remaining() : maxBytes;
    const void* nul = std::memchr(bytes_.data() + pos_, 0, limit);
    if (!nul) {
        if (limit == remaining())
            return truncated();
        return fail(start, "a string value has no end within its first " + std::to_string(maxBytes) + " bytes");
    }
    length = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - (bytes_.data() + pos_));
    return true;
}

bool ByteReader::readCString(std::string& out, std::size_t maxBytes) {
    std::size_t length = 0;
    if (!cStringLength(maxBytes, length))
        return false;
    out.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), length);
    pos_ += length + 1;
    return true;
}

bool ByteReader::skipCString(std::size_t maxBytes) {
    std::size_t length = 0;
    if (!cStringLength(maxBytes, length))
        return false;
    pos_ += length + 1;
    return true;
}

std::string ByteReader::placeText() const {
    std::string text = place.what;
    if (place.object)
        text += " '" + displayText(*place.object) + "'";
    if (place.kindName)
        text += std::string(" (") + place.kindName + ")";
    return text;
}

bool ByteReader::truncated() {
    if (!failed_) {
        failed_ = true;
        error_.offset = bytes_.size();
        error_.message = "the file ends at byte " + std::to_string(bytes_.size()) + " inside " + placeText();
    }
    return false;
}

bool ByteReader::countTooLarge(std::size_t countAt, std::uint64_t count, const char* items) {
    if (!failed_) {
        failed_ = true;
        error_.offset = bytes_.size();
        error_.message = "the file ends at byte " + std::to_string(bytes_.size()) + ", too soon for the " +
                         std::to_string(count) + " " + items + " counted at byte " + std::to_string(countAt) + ", in " +
                         placeText();
    }
    return false;
}

bool ByteReader::fail(std::size_t offset, const std::string& message) {
    if (!failed_) {
        failed_ = true;
        error_.offset = offset;
        error_.message = message + " at byte " + std::to_string(offset) + ", in " + placeText();
    }
    return false;
}

} // namespace brindlemark
