#include "core/objectrecord.h"

#include <utility>

namespace brindlemark {

const Modification* ObjectRecord::find(ObjectId fieldId) const {
    std::size_t lo = 0;
    std::size_t hi = mods_.size();
    while (lo != hi) {
        const std::size_t mid = (lo + hi) / 2;
        const int c = compareIds(fieldId, mods_[mid].fieldId);
        if (c == 0)
            return &mods_[mid];
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return nullptr;
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
    std::size_t pos = 0;
    const std::size_t target = replaceTarget(m, pos);
    if (target < mods_.size())
        mods_[target].assignFrom(m);
    else
        mods_.insert(mods_.begin() + static_cast<std::ptrdiff_t>(pos), m);
}

void ObjectRecord::addOrReplace(Modification&& m) {
    std::size_t pos = 0;
    const std::size_t target = replaceTarget(m, pos);
    if (target < mods_.size())
        mods_[target].assignFrom(m);
    else
        mods_.insert(mods_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(m));
}

void ObjectRecord::insertAt(const Modification& m, std::size_t index) {
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
    for (const Modification& m : other.mods_)
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
    mods_.clear();
    mods_.reserve(count);
    in.place.what = "a modification of object";
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

void ObjectRecord::write(ByteWriter& out, std::int32_t version) const {
    out.writeId(baseId);
    out.writeId(newId);
    if (version >= 3) {
        out.writeU32(1);
        out.writeI32(setFlag);
    }
    out.writeU32(static_cast<std::uint32_t>(mods_.size()));
    for (const Modification& m : mods_)
        m.write(out, baseId);
}

} // namespace brindlemark
