#include "app/form2.h"
#include "platform/platform.h"

#include <QApplication>
#include <QStyleFactory>

#ifndef Q_OS_WIN
#include "app/quitonsignal.h"
#include "app/runtimedir.h"
#endif

int main(int argc, char* argv[])
{
    // Qt's own event loop instead of GLib's: the scan lets events run every few
    // milliseconds, and each run through GLib's loop costs far more than through Qt's.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
#ifndef Q_OS_WIN
    velo::ensureRuntimeDir();
#endif
    QApplication app(argc, argv);
#ifndef Q_OS_WIN
    // Ctrl-C or SIGTERM: close the windows as their close button does (a running scan is
    // stopped, an open dialog dismissed), then leave with status 0.
    velo::QuitOnSignal quitOnSignal([] {
        QApplication::closeAllWindows();
        QApplication::quit();
    });
#endif
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setApplicationName(QString::fromUtf8(velo::kApplicationTitle));
    const auto platform = velo::nativePlatform();
    velo::Form2 window(*platform);
    window.show();
    return app.exec();
}
