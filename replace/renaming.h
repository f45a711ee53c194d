#pragma once

#include "core/objectbundle.h"
#include "replace/renamelist.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace brindlemark {

// The object's name: the text of the first of the fields unam, anam, fnam, bnam, dnam, utip, ides that the object
// has. None when that field is not a string, or when the object has none of them.
std::optional<std::string> findDisplayName(const ObjectRecord& record);

// What renameByPattern() would do to the object, without doing it: the entry (its identifier before and after),
// or an entry with a zero `fromId` when the pair does not rename it.
RenameEntry planRename(const ObjectRecord& record, ObjectId pattern, ObjectId replacement);

// Applies the pair to the object's own identifier: a modified standard object (zero newId) whose base id agrees
// with the pattern, or an object whose newId agrees, gets the new identifier as its newId (unless that is the
// sentinel). Returns the entry, or one with a zero `fromId` when nothing changed.
RenameEntry renameByPattern(ObjectRecord& record, ObjectId pattern, ObjectId replacement);

// How many values a rewrite changed.
struct ValueCounts {
    std::size_t strings = 0;
    std::size_t integers = 0;
};

// Applies the pair to every string value (whole words) and every integer value of the object. Field ids, levels,
// columns and end markers never change. Returns how many values changed.
ValueCounts substituteInValues(ObjectRecord& record, ObjectId pattern, ObjectId replacement);

// Renames the table's matching objects in table order, moving each renamed one into `destination` (when given and
// the replacement is not the sentinel) under `policy`, and inserts an entry per rename into `list`. Moved objects
// keep their address; `observer` hears of objects destroyed or merged into. Returns whether an object that stayed
// got another identifier, so that the table may be out of order.
bool collectRenames(ObjectTable& table, ObjectId pattern, ObjectId replacement, ObjectTable* destination,
                    MergePolicy policy, RenameList& list, TableObserver* observer = nullptr);

// Renames objects of one bundle pair after pair. Planning renames the bundle's matching objects (modified
// standard objects move to their kind's custom table), restores the tables' identifier order, and records
// every rename in the list; rewriting then replaces every reference to each renamed identifier in all string and
// integer values.
//
// The engine keeps an index from four-byte words to the places that hold them: a whole word at a byte offset of
// one string value, or an integer value. A rewrite visits only the places of the renamed identifier and looks
// again only at the few windows around each replaced word, so a pair costs time in proportion to the places
// its identifier occurs, not to the length of the texts that hold it. Only an identifier that holds the
// wildcard `%` falls back to visiting every object. The bundle must not be changed by anything else while the
// engine is in use.
class RenameEngine : private TableObserver {
public:
    // Renamed objects meet those already under their new identifiers by `policy`.
    RenameEngine(ObjectBundle& bundle, MergePolicy policy);
    ~RenameEngine() override = default;
    RenameEngine(const RenameEngine&) = delete;
    RenameEngine& operator=(const RenameEngine&) = delete;

    // Applies one pair to the whole bundle and fills `list` with its renames. With `counts`, it receives per
    // entry of the list how many values the entry's rewriting changed.
    //
    // With `mayDefer`, the rewriting of references may be left for later, when that gives the same bytes: the
    // pair's identifiers hold no wildcard, NUL or delimiter, its replacement is not the sentinel, its pattern is
    // none of the identifiers of the renames already left for later, no pair before it was rewritten at once,
    // and it merges no objects. Renames left for later are rewritten together, in one pass over the bundle,
    // when a pair that cannot be deferred comes or rewriteDeferred() is called; `counts` then holds zeros for
    // them, and deferredCounts() the real figures afterwards. Returns whether the rewriting was deferred. The
    // caller must not defer a pair that renames an object onto another one (a collision).
    bool applyRename(ObjectId pattern, ObjectId replacement, RenameList& list,
                     std::vector<ValueCounts>* counts = nullptr, bool mayDefer = false);
    // Rewrites the renames left for later now.
    void rewriteDeferred();
    bool hasDeferred() const { return !deferred_.empty(); }
    // Whether the pair must see the bundle with the renames left for later done: it names one of their
    // identifiers, or it is not a pair of plain words. Objects renamed by a deferred pair keep their old
    // identifiers and places until then.
    bool needsDeferredDone(ObjectId pattern, ObjectId replacement) const;
    // Per rename deferred since the engine was made and rewritten since (in the order of the entries of the
    // lists), how many values its rewriting changed.
    const std::vector<ValueCounts>& deferredCounts() const { return deferredCounts_; }

private:
    // Where a word stands: modification `mod` of the object in slot `slot`, at byte `offset` of its string, or
    // its integer value (kIntegerPlace).
    struct Place {
        std::uint32_t slot;
        std::uint32_t mod;
        std::uint32_t offset;
        friend bool operator==(const Place&, const Place&) = default;
    };
    static constexpr std::uint32_t kIntegerPlace = 0xffffffffu;

    // Words found through open addressing, each with a number. No word holds a NUL byte (a text ends at its
    // first NUL, and integers with one are never listed), so 0 marks a free slot.
    class WordMap {
    public:
        // Gives the word `value` unless it has a number already; returns the word's number.
        std::uint32_t insert(std::uint32_t key, std::uint32_t value);
        // The word's number, or -1.
        std::int64_t find(std::uint32_t key) const;
        void clear();

    private:
        std::size_t slotOf(std::uint32_t key) const;

        std::vector<std::uint32_t> keys_;
        std::vector<std::uint32_t> values_;
        std::size_t used_ = 0;
    };

    // A list of places per word.
    class PlaceLists {
    public:
        // The word's list, made empty when it has none.
        std::vector<Place>& operator[](std::uint32_t word);
        // Hands the word's list over, leaving it empty.
        std::vector<Place> take(std::uint32_t word);

    private:
        WordMap lists_; // per word, the index of its list
        std::vector<std::vector<Place>> places_;
    };

    // Whether the pair renames at most one object of each kind, to an identifier no object of that kind has.
    bool renamesWithoutMerging(ObjectId pattern, ObjectId replacement) const;
    // Builds the word index on first use: an engine whose renames are all deferred never needs it.
    void ensureIndexed();

    void destroying(const ObjectRecord& record) override;
    void merged(ObjectRecord& record) override;

    // With `defer`, the objects found keep their identifiers and places; their renames wait in pending_.
    void planByBisection(ObjectId pattern, ObjectId replacement, RenameList& list, bool defer);
    // Gives the objects of the deferred renames their new identifiers and puts them in order, each table sorted
    // once.
    void placePending();
    void planByVisitingAll(ObjectId pattern, ObjectId replacement, RenameList& list);
    ValueCounts rewriteReferences(ObjectId fromId, ObjectId toId);
    ValueCounts rewriteEverywhere(ObjectId fromId, ObjectId toId);
    void cutAtNul(ValueCounts& counts);
    // Rewrites the word at the listed places of one value (sorted by offset, all of modification `mod`).
    void rewritePlaces(std::uint32_t slot, std::uint32_t mod, const Place* first, const Place* last, ObjectId fromId,
                       ObjectId toId, ValueCounts& counts);
    void indexRecord(std::uint32_t slot);
    void indexValue(std::uint32_t slot, std::uint32_t mod, const Modification& m);
    void indexValue(std::uint32_t slot, std::uint32_t mod, ModValueType type, std::int32_t intValue,
                    std::string_view text);
    // Lists every whole word of the text that starts in [from, to].
    void indexWindows(std::uint32_t slot, std::uint32_t mod, const std::uint8_t* text, std::size_t length,
                      std::size_t from, std::size_t to);

    ObjectBundle& bundle_;
    MergePolicy policy_;
    // The held objects by slot; null once destroyed.
    std::vector<ObjectRecord*> records_;
    std::unordered_map<const ObjectRecord*, std::uint32_t> slots_;
    // Every place that holds a word is listed under it; a list may also name places that no longer hold the word
    // (they are checked when used), and a place more than once.
    PlaceLists holders_;
    // The string values (slot and modification) that may hold a NUL byte, which ends their text before its size.
    std::unordered_set<std::uint64_t> nulValues_;
    bool indexed_ = false;
    // Renames whose rewriting was left for later, in order, and the counts of those already rewritten.
    std::vector<RenameEntry> deferred_;
    WordMap deferredFrom_; // the pattern of each deferred entry, numbered by its first entry
    WordMap deferredTo_;   // the identifiers they rename to
    std::vector<ValueCounts> deferredCounts_;
    // The objects that deferred renames renamed, with their new identifiers.
    struct PendingRename {
        ObjectRecord* record;
        ObjectId newId;
        ObjectKind kind;
        bool fromStandard; // moves to the custom table
    };
    std::vector<PendingRename> pending_;
};

// Applies one pair to the bundle (a RenameEngine used once), renamed objects meeting others by `policy`.
void applyRename(ObjectBundle& bundle, ObjectId pattern, ObjectId replacement, RenameList& list,
                 MergePolicy policy = MergePolicy::Glue);

// Whether the identifier holds the wildcard byte `%`.
inline bool hasWildcard(ObjectId id) {
    for (std::uint8_t b : id.bytes)
        if (b == '%')
            return true;
    return false;
}

} // namespace brindlemark
