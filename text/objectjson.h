#pragma once

// Object data as JSON, both ways: the layout that dump --json writes and build reads, documented in
// docs/objectdata.schema.json. One modification stands on one line, so that line-wise diffs of two dumps show
// the changed fields and nothing else.

#include "core/objectbundle.h"
#include "core/objectdiff.h"
#include "replace/stringtable.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brindlemark {

// Real object data nests 6 deep; deeper input is refused at the first value below this depth.
inline constexpr std::size_t kMaxJsonDepth = 64;
// A reading stops collecting problems at this many.
inline constexpr std::size_t kMaxJsonProblems = 100;

// Text for JSON: well-formed UTF-8 as it is, any other text with its bytes escaped (see textescape.h).
std::string jsonSafe(std::string_view text);

// Whether the bundle holds any kind (a map's skin files often hold none).
bool holdsAnyKind(const ObjectBundle& bundle);

// Writes the whole bundle in pieces, so that a large bundle needs no large document in memory. A map's skin files,
// when given and not empty, follow as "skin", in the layout of "kinds". A map's string table, given as `strings`,
// puts the text beside each reference to it.
void writeBundleJson(const ObjectBundle& bundle, const std::function<void(std::string_view)>& out,
                     const ObjectBundle* skin = nullptr, const StringTable* strings = nullptr);

// What a diff shows of each side: the kind's name when both sides know it, and an object's name.
struct DiffLabels {
    std::function<std::optional<ObjectKind>(ObjectKind)> kind;
    std::function<std::optional<std::string>(const ObjectChange&)> name;
};

// The changes as JSON: {equal, versions, onlyInA, onlyInB, changed}. The changes of a map's skin files, when
// given, follow those of its object files, each marked "skin": true.
std::string diffJson(const BundleDiff& diff, const BundleDiff* skinDiff, const DiffLabels& labels);

// A value of the input that breaks a rule of the layout: where it stands ("$.kinds.units.custom[2].baseId")
// and what is wrong. Text that is not JSON at all has no path; its message gives the byte offset.
struct JsonProblem {
    std::string path;
    std::string message;
};

// What a document of the layout holds: "kinds", a map's skin files ("skin", of the same layout), and the texts
// given beside references ("text"), by block number.
struct JsonBundle {
    ObjectBundle bundle;
    ObjectBundle skin;
    StringTable texts;
};

// Reads object data from JSON text. Left out are defaults: the version (1), a kind's present (1) and version
// (3), and empty tables. Modifications are filed and objects sorted into their tables as loading files them;
// loading warnings go to `warn`. On text that is not JSON, that nests deeper than kMaxJsonDepth, holds a number
// beyond the range of a double or gives a name twice in one object, or on a document that breaks the layout's
// rules, returns false with every problem found (up to kMaxJsonProblems); `out` is then unusable. Messages quote
// the input only in short pieces, however long its names and strings.
[[nodiscard]] bool readBundleJson(std::span<const std::uint8_t> bytes, JsonBundle& out,
                                  std::vector<JsonProblem>& problems, const WarningSink& warn);

} // namespace brindlemark
