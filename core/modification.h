#pragma once

#include "core/bytestream.h"
#include "core/objectid.h"

#include <cstdint>
#include <string>

namespace brindlemark {

// The type code of a modification's value. Codes other than the four named ones occur in damaged files; they are
// carried through as read.
enum class ModValueType : std::int32_t { Integer = 0, Real = 1, Unreal = 2, String = 3 };

inline bool isKnownValueType(ModValueType t) { return static_cast<std::uint32_t>(t) <= 3; }

// The longest string value, not counting its NUL; the reader looks for the NUL among one byte more.
inline constexpr std::size_t kMaxStringBytes = 31997;

// One changed field of an object.
struct Modification {
    ObjectId fieldId;
    ModValueType valueType = ModValueType::Integer;
    bool hasLevels = false; // the level columns are read and written
    std::int32_t level = 0;
    std::int32_t dataColumn = 0;
    std::string stringValue; // held only while valueType is String
    std::int32_t intValue = 0;
    float realValue = 0;     // Real and Unreal; copied bit for bit, never converted
    ObjectId endMarker;      // zero unless the reader's recovery set it

    // Reads one modification at the reader's position. The four bytes after the value are its end marker and
    // are always consumed. A value type other than the four known ones means the first four bytes were a stray
    // marker: they become `endMarker` and the header is read again right behind them. False on damage; the
    // reader holds the error.
    bool read(ByteReader& in, bool withLevels);
    // Writes the modification; the end marker is `endMarker` when it is not zero, else `defaultMarker`.
    void write(ByteWriter& out, ObjectId defaultMarker) const;

    // Takes over every field of `from`; a string is kept only for a String value.
    void assignFrom(const Modification& from);

    bool sameValueAs(const Modification& other) const;
};

} // namespace brindlemark
