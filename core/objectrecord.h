#pragma once

#include "core/bytestream.h"
#include "core/modification.h"
#include "core/objectid.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace brindlemark {

namespace detail {
inline std::uint32_t loadLittle32(const std::uint8_t* at) {
    return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 | std::uint32_t(at[3]) << 24;
}
} // namespace detail

// One object: its two identifiers and its modifications, kept in identifier order of their field ids (among
// matching field ids, in the order they were added).
//
// An object read from bytes that are kept alive (ByteReader::keepAlive) keeps its modifications as those bytes
// (unless one of them carries a stray value): nothing is allocated per modification. When they stand in order,
// each ended by the base id, writing copies the bytes whole; otherwise the object holds where each one stands,
// four bytes a modification, in the order that reading them one by one would give (later ones replacing earlier
// ones of the same field and level columns), and writing copies each one with the base id as its end marker.
// They are unpacked into Modification values the first time anything changes them or asks for them as such, so
// reading an object is not safe from two threads at once.
class ObjectRecord {
public:
    ObjectId baseId;
    ObjectId newId;           // zero for a modified standard object
    std::int32_t setFlag = 0; // the set flag of objects in version-3 object files

    ObjectId effectiveId() const { return newId.isZero() ? baseId : newId; }

    std::size_t modificationCount() const { return stored_.bytes ? stored_.count : mods_.size(); }
    const std::vector<Modification>& modifications() const {
        unpack();
        return mods_;
    }
    // For rewriting values in place; the field id must not be changed through it.
    Modification& modificationAt(std::size_t index) {
        unpack();
        return mods_[index];
    }

    // What a value holds, without unpacking stored modifications: the type, the integer value, and the text of a
    // string value.
    struct ValueView {
        ModValueType valueType;
        std::int32_t intValue;
        std::string_view text;
    };
    // Calls `visit(index, view)` for every modification in order.
    template <typename Visit> void visitValues(Visit&& visit) const;
    // What find() would find, without unpacking stored modifications.
    std::optional<ValueView> findValue(ObjectId fieldId) const;
    // What findValue() gives for the first of `fieldIds` that the object holds, reading the object once.
    std::optional<ValueView> findFirstValue(std::span<const ObjectId> fieldIds) const;
    // Calls `patch(type, bytes, size)` for every integer value (its four bytes, least significant first) and
    // every string value (its bytes, without the NUL that ends it); `patch` may change those bytes in place but must
    // not write a NUL into a string. Stored modifications stay stored: their bytes are copied once, when other
    // objects or the file still share them.
    template <typename Patch> void patchValues(Patch&& patch);

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
    friend class RecordPlacer; // sorts objects read out of order while reading goes on

    // Modifications kept as the bytes they were read from.
    struct Stored {
        std::shared_ptr<const void> owner;
        const std::uint8_t* bytes = nullptr;
        std::size_t size = 0;
        std::uint32_t count = 0; // the modifications the object holds
        bool hasLevels = false;
        bool baseMarkers = false; // every one is ended by `marker`, which was the base id
        ObjectId marker;
        bool own = false; // `owner` is a copy made for this object
        // They stand out of order: `order` is made when first needed (a load that only counts them never sorts
        // them, and then each is a field and level columns of its own, so the count holds), or by the
        // RecordPlacer that the reader handed the object to. Beside the other flags, so the object grows no larger.
        bool unplaced = false;
        // Where each modification the object holds starts in `bytes`, in order; null when they stand one after
        // the other, all of them held.
        std::shared_ptr<const std::uint32_t[]> order;
    };

    // Walks stored modifications: `step(index, first, type, value, length)` receives each one's first byte, its
    // value type, the first byte of its value and the value's length (a string's without its NUL, else 4).
    template <typename Byte, typename Step>
    static void walkStored(Byte* bytes, const std::uint32_t* order, std::uint32_t count, bool hasLevels, Step&& step);
    // What a stored value holds, from walkStored()'s account of it.
    static ValueView storedView(ModValueType type, const std::uint8_t* value, std::size_t length) {
        ValueView view{type, 0, {}};
        if (type == ModValueType::String)
            view.text = std::string_view(reinterpret_cast<const char*>(value), length);
        else if (type == ModValueType::Integer)
            view.intValue = static_cast<std::int32_t>(detail::loadLittle32(value));
        return view;
    }
    // Makes the stored bytes this object's alone, copying them when they are shared; returns them.
    std::uint8_t* ownStoredBytes();
    // Makes `order` for stored modifications read out of order, before anything walks them.
    void place() const {
        if (stored_.unplaced)
            placeStored();
    }
    void placeStored() const;
    // placeStored() from the order keys, places and level columns that reading found (see orderStored).
    void placeFrom(std::span<const std::uint64_t> keys, std::span<const std::uint32_t> starts,
                   std::span<const std::uint64_t> levels) const;
    // Whether the modifications just read, whose order keys (above their places) are `keys` and whose level
    // columns are `levelColumns` (empty without them), hold two with one field and the same level columns.
    static bool anyRepeated(const std::vector<std::uint64_t>& keys, std::span<const std::uint64_t> levelColumns);

    // Turns stored modifications into Modification values (nothing when there are none).
    void unpack() const {
        if (stored_.bytes)
            unpackStored();
    }
    void unpackStored() const;
    // Reads the modifications at the reader's position as stored bytes; false, with the reader where it was,
    // when one of them is damaged or carries a stray value (reading them one by one then tells which).
    bool readStored(ByteReader& in, bool hasLevels, std::uint32_t count);
    // Puts the modifications read in the order reading them one by one would give, dropping those that a later
    // one with the same field and level columns replaces: `order` receives where each one starts in `bytes`.
    // `keys` holds per modification its field's order key above its place in the file; `starts` where it starts;
    // `levels` its level columns (empty without them).
    static void orderStored(std::vector<std::uint64_t>& keys, std::span<const std::uint32_t> starts,
                            std::span<const std::uint64_t> levels, bool hasLevels, std::vector<std::uint32_t>& order);

    // The index of the entry that `m` replaces, or the count when there is none; `insertAt` receives the
    // insertion position.
    std::size_t replaceTarget(const Modification& m, std::size_t& insertAt) const;

    mutable std::vector<Modification> mods_;
    mutable Stored stored_;
};

template <typename Byte, typename Step>
void ObjectRecord::walkStored(Byte* bytes, const std::uint32_t* order, std::uint32_t count, bool hasLevels,
                              Step&& step) {
    // Stored modifications were checked when read: every one is whole and of a known type.
    Byte* p = bytes;
    const std::size_t header = hasLevels ? 16 : 8;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (order)
            p = bytes + order[i];
        const auto type = static_cast<ModValueType>(detail::loadLittle32(p + 4));
        Byte* value = p + header;
        const std::size_t length = type == ModValueType::String ? std::strlen(reinterpret_cast<const char*>(value)) : 4;
        step(static_cast<std::size_t>(i), p, type, value, length);
        p = value + length + (type == ModValueType::String ? 1 : 0) + 4; // the value, then the end marker
    }
}

template <typename Visit> void ObjectRecord::visitValues(Visit&& visit) const {
    if (!stored_.bytes) {
        for (std::size_t i = 0; i < mods_.size(); ++i) {
            const Modification& m = mods_[i];
            visit(i, ValueView{m.valueType, m.intValue, m.stringValue});
        }
        return;
    }
    place();
    walkStored(stored_.bytes, stored_.order.get(), stored_.count, stored_.hasLevels,
               [&](std::size_t i, const std::uint8_t*, ModValueType type, const std::uint8_t* value,
                   std::size_t length) { visit(i, storedView(type, value, length)); });
}

template <typename Patch> void ObjectRecord::patchValues(Patch&& patch) {
    if (!stored_.bytes) {
        for (Modification& m : mods_) {
            if (m.valueType == ModValueType::String) {
                patch(ModValueType::String, reinterpret_cast<std::uint8_t*>(m.stringValue.data()),
                      m.stringValue.size());
            } else if (m.valueType == ModValueType::Integer) {
                const auto v = static_cast<std::uint32_t>(m.intValue);
                std::uint8_t b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                                     std::uint8_t(v >> 24)};
                patch(ModValueType::Integer, b, std::size_t(4));
                m.intValue = static_cast<std::int32_t>(detail::loadLittle32(b));
            }
        }
        return;
    }
    place();
    std::uint8_t* bytes = ownStoredBytes();
    walkStored(bytes, stored_.order.get(), stored_.count, stored_.hasLevels,
               [&](std::size_t, std::uint8_t*, ModValueType type, std::uint8_t* value, std::size_t length) {
                   if (type == ModValueType::String || type == ModValueType::Integer)
                       patch(type, value, length);
               });
}

// The smallest number of bytes one modification takes in a file.
inline constexpr std::size_t minModificationBytes(bool hasLevels) {
    return hasLevels ? 21 : 13;
}
// The smallest number of bytes one object takes in an object file of `version`.
inline constexpr std::size_t minObjectBytes(std::int32_t version) {
    return version >= 3 ? 20 : 12;
}

} // namespace brindlemark
