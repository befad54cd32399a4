// Times a full scan through the main window, as a user would run it: the window on a
// real X server, the drive picked in the list, the run button's handler from start to
// end. The volume is a block device (a loop device over a card image).
//
//   velo-scan-bench DEVICE OUTDIR [RUNS]
//
// Prints one line per run: seconds, passes, passes per second, repaints of the counter.

#include "app/form2.h"
#include "app/passcounterlabel.h"
#include "platform/linux/linuxplatform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleFactory>
#include <QTreeWidget>

#include <cstdio>

namespace
{

// Counts how often the pass counter really paints.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    // Qt's own event loop instead of GLib's: the scan lets events run every few
    // milliseconds, and each run through GLib's loop costs far more than through Qt's.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DEVICE OUTDIR [RUNS]\n", argv[0]);
        return 2;
    }
    const std::string device = argv[1];
    const QString outdir = QString::fromLocal8Bit(argv[2]);
    const int runs = argc > 3 ? std::atoi(argv[3]) : 1;

    velo::LinuxPlatform platform;
    velo::Form2 window(platform);
    window.show();
    QApplication::processEvents();
    auto* listView1 = window.findChild<QTreeWidget*>(QStringLiteral("ListView1"));
    auto* text1 = window.findChild<QLineEdit*>(QStringLiteral("Text1"));
    auto* label3 = window.findChild<QLabel*>(QStringLiteral("Label3"));
    auto* label14 = window.findChild<QLabel*>(QStringLiteral("Label14"));
    auto* label17 = window.findChild<velo::PassCounterLabel*>(QStringLiteral("Label17"));
    auto* command2 = window.findChild<QPushButton*>(QStringLiteral("Command2"));

    QString letter;
    for (const velo::LinuxDrive& d : platform.table())
        if (d.devicePath == device)
            letter = QString::fromStdString(d.letter);
    const auto rows = listView1->findItems(letter, Qt::MatchExactly, 0);
    if (letter.isEmpty() || rows.isEmpty()) {
        std::fprintf(stderr, "%s is not among the drives\n", device.c_str());
        return 2;
    }
    emit listView1->itemClicked(rows.front(), 0);
    text1->setText(outdir.endsWith('/') ? outdir : outdir + '/');

    PaintCounter counter;
    label17->installEventFilter(&counter);
    std::printf("platform %s, drive %s, %s sectors of %s bytes\n",
                qPrintable(QGuiApplication::platformName()), qPrintable(letter),
                qPrintable(label14->text().trimmed()), qPrintable(label3->text().trimmed()));
    for (int run = 0; run < runs; ++run) {
        counter.paints = 0;
        QElapsedTimer timer;
        timer.start();
        command2->click();
        const double seconds = timer.nsecsElapsed() / 1e9;
        const double passes = label17->text().toDouble();
        std::printf("run %d: %.3f s, %.0f passes, %.2f M passes/s, %d repaints\n", run + 1, seconds,
                    passes, passes / seconds / 1e6, counter.paints);
        std::fflush(stdout);
    }
    return 0;
}
