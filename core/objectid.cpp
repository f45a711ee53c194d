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

int compareIds(ObjectId a, ObjectId b) {
    // Bytes as the order sees them: A to Z folded to lower case, everything else as it is. NUL stays the
    // smallest, so an identifier that ends earlier sorts first, and nothing after it counts.
    static constexpr auto folded = [] {
        std::array<std::uint8_t, 256> table{};
        for (int c = 0; c < 256; ++c)
            table[c] = static_cast<std::uint8_t>(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
        return table;
    }();
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t x = folded[a.bytes[i]];
        const std::uint8_t y = folded[b.bytes[i]];
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return 0;
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
