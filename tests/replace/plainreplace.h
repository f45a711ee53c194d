#pragma once

// The Replace command done the plain way, step by step: the list read as one stream of tokens, every pair
// planned over every object, every rename rewriting every value of the bundle, and every rename making its own
// pass over every side file row. The tests compare the real command against it.

#include "replace/dryrun.h"
#include "replace/renamelist.h"
#include "replace/renaming.h"
#include "replace/replacecommand.h"
#include "replace/sidefile.h"

#include <filesystem>
#include <span>
#include <string>

namespace brindlemark::testing {

// With `counts`, it receives per entry of the list how many values the entry's rewriting changed. Renamed
// objects meet others by `policy`.
void plainApplyRename(ObjectBundle& bundle, ObjectId pattern, ObjectId replacement, RenameList& list,
                      std::vector<ValueCounts>* counts = nullptr, MergePolicy policy = MergePolicy::Glue);

// Reads the next token of a replace list from `bytes` at `at` by the token rules (replace/replacelist.h), the
// list taken as one stream without regard to its lines, and leaves `at` just after it. False, with `token`
// unchanged, when the list ends before a whole token: at its end, inside a comment that has no line feed, or
// inside a token or a byte-order mark.
bool plainReadReplaceToken(std::span<const std::uint8_t> bytes, std::size_t& at, ObjectId& token);

// Applies the pairs to the bundle in memory, in order, each pair's references rewritten before the next pair,
// and then patches the side texts with every rename, counting what each rename changes.
std::vector<PlannedRename> plainPlanRenames(ObjectBundle& bundle, std::span<const std::pair<ObjectId, ObjectId>> pairs,
                                            std::vector<SideText>& sides, MergePolicy policy = MergePolicy::Glue);

// `policy` is the one the bundle was read under, which renames follow.
ReplaceReport plainReplaceIdentifiers(ObjectBundle& bundle, const BundlePath& bundlePath, bool mainLoaded,
                                      const ReplaceRequest& request, MessageSink& sink,
                                      MergePolicy policy = MergePolicy::Glue);

// One plain pass over the side file at `path`, in place, through a small buffer. A file that does not exist or
// cannot be opened for update (read-only, a folder) is left alone and not created; false then, or when reading,
// positioning or writing failed.
bool patchSideFile(const std::filesystem::path& path, ObjectId from, ObjectId to);

// The passes applied to the file at `path` by applySidePasses, writing back in place only the byte ranges that
// changed. False with a message naming the file when it cannot be opened for update, read or written.
bool patchSideFileInPlace(const std::filesystem::path& path, std::span<const SidePass> passes, std::string& error);

} // namespace brindlemark::testing
