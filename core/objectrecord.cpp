#include "core/objectrecord.h"

#include <algorithm>
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
    static thread_local std::vector<std::uint32_t> starts;
    starts.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        if (static_cast<std::size_t>(end - p) < header + 8)
            return false;
        const std::uint32_t type = detail::loadLittle32(p + 4);
        if (type > 3)
            return false;
        starts.push_back(static_cast<std::uint32_t>(p - start));
        if (inOrder) {
            ObjectId field;
            std::memcpy(field.bytes.data(), p, 4);
            const std::uint32_t key = orderKey(field);
            const std::uint64_t levels =
                hasLevels ? std::uint64_t(detail::loadLittle32(p + 8)) << 32 | detail::loadLittle32(p + 12) : 0;
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
    if (!inOrder) {
        orderStored(start, starts, hasLevels);
        std::shared_ptr<std::uint32_t[]> order = std::make_shared<std::uint32_t[]>(starts.size());
        std::copy(starts.begin(), starts.end(), order.get());
        stored_.count = static_cast<std::uint32_t>(starts.size());
        stored_.order = std::move(order);
    }
    return true;
}

void ObjectRecord::orderStored(const std::uint8_t* bytes, std::vector<std::uint32_t>& starts, bool hasLevels) {
    // As read() adds Modification values: one whose field comes after the last one's goes at the end; any other
    // replaces the entry of its field with the same level columns, or goes after the entries of its field.
    struct Entry {
        std::uint32_t key;
        std::uint32_t at;
        std::uint64_t levels;
    };
    static thread_local std::vector<Entry> held;
    held.clear();
    for (const std::uint32_t at : starts) {
        ObjectId field;
        std::memcpy(field.bytes.data(), bytes + at, 4);
        const Entry entry{orderKey(field), at,
                          hasLevels ? std::uint64_t(detail::loadLittle32(bytes + at + 8)) << 32 |
                                          detail::loadLittle32(bytes + at + 12)
                                    : 0};
        if (held.empty() || entry.key > held.back().key) {
            held.push_back(entry);
            continue;
        }
        const auto after = std::upper_bound(held.begin(), held.end(), entry.key,
                                            [](std::uint32_t key, const Entry& e) { return key < e.key; });
        auto same = after;
        while (same != held.begin() && (same - 1)->key == entry.key && (same - 1)->levels != entry.levels)
            --same;
        if (same != held.begin() && (same - 1)->key == entry.key) {
            (same - 1)->at = at;
            continue;
        }
        held.insert(after, entry);
    }
    starts.resize(held.size());
    for (std::size_t i = 0; i < held.size(); ++i)
        starts[i] = held[i].at;
}

void ObjectRecord::unpackStored() const {
    ByteReader in(std::span<const std::uint8_t>(stored_.bytes, stored_.size));
    mods_.clear();
    mods_.reserve(stored_.count);
    for (std::uint32_t i = 0; i < stored_.count; ++i) {
        if (stored_.order)
            in = ByteReader(std::span<const std::uint8_t>(stored_.bytes + stored_.order[i],
                                                          stored_.size - stored_.order[i]));
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
                       const std::uint8_t* valueEnd = value + length + (type == ModValueType::String ? 1 : 0);
                       out.writeBytes(first, static_cast<std::size_t>(valueEnd - first));
                       out.writeId(baseId);
                   });
        return;
    }
    unpack();
    out.writeU32(static_cast<std::uint32_t>(mods_.size()));
    for (const Modification& m : mods_)
        m.write(out, baseId);
}

} // namespace brindlemark
