#pragma once

#include "core/objectrecord.h"

#include <memory>
#include <vector>

namespace brindlemark {

// What `ObjectTable::add` does when the table already holds an object with a matching effective id.
enum class MergePolicy {
    Overwrite, // the incoming object takes the existing one's place
    Glue,      // the incoming object's modifications are merged into the existing object
    Keep,      // the existing object stays and the incoming one is not added
};

// Told what a table does to the objects it holds, so that an index over them can stay current. Objects stay at
// the same address for as long as they are held, whatever moves inside or between tables.
class TableObserver {
public:
    virtual ~TableObserver() = default;
    // `record` is about to be destroyed.
    virtual void destroying(const ObjectRecord& record) = 0;
    // `record` took over modifications of another object.
    virtual void merged(ObjectRecord& record) = 0;
};

// Objects in identifier order of their effective ids, found by bisection.
class ObjectTable {
public:
    ObjectTable() = default;
    ~ObjectTable() { clear(); }
    ObjectTable(const ObjectTable& other);
    ObjectTable& operator=(const ObjectTable& other);
    ObjectTable(ObjectTable&& other) noexcept : objects_(std::move(other.objects_)) { other.objects_.clear(); }
    ObjectTable& operator=(ObjectTable&& other) noexcept {
        if (this != &other) {
            clear();
            objects_.swap(other.objects_);
        }
        return *this;
    }

    // Inserts a copy in order, or resolves a matching object by `policy`. False only when Keep refused it.
    bool add(const ObjectRecord& record, MergePolicy policy);
    bool add(ObjectRecord&& record, MergePolicy policy);
    // As add(), taking the object itself: when it is inserted, or overwrites a matching one, it keeps its
    // address. The observer hears of every object destroyed or merged into.
    bool add(std::unique_ptr<ObjectRecord> record, MergePolicy policy, TableObserver* observer = nullptr);
    // Inserts at `index`; an index beyond the count means at the end. No order check is made.
    void insertAt(const ObjectRecord& record, std::size_t index);
    // Removes and destroys the object at `index`; false when the index is not below the count.
    bool removeAt(std::size_t index);
    // Removes the object at `index` and hands it over. The index must be below the count.
    std::unique_ptr<ObjectRecord> takeAt(std::size_t index);
    // Removes every object that `leaves(record)` picks, in one pass, and hands them over in table order.
    template <typename Pick> std::vector<std::unique_ptr<ObjectRecord>> takeWhere(Pick leaves) {
        std::vector<std::unique_ptr<ObjectRecord>> taken;
        std::size_t kept = 0;
        for (ObjectRecord* record : objects_) {
            if (leaves(static_cast<const ObjectRecord&>(*record)))
                taken.emplace_back(record);
            else
                objects_[kept++] = record;
        }
        objects_.resize(kept);
        return taken;
    }
    // Puts the object at the end, keeping its address. No order check is made: sortAndResolve() restores it.
    void append(std::unique_ptr<ObjectRecord> record) {
        objects_.push_back(record.get());
        record.release();
    }
    // Whether an object with a matching effective id is in the table.
    bool contains(ObjectId id) const { return indexOf(id) != count(); }
    // The index of an object with a matching effective id, found by bisection, or the count.
    std::size_t indexOf(ObjectId id) const;
    void clear() {
        for (ObjectRecord* record : objects_)
            delete record;
        objects_.clear();
    }

    // Puts the table back in identifier order with a stable sort; of neighbours whose effective ids then match,
    // the one standing first counts as held and each later one as added under `policy`.
    void sortAndResolve(MergePolicy policy, TableObserver* observer = nullptr);
    // The same as sortAndResolve() when the object at `index` is the only one out of order.
    void reposition(std::size_t index, MergePolicy policy, TableObserver* observer = nullptr);

    std::size_t count() const { return objects_.size(); }
    bool empty() const { return objects_.empty(); }
    const ObjectRecord& at(std::size_t index) const { return *objects_[index]; }
    // For renaming objects in place; a changed identifier does not move the object.
    ObjectRecord& at(std::size_t index) { return *objects_[index]; }
    // The objects in table order, for range-for.
    class Objects {
    public:
        class Iterator {
        public:
            explicit Iterator(ObjectRecord* const* at) : at_(at) {}
            const ObjectRecord& operator*() const { return **at_; }
            Iterator& operator++() {
                ++at_;
                return *this;
            }
            bool operator!=(const Iterator& other) const { return at_ != other.at_; }

        private:
            ObjectRecord* const* at_;
        };
        explicit Objects(const std::vector<ObjectRecord*>& objects) : objects_(objects) {}
        Iterator begin() const { return Iterator(objects_.data()); }
        Iterator end() const { return Iterator(objects_.data() + objects_.size()); }

    private:
        const std::vector<ObjectRecord*>& objects_;
    };
    Objects objects() const { return Objects(objects_); }

    // The count, then every object in table order.
    void write(ByteWriter& out, std::int32_t version) const;

private:
    // The bisection of `add`: the index of a matching object, or the count with `insertPos` set.
    std::size_t search(ObjectId key, std::size_t& insertPos) const;
    // Resolves `incoming` against the held object at `index` by `policy`; false when Keep refused it.
    bool resolve(std::size_t index, std::unique_ptr<ObjectRecord> incoming, MergePolicy policy,
                 TableObserver* observer);

    // Owned: each is deleted when it leaves the table other than through takeAt(). Plain pointers, so that
    // inserting and removing moves them as bytes.
    std::vector<ObjectRecord*> objects_;
};

} // namespace brindlemark
