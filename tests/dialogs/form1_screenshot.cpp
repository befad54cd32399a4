// Opens the save-folder dialog on the real drives and saves a picture of it, so that the
// Japanese texts can be checked for fit by eye: form1_screenshot OUT.png
#include "dialogs/form1.h"
#include "platform/linux/linuxplatform.h"

#include <QApplication>
#include <QPixmap>
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
    // The same style as the program itself, which the button colours depend on.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    velo::LinuxPlatform platform;
    velo::Form1 dialog(platform);
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog))
        return 1;
    QTest::qWait(200); // let the folder list lay itself out
    if (!dialog.grab().save(QString::fromLocal8Bit(argv[1])))
        return 1;
    return 0;
}
