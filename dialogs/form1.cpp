#include "dialogs/form1.h"

#include "dialogs/folderlistbox.h"
#include "ui/look.h"

#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QPushButton>
#include <QSignalBlocker>

#include <memory>

namespace velo
{

namespace
{

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, QRect geometry)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->setFont(look::windowFont(look::Face::PGothic, 14.25, false));
    look::paintButtonFace(button);
    // Neither button answers Enter; each is pressed only by itself.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

Form1::Form1(Platform& platform, QWidget* parent)
    : QDialog(parent), platform_(platform), drives_(platform.drives())
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("保存先指定"));
    setWindowIcon(look::appIcon());
    look::paintWindowBackground(this);
    setFixedSize(look::twipsToPixels(5340), look::twipsToPixels(5400));

    // Created in focus order: Drive1, Dir1, Command1, Command2.
    Drive1 = new QComboBox(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setGeometry(look::twipsRect(360, 450, 4395, 360));
    Drive1->setFont(look::windowFont(look::Face::PGothic, 12, false));
    for (const DriveInfo& drive : drives_)
        Drive1->addItem(driveLabel(drive));

    Dir1 = new FolderListBox(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setGeometry(look::twipsRect(360, 930, 4395, 2895));
    Dir1->setFont(look::windowFont(look::Face::PGothic, 11.25, false));

    Command1 = makeButton(this, "Command1", QStringLiteral("Ｏ　Ｋ"),
                          look::twipsRect(570, 4350, 1695, 765));
    Command2 = makeButton(this, "Command2", QStringLiteral("キャンセル"),
                          look::twipsRect(2910, 4350, 1695, 765));

    QWidget::setTabOrder(Drive1, Dir1);
    QWidget::setTabOrder(Dir1, Command1);
    QWidget::setTabOrder(Command1, Command2);

    // Start where the process is, whatever the field held before. Should the current
    // folder have gone, its drive's root (or the file system root) stands in.
    const QString current = QDir::currentPath();
    if (!Dir1->setPath(current)) {
        const int drive = driveOfFolder(drives_, current);
        if (drive < 0 || !Dir1->setPath(QString::fromStdString(drives_[drive].rootFolder)))
            Dir1->setPath(QStringLiteral("/"));
    }
    showDriveOfOpenFolder();

    connect(Drive1, &QComboBox::currentIndexChanged, this, &Form1::driveChanged);
    connect(Command1, &QPushButton::clicked, this, &Form1::acceptFolder);
    connect(Command2, &QPushButton::clicked, this, &QDialog::reject);
}

std::optional<QString> Form1::chooseFolder(Platform& platform)
{
    const auto dialog = std::make_unique<Form1>(platform, nullptr);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->exec();
    return dialog->chosenFolder();
}

void Form1::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Form1::driveChanged(int index)
{
    if (index < 0 || std::size_t(index) >= drives_.size())
        return;
    // A drive with nothing mounted, or whose root cannot be read, leaves the folder list
    // where it was; the drive list then goes back to match it.
    const std::string& root = drives_[std::size_t(index)].rootFolder;
    if (root.empty() || !Dir1->setPath(QString::fromStdString(root)))
        showDriveOfOpenFolder();
}

void Form1::showDriveOfOpenFolder()
{
    const QSignalBlocker quiet(Drive1);
    Drive1->setCurrentIndex(driveOfFolder(drives_, Dir1->path()));
}

void Form1::acceptFolder()
{
    // In the system's own separators ("C:\photos\" on Windows), with exactly one at the
    // end: the root folder already has one.
    const QChar separator = QLatin1Char(platform_.pathSeparator());
    QString folder = Dir1->path().replace(u'/', separator);
    if (folder.isEmpty() || folder.back() != separator)
        folder += separator;
    chosenFolder_ = folder;
    accept();
}

} // namespace velo
