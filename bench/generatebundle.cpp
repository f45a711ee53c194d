#include "bench/generatebundle.h"

#include "core/fileio.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace brindlemark::bench {

namespace {

// A small generator with fixed output on every platform (unlike the standard distributions).
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() { // splitmix64
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // A number in [0, n).
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
    // A number in [lo, hi].
    std::size_t between(std::size_t lo, std::size_t hi) { return lo + below(hi - lo + 1); }
    bool chance(unsigned percent) { return below(100) < percent; }

private:
    std::uint64_t state_;
};

struct KindPlan {
    ObjectKind kind;
    unsigned share;       // percent of the objects
    std::int32_t version; // object file version
    char standardPrefix;  // first character of the standard ids
    char customPrefix;    // first character of the custom ids
    char fieldPrefix;     // first character of the field ids
    unsigned weight;      // relative number of modifications per object
};

constexpr std::array<KindPlan, kObjectKindCount> kPlans = {{
    {ObjectKind::Units, 25, 2, 'h', 'h', 'u', 10},
    {ObjectKind::Items, 10, 3, 'r', 'I', 'i', 6},
    {ObjectKind::Destructables, 5, 2, 'L', 'B', 'b', 5},
    {ObjectKind::Doodads, 8, 2, 'Z', 'D', 'd', 5},
    {ObjectKind::Abilities, 30, 3, 'A', 'A', 'a', 16},
    {ObjectKind::Buffs, 10, 3, 'B', 'B', 'f', 3},
    {ObjectKind::Upgrades, 12, 2, 'R', 'R', 'g', 12},
}};

const char kBase36[] = "0123456789abcdefghijklmnopqrstuvwxyz";

// Standard ids are the prefix and three lower-case letters; custom ids the prefix, a digit and two more base-36
// characters in upper case. The two never match, even without regard to case.
ObjectId standardId(char prefix, std::size_t index) {
    char text[4] = {prefix, char('a' + index / 676 % 26), char('a' + index / 26 % 26), char('a' + index % 26)};
    return ObjectId::fromText(std::string_view(text, 4));
}

ObjectId customId(char prefix, std::size_t index) {
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; };
    char text[4] = {prefix, char('0' + index / 1296 % 10), upper(kBase36[index / 36 % 36]), upper(kBase36[index % 36])};
    return ObjectId::fromText(std::string_view(text, 4));
}

ObjectId fieldId(char prefix, std::size_t index) {
    char text[4] = {prefix, kBase36[index / 1296 % 36], kBase36[index / 36 % 36], kBase36[index % 36]};
    return ObjectId::fromText(std::string_view(text, 4));
}

constexpr std::string_view kWords[] = {
    "Footman", "of",       "the",     "Storm", "Guard",   "Fire",   "frost",  "damage",    "Deals",
    "to",      "nearby",   "enemy",   "units", "Level",   "Arcane", "Shield", "increases", "armor",
    "by",      "seconds",  "Summons", "a",     "Spirit",  "Wolf",   "Heals",  "allied",    "Hero",
    "mana",    "cooldown", "attack",  "speed", "Ancient", "Tower",  "Orb",    "Blade",     "Ranger"};
constexpr std::string_view kFolders[] = {
    "Units\\Human\\",     "Units\\Orc\\",     "Abilities\\Spells\\Human\\", "ReplaceableTextures\\CommandButtons\\",
    "Doodads\\Terrain\\", "war3mapImported\\"};
constexpr std::string_view kCyrillic = "\xd0\x9c\xd0\xb5\xd1\x87\xd0\xbd\xd0\xb8\xd0\xba "; // "Мечник "

void appendWords(std::string& text, Random& random, std::size_t length) {
    while (text.size() < length) {
        if (random.chance(3))
            text += "|cffffcc00";
        if (random.chance(2))
            text += kCyrillic;
        text += kWords[random.below(std::size(kWords))];
        text += random.chance(8) ? "|n" : " ";
    }
    text.resize(length);
    // A cut in the middle of a multi-byte character would leave a broken one at the end; keep the text ASCII there.
    while (!text.empty() && static_cast<unsigned char>(text.back()) >= 0x80)
        text.back() = '.';
}

// Strings of a map: mostly names and short values, a good share of model and icon paths, some long tooltips.
std::string stringValue(Random& random) {
    const unsigned roll = static_cast<unsigned>(random.below(100));
    std::string text;
    if (roll < 55) {
        appendWords(text, random, random.between(3, 40));
    } else if (roll < 90) {
        text = kFolders[random.below(std::size(kFolders))];
        appendWords(text, random, random.between(40, 160));
        text += ".mdl";
    } else {
        appendWords(text, random, random.between(200, random.chance(10) ? 1000 : 800));
    }
    return text;
}

// Strings of real maps' object files: names, short numbers lists and field values, some paths, few tooltips.
std::string shortStringValue(Random& random) {
    const unsigned roll = static_cast<unsigned>(random.below(100));
    std::string text;
    if (roll < 60) {
        appendWords(text, random, random.between(1, 12));
    } else if (roll < 90) {
        appendWords(text, random, random.between(12, 24));
    } else if (roll < 99) {
        text = kFolders[random.below(std::size(kFolders))];
        appendWords(text, random, random.between(24, 60));
        text += ".mdl";
    } else {
        appendWords(text, random, random.between(60, 300));
    }
    return text;
}

Modification makeModification(const BundleShape& shape, Random& random, ObjectId field, bool hasLevels,
                              std::int32_t level, std::int32_t column) {
    Modification m;
    m.fieldId = field;
    m.hasLevels = hasLevels;
    if (hasLevels) {
        m.level = level;
        m.dataColumn = column;
    }
    const unsigned roll = static_cast<unsigned>(random.below(100));
    if (roll < shape.integerPercent) {
        m.valueType = ModValueType::Integer;
        m.intValue = static_cast<std::int32_t>(random.below(2000)) - 100;
    } else if (roll < shape.integerPercent + shape.realPercent) {
        m.valueType =
            roll < shape.integerPercent + (shape.realPercent + 1) / 2 ? ModValueType::Real : ModValueType::Unreal;
        m.realValue = static_cast<float>(random.below(100000)) / 64.0f;
    } else {
        m.valueType = ModValueType::String;
        m.stringValue = shape.shortStrings ? shortStringValue(random) : stringValue(random);
    }
    return m;
}

// Gives each of `weights.size()` objects at least one modification and `total` in all, in proportion to the
// weights.
std::vector<std::size_t> spread(const std::vector<double>& weights, std::size_t total) {
    std::vector<std::size_t> counts(weights.size(), 1);
    if (weights.empty() || total <= weights.size())
        return counts;
    double sum = 0;
    for (double w : weights)
        sum += w;
    const std::size_t extra = total - weights.size();
    std::size_t given = weights.size();
    for (std::size_t i = 0; i < weights.size(); ++i) {
        const auto share = static_cast<std::size_t>(static_cast<double>(extra) * weights[i] / sum);
        counts[i] += share;
        given += share;
    }
    for (std::size_t i = 0; given < total; i = (i + 1) % counts.size(), ++given)
        ++counts[i];
    return counts;
}

// Writes about `count` identifiers of `ids` into the object's string values, each behind a comma or a space at
// the end of a value, as lists and tooltips hold them.
void addReferences(ObjectRecord& record, ObjectId listField, bool hasLevels, const std::vector<ObjectId>& ids,
                   std::size_t count, Random& random) {
    std::vector<std::size_t> strings;
    for (std::size_t i = 0; i < record.modificationCount(); ++i)
        if (record.modifications()[i].valueType == ModValueType::String)
            strings.push_back(i);
    if (strings.empty()) {
        Modification list;
        list.fieldId = listField;
        list.hasLevels = hasLevels;
        list.valueType = ModValueType::String;
        record.addOrReplace(std::move(list));
        for (std::size_t i = 0; i < record.modificationCount(); ++i)
            if (record.modifications()[i].fieldId == listField)
                strings.push_back(i);
    }
    for (std::size_t n = 0; n < count; ++n) {
        std::string& text = record.modificationAt(strings[random.below(strings.size())]).stringValue;
        if (text.size() + 5 > kMaxStringBytes)
            continue;
        if (!text.empty())
            text += random.chance(50) ? ',' : ' ';
        text += ids[random.below(ids.size())].raw();
    }
}

} // namespace

BundleShape realMapShape() {
    BundleShape shape;
    shape.objectCount = 50000;
    shape.modificationCount = 1250000;
    shape.integerPercent = 35;
    shape.realPercent = 29;
    shape.minPerObject = 10;
    shape.maxPerObject = 40;
    shape.shortStrings = true;
    shape.editorOrder = true;
    return shape;
}

std::vector<std::uint8_t> editorBytes(const ObjectBundle& bundle, std::uint64_t seed) {
    Random random(seed ^ 0xed170f);
    ByteWriter out;
    out.writeI32(bundle.version);
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectBundle::Kind& kind = bundle.kind(k);
        out.writeI32(kind.present);
        if (kind.present == 0)
            continue;
        const ObjectFile& file = kind.file;
        out.writeI32(file.version);
        for (const ObjectTable* table : {&file.standardTable, &file.customTable}) {
            out.writeU32(static_cast<std::uint32_t>(table->count()));
            for (const ObjectRecord& record : table->objects()) {
                out.writeId(record.baseId.isZero() ? record.newId : record.baseId);
                out.writeId(record.newId);
                if (file.version >= 3) {
                    out.writeU32(1);
                    out.writeI32(record.setFlag);
                }
                const std::vector<Modification>& mods = record.modifications();
                // The runs of one field, shuffled.
                std::vector<std::pair<std::size_t, std::size_t>> runs;
                for (std::size_t i = 0; i < mods.size(); ++i)
                    if (runs.empty() || !(mods[runs.back().first].fieldId == mods[i].fieldId))
                        runs.push_back({i, i + 1});
                    else
                        runs.back().second = i + 1;
                for (std::size_t i = runs.size(); i > 1; --i)
                    std::swap(runs[i - 1], runs[random.below(i)]);
                const ObjectId marker = random.chance(40) ? ObjectId{} : record.newId;
                out.writeU32(static_cast<std::uint32_t>(mods.size()));
                for (const auto& [first, last] : runs)
                    for (std::size_t i = first; i < last; ++i)
                        mods[i].write(out, marker);
            }
        }
    }
    return std::move(out.buffer());
}

bool saveGenerated(const ObjectBundle& bundle, const BundleShape& shape, const std::filesystem::path& path,
                   std::string& error) {
    if (!shape.editorOrder)
        return bundle.save(path, error);
    const std::vector<std::uint8_t> bytes = editorBytes(bundle, shape.seed);
    return saveBytes(path, bytes.data(), bytes.size(), error);
}

void generateBundle(const BundleShape& shape, ObjectBundle& out) {
    Random random(shape.seed);
    out.version = 1;

    // Objects per kind, then modifications per object.
    std::array<std::size_t, kObjectKindCount> objectsPerKind{};
    std::size_t assigned = 0;
    for (std::size_t k = 0; k < kPlans.size(); ++k) {
        objectsPerKind[k] = shape.objectCount * kPlans[k].share / 100;
        assigned += objectsPerKind[k];
    }
    objectsPerKind[4] += shape.objectCount - assigned; // the rest are abilities
    std::vector<double> weights;
    for (std::size_t k = 0; k < kPlans.size(); ++k)
        for (std::size_t i = 0; i < objectsPerKind[k]; ++i)
            weights.push_back(shape.maxPerObject > 0
                                  ? static_cast<double>(random.between(shape.minPerObject, shape.maxPerObject))
                                  : kPlans[k].weight * (0.2 + static_cast<double>(random.below(1600)) / 1000.0));
    const std::vector<std::size_t> modsPerObject = spread(weights, shape.modificationCount);

    std::size_t objectIndex = 0;
    for (std::size_t k = 0; k < kPlans.size(); ++k) {
        const KindPlan& plan = kPlans[k];
        ObjectBundle::Kind& kind = out.kind(plan.kind);
        kind.present = 1;
        kind.file.version = plan.version;
        const bool levels = kind.file.hasLevels;
        const std::size_t standardCount = objectsPerKind[k] * 2 / 5;
        for (std::size_t i = 0; i < objectsPerKind[k]; ++i, ++objectIndex) {
            ObjectRecord record;
            const bool standard = i < standardCount;
            const std::size_t baseIndex = standard ? i : random.below(std::max<std::size_t>(standardCount, 1));
            record.baseId = standardId(plan.standardPrefix, baseIndex);
            if (!standard)
                record.newId = customId(plan.customPrefix, i - standardCount);
            std::size_t left = modsPerObject[objectIndex];
            for (std::size_t field = 0; left > 0; ++field) {
                const ObjectId id = fieldId(plan.fieldPrefix, field);
                // A field of a kind with levels has a value per level (up to four), in one data column.
                const std::size_t levelCount = levels ? std::min(left, random.between(1, 4)) : 1;
                const auto column = static_cast<std::int32_t>(field % 4);
                for (std::size_t level = 1; level <= levelCount; ++level, --left)
                    record.addOrReplace(
                        makeModification(shape, random, id, levels, static_cast<std::int32_t>(level), column));
            }
            ObjectTable& table = standard ? kind.file.standardTable : kind.file.customTable;
            table.add(std::move(record), MergePolicy::Glue);
        }
    }
    if (shape.referencesPerObject == 0)
        return;
    std::vector<ObjectId> ids;
    for (ObjectKind k : kAllObjectKinds)
        for (const ObjectTable* table : {&out.kind(k).file.standardTable, &out.kind(k).file.customTable})
            for (const ObjectRecord& record : table->objects())
                ids.push_back(record.effectiveId());
    Random references(shape.seed ^ 0x5eed);
    for (std::size_t k = 0; k < kPlans.size(); ++k) {
        ObjectFile& file = out.kind(kPlans[k].kind).file;
        for (ObjectTable* table : {&file.standardTable, &file.customTable})
            for (std::size_t i = 0; i < table->count(); ++i)
                addReferences(table->at(i), fieldId(kPlans[k].fieldPrefix, 36 * 36 * 36 - 1), file.hasLevels, ids,
                              references.between(shape.referencesPerObject / 2, shape.referencesPerObject * 3 / 2),
                              references);
    }
}

} // namespace brindlemark::bench
