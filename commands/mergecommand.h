#pragma once

// The Merge command over a main file of any form: a bundle, an object file of one kind, a map archive or a map
// folder. The added file (a bundle, an object file of one kind or a map) is merged into the main file's objects
// under the request's policy, and what changed is written back.

#include "core/messagesink.h"
#include "document/document.h"
#include "merge/mergecommand.h"

namespace brindlemark {

// Runs the Merge command on `main`, which is read afresh from `request.main` after its lock is taken, so that the
// run starts from the file as it is on disk. An unopened document is first opened for that; objects held in
// memory (Document::hold()) say whether a bundle loaded, and the document's policy and warning sink are those it is
// read again under. After a run that went through, the document stands under the request's policy.
// Everything that can stop the merge is checked before any file changes: a main file that did not load, the added
// file being the main file, an added file that cannot be read or is damaged, or one holding kinds that a main file
// of one kind cannot hold. An added map's objects bring their texts along: into a map's string table under new
// numbers, in place of the references otherwise (unless `keepStringRefs`). A merge whose result the file already
// holds writes nothing and keeps the backup. After a run that went through, `main` holds the result.
// Every failure is said once to `sink` and leaves every file and `main` as they were.
MergeReport mergeObjectFiles(Document& main, const MergeRequest& request, MessageSink& sink);

} // namespace brindlemark
