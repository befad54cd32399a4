#include "dialogs/folderlistbox.h"
#include "dialogs/form1.h"
#include "platform/fake/fakeplatform.h"
#include "ui/look.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
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

using velo::DriveType;
using velo::FolderListBox;
using velo::Form1;

// The system drive is not the first, so that going back to "the first" shows.
enum Drive { kStick, kSystem, kEmptySlot, kGone };

struct Controls {
    QComboBox* drive1;
    FolderListBox* dir1;
    QPushButton* ok;
    QPushButton* cancel;
};

Controls controlsOf(QWidget* dialog)
{
    return {dialog->findChild<QComboBox*>("Drive1"), dialog->findChild<FolderListBox*>("Dir1"),
            dialog->findChild<QPushButton*>("Command1"),
            dialog->findChild<QPushButton*>("Command2")};
}

// The root of a clean absolute path: "/", or on Windows its drive's "C:/".
QString rootOf(const QString& path)
{
    return path.left(path.indexOf(u'/') + 1);
}

// A folder as the system writes it, which is how the dialog hands it back.
QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QListWidgetItem* lineOf(FolderListBox* list, const QString& path)
{
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->data(FolderListBox::kPathRole).toString() == path)
            return list->item(i);
    return nullptr;
}

void doubleClick(FolderListBox* list, const QString& path)
{
    QListWidgetItem* item = lineOf(list, path);
    ASSERT_NE(item, nullptr) << path.toStdString();
    list->window()->show(); // a hidden list takes no mouse
    // What a real double-click delivers: press and release, then the double-click.
    const QPoint at = list->visualItemRect(item).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

class Form1Test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        base = QDir::cleanPath(tmp.path());
        for (const char* path : {"work/photos/2004", "stick/DCIM/100CANON", "stick/MISC"})
            ASSERT_TRUE(QDir(base).mkpath(QLatin1String(path)));
        work = base + QStringLiteral("/work");
        stick = base + QStringLiteral("/stick");
        // As the system the tests run on has them: the separator, and the root of the
        // drive holding the process's folder ("/", or "C:\" on Windows).
        platform.separator = QDir::separator().toLatin1();
        systemRoot = native(rootOf(work));
        platform.addDrive("d", DriveType::Removable).rootFolder = stick.toStdString();
        platform.addDrive("c", DriveType::Fixed).rootFolder = systemRoot.toStdString();
        platform.addDrive("e", DriveType::Removable); // nothing mounted
        platform.addDrive("f", DriveType::Network).rootFolder =
            (base + QStringLiteral("/gone")).toStdString(); // no such folder
        previousFolder = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(work));
    }

    void TearDown() override { QDir::setCurrent(previousFolder); }

    Controls open()
    {
        dialog = std::make_unique<Form1>(platform);
        return controlsOf(dialog.get());
    }

    // Runs Form1::chooseFolder and, once the dialog is up, `inside` with it; the answer
    // goes to `chosen`.
    void showForWith(const std::function<void(Form1*)>& inside)
    {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            ran = true;
            auto* shown = qobject_cast<Form1*>(QApplication::activeModalWidget());
            if (shown == nullptr)
                return ADD_FAILURE() << "no modal dialog up";
            inside(shown);
        });
        chosen = Form1::chooseFolder(platform);
        EXPECT_TRUE(ran);
        for (QWidget* w : QApplication::topLevelWidgets())
            EXPECT_EQ(qobject_cast<Form1*>(w), nullptr) << "dialog left behind";
    }

    QTemporaryDir tmp;
    QString base, work, stick, systemRoot, previousFolder;
    velo::FakePlatform platform;
    std::optional<QString> chosen;
    std::unique_ptr<Form1> dialog;
};

TEST_F(Form1Test, OpensOnTheProcessFolderAndDrive)
{
    const auto [drive1, dir1, ok, cancel] = open();
    EXPECT_EQ(dir1->path(), work);
    EXPECT_EQ(dir1->currentItem(), lineOf(dir1, work));
    EXPECT_NE(lineOf(dir1, work + QStringLiteral("/photos")), nullptr);
    EXPECT_EQ(drive1->currentIndex(), kSystem);
    ASSERT_EQ(drive1->count(), 4);
    EXPECT_EQ(drive1->itemText(kSystem), QStringLiteral("c: [%1]").arg(systemRoot));
    EXPECT_EQ(drive1->itemText(kEmptySlot), QStringLiteral("e:"));
}

TEST_F(Form1Test, OkEndsTheFolderInOneSeparator)
{
    open().ok->click();
    EXPECT_EQ(dialog->chosenFolder(), native(work + u'/'));
    EXPECT_EQ(dialog->result(), QDialog::Accepted);

    // The root, "/" (on Windows the current drive's "C:\"), keeps its one separator.
    ASSERT_TRUE(QDir::setCurrent(QStringLiteral("/")));
    open().ok->click();
    EXPECT_EQ(dialog->chosenFolder(), native(rootOf(QDir::currentPath())));
}

TEST_F(Form1Test, DriveAndDoubleClickMoveTheFolderList)
{
    const auto [drive1, dir1, ok, cancel] = open();
    drive1->setCurrentIndex(kStick);
    EXPECT_EQ(dir1->path(), stick);
    doubleClick(dir1, stick + QStringLiteral("/DCIM"));
    EXPECT_EQ(dir1->path(), stick + QStringLiteral("/DCIM"));
    EXPECT_NE(lineOf(dir1, stick + QStringLiteral("/DCIM/100CANON")), nullptr);
    doubleClick(dir1, base); // an ancestor opens too
    EXPECT_EQ(dir1->path(), base);
    EXPECT_EQ(lineOf(dir1, stick + QStringLiteral("/DCIM")), nullptr);
    ok->click();
    EXPECT_EQ(dialog->chosenFolder(), native(base + u'/'));
}

TEST_F(Form1Test, ClickAndArrowKeysOnlyHighlight)
{
    const auto [drive1, dir1, ok, cancel] = open();
    dialog->show();
    const QString photos = work + QStringLiteral("/photos");
    QTest::mouseClick(dir1->viewport(), Qt::LeftButton, {},
                      dir1->visualItemRect(lineOf(dir1, photos)).center());
    EXPECT_EQ(dir1->currentItem(), lineOf(dir1, photos));
    QTest::keyClick(dir1, Qt::Key_Up);
    QTest::keyClick(dir1, Qt::Key_Up);
    EXPECT_EQ(dir1->currentItem(), lineOf(dir1, base));
    ok->click();
    EXPECT_EQ(dialog->chosenFolder(), native(work + u'/'));
}

TEST_F(Form1Test, CancelChoosesNothing)
{
    const auto [drive1, dir1, ok, cancel] = open();
    drive1->setCurrentIndex(kStick);
    doubleClick(dir1, stick + QStringLiteral("/MISC"));
    cancel->click();
    EXPECT_EQ(dialog->chosenFolder(), std::nullopt);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

// A drive that cannot be read leaves the folder list where it was and puts the drive
// list back on the drive holding that folder, which need not be the one shown before.
class Form1UnreadableDrive : public Form1Test, public ::testing::WithParamInterface<Drive>
{
};

TEST_P(Form1UnreadableDrive, KeepsTheFolderAndPutsTheDriveBack)
{
    const auto [drive1, dir1, ok, cancel] = open();
    drive1->setCurrentIndex(kStick);
    doubleClick(dir1, base); // on the system drive, while the drive list still says d:
    drive1->setCurrentIndex(GetParam());
    EXPECT_EQ(dir1->path(), base);
    EXPECT_EQ(drive1->currentIndex(), kSystem);
    drive1->setCurrentIndex(kStick); // and the dialog still works
    EXPECT_EQ(dir1->path(), stick);
}

INSTANTIATE_TEST_SUITE_P(Drives, Form1UnreadableDrive, ::testing::Values(kEmptySlot, kGone));

TEST_F(Form1Test, NeitherEscapeNorEnterCloses)
{
    const auto [drive1, dir1, ok, cancel] = open();
    dialog->show();
    for (QWidget* target : {static_cast<QWidget*>(drive1), static_cast<QWidget*>(dir1),
                            static_cast<QWidget*>(ok), static_cast<QWidget*>(cancel)}) {
        target->setFocus();
        for (const auto key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter})
            QTest::keyClick(target, key);
        EXPECT_TRUE(dialog->isVisible()) << target->objectName().toStdString();
    }
    EXPECT_EQ(dialog->chosenFolder(), std::nullopt);
}

TEST_F(Form1Test, TabGoesDriveFoldersOkCancel)
{
    open();
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

TEST_F(Form1Test, WindowAndControlsAsLaidOut)
{
    const auto [drive1, dir1, ok, cancel] = open();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("保存先指定"));
    EXPECT_FALSE(dialog->windowIcon().isNull());
    const QSize client(velo::look::twipsToPixels(5340), velo::look::twipsToPixels(5400));
    EXPECT_EQ(dialog->minimumSize(), client);
    EXPECT_EQ(dialog->maximumSize(), client);
    EXPECT_EQ(dialog->palette().color(QPalette::Window), QColor(192, 255, 192));

    const struct {
        QWidget* widget;
        int left, top, width, height;
        double points;
    } laidOut[] = {{drive1, 360, 450, 4395, 360, 12},
                   {dir1, 360, 930, 4395, 2895, 11.25},
                   {ok, 570, 4350, 1695, 765, 14.25},
                   {cancel, 2910, 4350, 1695, 765, 14.25}};
    const QStringList gothic =
        velo::look::windowFont(velo::look::Face::PGothic, 12, false).families();
    for (const auto& c : laidOut) {
        SCOPED_TRACE(c.widget->objectName().toStdString());
        EXPECT_EQ(c.widget->geometry(), velo::look::twipsRect(c.left, c.top, c.width, c.height));
        EXPECT_EQ(c.widget->font().pointSizeF(), c.points);
        EXPECT_FALSE(c.widget->font().bold());
        EXPECT_EQ(c.widget->font().families(), gothic);
    }
    EXPECT_EQ(ok->text(), QStringLiteral("Ｏ\u3000Ｋ"));
    EXPECT_EQ(cancel->text(), QStringLiteral("キャンセル"));
    for (QPushButton* button : {ok, cancel}) {
        EXPECT_EQ(button->palette().color(QPalette::Button), QColor(192, 192, 255));
        EXPECT_FALSE(button->autoDefault());
        EXPECT_FALSE(button->isDefault());
    }
}

TEST_F(Form1Test, ChooseFolderIsModalAndStartsAfreshEachTime)
{
    showForWith([&](Form1* shown) {
        EXPECT_EQ(shown->parentWidget(), nullptr);
        EXPECT_EQ(shown->windowModality(), Qt::ApplicationModal);
        const Controls c = controlsOf(shown);
        c.drive1->setCurrentIndex(kStick);
        doubleClick(c.dir1, stick + QStringLiteral("/MISC"));
        c.ok->click();
    });
    ASSERT_EQ(chosen, native(stick + QStringLiteral("/MISC/")));
    EXPECT_EQ(QDir::currentPath(), work); // the dialog never moves the process

    // Opened again: back on the process folder; leaving by the title bar changes nothing.
    showForWith([&](Form1* shown) {
        const Controls c = controlsOf(shown);
        EXPECT_EQ(c.dir1->path(), work);
        EXPECT_EQ(c.drive1->currentIndex(), kSystem);
        c.drive1->setCurrentIndex(kStick);
        shown->close();
    });
    EXPECT_EQ(chosen, std::nullopt);
}

} // namespace
