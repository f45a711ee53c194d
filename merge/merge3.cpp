#include "merge/merge3.h"

#include <array>
#include <optional>

namespace brindlemark {

namespace {

enum class Pick { Ours, Theirs, Conflict };

// The three-way rule: a side that kept the base gives way to the other; two sides that agree need no choice.
Pick choose(bool oursKeptBase, bool theirsKeptBase, bool sidesAgree) {
    if (sidesAgree || theirsKeptBase)
        return Pick::Ours;
    if (oursKeptBase)
        return Pick::Theirs;
    return Pick::Conflict;
}

class Merger {
public:
    explicit Merger(MergeResult& result) : result_(result) {}

    // The merged number; a conflict keeps ours and is recorded with `conflict` as its template. Without a
    // base, sides that differ conflict.
    std::int32_t number(std::optional<std::int32_t> base, std::int32_t ours, std::int32_t theirs,
                        MergeConflict conflict) {
        const Pick pick = base ? choose(ours == *base, theirs == *base, ours == theirs)
                               : (ours == theirs ? Pick::Ours : Pick::Conflict);
        if (pick == Pick::Conflict) {
            conflict.baseNumber = base.value_or(0);
            conflict.oursNumber = ours;
            conflict.theirsNumber = theirs;
            result_.conflicts.push_back(conflict);
        }
        return pick == Pick::Theirs ? theirs : ours;
    }

    // The merged object, or none when it is removed.
    std::optional<ObjectRecord> object(ObjectKind kind, TableSide side, const ObjectRecord* base,
                                       const ObjectRecord* ours, const ObjectRecord* theirs) {
        const MergeConflict about{.kind = kind, .table = side, .base = base, .ours = ours, .theirs = theirs};
        const Pick pick = choose(sameObject(base, ours), sameObject(base, theirs), sameObject(ours, theirs));
        if (pick != Pick::Conflict)
            return copyOf(pick == Pick::Ours ? ours : theirs);
        if (!ours || !theirs) {
            MergeConflict conflict = about;
            conflict.topic = MergeConflict::Topic::Removal;
            result_.conflicts.push_back(conflict);
            return copyOf(ours);
        }
        // Both sides hold the object, changed differently (or added differently, with no base): field by field.
        ObjectRecord merged;
        merged.baseId = identifier(base ? &base->baseId : nullptr, ours->baseId, theirs->baseId, about,
                                   MergeConflict::Topic::BaseId);
        merged.newId =
            identifier(base ? &base->newId : nullptr, ours->newId, theirs->newId, about, MergeConflict::Topic::NewId);
        MergeConflict flag = about;
        flag.topic = MergeConflict::Topic::SetFlag;
        merged.setFlag =
            number(base ? std::optional(base->setFlag) : std::nullopt, ours->setFlag, theirs->setFlag, flag);
        const std::array<const ObjectRecord*, 3> records = {base, ours, theirs};
        for (const FieldRow& row : alignFields(records)) {
            const Pick field = choose(sameEntry(row[0], row[1]), sameEntry(row[0], row[2]), sameEntry(row[1], row[2]));
            if (field == Pick::Conflict) {
                MergeConflict conflict = about;
                conflict.topic = MergeConflict::Topic::Field;
                conflict.baseField = row[0];
                conflict.oursField = row[1];
                conflict.theirsField = row[2];
                result_.conflicts.push_back(conflict);
            }
            if (const Modification* taken = field == Pick::Theirs ? row[2] : row[1])
                merged.addOrReplace(*taken);
        }
        return merged;
    }

private:
    static std::optional<ObjectRecord> copyOf(const ObjectRecord* record) {
        if (!record)
            return std::nullopt;
        return *record;
    }

    // An identifier merged like a number; with no base, sides that differ conflict.
    ObjectId identifier(const ObjectId* base, ObjectId ours, ObjectId theirs, const MergeConflict& about,
                        MergeConflict::Topic topic) {
        const Pick pick = base ? choose(ours == *base, theirs == *base, ours == theirs)
                               : (ours == theirs ? Pick::Ours : Pick::Conflict);
        if (pick == Pick::Conflict) {
            MergeConflict conflict = about;
            conflict.topic = topic;
            result_.conflicts.push_back(conflict);
        }
        return pick == Pick::Theirs ? theirs : ours;
    }

    MergeResult& result_;
};

} // namespace

MergeResult mergeThreeWay(const ObjectBundle& base, const ObjectBundle& ours, const ObjectBundle& theirs) {
    MergeResult result;
    Merger merger(result);
    result.merged.version =
        merger.number(base.version, ours.version, theirs.version, {.topic = MergeConflict::Topic::BundleVersion});
    for (ObjectKind k : kAllObjectKinds) {
        const std::array<const ObjectBundle::Kind*, 3> kinds = {&base.kind(k), &ours.kind(k), &theirs.kind(k)};
        ObjectBundle::Kind& out = result.merged.kind(k);
        out.present = merger.number(kinds[0]->present, kinds[1]->present, kinds[2]->present,
                                    {.topic = MergeConflict::Topic::Presence, .kind = k});
        // A side that lacks the kind has no version to compare.
        std::array<std::optional<std::int32_t>, 3> versions{};
        for (std::size_t i = 0; i < 3; ++i)
            if (kinds[i]->present != 0)
                versions[i] = kinds[i]->file.version;
        if (versions[1] && versions[2])
            out.file.version = merger.number(versions[0], *versions[1], *versions[2],
                                             {.topic = MergeConflict::Topic::FileVersion, .kind = k});
        else
            out.file.version = versions[1].value_or(versions[2].value_or(versions[0].value_or(0)));
        for (TableSide side : {TableSide::Standard, TableSide::Custom}) {
            std::array<const ObjectTable*, 3> tables{};
            for (std::size_t i = 0; i < 3; ++i)
                if (kinds[i]->present != 0)
                    tables[i] =
                        side == TableSide::Standard ? &kinds[i]->file.standardTable : &kinds[i]->file.customTable;
            for (const ObjectRow& row : alignObjects(tables))
                if (std::optional<ObjectRecord> merged = merger.object(k, side, row[0], row[1], row[2]))
                    out.file.fileObject(std::move(*merged), MergePolicy::Glue, nullptr);
        }
        // Objects kept on a side that dropped the kind still need it written.
        const bool holdsObjects = !out.file.standardTable.empty() || !out.file.customTable.empty();
        if (out.present == 0 && holdsObjects)
            out.present = kinds[1]->present != 0 ? kinds[1]->present : kinds[2]->present;
    }
    return result;
}

} // namespace brindlemark
