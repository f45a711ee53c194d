#include "replace/stringtable.h"

#include "core/fileio.h"

#include <cstdio>
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

// The blocks of a table; `cutOff` tells whether the last block runs to the end of the text without its "}".
StringTable parseBlocks(std::span<const std::uint8_t> bytes, bool& cutOff) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    StringTable table;
    cutOff = false;
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
        if (!table.find(number)) // as in the game, the first block of a number counts
            table.set(number, std::move(value));
        cutOff = k >= all.size();
        i = k;
    }
    return table;
}

} // namespace

StringTable StringTable::parse(std::span<const std::uint8_t> bytes) {
    bool cutOff = false;
    return parseBlocks(bytes, cutOff);
}

const std::string* StringTable::find(std::uint64_t number) const {
    const auto it = strings_.find(number);
    return it == strings_.end() ? nullptr : &it->second;
}

std::string StringTable::resolve(const std::string& value) const {
    if (const std::optional<std::uint64_t> number = stringReference(value))
        if (const std::string* text = find(*number))
            return *text;
    return value;
}

std::optional<std::uint64_t> StringTable::largest() const {
    if (strings_.empty())
        return std::nullopt;
    return strings_.rbegin()->first;
}

std::optional<std::uint64_t> stringReference(std::string_view value) {
    constexpr std::string_view prefix = "TRIGSTR_";
    std::uint64_t number = 0;
    if (value.starts_with(prefix) && parseNumber(value.substr(prefix.size()), number))
        return number;
    return std::nullopt;
}

namespace {

// Calls `visit(kind, record, index, number)` for every string value of the bundle that is a reference.
template <typename Visit> void forEachReference(const ObjectBundle& bundle, Visit&& visit) {
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectFile& file = bundle.kind(k).file;
        for (const ObjectTable* table : {&file.standardTable, &file.customTable})
            for (const ObjectRecord& record : table->objects())
                record.visitValues([&](std::size_t i, const ObjectRecord::ValueView& view) {
                    if (view.valueType != ModValueType::String)
                        return;
                    if (const std::optional<std::uint64_t> number = stringReference(view.text))
                        visit(k, record, i, *number);
                });
    }
}

// Sets the string values of the bundle that are references by `rewrite(number)`: a new value, or none to leave
// the value as it is.
template <typename Rewrite> std::size_t rewriteReferences(ObjectBundle& bundle, Rewrite&& rewrite) {
    std::size_t changed = 0;
    for (ObjectKind k : kAllObjectKinds) {
        ObjectFile& file = bundle.kind(k).file;
        for (ObjectTable* table : {&file.standardTable, &file.customTable})
            for (std::size_t r = 0; r < table->count(); ++r) {
                ObjectRecord& record = table->at(r);
                std::vector<std::pair<std::size_t, std::string>> values;
                record.visitValues([&](std::size_t i, const ObjectRecord::ValueView& view) {
                    if (view.valueType != ModValueType::String)
                        return;
                    if (const std::optional<std::uint64_t> number = stringReference(view.text))
                        if (std::optional<std::string> now = rewrite(*number))
                            values.emplace_back(i, std::move(*now));
                });
                for (auto& [i, value] : values)
                    record.modificationAt(i).stringValue = std::move(value);
                changed += values.size();
            }
    }
    return changed;
}

} // namespace

std::vector<MissingString> missingStrings(const ObjectBundle& bundle, const StringTable& strings) {
    std::vector<MissingString> missing;
    forEachReference(bundle, [&](ObjectKind k, const ObjectRecord& record, std::size_t i, std::uint64_t number) {
        if (!strings.find(number))
            missing.push_back(
                {k, record.effectiveId(), record.modifications()[i].fieldId, record.modifications()[i].stringValue});
    });
    return missing;
}

std::size_t resolveStrings(ObjectBundle& bundle, const StringTable& strings) {
    return rewriteReferences(bundle, [&](std::uint64_t number) -> std::optional<std::string> {
        const std::string* text = strings.find(number);
        // A text that cannot stand in a string value stays a reference.
        if (!text || text->find('\0') != std::string::npos || text->size() > kMaxStringBytes)
            return std::nullopt;
        return *text;
    });
}

CarriedStrings carryStrings(std::initializer_list<ObjectBundle*> bundles, const StringTable& source,
                            std::span<const std::uint8_t> targetBytes, bool reuseMatching) {
    CarriedStrings out;
    out.table.assign(targetBytes.begin(), targetBytes.end());
    bool cutOff = false;
    const StringTable target = parseBlocks(targetBytes, cutOff);
    const std::string_view text(reinterpret_cast<const char*>(targetBytes.data()), targetBytes.size());
    const std::string eol =
        text.empty() || text.find("\r\n") != std::string_view::npos || text.find('\n') == std::string_view::npos
            ? "\r\n"
            : "\n";
    if (out.table.empty())
        out.table = {0xEF, 0xBB, 0xBF};
    const auto append = [&out](std::string_view s) { out.table.insert(out.table.end(), s.begin(), s.end()); };
    std::uint64_t next = target.largest().value_or(0) + 1;
    std::map<std::uint64_t, std::string> given; // source number -> the reference that replaces it
    const auto carry = [&](std::uint64_t number) -> std::optional<std::string> {
        const std::string* carried = source.find(number);
        if (!carried)
            return std::nullopt;
        if (reuseMatching) {
            const std::string* own = target.find(number);
            if (own && *own == *carried)
                return std::nullopt;
        }
        if (const auto it = given.find(number); it != given.end())
            return it->second;
        const std::string_view sofar(reinterpret_cast<const char*>(out.table.data()), out.table.size());
        if (cutOff) {
            // The target's last block lacks its "}": closed first, with the text it had (a line end it ended
            // with stays an empty last line), so that the new blocks do not run into it.
            append(eol + "}" + eol);
            cutOff = false;
        } else if (!sofar.ends_with('\n') && sofar != "\xEF\xBB\xBF") {
            append(eol);
        }
        const std::uint64_t fresh = next++;
        append("STRING " + std::to_string(fresh) + eol + "{" + eol);
        std::string_view rest = *carried;
        while (true) {
            const std::size_t end = rest.find('\n');
            std::string_view line = rest.substr(0, end);
            if (line.ends_with('\r'))
                line.remove_suffix(1);
            append(line);
            append(eol);
            if (end == std::string_view::npos)
                break;
            rest.remove_prefix(end + 1);
        }
        append("}" + eol + eol);
        ++out.added;
        char reference[32];
        std::snprintf(reference, sizeof reference, "TRIGSTR_%03llu", static_cast<unsigned long long>(fresh));
        return given[number] = reference;
    };
    for (ObjectBundle* bundle : bundles)
        rewriteReferences(*bundle, carry);
    if (out.added == 0)
        out.table.assign(targetBytes.begin(), targetBytes.end());
    return out;
}

std::string missingStringsMessage(const std::filesystem::path& source, bool hasTable,
                                  const std::vector<MissingString>& missing) {
    constexpr std::size_t kNamed = 20;
    std::string text = pathText(source) + ": " + std::to_string(missing.size()) +
                       (missing.size() == 1 ? " string reference is" : " string references are") +
                       (hasTable ? " not in its string table (war3map.wts)"
                                 : " into a string table (war3map.wts) "
                                   "that the map does not have") +
                       ": ";
    for (std::size_t i = 0; i < missing.size() && i < kNamed; ++i)
        text += (i ? ", " : "") + missing[i].reference + " (" + kindName(missing[i].kind) + " " +
                displayText(missing[i].object) + ", field " + displayText(missing[i].field) + ")";
    if (missing.size() > kNamed)
        text += " and " + std::to_string(missing.size() - kNamed) + " more";
    return text;
}

} // namespace brindlemark
