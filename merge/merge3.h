#pragma once

// A three-way merge of object data, for version control: two versions (ours, theirs) that grew from one base
// become one. A field changed on one side only takes that side's value; changed on both sides alike takes it;
// changed on both sides differently is a conflict, which keeps ours. Objects added or removed on one side follow
// that side; an object removed on one side and changed on the other is a conflict, which keeps ours too.

#include "core/objectbundle.h"
#include "core/objectdiff.h"

#include <cstdint>
#include <vector>

namespace brindlemark {

// One place where ours and theirs changed the base differently. The pointers lead into the three inputs; null
// where a side lacks the object or field.
struct MergeConflict {
    enum class Topic {
        Field,   // a field of an object: the three entries
        Removal, // an object removed on one side and changed on the other
        BaseId,  // an object's identifiers or set flag: the three objects
        NewId,
        SetFlag,
        FileVersion,   // a kind's object file version: the three numbers
        Presence,      // a kind's presence flag
        BundleVersion, // the bundle version
    };
    Topic topic = Topic::Field;
    ObjectKind kind = ObjectKind::Units;
    TableSide table = TableSide::Standard;
    const ObjectRecord* base = nullptr;
    const ObjectRecord* ours = nullptr;
    const ObjectRecord* theirs = nullptr;
    const Modification* baseField = nullptr;
    const Modification* oursField = nullptr;
    const Modification* theirsField = nullptr;
    std::int32_t baseNumber = 0;
    std::int32_t oursNumber = 0;
    std::int32_t theirsNumber = 0;
};

struct MergeResult {
    ObjectBundle merged;
    std::vector<MergeConflict> conflicts; // by kind, table and identifier; points into the three inputs
};

// Merges the changes from `base` to `theirs` into `ours`. The merged objects are filed as loading files them.
MergeResult mergeThreeWay(const ObjectBundle& base, const ObjectBundle& ours, const ObjectBundle& theirs);

} // namespace brindlemark
