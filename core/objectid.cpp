#include "core/objectid.h"

namespace brindlemark {

namespace {

std::uint8_t foldCase(std::uint8_t c) { return (c >= 'A' && c <= 'Z') ? static_cast<std::uint8_t>(c + 0x20) : c; }

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

int compareIds(ObjectId a, ObjectId b) {
    if (a.value() == b.value())
        return 0; // equal bytes: equal whatever follows a NUL
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t x = a.bytes[i];
        const std::uint8_t y = b.bytes[i];
        if (x == 0 || y == 0)
            return int(x != 0) - int(y != 0);
        const std::uint8_t fx = foldCase(x);
        const std::uint8_t fy = foldCase(y);
        if (fx != fy)
            return fx < fy ? -1 : 1;
    }
    return 0;
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
