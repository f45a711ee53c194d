// Writes the seed corpus of the bundle fuzz target: small hand-built bundles of every kind, with and without
// level columns, all value types, object file versions 0 to 3, the cases that loading files and merges
// differently (duplicates, empty objects, sections swapped), and damaged files that must be refused; and objects
// alone, behind one byte that says how to read them (level columns, version), for the comparison of the ways a
// load reads objects.
// Usage: make_seeds FOLDER
#include "tests/support/builder.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

using brindlemark::testing::Builder;
using brindlemark::testing::Bytes;

enum Kind { Units, Items, Destructables, Doodads, Abilities, Buffs, Upgrades, KindCount };

bool hasLevels(int kind) {
    return kind == Doodads || kind == Abilities || kind == Upgrades;
}

struct Mod {
    std::string_view field;
    std::int32_t type;        // 0 integer, 1 real, 2 unreal, 3 string
    std::uint32_t number = 0; // an integer, or the bits of a real
    std::string text;
    std::int32_t level = 0;
    std::int32_t column = 0;
};

struct Object {
    std::string_view baseId;
    std::string_view newId; // empty for a modified standard object
    std::vector<Mod> mods;
    std::int32_t setFlag = 0;
};

// One object file: its version and the objects of its two sections, written as they are given.
Bytes objectFile(int kind, std::int32_t version, const std::vector<Object>& first, const std::vector<Object>& second) {
    Builder b;
    b.i32(version);
    for (const std::vector<Object>* section : {&first, &second}) {
        b.u32(static_cast<std::uint32_t>(section->size()));
        for (const Object& o : *section) {
            b.id(o.baseId).id(o.newId);
            if (version >= 3)
                b.u32(1).i32(o.setFlag);
            b.u32(static_cast<std::uint32_t>(o.mods.size()));
            for (const Mod& m : o.mods) {
                b.id(m.field).i32(m.type);
                if (hasLevels(kind))
                    b.i32(m.level).i32(m.column);
                if (m.type == 3)
                    b.str(m.text);
                else
                    b.u32(m.number);
                b.id(o.baseId);
            }
        }
    }
    return b.bytes;
}

struct KindFile {
    int kind;
    Bytes file;
    std::int32_t flag = 1;
};

Bytes bundle(std::int32_t version, const std::vector<KindFile>& files) {
    Builder b;
    b.i32(version);
    for (int k = 0; k < KindCount; ++k) {
        const KindFile* found = nullptr;
        for (const KindFile& f : files)
            if (f.kind == k)
                found = &f;
        if (found)
            b.i32(found->flag).append(found->file);
        else
            b.i32(0);
    }
    return b.bytes;
}

Mod integer(std::string_view field, std::int32_t value, std::int32_t level = 0, std::int32_t column = 0) {
    return {field, 0, static_cast<std::uint32_t>(value), {}, level, column};
}
Mod real(std::string_view field, std::uint32_t bits, std::int32_t level = 0, std::int32_t column = 0) {
    return {field, 1, bits, {}, level, column};
}
Mod unreal(std::string_view field, std::uint32_t bits, std::int32_t level = 0, std::int32_t column = 0) {
    return {field, 2, bits, {}, level, column};
}
Mod text(std::string_view field, std::string value, std::int32_t level = 0, std::int32_t column = 0) {
    return {field, 3, 0, std::move(value), level, column};
}

Bytes unitsFile(std::int32_t version) {
    return objectFile(Units, version,
                      {{"hfoo", "", {text("unam", "Footman"), integer("uhpm", 250), real("umvs", 0x43870000)}},
                       {"hpea", "", {unreal("ua1c", 0x3fc00000), integer("ugol", -5)}}},
                      {{"hfoo", "h000", {text("unam", "Guard"), text("utip", "")}},
                       {"hkni", "h001", {integer("uhpm", 900), text("upro", "Hero\\Knight\\Knight.mdl")}}});
}

Bytes abilitiesFile(std::int32_t version) {
    return objectFile(
        Abilities, version, {{"AHbz", "", {unreal("Hbz1", 0x40000000, 1, 1), unreal("Hbz1", 0x40400000, 2, 1)}}},
        {{"AHbz",
          "A000",
          {text("anam", "Storm"), integer("alev", 3), real("acdn", 0x41200000, 1), real("acdn", 0x41100000, 2),
           real("acdn", 0x41000000, 3), text("atp1", "Level 1", 1), integer("Hbz2", 7, 2, 2)},
          1},
         {"AHhb", "A001", {text("anam", "Heal \xe9\xff (not UTF-8)")}}});
}

Bytes doodadsFile() {
    return objectFile(Doodads, 2, {{"ZPsh", "", {real("dvr1", 0x3f800000, 1, 0), integer("dvar", 2)}}},
                      {{"ZPsh", "D000", {text("dnam", "Shrub"), unreal("dmis", 0x3f000000, 2, 0)}}});
}

Bytes upgradesFile() {
    return objectFile(Upgrades, 2, {{"Rhme", "", {integer("glvl", 3), integer("gba1", 10, 1)}}},
                      {{"Rhme", "R000", {text("gnam", "Forged Swords", 1), real("gmo1", 0x3e800000, 2, 1)}}});
}

Bytes simpleFile(int kind, std::int32_t version, std::string_view base, std::string_view custom) {
    return objectFile(kind, version, {{base, "", {integer("xxx1", 1)}}},
                      {{base, custom, {text("xnam", "Name"), real("xrea", 0xbf800000)}}});
}

Bytes allKinds() {
    return bundle(2, {{Units, unitsFile(2)},
                      {Items, simpleFile(Items, 3, "ratf", "I000")},
                      {Destructables, simpleFile(Destructables, 2, "LTlt", "B000")},
                      {Doodads, doodadsFile()},
                      {Abilities, abilitiesFile(3)},
                      {Buffs, simpleFile(Buffs, 3, "Bbak", "B001")},
                      {Upgrades, upgradesFile()}});
}

// Objects with nothing around them, as the fuzz target reads them one after another: first a byte with level
// columns in bit 0 and the object file version in bits 1 and 2.
Bytes objectsAlone(int kind, std::int32_t version, const std::vector<Object>& objects) {
    const Bytes file = objectFile(kind, version, objects, {});
    Bytes bytes{static_cast<std::uint8_t>((hasLevels(kind) ? 1 : 0) | version << 1)};
    bytes.insert(bytes.end(), file.begin() + 8, file.end() - 4); // without the header and the second section
    return bytes;
}

Bytes cut(const Bytes& bytes, std::size_t size) {
    return Bytes(bytes.begin(), bytes.begin() + size);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const fs::path folder(argv[1]);
    std::error_code ec;
    fs::create_directories(folder, ec);

    std::vector<std::pair<std::string, Bytes>> seeds;
    seeds.push_back({"empty", bundle(1, {})});
    seeds.push_back({"units-v2", bundle(1, {{Units, unitsFile(2)}})});
    seeds.push_back({"units-v0", bundle(1, {{Units, unitsFile(0)}})});
    seeds.push_back({"items-v1-flag2", bundle(3, {{Items, simpleFile(Items, 1, "ratf", "I000"), 2}})});
    seeds.push_back({"abilities-v3", bundle(2, {{Abilities, abilitiesFile(3)}})});
    seeds.push_back({"abilities-v2", bundle(2, {{Abilities, abilitiesFile(2)}})});
    seeds.push_back({"doodads-upgrades", bundle(2, {{Doodads, doodadsFile()}, {Upgrades, upgradesFile()}})});
    seeds.push_back({"all-kinds", allKinds()});

    // Cases that loading resolves: custom objects in the first section and standard ones in the second,
    // identifiers that match only without regard to case, a new id equal to the base id, a repeated field,
    // objects without modifications, long strings.
    const std::string longText(1000, 'x');
    seeds.push_back({"refiled", bundle(1, {{Units, objectFile(Units, 2,
                                                              {{"hfoo", "B000", {integer("uhpm", 1)}},
                                                               {"hfoo", "a000", {integer("uhpm", 2)}},
                                                               {"hkni", "hkni", {integer("uhpm", 3)}},
                                                               {"hpea", "", {}}},
                                                              {{"hfoo", "", {integer("uhpm", 4), integer("UHPM", 5)}},
                                                               {"hfoo", "A001", {text("unam", longText)}},
                                                               {"Hrif", "hRIF", {integer("uhpm", 6)}},
                                                               {"hmtm", "h002", {}}})}})});
    seeds.push_back({"duplicates-levels",
                     bundle(1, {{Abilities, objectFile(Abilities, 3, {},
                                                       {{"AHbz", "A000", {integer("alev", 1), integer("alev", 2)}},
                                                        {"AHtb", "a000", {integer("alev", 3, 1), text("anam", "")}},
                                                        {"AHtb", "A000", {integer("alev", 4, 1, 1)}}})}})});

    // Objects alone, their modifications out of order: fields shuffled, level columns repeated and interleaved.
    seeds.push_back({"objects-abilities-shuffled",
                     objectsAlone(Abilities, 3,
                                  {{"AHbz",
                                    "A000",
                                    {real("acdn", 0x41200000, 2), text("anam", "Storm"), real("acdn", 0x41100000, 1),
                                     integer("alev", 3), real("acdn", 0x41000000, 2), integer("Hbz2", 7, 2, 2),
                                     text("atp1", "Level 1", 1), integer("Hbz2", 8, 2, 1), integer("Hbz2", 9, 2, 2)},
                                    1},
                                   {"AHhb", "A001", {text("anam", "Heal"), text("ANAM", "Heal again")}}})});
    seeds.push_back(
        {"objects-units-shuffled",
         objectsAlone(Units, 2,
                      {{"hfoo", "h000", {text("utip", ""), integer("uhpm", 250), text("unam", "Guard")}},
                       {"hpea", "", {integer("ugol", -5), unreal("ua1c", 0x3fc00000), integer("ugol", 7)}}})});

    // Damaged files, refused by loading: cut inside a header, a string, a count and an end marker; an
    // unsupported object file version; a count larger than the file can hold; a set count other than one.
    const Bytes whole = allKinds();
    for (std::size_t size : {std::size_t(2), std::size_t(10), std::size_t(45), whole.size() / 2, whole.size() - 1})
        seeds.push_back({"cut-" + std::to_string(size), cut(whole, size)});
    seeds.push_back({"version-4", bundle(1, {{Items, Builder().i32(4).u32(0).u32(0).bytes}})});
    seeds.push_back({"count-too-large", bundle(1, {{Buffs, Builder().i32(2).u32(0x10000000).u32(0).bytes}})});
    seeds.push_back(
        {"two-sets",
         bundle(1, {{Buffs, Builder().i32(3).u32(1).id("Bbak").id("").u32(2).i32(0).u32(0).u32(0).bytes}})});
    const Bytes longString = bundle(1, {{Units, objectFile(Units, 2, {{"hfoo", "", {text("utub", longText)}}}, {})}});
    seeds.push_back({"cut-in-string", cut(longString, longString.size() - 500)});

    for (const auto& [name, bytes] : seeds) {
        const fs::path path = folder / (name + ".w3o");
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "%s: cannot write\n", path.string().c_str());
            return 1;
        }
    }
    std::printf("wrote %zu seeds to %s\n", seeds.size(), folder.string().c_str());
    return 0;
}
