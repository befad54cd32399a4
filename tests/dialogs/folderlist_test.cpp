#include "dialogs/folderlist.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <vector>

// Failure output that shows paths as text.
void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace velo
{
void PrintTo(const FolderEntry& e, std::ostream* os)
{
    *os << e.label.toStdString() << " (" << e.path.toStdString() << ", depth " << e.depth
        << (e.open ? ", open)" : ", closed)");
}
} // namespace velo

namespace
{

using velo::DriveInfo;
using velo::DriveType;
using velo::FolderEntry;

// The root of a clean absolute path: "/", or on Windows its drive's "C:/".
QString rootOf(const QString& path)
{
    return path.left(path.indexOf(u'/') + 1);
}

class FolderEntries : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = QDir::cleanPath(tmp.path());
        QDir dir(root);
        for (const char* path :
             {"photos/beta", "photos/Alpha", "photos/Gamma/deep", "photos/.hidden", "other"})
            ASSERT_TRUE(dir.mkpath(QLatin1String(path)));
        QFile file(root + QStringLiteral("/photos/a-file"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    // The lines expected above and including `folder`, a clean absolute path: from its
    // root ("/", or its drive's "C:/" on Windows) down.
    static std::vector<FolderEntry> ancestorsOf(const QString& folder)
    {
        const QString root = rootOf(folder);
        std::vector<FolderEntry> lines{{root, QDir::toNativeSeparators(root), 0, true}};
        QString path = root.chopped(1);
        for (const QString& name : folder.mid(root.size()).split(u'/', Qt::SkipEmptyParts)) {
            path += u'/' + name;
            lines.push_back({path, name, int(lines.size()), true});
        }
        return lines;
    }

    QTemporaryDir tmp;
    QString root;
};

TEST_F(FolderEntries, AncestorsOpenThenSubfoldersClosedSortedByName)
{
    const QString photos = root + QStringLiteral("/photos");
    auto expected = ancestorsOf(photos);
    const int depth = int(expected.size());
    // Case aside; hidden folders and plain files left out.
    for (const char* name : {"Alpha", "beta", "Gamma"})
        expected.push_back(
            {photos + u'/' + QLatin1String(name), QLatin1String(name), depth, false});
    EXPECT_EQ(velo::folderEntries(photos), expected);
    EXPECT_EQ(velo::folderEntries(root + QStringLiteral("/other/../photos/")), expected);

    const QString deep = photos + QStringLiteral("/Gamma/deep"); // no subfolders
    EXPECT_EQ(velo::folderEntries(deep), ancestorsOf(deep));
}

TEST(FolderEntriesAtRoot, RootIsTheOnlyAncestor)
{
    // "/" is the root; on Windows the current drive's, shown as "C:\".
    const QString root = rootOf(QDir::currentPath());
    const auto entries = velo::folderEntries(QStringLiteral("/"));
    ASSERT_TRUE(entries.has_value());
    ASSERT_GE(entries->size(), 2u); // any system has some folder under the root
    EXPECT_EQ(entries->front(), (FolderEntry{root, QDir::toNativeSeparators(root), 0, true}));
    for (std::size_t i = 1; i < entries->size(); ++i)
        EXPECT_EQ((*entries)[i],
                  (FolderEntry{root + (*entries)[i].label, (*entries)[i].label, 1, false}));
}

TEST_F(FolderEntries, NothingForWhatCannotBeListed)
{
    EXPECT_FALSE(velo::folderEntries(root + QStringLiteral("/missing")).has_value());
    EXPECT_FALSE(velo::folderEntries(root + QStringLiteral("/photos/a-file")).has_value());
    EXPECT_FALSE(velo::canListFolder(QString()));
}

struct DriveCase {
    const char* name;
    const char* folder;
    int drive;
};

class DriveOfFolder : public ::testing::TestWithParam<DriveCase>
{
protected:
    const std::vector<DriveInfo> drives{
        {"c", DriveType::Fixed, "/"},
        {"d", DriveType::Removable, "/mnt/c"},
        {"e", DriveType::Removable, "/mnt/cd/"},
        {"f", DriveType::Network, "/mnt/c/net"},
        {"g", DriveType::CdRom, ""},
    };
};

TEST_P(DriveOfFolder, LongestRootHoldingTheFolder)
{
    EXPECT_EQ(velo::driveOfFolder(drives, QLatin1String(GetParam().folder)), GetParam().drive);
}

INSTANTIATE_TEST_SUITE_P(Folders, DriveOfFolder,
                         ::testing::Values(DriveCase{"root", "/", 0},
                                           DriveCase{"home", "/home/user", 0},
                                           DriveCase{"mountItself", "/mnt/c", 1},
                                           DriveCase{"belowMount", "/mnt/c/x", 1},
                                           DriveCase{"namePrefixIsNotHolding", "/mnt/cdrom", 0},
                                           DriveCase{"trailingSeparatorRoot", "/mnt/cd/pics", 2},
                                           DriveCase{"nestedMount", "/mnt/c/net/share", 3},
                                           DriveCase{"uncleanPath", "/mnt/c/net/../y", 1}),
                         [](const auto& info) { return std::string(info.param.name); });

#ifdef Q_OS_WIN
// Drives as Windows lists them: each a letter whose root is "X:\".
class DriveOfWindowsFolder : public ::testing::TestWithParam<DriveCase>
{
protected:
    const std::vector<DriveInfo> drives{
        {"C", DriveType::Fixed, "C:\\"},
        {"E", DriveType::Removable, "E:\\"},
        {"F", DriveType::CdRom, ""},
    };
};

TEST_P(DriveOfWindowsFolder, TheDriveOfItsLetter)
{
    EXPECT_EQ(velo::driveOfFolder(drives, QLatin1String(GetParam().folder)), GetParam().drive);
}

INSTANTIATE_TEST_SUITE_P(Folders, DriveOfWindowsFolder,
                         ::testing::Values(DriveCase{"driveRoot", "E:/", 1},
                                           DriveCase{"belowDriveRoot", "E:/DCIM/100CANON", 1},
                                           DriveCase{"nativeSeparators", "C:\\Users\\x", 0},
                                           DriveCase{"uncleanPath", "E:/DCIM/../..", 1},
                                           DriveCase{"driveNotListed", "G:/x", -1},
                                           DriveCase{"nothingInTheDrive", "F:/", -1}),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

TEST(DriveOfFolderWithoutRoot, NoDriveHoldsAFolderOutsideAllMounts)
{
    const std::vector<DriveInfo> drives{{"d", DriveType::Removable, "/media/usb"},
                                        {"e", DriveType::CdRom, ""}};
    EXPECT_EQ(velo::driveOfFolder(drives, QStringLiteral("/home")), -1);
    EXPECT_EQ(velo::driveOfFolder({}, QStringLiteral("/")), -1);
}

TEST(DriveLabel, LetterLowerCaseAndMountPointWhenMounted)
{
    EXPECT_EQ(velo::driveLabel({"C", DriveType::Fixed, "/"}), QStringLiteral("c: [/]"));
    EXPECT_EQ(velo::driveLabel({"d", DriveType::Removable, "/media/usb stick"}),
              QStringLiteral("d: [/media/usb stick]"));
    EXPECT_EQ(velo::driveLabel({"E", DriveType::CdRom, ""}), QStringLiteral("e:"));
}

} // namespace
