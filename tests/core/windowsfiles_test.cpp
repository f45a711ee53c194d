// Writing files with the Windows calls: the read-only attribute, a file another program holds open, paths longer
// than MAX_PATH and non-ASCII paths. Runs where the programs run, on Windows or under wine.
#include "core/fileio.h"

#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

namespace brindlemark {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::readAll;
using testing::TempDir;
using testing::writeAll;
namespace fs = std::filesystem;

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(pathText(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WindowsFiles, TheReadOnlyAttributeIsRefusedAndTheFileKept) {
    TempDir dir;
    const fs::path target = dir / fs::path(u8"только чтение.w3o");
    writeAll(target, "old");
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    std::string error;
    EXPECT_FALSE(saveBytes(target, "new", 3, error));
    EXPECT_EQ(error, pathText(target) + ": the file is read-only");
    EXPECT_FALSE(testing::copyFileReplacing(target, target, error));
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(readAll(target), bytesOf("old"));
    EXPECT_EQ(namesIn(dir.path()).size(), 1u);
}

TEST(WindowsFiles, AFileHeldOpenByAnotherProgramIsReportedAndNothingIsLost) {
    TempDir dir;
    const fs::path target = dir / fs::path(u8"карта.w3o");
    writeAll(target, "old");
    // Another program reading the file and sharing it with nobody.
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::string error;
    const bool saved = saveBytes(target, "new", 3, error);
    CloseHandle(held);
    EXPECT_FALSE(saved);
    EXPECT_EQ(error.rfind(pathText(target) + ": cannot replace the file (another program has the file open: ", 0), 0u)
        << error;
    EXPECT_EQ(readAll(target), bytesOf("old"));
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{pathText(target.filename())}) << "a temporary was left";

    // Once the other program has closed it, the same save goes through.
    ASSERT_TRUE(saveBytes(target, "new", 3, error)) << error;
    EXPECT_EQ(readAll(target), bytesOf("new"));
}

TEST(WindowsFiles, PathsLongerThanMaxPathWithCyrillicNamesWork) {
    TempDir dir;
    fs::path folder = dir.path();
    for (int i = 0; folder.native().size() < 300; ++i) {
        fs::path part(u8"папка с длинным именем ");
        part += std::to_string(i);
        folder /= part;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    ASSERT_FALSE(ec) << ec.message();
    const fs::path target = folder / fs::path(u8"война и мир.w3o");
    ASSERT_GT(target.native().size(), static_cast<std::size_t>(MAX_PATH));

    std::string error;
    ASSERT_TRUE(saveBytes(target, "first", 5, error)) << error;
    ASSERT_TRUE(saveBytes(target, "second", 6, error)) << error; // replacing it
    std::vector<std::uint8_t> read;
    ASSERT_TRUE(readFile(target, read, error)) << error;
    EXPECT_EQ(read, bytesOf("second"));
    const fs::path backup = folder / fs::path(u8"BACKUP_война и мир.w3o");
    ASSERT_TRUE(testing::copyFileReplacing(target, backup, error)) << error;
    ASSERT_TRUE(readFile(backup, read, error)) << error;
    EXPECT_EQ(read, bytesOf("second"));
    // The target and its backup, no temporary left: listed through the prefixed path, which the runtime's own
    // folder listing cannot take.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((L"\\\\?\\" + folder.native() + L"\\*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::size_t files = 0;
    do
        files += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    while (FindNextFileW(search, &found));
    FindClose(search);
    EXPECT_EQ(files, 2u);
}

} // namespace
} // namespace brindlemark
