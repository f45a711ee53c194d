#pragma once

#include "core/bytestream.h"
#include "core/modification.h"
#include "core/objectid.h"

#include <cstdint>
#include <vector>

namespace brindlemark {

// One object: its two identifiers and its modifications, kept in identifier order of their field ids (among
// matching field ids, in the order they were added).
class ObjectRecord {
public:
    ObjectId baseId;
    ObjectId newId;           // zero for a modified standard object
    std::int32_t setFlag = 0; // the set flag of objects in version-3 object files

    ObjectId effectiveId() const { return newId.isZero() ? baseId : newId; }

    std::size_t modificationCount() const { return mods_.size(); }
    const std::vector<Modification>& modifications() const { return mods_; }
    // For rewriting values in place; the field id must not be changed through it.
    Modification& modificationAt(std::size_t index) { return mods_[index]; }

    // The modification whose field id matches `fieldId`, found by bisection (with several, the first one the
    // search meets), or null.
    const Modification* find(ObjectId fieldId) const;

    // Replaces the entry with a matching field id and the same level columns, or inserts `m` after every entry
    // with a matching field id.
    void addOrReplace(const Modification& m);
    void addOrReplace(Modification&& m);
    // Inserts at `index`; an index beyond the count means at the end. No order check is made.
    void insertAt(const Modification& m, std::size_t index);
    // addOrReplace of every modification of `other`, in its order.
    void mergeFrom(const ObjectRecord& other);

    // Reads one object in the layout of an object file of `version`. False on damage; the reader holds the error.
    bool read(ByteReader& in, bool hasLevels, std::int32_t version);
    void write(ByteWriter& out, std::int32_t version) const;

private:
    // The index of the entry that `m` replaces, or the count when there is none; `insertAt` receives the
    // insertion position.
    std::size_t replaceTarget(const Modification& m, std::size_t& insertAt) const;

    std::vector<Modification> mods_;
};

// The smallest number of bytes one modification takes in a file.
inline constexpr std::size_t minModificationBytes(bool hasLevels) { return hasLevels ? 21 : 13; }
// The smallest number of bytes one object takes in an object file of `version`.
inline constexpr std::size_t minObjectBytes(std::int32_t version) { return version >= 3 ? 20 : 12; }

} // namespace brindlemark
