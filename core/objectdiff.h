#pragma once

// Object data compared as data, not as bytes: which objects two bundles hold differently, and which fields of
// an object. The order of objects and modifications in the files and their end markers do not count, as
// loading already puts both in their order and keeps no end marker but a recovered stray value.

#include "core/objectbundle.h"

#include <cstdint>
#include <span>
#include <vector>

namespace brindlemark {

// Which of a kind's two tables an object stands in.
enum class TableSide { Standard, Custom };

const char* tableName(TableSide side); // "standard", "custom"

// Whether two modifications are entries of one field: matching field ids and, with level columns, the same
// level and column. Such entries replace each other when an object is loaded.
bool sameFieldSlot(const Modification& a, const Modification& b);

// Whether two optional modifications hold the same: both absent, or both present with the same value.
bool sameEntry(const Modification* a, const Modification* b);
// Whether two optional objects hold the same: identifiers, set flag and every modification.
bool sameObject(const ObjectRecord* a, const ObjectRecord* b);

// The entries of one field across several objects: slot i is the entry of object i, or null where it has none.
using FieldRow = std::vector<const Modification*>;
// Lines up the modifications of the objects (null objects have none), field by field in field order; among
// entries of matching field ids, in the order the first object holding them lists them.
std::vector<FieldRow> alignFields(std::span<const ObjectRecord* const> records);

// The objects of one identifier across several tables: slot i is the object of table i, or null.
using ObjectRow = std::vector<const ObjectRecord*>;
// Lines up the objects of the tables (null tables have none) by effective identifier, in identifier order.
std::vector<ObjectRow> alignObjects(std::span<const ObjectTable* const> tables);

// One field that two versions of an object hold differently; null where a version lacks it.
struct FieldChange {
    const Modification* before = nullptr;
    const Modification* after = nullptr;
};

// An object that two bundles hold differently: only in the first (`after` null), only in the second (`before`
// null), or in both with other identifiers, set flag or fields.
struct ObjectChange {
    ObjectKind kind = ObjectKind::Units;
    TableSide table = TableSide::Standard;
    const ObjectRecord* before = nullptr;
    const ObjectRecord* after = nullptr;
    std::vector<FieldChange> fields; // for an object in both, in field order
};

// A kind that both bundles hold, with other object file versions.
struct VersionChange {
    ObjectKind kind = ObjectKind::Units;
    std::int32_t before = 0;
    std::int32_t after = 0;
};

struct BundleDiff {
    std::vector<VersionChange> versions;
    std::vector<ObjectChange> objects; // by kind, then table (standard first), then identifier

    bool empty() const { return versions.empty() && objects.empty(); }
};

// Compares the object data of two bundles. The bundle versions and presence flags are containers' details and
// are not compared; a kind only one bundle holds differs by its objects. The result points into both bundles.
BundleDiff diffBundles(const ObjectBundle& a, const ObjectBundle& b);

} // namespace brindlemark
