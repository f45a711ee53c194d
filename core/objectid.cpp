#include "core/objectid.h"

namespace brindlemark {

namespace {

void appendEscaped(std::string& out, std::uint8_t c) {
    static const char digits[] = "0123456789abcdef";
    if (c >= 0x20 && c < 0x7f && c != '\\') {
        out += static_cast<char>(c);
        return;
    }
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 0xf];
}

} // namespace

std::string ObjectId::text() const {
    std::string out;
    for (std::uint8_t c : bytes) {
        if (c == 0)
            break;
        out += static_cast<char>(c);
    }
    return out;
}

std::string displayText(ObjectId id) {
    std::string out;
    for (std::uint8_t c : id.bytes) {
        if (c == 0)
            break;
        appendEscaped(out, c);
    }
    return out;
}

std::string escapedBytes(ObjectId id) {
    std::string out;
    for (std::uint8_t c : id.bytes)
        appendEscaped(out, c);
    return out;
}

} // namespace brindlemark
