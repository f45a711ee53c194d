#include "core/objectdiff.h"

#include <array>

namespace brindlemark {

const char* tableName(TableSide side) {
    return side == TableSide::Standard ? "standard" : "custom";
}

bool sameFieldSlot(const Modification& a, const Modification& b) {
    return idsMatch(a.fieldId, b.fieldId) && a.hasLevels == b.hasLevels &&
           (!a.hasLevels || (a.level == b.level && a.dataColumn == b.dataColumn));
}

bool sameEntry(const Modification* a, const Modification* b) {
    if (!a || !b)
        return a == b;
    return a->sameValueAs(*b);
}

bool sameObject(const ObjectRecord* a, const ObjectRecord* b) {
    if (!a || !b)
        return a == b;
    if (a->baseId != b->baseId || a->newId != b->newId || a->setFlag != b->setFlag ||
        a->modificationCount() != b->modificationCount())
        return false;
    const std::array<const ObjectRecord*, 2> pair = {a, b};
    for (const FieldRow& row : alignFields(pair))
        if (!sameEntry(row[0], row[1]))
            return false;
    return true;
}

std::vector<FieldRow> alignFields(std::span<const ObjectRecord* const> records) {
    const std::size_t n = records.size();
    std::vector<std::size_t> at(n, 0);
    auto current = [&](std::size_t i) -> const Modification* {
        if (!records[i] || at[i] >= records[i]->modificationCount())
            return nullptr;
        return &records[i]->modifications()[at[i]];
    };
    std::vector<FieldRow> rows;
    for (;;) {
        const Modification* least = nullptr;
        for (std::size_t i = 0; i < n; ++i)
            if (const Modification* m = current(i); m && (!least || compareIds(m->fieldId, least->fieldId) < 0))
                least = m;
        if (!least)
            return rows;
        const ObjectId key = least->fieldId;
        // Every object's run of matching field ids, each entry put beside the entry of the same slot.
        const std::size_t first = rows.size();
        for (std::size_t i = 0; i < n; ++i) {
            for (const Modification* m = current(i); m && idsMatch(m->fieldId, key); m = current(i)) {
                ++at[i];
                std::size_t r = first;
                for (; r < rows.size(); ++r) {
                    if (rows[r][i])
                        continue;
                    const Modification* other = nullptr;
                    for (const Modification* e : rows[r])
                        if (e)
                            other = e;
                    if (sameFieldSlot(*other, *m))
                        break;
                }
                if (r == rows.size())
                    rows.emplace_back(n, nullptr);
                rows[r][i] = m;
            }
        }
    }
}

std::vector<ObjectRow> alignObjects(std::span<const ObjectTable* const> tables) {
    const std::size_t n = tables.size();
    std::vector<std::size_t> at(n, 0);
    auto current = [&](std::size_t i) -> const ObjectRecord* {
        if (!tables[i] || at[i] >= tables[i]->count())
            return nullptr;
        return &tables[i]->at(at[i]);
    };
    std::vector<ObjectRow> rows;
    for (;;) {
        const ObjectRecord* least = nullptr;
        for (std::size_t i = 0; i < n; ++i)
            if (const ObjectRecord* r = current(i);
                r && (!least || compareIds(r->effectiveId(), least->effectiveId()) < 0))
                least = r;
        if (!least)
            return rows;
        const ObjectId key = least->effectiveId();
        ObjectRow row(n, nullptr);
        for (std::size_t i = 0; i < n; ++i)
            if (const ObjectRecord* r = current(i); r && idsMatch(r->effectiveId(), key)) {
                row[i] = r;
                ++at[i];
            }
        rows.push_back(std::move(row));
    }
}

BundleDiff diffBundles(const ObjectBundle& a, const ObjectBundle& b) {
    BundleDiff diff;
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectBundle::Kind& ka = a.kind(k);
        const ObjectBundle::Kind& kb = b.kind(k);
        if (ka.present != 0 && kb.present != 0 && ka.file.version != kb.file.version)
            diff.versions.push_back({k, ka.file.version, kb.file.version});
        for (TableSide side : {TableSide::Standard, TableSide::Custom}) {
            auto table = [side](const ObjectBundle::Kind& kind) -> const ObjectTable* {
                if (kind.present == 0)
                    return nullptr;
                return side == TableSide::Standard ? &kind.file.standardTable : &kind.file.customTable;
            };
            const std::array<const ObjectTable*, 2> tables = {table(ka), table(kb)};
            for (const ObjectRow& row : alignObjects(tables)) {
                if (sameObject(row[0], row[1]))
                    continue;
                ObjectChange change{k, side, row[0], row[1], {}};
                if (row[0] && row[1]) {
                    const std::array<const ObjectRecord*, 2> pair = {row[0], row[1]};
                    for (const FieldRow& f : alignFields(pair))
                        if (!sameEntry(f[0], f[1]))
                            change.fields.push_back({f[0], f[1]});
                }
                diff.objects.push_back(std::move(change));
            }
        }
    }
    return diff;
}

} // namespace brindlemark
