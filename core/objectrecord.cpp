#include "core/objectrecord.h"

#include "core/recordplacer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <iterator>
#include <span>
#include <utility>

namespace brindlemark {

namespace {

// The index of an entry whose field id (`fieldAt(i)`) matches, found by bisection (with several, the first one
// the search meets), or `count` when there is none.
template <typename FieldAt> std::size_t bisectField(ObjectId fieldId, std::size_t count, FieldAt fieldAt) {
    std::size_t lo = 0;
    std::size_t hi = count;
    while (lo != hi) {
        const std::size_t mid = (lo + hi) / 2;
        const int c = compareIds(fieldId, fieldAt(mid));
        if (c == 0)
            return mid;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return count;
}

// The field order keys met so far on one thread, each with its place among them, so that the few dozen fields of
// an object sort by setting bits instead of by comparisons whose outcome no branch predictor can guess. A kind's
// object files use a few hundred fields; past kMaxFields the table starts afresh.
class FieldRanks {
public:
    static constexpr std::size_t kMaxFields = 1024;
    static constexpr std::uint32_t kUnknown = 0xffffffffu;

    // The place of `key` among the keys met, or kUnknown.
    std::uint32_t rankOf(std::uint32_t key) const {
        for (std::size_t slot = slotOf(key); used_[slot]; slot = (slot + 1) & (kSlots - 1))
            if (keys_[slot] == key)
                return ranks_[slot];
        return kUnknown;
    }

    // Takes note of keys not met before (duplicates allowed), and once enough are noted adds them all, which
    // moves the places of the keys after them: whether it did. Rebuilding the table for every object that brings
    // a new field costs more than sorting such objects by comparisons (an abilities file may bring new fields
    // in half of its objects).
    bool learn(std::span<const std::uint32_t> keys) {
        constexpr std::size_t kBatch = 64;
        noted_.insert(noted_.end(), keys.begin(), keys.end());
        if (noted_.size() < kBatch && !sorted_.empty())
            return false;
        add(noted_);
        noted_.clear();
        return true;
    }

private:
    void add(std::span<const std::uint32_t> keys) {
        if (sorted_.size() + keys.size() > kMaxFields)
            sorted_.clear();
        sorted_.insert(sorted_.end(), keys.begin(), keys.end());
        std::sort(sorted_.begin(), sorted_.end());
        sorted_.erase(std::unique(sorted_.begin(), sorted_.end()), sorted_.end());
        used_.fill(false);
        for (std::uint32_t rank = 0; rank < sorted_.size(); ++rank) {
            std::size_t slot = slotOf(sorted_[rank]);
            while (used_[slot])
                slot = (slot + 1) & (kSlots - 1);
            used_[slot] = true;
            keys_[slot] = sorted_[rank];
            ranks_[slot] = static_cast<std::uint16_t>(rank);
        }
    }

    static constexpr std::size_t kSlots = 4 * kMaxFields;
    static std::size_t slotOf(std::uint32_t key) { return (key * 0x9E3779B1u) >> 20; }
    static_assert(kSlots == std::size_t(1) << 12);

    std::array<std::uint32_t, kSlots> keys_{};
    std::array<std::uint16_t, kSlots> ranks_{};
    std::array<bool, kSlots> used_{};
    std::vector<std::uint32_t> sorted_;
    std::vector<std::uint32_t> noted_; // met, not added yet
};

// Sorts at most 64 keys (field order key above a place, all different) by the places of their fields: false,
// leaving them as they were, when two share a field or some field's place is not known yet.
bool sortByFieldRank(std::vector<std::uint64_t>& keys) {
    static thread_local FieldRanks table;
    FieldRanks& ranks = table; // looked up once
    const std::size_t count = keys.size();
    std::uint64_t bits[FieldRanks::kMaxFields / 64];
    std::uint8_t holder[FieldRanks::kMaxFields];
    std::uint32_t unknown[64];
    for (;;) {
        std::fill(std::begin(bits), std::end(bits), 0);
        std::size_t unknownCount = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t field = static_cast<std::uint32_t>(keys[i] >> 32);
            const std::uint32_t rank = ranks.rankOf(field);
            if (rank == FieldRanks::kUnknown) {
                unknown[unknownCount++] = field;
                continue;
            }
            std::uint64_t& word = bits[rank / 64];
            const std::uint64_t bit = std::uint64_t(1) << (rank % 64);
            if (word & bit)
                return false;
            word |= bit;
            holder[rank] = static_cast<std::uint8_t>(i);
        }
        if (unknownCount == 0)
            break;
        // Fields met for the first time move the places found before them: once more, with every field known.
        if (!ranks.learn(std::span<const std::uint32_t>(unknown, unknownCount)))
            return false;
    }
    std::uint64_t unsorted[64];
    std::copy(keys.begin(), keys.end(), unsorted);
    std::size_t k = 0;
    for (std::size_t w = 0; w < std::size(bits); ++w)
        for (std::uint64_t word = bits[w]; word != 0; word &= word - 1)
            keys[k++] = unsorted[holder[w * 64 + static_cast<std::size_t>(std::countr_zero(word))]];
    return true;
}

} // namespace

const Modification* ObjectRecord::find(ObjectId fieldId) const {
    unpack();
    const std::size_t at = bisectField(fieldId, mods_.size(), [&](std::size_t i) { return mods_[i].fieldId; });
    return at < mods_.size() ? &mods_[at] : nullptr;
}

std::optional<ObjectRecord::ValueView> ObjectRecord::findValue(ObjectId fieldId) const {
    return findFirstValue(std::span<const ObjectId>(&fieldId, 1));
}

std::optional<ObjectRecord::ValueView> ObjectRecord::findFirstValue(std::span<const ObjectId> fieldIds) const {
    if (!stored_.bytes) {
        for (ObjectId fieldId : fieldIds)
            if (const Modification* m = find(fieldId))
                return ValueView{m->valueType, m->intValue, m->stringValue};
        return std::nullopt;
    }
    // The same bisection as find(), over the stored modifications' field ids.
    place();
    static thread_local std::vector<const std::uint8_t*> starts;
    starts.clear();
    walkStored(stored_.bytes, stored_.order.get(), stored_.count, stored_.hasLevels,
               [&](std::size_t, const std::uint8_t* first, ModValueType, const std::uint8_t*, std::size_t) {
                   starts.push_back(first);
               });
    for (ObjectId fieldId : fieldIds) {
        const std::size_t at = bisectField(fieldId, starts.size(), [&](std::size_t i) {
            ObjectId field;
            std::memcpy(field.bytes.data(), starts[i], 4);
            return field;
        });
        if (at == starts.size())
            continue;
        std::optional<ValueView> found;
        walkStored(starts[at], nullptr, 1, stored_.hasLevels,
                   [&](std::size_t, const std::uint8_t*, ModValueType type, const std::uint8_t* value,
                       std::size_t length) { found = storedView(type, value, length); });
        return found;
    }
    return std::nullopt;
}

std::uint8_t* ObjectRecord::ownStoredBytes() {
    if (!stored_.own || stored_.owner.use_count() != 1) {
        std::shared_ptr<std::uint8_t[]> copy(new std::uint8_t[stored_.size]);
        std::memcpy(copy.get(), stored_.bytes, stored_.size);
        stored_.bytes = copy.get();
        stored_.owner = std::move(copy);
        stored_.own = true;
    }
    return const_cast<std::uint8_t*>(stored_.bytes);
}

std::size_t ObjectRecord::replaceTarget(const Modification& m, std::size_t& insertPos) const {
    // Files list modifications in field order, so most go after the last one.
    if (mods_.empty() || compareIds(m.fieldId, mods_.back().fieldId) > 0) {
        insertPos = mods_.size();
        return mods_.size();
    }
    // The entries whose field ids match form one run; find its end by bisection, then look back through it.
    std::size_t lo = 0;
    std::size_t hi = mods_.size();
    while (lo != hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (compareIds(m.fieldId, mods_[mid].fieldId) < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    insertPos = lo;
    for (std::size_t i = lo; i-- > 0;) {
        const Modification& e = mods_[i];
        if (!idsMatch(e.fieldId, m.fieldId))
            break;
        if (e.hasLevels == m.hasLevels && (!m.hasLevels || (e.level == m.level && e.dataColumn == m.dataColumn)))
            return i;
    }
    return mods_.size();
}

void ObjectRecord::addOrReplace(const Modification& m) {
    unpack();
    std::size_t pos = 0;
    const std::size_t target = replaceTarget(m, pos);
    if (target < mods_.size())
        mods_[target].assignFrom(m);
    else
        mods_.insert(mods_.begin() + static_cast<std::ptrdiff_t>(pos), m);
}

void ObjectRecord::addOrReplace(Modification&& m) {
    unpack();
    std::size_t pos = 0;
    const std::size_t target = replaceTarget(m, pos);
    if (target < mods_.size())
        mods_[target].assignFrom(m);
    else
        mods_.insert(mods_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(m));
}

void ObjectRecord::insertAt(const Modification& m, std::size_t index) {
    unpack();
    if (index > mods_.size())
        index = mods_.size();
    mods_.insert(mods_.begin() + static_cast<std::ptrdiff_t>(index), m);
}

void ObjectRecord::mergeFrom(const ObjectRecord& other) {
    if (&other == this) {
        const ObjectRecord copy = other;
        mergeFrom(copy);
        return;
    }
    for (const Modification& m : other.modifications())
        addOrReplace(m);
}

bool ObjectRecord::read(ByteReader& in, bool hasLevels, std::int32_t version) {
    const ReadPlace outer = in.place;
    in.place.what = "an object";
    in.place.object = nullptr;
    if (!in.readId(baseId) || !in.readId(newId))
        return false;
    const ObjectId shown = effectiveId();
    in.place.what = "object";
    in.place.object = &shown;
    if (version >= 3) {
        const std::size_t at = in.offset();
        std::uint32_t sets = 0;
        if (!in.readU32(sets))
            return false;
        if (sets != 1)
            return in.fail(at, "an object with " + std::to_string(sets) +
                                   " sets is not supported (every object must have exactly one)");
        if (!in.readI32(setFlag))
            return false;
    }
    const std::size_t countAt = in.offset();
    std::uint32_t count = 0;
    if (!in.readU32(count))
        return false;
    if (count > in.remaining() / minModificationBytes(hasLevels))
        return in.countTooLarge(countAt, count, "modifications");
    in.place.what = "a modification of object";
    mods_.clear();
    stored_ = Stored{};
    if (in.keepAlive && readStored(in, hasLevels, count)) {
        in.place = outer;
        return true;
    }
    mods_.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        // Read in place at the end; most files list fields in order, and then the modification stays there.
        Modification& m = mods_.emplace_back();
        if (!m.read(in, hasLevels)) {
            mods_.pop_back();
            return false;
        }
        if (mods_.size() > 1 && compareIds(m.fieldId, mods_[mods_.size() - 2].fieldId) <= 0) {
            Modification out = std::move(m);
            mods_.pop_back();
            addOrReplace(std::move(out));
        }
    }
    in.place = outer;
    return true;
}

bool ObjectRecord::readStored(ByteReader& in, bool hasLevels, std::uint32_t count) {
    // The same checks as Modification::read() makes; anything it would fail on, or read as a stray value, is
    // left to it.
    const std::uint8_t* const start = in.here();
    const std::uint8_t* const end = start + in.remaining();
    const std::uint8_t* p = start;
    const std::size_t header = hasLevels ? 16 : 8;
    const std::uint32_t base = baseId.value();
    bool baseMarkers = true;
    // Whether every modification stays at the end when added in turn (see orderStored).
    bool inOrder = true;
    std::uint32_t previous = 0;
    constexpr std::size_t kMaxRun = 16;
    std::uint64_t run[kMaxRun];
    std::size_t runLength = 0;
    static thread_local std::vector<std::uint64_t> keys;
    static thread_local std::vector<std::uint32_t> starts;
    static thread_local std::vector<std::uint64_t> levelColumns;
    // Filled through plain pointers: the thread-local vectors would be looked up anew at every use.
    keys.resize(count);
    starts.resize(count);
    levelColumns.resize(hasLevels ? count : 0);
    std::uint64_t* const keyAt = keys.data();
    std::uint32_t* const startAt = starts.data();
    std::uint64_t* const levelsAt = levelColumns.data();
    for (std::uint32_t i = 0; i < count; ++i) {
        if (static_cast<std::size_t>(end - p) < header + 8)
            return false;
        const std::uint32_t type = detail::loadLittle32(p + 4);
        if (type > 3)
            return false;
        ObjectId field;
        std::memcpy(field.bytes.data(), p, 4);
        const std::uint32_t key = orderKey(field);
        keyAt[i] = std::uint64_t(key) << 32 | i;
        startAt[i] = static_cast<std::uint32_t>(p - start);
        const std::uint64_t levels =
            hasLevels ? std::uint64_t(detail::loadLittle32(p + 8)) << 32 | detail::loadLittle32(p + 12) : 0;
        if (hasLevels)
            levelsAt[i] = levels;
        if (inOrder) {
            if (i != 0 && key <= previous) {
                inOrder = key == previous && hasLevels && runLength < kMaxRun;
                for (std::size_t r = 0; inOrder && r < runLength; ++r)
                    inOrder = run[r] != levels;
                if (inOrder)
                    run[runLength++] = levels;
            } else {
                run[0] = levels;
                runLength = 1;
            }
            previous = key;
        }
        const std::uint8_t* value = p + header;
        if (type == static_cast<std::uint32_t>(ModValueType::String)) {
            const std::size_t room = std::min<std::size_t>(static_cast<std::size_t>(end - value), kMaxStringBytes + 1);
            const void* nul = std::memchr(value, 0, room);
            if (!nul)
                return false;
            value = static_cast<const std::uint8_t*>(nul) + 1;
        } else {
            value += 4;
        }
        if (end - value < 4)
            return false;
        baseMarkers = baseMarkers && detail::loadLittle32(value) == base;
        p = value + 4;
    }
    in.advance(static_cast<std::size_t>(p - start));
    stored_ = Stored{in.keepAlive, start, static_cast<std::size_t>(p - start), count, hasLevels, baseMarkers, baseId};
    if (!inOrder && in.placer && !in.sortWhenUsed) {
        // Sorted on the placer's thread, which also drops the modifications that later ones replace.
        stored_.unplaced = true;
        in.placer->add(*this, {keyAt, count}, {startAt, count}, levelColumns);
    } else if (!inOrder && in.sortWhenUsed && !anyRepeated(keys, levelColumns)) {
        // Left unsorted only when sorting drops none, so that the count stands as it is.
        stored_.unplaced = true;
    } else if (!inOrder) {
        placeFrom(keys, starts, levelColumns);
    }
    return true;
}

void ObjectRecord::orderStored(std::vector<std::uint64_t>& keys, std::span<const std::uint32_t> starts,
                               std::span<const std::uint64_t> levels, bool hasLevels,
                               std::vector<std::uint32_t>& order) {
    // As read() adds Modification values: one whose field comes after the last one's goes at the end; any other
    // replaces the entry of its field with the same level columns, or goes after the entries of its field. So the
    // fields end up in identifier order, the entries of one field in the order their level columns first came,
    // each holding the last modification read with those columns: a stable sort by field (the keys hold the
    // field's order key above the place read), then the repeated level columns of each field folded into their
    // first entry.
    const std::size_t n = keys.size();
    // The editor writes the level columns of one field together: such a run is sorted as one.
    static thread_local std::vector<std::uint64_t> runScratch;
    static thread_local std::vector<std::uint32_t> runEndScratch;
    std::vector<std::uint64_t>& runs = runScratch; // looked up once
    std::vector<std::uint32_t>& runEnd = runEndScratch;
    runs.clear();
    runEnd.resize(n);
    for (std::size_t i = 0; i < n;) {
        std::size_t end = i + 1;
        while (end < n && keys[end] >> 32 == keys[i] >> 32)
            ++end;
        runs.push_back(keys[i]);
        runEnd[i] = static_cast<std::uint32_t>(end);
        i = end;
    }
    if (runs.size() <= 64 && sortByFieldRank(runs)) {
        // Sorted by the places of their fields.
    } else if (runs.size() <= 48) {
        // Objects hold a few dozen fields: an insertion sort beats the general one there.
        std::uint64_t* const sorted = runs.data();
        const std::size_t count = runs.size();
        for (std::size_t i = 1; i < count; ++i) {
            const std::uint64_t key = sorted[i];
            std::size_t j = i;
            for (; j > 0 && key < sorted[j - 1]; --j)
                sorted[j] = sorted[j - 1];
            sorted[j] = key;
        }
    } else {
        std::sort(runs.begin(), runs.end());
    }
    if (runs.size() != n) {
        std::size_t k = 0;
        for (const std::uint64_t run : runs) {
            const std::uint32_t first = static_cast<std::uint32_t>(run);
            for (std::uint32_t i = first; i < runEnd[first]; ++i)
                keys[k++] = (run >> 32) << 32 | i;
        }
    } else {
        keys.swap(runs);
    }
    const auto startOf = [&](std::uint64_t key) { return starts[static_cast<std::uint32_t>(key)]; };
    const auto levelsOf = [&](std::uint64_t key) { return levels[static_cast<std::uint32_t>(key)]; };
    order.clear();
    for (std::size_t i = 0; i < n;) {
        std::size_t end = i + 1;
        while (end < n && keys[end] >> 32 == keys[i] >> 32)
            ++end;
        if (end - i == 1 || !hasLevels) {
            // Without level columns, every entry of a field replaces the one before it.
            order.push_back(startOf(keys[end - 1]));
        } else if (end - i <= 16) {
            const std::size_t first = order.size();
            std::uint64_t held[16]; // the level columns of the entries placed for this field
            std::size_t heldCount = 0;
            for (std::size_t k = i; k < end; ++k) {
                const std::uint64_t columns = levelsOf(keys[k]);
                std::size_t same = 0;
                while (same < heldCount && held[same] != columns)
                    ++same;
                if (same < heldCount) {
                    order[first + same] = startOf(keys[k]);
                } else {
                    held[heldCount++] = columns;
                    order.push_back(startOf(keys[k]));
                }
            }
        } else {
            // Many entries of one field: group equal level columns, keep each group's first place and last bytes.
            std::vector<std::pair<std::uint64_t, std::uint64_t>> byLevels; // level columns, key
            for (std::size_t k = i; k < end; ++k)
                byLevels.emplace_back(levelsOf(keys[k]), keys[k]);
            std::sort(byLevels.begin(), byLevels.end());
            std::vector<std::pair<std::uint64_t, std::uint32_t>> kept; // first key, last start
            for (std::size_t k = 0; k < byLevels.size();) {
                std::size_t last = k;
                while (last + 1 < byLevels.size() && byLevels[last + 1].first == byLevels[k].first)
                    ++last;
                kept.emplace_back(byLevels[k].second, startOf(byLevels[last].second));
                k = last + 1;
            }
            std::sort(kept.begin(), kept.end());
            for (const auto& [key, at] : kept)
                order.push_back(at);
        }
        i = end;
    }
}

bool ObjectRecord::anyRepeated(const std::vector<std::uint64_t>& keys, std::span<const std::uint64_t> levelColumns) {
    // An open-addressed set of (field, level columns) a few times larger than the object; a slot counts as
    // taken only when stamped in this round, so that the table is never cleared.
    static thread_local std::vector<std::uint64_t> slotKeys;
    static thread_local std::vector<std::uint64_t> slotLevels;
    static thread_local std::vector<std::uint32_t> slotRound;
    static thread_local std::uint32_t round = 0;
    std::vector<std::uint64_t>& taken = slotKeys; // looked up once
    std::vector<std::uint64_t>& takenLevels = slotLevels;
    std::vector<std::uint32_t>& stamps = slotRound;
    std::size_t size = 64;
    while (size < 4 * keys.size())
        size *= 2;
    if (stamps.size() < size) {
        taken.assign(size, 0);
        takenLevels.assign(size, 0);
        stamps.assign(size, 0);
        round = 0;
    }
    if (++round == 0) {
        std::fill(stamps.begin(), stamps.end(), 0u);
        round = 1;
    }
    const std::uint32_t thisRound = round;
    const std::size_t mask = size - 1;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::uint64_t field = keys[i] >> 32;
        const std::uint64_t levels = levelColumns.empty() ? 0 : levelColumns[i];
        std::size_t slot =
            static_cast<std::size_t>(((field ^ levels ^ levels >> 29) * 0x9E3779B97F4A7C15ull) >> 40) & mask;
        for (; stamps[slot] == thisRound; slot = (slot + 1) & mask)
            if (taken[slot] == field && takenLevels[slot] == levels)
                return true;
        stamps[slot] = thisRound;
        taken[slot] = field;
        takenLevels[slot] = levels;
    }
    return false;
}

void ObjectRecord::placeStored() const {
    static thread_local std::vector<std::uint64_t> keyScratch;
    static thread_local std::vector<std::uint32_t> startScratch;
    static thread_local std::vector<std::uint64_t> levelScratch;
    std::vector<std::uint64_t>& keys = keyScratch; // looked up once
    std::vector<std::uint32_t>& starts = startScratch;
    std::vector<std::uint64_t>& levels = levelScratch;
    keys.resize(stored_.count);
    starts.resize(stored_.count);
    levels.resize(stored_.hasLevels ? stored_.count : 0);
    walkStored(stored_.bytes, nullptr, stored_.count, stored_.hasLevels,
               [&](std::size_t i, const std::uint8_t* first, ModValueType, const std::uint8_t*, std::size_t) {
                   ObjectId field;
                   std::memcpy(field.bytes.data(), first, 4);
                   keys[i] = std::uint64_t(orderKey(field)) << 32 | i;
                   starts[i] = static_cast<std::uint32_t>(first - stored_.bytes);
                   if (stored_.hasLevels)
                       levels[i] =
                           std::uint64_t(detail::loadLittle32(first + 8)) << 32 | detail::loadLittle32(first + 12);
               });
    placeFrom(keys, starts, levels);
}

void ObjectRecord::placeFrom(std::span<const std::uint64_t> keys, std::span<const std::uint32_t> starts,
                             std::span<const std::uint64_t> levels) const {
    static thread_local std::vector<std::uint64_t> keyScratch;
    static thread_local std::vector<std::uint32_t> placedScratch;
    std::vector<std::uint64_t>& sortedKeys = keyScratch; // looked up once
    std::vector<std::uint32_t>& placed = placedScratch;
    // orderStored() sorts its keys in place.
    sortedKeys.assign(keys.begin(), keys.end());
    orderStored(sortedKeys, starts, levels, stored_.hasLevels, placed);
    std::shared_ptr<std::uint32_t[]> order = std::make_shared_for_overwrite<std::uint32_t[]>(placed.size());
    std::copy(placed.begin(), placed.end(), order.get());
    stored_.count = static_cast<std::uint32_t>(placed.size());
    stored_.order = std::move(order);
    stored_.unplaced = false;
}

void ObjectRecord::unpackStored() const {
    place();
    ByteReader in(std::span<const std::uint8_t>(stored_.bytes, stored_.size));
    mods_.clear();
    mods_.reserve(stored_.count);
    for (std::uint32_t i = 0; i < stored_.count; ++i) {
        if (stored_.order)
            in = ByteReader(
                std::span<const std::uint8_t>(stored_.bytes + stored_.order[i], stored_.size - stored_.order[i]));
        mods_.emplace_back().read(in, stored_.hasLevels);
    }
    stored_ = Stored{};
}

void ObjectRecord::write(ByteWriter& out, std::int32_t version) const {
    out.writeId(baseId);
    out.writeId(newId);
    if (version >= 3) {
        out.writeU32(1);
        out.writeI32(setFlag);
    }
    place();
    if (stored_.bytes && !stored_.order && stored_.baseMarkers && stored_.marker == baseId) {
        out.writeU32(stored_.count);
        out.writeBytes(stored_.bytes, stored_.size);
        return;
    }
    if (stored_.bytes) {
        // Each one's bytes up to its end marker are what Modification::write() would write.
        out.writeU32(stored_.count);
        walkStored(stored_.bytes, stored_.order.get(), stored_.count, stored_.hasLevels,
                   [&](std::size_t, const std::uint8_t* first, ModValueType type, const std::uint8_t* value,
                       std::size_t length) {
                       const auto size =
                           static_cast<std::size_t>(value + length + (type == ModValueType::String ? 1 : 0) - first);
                       std::uint8_t* to = out.room(size + 4);
                       std::memcpy(to, first, size);
                       std::memcpy(to + size, baseId.bytes.data(), 4);
                   });
        return;
    }
    unpack();
    out.writeU32(static_cast<std::uint32_t>(mods_.size()));
    for (const Modification& m : mods_)
        m.write(out, baseId);
}

} // namespace brindlemark
