// Every object file of the real maps in the corpus folder loads, and what is saved reloads to the same objects
// and values. Skipped where the folder is absent.
#include "core/fileio.h"
#include "core/objectbundle.h"

#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <map>

namespace brindlemark {
namespace {

namespace fs = std::filesystem;
using testing::Builder;
using testing::Bytes;

const std::map<std::string, ObjectKind>& kindsByExtension() {
    static const std::map<std::string, ObjectKind> kinds = {
        {".w3u", ObjectKind::Units},   {".w3t", ObjectKind::Items},     {".w3b", ObjectKind::Destructables},
        {".w3d", ObjectKind::Doodads}, {".w3a", ObjectKind::Abilities}, {".w3h", ObjectKind::Buffs},
        {".w3q", ObjectKind::Upgrades}};
    return kinds;
}

// The bytes of a bundle: a .w3o as it is, a single-kind object file wrapped as the bundle's only present kind.
bool bundleBytes(const fs::path& path, Bytes& out) {
    std::string error;
    Bytes file;
    if (!readFile(path, file, error))
        return false;
    const std::string ext = path.extension().string();
    if (ext == ".w3o") {
        out = file;
        return true;
    }
    const auto kind = kindsByExtension().find(ext);
    if (kind == kindsByExtension().end())
        return false;
    Builder b;
    b.i32(1);
    for (ObjectKind k : kAllObjectKinds) {
        if (k == kind->second)
            b.i32(1).append(file);
        else
            b.i32(0);
    }
    out = b.bytes;
    return true;
}

void expectSameObjects(const ObjectBundle& a, const ObjectBundle& b, const std::string& name) {
    EXPECT_EQ(a.version, b.version) << name;
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectFile& fa = a.kind(k).file;
        const ObjectFile& fb = b.kind(k).file;
        EXPECT_EQ(a.kind(k).present, b.kind(k).present) << name;
        EXPECT_EQ(fa.version, fb.version) << name;
        for (auto table : {&ObjectFile::standardTable, &ObjectFile::customTable}) {
            const ObjectTable& ta = fa.*table;
            const ObjectTable& tb = fb.*table;
            ASSERT_EQ(ta.count(), tb.count()) << name << " " << kindName(k);
            for (std::size_t i = 0; i < ta.count(); ++i) {
                const ObjectRecord& ra = ta.at(i);
                const ObjectRecord& rb = tb.at(i);
                ASSERT_EQ(ra.baseId, rb.baseId) << name;
                ASSERT_EQ(ra.newId, rb.newId) << name;
                ASSERT_EQ(ra.setFlag, rb.setFlag) << name;
                ASSERT_EQ(ra.modificationCount(), rb.modificationCount()) << name;
                for (std::size_t m = 0; m < ra.modificationCount(); ++m)
                    ASSERT_TRUE(ra.modifications()[m].sameValueAs(rb.modifications()[m]))
                        << name << " object " << displayText(ra.effectiveId()) << " modification " << m;
            }
        }
    }
}

TEST(Corpus, EveryObjectFileLoadsAndRoundTrips) {
    const fs::path dir = testing::corpusDir();
    if (dir.empty())
        GTEST_SKIP() << "no corpus folder";
    std::size_t files = 0;
    std::size_t objects = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        Bytes bytes;
        if (!entry.is_regular_file() || !bundleBytes(entry.path(), bytes))
            continue;
        const std::string name = fs::relative(entry.path(), dir).string();
        ++files;
        ObjectBundle first;
        const LoadResult loaded = first.loadBytes(bytes, name);
        ASSERT_TRUE(loaded) << loaded.error;
        const Bytes saved = first.toBytes();

        ObjectBundle second;
        const LoadResult reloaded = second.loadBytes(saved, name + " (saved)");
        ASSERT_TRUE(reloaded) << reloaded.error;
        expectSameObjects(first, second, name);
        EXPECT_EQ(second.toBytes(), saved) << name;
        for (ObjectKind k : kAllObjectKinds)
            objects += first.kind(k).file.standardTable.count() + first.kind(k).file.customTable.count();
    }
    EXPECT_GT(files, 0u);
    EXPECT_GT(objects, 0u);
}

} // namespace
} // namespace brindlemark
