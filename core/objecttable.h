#pragma once

#include "core/objectrecord.h"

#include <vector>

namespace brindlemark {

// What `ObjectTable::add` does when the table already holds an object with a matching effective id.
enum class MergePolicy {
    Overwrite, // the incoming object takes the existing one's place
    Glue,      // the incoming object's modifications are merged into the existing object
    Keep,      // the existing object stays and the incoming one is not added
};

// Objects in identifier order of their effective ids, found by bisection.
class ObjectTable {
public:
    // Inserts a copy in order, or resolves a matching object by `policy`. False only when Keep refused it.
    bool add(const ObjectRecord& record, MergePolicy policy);
    bool add(ObjectRecord&& record, MergePolicy policy);
    // Inserts at `index`; an index beyond the count means at the end. No order check is made.
    void insertAt(const ObjectRecord& record, std::size_t index);
    // Removes the object at `index`; false when the index is not below the count.
    bool removeAt(std::size_t index);
    // Whether an object with a matching effective id is in the table.
    bool contains(ObjectId id) const;
    void clear() { objects_.clear(); }

    std::size_t count() const { return objects_.size(); }
    bool empty() const { return objects_.empty(); }
    const ObjectRecord& at(std::size_t index) const { return objects_[index]; }
    // For renaming objects in place; a changed identifier does not move the object.
    ObjectRecord& at(std::size_t index) { return objects_[index]; }
    const std::vector<ObjectRecord>& objects() const { return objects_; }

    // The count, then every object in table order.
    void write(ByteWriter& out, std::int32_t version) const;

private:
    // The bisection of `add`: the index of a matching object, or the count with `insertPos` set.
    std::size_t search(ObjectId key, std::size_t& insertPos) const;
    template <typename Record> bool addRecord(Record&& record, MergePolicy policy);

    std::vector<ObjectRecord> objects_;
};

} // namespace brindlemark
