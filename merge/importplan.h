#pragma once

// Bringing the objects of one map (a spell pack, a hero system) into another: the custom objects whose
// identifiers the main side already uses get free identifiers, numbered as the map editor numbers custom objects.

#include "core/objectbundle.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace brindlemark {

// Identifiers as the object tables compare them (letter case folded, nothing after a NUL byte).
class IdentifierSet {
public:
    void add(ObjectId id) { keys_.insert(key(id)); }
    // Every object identifier of the bundle, of every kind and both tables.
    void addAll(const ObjectBundle& bundle);
    bool contains(ObjectId id) const { return keys_.contains(key(id)); }

private:
    static std::uint32_t key(ObjectId id);
    std::unordered_set<std::uint32_t> keys_;
};

// The identifier after `id` in the editor's numbering: the last three characters count through the digits and
// then the capital letters (X000, X001, ... X009, X00A, ... X00Z, X010, ...). None after XZZZ.
std::optional<ObjectId> nextEditorId(ObjectId id);

// A custom object of the added side renamed because the main side uses its identifier.
struct ImportRename {
    ObjectKind kind = ObjectKind::Units;
    ObjectId from;
    ObjectId to;
};

// The renames that make the added side's custom objects collide with nothing: each custom object of `added`
// whose identifier `main` uses (in any kind) gets the first identifier with its first character, in the editor's
// numbering from X000, that neither side uses and no earlier rename took. Objects are taken kind by kind in
// table order. False with a message when a first character has no free identifier left.
[[nodiscard]] bool planImportRenames(const IdentifierSet& mainIds, const ObjectBundle& added,
                                     std::vector<ImportRename>& out, std::string& error);

// The identifier-like words in the added side's values (whole words of three digits or capital letters behind
// a letter, at least one a digit, and integer values of that form) that neither side defines, sorted.
std::vector<ObjectId> unresolvedReferences(const ObjectBundle& added, const IdentifierSet& defined);

} // namespace brindlemark
