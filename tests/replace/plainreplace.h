#pragma once

// The Replace command done the plain way, step by step: every pair plans over every object, every rename
// rewrites every value of the bundle, and every rename makes its own pass over every side file row. The tests
// compare the real command against it.

#include "replace/renamelist.h"
#include "replace/replacecommand.h"

namespace brindlemark::testing {

void plainApplyRename(ObjectBundle& bundle, ObjectId pattern, ObjectId replacement, RenameList& list);

ReplaceReport plainReplaceIdentifiers(ObjectBundle& bundle, const BundlePath& bundlePath, bool mainLoaded,
                                      const ReplaceRequest& request, MessageSink& sink);

} // namespace brindlemark::testing
