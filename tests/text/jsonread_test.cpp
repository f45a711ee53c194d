// Object data as JSON, read and written in-process: the layout's rules, hand edits, and round trips.
#include "text/objectjson.h"

#include "tests/replace/bundlefixtures.h"
#include "tests/support/builder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>

namespace brindlemark {
namespace {

using namespace testing;
using nlohmann::json;

std::span<const std::uint8_t> bytesOfText(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The problems of reading `text`, one "path: message" a line ("message" alone for one without a path).
std::string problemsOf(std::string_view text, JsonBundle* out = nullptr) {
    JsonBundle read;
    std::vector<JsonProblem> problems;
    const bool ok = readBundleJson(bytesOfText(text), read, problems, [](const std::string&) {});
    EXPECT_EQ(ok, problems.empty());
    std::string lines;
    for (const JsonProblem& p : problems)
        lines += (lines.empty() ? "" : "\n") + (p.path.empty() ? "" : p.path + ": ") + p.message;
    if (out)
        *out = std::move(read);
    return lines;
}

JsonBundle readOk(std::string_view text) {
    JsonBundle read;
    EXPECT_EQ(problemsOf(text, &read), "");
    return read;
}

// The bundle read back from the JSON written of it.
ObjectBundle readBack(const ObjectBundle& bundle) {
    std::string text;
    writeBundleJson(bundle, [&text](std::string_view piece) { text += piece; });
    return readOk(text).bundle;
}

TEST(JsonRead, ReadsBackWhatItWroteOfEveryOddityByteForByte) {
    // Units of version 3 with set flags, a stray value before an unknown value type, a NaN with a payload, minus
    // zero, text that is not UTF-8 with a backslash, and identifier bytes that are not printable; abilities with
    // levels; an upgrades kind with presence flag 2 and no objects.
    Builder units;
    units.i32(3).u32(1).id("hfoo").id("").u32(1).i32(7).u32(4);
    units.id("ua1d").i32(2).f32bits(0x7fc00001).id("hfoo");
    units.id("ua1e").i32(1).f32bits(0x80000000).id("hfoo");
    units.id("XXXX").id("uhpm").i32(9).id("hfoo");
    units.id("unam").i32(3).str("Caf\xe9 \\ \xff").id("hfoo");
    units.u32(1)
        .id("hkni")
        .raw("h\x01\\\x7f")
        .u32(1)
        .i32(-2)
        .u32(1)
        .raw(std::string_view("u\0hp", 4))
        .i32(0)
        .i32(-5)
        .id("hkni");
    Builder abilities;
    abilities.i32(2).u32(0).u32(1).id("AHbz").id("A000").u32(2);
    abilities.id("Hbz1").i32(1).i32(2).i32(1).f32bits(0x3dcccccd).id("AHbz");
    abilities.id("anam").i32(3).i32(0).i32(0).str("\xd0\x91\xd1\x83\xd1\x80\xd1\x8f").id("AHbz");
    Builder bundle;
    bundle.i32(-3).i32(1).append(units.bytes).i32(0).i32(0).i32(0).i32(1).append(abilities.bytes).i32(0);
    bundle.i32(2).i32(2).u32(0).u32(0);
    ObjectBundle loaded;
    ASSERT_TRUE(loaded.loadBytes(bundle.bytes, "odd.w3o"));
    EXPECT_EQ(readBack(loaded).toBytes(), loaded.toBytes());
    ObjectBundle single;
    ASSERT_TRUE(single.loadObjectFileBytes(units.bytes, ObjectKind::Units, "odd.w3u"));
    EXPECT_EQ(readBack(single).objectFileBytes(ObjectKind::Units), units.bytes); // already in normal form
}

TEST(JsonRead, HandEditedJsonIsFiledAsLoadingFilesIt) {
    // Modifications out of order, a field twice, plain UTF-8, and everything derivable left out; the buffs leave
    // out what a dump would write as the default (the bundle's version too).
    const JsonBundle read = readOk(R"({"kinds": {"abilities": {"present": 1,
        "version": 2, "standard": [], "custom": [{"baseId": "AHbz", "newId": "A000", "modifications": [
        {"field": "anam", "type": "string", "value": "Буря"},
        {"field": "Hbz1", "level": 2, "type": "real", "value": 0.1},
        {"field": "Hbz1", "level": 1, "typeCode": 1, "bits": "0x40000000"},
        {"field": "alev", "type": "integer", "value": 1},
        {"field": "alev", "type": "integer", "value": 3}]}]},
        "buffs": {"custom": [{"baseId": "BHbd", "newId": "B000", "modifications": []}]}}})");

    Modification tenth;
    tenth.fieldId = id("Hbz1");
    tenth.valueType = ModValueType::Real;
    tenth.level = 2;
    tenth.realValue = 0.1f;
    Modification two = tenth;
    two.level = 1;
    two.realValue = 2.0f;
    std::vector<Modification> mods = {textField("anam", "Буря"), tenth, two, intField("alev", 1), intField("alev", 3)};
    for (Modification& m : mods)
        m.hasLevels = true;
    ObjectBundle expected;
    expected.version = 1;
    put(expected, ObjectKind::Abilities, makeObject("AHbz", "A000", mods));
    expected.kind(ObjectKind::Abilities).file.version = 2;
    put(expected, ObjectKind::Buffs, makeObject("BHbd", "B000", {}));
    expected.kind(ObjectKind::Buffs).file.version = 3;
    EXPECT_EQ(read.bundle.toBytes(), expected.toBytes());
}

TEST(JsonRead, RefusesJsonThatBreaksTheLayoutNamingThePlace) {
    const json valid = json::parse(R"({"version": 1, "kinds": {
        "units": {"present": 1, "version": 2, "standard": [], "custom": [{"baseId": "hfoo", "newId": "h000",
          "modifications": [{"field": "unam", "type": "string", "value": "Guard"},
                            {"field": "uhpm", "type": "integer", "value": 5}]}]},
        "abilities": {"present": 1, "version": 3, "hasLevels": true, "standard": [], "custom": [{"baseId": "AHbz",
          "newId": "A000", "setFlag": 1, "modifications": [
            {"field": "Hbz1", "level": 1, "column": 1, "type": "real", "value": 2.5}]}]}}})");
    const std::string unit = "$.kinds.units.custom[0]";
    const std::string storm = "$.kinds.abilities.custom[0].modifications[0]";
    struct Case {
        std::function<void(json&)> edit;
        std::string problem;
        std::function<void(std::string&)> editText = {}; // on the written text, for what a json cannot hold
    };
    const auto twice = [](std::string from, std::string to) {
        return [from, to](std::string& text) { text.replace(text.find(from), from.size(), to); };
    };
    auto units = [](json& doc) -> json& { return doc["kinds"]["units"]["custom"][0]; };
    auto hp = [units](json& doc) -> json& { return units(doc)["modifications"][1]; };
    auto blizzard = [](json& doc) -> json& { return doc["kinds"]["abilities"]["custom"][0]["modifications"][0]; };
    const std::vector<Case> cases = {
        {[&](json& d) { units(d)["modifications"][0]["level"] = 1; },
         unit + ".modifications[0].level: units have no level columns"},
        {[&](json& d) { blizzard(d)["level"] = "one"; },
         storm + ".level: must be an integer from -2147483648 to 2147483647"},
        {[&](json& d) { units(d)["baseId"] = "hfo"; },
         unit + ".baseId: must be an identifier of four bytes, each printable ASCII but the backslash, or \\xNN; "
                "not \"hfo\""},
        {[&](json& d) { units(d).erase("newId"); }, unit + ".newId: is missing"},
        {[&](json& d) {
             d.erase("version");
             d["kinds"]["units"].erase("present");
         },
         unit + ".modifications[0].field: is given more than once in its object; each name may stand once",
         twice(R"("field":"unam")", R"("field":"unam","field":"unam")")},
        {[&](json&) {}, "$.kinds.units: is given more than once in its object; each name may stand once",
         twice(R"("kinds":{)", R"("kinds":{"units":{},)")},
        {[&](json& d) { d["kinds"]["units"]["version"] = 4; }, "$.kinds.units.version: must be an integer from 0 to 3"},
        {[&](json& d) { d["kinds"]["unit"] = d["kinds"]["units"]; },
         "$.kinds.unit: is not a kind (units, items, destructables, doodads, abilities, buffs, upgrades)"},
        {[&](json& d) { d["kinds"] = json::array(); }, "$.kinds: must be an object"},
        {[&](json& d) { d["kinds"]["abilities"]["hasLevels"] = false; },
         "$.kinds.abilities.hasLevels: must be true for abilities"},
        {[&](json& d) { hp(d)["value"] = 1.5; },
         unit + ".modifications[1].value: must be an integer from -2147483648 to 2147483647"},
        {[&](json& d) { hp(d)["vaule"] = 1; }, unit + ".modifications[1].vaule: is not part of the layout"},
        {[&](json& d) { hp(d)["type"] = "float"; },
         unit + ".modifications[1].type: must be one of \"integer\", \"real\", \"unreal\", \"string\", \"unknown\""},
        {[&](json& d) { hp(d)["typeCode"] = 3; },
         unit + ".modifications[1].typeCode: is 3, but type \"integer\" has the code 0"},
        {[&](json& d) {
             hp(d)["type"] = "unknown";
             hp(d)["typeCode"] = 7;
             hp(d)["strayBefore"] = "XXXX";
         },
         unit + ".modifications[1].value: must be left out: a value of an unknown type has no value"},
        {[&](json& d) { blizzard(d)["bits"] = "0x40000000"; },
         storm + ".bits: is 0x40000000 (2), but value is 2.5; change both or leave one out"},
        {[&](json& d) { blizzard(d)["value"] = nullptr; },
         storm + ".value: is null, which needs bits to give the value"},
        {[&](json& d) { units(d)["setFlag"] = 1; },
         unit + ".setFlag: must be 0: object file version 2 keeps no set flags (version 3 does)"},
        {[&](json& d) { units(d)["effectiveId"] = "h001"; },
         unit + ".effectiveId: is h001, but baseId and newId make the object h000"},
        {[&](json& d) {
             units(d)["modifications"][0]["value"] = "a\\q";
             units(d)["modifications"][0]["escaped"] = true;
         },
         unit + ".modifications[0].value: has a backslash at character 1 that starts neither \\\\ nor \\xNN"},
        {[&](json& d) { units(d)["modifications"][0]["value"] = std::string("a\0b", 3); },
         unit + ".modifications[0].value: holds a NUL character, which ends a string value in the file"},
    };
    readOk(valid.dump());
    for (const Case& c : cases) {
        json doc = valid;
        c.edit(doc);
        std::string text = doc.dump();
        if (c.editText)
            c.editText(text);
        EXPECT_EQ(problemsOf(text), c.problem);
    }
}

TEST(JsonRead, RefusesHostileInputNamingThePlaceInShortMessages) {
    const auto repeat = [](std::string_view piece, std::size_t times) {
        std::string text;
        for (std::size_t i = 0; i < times; ++i)
            text += piece;
        return text;
    };
    const auto nested = [&](std::size_t depth) { // "kinds" holds arrays: depth counts the root object too
        return R"({"kinds": )" + repeat("[", depth - 1) + repeat("]", depth - 1) + "}";
    };
    const std::string huge(10'000'000, 'k');
    const std::string hugeShown = std::string(64, 'k') + "... (10000000 bytes)";
    const std::string mod = "$.kinds.units.custom[0].modifications[0]";
    const auto unitWith = [](const std::string& members) {
        return R"({"kinds": {"units": {"custom": [{"baseId": "hfoo", "newId": "h000", "modifications": [{"field": )"
               R"("unam", )" +
               members + "}]}]}}}";
    };
    struct Case {
        std::string text;
        std::string problems;
    };
    const std::vector<Case> cases = {
        // numbers no double holds, wherever they stand
        {R"({"version": 1e400, "kinds": {}})", "$.version: is a number beyond the range of a double"},
        {unitWith(R"("type": "real", "value": -1e999)"), mod + ".value: is a number beyond the range of a double"},
        {R"({"kinds": {"units": {"present": 1)" + std::string(400, '0') + "}}}",
         "$.kinds.units.present: is a number beyond the range of a double"},
        {unitWith(R"("type": "real", "value": 1e39)"),
         mod + ".value: is beyond the range of a single-precision number"},
        // depth: 64 levels are read, the 65th is refused where it starts, however deep the input goes
        {nested(64), "$.kinds: must be an object"},
        {nested(65), "$.kinds" + repeat("[0]", 63) + ": is nested deeper than 64 levels"},
        {nested(100'000), "$.kinds" + repeat("[0]", 63) + ": is nested deeper than 64 levels"},
        // a name given twice, also a long one
        {R"({"kinds": {}, "kinds": {}})", "$.kinds: is given more than once in its object; each name may stand once"},
        {"{\"" + huge + "\": 1, \"" + huge + "\": 2, \"kinds\": {}}",
         "$[\"" + hugeShown + "\"]: is given more than once in its object; each name may stand once"},
        // huge names and strings are quoted in short
        {"{\"" + huge + "\": 1, \"kinds\": {}}", "$[\"" + hugeShown + "\"]: is not part of the layout"},
        {R"({"kinds": {"units": {"custom": [{"baseId": ")" + huge + R"(", "newId": "h000", "modifications": []}]}}})",
         "$.kinds.units.custom[0].baseId: must be an identifier of four bytes, each printable ASCII but the "
         "backslash, or \\xNN; not \"" +
             hugeShown + "\""},
        {unitWith(R"("type": "string", "value": ")" + huge + "\""), mod + ".value: is longer than 31997 bytes"},
        // text that is not UTF-8 is not JSON; the token it stopped in is quoted in short, its bytes escaped
        {"{\"kinds\": {\"\xc3\x28\": 1}}", "not JSON, at byte 14: parse error at line 1, column 14: syntax error "
                                           "while parsing object key - invalid string: ill-formed UTF-8 byte; last "
                                           "read: '\"\\xc3('; expected string literal"},
        {"{\"kinds\": \"" + huge + "\xff\"}",
         "not JSON, at byte 10000012: parse error at line 1, column 10000012: syntax error while parsing value - "
         "invalid string: ill-formed UTF-8 byte; last read: '\"" +
             std::string(63, 'k') + "... (10000002 bytes)'"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(problemsOf(c.text), c.problems) << c.text.substr(0, 80);
}

} // namespace
} // namespace brindlemark
