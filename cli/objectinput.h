#pragma once

// Object data named on the command line for comparing and merging: a bundle, an object file of one kind or a
// map, by the extension; a file whose extension says nothing by its bytes, which is fit for showing, not for
// writing back (merge3 has its files' form named instead: see commands_merge3.cpp).

#include "cli/arguments.h"

#include "core/objectbundle.h"
#include "replace/stringtable.h"

#include <optional>
#include <string>

namespace brindlemark::cli {

struct ObjectInput {
    enum class Form { Bundle, SingleKind, Map };
    Form form = Form::Bundle;
    // The kind of a single-kind file. For a file whose layout was told by its bytes it only stands in for the
    // kinds of the same layout (see core/layoutdetect.h), and `kindKnown` is false.
    ObjectKind kind = ObjectKind::Units;
    bool kindKnown = true;
    ObjectBundle bundle;
    ObjectBundle skin;   // a map's skin files, when kept apart
    StringTable strings; // a map's string table
};

// Loads the file; on failure prints the reason and returns false. An empty file told by its bytes holds nothing.
// A map's skin files go to `skin` with `skinApart`, else they are glued into `bundle`.
[[nodiscard]] bool loadObjectInput(const Argument& file, ObjectInput& input, bool skinApart = false);

// The kind to name in messages about the input, or none when the input's kind is not known.
std::optional<ObjectKind> kindLabel(const ObjectInput& input, ObjectKind kind);

// The object's name, with references into the string table resolved.
std::optional<std::string> objectName(const ObjectRecord& record, const StringTable& strings);
// The same for an object of the input's main objects or its skin, taken from the other when the object has none
// (a map's names often stand in its skin files).
std::optional<std::string> objectName(const ObjectInput& input, ObjectKind kind, const ObjectRecord& record);

} // namespace brindlemark::cli
