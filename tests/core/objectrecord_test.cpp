#include "core/objectrecord.h"

#include "core/recordplacer.h"

#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

namespace brindlemark {
namespace {

using testing::Builder;
using testing::Bytes;
using testing::id;

Modification intMod(const char* field, std::int32_t value, std::int32_t level = 0, std::int32_t column = 0,
                    bool levels = false) {
    Modification m;
    m.fieldId = id(field);
    m.valueType = ModValueType::Integer;
    m.intValue = value;
    m.hasLevels = levels;
    m.level = level;
    m.dataColumn = column;
    return m;
}

Modification levelMod(const char* field, std::int32_t level, std::int32_t column, std::int32_t value) {
    return intMod(field, value, level, column, true);
}

std::vector<std::string> fieldOrder(const ObjectRecord& r) {
    std::vector<std::string> out;
    for (const Modification& m : r.modifications())
        out.push_back(m.fieldId.text());
    return out;
}

Bytes writeObject(const ObjectRecord& r, std::int32_t version) {
    ByteWriter out;
    r.write(out, version);
    return out.buffer();
}

// Reads the object from bytes that are kept alive, as loading a file does (modifications held as those bytes),
// and checks that reading it from passing bytes (one Modification at a time) gives the same object, error and
// written bytes.
bool readObject(const Bytes& bytes, bool levels, std::int32_t version, ObjectRecord& out, ReadError* error = nullptr,
                std::size_t* consumed = nullptr) {
    const auto kept = std::make_shared<Bytes>(bytes);
    ByteReader in(*kept);
    in.keepAlive = kept;
    const bool ok = out.read(in, levels, version);
    ByteReader plainIn(bytes);
    ObjectRecord plain;
    EXPECT_EQ(plain.read(plainIn, levels, version), ok);
    EXPECT_EQ(plainIn.offset(), in.offset());
    EXPECT_EQ(plainIn.error().message, in.error().message);
    EXPECT_EQ(plainIn.error().offset, in.error().offset);
    // And as a large load reads it, sorting on another thread.
    ByteReader placedIn(*kept);
    placedIn.keepAlive = kept;
    RecordPlacer placer;
    placedIn.placer = &placer;
    ObjectRecord placed;
    EXPECT_EQ(placed.read(placedIn, levels, version), ok);
    placer.finish();
    // And as a load that only counts reads it, sorting the modifications when first walked.
    ByteReader countingIn(*kept);
    countingIn.keepAlive = kept;
    countingIn.sortWhenUsed = true;
    ObjectRecord counted;
    EXPECT_EQ(counted.read(countingIn, levels, version), ok);
    if (ok) {
        EXPECT_EQ(out.modificationCount(), plain.modificationCount());
        EXPECT_EQ(counted.modificationCount(), plain.modificationCount());
        EXPECT_EQ(writeObject(out, version), writeObject(plain, version));
        EXPECT_EQ(placed.modificationCount(), plain.modificationCount());
        EXPECT_EQ(writeObject(placed, version), writeObject(plain, version));
        const ObjectRecord copied = counted; // a copy sorts on its own
        // Walking the values sorts them as writing does.
        std::vector<std::string> walked;
        counted.visitValues([&](std::size_t, const ObjectRecord::ValueView& v) {
            walked.push_back(std::to_string(v.intValue) + std::string(v.text));
        });
        std::vector<std::string> expected;
        for (const Modification& m : plain.modifications())
            expected.push_back(std::to_string(m.valueType == ModValueType::Integer ? m.intValue : 0) +
                               (m.valueType == ModValueType::String ? m.stringValue : std::string()));
        EXPECT_EQ(walked, expected);
        EXPECT_EQ(writeObject(copied, version), writeObject(plain, version));
        EXPECT_EQ(writeObject(counted, version), writeObject(plain, version));
    }
    if (error)
        *error = in.error();
    if (consumed)
        *consumed = in.offset();
    return ok;
}

TEST(ObjectRecord, ModificationsAreHeldInCaseInsensitiveFieldOrder) {
    // pqr, abc, Mno in the file come out as abc, Mno, pqr.
    const Bytes file = Builder()
                           .id("hfoo")
                           .id("h000")
                           .u32(3)
                           .id("pqr0")
                           .i32(0)
                           .i32(1)
                           .id("hfoo")
                           .id("abc0")
                           .i32(0)
                           .i32(2)
                           .id("hfoo")
                           .id("Mno0")
                           .i32(0)
                           .i32(3)
                           .id("hfoo")
                           .bytes;
    ObjectRecord r;
    ASSERT_TRUE(readObject(file, false, 2, r));
    EXPECT_EQ(fieldOrder(r), (std::vector<std::string>{"abc0", "Mno0", "pqr0"}));
    const Bytes written = writeObject(r, 2);
    ObjectRecord again;
    ASSERT_TRUE(readObject(written, false, 2, again));
    EXPECT_EQ(fieldOrder(again), fieldOrder(r));
    EXPECT_EQ(written.size(), file.size());
}

TEST(ObjectRecord, StreamedWritingKeepsLargeAndSmallObjectsInFileOrder) {
    // A large object's stored bytes bypass the writer's buffer; the small ones around it must not overtake it.
    Builder file;
    for (int object = 0; object < 3; ++object) {
        const int count = object == 1 ? 6000 : 2;
        file.id("hfoo").id("h00" + std::to_string(object)).u32(static_cast<std::uint32_t>(count));
        for (int m = 0; m < count; ++m)
            file.id(std::string{'f', char('a' + m / 676), char('a' + m / 26 % 26), char('a' + m % 26)})
                .i32(0)
                .i32(m)
                .id("hfoo");
    }
    const auto bytes = std::make_shared<Bytes>(file.bytes);
    ByteReader in(*bytes);
    in.keepAlive = bytes;
    std::vector<ObjectRecord> objects(3);
    for (ObjectRecord& r : objects)
        ASSERT_TRUE(r.read(in, false, 2));
    Bytes streamed;
    std::size_t pieces = 0;
    ByteWriter out([&](const std::uint8_t* data, std::size_t size) {
        streamed.insert(streamed.end(), data, data + size);
        ++pieces;
    });
    for (const ObjectRecord& r : objects) {
        r.write(out, 2);
        out.drain();
    }
    out.flush();
    EXPECT_EQ(streamed, *bytes);
    EXPECT_EQ(pieces, 3u); // the first object's header, the large object, the rest
}

TEST(ObjectRecord, RepeatedFieldWithoutLevelsKeepsTheLaterValue) {
    const Bytes file = Builder()
                           .id("hfoo")
                           .id("\0\0\0\0")
                           .u32(2)
                           .id("uhpm")
                           .i32(0)
                           .i32(100)
                           .id("hfoo")
                           .id("UHPM")
                           .i32(0)
                           .i32(250)
                           .id("hfoo")
                           .bytes;
    ObjectRecord r;
    ASSERT_TRUE(readObject(file, false, 2, r));
    ASSERT_EQ(r.modificationCount(), 1u);
    EXPECT_EQ(r.modifications()[0].intValue, 250);
    EXPECT_EQ(r.modifications()[0].fieldId, id("UHPM")); // the field id as spelt in the later one
    EXPECT_EQ(writeObject(r, 2).size(), file.size() - 16);
}

TEST(ObjectRecord, ModificationsOutOfOrderAreReadAsIfAddedOneByOne) {
    // In the editor's order, ended by other ids: a field before earlier ones, a level column repeated (the later
    // value replaces the earlier one where it stands), a field spelt in two cases, a run of twenty levels.
    Builder file;
    file.id("Aabc").id("A000").u32(27);
    auto mod = [&](const char* field, std::int32_t level, std::int32_t column, std::int32_t value) {
        file.id(field).i32(0).i32(level).i32(column).i32(value).id("A000");
    };
    mod("anam", 0, 0, 1);
    mod("Ncl1", 1, 0, 2);
    mod("Ncl1", 2, 0, 3);
    mod("aare", 1, 0, 4);
    mod("NCL1", 1, 0, 5);
    mod("Ncl1", 1, 1, 6);
    mod("aare", 2, 0, 7);
    for (int level = 20; level > 0; --level)
        mod("Ncl2", level, 0, 100 + level);
    ObjectRecord r;
    ASSERT_TRUE(readObject(file.bytes, true, 2, r));
    ASSERT_EQ(r.modificationCount(), 26u);
    EXPECT_EQ(fieldOrder(r)[0], "aare");
    EXPECT_EQ(r.modifications()[3].fieldId, id("NCL1"));
    EXPECT_EQ(r.modifications()[3].intValue, 5);
    ASSERT_TRUE(r.findValue(id("ncl2")).has_value());
}

TEST(ObjectRecord, ShuffledModificationsWithRepeatsReadAsIfAddedOneByOne) {
    // Objects of up to eighty modifications over a few fields (in two letter cases) and level columns, so that
    // fields come out of order, repeat with the same and with other level columns, in short and long runs; the
    // kept bytes must give what adding them one by one gives (readObject compares the two).
    std::mt19937 rng(23);
    const char* const fields[] = {"anam", "ANAM", "Ncl1", "aare", "Ncl2", "zzzz"};
    for (int round = 0; round < 300; ++round) {
        const bool levels = round % 3 != 0;
        const std::uint32_t count = rng() % 81;
        Builder file;
        file.id("Aabc").id("A000").u32(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            file.id(fields[rng() % 6]).i32(0);
            if (levels)
                file.i32(static_cast<std::int32_t>(rng() % (round % 2 ? 3 : 30)))
                    .i32(static_cast<std::int32_t>(rng() % 2));
            file.i32(static_cast<std::int32_t>(i)).id(rng() % 2 ? "A000" : "Aabc");
        }
        ObjectRecord r;
        ASSERT_TRUE(readObject(file.bytes, levels, 2, r)) << round;
    }
}

TEST(ObjectRecord, LevelColumnsReplaceTheExactEntryWhereverItStands) {
    ObjectRecord r;
    r.addOrReplace(levelMod("Fxxx", 1, 0, 10));
    r.addOrReplace(levelMod("Fxxx", 2, 0, 20));
    r.addOrReplace(levelMod("Fxxx", 3, 0, 30));

    r.addOrReplace(levelMod("Fxxx", 2, 0, 21));
    ASSERT_EQ(r.modificationCount(), 3u);
    EXPECT_EQ(r.modifications()[1].intValue, 21);

    // Level 1 stands where a bisection would not probe it; it is still the one replaced.
    r.addOrReplace(levelMod("Fxxx", 1, 0, 11));
    ASSERT_EQ(r.modificationCount(), 3u);
    EXPECT_EQ(r.modifications()[0].intValue, 11);

    // Another data column is a different entry and goes after every Fxxx entry.
    r.addOrReplace(levelMod("Fxxx", 1, 1, 99));
    r.addOrReplace(levelMod("Axxx", 1, 0, 5));
    ASSERT_EQ(r.modificationCount(), 5u);
    EXPECT_EQ(r.modifications()[0].fieldId, id("Axxx"));
    EXPECT_EQ(r.modifications()[4].dataColumn, 1);
    EXPECT_EQ(r.modifications()[4].intValue, 99);
}

TEST(ObjectRecord, MergingAnObjectIntoItselfChangesNothing) {
    ObjectRecord r;
    for (int level = 1; level <= 4; ++level)
        r.addOrReplace(levelMod("Atp1", level, 1, level * 10));
    r.addOrReplace(levelMod("aher", 0, 0, 1));
    const ObjectRecord before = r;
    r.mergeFrom(r);
    ASSERT_EQ(r.modificationCount(), before.modificationCount());
    for (std::size_t i = 0; i < r.modificationCount(); ++i)
        EXPECT_TRUE(r.modifications()[i].sameValueAs(before.modifications()[i])) << i;
}

TEST(ObjectRecord, ReplacingAStringByAnotherTypeDropsTheText) {
    ObjectRecord r;
    Modification name;
    name.fieldId = id("unam");
    name.valueType = ModValueType::String;
    name.stringValue = "Footman";
    r.addOrReplace(name);
    r.addOrReplace(intMod("unam", 7));
    ASSERT_EQ(r.modificationCount(), 1u);
    EXPECT_EQ(r.modifications()[0].valueType, ModValueType::Integer);
    EXPECT_TRUE(r.modifications()[0].stringValue.empty());
}

TEST(ObjectRecord, FindUsesCaseInsensitiveFieldIds) {
    ObjectRecord r;
    r.addOrReplace(intMod("unam", 1));
    r.addOrReplace(intMod("ides", 2));
    r.addOrReplace(intMod("utip", 3));
    ASSERT_NE(r.find(id("UTIP")), nullptr);
    EXPECT_EQ(r.find(id("UTIP"))->intValue, 3);
    EXPECT_EQ(r.find(id("anam")), nullptr);
    EXPECT_EQ(ObjectRecord{}.find(id("unam")), nullptr);
}

TEST(ObjectRecord, InsertAtClampsTheIndexAndKeepsOthersInOrder) {
    ObjectRecord r;
    r.insertAt(intMod("bbbb", 1), 0);
    r.insertAt(intMod("zzzz", 2), 50);
    r.insertAt(intMod("aaaa", 3), 1);
    EXPECT_EQ(fieldOrder(r), (std::vector<std::string>{"bbbb", "aaaa", "zzzz"}));
}

TEST(ObjectRecord, EndMarkerAfterEveryValueIsConsumedWhateverItNames) {
    // Real editor files end modifications with markers that name other objects, zero, or the new id.
    const Bytes file = Builder()
                           .id("hfoo")
                           .id("h000")
                           .u32(3)
                           .id("uhpm")
                           .i32(0)
                           .i32(5)
                           .id("zzzz") // names another object
                           .id("unam")
                           .i32(3)
                           .str("Guard")
                           .id("\0\0\0\0")
                           .id("usid")
                           .i32(1)
                           .f32bits(0x3f800000)
                           .id("H000") // the new id in other case
                           .id("next") // what follows the object
                           .bytes;
    ObjectRecord r;
    std::size_t consumed = 0;
    ASSERT_TRUE(readObject(file, false, 2, r, nullptr, &consumed));
    EXPECT_EQ(consumed, file.size() - 4);
    ASSERT_EQ(r.modificationCount(), 3u);
    EXPECT_EQ(r.find(id("unam"))->stringValue, "Guard");
    EXPECT_EQ(r.find(id("uhpm"))->intValue, 5);
    for (const Modification& m : r.modifications())
        EXPECT_TRUE(m.endMarker.isZero());
}

TEST(ObjectRecord, StrayValueBeforeAModificationBecomesItsEndMarker) {
    for (bool levels : {false, true}) {
        Builder b;
        b.id("hfoo").id("h000").u32(2);
        b.id("aaaa").i32(0);
        if (levels)
            b.i32(1).i32(0);
        b.i32(1).id("hfoo");
        b.id("JUNK"); // a stray four bytes; read as a field id, its type is the real field id's bytes
        b.id("bbbb").i32(3);
        if (levels)
            b.i32(2).i32(1);
        b.str("text").id("hfoo");
        ObjectRecord r;
        std::size_t consumed = 0;
        ASSERT_TRUE(readObject(b.bytes, levels, 2, r, nullptr, &consumed)) << levels;
        EXPECT_EQ(consumed, b.bytes.size());
        ASSERT_EQ(r.modificationCount(), 2u);
        const Modification& m = r.modifications()[1];
        EXPECT_EQ(m.fieldId, id("bbbb"));
        EXPECT_EQ(m.stringValue, "text");
        EXPECT_EQ(m.endMarker, id("JUNK"));
        if (levels) {
            EXPECT_EQ(m.level, 2);
            EXPECT_EQ(m.dataColumn, 1);
        }
        // Written back with the stray value where it stood, so that reading the result gives the same object.
        const Bytes written = writeObject(r, 2);
        EXPECT_EQ(written, b.bytes);
        ObjectRecord again;
        ASSERT_TRUE(readObject(written, levels, 2, again));
        EXPECT_EQ(writeObject(again, 2), written);
    }
}

TEST(ObjectRecord, UnknownValueTypeIsCarriedThroughWithoutValue) {
    // The recovery reads the header again four bytes on; the type found there stands, whatever it is.
    const Bytes file = Builder().id("hfoo").id("h000").u32(1).id("abcd").i32(77).i32(99).id("hfoo").bytes;
    ObjectRecord r;
    ASSERT_TRUE(readObject(file, false, 2, r));
    ASSERT_EQ(r.modificationCount(), 1u);
    const Modification& m = r.modifications()[0];
    EXPECT_EQ(m.fieldId, ObjectId::fromValue(77));
    EXPECT_EQ(static_cast<std::int32_t>(m.valueType), 99);
    EXPECT_EQ(m.endMarker, id("abcd"));
    // Written back as read, the stray value before it; a second reading gives the same again.
    EXPECT_EQ(writeObject(r, 2), file);
    ObjectRecord again;
    ASSERT_TRUE(readObject(file, false, 2, again));
    EXPECT_TRUE(again.modifications()[0].sameValueAs(m));
}

TEST(ObjectRecord, ZeroStrayValueIsKeptToo) {
    // Four zero bytes, then a modification whose type stays unknown after the recovery.
    const Bytes file = Builder().id("hfoo").id("h000").u32(1).u32(0).i32(250).id("hfoo").id("umvs").bytes;
    ObjectRecord r;
    ASSERT_TRUE(readObject(file, false, 2, r));
    ASSERT_TRUE(r.modifications()[0].recovered);
    const Bytes written = writeObject(r, 2);
    ObjectRecord again;
    ASSERT_TRUE(readObject(written, false, 2, again));
    ASSERT_EQ(again.modificationCount(), 1u);
    EXPECT_TRUE(again.modifications()[0].sameValueAs(r.modifications()[0]));
    EXPECT_EQ(writeObject(again, 2), written);
}

TEST(ObjectRecord, RealValuesAreKeptBitForBit) {
    const std::uint32_t signallingNan = 0x7fa00001;
    const std::uint32_t negativeZero = 0x80000000;
    const Bytes file = Builder()
                           .id("hfoo")
                           .id("h000")
                           .u32(2)
                           .id("aaaa")
                           .i32(1)
                           .f32bits(signallingNan)
                           .id("hfoo")
                           .id("bbbb")
                           .i32(2)
                           .f32bits(negativeZero)
                           .id("hfoo")
                           .bytes;
    ObjectRecord r;
    ASSERT_TRUE(readObject(file, false, 2, r));
    EXPECT_EQ(writeObject(r, 2), file);
    EXPECT_EQ(r.modifications()[1].valueType, ModValueType::Unreal);
}

TEST(ObjectRecord, WritesBaseIdAsEndMarkerAndVersionThreeSetHeader) {
    ObjectRecord r;
    r.baseId = id("hfoo");
    r.newId = id("h000");
    r.setFlag = 5;
    r.addOrReplace(intMod("uhpm", 1));
    const Bytes v3 = Builder().id("hfoo").id("h000").u32(1).i32(5).u32(1).id("uhpm").i32(0).i32(1).id("hfoo").bytes;
    EXPECT_EQ(writeObject(r, 3), v3);
    const Bytes v2 = Builder().id("hfoo").id("h000").u32(1).id("uhpm").i32(0).i32(1).id("hfoo").bytes;
    EXPECT_EQ(writeObject(r, 2), v2);
}

TEST(ObjectRecord, RefusesSetCountsOtherThanOne) {
    for (std::uint32_t sets : {0u, 2u}) {
        const Bytes file = Builder().id("hfoo").id("h000").u32(sets).i32(0).u32(0).bytes;
        ObjectRecord r;
        ReadError error;
        ASSERT_FALSE(readObject(file, false, 3, r, &error));
        EXPECT_EQ(error.offset, 8u);
        EXPECT_NE(error.message.find("sets is not supported"), std::string::npos) << error.message;
    }
}

TEST(ObjectRecord, RefusesStringsWithoutEndAndCountsTooLargeForTheFile) {
    {
        Builder b;
        b.id("hfoo").id("h000").u32(1).id("unam").i32(3);
        b.str(std::string(kMaxStringBytes + 1, 'x')).id("hfoo");
        ObjectRecord r;
        ReadError error;
        ASSERT_FALSE(readObject(b.bytes, false, 2, r, &error));
        EXPECT_EQ(error.offset, 20u);
        EXPECT_NE(error.message.find("no end within its first 31998 bytes"), std::string::npos) << error.message;
        EXPECT_NE(error.message.find("object 'h000'"), std::string::npos) << error.message;
    }
    {
        // The longest string that fits is read whole.
        Builder b;
        b.id("hfoo").id("h000").u32(1).id("unam").i32(3);
        b.str(std::string(kMaxStringBytes, 'y')).id("hfoo");
        ObjectRecord r;
        ASSERT_TRUE(readObject(b.bytes, false, 2, r));
        EXPECT_EQ(r.modifications()[0].stringValue.size(), kMaxStringBytes);
    }
    {
        const Bytes file = Builder().id("hfoo").id("h000").u32(0xfffffff0u).bytes;
        ObjectRecord r;
        ReadError error;
        ASSERT_FALSE(readObject(file, false, 2, r, &error));
        EXPECT_EQ(error.offset, file.size());
        EXPECT_EQ(error.message, "the file ends at byte 12, too soon for the 4294967280 modifications counted at "
                                 "byte 8, in object 'h000'");
    }
}

} // namespace
} // namespace brindlemark
