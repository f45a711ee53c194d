#include "merge/importplan.h"

#include <algorithm>
#include <array>
#include <set>

namespace brindlemark {

namespace {

constexpr char kEditorDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

int digitValue(std::uint8_t c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return -1;
}

bool isLetter(std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A letter and three editor digits, at least one of them 0 to 9: the shape of the editor's custom identifiers.
bool looksLikeCustomId(const std::uint8_t* p) {
    if (!isLetter(p[0]))
        return false;
    bool digit = false;
    for (int i = 1; i < 4; ++i) {
        if (digitValue(p[i]) < 0)
            return false;
        digit = digit || (p[i] >= '0' && p[i] <= '9');
    }
    return digit;
}

bool isWordByte(std::uint8_t c) {
    return isLetter(c) || (c >= '0' && c <= '9') || c == '_';
}

template <typename F> void forEachObject(const ObjectBundle& bundle, F&& visit) {
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectFile& file = bundle.kind(k).file;
        for (const ObjectTable* table : {&file.standardTable, &file.customTable})
            for (std::size_t i = 0; i < table->count(); ++i)
                visit(k, table == &file.customTable, table->at(i));
    }
}

} // namespace

std::uint32_t IdentifierSet::key(ObjectId id) {
    ObjectId folded;
    for (std::size_t i = 0; i < 4 && id.bytes[i] != 0; ++i) {
        const std::uint8_t b = id.bytes[i];
        folded.bytes[i] = (b >= 'A' && b <= 'Z') ? static_cast<std::uint8_t>(b + 0x20) : b;
    }
    return folded.value();
}

void IdentifierSet::addAll(const ObjectBundle& bundle) {
    forEachObject(bundle, [&](ObjectKind, bool, const ObjectRecord& r) { add(r.effectiveId()); });
}

std::optional<ObjectId> nextEditorId(ObjectId id) {
    for (int i = 3; i >= 1; --i) {
        const int v = digitValue(id.bytes[i]);
        if (v < 0) {
            // Not yet in the numbering: start it.
            for (int j = 1; j < 4; ++j)
                id.bytes[j] = '0';
            return id;
        }
        if (v + 1 < 36) {
            id.bytes[i] = static_cast<std::uint8_t>(kEditorDigits[v + 1]);
            return id;
        }
        id.bytes[i] = '0';
    }
    return std::nullopt;
}

bool planImportRenames(const IdentifierSet& mainIds, const ObjectBundle& added, std::vector<ImportRename>& out,
                       std::string& error) {
    IdentifierSet taken = mainIds;
    taken.addAll(added);
    std::vector<ImportRename> renames;
    // Where each first character's numbering goes on from, so that every search starts after the last one chosen.
    std::array<std::optional<ObjectId>, 256> next{};
    bool ok = true;
    forEachObject(added, [&](ObjectKind kind, bool custom, const ObjectRecord& record) {
        const ObjectId from = record.effectiveId();
        if (!ok || !custom || !mainIds.contains(from))
            return;
        const std::uint8_t first = from.bytes[0];
        std::optional<ObjectId> candidate = next[first];
        if (!candidate)
            candidate = ObjectId{{first, '0', '0', '0'}};
        while (candidate && taken.contains(*candidate))
            candidate = nextEditorId(*candidate);
        if (!candidate || first == '%' || first == 0) {
            error = "no free identifier is left for " + displayText(from) + " (every " +
                    displayText(ObjectId{{first}}) + "000 to " + displayText(ObjectId{{first}}) +
                    "ZZZ is taken); nothing was written";
            ok = false;
            return;
        }
        taken.add(*candidate);
        next[first] = nextEditorId(*candidate);
        if (!next[first])
            next[first] = ObjectId{{first, 'Z', 'Z', 'Z'}}; // the last; taken now, so the next search fails
        renames.push_back({kind, from, *candidate});
    });
    if (!ok)
        return false;
    out = std::move(renames);
    return true;
}

std::vector<ObjectId> unresolvedReferences(const ObjectBundle& added, const IdentifierSet& defined) {
    std::set<std::uint32_t> seen;
    std::vector<ObjectId> out;
    const auto consider = [&](const std::uint8_t* p) {
        ObjectId id;
        std::copy(p, p + 4, id.bytes.begin());
        if (looksLikeCustomId(p) && !defined.contains(id) && seen.insert(id.value()).second)
            out.push_back(id);
    };
    forEachObject(added, [&](ObjectKind, bool, const ObjectRecord& record) {
        for (const Modification& m : record.modifications()) {
            if (m.valueType == ModValueType::Integer) {
                const ObjectId value = ObjectId::fromValue(static_cast<std::uint32_t>(m.intValue));
                consider(value.bytes.data());
            } else if (m.valueType == ModValueType::String) {
                const auto* text = reinterpret_cast<const std::uint8_t*>(m.stringValue.data());
                const std::size_t n = m.stringValue.size();
                for (std::size_t i = 0; i + 4 <= n; ++i)
                    if ((i == 0 || !isWordByte(text[i - 1])) && (i + 4 == n || !isWordByte(text[i + 4])))
                        consider(text + i);
            }
        }
    });
    std::sort(out.begin(), out.end(), [](ObjectId a, ObjectId b) { return compareIds(a, b) < 0; });
    return out;
}

} // namespace brindlemark
