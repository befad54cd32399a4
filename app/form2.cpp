#include "app/form2.h"

#include "app/passcounterlabel.h"
#include "app/slantedline.h"
#include "dialogs/form1.h"
#include "dump/dumpwidgets.h"
#include "ui/look.h"

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

} // namespace

Form2::Form2(Platform& platform, QWidget* parent)
    : QWidget(parent), platform_(platform), controller_(platform, *this)
{
    createControls();
    createGrid();
    createProgressPanel();
    setFocusOrder();
    controller_.Form_Load();
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
    // The system's colours, header and frame included, not the window's green.
    ListView1->setPalette(look::systemPalette(ListView1));
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
    connect(Command2, &QPushButton::clicked, this, [this] { controller_.Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { controller_.Command3_Click(); });
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

void Form2::ListView1_ItemClick(QTreeWidgetItem* item)
{
    controller_.ListView1_ItemClick(item->text(0).toStdString());
}

void Form2::Command1_Click()
{
    if (const auto folder = Form1::chooseFolder(platform_))
        Text1->setText(*folder);
}

void Form2::Command4_Click()
{
    QApplication::exit(0);
}

void Form2::closeEvent(QCloseEvent* event)
{
    controller_.windowClosing();
    event->accept();
}

void Form2::DUMP()
{
    dumpSector(*Text1, *Label3, sectorBuffer());
}

const std::vector<std::uint8_t>* Form2::sectorBuffer() const
{
    return controller_.sectorBuffer();
}

bool Form2::scanning() const
{
    return controller_.scanning();
}

QLabel* Form2::fieldLabel(Field field) const
{
    // In the order of Field; Text1, the last, is no label.
    const std::array labels{Label2,  Label3,  Label4,  Label10, Label11,
                            Label12, Label13, Label14, Label19, Label20};
    return labels.at(std::size_t(field));
}

QWidget* Form2::controlWidget(Control control) const
{
    // In the order of Control.
    const std::array<QWidget*, 5> widgets{Command1, Command2, Command3, Command4, Picture1};
    return widgets.at(std::size_t(control));
}

std::string Form2::text(Field field) const
{
    return (field == Field::Text1 ? Text1->text() : fieldLabel(field)->text()).toStdString();
}

void Form2::setText(Field field, const std::string& text)
{
    const QString shown = QString::fromStdString(text);
    if (field == Field::Text1)
        Text1->setText(shown);
    else
        fieldLabel(field)->setText(shown);
}

void Form2::setControlEnabled(Control which, bool enabled)
{
    controlWidget(which)->setEnabled(enabled);
}

void Form2::setControlVisible(Control which, bool visible)
{
    controlWidget(which)->setVisible(visible);
}

void Form2::addDriveRow(const DriveRow& row)
{
    auto* item = new QTreeWidgetItem(ListView1);
    item->setText(0, QString::fromStdString(row.letter));
    if (row.typeName)
        item->setText(1, QString::fromStdString(*row.typeName));
    for (int column : {0, 1})
        item->setToolTip(column, QString::fromStdString(row.toolTip));
}

void Form2::focusDriveList()
{
    ListView1->setFocus();
}

void Form2::showPass(std::uint64_t passNumber)
{
    Label17->setPassNumber(passNumber);
}

void Form2::runPendingEvents()
{
    // What the program posted to itself (a queued click, a close, a repaint request) waits
    // in memory and runs at every step; the system's input, which takes a system call to
    // fetch, is fetched only when eventPace_ says so.
    if (eventPace_.due(EventPace::Clock::now()))
        QCoreApplication::processEvents();
    else
        QCoreApplication::sendPostedEvents();
}

void Form2::runLater(std::function<void()> task)
{
    QTimer::singleShot(0, this, std::move(task));
}

void Form2::showMessage(const std::string& text)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle),
                    QString::fromStdString(text), QMessageBox::Ok, this);
    // A plain OK button: some desktops' themes give dialog buttons an icon.
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    box.exec();
}

} // namespace velo
