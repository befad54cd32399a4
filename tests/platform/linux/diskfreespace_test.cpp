#include "tests/support/fakesystem.h"

#include "platform/linux/volumegeometry.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>

namespace velo
{
namespace
{

using linux_backend::VolumeGeometry;
using namespace velo::testing;

std::int64_t volumeBytes(const DiskFreeSpace& s)
{
    return s.totalClusters * s.sectorsPerCluster * s.bytesPerSector;
}

TEST(VolumeGeometry, ClustersAreFragmentsWhenTheyAreWholeSectorsAndSectorsOtherwise)
{
    const auto whole = VolumeGeometry::mounted(4096, 1000, 250, 512);
    EXPECT_EQ(whole.sectorsPerCluster, 8);
    EXPECT_EQ(whole.totalClusters, 1000);
    EXPECT_EQ(whole.freeClusters, 250);

    // 1024-byte fragments on 4096-byte sectors, and 1536 on 1024: counted in sectors,
    // free space rounded down, the volume size kept.
    const auto small = VolumeGeometry::mounted(1024, 4000, 1001, 4096);
    EXPECT_EQ(small.sectorsPerCluster, 1);
    EXPECT_EQ(small.freeClusters, 250);
    EXPECT_EQ(volumeBytes(small), 4000 * 1024);
    const auto uneven = VolumeGeometry::mounted(1536, 2000, 10, 1024);
    EXPECT_EQ(uneven.sectorsPerCluster, 1);
    EXPECT_EQ(uneven.freeClusters, 15);
    EXPECT_EQ(volumeBytes(uneven), 2000 * 1536);

    // Fragments × fragment size passes 2^64 on the way and must not wrap.
    EXPECT_EQ(VolumeGeometry::mounted(1000, std::uint64_t{1} << 60, 0, 4096).totalClusters,
              (std::int64_t{1} << 48) * 1000);
}

// D: is a USB card mounted on a real temporary folder, E: a card with nothing mounted and
// 4096-byte sectors, C: an overlay root.
class DiskFreeSpaceTest : public ::testing::Test
{
protected:
    DiskFreeSpaceTest()
    {
        sys.add({.name = "sdb", .minor = 16, .bus = kUsb})
            .add({.name = "sdc", .minor = 32, .bus = kUsb, .logicalBlockSize = 4096})
            .add({.name = "sdc1", .parent = "sdc", .minor = 33, .size512 = 7744512})
            .mount("8:16", mounted.path.string(), "vfat", "/dev/sdb")
            .mount("0:40", "/", "overlay", "overlay");
    }

    ScratchDir mounted;
    FakeSystem sys;
    LinuxPlatform platform = sys.platform();
};

TEST_F(DiskFreeSpaceTest, MountedVolumeAnswersFromItsFileSystem)
{
    const auto space = platform.diskFreeSpace("D:/");
    ASSERT_TRUE(space);
    struct statvfs info {
    };
    ASSERT_EQ(::statvfs(mounted.path.c_str(), &info), 0);
    EXPECT_EQ(space->bytesPerSector, 512);
    EXPECT_EQ(volumeBytes(*space), static_cast<std::int64_t>(info.f_blocks * info.f_frsize));
    EXPECT_GT(space->totalClusters, 0);

    const auto root = platform.diskFreeSpace("C:/"); // no device: default sectors
    ASSERT_TRUE(root);
    EXPECT_EQ(root->bytesPerSector, 512);
}

TEST_F(DiskFreeSpaceTest, UnmountedPartitionIsScannableWholeAndReadLive)
{
    // sysfs counts 512-byte units; the partition's sector size is its disk's.
    auto space = platform.diskFreeSpace("e:\\");
    ASSERT_TRUE(space);
    EXPECT_EQ(space->bytesPerSector, 4096);
    EXPECT_EQ(space->sectorsPerCluster, 1);
    EXPECT_EQ(space->totalClusters, 7744512 / 8);
    EXPECT_EQ(space->freeClusters, 0);

    const auto sizeFile = std::filesystem::canonical(sys.sysBlock() / "sdc1") / "size";
    writeText(sizeFile, "15523840\n"); // a bigger card went in
    EXPECT_EQ(platform.diskFreeSpace("E:/")->totalClusters, 15523840 / 8);
    writeText(sizeFile, "0\n"); // no medium
    EXPECT_FALSE(platform.diskFreeSpace("E:/"));
    std::filesystem::remove(sys.sysBlock() / "sdc1"); // reader unplugged
    EXPECT_FALSE(platform.diskFreeSpace("E:/"));
}

TEST_F(DiskFreeSpaceTest, OnlyARootPathOfAKnownDriveIsAnswered)
{
    for (const char* path : {"d:/", "D:\\"})
        EXPECT_TRUE(platform.diskFreeSpace(path)) << path;
    for (const char* path : {"D:", "D", "D:/x", "D;/", "1:/", "", "Q:/", "DD:/"})
        EXPECT_FALSE(platform.diskFreeSpace(path)) << path;

    FakeSystem gone;
    gone.add({.name = "sdb"}).mount("8:0", "/nonexistent/velo/card", "vfat", "/dev/sdb");
    EXPECT_FALSE(gone.platform().diskFreeSpace("D:/"));
}

} // namespace
} // namespace velo
