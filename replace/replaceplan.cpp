#include "replace/replaceplan.h"

namespace brindlemark {

namespace {

const char* policyPastTense(MergePolicy policy) {
    switch (policy) {
    case MergePolicy::Overwrite:
        return "overwritten";
    case MergePolicy::Glue:
        return "glued";
    case MergePolicy::Keep:
        return "kept";
    }
    return "";
}

const char* kindNoun(ObjectKind kind) {
    switch (kind) {
    case ObjectKind::Units:
        return "unit";
    case ObjectKind::Items:
        return "item";
    case ObjectKind::Destructables:
        return "destructable";
    case ObjectKind::Doodads:
        return "doodad";
    case ObjectKind::Abilities:
        return "ability";
    case ObjectKind::Buffs:
        return "buff";
    case ObjectKind::Upgrades:
        return "upgrade";
    }
    return "";
}

// Whether the pair renames the object to `newId` while `table` holds another object under that identifier
// which the pair leaves alone. Across kinds only the same four bytes are the same identifier: the tables'
// matching merges objects of one kind only.
void checkTarget(const ObjectTable& table, const ObjectRecord& moving, const RenameEntry& entry, ObjectId pattern,
                 ObjectId replacement, ObjectKind kind, ObjectKind tableKind, MergePolicy policy,
                 std::vector<Collision>& out) {
    const std::size_t at = table.indexOf(entry.toId);
    if (at == table.count())
        return;
    const ObjectRecord& existing = table.at(at);
    if (&existing == &moving || planRename(existing, pattern, replacement).isChange())
        return;
    if (tableKind != kind && existing.effectiveId() != entry.toId)
        return;
    out.push_back({entry, kind, tableKind, findDisplayName(existing), policy});
}

} // namespace

std::string collisionText(const Collision& c) {
    const bool acrossKinds = c.existingKind != c.kind;
    std::string text = acrossKinds ? std::string(kindNoun(c.kind)) + " " : std::string();
    text += c.entry.fromId.text() + " -> " + c.entry.toId.text() + " collides with the existing ";
    if (acrossKinds)
        text += std::string(kindNoun(c.existingKind)) + " ";
    text += c.entry.toId.text();
    if (c.existingName)
        text += " '" + *c.existingName + "'";
    if (acrossKinds)
        return text + "; two objects now carry " + c.entry.toId.text();
    return text + "; " + policyPastTense(c.policy);
}

std::vector<Collision> findCollisions(const ObjectBundle& bundle, MergePolicy policy, ObjectId pattern,
                                      ObjectId replacement) {
    std::vector<Collision> out;
    if (replacement == kSentinelId)
        return out;
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectFile& file = bundle.kind(k).file;
        for (const ObjectTable* table : {&file.standardTable, &file.customTable}) {
            const auto visit = [&](const ObjectRecord& record) {
                const RenameEntry entry = planRename(record, pattern, replacement);
                if (!entry.isChange())
                    return;
                // Standard objects move to the custom table; custom objects stay in theirs.
                checkTarget(file.customTable, record, entry, pattern, replacement, k, k, policy, out);
                for (ObjectKind other : kAllObjectKinds) {
                    if (other == k)
                        continue;
                    const ObjectFile& otherFile = bundle.kind(other).file;
                    const std::size_t before = out.size();
                    checkTarget(otherFile.customTable, record, entry, pattern, replacement, k, other, policy, out);
                    if (out.size() == before)
                        checkTarget(otherFile.standardTable, record, entry, pattern, replacement, k, other, policy,
                                    out);
                }
            };
            if (hasWildcard(pattern)) {
                for (std::size_t i = 0; i < table->count(); ++i)
                    visit(table->at(i));
            } else if (const std::size_t at = table->indexOf(pattern); at != table->count()) {
                visit(table->at(at));
            }
        }
    }
    return out;
}

void resolveCollisionNames(std::vector<Collision>& collisions, const StringTable& strings) {
    for (Collision& c : collisions) {
        if (c.existingName)
            c.existingName = strings.resolve(*c.existingName);
        if (c.entry.displayName)
            c.entry.displayName = strings.resolve(*c.entry.displayName);
    }
}

ReplacePlan planReplace(std::span<ObjectBundle* const> bundles, MergePolicy policy,
                        std::span<const std::pair<ObjectId, ObjectId>> pairs, std::vector<SideText>& sides) {
    ReplacePlan plan;
    std::vector<std::unique_ptr<RenameEngine>> engines;
    for (ObjectBundle* bundle : bundles)
        engines.push_back(std::make_unique<RenameEngine>(*bundle, policy));
    // Per bundle, the planned rename that each deferred entry's counts belong to, in the engine's order.
    std::vector<std::vector<std::size_t>> deferredTo(bundles.size());
    for (const auto& [pattern, replacement] : pairs) {
        const std::size_t first = plan.renames.size();
        const std::size_t firstCollision = plan.collisions.size();
        for (std::size_t b = 0; b < bundles.size(); ++b) {
            // Objects renamed by deferred pairs still carry their old identifiers: a pair that names one of them
            // sees them renamed first.
            if (engines[b]->needsDeferredDone(pattern, replacement))
                engines[b]->rewriteDeferred();
            std::vector<Collision> collisions = findCollisions(*bundles[b], policy, pattern, replacement);
            if (!collisions.empty() && engines[b]->hasDeferred()) {
                // The existing object's name as the renames before leave it.
                engines[b]->rewriteDeferred();
                collisions = findCollisions(*bundles[b], policy, pattern, replacement);
            }
            const bool mayDefer = collisions.empty();
            for (Collision& c : collisions) {
                bool known = false;
                for (std::size_t i = firstCollision; i < plan.collisions.size(); ++i)
                    known = known ||
                            (plan.collisions[i].kind == c.kind && plan.collisions[i].existingKind == c.existingKind &&
                             plan.collisions[i].entry.fromId == c.entry.fromId &&
                             plan.collisions[i].entry.toId == c.entry.toId);
                if (!known)
                    plan.collisions.push_back(std::move(c));
            }
            RenameList list(false);
            std::vector<ValueCounts> counts;
            const bool deferred = engines[b]->applyRename(pattern, replacement, list, &counts, mayDefer);
            const std::size_t known = plan.renames.size();
            for (std::size_t i = 0; i < list.size(); ++i) {
                const RenameEntry& e = list.entries()[i];
                std::size_t at = first;
                while (at < known &&
                       !(plan.renames[at].entry.fromId == e.fromId && plan.renames[at].entry.toId == e.toId))
                    ++at;
                if (deferred)
                    deferredTo[b].push_back(at == known ? plan.renames.size() : at);
                if (at == known) {
                    plan.renames.push_back({e, counts[i], {}});
                    continue;
                }
                PlannedRename& same = plan.renames[at];
                if (!same.entry.displayName)
                    same.entry.displayName = e.displayName;
                same.values.strings += counts[i].strings;
                same.values.integers += counts[i].integers;
            }
        }
    }
    for (std::size_t b = 0; b < bundles.size(); ++b) {
        engines[b]->rewriteDeferred();
        const std::vector<ValueCounts>& counts = engines[b]->deferredCounts();
        for (std::size_t i = 0; i < counts.size(); ++i) {
            plan.renames[deferredTo[b][i]].values.strings += counts[i].strings;
            plan.renames[deferredTo[b][i]].values.integers += counts[i].integers;
        }
    }
    patchSideTexts(plan.renames, sides);
    return plan;
}

} // namespace brindlemark
