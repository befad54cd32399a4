// The main window with every look a button can have and the progress panel shown, saved
// as a picture so that colours and the slanted line can be measured on it:
// form2_screenshot OUT.png. Command2 and Command4 are enabled, Command4 has the focus,
// Command3 is held down, Command1 is disabled, and the panel shows pass 123 of 4096.
#include "app/form2.h"
#include "app/passcounterlabel.h"
#include "platform/fake/fakeplatform.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStyleFactory>
#include <QTest>

#include <cstdio>

// The window's control of that name (its members are its own).
template <typename Widget> Widget* child(QWidget& window, const char* name)
{
    return window.findChild<Widget*>(QString::fromLatin1(name));
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
        return 2;
    }
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    velo::FakePlatform platform;
    velo::FakeDrive& c = platform.addDrive("C", velo::DriveType::Fixed);
    c.freeSpace = velo::DiskFreeSpace{8, 512, 1000, 4096};
    platform.addDrive("E", velo::DriveType::Removable);
    velo::Form2 window(platform);
    child<QFrame>(window, "Picture1")->show();
    child<velo::PassCounterLabel>(window, "Label17")->setPassNumber(123);
    child<QLabel>(window, "Label20")->setText(QStringLiteral(" 4096"));
    auto* command3 = child<QPushButton>(window, "Command3");
    command3->setEnabled(true);
    command3->setDown(true);
    child<QPushButton>(window, "Command1")->setEnabled(false);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    // The focus on Command4, to show its dotted rectangle.
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    child<QPushButton>(window, "Command4")->setFocus(Qt::TabFocusReason);
    QTest::qWait(100);
    return window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
