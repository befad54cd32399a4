#include "cli/outdir.h"

#include "tests/cli/support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace velo::cli
{
namespace
{

using namespace velo::cli::testing;

TEST(Outdir, OnlyThisProgramsNamesMarkAnEarlierRun)
{
    for (const char* name : {"DD001.JPG", "DD1000.JPG", "DD12345678.JPG"})
        EXPECT_TRUE(isCarvedFileName(name)) << name;
    for (const char* name : {"DD01.JPG", "DD001.jpg", "dd001.JPG", "DD001.JPEG", "DDabc.JPG",
                             "XDD001.JPG", "DD001.JPG.bak", "DD.JPG", ""})
        EXPECT_FALSE(isCarvedFileName(name)) << name;

    ScratchDir dir;
    EXPECT_FALSE(holdsEarlierRun((dir / "missing").string()));
    writeFile(dir / "IMG_0001.JPG", {1});
    writeFile(dir / "DD01.JPG", {1});
    EXPECT_FALSE(holdsEarlierRun(dir.path.string()));
    writeFile(dir / "DD002.JPG", {1});
    EXPECT_TRUE(holdsEarlierRun(dir.path.string()));
}

TEST(Outdir, AFileInTheWayIsAProblemAMissingFolderIsNot)
{
    ScratchDir dir;
    writeFile(dir / "file", {1});
    EXPECT_EQ(outdirProblem(dir.path.string()), "");
    EXPECT_EQ(outdirProblem((dir / "new/deeper").string()), "");
    EXPECT_NE(outdirProblem((dir / "file").string()).find("is not a folder"), std::string::npos);
    EXPECT_NE(outdirProblem((dir / "file/below").string()).find("is not a folder"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "new"));

    EXPECT_EQ(createFolders((dir / "new/deeper").string()), "");
    EXPECT_TRUE(fs::is_directory(dir / "new/deeper"));
    EXPECT_NE(createFolders((dir / "file/below").string()), "");
}

// A made-up /sys/dev/block: disk 8:16 with partitions 8:17 and 8:18, and 253:0 (a
// dm-crypt volume) stacked on 8:18. The scratch folder's own device plays each role.
struct SysfsTree {
    ScratchDir root;
    fs::path block = root / "devices/block";
    fs::path devBlock = root / "dev/block";

    void device(const fs::path& dir, const std::string& dev, bool partition)
    {
        fs::create_directories(dir / "holders");
        std::ofstream(dir / "dev") << dev << "\n";
        if (partition)
            std::ofstream(dir / "partition") << "1\n";
        fs::create_directories(devBlock);
        fs::create_directory_symlink(dir, devBlock / dev);
    }
};

std::string devName(dev_t d)
{
    return std::to_string(major(d)) + ":" + std::to_string(minor(d));
}

TEST(Outdir, WritingToTheDeviceReadIsSeenThroughPartitionsAndStackedDevices)
{
    ScratchDir out;
    struct stat st {
    };
    ASSERT_EQ(::stat(out.path.c_str(), &st), 0);
    const std::string here = devName(st.st_dev);
    const dev_t disk = makedev(8, 16), part1 = makedev(8, 17), part2 = makedev(8, 18);
    const dev_t other = makedev(8, 32);

    auto build = [&](const std::string& p1, const std::string& p2, const std::string& dm) {
        auto t = std::make_unique<SysfsTree>();
        t->device(t->block / "sdb", "8:16", false);
        t->device(t->block / "sdb/sdb1", p1, true);
        t->device(t->block / "sdb/sdb2", p2, true);
        t->device(t->block / "dm-0", dm, false);
        fs::create_directory_symlink(t->block / "dm-0", t->block / "sdb/sdb2/holders/dm-0");
        t->device(t->block / "sdc", "8:32", false);
        return t;
    };
    const std::string folder = (out / "not/yet/made").string(); // its parent decides

    // The folder is on the first partition: reading the whole disk warns, reading the
    // other partition does not.
    auto onPartition = build(here, "8:18", "253:0");
    EXPECT_TRUE(writesToDevice(folder, disk, onPartition->devBlock.string()));
    EXPECT_FALSE(writesToDevice(folder, part2, onPartition->devBlock.string()));
    EXPECT_FALSE(writesToDevice(folder, other, onPartition->devBlock.string()));

    // The folder is on an encrypted volume inside the second partition.
    auto onStacked = build("8:17", "8:18", here);
    EXPECT_TRUE(writesToDevice(folder, disk, onStacked->devBlock.string()));
    EXPECT_TRUE(writesToDevice(folder, part2, onStacked->devBlock.string()));
    EXPECT_FALSE(writesToDevice(folder, part1, onStacked->devBlock.string()));

    // The very device, with nothing in sysfs about it.
    EXPECT_TRUE(writesToDevice(folder, st.st_dev, (out / "nothing").string()));
}

} // namespace
} // namespace velo::cli
