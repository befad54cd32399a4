#include "app/form2.h"
#include "platform/linux/linuxplatform.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setApplicationName(QString::fromUtf8(velo::kApplicationTitle));
    velo::LinuxPlatform platform;
    velo::Form2 window(platform);
    window.show();
    return app.exec();
}
