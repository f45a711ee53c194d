#pragma once

// Object data as text for listings and messages: value types, values and objects, shared by dump, diff and
// merge3 so that a value reads the same everywhere.

#include "core/objectbundle.h"
#include "core/objectdiff.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brindlemark {

// "integer", "real", "unreal", "string", or "unknown" for any other code.
const char* typeName(ModValueType type);
std::uint32_t realBits(float value);
// "0x41200000"
std::string hexBits(std::uint32_t bits);
// The shortest decimal text that reads back as the same single-precision value.
std::string shortestText(float value);

// The field and, for kinds with levels, its level and column: "Hbz1 level 2 column 1".
std::string fieldSlotText(const Modification& m);
// The value with its type: "integer 5", "real 10 (bits 0x41200000)", "string \"Guard\"", "type 7 (unknown, no
// value)", followed by ", stray value XXXX before it" for a recovered stray value. "none" for no entry.
std::string valueText(const Modification* m);

// An object for messages: "units custom h000 \"Guard\"", the kind left out when it is not known and the name
// when there is none.
std::string objectText(std::optional<ObjectKind> kind, TableSide table, const ObjectRecord& record,
                       const std::optional<std::string>& name);

// A change of an object's header between two sides: its text ("base id"), its JSON name ("baseId") and the
// values before and after.
struct HeaderChange {
    const char* text;
    const char* key;
    std::string before;
    std::string after;
};

std::vector<HeaderChange> headerChanges(const ObjectRecord& a, const ObjectRecord& b);

} // namespace brindlemark
