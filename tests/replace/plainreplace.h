#pragma once

// The Replace command done the plain way, step by step: every pair plans over every object, every rename
// rewrites every value of the bundle, and every rename makes its own pass over every side file row. The tests
// compare the real command against it.

#include "replace/renamelist.h"
#include "replace/renaming.h"
#include "replace/replacecommand.h"

namespace brindlemark::testing {

// With `counts`, it receives per entry of the list how many values the entry's rewriting changed.
void plainApplyRename(ObjectBundle& bundle, ObjectId pattern, ObjectId replacement, RenameList& list,
                      std::vector<ValueCounts>* counts = nullptr);

ReplaceReport plainReplaceIdentifiers(ObjectBundle& bundle, const BundlePath& bundlePath, bool mainLoaded,
                                      const ReplaceRequest& request, MessageSink& sink);

} // namespace brindlemark::testing
