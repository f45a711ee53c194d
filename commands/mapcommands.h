#pragma once

// Building objects into a map, an archive (.w3x, .w3m) or a folder. An archive is rewritten whole through a
// temporary file, after a backup copy; a map that cannot be read is refused and left as it was.

#include "core/messagesink.h"
#include "core/objectbundle.h"
#include "document/document.h"
#include "document/mapcontents.h"
#include "merge/mergecommand.h"
#include "replace/stringtable.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brindlemark {

// A map's object data before and after putting a bundle's kinds into it.
struct MapObjectsBuild {
    MapObjects before;
    ObjectBundle main; // the object files after
    ObjectBundle skin; // the skin files after
};

// Puts the kinds that `main` and `skin` hold into the map's object files (war3map.<ext>) and skin files
// (war3mapSkin.<ext>): without `policy` each kind replaces the map's, with it the objects are merged into the map's
// kind under that policy. Kinds the bundles lack and the map's other files stay as they are. `approve` sees the
// plan before anything is staged; when it answers false nothing is written. Files whose objects do not change keep
// their bytes, and a map with nothing to change is not written; `written` counts the object files written (after
// the map's backup copy when `takeBackup`). False (reported) on failure; the map is then unchanged.
// With `texts` (the texts that references stood for where the objects came from, as a dump of a map records
// them), a reference whose text the map holds under another number or not at all brings its text along as
// carryStringsIntoMap() does with reuseMatching.
[[nodiscard]] bool putObjectFilesIntoMap(const std::filesystem::path& map, const ObjectBundle& main,
                                         const ObjectBundle& skin, std::optional<MergePolicy> policy, bool takeBackup,
                                         const std::function<bool(const MapObjectsBuild&)>& approve,
                                         std::size_t& written, MessageSink& sink, const StringTable* texts = nullptr);

} // namespace brindlemark
