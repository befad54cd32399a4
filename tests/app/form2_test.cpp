#include "app/form2.h"

#include "app/look.h"
#include "app/module1.h"
#include "app/passcounterlabel.h"
#include "app/slantedline.h"
#include "platform/fake/fakeplatform.h"
#include "scan/stopflag.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <map>

namespace velo
{
namespace
{

using Bytes = std::vector<std::uint8_t>;

QString qs(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

struct Form2Fixture : ::testing::Test {
    FakePlatform platform;

    void SetUp() override
    {
        FakeDrive& a = platform.addDrive("A", 1);
        (void)a;
        FakeDrive& c = platform.addDrive("C", 2);
        c.freeSpace = DiskFreeSpace{8, 512, 1000000, 2000000};
        platform.addDrive("D", 4); // a CD drive with no disc: its query fails
        platform.programFolderPath = "/opt/velo";
        platform.folders.insert("/opt");
        platform.folders.insert("/opt/velo");
        platform.folders.insert("/save");
    }

    // A drive E holding a volume of `sectors` sectors of 512 bytes.
    FakeDrive& volumeDrive(const Bytes& bytes)
    {
        FakeDrive& e = platform.addDrive("E", 1);
        e.volumeBytes = bytes;
        e.freeSpace = DiskFreeSpace{1, 512, 0, std::int64_t(bytes.size() / 512)};
        return e;
    }

    // Drive E selected, carved files going to /save/.
    void readyToScan(Form2& w)
    {
        select(w, "E");
        w.Text1->setText("/save/");
    }

    void select(Form2& w, const QString& letter)
    {
        const auto items = w.ListView1->findItems(letter, Qt::MatchExactly, 0);
        ASSERT_EQ(items.size(), 1);
        emit w.ListView1->itemClicked(items.front(), 0);
    }
};

TEST_F(Form2Fixture, StartUpShowsDrivesGeometryOfCAndTheIdleState)
{
    Form2 w(platform);
    ASSERT_EQ(w.ListView1->topLevelItemCount(), 3);
    EXPECT_EQ(w.ListView1->topLevelItem(0)->text(0), "A");
    EXPECT_EQ(w.ListView1->topLevelItem(0)->text(1), qs("リムーバブルディスク"));
    EXPECT_EQ(w.ListView1->topLevelItem(1)->text(1), qs("ハードディスク"));
    EXPECT_EQ(w.ListView1->topLevelItem(2)->text(1), qs("CD-ROM"));

    EXPECT_EQ(w.Label13->text(), " C");
    EXPECT_EQ(w.Label19->text(), "C");
    EXPECT_EQ(w.Label2->text(), " 8");
    EXPECT_EQ(w.Label3->text(), " 512");
    EXPECT_EQ(w.Label4->text(), " 1000000");
    EXPECT_EQ(w.Label10->text(), " 2000000");
    EXPECT_EQ(w.Label11->text(), " 8192000000");
    EXPECT_EQ(w.Label12->text(), " 4096000000");
    EXPECT_EQ(w.Label14->text(), " 16000000");
    EXPECT_EQ(w.Text1->text(), "/opt/velo/");
    EXPECT_EQ(platform.freeSpaceQueries.front(), "C:/");

    EXPECT_FALSE(w.Picture1->isVisibleTo(&w));
    EXPECT_FALSE(w.Command3->isEnabled());
    EXPECT_TRUE(w.Command1->isEnabled() && w.Command2->isEnabled() && w.Command4->isEnabled());
    EXPECT_TRUE(w.Label17->text().isEmpty());
    EXPECT_TRUE(w.Label20->text().isEmpty());
    EXPECT_FALSE(w.Label19->isVisibleTo(&w));
    EXPECT_FALSE(w.Text1->isEnabled()); // nobody types into the save folder
    EXPECT_EQ(platformFlag, 0);
}

TEST_F(Form2Fixture, DriveTypeCodesOutsideTheTableLeaveTheColumnEmpty)
{
    platform.addDrive("F", 0);
    platform.addDrive("G", 9);
    platform.addDrive("H", 5);
    platform.addDrive("N", 3);
    Form2 w(platform);
    EXPECT_EQ(w.ListView1->topLevelItem(3)->text(1), qs("不明"));
    EXPECT_EQ(w.ListView1->topLevelItem(4)->text(1), "");
    EXPECT_EQ(w.ListView1->topLevelItem(5)->text(1), qs("RAMディスク"));
    EXPECT_EQ(w.ListView1->topLevelItem(6)->text(1), qs("ネットワークドライブ"));
}

TEST_F(Form2Fixture, EachRowsTooltipNamesWhatStandsBehindTheLetter)
{
    FakeDrive& card = platform.addDrive("F", 1);
    card.rootFolder = "/media/card";
    card.details = DriveDetails{"/dev/sdb1", 31914983424u, "Generic SD/MMC"};
    platform.addDrive("G", 2).details = DriveDetails{"/dev/loop0", 4194304u, ""};
    platform.addDrive("N", 3).details = DriveDetails{"nas:/photos", std::nullopt, ""};
    platform.addDrive("R", 5).details = DriveDetails{"/dev/ram0", 999u, ""};
    Form2 w(platform);

    const std::map<QString, QString> expected{
        {"A", ""}, // a system that describes nothing more gives no tooltip
        {"F", qs("デバイス: /dev/sdb1\n容量: 31.9 GB\nモデル: Generic SD/MMC\nマウント先: "
                 "/media/card")},
        {"G", qs("デバイス: /dev/loop0\n容量: 4.2 MB\nマウント先: なし")},
        {"N", qs("デバイス: nas:/photos\nマウント先: なし")},
        {"R", qs("デバイス: /dev/ram0\n容量: 999 バイト\nマウント先: なし")}};
    for (const auto& [letter, tip] : expected) {
        const auto rows = w.ListView1->findItems(letter, Qt::MatchExactly, 0);
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows[0]->toolTip(0), tip) << qPrintable(letter);
        EXPECT_EQ(rows[0]->toolTip(1), tip) << qPrintable(letter);
        EXPECT_EQ(rows[0]->columnCount(), 2);
    }
}

TEST_F(Form2Fixture, MachineWithoutDriveCStillStarts)
{
    platform.driveList.erase(platform.driveList.begin() + 1);
    platform.programFolderPath = "/";
    Form2 w(platform);
    EXPECT_EQ(w.Label13->text(), " C");
    EXPECT_EQ(w.Label19->text(), "C");
    for (QLabel* field : {w.Label2, w.Label3, w.Label4, w.Label10, w.Label11, w.Label12, w.Label14})
        EXPECT_EQ(field->text(), " 0") << field->objectName().toStdString();
    EXPECT_EQ(w.Text1->text(), "//"); // the separator is appended without looking
}

TEST_F(Form2Fixture, ClickingARowSelectsItsDriveAndReplacesEveryGeometryField)
{
    Form2 w(platform);
    select(w, "D");
    EXPECT_EQ(w.Label13->text(), " D");
    EXPECT_EQ(w.Label19->text(), "D");
    for (QLabel* field : {w.Label2, w.Label3, w.Label4, w.Label10, w.Label11, w.Label12, w.Label14})
        EXPECT_EQ(field->text(), " 0");
    select(w, "C");
    select(w, "C");
    EXPECT_EQ(w.Label14->text(), " 16000000");
    EXPECT_EQ(std::count(platform.freeSpaceQueries.begin(), platform.freeSpaceQueries.end(), "C:/"),
              3);
}

TEST_F(Form2Fixture, PlatformFlagFollowsTheFamily)
{
    platform.platformId = kPlatformWin9x;
    {
        Form2 w(platform);
        EXPECT_EQ(platformFlag, 1);
    }
    platform.platformId = kPlatformNt;
    {
        Form2 w(platform);
        EXPECT_EQ(platformFlag, 0);
    }
}

TEST_F(Form2Fixture, LayoutFollowsTheTwipsTable)
{
    Form2 w(platform);
    w.show(); // the drive list's header lays out its sections only when shown
    EXPECT_EQ(w.size(), QSize(look::twipsToPixels(11250), look::twipsToPixels(5310)));
    EXPECT_EQ(w.ListView1->columnWidth(0), look::twipsToPixels(1440));
    EXPECT_EQ(w.ListView1->columnWidth(1), look::twipsToPixels(2540));
    // The slanted line's widget holds both end points, so neither end is clipped.
    EXPECT_TRUE(w.Line1->geometry().contains(w.Line1->from()));
    EXPECT_TRUE(w.Line1->geometry().contains(w.Line1->to()));
    EXPECT_EQ(w.Command2->geometry(), look::twipsRect(1530, 4410, 1845, 765));
    EXPECT_EQ(w.Command4->text(), qs("終\u3000了"));
    EXPECT_EQ(w.Label16->text(), qs("作  成  中"));
    EXPECT_EQ(w.Label17->parentWidget(), w.Picture1);
    // Label5 is one name for two cells: element 1 heads the grid, element 0 is below it.
    const auto label5 = w.findChildren<QLabel*>("Label5");
    ASSERT_EQ(label5.size(), 2);
    EXPECT_EQ(w.Label5[1]->property("index").toInt(), 1);
    EXPECT_EQ(w.Label5[1]->text(), qs(" ドライブ番号"));
    EXPECT_LT(w.Label5[1]->y(), w.Label5[0]->y());
    EXPECT_EQ(w.Label5[0]->text(), qs(" クラスタあたりのセクタ数"));
    EXPECT_EQ(w.windowTitle(), qs("ｖｅｌｏリカバリー"));
}

TEST_F(Form2Fixture, FocusMovesInTheWindowsOrder)
{
    Form2 w(platform);
    // The widgets that Tab stops at, in chain order, starting from the drive list.
    QStringList order;
    QWidget* at = w.ListView1;
    do {
        if ((at->focusPolicy() & Qt::TabFocus) && at->parentWidget() &&
            (at->parentWidget() == &w || at->parentWidget() == w.Picture1))
            order << at->objectName();
        at = at->nextInFocusChain();
    } while (at != w.ListView1);
    EXPECT_EQ(order, QStringList({"ListView1", "Command3", "Picture1", "Command2", "Command1",
                                  "Command4"}));
}

Bytes volumeWithStream()
{
    Bytes v(64 * 512, 0x11);
    v[5 * 512] = 0xFF, v[5 * 512 + 1] = 0xD8, v[5 * 512 + 2] = 0xFF;
    v[7 * 512 + 98] = 0xFF, v[7 * 512 + 99] = 0xD9;
    std::fill(v.begin() + 7 * 512 + 100, v.begin() + 7 * 512 + 111, 0);
    v[20 * 512] = 0xFF, v[20 * 512 + 1] = 0xD8, v[20 * 512 + 2] = 0xFF; // open at the end
    return v;
}

TEST_F(Form2Fixture, ScanCarvesIntoTheSaveFolderAndShowsItsProgress)
{
    const Bytes v = volumeWithStream();
    FakeDrive& e = volumeDrive(v);
    Form2 w(platform);
    w.show();
    readyToScan(w);
    bool checkedScanningState = false;
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 3) {
            EXPECT_TRUE(w.Picture1->isVisible());
            EXPECT_TRUE(w.Command3->isEnabled());
            EXPECT_FALSE(w.Command1->isEnabled() || w.Command2->isEnabled() ||
                         w.Command4->isEnabled());
            EXPECT_EQ(w.Label17->text(), "4");
            EXPECT_EQ(w.Label20->text(), " 64");
            checkedScanningState = true;
        }
    };
    w.Command2->click();

    EXPECT_TRUE(checkedScanningState);
    EXPECT_EQ(platform.files.at("/save/DD001.JPG"),
              Bytes(v.begin() + 5 * 512, v.begin() + 7 * 512 + 100));
    EXPECT_EQ(platform.files.at("/save/DD002.JPG"), Bytes(v.begin() + 20 * 512, v.end()));
    EXPECT_EQ(platform.openOutputFiles, 0);
    EXPECT_EQ(platform.openDeviceHandles, 0);
    EXPECT_EQ(platform.openedDevices.back(), "\\\\.\\E:");
    EXPECT_EQ(w.Label17->text(), "64");
    EXPECT_FALSE(w.Picture1->isVisible());
    EXPECT_FALSE(w.Command3->isEnabled());
    EXPECT_TRUE(w.Command2->isEnabled() && w.Command1->isEnabled() && w.Command4->isEnabled());
    ASSERT_NE(w.sectorBuffer(), nullptr);
    EXPECT_EQ(w.sectorBuffer()->size(), 513u);
    EXPECT_EQ(w.sectorBuffer()->back(), 0);
    (void)e;
}

TEST_F(Form2Fixture, FocusOnTheStopButtonGoesToTheDriveListWhenTheScanEnds)
{
    volumeDrive(volumeWithStream());
    Form2 w(platform);
    w.show();
    QApplication::setActiveWindow(&w);
    readyToScan(w);
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 3) // the user tabs to the stop button while the scan runs
            w.Command3->setFocus();
    };
    w.Command2->click();

    EXPECT_FALSE(w.scanning());
    EXPECT_EQ(QApplication::focusWidget(), w.ListView1) // one Enter away from nothing
        << qPrintable(QApplication::focusWidget() ? QApplication::focusWidget()->objectName()
                                                  : QStringLiteral("no widget"));
}

TEST_F(Form2Fixture, StopClickedDuringAPassEndsTheScanBeforeTheNextRead)
{
    const Bytes v = volumeWithStream();
    volumeDrive(v);
    Form2 w(platform);
    readyToScan(w);
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 21) // the click arrives in the next pass's event step
            QMetaObject::invokeMethod(w.Command3, "click", Qt::QueuedConnection);
    };
    w.Command2->click();

    EXPECT_EQ(platform.sectorsRead.size(), 22u);
    EXPECT_EQ(platform.files.at("/save/DD002.JPG"),
              Bytes(v.begin() + 20 * 512, v.begin() + 22 * 512));
    EXPECT_EQ(platform.openOutputFiles, 0);
    EXPECT_EQ(platform.openDeviceHandles, 0);
    EXPECT_EQ(stopFlag, 1);
    EXPECT_FALSE(w.Command3->isEnabled());
    EXPECT_TRUE(w.Command2->isEnabled() && w.Command1->isEnabled() && w.Command4->isEnabled());
    EXPECT_FALSE(w.Picture1->isVisibleTo(&w));
}

TEST_F(Form2Fixture, RunClickedRightAfterStopStartsOnlyOnceTheStoppedScanHasReturned)
{
    const Bytes v = volumeWithStream();
    volumeDrive(v);
    FakeDrive& big = platform.addDrive("F", 1);
    big.volumeBytes = Bytes(8 * 4096, 0x22);
    big.sectorBytes = 4096;
    big.freeSpace = DiskFreeSpace{1, 4096, 0, 8};
    Form2 w(platform);
    readyToScan(w);
    std::uint64_t readsAtSecondStart = 0;
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 4) {
            // Stop, another drive with larger sectors, and run: all in one event step.
            QTimer::singleShot(0, w.Command3, &QPushButton::click);
            QTimer::singleShot(0, [&] { select(w, "F"); });
            QTimer::singleShot(0, w.Command2, &QPushButton::click);
        }
        if (platform.openedDevices.size() == 2 && readsAtSecondStart == 0)
            readsAtSecondStart = readCount;
    };
    w.Command2->click();
    QApplication::processEvents(); // the deferred run
    // The first scan read five sectors of E and stopped; then F was scanned whole.
    EXPECT_EQ(platform.openedDevices, (std::vector<std::string>{"\\\\.\\E:", "\\\\.\\F:"}));
    EXPECT_EQ(readsAtSecondStart, 5u);
    EXPECT_EQ(platform.sectorsRead.size(), 5u + 8u);
    EXPECT_EQ(platform.openDeviceHandles, 0);
    EXPECT_TRUE(w.Command2->isEnabled());
    EXPECT_FALSE(w.Command3->isEnabled());
}

TEST_F(Form2Fixture, StopBeforeTheFirstPassReadsNothing)
{
    volumeDrive(volumeWithStream());
    Form2 w(platform);
    select(w, "E");
    // Queued before the run: it is handled in the scan's first event step.
    QMetaObject::invokeMethod(w.Command3, "click", Qt::QueuedConnection);
    w.SYST();
    EXPECT_TRUE(platform.sectorsRead.empty());
    EXPECT_EQ(platform.openDeviceHandles, 0);
    EXPECT_TRUE(platform.files.empty());
}

TEST_F(Form2Fixture, OpenFailureShowsTheMessageAndReturnsToIdle)
{
    FakeDrive& e = volumeDrive(volumeWithStream());
    e.canOpen = false;
    Form2 w(platform);
    select(w, "E");
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QMessageBox::StandardButtons buttons;
    QTimer poll;
    poll.start(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        text = box->text();
        title = box->windowTitle();
        icon = box->icon();
        buttons = box->standardButtons();
        box->accept();
    });
    w.Command2->click();
    EXPECT_EQ(text, "Errore nell'apertura del device E");
    EXPECT_EQ(title, kApplicationTitle);
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, QMessageBox::Ok);
    EXPECT_TRUE(platform.createdFolders.empty()); // no DAT folder without a volume
    EXPECT_TRUE(w.Command2->isEnabled());
    EXPECT_FALSE(w.Command3->isEnabled());
    EXPECT_FALSE(w.Picture1->isVisibleTo(&w));
}

TEST_F(Form2Fixture, ClickOnTheDriveListDuringAScanDoesNotChangeTheScan)
{
    const Bytes v = volumeWithStream();
    volumeDrive(v);
    Form2 w(platform);
    readyToScan(w);
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 2)
            QTimer::singleShot(0, [&] { select(w, "C"); });
    };
    w.Command2->click();
    EXPECT_EQ(w.Label19->text(), "C");
    EXPECT_EQ(w.Label14->text(), " 16000000");
    EXPECT_EQ(platform.sectorsRead.size(), 64u); // the scan kept its own total and drive
    EXPECT_EQ(platform.openedDevices, std::vector<std::string>{"\\\\.\\E:"});
    EXPECT_EQ(platform.files.size(), 2u);
}

TEST_F(Form2Fixture, ClosingTheWindowDuringAScanStopsIt)
{
    volumeDrive(volumeWithStream());
    Form2 w(platform);
    w.show();
    readyToScan(w);
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 21)
            QTimer::singleShot(0, &w, &QWidget::close);
    };
    w.Command2->click();
    EXPECT_EQ(platform.sectorsRead.size(), 22u);
    EXPECT_EQ(platform.openOutputFiles, 0);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(Form2Fixture, ExitButtonEndsTheEventLoop)
{
    Form2 w(platform);
    w.show();
    QTimer::singleShot(0, w.Command4, &QPushButton::click);
    EXPECT_EQ(QApplication::exec(), 0);
}

TEST_F(Form2Fixture, DumpShowsTheLastSectorReadInPlaceOfTheSaveFolder)
{
    Bytes v(4 * 512, 0x41);
    v[3 * 512] = 0x0A;
    volumeDrive(v);
    Form2 w(platform);
    EXPECT_THROW(w.DUMP(), std::out_of_range); // no sector read yet
    EXPECT_EQ(w.Text1->text(), "/opt/velo/");

    readyToScan(w);
    w.Command2->click();
    w.DUMP();
    const QStringList lines = w.Text1->text().split("\r\n");
    ASSERT_EQ(lines.size(), 33); // 32 lines, each ending in CR LF
    EXPECT_EQ(lines[0], "000 0A 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41  .AAAAAAAAAAAAAAA");
    EXPECT_EQ(lines[31].left(4), "1F0 ");
    EXPECT_EQ(w.Text1->font().family(), "Courier");
    EXPECT_EQ(w.Text1->font().pointSizeF(), 8.0);
}

TEST(PassCounterLabel, TextFollowsEveryNumberEvenWhenRepaintsAreHeldBack)
{
    PassCounterLabel label;
    for (quint64 i = 1; i <= 1000; ++i) {
        label.setPassNumber(i);
        ASSERT_EQ(label.text(), QString::number(i));
    }
    label.setText("");
    EXPECT_TRUE(label.text().isEmpty());
}

} // namespace
} // namespace velo
