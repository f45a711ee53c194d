#include "replace/identifierpattern.h"

#include <array>
#include <cstring>

namespace brindlemark {

namespace {

constexpr std::uint8_t kWildcard = '%';

constexpr const std::array<bool, 256>& kDelimiters = detail::kDelimiters;

bool agrees(const std::uint8_t* window, const ObjectId& pattern) {
    for (int j = 0; j < 4; ++j) {
        if (pattern.bytes[j] != kWildcard && pattern.bytes[j] != window[j])
            return false;
    }
    return true;
}

void writeReplacement(std::uint8_t* window, const ObjectId& replacement) {
    for (int j = 0; j < 4; ++j) {
        if (replacement.bytes[j] != kWildcard)
            window[j] = replacement.bytes[j];
    }
}

} // namespace

void substituteInText(std::span<std::uint8_t> text, ObjectId pattern, ObjectId replacement) {
    const std::size_t n = text.size();
    if (n < 4)
        return;
    std::uint8_t* bytes = text.data();
    std::size_t i = 0;
    while (i <= n - 4) {
        if (agrees(bytes + i, pattern) && (i == 0 || kDelimiters[bytes[i - 1]]) &&
            (i + 4 == n || kDelimiters[bytes[i + 4]])) {
            writeReplacement(bytes + i, replacement);
            // The delimiter after the hit is passed over with it: the next window starts one byte later.
            i += 5;
        } else {
            ++i;
        }
    }
}

void substituteInText(char* text, ObjectId pattern, ObjectId replacement) {
    substituteInText(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(text), std::strlen(text)), pattern,
                     replacement);
}

void substituteInText(std::string& text, ObjectId pattern, ObjectId replacement) {
    const std::size_t nul = text.find('\0');
    const std::size_t length = nul == std::string::npos ? text.size() : nul;
    substituteInText(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(text.data()), length), pattern,
                     replacement);
}

ObjectId substituteInValue(ObjectId value, ObjectId pattern, ObjectId replacement) {
    for (std::uint8_t b : value.bytes) {
        if (b == 0) // the value's text is shorter than four bytes
            return value;
    }
    if (agrees(value.bytes.data(), pattern))
        writeReplacement(value.bytes.data(), replacement);
    return value;
}

std::uint32_t substituteInValue(std::uint32_t value, ObjectId pattern, ObjectId replacement) {
    return substituteInValue(ObjectId::fromValue(value), pattern, replacement).value();
}

std::int32_t substituteInValue(std::int32_t value, ObjectId pattern, ObjectId replacement) {
    return static_cast<std::int32_t>(substituteInValue(static_cast<std::uint32_t>(value), pattern, replacement));
}

} // namespace brindlemark
