#pragma once

#include "core/bytestream.h"
#include "core/objectid.h"

#include <cstdint>
#include <string>

namespace brindlemark {

// The type code of a modification's value. Codes other than the four named ones occur in damaged files; they are
// carried through as read.
enum class ModValueType : std::int32_t { Integer = 0, Real = 1, Unreal = 2, String = 3 };

inline bool isKnownValueType(ModValueType t) {
    return static_cast<std::uint32_t>(t) <= 3;
}

// The longest string value, not counting its NUL; the reader looks for the NUL among one byte more.
inline constexpr std::size_t kMaxStringBytes = 31997;

// One changed field of an object. (The text comes first so that the record packs into 64 bytes.)
struct Modification {
    std::string stringValue; // held only while valueType is String
    ObjectId fieldId;
    ModValueType valueType = ModValueType::Integer;
    std::int32_t level = 0;
    std::int32_t dataColumn = 0;
    std::int32_t intValue = 0;
    float realValue = 0;    // Real and Unreal; copied bit for bit, never converted
    ObjectId endMarker;     // the stray value the reader found before the modification (see `recovered`)
    bool hasLevels = false; // the level columns are read and written
    bool recovered = false; // the reader met an unknown value type and took the first four bytes as a stray value

    // Reads one modification at the reader's position. The four bytes after the value are its end marker and
    // are always consumed. A value type other than the four known ones means the first four bytes were a stray
    // value: they become `endMarker` and the header is read again right behind them. False on damage; the
    // reader holds the error.
    bool read(ByteReader& in, bool withLevels);
    // Writes the modification with `defaultMarker` (the object's base id) as its end marker. A stray value the
    // reader recovered goes back before the modification, where it stood, so that the bytes read back alike.
    void write(ByteWriter& out, ObjectId defaultMarker) const;

    // Takes over every field of `from`; a string is kept only for a String value.
    void assignFrom(const Modification& from);

    bool sameValueAs(const Modification& other) const;
};

} // namespace brindlemark
