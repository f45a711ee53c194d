#pragma once

#include "core/objectbundle.h"

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brindlemark {

// A map's string table (war3map.wts): blocks of the form
//
//   STRING 12
//   // an optional comment
//   {
//   the text, on one line or more
//   }
//
// Object names in the object data often hold a reference "TRIGSTR_012" to such a block instead of the text.
class StringTable {
public:
    // Reads the blocks of a table, with or without a UTF-8 byte-order mark, with LF or CR LF line ends. Text
    // that is no block is passed over; a block cut off by the end of the file ends there. Of two blocks with one
    // number the first counts, as in the game.
    static StringTable parse(std::span<const std::uint8_t> bytes);

    // The text of block `number`, or null.
    const std::string* find(std::uint64_t number) const;
    // The text that `value` stands for: a reference "TRIGSTR_<digits>" whose block the table has is replaced by
    // the block's text; anything else, a reference the table lacks included, is returned as it is.
    std::string resolve(const std::string& value) const;
    // Sets the text of block `number`.
    void set(std::uint64_t number, std::string text) { strings_[number] = std::move(text); }

    std::size_t size() const { return strings_.size(); }
    // The largest block number, or none for an empty table.
    std::optional<std::uint64_t> largest() const;

private:
    std::map<std::uint64_t, std::string> strings_;
};

// The block number a string value refers to: "TRIGSTR_" and nothing but decimal digits after it (as resolve()
// reads them); none for any other value.
std::optional<std::uint64_t> stringReference(std::string_view value);

// A string value that refers to a block the table lacks.
struct MissingString {
    ObjectKind kind = ObjectKind::Units;
    ObjectId object; // effective id
    ObjectId field;
    std::string reference;
};

// Every string value of the bundle that refers to a block `strings` lacks, in kind and table order.
std::vector<MissingString> missingStrings(const ObjectBundle& bundle, const StringTable& strings);

// Replaces every reference in the bundle's string values by its block's text. A reference the table lacks stays
// as it is (missingStrings() names them). Returns how many values changed.
std::size_t resolveStrings(ObjectBundle& bundle, const StringTable& strings);

// What carryStrings() did to the target's table.
struct CarriedStrings {
    std::vector<std::uint8_t> table; // the target's table: its bytes as they were, new blocks after them
    std::size_t added = 0;           // blocks added
};

// Brings the texts the bundle's references stand for in `source` into the target's table `targetBytes` (empty
// when the target has none), for objects that move from one map into another: each referenced block of the
// source becomes a new block of the target, numbered on from the target's largest, and the references are
// rewritten to it ("TRIGSTR_" and at least three digits, as the editor writes them). The target's bytes stay as
// they are; new blocks follow them in the same line ends (CR LF for a new table, which gets a UTF-8 byte-order
// mark as the editor writes it). With `reuseMatching`, a reference whose number the target holds with the same
// text stays as it is. References that `source` lacks stay as they are; check missingStrings() first.
// Several bundles (a map's objects and its skin objects) share the new blocks: a number they both refer to is
// carried once.
CarriedStrings carryStrings(std::initializer_list<ObjectBundle*> bundles, const StringTable& source,
                            std::span<const std::uint8_t> targetBytes, bool reuseMatching);

// The report of string values that refer to blocks the source lacks, naming each (the first twenty, then how
// many more): "spells.w3x: 2 string references are not in its string table (war3map.wts): TRIGSTR_012 (units
// h000, field unam), ...". `hasTable` false says the source has no table at all.
std::string missingStringsMessage(const std::filesystem::path& source, bool hasTable,
                                  const std::vector<MissingString>& missing);

} // namespace brindlemark
