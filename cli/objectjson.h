#pragma once

// Object data as JSON, both ways: the layout that dump --json writes and build reads, documented in
// docs/objectdata.schema.json. One modification stands on one line, so that line-wise diffs of two dumps show
// the changed fields and nothing else.

#include "core/objectbundle.h"
#include "replace/stringtable.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brindlemark::cli {

using OrderedJson = nlohmann::ordered_json;

// A modification in its JSON form: {field, level, column, type, typeCode, value, bits, escaped, text,
// strayBefore}, with level and column only for kinds with levels, typeCode only for an unknown type, bits only
// for reals, text only for a string value that refers to a block `strings` holds (the block's text).
OrderedJson modificationJson(const Modification& m, const StringTable* strings = nullptr);
// JSON on one line with ", " between members and ": " after names.
std::string inlineJson(const OrderedJson& value);
// Text for JSON: well-formed UTF-8 as it is, any other text with its bytes escaped (see textescape.h).
std::string jsonSafe(std::string_view text);

// Whether the bundle holds any kind (a map's skin files often hold none).
bool holdsAnyKind(const ObjectBundle& bundle);

// Writes the whole bundle in pieces, so that a large bundle needs no large document in memory. A map's skin files,
// when given and not empty, follow as "skin", in the layout of "kinds". A map's string table, given as `strings`,
// puts the text beside each reference to it.
void writeBundleJson(const ObjectBundle& bundle, const std::function<void(std::string_view)>& out,
                     const ObjectBundle* skin = nullptr, const StringTable* strings = nullptr);

// A value of the input that breaks a rule of the layout: where it stands ("$.kinds.units.custom[2].baseId")
// and what is wrong.
struct JsonProblem {
    std::string path;
    std::string message;
};

// Parses JSON text; throws OrderedJson::parse_error on text that is not JSON. A name that an object gives more
// than once is reported in `problems` with its path ("$.kinds.units"); the document then holds the last.
OrderedJson parseObjectJson(std::span<const std::uint8_t> bytes, std::vector<JsonProblem>& problems);

// Builds `bundle` and `skin` (which should be empty) from a document of the layout: "kinds" into `bundle`, a map's
// skin files ("skin", of the same layout) into `skin`. Left out are defaults: the version (1), a kind's present
// (1) and version (3), and empty tables. Modifications are filed and objects sorted into their tables as loading
// files them; loading warnings go to `warn`. On a document that breaks the layout's rules, returns false with
// every problem found; the bundles are then unusable. The texts given beside references ("text") go to `texts`
// when given, by block number.
[[nodiscard]] bool bundleFromJson(const OrderedJson& doc, ObjectBundle& bundle, ObjectBundle& skin,
                                  std::vector<JsonProblem>& problems, const WarningSink& warn,
                                  StringTable* texts = nullptr);

} // namespace brindlemark::cli
