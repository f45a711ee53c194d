#include "core/bundlepath.h"

#include "core/fileio.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <string>

namespace brindlemark {
namespace {

namespace fs = std::filesystem;

// UTF-8 text of a path or of a u8 literal, to compare the two.
std::string utf8(const fs::path& path) {
    return pathText(path);
}
std::string literal(std::u8string_view text) {
    return std::string(text.begin(), text.end());
}

struct Parts {
    std::u8string drive, directory, name, extension;
};

void expectSplit(const std::u8string& full, const Parts& expected) {
    const BundlePath parts = splitPath(fs::path(full));
    SCOPED_TRACE(literal(full));
    EXPECT_EQ(utf8(parts.fullPath), literal(full));
    EXPECT_EQ(utf8(parts.drive), literal(expected.drive));
    EXPECT_EQ(utf8(parts.directory), literal(expected.directory));
    EXPECT_EQ(utf8(parts.name), literal(expected.name));
    EXPECT_EQ(utf8(parts.extension), literal(expected.extension));
    // The four parts put together give back the whole path, unit for unit.
    EXPECT_EQ(parts.drive.native() + parts.directory.native() + parts.name.native() + parts.extension.native(),
              fs::path(full).native());
}

TEST(BundlePath, WindowsPathsSplitOnEveryPlatform) {
    expectSplit(u8"C:\\maps\\war.w3o", {u8"C:", u8"\\maps\\", u8"war", u8".w3o"});
    expectSplit(u8"C:\\maps\\trig.wct", {u8"C:", u8"\\maps\\", u8"trig", u8".wct"});
    expectSplit(u8"d:war.w3o", {u8"d:", u8"", u8"war", u8".w3o"});
    expectSplit(u8"C:", {u8"C:", u8"", u8"", u8""});
    expectSplit(u8"C:/maps\\sub/x.txt", {u8"C:", u8"/maps\\sub/", u8"x", u8".txt"});
    expectSplit(u8"\\\\server\\share\\war.w3o", {u8"", u8"\\\\server\\share\\", u8"war", u8".w3o"});
    // Long paths in their prefixed form.
    expectSplit(u8"\\\\?\\C:\\карты\\war.w3o", {u8"", u8"\\\\?\\C:\\карты\\", u8"war", u8".w3o"});
    expectSplit(u8"\\\\?\\UNC\\server\\share\\war.w3o", {u8"", u8"\\\\?\\UNC\\server\\share\\", u8"war", u8".w3o"});
}

TEST(BundlePath, PosixPathsSplitWithAnEmptyDrive) {
    expectSplit(u8"/home/u/maps/war.w3o", {u8"", u8"/home/u/maps/", u8"war", u8".w3o"});
    expectSplit(u8"/home/u/maps/trig.wtg", {u8"", u8"/home/u/maps/", u8"trig", u8".wtg"});
    expectSplit(u8"war.w3o", {u8"", u8"", u8"war", u8".w3o"});
    expectSplit(u8"/", {u8"", u8"/", u8"", u8""});
    // A second character ':' is a drive whatever the platform.
    expectSplit(u8"a:b/c.d", {u8"a:", u8"b/", u8"c", u8".d"});
}

TEST(BundlePath, TheExtensionStartsAtTheLastDotOfTheFileName) {
    expectSplit(u8"war.tar.w3o", {u8"", u8"", u8"war.tar", u8".w3o"});
    expectSplit(u8"C:\\maps.old\\war", {u8"C:", u8"\\maps.old\\", u8"war", u8""});
    expectSplit(u8"/maps.old/war", {u8"", u8"/maps.old/", u8"war", u8""});
    expectSplit(u8"war.", {u8"", u8"", u8"war", u8"."});
    expectSplit(u8".w3o", {u8"", u8"", u8"", u8".w3o"});
    expectSplit(u8"/maps/.w3o", {u8"", u8"/maps/", u8"", u8".w3o"});
    expectSplit(u8"war", {u8"", u8"", u8"war", u8""});
    expectSplit(u8"", {u8"", u8"", u8"", u8""});
}

TEST(BundlePath, NonAsciiPathsKeepEveryCharacter) {
    expectSplit(u8"/home/ü/карты/триггер.wct", {u8"", u8"/home/ü/карты/", u8"триггер", u8".wct"});
    expectSplit(u8"D:\\Карты\\война.w3o", {u8"D:", u8"\\Карты\\", u8"война", u8".w3o"});
    expectSplit(u8"/地图/战争.地图.w3o", {u8"", u8"/地图/", u8"战争.地图", u8".w3o"});
    expectSplit(u8"/карты.старые/война", {u8"", u8"/карты.старые/", u8"война", u8""});
    expectSplit(u8"/maps/𝔀𝓪𝓻.w3o", {u8"", u8"/maps/", u8"𝔀𝓪𝓻", u8".w3o"});
    // A drive letter is a whole character, however many units it takes.
    expectSplit(u8"é:x.y", {u8"é:", u8"", u8"x", u8".y"});
    expectSplit(u8"𝔀:x", {u8"𝔀:", u8"", u8"x", u8""});
    expectSplit(u8"é/x", {u8"", u8"é/", u8"x", u8""});
}

TEST(BundlePath, LongPartsAreKeptWhole) {
    const std::u8string longName(300, u8'n');
    const std::u8string longDirectory = u8"/" + std::u8string(400, u8'd') + u8"/";
    expectSplit(longDirectory + longName + u8".w3o", {u8"", longDirectory, longName, u8".w3o"});
}

#ifndef _WIN32
TEST(BundlePath, PosixNamesThatAreNotUtf8SurviveUnchanged) {
    const fs::path path(std::string("/tmp/\xFF\xFE.\xC0x"));
    const BundlePath parts = splitPath(path);
    EXPECT_EQ(parts.directory.native(), "/tmp/");
    EXPECT_EQ(parts.name.native(), "\xFF\xFE");
    EXPECT_EQ(parts.extension.native(), ".\xC0x");
    EXPECT_EQ(backupName(parts).native(), "/tmp/BACKUP_\xFF\xFE.\xC0x");
}
#endif

TEST(BundlePath, TheBackupNameIsPrefixedInTheSameFolder) {
    EXPECT_EQ(utf8(backupName(splitPath(u8"C:\\maps\\trig.wct"))), "C:\\maps\\BACKUP_trig.wct");
    EXPECT_EQ(utf8(backupName(splitPath(u8"/home/u/maps/trig.wtg"))), "/home/u/maps/BACKUP_trig.wtg");
    EXPECT_EQ(utf8(backupName(splitPath(u8"C:\\maps\\war.w3o"))), "C:\\maps\\BACKUP_war.w3o");
    EXPECT_EQ(utf8(backupName(splitPath(u8"war.tar.w3o"))), "BACKUP_war.tar.w3o");
    EXPECT_EQ(utf8(backupName(splitPath(u8"C:war"))), "C:BACKUP_war");
    EXPECT_EQ(utf8(backupName(splitPath(u8"/карты/война.w3o"))), literal(u8"/карты/BACKUP_война.w3o"));
    EXPECT_EQ(utf8(backupName(u8"E:", u8"\\a\\", u8"b", u8".c")), "E:\\a\\BACKUP_b.c");
    EXPECT_EQ(utf8(backupName(splitPath(u8"\\\\server\\share\\maps\\war.w3o"))),
              "\\\\server\\share\\maps\\BACKUP_war.w3o");
    EXPECT_EQ(utf8(backupName(splitPath(u8"\\\\?\\UNC\\server\\share\\war.w3o"))),
              "\\\\?\\UNC\\server\\share\\BACKUP_war.w3o");
}

TEST(BundlePath, AnEmptyBundlePathGivesTheBareBackupName) {
    const BundlePath none;
    EXPECT_EQ(utf8(backupName(none)), "BACKUP_");
    EXPECT_EQ(utf8(backupName(splitPath(fs::path()))), "BACKUP_");
}

TEST(BundlePath, TheBackupNameNamesARealFileBesideANonAsciiOriginal) {
    testing::TempDir dir;
    const fs::path original = dir / fs::path(u8"карта мира.w3o");
    testing::writeAll(original, "object data");
    const fs::path backup = backupName(splitPath(original));
    EXPECT_EQ(backup.parent_path(), original.parent_path());
    EXPECT_EQ(utf8(backup.filename()), literal(u8"BACKUP_карта мира.w3o"));
    std::string error;
    ASSERT_TRUE(testing::copyFileReplacing(original, backup, error)) << error;
    EXPECT_EQ(testing::readAll(backup), testing::readAll(original));
}

} // namespace
} // namespace brindlemark
