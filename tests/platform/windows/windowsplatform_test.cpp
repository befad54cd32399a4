// The Windows backend on a Windows machine, as Wine provides one: drive E: is a disk image
// (mapped before the tests by wine-fixtures.sh), listed as removable. Free-space figures
// under Wine are those of the host's file system, so they are checked for sense only.

#include "drive/rawvolume.h"
#include "platform/windows/drivetype.h"
#include "platform/windows/windowsplatform.h"
#include "scan/outputname.h"
#include "scan/recoveryscan.h"
#include "scan/stopflag.h"
#include "tests/platform/windows/driveimage.h"
#include "tests/platform/windows/scratchfolder.h"
#include "tests/scan/naivecarver.h"
#include "tests/scan/scanhoststub.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <windows.h>

namespace velo
{
namespace
{

using testing::Bytes;

const DriveInfo* findDrive(const std::vector<DriveInfo>& drives, const std::string& letter)
{
    for (const auto& d : drives) {
        if (d.letter == letter)
            return &d;
    }
    return nullptr;
}

// A letter the system does not have.
std::string absentLetter()
{
    const DWORD present = ::GetLogicalDrives();
    for (int i = 25; i >= 0; --i) {
        if ((present & (DWORD(1) << i)) == 0)
            return std::string(1, char('A' + i));
    }
    return {};
}

TEST(WindowsPlatform, ReportsTheNtFamily)
{
    WindowsPlatform platform;
    EXPECT_EQ(platform.platformIdentifier(), kPlatformNt);
}

TEST(WindowsPlatform, MapsTheSystemsDriveTypesToTheProgramsCodes)
{
    const struct {
        UINT windows;
        int code;
    } rows[] = {{DRIVE_UNKNOWN, 0}, {DRIVE_NO_ROOT_DIR, 0}, {DRIVE_REMOVABLE, 1}, {DRIVE_FIXED, 2},
                {DRIVE_REMOTE, 3},  {DRIVE_CDROM, 4},       {DRIVE_RAMDISK, 5},   {7, 0}};
    for (const auto& row : rows)
        EXPECT_EQ(windows_backend::driveTypeCode(row.windows), row.code) << row.windows;
}

TEST(WindowsPlatform, ListsEveryDriveInLetterOrderWithItsKindAndRoot)
{
    WindowsPlatform platform;
    const auto drives = platform.drives();
    ASSERT_FALSE(drives.empty());
    for (std::size_t i = 0; i < drives.size(); ++i) {
        ASSERT_EQ(drives[i].letter.size(), 1u);
        EXPECT_TRUE(drives[i].letter[0] >= 'A' && drives[i].letter[0] <= 'Z');
        if (i > 0) {
            EXPECT_LT(drives[i - 1].letter, drives[i].letter);
        }
    }
    const DriveInfo* card = findDrive(drives, "E");
    ASSERT_NE(card, nullptr) << "drive E: is not mapped; run tests/platform/windows/"
                                "wine-fixtures.sh (ctest does, before these tests)";
    EXPECT_EQ(card->typeCode, 1); // "floppy" in Wine's registry: removable
    EXPECT_EQ(card->rootFolder, "E:\\");
    const DriveInfo* system = findDrive(drives, "C");
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->typeCode, 2);
    EXPECT_EQ(system->rootFolder, "C:\\");
}

TEST(WindowsPlatform, FreeSpaceOfAMappedDriveAddsUpAndAMissingOneFails)
{
    WindowsPlatform platform;
    const auto space = platform.diskFreeSpace("E:\\");
    ASSERT_TRUE(space);
    EXPECT_GT(space->sectorsPerCluster, 0);
    EXPECT_GE(space->bytesPerSector, 512);
    EXPECT_EQ(space->bytesPerSector & (space->bytesPerSector - 1), 0) << "a power of two";
    EXPECT_GT(space->totalClusters, 0);
    EXPECT_LE(space->freeClusters, space->totalClusters);

    ULARGE_INTEGER callerFree{}, total{}, totalFree{};
    ASSERT_TRUE(::GetDiskFreeSpaceExA("E:\\", &callerFree, &total, &totalFree));
    EXPECT_EQ(
        std::uint64_t(space->totalClusters * space->sectorsPerCluster * space->bytesPerSector),
        total.QuadPart);

    const std::string missing = absentLetter();
    ASSERT_FALSE(missing.empty());
    EXPECT_FALSE(platform.diskFreeSpace(missing + ":\\"));
}

class VolumeLetter : public ::testing::TestWithParam<const char*>
{
};

// The scan's own path to the sectors: "\\.\" + the letter as the field holds it + ":",
// read one sector at a time from sector 0.
TEST_P(VolumeLetter, ReadsTheVolumeSectorBySectorFromItsStart)
{
    WindowsPlatform platform;
    const Bytes image = testing::driveImage();
    std::vector<std::uint8_t> buffer(testing::kDriveSectorBytes + 1, 0);
    auto volume = openRawVolume(platform, 0, GetParam(), buffer);
    ASSERT_TRUE(volume);
    const std::span<std::uint8_t> sector(buffer.data(), testing::kDriveSectorBytes);
    for (std::uint64_t pass = 1; pass <= testing::kDriveSectors; ++pass) {
        const auto got = volume->readNextSector(sector, pass);
        ASSERT_TRUE(got) << "pass " << pass;
        ASSERT_EQ(*got, sector.size());
        ASSERT_TRUE(std::equal(sector.begin(), sector.end(),
                               image.begin() + std::ptrdiff_t((pass - 1) * sector.size())))
            << "pass " << pass;
    }
    EXPECT_EQ(buffer.back(), 0);
    EXPECT_EQ(volume->readNextSector(sector, testing::kDriveSectors + 1), std::size_t(0))
        << "past the end of the volume: a read of nothing";
}

INSTANTIATE_TEST_SUITE_P(Letters, VolumeLetter, ::testing::Values("E", "e"));

TEST(WindowsPlatform, OpensNothingButAVolumeOrTheVwin32DeviceAndSaysWhenItCannot)
{
    WindowsPlatform platform;
    const std::string missing = absentLetter();
    const std::string names[] = {
        "E:\\",                              // a folder, not a device
        "\\\\.\\E",                          // no colon
        "\\\\.\\E:\\",                       // the root folder of the volume
        "\\\\.\\PhysicalDrive0",             // a whole disk
        "\\\\.\\" + missing + ":",           // no such drive
        "\\\\.\\VWIN32",                     // only the 95/98/Me family has it
        testing::winePath(VELO_DRIVE_IMAGE), // a file, even one that exists
    };
    for (const auto& name : names)
        EXPECT_EQ(platform.openDevice(name), nullptr) << name;
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
    testing::ScratchFolder scratch;
    const std::string folder = scratch / "DAT";
    EXPECT_TRUE(platform.createFolder(folder));
    EXPECT_FALSE(platform.createFolder(folder));
    EXPECT_FALSE(platform.createFolder(scratch / "missing\\DAT"));
    EXPECT_TRUE(::GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

// The whole scan as the window runs it, through the real backend: the photos planted in
// the image come back as DD001.JPG and DD002.JPG, exactly as the rule cuts them.
TEST(WindowsPlatform, ARecoveryScanOfDriveEWritesThePhotosOnIt)
{
    WindowsPlatform platform;
    testing::ScratchFolder save;
    testing::ScanHostStub host;
    host.folder = save.path + "\\";
    std::vector<std::uint8_t> buffer(testing::kDriveSectorBytes + 1, 0);
    std::unique_ptr<OutputFile> slot;
    auto volume = openRawVolume(platform, 0, "E", buffer);
    ASSERT_TRUE(volume);
    stopFlag = 0;
    EXPECT_EQ(runRecoveryPasses(platform, host, *volume, buffer, slot, testing::kDriveSectors),
              ScanEnd::Completed);

    const Bytes image = testing::driveImage();
    testing::NaiveCarve model;
    for (std::size_t s = 0; s < testing::kDriveSectors; ++s)
        model.sector(Bytes(image.begin() + std::ptrdiff_t(s * testing::kDriveSectorBytes),
                           image.begin() + std::ptrdiff_t((s + 1) * testing::kDriveSectorBytes)));
    ASSERT_EQ(model.files.size(), 2u);
    for (const auto& [number, content] : model.files)
        EXPECT_EQ(testing::readFileBytes(outputFileName(host.folder, number)), content) << number;
    EXPECT_EQ(::GetFileAttributesA(outputFileName(host.folder, 3).c_str()),
              INVALID_FILE_ATTRIBUTES);
}

} // namespace
} // namespace velo
