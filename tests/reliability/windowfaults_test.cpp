// Faults that come in through the main window while a scan runs: clicks on the drive
// list that change the geometry fields under the scan, stops at the two places where the
// scan lets events in, and what the window can still do after a stop.

#include "app/form2.h"

#include "platform/fake/fakeplatform.h"
#include "tests/support/form2controls.h"
#include "tests/support/volume.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <numeric>

namespace velo::reliability
{
namespace
{

using namespace velo::testing;

constexpr std::size_t kSector = 512;
constexpr std::size_t kSectors = 40;

struct WindowScan : ::testing::Test {
    FakePlatform platform;
    Volume volume{kSectors, kSector};

    void SetUp() override
    {
        platform.folders.insert("/save");
        platform.folders.insert("/again");
        volume.stream(3, 8);
        volume.stream(12, 30);
        FakeDrive& e = platform.addDrive("E", DriveType::Removable);
        e.volumeBytes = volume.bytes;
        e.freeSpace = DiskFreeSpace{1, kSector, 0, kSectors};
        FakeDrive& f = platform.addDrive("F", DriveType::Removable); // a card with large sectors
        f.freeSpace = DiskFreeSpace{4, 4096, 10, 100};
        platform.addDrive("G", DriveType::CdRom); // no disc: its query fails and the fields read 0
    }

    std::map<std::string, Bytes> filesIn(const std::string& folder) const
    {
        return filesUnder(platform.files, folder);
    }
};

// Mid-scan clicks select a drive with 4096-byte sectors and then one whose query fails:
// the fields show them, while the scan keeps its drive, its 512-byte buffer and its
// total, and carves exactly what it would have carved untouched.
TEST_F(WindowScan, DriveClicksDuringAScanChangeTheFieldsButNotTheScan)
{
    Form2 w(platform);
    const Form2Controls c(w);
    c.readyToScan("E");
    QString sectorFieldAfterF;
    platform.beforeRead = [&](std::uint64_t read) {
        if (read == 4)
            QTimer::singleShot(0, [&] {
                c.select("F");
                sectorFieldAfterF = c.label("Label3")->text();
            });
        if (read == 15)
            QTimer::singleShot(0, [&] { c.select("G"); });
        if (read >= 5) { // the buffer handed to the device is still the scan's own
            EXPECT_EQ(w.sectorBuffer()->size(), kSector + 1) << "read " << read;
        }
    };
    c.Command2->click();

    EXPECT_EQ(sectorFieldAfterF, " 4096");
    EXPECT_EQ(c.label("Label13")->text(), " G");
    EXPECT_EQ(c.label("Label19")->text(), "G");
    EXPECT_EQ(c.label("Label3")->text(), " 0");
    EXPECT_EQ(c.label("Label14")->text(), " 0");
    EXPECT_EQ(platform.openedDevices, std::vector<std::string>{"\\\\.\\E:"});
    EXPECT_EQ(platform.sectorsRead, [] {
        std::vector<std::uint64_t> all(kSectors);
        std::iota(all.begin(), all.end(), 0);
        return all;
    }());
    EXPECT_EQ(filesIn("/save/"), named(modelFiles(volume, range(0, kSectors))));
    EXPECT_EQ(w.sectorBuffer()->back(), 0);
    EXPECT_FALSE(w.scanning());
}

// A stop in the event step of a pass in the middle of the second file: the first file is
// whole, the second holds exactly the sectors read before the stop, nothing is open, and
// a new run afterwards (into another folder) carves everything again without touching
// the files of the stopped one.
TEST_F(WindowScan, StopInTheSecondFileKeepsBothExactAndTheNextRunIsComplete)
{
    Form2 w(platform);
    const Form2Controls c(w);
    c.readyToScan("E");
    platform.beforeRead = [&](std::uint64_t read) {
        if (read == 19)
            QTimer::singleShot(0, c.Command3, &QPushButton::click);
    };
    c.Command2->click();
    EXPECT_EQ(platform.sectorsRead.size(), 20u);
    EXPECT_EQ(platform.openOutputFiles, 0);
    EXPECT_EQ(platform.openDeviceHandles, 0);
    const auto stopped = filesIn("/save/");
    EXPECT_EQ(stopped, named(modelFiles(volume, range(0, 20))));

    platform.beforeRead = nullptr;
    platform.sectorsRead.clear();
    c.Text1->setText("/again/");
    c.Command2->click();
    EXPECT_EQ(platform.sectorsRead.size(), kSectors);
    EXPECT_EQ(filesIn("/again/"), named(modelFiles(volume, range(0, kSectors))));
    EXPECT_EQ(filesIn("/save/"), stopped);
    EXPECT_FALSE(c.Command3->isEnabled());
    EXPECT_TRUE(c.Command2->isEnabled());
}

// A stop that arrives in the event step before the volume is opened (start step 4):
// the volume is opened and released without a read, no file is made, and the stop does
// not stick: the next run clears it and goes through.
TEST_F(WindowScan, StopBeforeTheVolumeOpensDoesNotStickToTheNextRun)
{
    Form2 w(platform);
    const Form2Controls c(w);
    c.readyToScan("E");
    QTimer::singleShot(0, c.Command3, &QPushButton::click);
    c.Command2->click();
    EXPECT_TRUE(platform.sectorsRead.empty());
    EXPECT_TRUE(platform.files.empty());
    EXPECT_EQ(platform.openDeviceHandles, 0);
    EXPECT_FALSE(w.scanning());
    EXPECT_TRUE(c.Command2->isEnabled());

    c.Command2->click();
    EXPECT_EQ(platform.sectorsRead.size(), kSectors);
    EXPECT_EQ(filesIn("/save/"), named(modelFiles(volume, range(0, kSectors))));
}

// A volume that vanishes while the window scans: every later read fails, the scan still
// runs its passes and returns to idle, and the file that was open keeps what was read.
TEST_F(WindowScan, VolumeVanishingDuringAWindowScanEndsIdleWithTheReadBytes)
{
    platform.findDrive("E")->vanishAfterReads = 16; // drives move as more are added
    Form2 w(platform);
    const Form2Controls c(w);
    c.readyToScan("E");
    c.Command2->click();
    EXPECT_EQ(platform.sectorsRead.size(), kSectors);
    EXPECT_EQ(filesIn("/save/"), named(modelFiles(volume, range(0, 16))));
    EXPECT_EQ(platform.openOutputFiles, 0);
    EXPECT_FALSE(w.scanning());
    EXPECT_TRUE(c.Command2->isEnabled());
    EXPECT_FALSE(c.Command3->isEnabled());
}

} // namespace
} // namespace velo::reliability
