#include "core/objecttable.h"

#include <algorithm>
#include <utility>

namespace brindlemark {

ObjectTable::ObjectTable(const ObjectTable& other) {
    *this = other;
}

ObjectTable& ObjectTable::operator=(const ObjectTable& other) {
    if (this == &other)
        return *this;
    ObjectTable copy;
    copy.objects_.reserve(other.objects_.size());
    for (const ObjectRecord* r : other.objects_)
        copy.objects_.push_back(new ObjectRecord(*r));
    *this = std::move(copy);
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
        delete objects_[index];
        objects_[index] = incoming.release();
        return true;
    }
    return true;
}

bool ObjectTable::add(std::unique_ptr<ObjectRecord> record, MergePolicy policy, TableObserver* observer) {
    std::size_t pos = 0;
    const std::size_t found = search(record->effectiveId(), pos);
    if (found != objects_.size())
        return resolve(found, std::move(record), policy, observer);
    objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(pos), record.get());
    record.release();
    return true;
}

bool ObjectTable::add(const ObjectRecord& record, MergePolicy policy) {
    std::size_t pos = 0;
    const std::size_t found = search(record.effectiveId(), pos);
    if (found == objects_.size()) {
        auto copy = std::make_unique<ObjectRecord>(record);
        objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(pos), copy.get());
        copy.release();
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
    auto copy = std::make_unique<ObjectRecord>(record);
    objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(index), copy.get());
    copy.release();
}

bool ObjectTable::removeAt(std::size_t index) {
    if (index >= objects_.size())
        return false;
    delete objects_[index];
    objects_.erase(objects_.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

std::unique_ptr<ObjectRecord> ObjectTable::takeAt(std::size_t index) {
    std::unique_ptr<ObjectRecord> record(objects_[index]);
    objects_.erase(objects_.begin() + static_cast<std::ptrdiff_t>(index));
    return record;
}

void ObjectTable::sortAndResolve(MergePolicy policy, TableObserver* observer) {
    std::stable_sort(objects_.begin(), objects_.end(), [](const ObjectRecord* a, const ObjectRecord* b) {
        return compareIds(a->effectiveId(), b->effectiveId()) < 0;
    });
    // Every object is in exactly one of `sorted` (not yet looked at) and `objects_` (kept) at any time.
    std::vector<ObjectRecord*> sorted;
    sorted.swap(objects_);
    objects_.reserve(sorted.size());
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        ObjectRecord* record = std::exchange(sorted[i], nullptr);
        if (!objects_.empty() && idsMatch(objects_.back()->effectiveId(), record->effectiveId())) {
            // Resolve against the last kept object.
            resolve(objects_.size() - 1, std::unique_ptr<ObjectRecord>(record), policy, observer);
            continue;
        }
        objects_.push_back(record);
    }
}

void ObjectTable::reposition(std::size_t index, MergePolicy policy, TableObserver* observer) {
    std::unique_ptr<ObjectRecord> record = takeAt(index);
    std::size_t pos = 0;
    const std::size_t found = search(record->effectiveId(), pos);
    if (found == objects_.size()) {
        objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(pos), record.get());
        record.release();
        return;
    }
    if (found < index) {
        // The matching object stood first: it is held, the moved one is added.
        resolve(found, std::move(record), policy, observer);
        return;
    }
    // The moved object stood first: it is held in the matching one's place, and that one is added.
    std::unique_ptr<ObjectRecord> later(objects_[found]);
    objects_[found] = record.release();
    resolve(found, std::move(later), policy, observer);
}

void ObjectTable::write(ByteWriter& out, std::int32_t version) const {
    out.writeU32(static_cast<std::uint32_t>(objects_.size()));
    for (const ObjectRecord* r : objects_) {
        r->write(out, version);
        out.drain();
    }
}

} // namespace brindlemark
