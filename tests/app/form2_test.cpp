// The main window's widgets: its layout, and the wiring of its controls to the logic
// (which tests/app/recoverycontroller_test.cpp covers on its own).

#include "app/form2.h"

#include "app/passcounterlabel.h"
#include "app/slantedline.h"
#include "platform/fake/fakeplatform.h"
#include "tests/support/desktopmachine.h"
#include "tests/support/form2controls.h"
#include "ui/look.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace velo
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
using testing::Form2Controls;

QString qs(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// Runs `inside` on the modal dialog or message box once it is up.
void onceModal(const std::function<void(QWidget*)>& inside)
{
    auto* poll = new QTimer;
    poll->start(5);
    QObject::connect(poll, &QTimer::timeout, [poll, inside] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            inside(modal);
        }
    });
}

struct Form2Fixture : ::testing::Test {
    FakePlatform platform;

    void SetUp() override
    {
        testing::addDesktopDrives(platform);
        testing::addCard(platform, testing::volumeWithStream());
    }
};

TEST_F(Form2Fixture, StartUpFillsTheControlsByTheirNames)
{
    Form2 w(platform);
    const Form2Controls c(w);
    ASSERT_EQ(c.ListView1->topLevelItemCount(), 4);
    EXPECT_EQ(c.ListView1->topLevelItem(0)->text(0), "A");
    EXPECT_EQ(c.ListView1->topLevelItem(0)->text(1), qs("リムーバブルディスク"));
    EXPECT_EQ(c.ListView1->topLevelItem(2)->text(1), qs("CD-ROM"));

    const std::pair<const char*, const char*> fields[] = {
        {"Label13", " C"},          {"Label19", "C"},
        {"Label2", " 8"},           {"Label3", " 512"},
        {"Label4", " 1000000"},     {"Label10", " 2000000"},
        {"Label11", " 8192000000"}, {"Label12", " 4096000000"},
        {"Label14", " 16000000"},   {"Label20", ""}};
    for (const auto& [name, text] : fields)
        EXPECT_EQ(c.label(name)->text(), text) << name;
    EXPECT_EQ(c.Text1->text(), "/opt/velo/");

    EXPECT_FALSE(c.Picture1->isVisibleTo(&w));
    EXPECT_FALSE(c.Command3->isEnabled());
    EXPECT_TRUE(c.Command1->isEnabled() && c.Command2->isEnabled() && c.Command4->isEnabled());
    EXPECT_TRUE(c.Label17->text().isEmpty());
    EXPECT_FALSE(c.label("Label19")->isVisibleTo(&w));
    EXPECT_FALSE(c.Text1->isEnabled()); // nobody types into the save folder
}

TEST_F(Form2Fixture, EachRowsTooltipNamesWhatStandsBehindTheLetter)
{
    FakeDrive& card = platform.addDrive("F", DriveType::Removable);
    card.rootFolder = "/media/card";
    card.details = DriveDetails{"/dev/sdb1", 31914983424u, "Generic SD/MMC"};
    platform.addDrive("G", DriveType::Fixed).details = DriveDetails{"/dev/loop0", 4194304u, ""};
    platform.addDrive("N", DriveType::Network).details =
        DriveDetails{"nas:/photos", std::nullopt, ""};
    platform.addDrive("R", DriveType::RamDisk).details = DriveDetails{"/dev/ram0", 999u, ""};
    Form2 w(platform);
    const Form2Controls c(w);

    const std::map<QString, QString> expected{
        {"A", ""}, // a system that describes nothing more gives no tooltip
        {"F", qs("デバイス: /dev/sdb1\n容量: 31.9 GB\nモデル: Generic SD/MMC\nマウント先: "
                 "/media/card")},
        {"G", qs("デバイス: /dev/loop0\n容量: 4.2 MB\nマウント先: なし")},
        {"N", qs("デバイス: nas:/photos\nマウント先: なし")},
        {"R", qs("デバイス: /dev/ram0\n容量: 999 バイト\nマウント先: なし")}};
    for (const auto& [letter, tip] : expected) {
        const auto rows = c.ListView1->findItems(letter, Qt::MatchExactly, 0);
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows[0]->toolTip(0), tip) << qPrintable(letter);
        EXPECT_EQ(rows[0]->toolTip(1), tip) << qPrintable(letter);
        EXPECT_EQ(rows[0]->columnCount(), 2);
    }
}

TEST_F(Form2Fixture, LayoutFollowsTheTwipsTable)
{
    Form2 w(platform);
    w.show(); // the drive list's header lays out its sections only when shown
    const Form2Controls c(w);
    EXPECT_EQ(w.size(), QSize(look::twipsToPixels(11250), look::twipsToPixels(5310)));
    EXPECT_EQ(c.ListView1->columnWidth(0), look::twipsToPixels(1440));
    EXPECT_EQ(c.ListView1->columnWidth(1), look::twipsToPixels(2540));
    // The slanted line's widget holds both end points, so neither end is clipped.
    const auto* line1 = w.findChild<SlantedLine*>("Line1");
    ASSERT_NE(line1, nullptr);
    EXPECT_TRUE(line1->geometry().contains(line1->from()));
    EXPECT_TRUE(line1->geometry().contains(line1->to()));
    EXPECT_EQ(c.Command2->geometry(), look::twipsRect(1530, 4410, 1845, 765));
    EXPECT_EQ(c.Command4->text(), qs("終\u3000了"));
    EXPECT_EQ(c.label("Label16")->text(), qs("作  成  中"));
    EXPECT_EQ(c.Label17->parentWidget(), c.Picture1);
    // Label5 is one name for two cells: element 1 heads the grid, element 0 is below it.
    auto label5 = w.findChildren<QLabel*>("Label5");
    ASSERT_EQ(label5.size(), 2);
    if (label5[0]->property("index").toInt() == 1)
        std::swap(label5[0], label5[1]);
    EXPECT_EQ(label5[0]->property("index").toInt(), 0);
    EXPECT_EQ(label5[1]->text(), qs(" ドライブ番号"));
    EXPECT_LT(label5[1]->y(), label5[0]->y());
    EXPECT_EQ(label5[0]->text(), qs(" クラスタあたりのセクタ数"));
    EXPECT_EQ(w.windowTitle(), qs("ｖｅｌｏリカバリー"));
}

TEST_F(Form2Fixture, FocusMovesInTheWindowsOrder)
{
    Form2 w(platform);
    const Form2Controls c(w);
    // The widgets that Tab stops at, in chain order, starting from the drive list.
    QStringList order;
    QWidget* at = c.ListView1;
    do {
        if ((at->focusPolicy() & Qt::TabFocus) && at->parentWidget() &&
            (at->parentWidget() == &w || at->parentWidget() == c.Picture1))
            order << at->objectName();
        at = at->nextInFocusChain();
    } while (at != c.ListView1);
    EXPECT_EQ(order, QStringList({"ListView1", "Command3", "Picture1", "Command2", "Command1",
                                  "Command4"}));
}

TEST_F(Form2Fixture, RunButtonScansTheClickedDriveAndShowsItOnThePanel)
{
    Form2 w(platform);
    w.show();
    const Form2Controls c(w);
    c.readyToScan("E");
    bool checkedScanningState = false;
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 3) {
            EXPECT_TRUE(c.Picture1->isVisible());
            EXPECT_TRUE(c.Command3->isEnabled());
            EXPECT_FALSE(c.Command1->isEnabled() || c.Command2->isEnabled() ||
                         c.Command4->isEnabled());
            EXPECT_EQ(c.Label17->text(), "4");
            EXPECT_EQ(c.label("Label20")->text(), " 64");
            EXPECT_TRUE(w.scanning());
            checkedScanningState = true;
        }
    };
    c.Command2->click();

    EXPECT_TRUE(checkedScanningState);
    EXPECT_EQ(platform.openedDevices, std::vector<std::string>{"\\\\.\\E:"});
    EXPECT_EQ(platform.createdFiles,
              (std::vector<std::string>{"/save/DD001.JPG", "/save/DD002.JPG"}));
    EXPECT_EQ(c.Label17->text(), "64");
    EXPECT_FALSE(c.Picture1->isVisible());
    EXPECT_FALSE(c.Command3->isEnabled());
    EXPECT_TRUE(c.Command2->isEnabled() && c.Command1->isEnabled() && c.Command4->isEnabled());
    ASSERT_NE(w.sectorBuffer(), nullptr);
    EXPECT_EQ(w.sectorBuffer()->size(), 513u);
}

TEST_F(Form2Fixture, FocusOnTheStopButtonGoesToTheDriveListWhenTheScanEnds)
{
    Form2 w(platform);
    w.show();
    QApplication::setActiveWindow(&w);
    const Form2Controls c(w);
    c.readyToScan("E");
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 3) // the user tabs to the stop button while the scan runs
            c.Command3->setFocus();
    };
    c.Command2->click();

    EXPECT_FALSE(w.scanning());
    EXPECT_EQ(QApplication::focusWidget(), c.ListView1) // one Enter away from nothing
        << qPrintable(QApplication::focusWidget() ? QApplication::focusWidget()->objectName()
                                                  : QStringLiteral("no widget"));
}

TEST_F(Form2Fixture, StopButtonEndsTheScanAndGivesTheDriveListTheFocus)
{
    Form2 w(platform);
    w.show();
    const Form2Controls c(w);
    c.readyToScan("E");
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 21) {
            c.Command2->setFocus();
            QMetaObject::invokeMethod(c.Command3, "click", Qt::QueuedConnection);
        }
    };
    c.Command2->click();

    EXPECT_EQ(platform.sectorsRead.size(), 22u);
    EXPECT_EQ(platform.openOutputFiles, 0);
    EXPECT_FALSE(c.Command3->isEnabled());
    EXPECT_TRUE(c.Command2->isEnabled() && c.Command1->isEnabled() && c.Command4->isEnabled());
    EXPECT_FALSE(c.Picture1->isVisibleTo(&w));
    EXPECT_EQ(w.focusWidget(), c.ListView1);
}

// The deferred run goes through the toolkit's event loop: it must start after the
// stopped scan has returned, from the loop, not from inside that scan's event step.
TEST_F(Form2Fixture, RunClickedRightAfterStopStartsOnlyOnceTheStoppedScanHasReturned)
{
    Form2 w(platform);
    const Form2Controls c(w);
    c.readyToScan("E");
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 4) {
            QTimer::singleShot(0, c.Command3, &QPushButton::click);
            QTimer::singleShot(0, c.Command2, &QPushButton::click);
        }
    };
    c.Command2->click();
    EXPECT_EQ(platform.openedDevices.size(), 1u);
    QApplication::processEvents(); // the deferred run
    EXPECT_EQ(platform.openedDevices.size(), 2u);
    EXPECT_EQ(platform.sectorsRead.size(), 5u + 64u);
    EXPECT_EQ(platform.openDeviceHandles, 0);
    EXPECT_TRUE(c.Command2->isEnabled());
    EXPECT_FALSE(c.Command3->isEnabled());
}

// A style that asks for icons on dialog buttons, as some desktops' themes do.
class DialogButtonIcons : public QProxyStyle
{
public:
    DialogButtonIcons() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override
    {
        if (hint == SH_DialogButtonBox_ButtonsHaveIcons)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

// The application's style for one test; Fusion, the tests' own, again after it.
struct ApplicationStyle {
    explicit ApplicationStyle(QStyle* style) { QApplication::setStyle(style); } // owns it
    ~ApplicationStyle() { QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion"))); }
};

// The window's messages are plain boxes under its title, and leave it idle with nothing
// carved: a drive that cannot be opened, a save folder on the drive to be scanned.
TEST(Form2Messages, EachIsAPlainMessageBoxAndTheWindowStaysIdle)
{
    const ApplicationStyle style(new DialogButtonIcons); // the OK button must stay plain
    const struct {
        const char* name;
        std::function<void(FakePlatform&)> arrange;
        const char* saveFolder;
        const char* message;
    } cases[] = {
        {"the drive cannot be opened", [](FakePlatform& p) { p.findDrive("E")->canOpen = false; },
         "/save/", "Errore nell'apertura del device E"},
        {"the save folder is on the drive",
         [](FakePlatform& p) {
             p.findDrive("E")->rootFolder = "/media/card";
             p.folders.insert({"/media", "/media/card"});
         },
         "/media/card/", "La cartella di salvataggio si trova sul device E: sceglierne un'altra"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform platform;
        testing::addDesktopDrives(platform);
        testing::addCard(platform, testing::volumeWithStream());
        c.arrange(platform);
        Form2 w(platform);
        const Form2Controls controls(w);
        controls.select("E");
        controls.Text1->setText(c.saveFolder);
        QString text, title;
        QMessageBox::Icon icon = QMessageBox::Warning;
        QMessageBox::StandardButtons buttons;
        bool okHasIcon = true;
        onceModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            text = box->text();
            title = box->windowTitle();
            icon = box->icon();
            buttons = box->standardButtons();
            okHasIcon = !box->button(QMessageBox::Ok)->icon().isNull();
            box->accept();
        });
        controls.Command2->click();
        EXPECT_EQ(text, c.message);
        EXPECT_EQ(title, kApplicationTitle);
        EXPECT_EQ(icon, QMessageBox::NoIcon);
        EXPECT_EQ(buttons, QMessageBox::Ok);
        EXPECT_FALSE(okHasIcon);
        EXPECT_TRUE(controls.Command2->isEnabled());
        EXPECT_TRUE(controls.Command1->isEnabled()); // another folder can be chosen
        EXPECT_FALSE(controls.Picture1->isVisibleTo(&w));
        EXPECT_TRUE(platform.files.empty());
        EXPECT_EQ(controls.Text1->text(), c.saveFolder);
    }
}

TEST_F(Form2Fixture, SaveFolderButtonWritesTheFolderChosenWithOkOnly)
{
    Form2 w(platform);
    const Form2Controls c(w);
    c.Text1->setText("/save/");
    onceModal([](QWidget* dialog) {
        dialog->findChild<QPushButton*>("Command2")->click(); // cancel
    });
    c.Command1->click();
    EXPECT_EQ(c.Text1->text(), "/save/");

    onceModal([](QWidget* dialog) {
        dialog->findChild<QPushButton*>("Command1")->click(); // OK on the process's folder
    });
    c.Command1->click();
    EXPECT_EQ(c.Text1->text(), QDir::currentPath() + '/');
}

TEST_F(Form2Fixture, ClosingTheWindowDuringAScanStopsIt)
{
    Form2 w(platform);
    w.show();
    const Form2Controls c(w);
    c.readyToScan("E");
    platform.beforeRead = [&](std::uint64_t readCount) {
        if (readCount == 21)
            QTimer::singleShot(0, &w, &QWidget::close);
    };
    c.Command2->click();
    EXPECT_EQ(platform.sectorsRead.size(), 22u);
    EXPECT_EQ(platform.openOutputFiles, 0);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(Form2Fixture, ExitButtonEndsTheEventLoop)
{
    Form2 w(platform);
    w.show();
    QTimer::singleShot(0, Form2Controls(w).Command4, &QPushButton::click);
    EXPECT_EQ(QApplication::exec(), 0);
}

TEST_F(Form2Fixture, DumpShowsTheLastSectorReadInPlaceOfTheSaveFolder)
{
    FakeDrive& e = *platform.findDrive("E");
    e.volumeBytes.assign(4 * 512, 0x41);
    e.volumeBytes[3 * 512] = 0x0A;
    e.freeSpace = DiskFreeSpace{1, 512, 0, 4};
    Form2 w(platform);
    const Form2Controls c(w);
    EXPECT_THROW(w.DUMP(), std::out_of_range); // no sector read yet
    EXPECT_EQ(c.Text1->text(), "/opt/velo/");

    c.readyToScan("E");
    c.Command2->click();
    w.DUMP();
    const QStringList lines = c.Text1->text().split("\r\n");
    ASSERT_EQ(lines.size(), 33); // 32 lines, each ending in CR LF
    EXPECT_EQ(lines[0], "000 0A 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41  .AAAAAAAAAAAAAAA");
    EXPECT_EQ(lines[31].left(4), "1F0 ");
    EXPECT_EQ(c.Text1->font().family(), "Courier");
    EXPECT_EQ(c.Text1->font().pointSizeF(), 8.0);
}

// The drive list keeps the system's colours where the window is green: its header past
// the last column, and its frame.
TEST_F(Form2Fixture, DriveListHeaderAndFrameAreInTheSystemsColours)
{
    Form2 w(platform);
    const Form2Controls c(w);
    const QImage list = c.ListView1->grab().toImage();
    const int headerHeight = c.ListView1->header()->height();
    ASSERT_GT(c.ListView1->width(), c.ListView1->header()->length() + 8)
        << "no room past the columns";
    const std::map<std::string, QPoint> places{
        {"header past the last column", {list.width() - 4, headerHeight / 2}},
        {"left edge of the frame", {0, list.height() / 2}},
        {"bottom edge of the frame", {list.width() / 2, list.height() - 1}},
    };
    for (const auto& [name, at] : places) {
        const QColor got = list.pixelColor(at);
        SCOPED_TRACE(name + ": " + got.name().toStdString());
        // The system's colours are greys; the window's ground is a pale green.
        EXPECT_LE(std::abs(got.green() - got.red()), 8);
        EXPECT_LE(std::abs(got.green() - got.blue()), 8);
    }
}

struct ButtonLook {
    const char* name;
    bool pressed;
    bool focused;
};

class ButtonFace : public ::testing::TestWithParam<ButtonLook>
{
};

// A button drawn by the window's style, as it paints it: the bevel's outer ring on the
// last row and column (no face colour showing past it), and with the focus, a dotted
// rectangle three pixels inside the edge.
TEST_P(ButtonFace, BevelReachesTheEdgeAndFocusIsDotted)
{
    FakePlatform platform;
    Form2 w(platform);
    const Form2Controls c(w);
    QPushButton* button = c.Command4;
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.state |= QStyle::State_Enabled;
    option.state &= ~QStyle::State_HasFocus;
    if (GetParam().pressed)
        option.state |= QStyle::State_Sunken;
    if (GetParam().focused)
        option.state |= QStyle::State_HasFocus;
    QImage image(button->size(), QImage::Format_RGB32);
    image.fill(Qt::green);
    {
        QPainter painter(&image);
        button->style()->drawControl(QStyle::CE_PushButton, &option, &painter, button);
    }
    const int W = image.width(), H = image.height();
    const QColor outerBottomRight = GetParam().pressed ? Qt::white : Qt::black;
    for (int y = 1; y < H - 1; ++y)
        ASSERT_EQ(image.pixelColor(W - 1, y), outerBottomRight) << "right edge, y " << y;
    for (int x = 1; x < W - 1; ++x)
        ASSERT_EQ(image.pixelColor(x, H - 1), outerBottomRight) << "bottom edge, x " << x;

    // Along the top and left of the focus rectangle, where no caption reaches.
    constexpr int inset = 3;
    int dots = 0, gaps = 0;
    auto look = [&](int x, int y) {
        const bool black = image.pixelColor(x, y) == QColor(Qt::black);
        const bool shouldBe = GetParam().focused && (x - inset + y - inset) % 2 == 0;
        EXPECT_EQ(black, shouldBe) << "at " << x << "," << y;
        (black ? dots : gaps) += 1;
    };
    for (int x = inset; x <= W - 1 - inset; ++x)
        look(x, inset);
    for (int y = inset + 1; y < H / 4; ++y)
        look(inset, y);
    EXPECT_GT(gaps, 0);
    EXPECT_EQ(dots > 0, GetParam().focused);
}

INSTANTIATE_TEST_SUITE_P(Form2, ButtonFace,
                         ::testing::Values(ButtonLook{"Up", false, false},
                                           ButtonLook{"UpWithFocus", false, true},
                                           ButtonLook{"Pressed", true, false},
                                           ButtonLook{"PressedWithFocus", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

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
