#pragma once

// The one planning path of the Replace command: on a bundle or a map, for a real run or a dry run, the renames
// are applied in memory to the object data and to the side texts, and everything the run would write is known
// before any file changes.

#include "core/objectbundle.h"
#include "replace/dryrun.h"
#include "replace/renaming.h"
#include "replace/stringtable.h"

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace brindlemark {

// A rename whose new identifier already belonged to another object that the pair leaves alone. In the same
// table the two met by the policy; an object of another kind keeps the identifier beside the renamed one, so
// that two objects carry it (identifiers are shared by all kinds in the game).
struct Collision {
    RenameEntry entry;
    ObjectKind kind = ObjectKind::Units;         // the renamed object's kind
    ObjectKind existingKind = ObjectKind::Units; // the kind of the object that held the identifier
    std::optional<std::string> existingName;     // the object that held the identifier
    MergePolicy policy = MergePolicy::Glue;
};

// "A001 -> A002 collides with the existing A002 'Short Sword'; glued", or across kinds
// "ability A072 -> I000 collides with the existing item I000 'Claws'; two objects now carry I000".
std::string collisionText(const Collision& collision);

// The objects of the bundle that the pair would rename onto an identifier that another object holds (and
// keeps): in the same table under the merge's matching, in another kind when the identifier is the same bytes.
// As they stand before the pair is applied; in the same table they would meet by `policy`.
std::vector<Collision> findCollisions(const ObjectBundle& bundle, MergePolicy policy, ObjectId pattern,
                                      ObjectId replacement);

// Shows the names of the collisions' objects as `strings` resolves them ("TRIGSTR_012" becomes its text).
void resolveCollisionNames(std::vector<Collision>& collisions, const StringTable& strings);

struct ReplacePlan {
    std::vector<PlannedRename> renames; // in order, with what each changed in the bundles and the side texts
    std::vector<Collision> collisions;
};

// Applies the pairs in order to every bundle (a map's object files and its skin files are two), and then every
// rename to the side texts. A pair's renames are those of the first bundle followed by any that only later ones
// gave; a rename two bundles gave takes its name from the later one where the first has none, and counts the
// values of both. An object renamed onto another one in its table meets it by `policy`.
ReplacePlan planReplace(std::span<ObjectBundle* const> bundles, MergePolicy policy,
                        std::span<const std::pair<ObjectId, ObjectId>> pairs, std::vector<SideText>& sides);

} // namespace brindlemark
