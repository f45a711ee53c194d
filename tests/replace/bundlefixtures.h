#pragma once

// Small hand-made bundles for the renaming tests.

#include "core/objectbundle.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brindlemark::testing {

inline Modification textField(const char* field, const std::string& text) {
    Modification m;
    m.fieldId = id(field);
    m.valueType = ModValueType::String;
    m.stringValue = text;
    return m;
}

inline Modification intField(const char* field, std::int32_t value) {
    Modification m;
    m.fieldId = id(field);
    m.valueType = ModValueType::Integer;
    m.intValue = value;
    return m;
}

inline Modification idField(const char* field, const char* four) {
    return intField(field, static_cast<std::int32_t>(id(four).value()));
}

inline ObjectRecord makeObject(const char* base, const char* newId, std::vector<Modification> mods) {
    ObjectRecord r;
    r.baseId = id(base);
    r.newId = id(newId);
    for (Modification& m : mods)
        r.addOrReplace(std::move(m));
    return r;
}

// Files the object as loading under `policy` would, marking its kind present.
inline void put(ObjectBundle& bundle, ObjectKind kind, ObjectRecord record, MergePolicy policy = MergePolicy::Glue) {
    bundle.kind(kind).present = 1;
    for (std::size_t i = 0; i < record.modificationCount(); ++i)
        record.modificationAt(i).hasLevels = bundle.kind(kind).file.hasLevels;
    bundle.kind(kind).file.fileObject(std::move(record), policy, [](const std::string&) {});
}

inline std::vector<std::string> tableIds(const ObjectTable& table) {
    std::vector<std::string> out;
    for (const ObjectRecord& r : table.objects())
        out.push_back(r.effectiveId().text());
    return out;
}

inline std::string textOf(const ObjectRecord& r, const char* field) {
    const Modification* m = r.find(id(field));
    return m ? m->stringValue : std::string("<none>");
}

inline std::string idValueOf(const ObjectRecord& r, const char* field) {
    const Modification* m = r.find(id(field));
    return m ? ObjectId::fromValue(static_cast<std::uint32_t>(m->intValue)).text() : std::string("<none>");
}

// Saves the bundle, failing the test with the reason when it cannot.
inline void save(const ObjectBundle& bundle, const std::filesystem::path& path) {
    std::string error;
    ASSERT_TRUE(bundle.save(path, error)) << error;
}

// The bundle in the file, its load warnings dropped; a failed load fails the test.
inline ObjectBundle load(const std::filesystem::path& path) {
    ObjectBundle bundle;
    EXPECT_TRUE(bundle.load(path)) << path;
    return bundle;
}

} // namespace brindlemark::testing
