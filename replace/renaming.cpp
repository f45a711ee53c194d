#include "replace/renaming.h"

#include "replace/identifierpattern.h"

#include <algorithm>
#include <memory>

namespace brindlemark {

namespace {

constexpr ObjectId kNameFields[] = {ObjectId::fromText("unam"), ObjectId::fromText("anam"),
                                    ObjectId::fromText("fnam"), ObjectId::fromText("bnam"),
                                    ObjectId::fromText("dnam"), ObjectId::fromText("utip"),
                                    ObjectId::fromText("ides")};

bool hasZeroByte(std::uint32_t v) {
    return (v & 0xffu) == 0 || (v & 0xff00u) == 0 || (v & 0xff0000u) == 0 || (v & 0xff000000u) == 0;
}

// Every four-byte window of the text with a word boundary on both sides; these are the only places where a
// pattern without wildcards can ever be replaced.
void collectWords(const std::string& text, std::vector<std::uint32_t>& out) {
    const std::size_t n = text.size();
    if (n < 4)
        return;
    const auto* t = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t i = 0; i + 4 <= n; ++i) {
        if (i > 0 && !isDelimiter(t[i - 1]))
            continue;
        if (i + 4 < n && !isDelimiter(t[i + 4]))
            continue;
        out.push_back(std::uint32_t(t[i]) | std::uint32_t(t[i + 1]) << 8 | std::uint32_t(t[i + 2]) << 16 |
                      std::uint32_t(t[i + 3]) << 24);
    }
}

std::vector<std::uint32_t> wordsOf(const ObjectRecord& record) {
    std::vector<std::uint32_t> words;
    for (const Modification& m : record.modifications()) {
        if (m.valueType == ModValueType::Integer) {
            const auto v = static_cast<std::uint32_t>(m.intValue);
            if (!hasZeroByte(v))
                words.push_back(v);
        } else if (m.valueType == ModValueType::String) {
            collectWords(m.stringValue, words);
        }
    }
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    return words;
}

} // namespace

std::optional<std::string> findDisplayName(const ObjectRecord& record) {
    for (ObjectId field : kNameFields) {
        if (const Modification* m = record.find(field)) {
            if (m->valueType == ModValueType::String)
                return m->stringValue;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

RenameEntry planRename(const ObjectRecord& record, ObjectId pattern, ObjectId replacement) {
    const ObjectId b = record.baseId;
    const ObjectId n = record.newId;
    const ObjectId x = substituteInValue(b, pattern, replacement);
    if (x != b && n.isZero())
        return {b, x, findDisplayName(record)};
    const ObjectId y = substituteInValue(n, pattern, replacement);
    if (y != n)
        return {n, y, findDisplayName(record)};
    return {};
}

RenameEntry renameByPattern(ObjectRecord& record, ObjectId pattern, ObjectId replacement) {
    RenameEntry entry = planRename(record, pattern, replacement);
    if (!entry.fromId.isZero() && entry.toId != kSentinelId)
        record.newId = entry.toId;
    return entry;
}

ValueCounts substituteInValues(ObjectRecord& record, ObjectId pattern, ObjectId replacement) {
    ValueCounts counts;
    const bool writesNul = replacement.bytes[0] == 0 || replacement.bytes[1] == 0 || replacement.bytes[2] == 0 ||
                           replacement.bytes[3] == 0;
    for (std::size_t i = 0; i < record.modificationCount(); ++i) {
        Modification& m = record.modificationAt(i);
        if (m.valueType == ModValueType::String) {
            if (m.stringValue.size() < 4) // too short to hold a word
                continue;
            // A scratch copy to tell whether the text changed; its storage is reused from call to call.
            static thread_local std::string before;
            before.assign(m.stringValue);
            substituteInText(m.stringValue, pattern, replacement);
            // A value is a NUL-terminated text: a NUL written into it ends it there.
            if (writesNul)
                if (const std::size_t end = m.stringValue.find('\0'); end != std::string::npos)
                    m.stringValue.resize(end);
            counts.strings += m.stringValue != before;
        } else if (m.valueType == ModValueType::Integer) {
            const std::int32_t before = m.intValue;
            m.intValue = substituteInValue(m.intValue, pattern, replacement);
            counts.integers += m.intValue != before;
        }
    }
    return counts;
}

bool collectRenames(ObjectTable& table, ObjectId pattern, ObjectId replacement, ObjectTable* destination,
                    MergePolicy policy, RenameList& list, TableObserver* observer) {
    bool renamedInPlace = false;
    std::size_t i = 0;
    while (i < table.count()) {
        const ObjectId before = table.at(i).newId;
        RenameEntry entry = renameByPattern(table.at(i), pattern, replacement);
        bool removed = false;
        if (entry.isChange()) {
            if (destination && replacement != kSentinelId) {
                destination->add(table.takeAt(i), policy, observer);
                removed = true;
            }
            list.insert(std::move(entry));
        }
        if (!removed) {
            renamedInPlace = renamedInPlace || table.at(i).newId != before;
            ++i;
        }
    }
    return renamedInPlace;
}

RenameEngine::RenameEngine(ObjectBundle& bundle) : bundle_(bundle) {
    for (ObjectKind k : kAllObjectKinds) {
        ObjectFile& file = bundle_.kind(k).file;
        for (ObjectTable* table : {&file.standardTable, &file.customTable})
            for (std::size_t i = 0; i < table->count(); ++i)
                index(table->at(i));
    }
}

void RenameEngine::index(ObjectRecord& record) {
    std::vector<std::uint32_t> fresh = wordsOf(record);
    auto [it, inserted] = words_.try_emplace(&record);
    const std::vector<std::uint32_t>& old = it->second;
    for (std::uint32_t w : fresh)
        if (inserted || !std::binary_search(old.begin(), old.end(), w))
            holders_[w].push_back(&record);
    it->second = std::move(fresh);
}

void RenameEngine::destroying(const ObjectRecord& record) { words_.erase(&record); }

void RenameEngine::merged(ObjectRecord& record) { index(record); }

void RenameEngine::applyRename(ObjectId pattern, ObjectId replacement, RenameList& list,
                               std::vector<ValueCounts>* counts) {
    if (hasWildcard(pattern))
        planByVisitingAll(pattern, replacement, list);
    else
        planByBisection(pattern, replacement, list);
    if (counts)
        counts->clear();
    for (const RenameEntry& entry : list.entries()) {
        const ValueCounts changed = rewriteReferences(entry.fromId, entry.toId);
        if (counts)
            counts->push_back(changed);
    }
}

void RenameEngine::planByBisection(ObjectId pattern, ObjectId replacement, RenameList& list) {
    // Without a wildcard only an object whose own identifier is exactly the pattern can be renamed. Tables are in
    // identifier order without two matching ids, so each table holds at most one such object, found by bisection.
    // An object moved into the custom table never agrees with the pattern again.
    if (hasZeroByte(pattern.value()))
        return;
    const MergePolicy policy = bundle_.mergePolicy;
    for (ObjectKind k : kAllObjectKinds) {
        ObjectFile& file = bundle_.kind(k).file;
        std::size_t i = file.standardTable.indexOf(pattern);
        if (i < file.standardTable.count() && file.standardTable.at(i).effectiveId() == pattern) {
            RenameEntry entry = renameByPattern(file.standardTable.at(i), pattern, replacement);
            if (entry.isChange()) {
                if (replacement != kSentinelId)
                    file.customTable.add(file.standardTable.takeAt(i), policy, this);
                list.insert(std::move(entry));
            }
        }
        i = file.customTable.indexOf(pattern);
        if (i < file.customTable.count() && file.customTable.at(i).effectiveId() == pattern) {
            const ObjectId before = file.customTable.at(i).newId;
            RenameEntry entry = renameByPattern(file.customTable.at(i), pattern, replacement);
            if (entry.isChange())
                list.insert(std::move(entry));
            if (file.customTable.at(i).newId != before)
                file.customTable.reposition(i, policy, this);
        }
    }
}

void RenameEngine::planByVisitingAll(ObjectId pattern, ObjectId replacement, RenameList& list) {
    const MergePolicy policy = bundle_.mergePolicy;
    for (ObjectKind k : kAllObjectKinds) {
        ObjectFile& file = bundle_.kind(k).file;
        // Every renamed object of the standard table moves, so only the custom table can fall out of order.
        collectRenames(file.standardTable, pattern, replacement, &file.customTable, policy, list, this);
        if (collectRenames(file.customTable, pattern, replacement, nullptr, policy, list, this))
            file.customTable.sortAndResolve(policy, this);
    }
}

ValueCounts RenameEngine::rewriteReferences(ObjectId fromId, ObjectId toId) {
    ValueCounts total;
    auto add = [&total](ValueCounts c) {
        total.strings += c.strings;
        total.integers += c.integers;
    };
    if (hasWildcard(fromId)) {
        // The wildcard can agree with any word: visit every object.
        for (ObjectKind k : kAllObjectKinds) {
            ObjectFile& file = bundle_.kind(k).file;
            for (ObjectTable* table : {&file.standardTable, &file.customTable})
                for (std::size_t i = 0; i < table->count(); ++i) {
                    add(substituteInValues(table->at(i), fromId, toId));
                    index(table->at(i));
                }
        }
        return total;
    }
    const auto found = holders_.find(fromId.value());
    if (found == holders_.end())
        return total;
    // Take the candidates out first: re-indexing may add to this very list.
    std::vector<ObjectRecord*> candidates = std::move(found->second);
    found->second.clear();
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    for (ObjectRecord* record : candidates) {
        const auto live = words_.find(record);
        if (live == words_.end() || !std::binary_search(live->second.begin(), live->second.end(), fromId.value()))
            continue; // gone, or no longer holds the word
        add(substituteInValues(*record, fromId, toId));
        // The word may survive (an occurrence the scan passed over); index() then lists the object again.
        live->second.erase(std::lower_bound(live->second.begin(), live->second.end(), fromId.value()));
        index(*record);
    }
    return total;
}

void applyRename(ObjectBundle& bundle, ObjectId pattern, ObjectId replacement, RenameList& list) {
    RenameEngine engine(bundle);
    engine.applyRename(pattern, replacement, list);
}

} // namespace brindlemark
