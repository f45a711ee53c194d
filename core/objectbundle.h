#pragma once

#include "core/objectfile.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brindlemark {

class FileTransaction;

// The seven kinds of object data, in the order in which they stand in a bundle file.
enum class ObjectKind { Units, Items, Destructables, Doodads, Abilities, Buffs, Upgrades };

inline constexpr std::size_t kObjectKindCount = 7;
inline constexpr std::array<ObjectKind, kObjectKindCount> kAllObjectKinds = {
    ObjectKind::Units,     ObjectKind::Items, ObjectKind::Destructables, ObjectKind::Doodads,
    ObjectKind::Abilities, ObjectKind::Buffs, ObjectKind::Upgrades};

// Lower-case plural name, as used in messages: "units", "abilities".
const char* kindName(ObjectKind kind);
// The extension of the kind's object file, without the dot: "w3u", "w3t", "w3b", "w3d", "w3a", "w3h", "w3q".
const char* kindExtension(ObjectKind kind);
// Whether the kind's modifications carry level and data-column values.
bool kindHasLevels(ObjectKind kind);

// The kind whose object file a file of this name holds on its own, by the extension (.w3u units, .w3t items,
// .w3b destructables, .w3d doodads, .w3a abilities, .w3h buffs, .w3q upgrades, in any letter case), or none
// for a bundle.
std::optional<ObjectKind> singleKindOf(const std::filesystem::path& path);

// Per kind, in the order of kAllObjectKinds, what loading did with the objects of a file (FilingCounts).
using KindCounts = std::array<FilingCounts, kObjectKindCount>;

// The largest object file read: real ones are a few megabytes, and the whole file is read into memory.
inline constexpr std::uint64_t kMaxObjectFileSize = std::uint64_t{1} << 30;

// How a load ended.
struct LoadResult {
    enum class Outcome { Loaded, CannotOpen, Refused };
    Outcome outcome = Outcome::Loaded;
    std::string error;        // names the file; for Refused also the byte offset and what was being read
    std::uint64_t offset = 0; // where a refused file is damaged

    explicit operator bool() const { return outcome == Outcome::Loaded; }
};

// The bundle version of the bundles this program makes from object files, maps or JSON, as every bundle the
// editor writes has it. A bundle read from a file keeps the version it has.
inline constexpr std::int32_t kNewBundleVersion = 1;

// The in-memory form of a .w3o object bundle: a version and, per kind, a presence flag and its object file.
class ObjectBundle {
public:
    struct Kind {
        std::int32_t present = 0; // non-zero: the kind's object file stands in the file; written back as read
        ObjectFile file;
    };

    ObjectBundle();

    std::int32_t version = kNewBundleVersion;
    // Set by a caller that loads a file only to count what it holds: objects read from it sort modifications
    // that stand out of order only when something walks them. The bundle behaves the same either way.
    bool sortWhenUsed = false;

    Kind& kind(ObjectKind k) { return kinds_[static_cast<std::size_t>(k)]; }
    const Kind& kind(ObjectKind k) const { return kinds_[static_cast<std::size_t>(k)]; }

    // Reads the file on top of what the bundle holds: a bundle, or the object file of the one kind its extension
    // names (singleKindOf). All or nothing: a file that cannot be opened, or that is damaged anywhere, leaves
    // the bundle exactly as it was. A refused file of another form (a map, a trigger file, text) is named as
    // such (core/fileform.h) rather than by the read error.
    // `policy` decides every object whose identifier the table already holds (one read earlier in the same file,
    // or one the bundle held); loading warnings (collisions, bytes after the end) go to `warn`, nowhere when empty.
    LoadResult load(const std::filesystem::path& path, MergePolicy policy = MergePolicy::Glue,
                    const WarningSink& warn = {});
    // As load() of a bundle, from bytes in memory; `fileName` names them in messages. With `counts`, what
    // became of each object is added to them.
    LoadResult loadBytes(std::span<const std::uint8_t> bytes, const std::string& fileName,
                         MergePolicy policy = MergePolicy::Glue, const WarningSink& warn = {},
                         KindCounts* counts = nullptr);
    // As load() of one kind's object file, from bytes in memory; the kind is then present.
    LoadResult loadObjectFileBytes(std::span<const std::uint8_t> bytes, ObjectKind kind, const std::string& fileName,
                                   MergePolicy policy = MergePolicy::Glue, const WarningSink& warn = {},
                                   KindCounts* counts = nullptr);

    // Writes the bundle, or for a single-kind file name the object file of that kind alone, through a temporary
    // file that then replaces `path`. False with the reason; the file at `path` is then unchanged.
    bool save(const std::filesystem::path& path, std::string& error) const;
    // The same contents for `path` staged in `files`, streamed: the file changes only when `files` commits.
    [[nodiscard]] bool stage(FileTransaction& files, const std::filesystem::path& path, std::string& error) const;
    // The bytes of the whole bundle.
    std::vector<std::uint8_t> toBytes() const;
    // The bytes of one kind's object file.
    std::vector<std::uint8_t> objectFileBytes(ObjectKind kind) const;
    // The bytes of the bundle, or with `kind` of that kind's object file, handed to `put` piece by piece.
    void writeTo(std::optional<ObjectKind> kind, const ByteWriter::Sink& put) const;
    // Streams the bytes to `out` (whose sink, if any, receives them in pieces).
    void write(ByteWriter& out) const;

    // Empties every table and marks every kind absent; versions stay.
    void clear();

private:
    // How a load files its objects: under which policy, where it warns, and what it counts (none when null).
    struct Filing {
        MergePolicy policy;
        const WarningSink& warn;
        KindCounts* counts;
    };
    void takeOnTop(ObjectKind k, bool wasPresent, ParsedObjectFile&& parsed, const Filing& filing);
    // Sorts what `in` reads on a second thread, when the bytes are many and nothing asked to leave sorting.
    void startPlacer(ByteReader& in, std::optional<RecordPlacer>& placer) const;
    static void warnTrailing(const ByteReader& in, const std::string& fileName, const WarningSink& warn);
    // The loads from bytes; with `keepAlive` (which holds the bytes) objects may keep views into them.
    LoadResult loadBundle(std::span<const std::uint8_t> bytes, const std::string& fileName,
                          std::shared_ptr<const void> keepAlive, const Filing& filing);
    LoadResult loadObjectFile(std::span<const std::uint8_t> bytes, ObjectKind kind, const std::string& fileName,
                              std::shared_ptr<const void> keepAlive, const Filing& filing);

    std::array<Kind, kObjectKindCount> kinds_;
};

} // namespace brindlemark
