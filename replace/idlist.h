#pragma once

#include "core/objectbundle.h"

#include <filesystem>
#include <string>

#include "replace/stringtable.h"

namespace brindlemark {

// The identifier list: every object identifier of the bundle once, in byte-exact order, each on a line of its
// own mapped to itself ("%s\t%s" and, when the object has a name, "\t// %s"), with CR LF line ends; a line break
// inside a name is written as a space. It is a replace list that renames nothing, ready to be edited and fed back.
// Names that refer into a string table ("TRIGSTR_012") are shown as the table's text when `strings` has it.
std::string idListText(const ObjectBundle& bundle, const StringTable* strings = nullptr);

// Writes the identifier list to `path`, replacing the file whole. False with the reason when it cannot be
// written; the file at `path` is then unchanged. The bundle is not changed.
[[nodiscard]] bool writeIdList(const ObjectBundle& bundle, const std::filesystem::path& path, std::string& error,
                               const StringTable* strings = nullptr);

} // namespace brindlemark
