#include "dialogs/folderlist.h"

#include <algorithm>

#include <QDir>
#include <QFileInfo>

namespace velo
{

namespace
{

QString childPath(const QString& parent, const QString& name)
{
    return parent.endsWith(u'/') ? parent + name : parent + u'/' + name;
}

// The root a clean absolute path lies under: "/" on Linux, the drive's "C:/" on Windows.
QString rootOf(const QString& path)
{
    if (path.size() >= 3 && path.at(0).isLetter() && path.at(1) == u':' && path.at(2) == u'/')
        return path.left(3);
    return QStringLiteral("/");
}

} // namespace

QString normalFolder(const QString& folder)
{
    QString absolute = QDir(folder).absolutePath();
#ifdef Q_OS_WIN
    // QDir leaves a clean "/x" without a drive but gives "/x/../y" the current one; a
    // folder from the root always lies on the current drive, as Windows itself reads it,
    // so that the same folder always comes out the same ("C:/x").
    if (absolute.startsWith(u'/') && !absolute.startsWith(QLatin1String("//")))
        absolute = QFileInfo(absolute).absoluteFilePath();
#endif
    return QDir::cleanPath(absolute);
}

bool canListFolder(const QString& folder)
{
    if (folder.isEmpty())
        return false;
    const QFileInfo info(folder);
    // Reading a folder's entries needs both read and search permission.
    return info.isDir() && info.isReadable() && info.isExecutable();
}

std::optional<std::vector<FolderEntry>> folderEntries(const QString& folder)
{
    const QString open = normalFolder(folder);
    if (!canListFolder(open))
        return std::nullopt;

    std::vector<FolderEntry> entries;
    const QString root = rootOf(open);
    entries.push_back({root, QDir::toNativeSeparators(root), 0, true});
    QString path = root;
    for (const QString& name : open.mid(root.size()).split(u'/', Qt::SkipEmptyParts)) {
        path = childPath(path, name);
        entries.push_back({path, name, int(entries.size()), true});
    }

    const int childDepth = int(entries.size());
    // Sorted here rather than by QDir, whose case-blind order depends on the locale.
    QStringList children = QDir(open).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    std::sort(children.begin(), children.end(), [](const QString& a, const QString& b) {
        const int blind = QString::compare(a, b, Qt::CaseInsensitive);
        return blind != 0 ? blind < 0 : a < b;
    });
    for (const QString& name : children)
        entries.push_back({childPath(open, name), name, childDepth, false});
    return entries;
}

int driveOfFolder(const std::vector<DriveInfo>& drives, const QString& folder)
{
    const QString path = normalFolder(folder);
    int best = -1;
    qsizetype bestLength = -1;
    for (std::size_t i = 0; i < drives.size(); ++i) {
        if (drives[i].rootFolder.empty())
            continue;
        // Made absolute as the folder is (on Windows both gain the current drive).
        const QString root = normalFolder(QString::fromStdString(drives[i].rootFolder));
        // "/mnt/c" holds "/mnt/c/x" but not "/mnt/cd"; a root ("/", "C:/") holds all below it.
        const bool holds = path == root || (path.startsWith(root) &&
                                            (root.endsWith(u'/') || path.at(root.size()) == u'/'));
        if (holds && root.size() > bestLength) {
            best = int(i);
            bestLength = root.size();
        }
    }
    return best;
}

QString driveLabel(const DriveInfo& drive)
{
    QString label = QString::fromStdString(drive.letter).toLower() + u':';
    if (!drive.rootFolder.empty())
        label += QStringLiteral(" [") + QString::fromStdString(drive.rootFolder) + u']';
    return label;
}

} // namespace velo
