#include "app/look.h"
#include "dialogs/folderlistbox.h"
#include "dialogs/form1.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

// Failure output that shows paths as text.
void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace
{

using velo::FolderListBox;
using velo::Form1;

// Only the drive list and the separator matter to the dialog.
class DrivesOnly : public velo::Platform
{
public:
    std::vector<velo::DriveInfo> driveList;

    std::uint32_t platformIdentifier() override { return velo::kPlatformNt; }
    std::vector<velo::DriveInfo> drives() override { return driveList; }
    std::optional<velo::DiskFreeSpace> diskFreeSpace(const std::string&) override { return {}; }
    std::unique_ptr<velo::DeviceHandle> openDevice(const std::string&) override { return {}; }
    std::string programFolder() override { return "/"; }
    char pathSeparator() const override { return '/'; }
    bool createFolder(const std::string&) override { return false; }
    std::unique_ptr<velo::OutputFile> createOutputFile(const std::string&) override { return {}; }
};

enum Drive { kSystem, kStick, kEmptySlot, kGone };

class Form1Test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        base = QDir::cleanPath(tmp.path());
        QDir dir(base);
        for (const char* path :
             {"work/photos/2003", "work/photos/2004", "stick/DCIM/100CANON", "stick/MISC"})
            ASSERT_TRUE(dir.mkpath(QLatin1String(path)));
        work = base + QStringLiteral("/work");
        stick = base + QStringLiteral("/stick");
        platform.driveList = {
            {"c", 2, "/"},
            {"d", 1, stick.toStdString()},
            {"e", 1, ""},                                             // nothing mounted
            {"f", 3, (base + QStringLiteral("/gone")).toStdString()}, // mount point missing
        };
        previousFolder = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(work));
        text1.setText(QStringLiteral("/old/save/folder/"));
    }

    void TearDown() override { QDir::setCurrent(previousFolder); }

    std::unique_ptr<Form1> open()
    {
        auto dialog = std::make_unique<Form1>(platform, text1);
        return dialog;
    }

    static QComboBox* drive1(QWidget* d) { return d->findChild<QComboBox*>("Drive1"); }
    static FolderListBox* dir1(QWidget* d) { return d->findChild<FolderListBox*>("Dir1"); }
    static QPushButton* command1(QWidget* d) { return d->findChild<QPushButton*>("Command1"); }
    static QPushButton* command2(QWidget* d) { return d->findChild<QPushButton*>("Command2"); }

    static QListWidgetItem* line(QWidget* d, const QString& path)
    {
        QListWidget* list = dir1(d);
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->data(FolderListBox::kPathRole).toString() == path)
                return list->item(i);
        return nullptr;
    }

    static void doubleClick(QWidget* d, const QString& path)
    {
        QListWidgetItem* item = line(d, path);
        ASSERT_NE(item, nullptr) << path.toStdString();
        QListWidget* list = dir1(d);
        d->show(); // a hidden list takes no mouse
        // What a real double-click delivers: press and release, then the double-click.
        const QPoint at = list->visualItemRect(item).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    }

    // Runs Form1::showFor and, once the dialog is up, `inside` with it.
    void showForWith(const std::function<void(Form1*)>& inside)
    {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<Form1*>(QApplication::activeModalWidget());
            ran = true;
            if (dialog == nullptr) {
                ADD_FAILURE() << "no modal dialog up";
                return;
            }
            inside(dialog);
        });
        Form1::showFor(platform, text1);
        EXPECT_TRUE(ran);
        for (QWidget* w : QApplication::topLevelWidgets())
            EXPECT_EQ(qobject_cast<Form1*>(w), nullptr) << "dialog left behind";
    }

    QTemporaryDir tmp;
    QString base, work, stick, previousFolder;
    DrivesOnly platform;
    QLineEdit text1;
};

TEST_F(Form1Test, OpensOnTheProcessFolderAndDrive)
{
    const auto dialog = open();
    EXPECT_EQ(dir1(dialog.get())->path(), work);
    EXPECT_EQ(drive1(dialog.get())->currentIndex(), kSystem);
    EXPECT_EQ(drive1(dialog.get())->count(), 4);
    EXPECT_EQ(drive1(dialog.get())->itemText(kSystem), QStringLiteral("c: [/]"));
    EXPECT_EQ(drive1(dialog.get())->itemText(kEmptySlot), QStringLiteral("e:"));
    // The open folder is highlighted, its subfolder listed below it.
    EXPECT_EQ(dir1(dialog.get())->currentItem(), line(dialog.get(), work));
    EXPECT_NE(line(dialog.get(), work + QStringLiteral("/photos")), nullptr);
}

TEST_F(Form1Test, OpensOnTheDriveHoldingTheProcessFolder)
{
    ASSERT_TRUE(QDir::setCurrent(stick + QStringLiteral("/DCIM")));
    const auto dialog = open();
    EXPECT_EQ(dir1(dialog.get())->path(), stick + QStringLiteral("/DCIM"));
    EXPECT_EQ(drive1(dialog.get())->currentIndex(), kStick);
}

TEST_F(Form1Test, OkBelowARootAddsTheSeparator)
{
    const auto dialog = open();
    command1(dialog.get())->click();
    EXPECT_EQ(text1.text(), work + u'/');
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
}

TEST_F(Form1Test, OkOnTheRootKeepsItsOwnSeparator)
{
    ASSERT_TRUE(QDir::setCurrent(QStringLiteral("/")));
    const auto dialog = open();
    command1(dialog.get())->click();
    EXPECT_EQ(text1.text(), QStringLiteral("/"));
}

TEST_F(Form1Test, ChangingDriveMovesTheFolderListToItsRoot)
{
    const auto dialog = open();
    drive1(dialog.get())->setCurrentIndex(kStick);
    EXPECT_EQ(dir1(dialog.get())->path(), stick);
    EXPECT_NE(line(dialog.get(), stick + QStringLiteral("/DCIM")), nullptr);
    command1(dialog.get())->click();
    EXPECT_EQ(text1.text(), stick + u'/');
}

TEST_F(Form1Test, DoubleClickOpensAFolder)
{
    const auto dialog = open();
    const QString photos = work + QStringLiteral("/photos");
    doubleClick(dialog.get(), photos);
    EXPECT_EQ(dir1(dialog.get())->path(), photos);
    ASSERT_NE(line(dialog.get(), photos + QStringLiteral("/2004")), nullptr);

    doubleClick(dialog.get(), base); // an ancestor opens too
    EXPECT_EQ(dir1(dialog.get())->path(), base);
    EXPECT_EQ(line(dialog.get(), photos), nullptr);
    command1(dialog.get())->click();
    EXPECT_EQ(text1.text(), base + u'/');
}

TEST_F(Form1Test, ClickAndArrowKeysOnlyHighlight)
{
    const auto dialog = open();
    dialog->show();
    FolderListBox* list = dir1(dialog.get());
    const QString photos = work + QStringLiteral("/photos");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(line(dialog.get(), photos)).center());
    EXPECT_EQ(list->currentItem(), line(dialog.get(), photos));
    QTest::keyClick(list, Qt::Key_Up);
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_EQ(list->currentItem(), line(dialog.get(), base));
    EXPECT_EQ(list->path(), work);
    command1(dialog.get())->click();
    EXPECT_EQ(text1.text(), work + u'/');
}

TEST_F(Form1Test, CancelLeavesTheFieldAlone)
{
    const auto dialog = open();
    drive1(dialog.get())->setCurrentIndex(kStick);
    doubleClick(dialog.get(), stick + QStringLiteral("/DCIM"));
    ASSERT_EQ(dir1(dialog.get())->path(), stick + QStringLiteral("/DCIM"));
    command2(dialog.get())->click();
    EXPECT_EQ(text1.text(), QStringLiteral("/old/save/folder/"));
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

// A drive that cannot be read leaves the folder list where it was and puts the drive
// list back on the drive holding that folder, which need not be the one shown before.
class Form1UnreadableDrive : public Form1Test, public ::testing::WithParamInterface<Drive>
{
};

TEST_P(Form1UnreadableDrive, KeepsTheFolderAndPutsTheDriveBack)
{
    const auto dialog = open();
    drive1(dialog.get())->setCurrentIndex(kStick);
    doubleClick(dialog.get(), base); // on the system drive, while the list still says d:
    ASSERT_EQ(drive1(dialog.get())->currentIndex(), kStick);

    drive1(dialog.get())->setCurrentIndex(GetParam());
    EXPECT_EQ(dir1(dialog.get())->path(), base);
    EXPECT_EQ(drive1(dialog.get())->currentIndex(), kSystem);

    // and the dialog still works
    drive1(dialog.get())->setCurrentIndex(kStick);
    EXPECT_EQ(dir1(dialog.get())->path(), stick);
}

INSTANTIATE_TEST_SUITE_P(Drives, Form1UnreadableDrive, ::testing::Values(kEmptySlot, kGone),
                         [](const auto& info) {
                             return std::string(info.param == kEmptySlot ? "nothingMounted"
                                                                         : "rootMissing");
                         });

TEST_F(Form1Test, EscapeAndEnterDoNotCloseIt)
{
    const auto dialog = open();
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
    for (QWidget* target :
         std::initializer_list<QWidget*>{dialog.get(), drive1(dialog.get()), dir1(dialog.get()),
                                         command1(dialog.get()), command2(dialog.get())}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
        EXPECT_TRUE(dialog->isVisible()) << target->objectName().toStdString();
    }
    EXPECT_EQ(text1.text(), QStringLiteral("/old/save/folder/"));
    for (QPushButton* button : {command1(dialog.get()), command2(dialog.get())}) {
        EXPECT_FALSE(button->autoDefault());
        EXPECT_FALSE(button->isDefault());
    }
}

TEST_F(Form1Test, TabGoesDriveFoldersOkCancel)
{
    const auto dialog = open();
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    QStringList order;
    for (int i = 0; i < 5; ++i) {
        order << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(order.join(u' '), QStringLiteral("Drive1 Dir1 Command1 Command2 Drive1"));
}

TEST_F(Form1Test, WindowAndControlsLookAsDesigned)
{
    const auto dialog = open();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("保存先指定"));
    EXPECT_FALSE(dialog->windowIcon().isNull());
    const QSize client(velo::look::twipsToPixels(5340), velo::look::twipsToPixels(5400));
    EXPECT_EQ(dialog->minimumSize(), client);
    EXPECT_EQ(dialog->maximumSize(), client);
    EXPECT_EQ(dialog->palette().color(QPalette::Window), QColor(192, 255, 192));

    struct Control {
        QWidget* widget;
        QRect twips;
        double points;
    };
    const Control controls[] = {
        {drive1(dialog.get()), {360, 450, 4395, 360}, 12},
        {dir1(dialog.get()), {360, 930, 4395, 2895}, 11.25},
        {command1(dialog.get()), {570, 4350, 1695, 765}, 14.25},
        {command2(dialog.get()), {2910, 4350, 1695, 765}, 14.25},
    };
    for (const Control& c : controls) {
        ASSERT_NE(c.widget, nullptr);
        SCOPED_TRACE(c.widget->objectName().toStdString());
        const QRect& t = c.twips;
        EXPECT_EQ(c.widget->geometry(), velo::look::twipsRect(t.x(), t.y(), t.width(), t.height()));
        EXPECT_EQ(c.widget->font().pointSizeF(), c.points);
        EXPECT_FALSE(c.widget->font().bold());
        EXPECT_EQ(c.widget->font().families(),
                  velo::look::windowFont(velo::look::Face::PGothic, 12, false).families());
    }
    EXPECT_EQ(command1(dialog.get())->text(), QStringLiteral("Ｏ\u3000Ｋ"));
    EXPECT_EQ(command2(dialog.get())->text(), QStringLiteral("キャンセル"));
    for (QPushButton* button : {command1(dialog.get()), command2(dialog.get())})
        EXPECT_EQ(button->palette().color(QPalette::Button), QColor(192, 192, 255));
}

TEST_F(Form1Test, ShowForIsModalWithoutOwnerAndHandsBackTheFolder)
{
    showForWith([&](Form1* dialog) {
        EXPECT_EQ(dialog->parentWidget(), nullptr);
        EXPECT_EQ(dialog->windowModality(), Qt::ApplicationModal);
        EXPECT_TRUE(dialog->isVisible());
        drive1(dialog)->setCurrentIndex(kStick);
        doubleClick(dialog, stick + QStringLiteral("/MISC"));
        command1(dialog)->click();
    });
    EXPECT_EQ(text1.text(), stick + QStringLiteral("/MISC/"));
}

TEST_F(Form1Test, EachOpeningStartsAfreshFromTheProcessFolder)
{
    showForWith([&](Form1* dialog) {
        drive1(dialog)->setCurrentIndex(kStick);
        command1(dialog)->click();
    });
    ASSERT_EQ(text1.text(), stick + u'/');
    EXPECT_EQ(QDir::currentPath(), work); // the dialog never moves the process

    showForWith([&](Form1* dialog) {
        EXPECT_EQ(dir1(dialog)->path(), work);
        EXPECT_EQ(drive1(dialog)->currentIndex(), kSystem);
        command2(dialog)->click();
    });
    EXPECT_EQ(text1.text(), stick + u'/');
}

TEST_F(Form1Test, ClosingFromTheTitleBarCancels)
{
    showForWith([&](Form1* dialog) {
        drive1(dialog)->setCurrentIndex(kStick);
        dialog->close();
    });
    EXPECT_EQ(text1.text(), QStringLiteral("/old/save/folder/"));
}

} // namespace
