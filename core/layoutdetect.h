#pragma once

// Object data in a file whose name does not tell its layout, such as the temporary files a version control
// system hands to a merge driver: the bytes decide between a bundle and a single kind's object file.

#include "core/objectbundle.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace brindlemark {

enum class FileLayout {
    Bundle,
    ObjectFile,           // one kind without level columns (units, items, destructables, buffs)
    ObjectFileWithLevels, // one kind with level columns (doodads, abilities, upgrades)
};

// The layout the bytes read as. Of the layouts that read the bytes to their very end, the one that needs the
// fewest recovered stray values wins, a bundle before an object file; when none reads to the end, the same
// among those that read at all. False with the reason of the layout that read furthest when none reads.
[[nodiscard]] bool detectLayout(std::span<const std::uint8_t> bytes, FileLayout& layout, ReadError& error);

// The layout that reads the bytes better than `layout` does, as detectLayout ranks them (to the end, then fewer
// recovered values), or none when `layout` reads them as well as any. For bytes whose layout was named rather
// than guessed: a name that does not fit them is refused instead of read into the wrong columns.
std::optional<FileLayout> betterLayout(std::span<const std::uint8_t> bytes, FileLayout layout);

// The kind that stands for an object file of the layout: units, or abilities with level columns. Object files
// of kinds with the same columns have the same layout, so the bytes written back are the same.
ObjectKind standInKind(FileLayout layout);

// Loads bytes of the detected layout into `bundle` (as ObjectBundle::loadBytes or loadObjectFileBytes), loading
// warnings going to `warn`.
LoadResult loadDetected(ObjectBundle& bundle, std::span<const std::uint8_t> bytes, const std::string& fileName,
                        FileLayout& layout, const WarningSink& warn = {});

} // namespace brindlemark
