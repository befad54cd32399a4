#include "platform/linux/blocksource.h"

#include "tests/support/fakesystem.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace velo
{
namespace
{

using namespace linux_backend;
using namespace velo::testing;

// Disk sdb (8:16) with partitions sdb1 (8:17) and sdb2 (8:18), a dm-crypt volume dm-0
// (253:0) on sdb2, and disk sdc (8:32). The scratch folder's own device plays one role
// at a time.
TEST(BlockSource, WritingToTheDeviceReadIsSeenThroughPartitionsAndStackedDevices)
{
    ScratchDir out;
    struct stat st {
    };
    ASSERT_EQ(::stat(out.path.c_str(), &st), 0);
    const unsigned hereMajor = major(st.st_dev), hereMinor = minor(st.st_dev);
    const dev_t disk = makedev(8, 16), part1 = makedev(8, 17), part2 = makedev(8, 18);
    const dev_t other = makedev(8, 32);
    auto machine = [&](int hereIs) {
        auto sys = std::make_unique<FakeSystem>();
        auto number = [&](int role, unsigned maj, unsigned min) {
            return role == hereIs ? std::pair{hereMajor, hereMinor} : std::pair{maj, min};
        };
        const auto [p1Major, p1Minor] = number(1, 8, 17);
        const auto [dmMajor, dmMinor] = number(2, 253, 0);
        sys->add({.name = "sdb", .major = 8, .minor = 16})
            .add({.name = "sdb1", .parent = "sdb", .major = p1Major, .minor = p1Minor})
            .add({.name = "sdb2", .parent = "sdb", .major = 8, .minor = 18, .holders = {"dm-0"}})
            .add({.name = "dm-0",
                  .major = dmMajor,
                  .minor = dmMinor,
                  .bus = kVirtual,
                  .slaves = {"sdb2"}})
            .add({.name = "sdc", .major = 8, .minor = 32});
        return sys;
    };
    const std::string folder = (out / "not/yet/made").string(); // its parent decides

    // The folder is on the first partition: reading the whole disk warns, reading the
    // other partition does not.
    auto onPartition = machine(1);
    const SysfsBlock partitionSysfs(onPartition->sysBlock().string());
    EXPECT_TRUE(writesToDevice(folder, disk, partitionSysfs));
    EXPECT_FALSE(writesToDevice(folder, part2, partitionSysfs));
    EXPECT_FALSE(writesToDevice(folder, other, partitionSysfs));

    // The folder is on an encrypted volume inside the second partition.
    auto onStacked = machine(2);
    const SysfsBlock stackedSysfs(onStacked->sysBlock().string());
    EXPECT_TRUE(writesToDevice(folder, disk, stackedSysfs));
    EXPECT_TRUE(writesToDevice(folder, part2, stackedSysfs));
    EXPECT_FALSE(writesToDevice(folder, part1, stackedSysfs));

    // The very device, with nothing in sysfs about it.
    EXPECT_TRUE(writesToDevice(folder, st.st_dev, SysfsBlock((out / "nothing").string())));
}

TEST(BlockSource, LoopDevicesAreFoundByTheirBackingFile)
{
    FakeSystem sys;
    writeText(sys.dir / "card.img", "image");
    writeText(sys.dir / "other.img", "other");
    sys.add({.name = "loop0",
             .major = 7,
             .minor = 0,
             .bus = kVirtual,
             .loopBackingFile = (sys.dir / "other.img").string()})
        .add({.name = "loop1",
              .major = 7,
              .minor = 1,
              .bus = kVirtual,
              .loopBackingFile = (sys.dir / "card.img").string()})
        .add({.name = "sda", .major = 8, .minor = 0});
    const SysfsBlock sysfs(sys.sysBlock().string());
    EXPECT_EQ(loopDevicesBackedBy((sys.dir / "card.img").string(), sysfs),
              std::vector<dev_t>{makedev(7, 1)});
    EXPECT_TRUE(loopDevicesBackedBy((sys.dir / "missing.img").string(), sysfs).empty());
}

// The image behind a loop device is found from the loop device, from a partition of it and
// from a volume stacked on one; a device with no loop below it has none.
TEST(BlockSource, TheImageFilesBehindADeviceAreFoundBelowIt)
{
    FakeSystem sys;
    writeText(sys.dir / "card.img", "card");
    writeText(sys.dir / "other.img", "other");
    sys.add({.name = "loop0",
             .major = 7,
             .minor = 0,
             .bus = kVirtual,
             .loopBackingFile = (sys.dir / "card.img").string()})
        .add({.name = "loop0p1", .parent = "loop0", .major = 259, .minor = 0})
        .add({.name = "loop1",
              .major = 7,
              .minor = 1,
              .bus = kVirtual,
              .holders = {"dm-0"},
              .loopBackingFile = (sys.dir / "other.img").string()})
        .add({.name = "dm-0", .major = 253, .minor = 0, .bus = kVirtual, .slaves = {"loop1"}})
        .add({.name = "sda", .major = 8, .minor = 0})
        .add({.name = "sda1", .parent = "sda", .major = 8, .minor = 1});
    const SysfsBlock sysfs(sys.sysBlock().string());
    auto identity = [](const fs::path& file) {
        struct stat st {
        };
        EXPECT_EQ(::stat(file.c_str(), &st), 0) << file;
        return FileIdentity{st.st_dev, st.st_ino};
    };
    const FileIdentity card = identity(sys.dir / "card.img");
    const FileIdentity other = identity(sys.dir / "other.img");

    const struct {
        const char* name;
        dev_t device;
        std::vector<FileIdentity> files;
    } cases[] = {
        {"loop device", makedev(7, 0), {card}},
        {"partition of a loop device", makedev(259, 0), {card}},
        {"volume stacked on a loop device", makedev(253, 0), {other}},
        {"the loop device under that volume", makedev(7, 1), {other}},
        {"disk", makedev(8, 0), {}},
        {"partition of a disk", makedev(8, 1), {}},
        {"device sysfs does not know", makedev(8, 99), {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(filesBehind(c.device, sysfs), c.files) << c.name;
}

} // namespace
} // namespace velo
