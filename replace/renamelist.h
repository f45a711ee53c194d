#pragma once

#include "core/objectid.h"

#include <optional>
#include <string>
#include <vector>

namespace brindlemark {

// The identifier that lists an object without renaming it.
inline constexpr ObjectId kSentinelId = ObjectId::fromText("____");

// One planned identifier change.
struct RenameEntry {
    ObjectId fromId;
    ObjectId toId;
    std::optional<std::string> displayName; // the object's name when it was planned

    // Zero `fromId` means that nothing changed.
    bool isChange() const { return !fromId.isZero() && !toId.isZero() && fromId != toId; }
};

// Byte-exact order of two identifiers as texts of at most four bytes that end early at a NUL: unsigned bytes,
// no case folding. Negative, zero or positive.
int compareEntryIds(ObjectId a, ObjectId b);

// Rename entries in ascending byte-exact order of `fromId`.
class RenameList {
public:
    explicit RenameList(bool unique) : unique_(unique) {}

    // Stores the entry in order; a list that is unique refuses an entry whose `fromId` it already holds (false).
    // In a list that is not unique an equal entry goes right before the equal one the bisection meets first.
    bool insert(RenameEntry entry);

    bool unique() const { return unique_; }
    const std::vector<RenameEntry>& entries() const { return entries_; }
    // For changing what an entry says besides its identifiers (its order stays).
    RenameEntry& entryAt(std::size_t i) { return entries_[i]; }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

private:
    bool unique_;
    std::vector<RenameEntry> entries_;
};

} // namespace brindlemark
