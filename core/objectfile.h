#pragma once

#include "core/objecttable.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace brindlemark {

// Receives the warnings that loading writes (one line each, without a line end).
using WarningSink = std::function<void(const std::string&)>;

// An object file read from bytes whose objects are not yet filed into tables.
struct ParsedObjectFile {
    std::int32_t version = 0;
    std::vector<std::unique_ptr<ObjectRecord>> objects; // both sections, in file order; filed without a copy
};

// What filing objects into a kind's tables did with them: each was inserted anew, or met a held object with a
// matching identifier and was resolved by the policy. Objects that were dropped are not counted.
struct FilingCounts {
    std::size_t added = 0;
    std::size_t overwritten = 0;
    std::size_t glued = 0;
    std::size_t kept = 0;

    std::size_t total() const { return added + overwritten + glued + kept; }
    friend bool operator==(const FilingCounts&, const FilingCounts&) = default;
};

// The highest object file version this program reads and writes.
inline constexpr std::int32_t kMaxObjectFileVersion = 3;

// Reads one object file at the reader's position. False on damage or an unsupported version; the reader holds
// the error.
bool parseObjectFile(ByteReader& in, bool hasLevels, ParsedObjectFile& out);

// One kind's object data: the modified standard objects and the custom objects.
struct ObjectFile {
    bool hasLevels = false;
    std::int32_t version = 0; // the value last read, written back unchanged
    ObjectTable standardTable;
    ObjectTable customTable;

    // Files an object that was just read into one of the two tables. A modified standard object without
    // modifications is dropped (false); custom objects are kept even when empty. With `counts`, what became of
    // the object is counted there.
    bool fileObject(ObjectRecord&& record, MergePolicy policy, const WarningSink& warn);
    bool fileObject(std::unique_ptr<ObjectRecord> record, MergePolicy policy, const WarningSink& warn,
                    FilingCounts* counts = nullptr);
    // Takes the version and files every object of `parsed`, in order; with `counts`, what became of each object
    // is counted there.
    void take(ParsedObjectFile&& parsed, MergePolicy policy, const WarningSink& warn, FilingCounts* counts = nullptr);
    // Writes the object file in the layout of its own version.
    void write(ByteWriter& out) const;
    void clear();
};

} // namespace brindlemark
