#include "replace/renaming.h"

#include "replace/identifierpattern.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

namespace brindlemark {

namespace {

constexpr ObjectId kNameFields[] = {ObjectId::fromText("unam"), ObjectId::fromText("anam"), ObjectId::fromText("fnam"),
                                    ObjectId::fromText("bnam"), ObjectId::fromText("dnam"), ObjectId::fromText("utip"),
                                    ObjectId::fromText("ides")};

bool hasZeroByte(std::uint32_t v) {
    return (v & 0xffu) == 0 || (v & 0xff00u) == 0 || (v & 0xff0000u) == 0 || (v & 0xff000000u) == 0;
}

std::uint32_t load32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// The length of a string value as the substitution sees it: the bytes before its first NUL.
std::size_t textLength(std::string_view text) {
    const void* nul = std::memchr(text.data(), 0, text.size());
    return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()) : text.size();
}

// Whether the window at `i` of a text of `n` bytes has a word boundary on both sides; only there can a pattern
// without wildcards ever be replaced.
bool isWholeWord(const std::uint8_t* t, std::size_t n, std::size_t i) {
    return (i == 0 || isDelimiter(t[i - 1])) && (i + 4 == n || isDelimiter(t[i + 4]));
}

std::uint64_t valueKey(std::uint32_t slot, std::uint32_t mod) {
    return std::uint64_t(slot) << 32 | mod;
}

bool writesNul(ObjectId replacement) {
    return replacement.bytes[0] == 0 || replacement.bytes[1] == 0 || replacement.bytes[2] == 0 ||
           replacement.bytes[3] == 0;
}

} // namespace

std::optional<std::string> findDisplayName(const ObjectRecord& record) {
    const std::optional<ObjectRecord::ValueView> v = record.findFirstValue(kNameFields);
    if (v && v->valueType == ModValueType::String)
        return std::string(v->text);
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
    const bool endsAtNul = writesNul(replacement);
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
            if (endsAtNul)
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

std::vector<RenameEngine::Place>& RenameEngine::PlaceLists::operator[](std::uint32_t word) {
    const std::uint32_t list = lists_.insert(word, static_cast<std::uint32_t>(places_.size()));
    if (list == places_.size())
        places_.emplace_back();
    return places_[list];
}

std::vector<RenameEngine::Place> RenameEngine::PlaceLists::take(std::uint32_t word) {
    const std::int64_t list = lists_.find(word);
    if (list < 0)
        return {};
    return std::exchange(places_[static_cast<std::size_t>(list)], {});
}

RenameEngine::RenameEngine(ObjectBundle& bundle, MergePolicy policy) : bundle_(bundle), policy_(policy) {}

void RenameEngine::ensureIndexed() {
    if (indexed_)
        return;
    indexed_ = true;
    for (ObjectKind k : kAllObjectKinds) {
        ObjectFile& file = bundle_.kind(k).file;
        for (ObjectTable* table : {&file.standardTable, &file.customTable})
            for (std::size_t i = 0; i < table->count(); ++i) {
                const auto slot = static_cast<std::uint32_t>(records_.size());
                records_.push_back(&table->at(i));
                slots_.emplace(&table->at(i), slot);
                indexRecord(slot);
            }
    }
}

void RenameEngine::indexWindows(std::uint32_t slot, std::uint32_t mod, const std::uint8_t* text, std::size_t length,
                                std::size_t from, std::size_t to) {
    if (length < 4)
        return;
    to = std::min(to, length - 4);
    for (std::size_t i = from; i <= to; ++i)
        if (isWholeWord(text, length, i))
            holders_[load32(text + i)].push_back({slot, mod, static_cast<std::uint32_t>(i)});
}

void RenameEngine::indexValue(std::uint32_t slot, std::uint32_t mod, ModValueType type, std::int32_t intValue,
                              std::string_view text) {
    if (type == ModValueType::Integer) {
        const auto v = static_cast<std::uint32_t>(intValue);
        if (!hasZeroByte(v))
            holders_[v].push_back({slot, mod, kIntegerPlace});
    } else if (type == ModValueType::String) {
        const std::size_t length = textLength(text);
        if (length < text.size())
            nulValues_.insert(valueKey(slot, mod));
        indexWindows(slot, mod, reinterpret_cast<const std::uint8_t*>(text.data()), length, 0, length);
    }
}

void RenameEngine::indexValue(std::uint32_t slot, std::uint32_t mod, const Modification& m) {
    indexValue(slot, mod, m.valueType, m.intValue, m.stringValue);
}

void RenameEngine::indexRecord(std::uint32_t slot) {
    // Stored modifications are read where they stand: only the objects that a rename rewrites are unpacked.
    records_[slot]->visitValues([&](std::size_t i, const ObjectRecord::ValueView& v) {
        indexValue(slot, static_cast<std::uint32_t>(i), v.valueType, v.intValue, v.text);
    });
}

void RenameEngine::destroying(const ObjectRecord& record) {
    if (const auto it = slots_.find(&record); it != slots_.end()) {
        records_[it->second] = nullptr;
        slots_.erase(it);
    }
}

// The object's modifications may have moved: every word is listed again at its new place. Places listed before
// are checked when used, so those that moved away do no harm.
void RenameEngine::merged(ObjectRecord& record) {
    if (const auto it = slots_.find(&record); it != slots_.end())
        indexRecord(it->second);
}

namespace {

bool isPlainWord(ObjectId id) {
    for (std::uint8_t b : id.bytes)
        if (b == 0 || b == '%' || isDelimiter(b))
            return false;
    return true;
}

// The whole words of the text that the map renames, left to right: `hit(offset, entry)`.
template <typename Map, typename Hit>
void forEachRenamedWord(const Map& map, const std::uint8_t* text, std::size_t length, Hit&& hit) {
    for (std::size_t i = 0; i + 4 <= length; ++i) {
        if (i != 0 && !isDelimiter(text[i - 1]))
            continue;
        if (i + 4 != length && !isDelimiter(text[i + 4]))
            continue;
        if (const std::int64_t k = map.find(load32(text + i)); k >= 0) {
            hit(i, static_cast<std::size_t>(k));
            i += 4; // the delimiter after the word is passed over with it
        }
    }
}

} // namespace

void RenameEngine::WordMap::clear() {
    keys_.clear();
    values_.clear();
    used_ = 0;
}

std::size_t RenameEngine::WordMap::slotOf(std::uint32_t key) const {
    // Multiplicative hashing takes the high bits of the product: identifiers that differ only in their last
    // character differ only in their high bits.
    std::size_t at = static_cast<std::size_t>((std::uint64_t(key) * 0x9E3779B97F4A7C15ull) >> 32) & (keys_.size() - 1);
    while (keys_[at] != 0 && keys_[at] != key)
        at = (at + 1) & (keys_.size() - 1);
    return at;
}

std::uint32_t RenameEngine::WordMap::insert(std::uint32_t key, std::uint32_t value) {
    if (2 * (used_ + 1) > keys_.size()) {
        std::vector<std::uint32_t> keys = std::move(keys_);
        std::vector<std::uint32_t> values = std::move(values_);
        keys_.assign(std::max<std::size_t>(64, 2 * keys.size()), 0);
        values_.assign(keys_.size(), 0);
        used_ = 0;
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (keys[i] != 0)
                insert(keys[i], values[i]);
    }
    const std::size_t at = slotOf(key);
    if (keys_[at] == key)
        return values_[at];
    keys_[at] = key;
    values_[at] = value;
    ++used_;
    return value;
}

std::int64_t RenameEngine::WordMap::find(std::uint32_t key) const {
    if (keys_.empty() || hasZeroByte(key)) // no plain word holds a NUL; 0 marks a free slot
        return -1;
    const std::size_t at = slotOf(key);
    return keys_[at] == key ? std::int64_t(values_[at]) : -1;
}

bool RenameEngine::renamesWithoutMerging(ObjectId pattern, ObjectId replacement) const {
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectFile& file = bundle_.kind(k).file;
        int renamed = 0;
        for (const ObjectTable* table : {&file.standardTable, &file.customTable}) {
            if (const std::size_t at = table->indexOf(replacement);
                at < table->count() && table->at(at).effectiveId() == replacement)
                return false;
            if (const std::size_t at = table->indexOf(pattern);
                at < table->count() && table->at(at).effectiveId() == pattern)
                ++renamed;
        }
        if (renamed > 1)
            return false;
    }
    return true;
}

bool RenameEngine::applyRename(ObjectId pattern, ObjectId replacement, RenameList& list,
                               std::vector<ValueCounts>* counts, bool mayDefer) {
    // Deferring keeps the bytes only when no rename's result is another deferred rename's pattern, and when
    // words keep their boundaries: plain identifiers, no NUL written. Nor may the pair merge objects: the values
    // of a merged object would be counted otherwise. Once the index is built, rewriting must keep it whole:
    // nothing is deferred any more.
    const bool defer = mayDefer && !indexed_ && isPlainWord(pattern) && isPlainWord(replacement) &&
                       replacement != kSentinelId && !needsDeferredDone(pattern, replacement) &&
                       renamesWithoutMerging(pattern, replacement);
    if (!defer) {
        rewriteDeferred();
        ensureIndexed();
    }
    if (hasWildcard(pattern))
        planByVisitingAll(pattern, replacement, list);
    else
        planByBisection(pattern, replacement, list, defer);
    if (counts)
        counts->clear();
    // An object's name as the renames left for later would have left it when this pair met the object.
    for (std::size_t i = 0; defer && !deferred_.empty() && i < list.size(); ++i)
        if (std::optional<std::string>& name = list.entryAt(i).displayName)
            forEachRenamedWord(deferredFrom_, reinterpret_cast<const std::uint8_t*>(name->data()), textLength(*name),
                               [&](std::size_t at, std::size_t e) {
                                   std::memcpy(name->data() + at, deferred_[e].toId.bytes.data(), 4);
                               });
    for (const RenameEntry& entry : list.entries()) {
        if (defer) {
            // The first entry of an identifier does its rewriting; the others find nothing left.
            deferredFrom_.insert(entry.fromId.value(), static_cast<std::uint32_t>(deferred_.size()));
            deferredTo_.insert(entry.toId.value(), 0);
            deferred_.push_back(entry);
            if (counts)
                counts->push_back({});
            continue;
        }
        const ValueCounts changed = rewriteReferences(entry.fromId, entry.toId);
        if (counts)
            counts->push_back(changed);
    }
    return defer;
}

bool RenameEngine::needsDeferredDone(ObjectId pattern, ObjectId replacement) const {
    if (deferred_.empty())
        return false;
    if (!isPlainWord(pattern) || !isPlainWord(replacement))
        return true;
    for (ObjectId id : {pattern, replacement})
        if (deferredFrom_.find(id.value()) >= 0 || deferredTo_.find(id.value()) >= 0)
            return true;
    return false;
}

void RenameEngine::placePending() {
    if (pending_.empty())
        return;
    const MergePolicy policy = policy_;
    std::unordered_set<const ObjectRecord*> leaving;
    for (ObjectKind k : kAllObjectKinds) {
        leaving.clear();
        bool any = false;
        for (const PendingRename& p : pending_) {
            if (p.kind != k)
                continue;
            any = true;
            p.record->newId = p.newId;
            if (p.fromStandard)
                leaving.insert(p.record);
        }
        if (!any)
            continue;
        ObjectFile& file = bundle_.kind(k).file;
        if (!leaving.empty())
            for (std::unique_ptr<ObjectRecord>& record :
                 file.standardTable.takeWhere([&](const ObjectRecord& r) { return leaving.count(&r) != 0; }))
                file.customTable.append(std::move(record));
        // The renamed objects carry identifiers no other object has: one sort puts every one where it belongs.
        file.customTable.sortAndResolve(policy, this);
    }
    pending_.clear();
}

void RenameEngine::rewriteDeferred() {
    placePending();
    if (deferred_.empty())
        return;
    // Each deferred rename turns its pattern into a plain word that no other deferred rename looks for, and no
    // plain word changes where words begin or end: one pass that renames every word once gives the bytes that
    // the renames one after the other would.
    const WordMap& map = deferredFrom_;
    std::vector<ValueCounts> counts(deferred_.size());
    std::vector<std::size_t> touched;
    for (ObjectKind k : kAllObjectKinds) {
        ObjectFile& file = bundle_.kind(k).file;
        for (ObjectTable* table : {&file.standardTable, &file.customTable})
            for (std::size_t r = 0; r < table->count(); ++r) {
                ObjectRecord& record = table->at(r);
                // Stored values are looked at where they stand: only an object with a renamed word is copied.
                bool holds = false;
                record.visitValues([&](std::size_t, const ObjectRecord::ValueView& v) {
                    if (holds)
                        return;
                    if (v.valueType == ModValueType::Integer)
                        holds = map.find(static_cast<std::uint32_t>(v.intValue)) >= 0;
                    else if (v.valueType == ModValueType::String)
                        forEachRenamedWord(map, reinterpret_cast<const std::uint8_t*>(v.text.data()),
                                           textLength(v.text), [&](std::size_t, std::size_t) { holds = true; });
                });
                if (!holds)
                    continue;
                // Values are rewritten where they stand: stored ones stay stored, nothing is unpacked.
                record.patchValues([&](ModValueType type, std::uint8_t* bytes, std::size_t size) {
                    if (type == ModValueType::Integer) {
                        if (const std::int64_t e = map.find(load32(bytes)); e >= 0) {
                            std::memcpy(bytes, deferred_[static_cast<std::size_t>(e)].toId.bytes.data(), 4);
                            ++counts[static_cast<std::size_t>(e)].integers;
                        }
                        return;
                    }
                    touched.clear();
                    const std::size_t length = textLength(std::string_view(reinterpret_cast<char*>(bytes), size));
                    forEachRenamedWord(map, bytes, length, [&](std::size_t at, std::size_t e) {
                        std::memcpy(bytes + at, deferred_[e].toId.bytes.data(), 4);
                        touched.push_back(e);
                    });
                    std::sort(touched.begin(), touched.end());
                    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
                    for (std::size_t e : touched)
                        ++counts[e].strings;
                });
            }
    }
    deferredCounts_.insert(deferredCounts_.end(), counts.begin(), counts.end());
    deferred_.clear();
    deferredFrom_.clear();
    deferredTo_.clear();
}

void RenameEngine::planByBisection(ObjectId pattern, ObjectId replacement, RenameList& list, bool defer) {
    // Without a wildcard only an object whose own identifier is exactly the pattern can be renamed. Tables are in
    // identifier order without two matching ids, so each table holds at most one such object, found by bisection.
    // An object moved into the custom table never agrees with the pattern again.
    if (hasZeroByte(pattern.value()))
        return;
    const MergePolicy policy = policy_;
    for (ObjectKind k : kAllObjectKinds) {
        ObjectFile& file = bundle_.kind(k).file;
        std::size_t i = file.standardTable.indexOf(pattern);
        if (defer) {
            // The tables stay as they are until placePending(): no later deferred pair looks for these objects.
            for (bool standard : {true, false}) {
                ObjectTable& table = standard ? file.standardTable : file.customTable;
                if (i < table.count() && table.at(i).effectiveId() == pattern) {
                    RenameEntry entry = planRename(table.at(i), pattern, replacement);
                    if (entry.isChange()) {
                        pending_.push_back({&table.at(i), entry.toId, k, standard});
                        list.insert(std::move(entry));
                    }
                }
                if (standard)
                    i = file.customTable.indexOf(pattern);
            }
            continue;
        }
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
    const MergePolicy policy = policy_;
    for (ObjectKind k : kAllObjectKinds) {
        ObjectFile& file = bundle_.kind(k).file;
        // Every renamed object of the standard table moves, so only the custom table can fall out of order.
        collectRenames(file.standardTable, pattern, replacement, &file.customTable, policy, list, this);
        if (collectRenames(file.customTable, pattern, replacement, nullptr, policy, list, this))
            file.customTable.sortAndResolve(policy, this);
    }
}

ValueCounts RenameEngine::rewriteEverywhere(ObjectId fromId, ObjectId toId) {
    // The wildcard can agree with any word: visit every value, and list the words of those that changed.
    ValueCounts counts;
    const bool endsAtNul = writesNul(toId);
    std::string before;
    for (std::uint32_t slot = 0; slot < records_.size(); ++slot) {
        ObjectRecord* record = records_[slot];
        if (!record)
            continue;
        for (std::size_t i = 0; i < record->modificationCount(); ++i) {
            Modification& m = record->modificationAt(i);
            bool changed = false;
            if (m.valueType == ModValueType::String) {
                if (m.stringValue.size() < 4)
                    continue;
                before.assign(m.stringValue);
                substituteInText(m.stringValue, fromId, toId);
                if (endsAtNul)
                    if (const std::size_t end = m.stringValue.find('\0'); end != std::string::npos)
                        m.stringValue.resize(end);
                changed = m.stringValue != before;
                counts.strings += changed;
            } else if (m.valueType == ModValueType::Integer) {
                const std::int32_t was = m.intValue;
                m.intValue = substituteInValue(m.intValue, fromId, toId);
                changed = m.intValue != was;
                counts.integers += changed;
            }
            if (changed)
                indexValue(slot, static_cast<std::uint32_t>(i), m);
        }
    }
    return counts;
}

void RenameEngine::rewritePlaces(std::uint32_t slot, std::uint32_t mod, const Place* first, const Place* last,
                                 ObjectId fromId, ObjectId toId, ValueCounts& counts) {
    ObjectRecord* record = records_[slot];
    if (!record || mod >= record->modificationCount())
        return; // gone
    Modification& m = record->modificationAt(mod);
    const std::uint32_t from = fromId.value();
    if (m.valueType == ModValueType::Integer) {
        // An integer place sorts after every string place of the same value.
        if (last[-1].offset != kIntegerPlace || static_cast<std::uint32_t>(m.intValue) != from)
            return;
        const std::int32_t was = m.intValue;
        m.intValue = substituteInValue(m.intValue, fromId, toId);
        counts.integers += m.intValue != was;
        indexValue(slot, mod, m);
        return;
    }
    if (m.valueType != ModValueType::String)
        return;
    auto* text = reinterpret_cast<std::uint8_t*>(m.stringValue.data());
    // Values read from files never hold a NUL; the few made otherwise that do are known by their key.
    const std::uint64_t key = valueKey(slot, mod);
    const bool mayHoldNul = !nulValues_.empty() && nulValues_.count(key) != 0;
    const std::size_t length = mayHoldNul ? textLength(m.stringValue) : m.stringValue.size();
    // The hits of a left-to-right pass: every whole-word occurrence of the text as it stood, except those that
    // begin within five bytes of the previous hit (its four bytes and the delimiter after them are passed over).
    // Rewriting a hit never changes the bytes that a later window is judged by.
    static thread_local std::vector<std::size_t> hits;
    hits.clear();
    for (const Place* p = first; p != last && p->offset != kIntegerPlace; ++p) {
        const std::size_t at = p->offset;
        if (at + 4 > length || load32(text + at) != from || !isWholeWord(text, length, at))
            continue; // no longer there
        if (!hits.empty() && at < hits.back() + 5)
            continue;
        hits.push_back(at);
    }
    if (hits.empty())
        return;
    bool changed = false;
    for (std::size_t at : hits)
        for (int j = 0; j < 4; ++j)
            if (toId.bytes[j] != '%' && text[at + j] != toId.bytes[j]) {
                text[at + j] = toId.bytes[j];
                changed = true;
            }
    // A value is a NUL-terminated text: a NUL written into it ends it there.
    bool cut = false;
    if (writesNul(toId))
        if (const std::size_t end = m.stringValue.find('\0'); end != std::string::npos) {
            m.stringValue.resize(end);
            changed = true;
            cut = true;
            nulValues_.erase(key);
        }
    counts.strings += changed;
    // Only the windows that a rewritten word touches, or its boundaries, can have become words or stopped being
    // words; the same holds for windows that now end the text. Occurrences passed over are listed again here.
    text = reinterpret_cast<std::uint8_t*>(m.stringValue.data());
    const std::size_t now = mayHoldNul && !cut ? length : m.stringValue.size();
    std::size_t next = 0;
    for (std::size_t at : hits) {
        const std::size_t lo = std::max(next, at >= 4 ? at - 4 : 0);
        if (lo <= at + 4)
            indexWindows(slot, mod, text, now, lo, at + 4);
        next = at + 5;
    }
}

ValueCounts RenameEngine::rewriteReferences(ObjectId fromId, ObjectId toId) {
    if (hasWildcard(fromId))
        return rewriteEverywhere(fromId, toId);
    ValueCounts total;
    // Take the places out first: rewriting lists places anew, this word's among them.
    if (std::vector<Place> places = holders_.take(fromId.value()); !places.empty()) {
        std::sort(places.begin(), places.end(), [](const Place& a, const Place& b) {
            return a.slot != b.slot ? a.slot < b.slot : a.mod != b.mod ? a.mod < b.mod : a.offset < b.offset;
        });
        places.erase(std::unique(places.begin(), places.end()), places.end());
        for (std::size_t i = 0; i < places.size();) {
            std::size_t j = i + 1;
            while (j < places.size() && places[j].slot == places[i].slot && places[j].mod == places[i].mod)
                ++j;
            rewritePlaces(places[i].slot, places[i].mod, places.data() + i, places.data() + j, fromId, toId, total);
            i = j;
        }
    }
    if (writesNul(toId))
        cutAtNul(total);
    return total;
}

void RenameEngine::cutAtNul(ValueCounts& counts) {
    // A rewrite that writes a NUL ends, as a step by step pass would, every string value of four bytes or more
    // at its first NUL, wherever the word stood: the values already holding one are cut too.
    std::vector<std::uint64_t> keys(nulValues_.begin(), nulValues_.end());
    for (std::uint64_t key : keys) {
        const auto slot = static_cast<std::uint32_t>(key >> 32);
        const auto mod = static_cast<std::uint32_t>(key);
        ObjectRecord* record = records_[slot];
        if (!record || mod >= record->modificationCount()) {
            nulValues_.erase(key);
            continue;
        }
        Modification& m = record->modificationAt(mod);
        if (m.valueType != ModValueType::String || m.stringValue.size() < 4)
            continue;
        nulValues_.erase(key);
        const std::size_t end = m.stringValue.find('\0');
        if (end == std::string::npos)
            continue;
        m.stringValue.resize(end);
        ++counts.strings;
    }
}

void applyRename(ObjectBundle& bundle, ObjectId pattern, ObjectId replacement, RenameList& list, MergePolicy policy) {
    RenameEngine engine(bundle, policy);
    engine.applyRename(pattern, replacement, list);
}

} // namespace brindlemark
