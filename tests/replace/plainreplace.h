#pragma once

// The Replace command done the plain way, step by step: every pair plans over every object, every rename
// rewrites every value of the bundle, and every rename makes its own pass over every side file row. The tests
// compare the real command against it.

#include "replace/renamelist.h"
#include "replace/renaming.h"
#include "replace/replacecommand.h"
#include "replace/sidefile.h"

#include <filesystem>
#include <span>
#include <string>

namespace brindlemark::testing {

// With `counts`, it receives per entry of the list how many values the entry's rewriting changed.
void plainApplyRename(ObjectBundle& bundle, ObjectId pattern, ObjectId replacement, RenameList& list,
                      std::vector<ValueCounts>* counts = nullptr);

ReplaceReport plainReplaceIdentifiers(ObjectBundle& bundle, const BundlePath& bundlePath, bool mainLoaded,
                                      const ReplaceRequest& request, MessageSink& sink);

// One plain pass over the side file at `path`, in place, through a small buffer. A file that does not exist or
// cannot be opened for update (read-only, a folder) is left alone and not created; false then, or when reading,
// positioning or writing failed.
bool patchSideFile(const std::filesystem::path& path, ObjectId from, ObjectId to);

// The passes applied to the file at `path` by applySidePasses, writing back in place only the byte ranges that
// changed. False with a message naming the file when it cannot be opened for update, read or written.
bool patchSideFileInPlace(const std::filesystem::path& path, std::span<const SidePass> passes, std::string& error);

} // namespace brindlemark::testing
