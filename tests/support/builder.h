#pragma once

// Hand-made bytes for tests and fuzz seeds: little-endian values, identifiers and texts in a row.

#include <cstdint>
#include <string_view>
#include <vector>

namespace brindlemark::testing {

using Bytes = std::vector<std::uint8_t>;

// Appends little-endian values and raw text to a byte vector: Builder().i32(1).id("hfoo").str("Guard").bytes
struct Builder {
    Bytes bytes;
    Builder& u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    Builder& i32(std::int32_t v) { return u32(static_cast<std::uint32_t>(v)); }
    Builder& id(std::string_view four) {
        for (std::size_t i = 0; i < 4; ++i)
            bytes.push_back(i < four.size() ? static_cast<std::uint8_t>(four[i]) : 0);
        return *this;
    }
    Builder& raw(std::string_view text) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        return *this;
    }
    Builder& str(std::string_view text) { // text and its NUL
        raw(text);
        bytes.push_back(0);
        return *this;
    }
    Builder& f32bits(std::uint32_t bits) { return u32(bits); }
    Builder& append(const Bytes& more) {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
};

} // namespace brindlemark::testing
