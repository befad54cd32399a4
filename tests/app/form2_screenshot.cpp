// The main window with every look a button can have and the progress panel shown, saved
// as a picture so that colours and the slanted line can be measured on it:
// form2_screenshot OUT.png. Command2 and Command4 are enabled, Command3 is held down,
// Command1 is disabled, and the panel shows pass 123 of 4096.
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

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
        return 2;
    }
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    velo::FakePlatform platform;
    velo::FakeDrive& c = platform.addDrive("C", 3);
    c.freeSpace = velo::DiskFreeSpace{8, 512, 1000, 4096};
    platform.addDrive("E", 2);
    velo::Form2 window(platform);
    window.Picture1->show();
    window.Label17->setPassNumber(123);
    window.Label20->setText(QStringLiteral(" 4096"));
    window.Command3->setEnabled(true);
    window.Command3->setDown(true);
    window.Command1->setEnabled(false);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    QTest::qWait(100);
    return window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
