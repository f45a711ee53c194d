#pragma once

// The JSON values of this folder's readers and writers. Private to text/: nothing outside includes it, so that
// the JSON library stays an implementation detail.

#include "core/modification.h"
#include "replace/stringtable.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace brindlemark {

using OrderedJson = nlohmann::ordered_json;

// A modification in its JSON form: {field, level, column, type, typeCode, value, bits, escaped, text,
// strayBefore}, with level and column only for kinds with levels, typeCode only for an unknown type, bits only
// for reals, text only for a string value that refers to a block `strings` holds (the block's text).
OrderedJson modificationJson(const Modification& m, const StringTable* strings = nullptr);
// JSON on one line with ", " between members and ": " after names.
std::string inlineJson(const OrderedJson& value);
// The text cut to its first `limit` bytes (at a character boundary) with how long it was, for messages that quote
// the input: "abc... (104857600 bytes)". Shorter text as it is.
std::string shortened(std::string_view text, std::size_t limit = 64);

} // namespace brindlemark
