#include "replace/stringtable.h"

#include <string_view>
#include <vector>

namespace brindlemark {

namespace {

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        out.push_back(line);
        start = end + 1;
    }
    return out;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Reads decimal digits that make up the whole of `s`; false for anything else or an overflow.
bool parseNumber(std::string_view s, std::uint64_t& out) {
    if (s.empty() || s.size() > 18)
        return false;
    out = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        out = out * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

} // namespace

StringTable StringTable::parse(std::span<const std::uint8_t> bytes) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    StringTable table;
    const std::vector<std::string_view> all = lines(text);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string_view head = trimmed(all[i]);
        std::uint64_t number = 0;
        if (!head.starts_with("STRING") || !parseNumber(trimmed(head.substr(6)), number))
            continue;
        // Comments and blank lines may stand between the head and the opening brace.
        std::size_t j = i + 1;
        while (j < all.size() && trimmed(all[j]) != "{" &&
               (trimmed(all[j]).empty() || trimmed(all[j]).starts_with("//")))
            ++j;
        if (j >= all.size() || trimmed(all[j]) != "{")
            continue;
        std::string value;
        std::size_t k = j + 1;
        for (; k < all.size() && trimmed(all[k]) != "}"; ++k) {
            if (k > j + 1)
                value += "\n";
            value.append(all[k]);
        }
        table.strings_[number] = std::move(value);
        i = k;
    }
    return table;
}

const std::string* StringTable::find(std::uint64_t number) const {
    const auto it = strings_.find(number);
    return it == strings_.end() ? nullptr : &it->second;
}

std::string StringTable::resolve(const std::string& value) const {
    constexpr std::string_view prefix = "TRIGSTR_";
    std::uint64_t number = 0;
    if (value.starts_with(prefix) && parseNumber(std::string_view(value).substr(prefix.size()), number))
        if (const std::string* text = find(number))
            return *text;
    return value;
}

} // namespace brindlemark
