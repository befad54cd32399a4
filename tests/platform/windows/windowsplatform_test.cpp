// The Windows backend's answers that need no particular drive: the platform family, the
// drive-type codes, the program's folder and new folders.

#include "platform/windows/windowsdrivetype.h"
#include "platform/windows/windowsplatform.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace velo
{
namespace
{

TEST(WindowsPlatform, ReportsTheNtFamily)
{
    WindowsPlatform platform;
    EXPECT_EQ(platform.platformIdentifier(), kPlatformNt);
}

TEST(WindowsPlatform, MapsTheSystemsDriveTypesToTheProgramsOwn)
{
    const struct {
        UINT windows;
        DriveType type;
    } rows[] = {
        {DRIVE_UNKNOWN, DriveType::Unknown},     {DRIVE_NO_ROOT_DIR, DriveType::Unknown},
        {DRIVE_REMOVABLE, DriveType::Removable}, {DRIVE_FIXED, DriveType::Fixed},
        {DRIVE_REMOTE, DriveType::Network},      {DRIVE_CDROM, DriveType::CdRom},
        {DRIVE_RAMDISK, DriveType::RamDisk},     {7, DriveType::Unknown},
    };
    for (const auto& row : rows)
        EXPECT_EQ(windows_backend::driveTypeOf(row.windows), row.type) << row.windows;
}

TEST(WindowsPlatform, ProgramFolderHoldsTheProgramAndEndsWithoutASeparator)
{
    WindowsPlatform platform;
    EXPECT_EQ(platform.pathSeparator(), '\\');
    const std::string folder = platform.programFolder();
    ASSERT_GE(folder.size(), 3u);
    EXPECT_NE(folder.back(), '\\');
    EXPECT_NE(::GetFileAttributesA((folder + "\\platform_windows_test.exe").c_str()),
              INVALID_FILE_ATTRIBUTES)
        << folder;
}

TEST(WindowsPlatform, CreatesAFolderOnceAndSaysSoWhenItIsThere)
{
    WindowsPlatform platform;
    testing::ScratchDir scratch;
    const std::string folder = (scratch / "DAT").string();
    EXPECT_TRUE(platform.createFolder(folder));
    EXPECT_FALSE(platform.createFolder(folder));
    EXPECT_FALSE(platform.createFolder((scratch / "missing\\DAT").string()));
    EXPECT_TRUE(::GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring wide(const std::string& utf8)
{
    std::wstring text(utf8.size(), L'\0');
    text.resize(std::size_t(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()),
                                                  text.data(), int(text.size()))));
    return text;
}

// The rest of the program holds paths as UTF-8; the manifest that comes with the backend
// makes that the ANSI code page, so a folder the user named in Japanese is the folder the
// backend writes to.
TEST(WindowsPlatform, TakesPathsAsUtf8)
{
    EXPECT_EQ(::GetACP(), UINT(CP_UTF8));
    WindowsPlatform platform;
    testing::ScratchDir scratch;
    const std::string photos =
        scratch.path.string() + "\\\xE5\x86\x99\xE7\x9C\x9F"; // 写真, "photos"
    ASSERT_TRUE(platform.createFolder(photos));
    auto folder = platform.openOutputFolder(photos);
    ASSERT_TRUE(folder);
    CreateFailure why = CreateFailure::None;
    auto file = folder->createFile("DD001.JPG", IfNameTaken::Fail, why);
    ASSERT_TRUE(file);
    file->close();
    EXPECT_NE(::GetFileAttributesW(wide(photos + "\\DD001.JPG").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(::GetFileAttributesW((wide(scratch.path.string()) + L"\\\u5199\u771F").c_str()),
              INVALID_FILE_ATTRIBUTES);
}

} // namespace
} // namespace velo
