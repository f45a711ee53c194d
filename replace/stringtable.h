#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>

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
    // that is no block is passed over; a block cut off by the end of the file ends there.
    static StringTable parse(std::span<const std::uint8_t> bytes);

    // The text of block `number`, or null.
    const std::string* find(std::uint64_t number) const;
    // The text that `value` stands for: a reference "TRIGSTR_<digits>" whose block the table has is replaced by
    // the block's text; anything else, a reference the table lacks included, is returned as it is.
    std::string resolve(const std::string& value) const;

    std::size_t size() const { return strings_.size(); }

private:
    std::map<std::uint64_t, std::string> strings_;
};

} // namespace brindlemark
