#include "core/objecttable.h"

#include <algorithm>
#include <utility>

namespace brindlemark {

ObjectTable::ObjectTable(const ObjectTable& other) { *this = other; }

ObjectTable& ObjectTable::operator=(const ObjectTable& other) {
    if (this == &other)
        return *this;
    std::vector<std::unique_ptr<ObjectRecord>> copy;
    copy.reserve(other.objects_.size());
    for (const auto& r : other.objects_)
        copy.push_back(std::make_unique<ObjectRecord>(*r));
    objects_ = std::move(copy);
    return *this;
}

std::size_t ObjectTable::search(ObjectId id, std::size_t& insertPos) const {
    const std::uint32_t key = orderKey(id);
    // Files list objects in order, so most searches while loading end behind the last one.
    if (objects_.empty() || key > orderKey(objects_.back()->effectiveId())) {
        insertPos = objects_.size();
        return objects_.size();
    }
    std::size_t lo = 0;
    std::size_t hi = objects_.size();
    while (lo != hi) {
        const std::size_t mid = (lo + hi) / 2;
        const std::uint32_t other = orderKey(objects_[mid]->effectiveId());
        const int c = (key > other) - (key < other);
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

std::size_t ObjectTable::indexOf(ObjectId id) const {
    std::size_t pos = 0;
    return search(id, pos);
}

bool ObjectTable::resolve(std::size_t index, std::unique_ptr<ObjectRecord> incoming, MergePolicy policy,
                          TableObserver* observer) {
    switch (policy) {
    case MergePolicy::Keep:
        if (observer)
            observer->destroying(*incoming);
        return false;
    case MergePolicy::Glue:
        objects_[index]->mergeFrom(*incoming);
        if (observer) {
            observer->merged(*objects_[index]);
            observer->destroying(*incoming);
        }
        return true;
    case MergePolicy::Overwrite:
        if (observer)
            observer->destroying(*objects_[index]);
        objects_[index] = std::move(incoming);
        return true;
    }
    return true;
}

bool ObjectTable::add(std::unique_ptr<ObjectRecord> record, MergePolicy policy, TableObserver* observer) {
    std::size_t pos = 0;
    const std::size_t found = search(record->effectiveId(), pos);
    if (found != objects_.size())
        return resolve(found, std::move(record), policy, observer);
    objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(record));
    return true;
}

bool ObjectTable::add(const ObjectRecord& record, MergePolicy policy) {
    std::size_t pos = 0;
    const std::size_t found = search(record.effectiveId(), pos);
    if (found == objects_.size()) {
        objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(pos), std::make_unique<ObjectRecord>(record));
        return true;
    }
    // Glue and Keep need no copy of the incoming object.
    if (policy == MergePolicy::Keep)
        return false;
    if (policy == MergePolicy::Glue) {
        objects_[found]->mergeFrom(record);
        return true;
    }
    *objects_[found] = record;
    return true;
}

bool ObjectTable::add(ObjectRecord&& record, MergePolicy policy) {
    return add(std::make_unique<ObjectRecord>(std::move(record)), policy);
}

void ObjectTable::insertAt(const ObjectRecord& record, std::size_t index) {
    if (index > objects_.size())
        index = objects_.size();
    objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(index), std::make_unique<ObjectRecord>(record));
}

bool ObjectTable::removeAt(std::size_t index) {
    if (index >= objects_.size())
        return false;
    objects_.erase(objects_.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

std::unique_ptr<ObjectRecord> ObjectTable::takeAt(std::size_t index) {
    std::unique_ptr<ObjectRecord> record = std::move(objects_[index]);
    objects_.erase(objects_.begin() + static_cast<std::ptrdiff_t>(index));
    return record;
}

void ObjectTable::sortAndResolve(MergePolicy policy, TableObserver* observer) {
    std::stable_sort(objects_.begin(), objects_.end(), [](const auto& a, const auto& b) {
        return compareIds(a->effectiveId(), b->effectiveId()) < 0;
    });
    std::vector<std::unique_ptr<ObjectRecord>> kept;
    kept.reserve(objects_.size());
    for (auto& record : objects_) {
        if (!kept.empty() && idsMatch(kept.back()->effectiveId(), record->effectiveId())) {
            // Resolve against the last kept object, which stands at the end of `kept`.
            objects_.swap(kept);
            resolve(objects_.size() - 1, std::move(record), policy, observer);
            objects_.swap(kept);
            continue;
        }
        kept.push_back(std::move(record));
    }
    objects_ = std::move(kept);
}

void ObjectTable::reposition(std::size_t index, MergePolicy policy, TableObserver* observer) {
    std::unique_ptr<ObjectRecord> record = takeAt(index);
    std::size_t pos = 0;
    const std::size_t found = search(record->effectiveId(), pos);
    if (found == objects_.size()) {
        objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(record));
        return;
    }
    if (found < index) {
        // The matching object stood first: it is held, the moved one is added.
        resolve(found, std::move(record), policy, observer);
        return;
    }
    // The moved object stood first: it is held in the matching one's place, and that one is added.
    std::unique_ptr<ObjectRecord> later = std::move(objects_[found]);
    objects_[found] = std::move(record);
    resolve(found, std::move(later), policy, observer);
}

void ObjectTable::write(ByteWriter& out, std::int32_t version) const {
    out.writeU32(static_cast<std::uint32_t>(objects_.size()));
    for (const auto& r : objects_) {
        r->write(out, version);
        out.drain();
    }
}

} // namespace brindlemark
