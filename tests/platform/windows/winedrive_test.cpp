// The Windows backend on a Windows machine as Wine provides one, through drive E: that
// wine-fixtures.sh maps to a disk image (listed as removable) before these tests run, and
// a symbolic link of the host that it plants. Wine's free-space figures are those of the
// host's file system, so they are checked for sense only.

#include "drive/rawvolume.h"
#include "platform/windows/windowsplatform.h"
#include "platform/windows/windowssource.h"
#include "scan/outputname.h"
#include "scan/recoveryscan.h"
#include "tests/platform/windows/driveimage.h"
#include "tests/support/files.h"
#include "tests/support/scanhoststub.h"
#include "tests/support/volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <windows.h>

namespace velo
{
namespace
{

using testing::Bytes;
using windows_backend::WindowsSource;
using windows_backend::writesToSourceVolume;

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

TEST(WineDriveE, ListsEveryDriveInLetterOrderWithItsKindAndRoot)
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
    EXPECT_EQ(card->type, DriveType::Removable); // "floppy" in Wine's registry
    EXPECT_EQ(card->rootFolder, "E:\\");
    const DriveInfo* system = findDrive(drives, "C");
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->type, DriveType::Fixed);
    EXPECT_EQ(system->rootFolder, "C:\\");
}

// Details cost no visit to a drive: a fixed disk tells its size, a removable drive does
// not (asking would wait on the medium); both name the device behind the letter.
TEST(WineDriveE, DetailsNameTheDeviceAndTheSizeOfAFixedDiskOnly)
{
    WindowsPlatform platform;
    const auto drives = platform.drives();
    const DriveInfo* card = findDrive(drives, "E");
    const DriveInfo* system = findDrive(drives, "C");
    ASSERT_TRUE(card && system);

    ASSERT_TRUE(system->details);
    ULARGE_INTEGER total{};
    ASSERT_TRUE(::GetDiskFreeSpaceExA("C:\\", nullptr, &total, nullptr));
    EXPECT_EQ(system->details->sizeBytes, std::optional<std::uint64_t>(total.QuadPart));
    EXPECT_FALSE(system->details->device.empty());
    EXPECT_TRUE(system->details->model.empty());

    ASSERT_TRUE(card->details);
    EXPECT_FALSE(card->details->sizeBytes);
    EXPECT_FALSE(card->details->device.empty());
}

TEST(WineDriveE, FreeSpaceOfAMappedDriveAddsUpAndAMissingOneFails)
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

class WineVolumeLetter : public ::testing::TestWithParam<const char*>
{
};

// The scan's own path to the sectors: "\\.\" + the letter as the field holds it + ":",
// read one sector at a time from sector 0.
TEST_P(WineVolumeLetter, ReadsTheVolumeSectorBySectorFromItsStart)
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

INSTANTIATE_TEST_SUITE_P(Letters, WineVolumeLetter, ::testing::Values("E", "e"));

TEST(WineDriveE, OpensNothingButAVolumeOrTheVwin32DeviceAndSaysWhenItCannot)
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

// The whole scan as the window runs it, through the real backend: the photos planted in
// the image come back as DD001.JPG and DD002.JPG, exactly as the rule cuts them.
TEST(WineDriveE, ARecoveryScanOfDriveEWritesThePhotosOnIt)
{
    WindowsPlatform platform;
    testing::ScratchDir save;
    testing::ScanHostStub host;
    host.folder = save.path.string() + "\\";
    std::vector<std::uint8_t> buffer(testing::kDriveSectorBytes + 1, 0);
    FileSink files = windowFiles(platform, host);
    auto volume = openRawVolume(platform, 0, "E", buffer);
    ASSERT_TRUE(volume);
    EXPECT_EQ(runRecoveryPasses(platform, host, *volume, buffer, files, testing::kDriveSectors),
              ScanEnd::Completed);

    const auto model = testing::modelFiles(testing::driveImage(), testing::kDriveSectorBytes);
    ASSERT_EQ(model.size(), 2u);
    for (const auto& [number, content] : model)
        EXPECT_EQ(testing::readFile(outputFileName(host.folder, number)), content) << number;
    EXPECT_EQ(::GetFileAttributesA(outputFileName(host.folder, 3).c_str()),
              INVALID_FILE_ATTRIBUTES);
}

// Under Wine a symbolic link of the host looks like a plain file to Windows programs, the
// very case where writing to the name would write to the link's target. The link is made
// by wine-fixtures.sh, which runs before these tests; a second run of this test alone
// finds a plain file and says so.
TEST(WineOutputFolder, ALinkUnderTheNameIsRefusedOrReplacedAndItsTargetKeepsItsBytes)
{
    testing::PlantedLink planted;
    ASSERT_EQ(testing::findPlantedLink(testing::winePath(VELO_LINK_FOLDER), "DD001.JPG", planted),
              "");
    const auto& [folder, link, target, before] = planted;

    const Bytes ours = {0xFF, 0xD8, 0xFF, 0xE0};
    WindowsPlatform platform;
    auto output = platform.openOutputFolder(folder);
    ASSERT_TRUE(output);
    CreateFailure why = CreateFailure::None;
    EXPECT_FALSE(output->createFile("DD001.JPG", IfNameTaken::Fail, why));
    EXPECT_EQ(why, CreateFailure::NameTaken);
    EXPECT_EQ(testing::readFile(target), before);
    auto file = output->createFile("DD001.JPG", IfNameTaken::Replace, why);
    ASSERT_TRUE(file);
    EXPECT_EQ(why, CreateFailure::None);
    ASSERT_TRUE(file->write(ours));
    file->close();
    EXPECT_EQ(testing::readFile(link), ours);
    EXPECT_EQ(testing::readFile(target), before);
}

class WineSourceKind : public ::testing::TestWithParam<bool>
{
};

// The same bytes through either door: the image file itself (read as it is), or drive E:
// that Wine maps onto it (read in whole sectors). Reads come in chunks that do not fit the
// sectors, as velo-carve's may; a read past the end, which ReadFile reports as
// ERROR_HANDLE_EOF, reads nothing.
TEST_P(WineSourceKind, HasTheImagesSizeAndReadsItAtAnyOffset)
{
    const bool asVolume = GetParam();
    const std::string path = asVolume ? "\\\\.\\E:" : testing::winePath(VELO_DRIVE_IMAGE);
    std::string error;
    auto source = WindowsSource::open(path, error);
    ASSERT_TRUE(source) << error;
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(source->isDevice(), asVolume);
    const Bytes image = testing::driveImage();
    EXPECT_EQ(source->sizeBytes(), image.size());
    EXPECT_EQ(source->sectorBytes(), testing::kDriveSectorBytes);

    Bytes read(image.size());
    const std::size_t chunk = 3000;
    for (std::size_t at = 0; at < image.size(); at += chunk) {
        const std::int64_t got = source->readAt(read.data() + at, chunk, at);
        ASSERT_EQ(got, std::int64_t(std::min(chunk, image.size() - at))) << "at " << at;
    }
    EXPECT_EQ(read, image);
    Bytes past(512);
    EXPECT_EQ(source->readAt(past.data(), past.size(), image.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(ImageAndVolume, WineSourceKind, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Volume" : "ImageFile"; });

TEST(WineSource, KnowsWhenOutputWouldLandOnTheVolumeBeingCarved)
{
    const std::string image = testing::winePath(VELO_DRIVE_IMAGE);
    const struct {
        const char* folder;
        std::string source;
        bool same;
    } rows[] = {
        {"E:\\recovered", "\\\\.\\E:", true}, {"e:\\", "\\\\.\\E:", true},
        {"E:\\recovered", "\\\\.\\e:", true}, {"C:\\recovered", "\\\\.\\E:", false},
        {"E:\\recovered", image, false}, // an image file is not its folder's volume
    };
    for (const auto& row : rows)
        EXPECT_EQ(writesToSourceVolume(row.folder, row.source), row.same)
            << row.folder << " from " << row.source;
}

} // namespace
} // namespace velo
