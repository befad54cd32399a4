// The main window's logic on a fake machine, through a window of plain fields: start-up,
// the choice of a drive, the scan with its progress, the stop and the deferred run.

#include "app/recoverycontroller.h"

#include "platform/fake/fakeplatform.h"
#include "tests/app/fakewindow.h"
#include "tests/support/desktopmachine.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace velo
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
using testing::FakeWindow;
using testing::volumeWithStream;

struct Controller : ::testing::Test {
    FakePlatform platform;
    FakeWindow window;
    RecoveryController logic{platform, window};
    const Bytes v = volumeWithStream();

    void SetUp() override { testing::addDesktopDrives(platform); }

    // Drive E holding volumeWithStream(), started, E selected, carved files going to /save/.
    FakeDrive& readyToScan()
    {
        FakeDrive& e = testing::addCard(platform, v);
        logic.Form_Load();
        logic.ListView1_ItemClick("E");
        window.setText(Field::Text1, "/save/");
        return e;
    }

    std::vector<std::string> geometry() const
    {
        std::vector<std::string> texts;
        for (Field f : {Field::Label2, Field::Label3, Field::Label4, Field::Label10, Field::Label11,
                        Field::Label12, Field::Label14})
            texts.push_back(window.text(f));
        return texts;
    }
};

TEST_F(Controller, StartUpListsTheDrivesShowsDriveCAndLeavesTheWindowIdle)
{
    platform.addDrive("F", DriveType::Unknown);
    platform.addDrive("G", DriveType(9)); // a code the table does not name
    platform.addDrive("H", DriveType::RamDisk);
    platform.addDrive("N", DriveType::Network);
    logic.Form_Load();

    std::vector<std::pair<std::string, std::string>> rows;
    for (const DriveRow& row : window.rows)
        rows.emplace_back(row.letter, row.typeName.value_or("(none)"));
    EXPECT_EQ(rows,
              (std::vector<std::pair<std::string, std::string>>{{"A", "リムーバブルディスク"},
                                                                {"C", "ハードディスク"},
                                                                {"D", "CD-ROM"},
                                                                {"F", "不明"},
                                                                {"G", "(none)"},
                                                                {"H", "RAMディスク"},
                                                                {"N", "ネットワークドライブ"}}));

    EXPECT_EQ(window.text(Field::Label13), " C");
    EXPECT_EQ(window.text(Field::Label19), "C");
    EXPECT_EQ(geometry(), (std::vector<std::string>{" 8", " 512", " 1000000", " 2000000",
                                                    " 8192000000", " 4096000000", " 16000000"}));
    EXPECT_EQ(window.text(Field::Text1), "/opt/velo/");
    EXPECT_EQ(platform.freeSpaceQueries, std::vector<std::string>{"C:/"});
    EXPECT_TRUE(window.idle());
    EXPECT_EQ(window.pass, 0u);
    EXPECT_EQ(window.text(Field::Label20), "");
    EXPECT_EQ(logic.platformFlag(), 0);
    EXPECT_EQ(logic.sectorBuffer(), nullptr);
}

TEST_F(Controller, MachineWithoutDriveCStillStarts)
{
    platform.driveList.erase(platform.driveList.begin() + 1);
    platform.programFolderPath = "/";
    logic.Form_Load();
    EXPECT_EQ(window.text(Field::Label13), " C");
    EXPECT_EQ(window.text(Field::Label19), "C");
    EXPECT_EQ(geometry(), std::vector<std::string>(7, " 0"));
    EXPECT_EQ(window.text(Field::Text1), "//"); // the separator is appended without looking
    EXPECT_FALSE(window.enabled.at(Control::Command3));
}

TEST_F(Controller, ClickingARowSelectsItsDriveAndReplacesEveryGeometryField)
{
    logic.Form_Load();
    logic.ListView1_ItemClick("D");
    EXPECT_EQ(window.text(Field::Label13), " D");
    EXPECT_EQ(window.text(Field::Label19), "D");
    EXPECT_EQ(geometry(), std::vector<std::string>(7, " 0"));
    logic.ListView1_ItemClick("C");
    logic.ListView1_ItemClick("C");
    EXPECT_EQ(window.text(Field::Label14), " 16000000");
    EXPECT_EQ(std::count(platform.freeSpaceQueries.begin(), platform.freeSpaceQueries.end(), "C:/"),
              3);
}

TEST_F(Controller, PlatformFlagFollowsTheFamily)
{
    for (const auto& [id, flag] : {std::pair{kPlatformWin9x, 1}, std::pair{kPlatformNt, 0}}) {
        platform.platformId = id;
        RecoveryController fresh(platform, window);
        fresh.Form_Load();
        EXPECT_EQ(fresh.platformFlag(), flag) << "platform " << id;
    }
}

TEST_F(Controller, ScanCarvesIntoTheSaveFolderAndShowsItsProgress)
{
    readyToScan();
    bool checked = false;
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 3) {
            EXPECT_TRUE(window.scanningState());
            EXPECT_EQ(window.pass, 4u);
            EXPECT_EQ(window.text(Field::Label20), " 64");
            EXPECT_TRUE(logic.scanning());
            checked = true;
        }
    };
    logic.Command2_Click();

    EXPECT_TRUE(checked);
    EXPECT_EQ(platform.files.at("/save/DD001.JPG"),
              Bytes(v.begin() + 5 * 512, v.begin() + 7 * 512 + 100));
    EXPECT_EQ(platform.files.at("/save/DD002.JPG"), Bytes(v.begin() + 20 * 512, v.end()));
    EXPECT_EQ(platform.openOutputFiles, 0);
    EXPECT_EQ(platform.openDeviceHandles, 0);
    EXPECT_EQ(platform.openedDevices, std::vector<std::string>{"\\\\.\\E:"});
    EXPECT_EQ(platform.createdFolders, std::vector<std::string>{"/opt/velo/DAT"});
    EXPECT_EQ(window.pass, 64u);
    EXPECT_EQ(window.passesShown, 64u);
    EXPECT_TRUE(window.idle());
    EXPECT_FALSE(logic.scanning());
    ASSERT_NE(logic.sectorBuffer(), nullptr);
    EXPECT_EQ(logic.sectorBuffer()->size(), 513u);
    EXPECT_EQ(logic.sectorBuffer()->back(), 0);
}

TEST_F(Controller, StopDuringAPassEndsTheScanBeforeTheNextRead)
{
    readyToScan();
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 21) // the click is handled in the next pass's event step
            window.post([&] { logic.Command3_Click(); });
    };
    logic.Command2_Click();

    EXPECT_EQ(platform.sectorsRead.size(), 22u);
    EXPECT_EQ(platform.files.at("/save/DD002.JPG"),
              Bytes(v.begin() + 20 * 512, v.begin() + 22 * 512));
    EXPECT_EQ(platform.openOutputFiles, 0);
    EXPECT_EQ(platform.openDeviceHandles, 0);
    EXPECT_EQ(logic.stopFlag(), 1);
    EXPECT_EQ(window.pass, 23u);
    EXPECT_EQ(window.driveListFocused, 1);
    EXPECT_TRUE(window.idle());
}

TEST_F(Controller, StopBeforeTheFirstPassReadsNothing)
{
    readyToScan();
    window.post([&] { logic.Command3_Click(); }); // handled in the scan's first event step
    logic.Command2_Click();
    EXPECT_TRUE(platform.sectorsRead.empty());
    EXPECT_EQ(platform.openDeviceHandles, 0);
    EXPECT_TRUE(platform.files.empty());
    EXPECT_TRUE(window.idle());
}

// The stop command enables the run button while the stopped scan is on its way out. A
// run clicked then starts after that scan has returned, not inside it.
TEST_F(Controller, RunClickedRightAfterStopStartsOnlyOnceTheStoppedScanHasReturned)
{
    FakeDrive& big = platform.addDrive("F", DriveType::Removable);
    big.volumeBytes = Bytes(8 * 4096, 0x22);
    big.sectorBytes = 4096;
    big.freeSpace = DiskFreeSpace{1, 4096, 0, 8};
    readyToScan();
    std::uint64_t readsAtSecondStart = 0;
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 4) { // stop, a drive with larger sectors, and run: one event step
            window.post([&] { logic.Command3_Click(); });
            window.post([&] { logic.ListView1_ItemClick("F"); });
            window.post([&] { logic.Command2_Click(); });
        }
        if (platform.openedDevices.size() == 2 && readsAtSecondStart == 0)
            readsAtSecondStart = readCount;
    };
    logic.Command2_Click();
    EXPECT_EQ(platform.openedDevices, std::vector<std::string>{"\\\\.\\E:"});
    ASSERT_EQ(window.pending.size(), 1u); // the deferred run
    window.runPendingEvents();

    EXPECT_EQ(platform.openedDevices, (std::vector<std::string>{"\\\\.\\E:", "\\\\.\\F:"}));
    EXPECT_EQ(readsAtSecondStart, 5u);
    EXPECT_EQ(platform.sectorsRead.size(), 5u + 8u);
    EXPECT_EQ(platform.openDeviceHandles, 0);
    EXPECT_EQ(logic.sectorBuffer()->size(), 4097u);
    EXPECT_TRUE(window.idle());
}

TEST_F(Controller, OpenFailureShowsTheOneMessageAndReturnsToIdle)
{
    readyToScan().canOpen = false;
    logic.Command2_Click();
    EXPECT_EQ(window.messages, std::vector<std::string>{"Errore nell'apertura del device E"});
    EXPECT_TRUE(platform.createdFolders.empty()); // no DAT folder without a volume
    EXPECT_TRUE(window.idle());
    EXPECT_FALSE(logic.scanning());
}

// The card E is mounted at /media/card, drive C at the root: a save folder on E (its root,
// a folder in it, one not made yet) stops the scan before anything is opened or made; a
// folder elsewhere, one merely named like the card's, does not.
TEST_F(Controller, SaveFolderOnTheScannedDriveIsRefusedWithOneMessage)
{
    const struct {
        const char* saveFolder;
        bool onCard;
    } cases[] = {
        {"/media/card/", true},
        {"/media/card", true},
        {"/media/card/DCIM/found/", true},
        {"/media/card/not/made/yet/", true},
        {"/save/", false},
        {"/media/cardboard/", false},
        {"/media/", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.saveFolder);
        FakePlatform machine;
        testing::addDesktopDrives(machine);
        machine.findDrive("C")->rootFolder = "/";
        testing::addCard(machine, v).rootFolder = "/media/card";
        machine.folders.insert({"/media", "/media/card", "/media/card/DCIM",
                                "/media/card/DCIM/found", "/media/cardboard"});
        FakeWindow shown;
        RecoveryController controller(machine, shown);
        controller.Form_Load();
        controller.ListView1_ItemClick("E");
        shown.setText(Field::Text1, c.saveFolder);
        const auto before = shown.texts;

        controller.Command2_Click();
        if (c.onCard) {
            EXPECT_EQ(shown.messages,
                      std::vector<std::string>{"La cartella di salvataggio si trova sul device E: "
                                               "sceglierne un'altra"});
            EXPECT_TRUE(machine.openedDevices.empty());
            EXPECT_TRUE(machine.createdFolders.empty());
            EXPECT_TRUE(machine.createdFiles.empty());
            EXPECT_EQ(shown.texts, before); // the grid, the drive and the folder as they were
        } else {
            EXPECT_TRUE(shown.messages.empty());
            EXPECT_EQ(machine.openedDevices, std::vector<std::string>{"\\\\.\\E:"});
            EXPECT_EQ(machine.files.size(), 2u);
        }
        EXPECT_TRUE(shown.idle());
        EXPECT_FALSE(controller.scanning());
    }
}

TEST_F(Controller, SectorSizeTooLargeForABufferReturnsToIdleWithoutOpening)
{
    readyToScan();
    window.setText(Field::Label3, " " + std::to_string(kLargestSectorBytes + 1));
    logic.Command2_Click();
    EXPECT_TRUE(platform.openedDevices.empty());
    EXPECT_TRUE(window.messages.empty());
    EXPECT_TRUE(window.idle());
    EXPECT_EQ(logic.sectorBuffer(), nullptr);

    window.setText(Field::Label3, " " + std::to_string(kLargestSectorBytes)); // the largest
    logic.Command2_Click();
    EXPECT_EQ(platform.openedDevices.size(), 1u);
    ASSERT_NE(logic.sectorBuffer(), nullptr);
    EXPECT_EQ(logic.sectorBuffer()->size(), kLargestSectorBytes + 1u);
}

TEST_F(Controller, ClickOnTheDriveListDuringAScanDoesNotChangeTheScan)
{
    readyToScan();
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 2)
            window.post([&] { logic.ListView1_ItemClick("C"); });
    };
    logic.Command2_Click();
    EXPECT_EQ(window.text(Field::Label19), "C");
    EXPECT_EQ(window.text(Field::Label14), " 16000000");
    EXPECT_EQ(platform.sectorsRead.size(), 64u); // the scan kept its own total and drive
    EXPECT_EQ(platform.openedDevices, std::vector<std::string>{"\\\\.\\E:"});
    EXPECT_EQ(platform.files.size(), 2u);
}

TEST_F(Controller, SaveFolderIsReadAtEveryFileOpen)
{
    readyToScan();
    platform.folders.insert("/later");
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 10)
            window.setText(Field::Text1, "/later/");
    };
    logic.Command2_Click();
    EXPECT_EQ(platform.createdFiles,
              (std::vector<std::string>{"/save/DD001.JPG", "/later/DD002.JPG"}));
}

TEST_F(Controller, ClosingTheWindowStopsARunningScanAndNothingElse)
{
    readyToScan();
    logic.windowClosing(); // idle: nothing to stop
    EXPECT_EQ(window.driveListFocused, 0);
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 21)
            window.post([&] { logic.windowClosing(); });
    };
    logic.Command2_Click();
    EXPECT_EQ(platform.sectorsRead.size(), 22u);
    EXPECT_EQ(platform.openOutputFiles, 0);
    EXPECT_EQ(logic.stopFlag(), 1);
}

} // namespace
} // namespace velo
