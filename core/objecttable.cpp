#include "core/objecttable.h"

#include <utility>

namespace brindlemark {

std::size_t ObjectTable::search(ObjectId key, std::size_t& insertPos) const {
    std::size_t lo = 0;
    std::size_t hi = objects_.size();
    while (lo != hi) {
        const std::size_t mid = (lo + hi) / 2;
        const int c = compareIds(key, objects_[mid].effectiveId());
        if (c == 0)
            return mid;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    insertPos = lo;
    return objects_.size();
}

template <typename Record> bool ObjectTable::addRecord(Record&& record, MergePolicy policy) {
    std::size_t pos = 0;
    const std::size_t found = search(record.effectiveId(), pos);
    if (found == objects_.size()) {
        objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(pos), std::forward<Record>(record));
        return true;
    }
    switch (policy) {
    case MergePolicy::Keep:
        return false;
    case MergePolicy::Glue:
        objects_[found].mergeFrom(record);
        return true;
    case MergePolicy::Overwrite:
        objects_[found] = std::forward<Record>(record);
        return true;
    }
    return true;
}

bool ObjectTable::add(const ObjectRecord& record, MergePolicy policy) { return addRecord(record, policy); }

bool ObjectTable::add(ObjectRecord&& record, MergePolicy policy) { return addRecord(std::move(record), policy); }

void ObjectTable::insertAt(const ObjectRecord& record, std::size_t index) {
    if (index > objects_.size())
        index = objects_.size();
    objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(index), record);
}

bool ObjectTable::removeAt(std::size_t index) {
    if (index >= objects_.size())
        return false;
    objects_.erase(objects_.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

bool ObjectTable::contains(ObjectId id) const {
    std::size_t pos = 0;
    return search(id, pos) != objects_.size();
}

void ObjectTable::write(ByteWriter& out, std::int32_t version) const {
    out.writeU32(static_cast<std::uint32_t>(objects_.size()));
    for (const ObjectRecord& r : objects_) {
        r.write(out, version);
        out.drain();
    }
}

} // namespace brindlemark
