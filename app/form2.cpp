#include "app/form2.h"

#include "app/drivetable.h"
#include "app/look.h"
#include "app/module1.h"
#include "app/passcounterlabel.h"
#include "app/slantedline.h"
#include "dialogs/form1.h"
#include "drive/fieldtext.h"
#include "drive/geometry.h"
#include "drive/rawvolume.h"
#include "dump/dumpwidgets.h"
#include "scan/stopflag.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <exception>

namespace velo
{

using look::Face;
using look::twipsRect;
using look::twipsToPixels;

namespace
{

// The window's fonts, by the keys the layout uses.
QFont F1()
{
    return look::windowFont(Face::PGothic, 15.75, true);
}
QFont F2()
{
    return look::windowFont(Face::PGothic, 14.25, true);
}
QFont F3()
{
    return look::windowFont(Face::PGothic, 12, false);
}
QFont F4()
{
    return look::windowFont(Face::PGothic, 11.25, false);
}
QFont F5()
{
    return look::windowFont(Face::PGothic, 24, false);
}
QFont F6()
{
    return look::windowFont(Face::PMincho, 15.75, true);
}
QFont F7()
{
    return look::windowFont(Face::PGothic, 12, true);
}

// Sectors are at most a few KiB; a larger "sector size" can only be a damaged field.
constexpr std::int64_t kLargestSectorBytes = std::int64_t(64) << 20;

template <typename Widget>
Widget* place(Widget* widget, const char* name, QRect geometry, const QFont& font)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    widget->setFont(font);
    return widget;
}

QLabel* label(QWidget* parent, const char* name, QRect geometry, const QString& text,
              const QFont& font)
{
    return place(new QLabel(text, parent), name, geometry, font);
}

QPushButton* button(QWidget* parent, const char* name, QRect geometry, const QString& text,
                    const QFont& font)
{
    auto* b = place(new QPushButton(text, parent), name, geometry, font);
    b->setAutoDefault(false);
    b->setDefault(false);
    look::paintButtonFace(b);
    return b;
}

// A failing start-up step is abandoned and the next one runs.
template <typename Step> void skipOnFailure(Step step)
{
    try {
        step();
    } catch (const std::exception&) {
    }
}

QString fromStd(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

Form2::Form2(Platform& platform, QWidget* parent) : QWidget(parent), platform_(platform)
{
    createControls();
    createGrid();
    createProgressPanel();
    setFocusOrder();
    Form_Load();
}

Form2::~Form2() = default;

void Form2::createControls()
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("ｖｅｌｏリカバリー"));
    setWindowIcon(look::appIcon());
    setFixedSize(twipsToPixels(11250), twipsToPixels(5310));
    look::paintWindowBackground(this);

    Label18 = label(this, "Label18", twipsRect(150, 120, 6435, 435),
                    QStringLiteral("解析を実行するドライブを選択してください。"), F6());

    ListView1 = place(new QTreeWidget(this), "ListView1", twipsRect(1050, 570, 4305, 2595), F7());
    ListView1->setColumnCount(2);
    ListView1->setHeaderLabels({QStringLiteral("ドライブ"), QStringLiteral("種別")});
    ListView1->setColumnWidth(0, twipsToPixels(1440));
    ListView1->setColumnWidth(1, twipsToPixels(2540));
    ListView1->header()->setStretchLastSection(false); // both columns keep their widths
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAutoFillBackground(true);
    ListView1->setPalette(QApplication::palette(ListView1)); // the system's window colours
    connect(ListView1, &QTreeWidget::itemClicked, this, &Form2::ListView1_ItemClick);

    Label19 =
        label(this, "Label19", twipsRect(60, 570, 975, 345), QStringLiteral("Label19"), font());
    Label19->setVisible(false);

    Label21 = label(this, "Label21", twipsRect(120, 3480, 1845, 345),
                    QStringLiteral("データ保存先"), F2());
    Text1 = place(new QLineEdit(this), "Text1", twipsRect(120, 3900, 6075, 405), F4());
    Text1->setEnabled(false); // shown greyed; the folder is chosen in the dialog only

    Command2 = button(this, "Command2", twipsRect(1530, 4410, 1845, 765),
                      QStringLiteral("解析実行"), F1());
    Command3 = button(this, "Command3", twipsRect(3930, 4410, 1815, 765),
                      QStringLiteral("解析停止"), F2());
    Command1 = button(this, "Command1", twipsRect(6270, 4410, 1845, 765),
                      QStringLiteral("保存先変更"), F1());
    Command4 = button(this, "Command4", twipsRect(8640, 4380, 1845, 765),
                      QStringLiteral("終\u3000了"), F1());
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form2::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form2::Command4_Click);
}

void Form2::createGrid()
{
    // Two columns of white cells, captions on the left, values on the right.
    auto cell = [this](const char* name, int top, bool caption, const QString& text) {
        const QRect geometry =
            caption ? twipsRect(6420, top, 2895, 315) : twipsRect(9330, top, 1875, 315);
        QLabel* c = label(this, name, geometry, text, F3());
        c->setFrameShape(QFrame::Box);
        c->setLineWidth(1);
        c->setAutoFillBackground(true);
        QPalette palette = c->palette();
        palette.setColor(QPalette::Window, look::kCellBackground);
        c->setPalette(palette);
        return c;
    };
    Label5[1] = cell("Label5", 750, true, QStringLiteral(" ドライブ番号"));
    Label13 = cell("Label13", 750, false, {});
    Label5[0] = cell("Label5", 1080, true, QStringLiteral(" クラスタあたりのセクタ数"));
    Label2 = cell("Label2", 1080, false, {});
    Label6 = cell("Label6", 1410, true, QStringLiteral(" セクタのバイトサイズ"));
    Label3 = cell("Label3", 1410, false, {});
    Label7 = cell("Label7", 1740, true, QStringLiteral(" 空きクラスタ数"));
    Label4 = cell("Label4", 1740, false, {});
    Label8 = cell("Label8", 2070, true, QStringLiteral(" 総クラスタ数"));
    Label10 = cell("Label10", 2070, false, {});
    Label9 = cell("Label9", 2400, true, QStringLiteral(" ディスクの総バイト数(Byte)"));
    Label11 = cell("Label11", 2400, false, {});
    Label1 = cell("Label1", 2730, true, QStringLiteral(" ディスクの空き容量(Byte)"));
    Label12 = cell("Label12", 2730, false, {});
    Label15 = cell("Label15", 3060, true, QStringLiteral(" 解析時ループ回数"));
    Label14 = cell("Label14", 3060, false, {});
    Label5[0]->setProperty("index", 0);
    Label5[1]->setProperty("index", 1);
}

void Form2::createProgressPanel()
{
    Picture1 = place(new QFrame(this), "Picture1", twipsRect(360, 1500, 5655, 1005), font());
    Picture1->setAutoFillBackground(true);
    QPalette palette = Picture1->palette();
    palette.setColor(QPalette::Window, look::kProgressPanelBackground);
    Picture1->setPalette(palette);
    Picture1->setFocusPolicy(Qt::TabFocus);

    Label16 = label(Picture1, "Label16", twipsRect(210, 270, 2175, 435),
                    QStringLiteral("作  成  中"), F5());
    Label17 =
        place(new PassCounterLabel(Picture1), "Label17", twipsRect(2490, 120, 1605, 375), F1());
    Line1 = new SlantedLine(QPoint(twipsToPixels(3540), twipsToPixels(780)),
                            QPoint(twipsToPixels(4620), twipsToPixels(120)), Picture1);
    Line1->setObjectName(QStringLiteral("Line1"));
    Label20 = label(Picture1, "Label20", twipsRect(4020, 510, 1545, 345), {}, F1());

    Picture1->raise(); // the panel lies over the drive list while a scan runs
    Picture1->setVisible(false);
}

void Form2::setFocusOrder()
{
    QWidget::setTabOrder(ListView1, Command3);
    QWidget::setTabOrder(Command3, Picture1);
    QWidget::setTabOrder(Picture1, Command2);
    QWidget::setTabOrder(Command2, Command1);
    QWidget::setTabOrder(Command1, Command4);
    for (QWidget* w : {static_cast<QWidget*>(Text1), static_cast<QWidget*>(Label19)})
        w->setFocusPolicy(Qt::NoFocus);
    ListView1->setFocus();
}

void Form2::Form_Load()
{
    platformFlag = 0;
    platformFlag = IsWin9x(platform_);

    for (const DriveRow& row : driveRows(platform_)) {
        auto* item = new QTreeWidgetItem(ListView1);
        item->setText(0, fromStd(row.letter));
        if (row.typeName)
            item->setText(1, fromStd(*row.typeName));
        for (int column : {0, 1})
            item->setToolTip(column, fromStd(row.toolTip));
    }

    skipOnFailure([&] { KAI(QStringLiteral("C")); });
    skipOnFailure([&] { Label13->setText(QStringLiteral(" C")); });
    skipOnFailure([&] { Label19->setText(QStringLiteral("C")); });
    skipOnFailure([&] {
        // Appended without looking: a program in a root folder gets a doubled separator.
        Text1->setText(fromStd(platform_.programFolder() + platform_.pathSeparator()));
    });
    skipOnFailure([&] { Command3->setEnabled(false); });
}

void Form2::ListView1_ItemClick(QTreeWidgetItem* item)
{
    const QString letter = item->text(0);
    Label13->setText(QStringLiteral(" ") + letter);
    Label19->setText(letter);
    KAI(letter);
}

void Form2::KAI(const QString& driveLetter)
{
    const auto space =
        platform_.diskFreeSpace(rootPath(driveLetter.toStdString(), platform_.pathSeparator()));
    const auto texts = geometryTexts(space);
    Label2->setText(fromStd(texts[SectorsPerCluster]));
    Label3->setText(fromStd(texts[BytesPerSector]));
    Label4->setText(fromStd(texts[FreeClusters]));
    Label10->setText(fromStd(texts[TotalClusters]));
    Label11->setText(fromStd(texts[TotalBytes]));
    Label12->setText(fromStd(texts[FreeBytes]));
    Label14->setText(
        fromStd(totalSectorsText(Label10->text().toStdString(), Label2->text().toStdString())));
}

void Form2::Command1_Click()
{
    Form1::showFor(platform_, *Text1);
}

void Form2::Command2_Click()
{
    // The stop command enables this button while the stopped scan is still on its way
    // out (it returns at its next stop-flag test). A run clicked in that moment starts
    // once that scan has returned, never inside it: a nested scan would clear the stop
    // flag and reallocate the buffer the outer one still reads into.
    if (scanning_) {
        QTimer::singleShot(0, this, &Form2::Command2_Click);
        return;
    }
    SYST();
}

void Form2::Command3_Click()
{
    stopFlag = 1;
    Picture1->setVisible(false);
    Command4->setEnabled(true);
    Command3->setEnabled(false);
    Command2->setEnabled(true);
    Command1->setEnabled(true);
    if (outputSlot_) {
        outputSlot_->close(); // what was carved so far stays on disk as it is
        outputSlot_.reset();
    }
    ListView1->setFocus();
}

void Form2::Command4_Click()
{
    QApplication::exit(0);
}

void Form2::closeEvent(QCloseEvent* event)
{
    // Closing the window in the middle of a scan stops it first, so the open file is
    // closed whole and the scan returns before the program ends.
    if (scanning_)
        Command3_Click();
    event->accept();
}

void Form2::setScanningState(bool scanning)
{
    // The order matters for the keyboard focus: a button that is disabled while it has
    // the focus hands it to the next control that can take it. Disabling the stop button
    // before anything is enabled sends its focus round to the drive list, not onto the
    // exit button.
    Picture1->setVisible(scanning);
    if (scanning) {
        Command4->setEnabled(false);
        Command3->setEnabled(true);
        Command2->setEnabled(false);
        Command1->setEnabled(false);
    } else {
        Command3->setEnabled(false);
        Command4->setEnabled(true);
        Command2->setEnabled(true);
        Command1->setEnabled(true);
    }
}

void Form2::SYST()
{
    stopFlag = 0;
    Label20->setText(Label14->text());
    setScanningState(true);
    scanning_ = true;
    runPendingEvents();

    std::int64_t sectorBytes = std::max<std::int64_t>(0, fieldNumber(Label3->text().toStdString()));
    if (sectorBytes > kLargestSectorBytes) {
        scanning_ = false;
        setScanningState(false);
        return;
    }
    sectorBuffer_.assign(std::size_t(sectorBytes) + 1, 0);
    sectorBufferAllocated_ = true;

    const QString driveLetter = Label19->text();
    std::unique_ptr<RawVolume> volume =
        openRawVolume(platform_, platformFlag, driveLetter.toStdString(), sectorBuffer_);
    if (!volume) {
        showOpenFailure(driveLetter);
        scanning_ = false;
        setScanningState(false);
        return;
    }

    const std::int64_t sectorTotal = fieldNumber(Label14->text().toStdString());
    const ScanEnd end =
        runRecoveryPasses(platform_, *this, *volume, sectorBuffer_, outputSlot_, sectorTotal);
    volume.reset(); // the volume is released on every way out
    scanning_ = false;
    if (end == ScanEnd::Completed)
        setScanningState(false); // after a stop the window is as the stop command left it
}

void Form2::showOpenFailure(const QString& driveLetter)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle),
                    QStringLiteral("Errore nell'apertura del device ") + driveLetter,
                    QMessageBox::Ok, this);
    box.exec();
}

void Form2::DUMP()
{
    dumpSector(*Text1, *Label3, sectorBuffer());
}

const std::vector<std::uint8_t>* Form2::sectorBuffer() const
{
    return sectorBufferAllocated_ ? &sectorBuffer_ : nullptr;
}

void Form2::showPass(std::uint64_t passNumber)
{
    Label17->setPassNumber(passNumber);
}

void Form2::runPendingEvents()
{
    QCoreApplication::processEvents();
}

std::string Form2::saveFolder()
{
    return Text1->text().toStdString();
}

} // namespace velo
