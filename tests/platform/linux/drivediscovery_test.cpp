#include "tests/support/fakesystem.h"

#include "platform/linux/mountinfo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>

namespace velo
{
namespace
{

using ::testing::ElementsAre;
using namespace velo::testing;

// "D sdb1 1 /media/card": letter, sysfs name (or "-"), type code, mount point (or "-").
std::vector<std::string> summary(const std::vector<LinuxDrive>& table)
{
    std::vector<std::string> lines;
    for (const auto& d : table)
        lines.push_back(d.letter + " " + (d.sysfsName.empty() ? "-" : d.sysfsName) + " " +
                        std::to_string(int(d.type)) + " " +
                        (d.mountPoint.empty() ? "-" : d.mountPoint));
    return lines;
}

TEST(MountInfo, ReadsTheFieldsAroundOptionalTagsAndUndoesEscapes)
{
    const auto entries = linux_backend::MountInfo::parse(
        "garbage\n"
        "41 26 8:1 / /no-separator rw ext4 /dev/sda1 rw\n"
        "42 26 eight:1 / /bad-number rw - ext4 /dev/sda1 rw\n"
        "97 26 8:17 /a\\134b /media/SD\\040CARD\\011x rw shared:4 master:1 - vfat /dev/sdb1 rw\n"
        "98 26 0:52 / /x\\04 rw - nfs4 nas:/export rw"); // no newline at the end
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].major, 8u);
    EXPECT_EQ(entries[0].minor, 17u);
    EXPECT_EQ(entries[0].root, "/a\\b");
    EXPECT_EQ(entries[0].mountPoint, "/media/SD CARD\tx");
    EXPECT_EQ(entries[0].fsType, "vfat");
    EXPECT_EQ(entries[0].source, "/dev/sdb1");
    EXPECT_EQ(entries[1].mountPoint, "/x\\04"); // not a full escape: left alone
    EXPECT_EQ(entries[1].source, "nas:/export");
}

TEST(DriveDiscovery, DesktopVolumesGetLettersInNameOrder)
{
    FakeSystem sys;
    sys.add({.name = "sda"})
        .add({.name = "sda1", .parent = "sda", .minor = 1})
        .add({.name = "sda2", .parent = "sda", .minor = 2})
        .add({.name = "sda3", .parent = "sda", .minor = 3})
        .add({.name = "sdb", .minor = 16}) // blank disk: no partitions
        .add({.name = "sdc", .minor = 32})
        .add({.name = "sdc1", .parent = "sdc", .minor = 33, .holders = {"md0"}})
        .add({.name = "sdd", .minor = 48, .holders = {"md0"}})
        .add({.name = "md0", .major = 9, .bus = kVirtual, .slaves = {"sdc1", "sdd"}})
        .add({.name = "sde", .minor = 64, .holders = {"dm-0"}})
        .add(
            {.name = "dm-0", .major = 253, .bus = kVirtual, .slaves = {"sde"}, .dmName = "vg-data"})
        .add({.name = "dm-1", .major = 253, .minor = 1, .bus = kVirtual, .dmName = "vg-swap"})
        .add({.name = "nvme0n1", .major = 259})
        .add({.name = "nvme0n1p1", .parent = "nvme0n1", .major = 259, .minor = 1})
        .add({.name = "sdf", .minor = 80, .bus = kUsb, .removable = 1})
        .add({.name = "loop0", .major = 7, .size512 = 0, .bus = kVirtual}) // unattached
        .add({.name = "loop1", .major = 7, .minor = 1, .bus = kVirtual})
        .add({.name = "fd0", .major = 2, .size512 = 2880, .bus = kVirtual, .removable = 1})
        .mount("8:1", "/", "ext4", "/dev/sda1")
        .mount("0:22", "/proc", "proc", "proc")
        .mount("8:1", "/var/lib/x", "ext4", "/dev/sda1")
        .mount("9:0", "/srv/raid", "ext4", "/dev/md0")
        .mount("253:0", "/data", "xfs", "/dev/mapper/vg-data")
        // btrfs reports anonymous device numbers; the source still names the device. The
        // mount that shows the whole file system wins over a shorter subvolume mount.
        .mount("0:31", "/home", "btrfs", "/dev/nvme0n1p1", "/@home")
        .mount("0:31", "/mnt/pool", "btrfs", "/dev/nvme0n1p1")
        .mount("8:80", "/media/u/SD\\040CARD", "vfat", "/dev/sdf")
        .mount("8:80", "/mnt/longer/bind", "vfat", "/dev/sdf")
        .mount("0:60", "/net/photos", "nfs4", "nas:/photos")
        .mount("0:61", "/mnt/share", "cifs", "//nas/share")
        .swap("/dev/sda2")
        .swap("/dev/mapper/vg-swap");

    const auto platform = sys.platform();
    EXPECT_THAT(summary(platform.table()),
                ElementsAre("A fd0 1 -", "C sda1 2 /", "D dm-0 2 /data", "E loop1 2 -",
                            "F md0 2 /srv/raid", "G nvme0n1p1 2 /mnt/pool", "H sda3 2 -",
                            "I sdb 2 -", "J sdf 1 /media/u/SD CARD", "K - 3 /mnt/share",
                            "L - 3 /net/photos"));
    EXPECT_EQ(platform.drive('c')->devicePath, (sys.dev() / "sda1").string());
    EXPECT_EQ(platform.drive('G')->fsType, "btrfs");
    EXPECT_TRUE(platform.drive('H')->fsType.empty());
    EXPECT_TRUE(platform.drive('L')->devicePath.empty());
    EXPECT_FALSE(platform.drive('B'));

    auto copy = sys.platform();
    const auto drives = copy.drives();
    ASSERT_EQ(drives.size(), 11u);
    EXPECT_EQ(drives[9].letter, "K");
    EXPECT_EQ(drives[9].type, DriveType::Network);
    EXPECT_EQ(drives[9].rootFolder, "/mnt/share");
}

TEST(DriveDiscovery, RootIsCEvenWhenItIsNoBlockDevice)
{
    FakeSystem container;
    container.add({.name = "vda", .major = 254})
        .mount("0:1", "/", "rootfs", "rootfs")
        .mount("0:51", "/", "overlay", "overlay") // the later mount at "/" is the visible one
        // Docker bind-mounts single files from the host disk.
        .mount("254:0", "/etc/hosts", "ext4", "/dev/vda", "/var/lib/docker/containers/x/hosts")
        // A block device this container's sysfs does not show: a drive of unknown kind.
        .mount("65:0", "/data", "ext4", "/dev/sdq");
    const auto platform = container.platform();
    EXPECT_THAT(summary(platform.table()),
                ElementsAre("C - 2 /", "D vda 2 /etc/hosts", "E - 0 /data"));
    EXPECT_TRUE(platform.drive('C')->devicePath.empty());
    EXPECT_EQ(platform.drive('C')->fsType, "overlay");
    EXPECT_EQ(platform.drive('E')->devicePath, "/dev/sdq");

    FakeSystem diskless;
    diskless.mount("0:20", "/", "nfs", "server:/roots/pc1");
    EXPECT_THAT(summary(diskless.platform().table()), ElementsAre("C - 3 /"));
}

TEST(DriveDiscovery, TypeCodesFollowTheKindOfDevice)
{
    FakeSystem sys;
    sys.add({.name = "sr0", .major = 11})
        .add({.name = "sdh", .minor = 112, .scsiType = 5}) // a CD drive named like a disk
        .add({.name = "sdb", .minor = 16, .bus = kUsb})    // USB stick claiming to be fixed
        .add({.name = "sdc", .minor = 32, .removable = 1}) // card reader on SATA
        .add({.name = "sdd", .minor = 48, .bus = kUsb})
        .add({.name = "sdd1", .parent = "sdd", .minor = 49})
        .add({.name = "sde", .minor = 64, .bus = kUsb, .holders = {"dm-0"}})
        .add({.name = "dm-0", .major = 253, .bus = kVirtual, .slaves = {"sde"}}) // encrypted
        .add({.name = "mmcblk0", .major = 179, .bus = kMmc})
        .add({.name = "mmcblk0p1", .parent = "mmcblk0", .major = 179, .minor = 1})
        .add({.name = "nvme0n1", .major = 259})
        .add({.name = "loop3", .major = 7, .minor = 3, .bus = kVirtual})
        .add({.name = "ram0", .major = 1, .bus = kVirtual})
        .add({.name = "zram1", .major = 252, .minor = 1, .bus = kVirtual})
        .add({.name = "pmem0", .major = 259, .minor = 9, .bus = kVirtual})
        .add({.name = "ramoops", .major = 250, .bus = kVirtual}); // not a RAM disk name

    std::map<std::string, int> types;
    const auto platform = sys.platform(); // the table lives as long as its platform
    for (const auto& d : platform.table())
        types[d.sysfsName] = int(d.type);
    EXPECT_EQ(types, (std::map<std::string, int>{{"sr0", 4},
                                                 {"sdh", 4},
                                                 {"sdb", 1},
                                                 {"sdc", 1},
                                                 {"sdd1", 1},
                                                 {"dm-0", 1},
                                                 {"mmcblk0p1", 1},
                                                 {"nvme0n1", 2},
                                                 {"loop3", 2},
                                                 {"ram0", 5},
                                                 {"zram1", 5},
                                                 {"pmem0", 5},
                                                 {"ramoops", 2}}));
}

TEST(DriveDiscovery, EachDriveSaysWhatStandsBehindItsLetter)
{
    FakeSystem sys;
    sys.add({.name = "sda", .vendor = "ATA     ", .model = "Samsung SSD 860 "})
        .add({.name = "sda1", .parent = "sda", .minor = 1, .size512 = 1000000})
        .add({.name = "sdb", .minor = 16, .bus = kUsb, .vendor = "Generic-", .model = "SD/MMC"})
        .add({.name = "sdb1", .parent = "sdb", .minor = 17, .size512 = 62333952})
        .add({.name = "mmcblk0", .major = 179, .bus = kMmc, .mmcName = "SD32G"})
        .add({.name = "loop0", .major = 7, .bus = kVirtual, .loopBackingFile = "/root/card.img"})
        .add({.name = "vda", .major = 254, .vendor = "0x1af4"}) // virtio: a vendor number only
        .mount("8:1", "/", "ext4", "/dev/sda1")
        .mount("8:17", "/media/card", "vfat", "/dev/sdb1")
        .mount("0:60", "/net/photos", "nfs4", "nas:/photos");

    auto platform = sys.platform();
    std::map<std::string, std::string> shown;
    for (const DriveInfo& d : platform.drives()) {
        ASSERT_TRUE(d.details) << d.letter;
        shown[d.letter] = d.details->device + " | " +
                          (d.details->sizeBytes ? std::to_string(*d.details->sizeBytes) : "?") +
                          " | " + d.details->model + " | " + d.rootFolder;
    }
    const std::string dev = sys.dev().string();
    EXPECT_EQ(shown, (std::map<std::string, std::string>{
                         {"C", dev + "/sda1 | 512000000 | ATA Samsung SSD 860 | /"},
                         {"D", dev + "/loop0 | 1048576 | /root/card.img | "},
                         {"E", dev + "/mmcblk0 | 1048576 | SD32G | "},
                         {"F", dev + "/sdb1 | 31914983424 | Generic- SD/MMC | /media/card"},
                         {"G", dev + "/vda | 1048576 |  | "},
                         {"H", "nas:/photos | ? |  | /net/photos"}}));
}

TEST(DriveDiscovery, LettersRunOutAtZAndNumbersSortAsNumbers)
{
    FakeSystem sys;
    sys.add({.name = "sda"}).mount("8:0", "/", "ext4", "/dev/sda");
    for (unsigned i = 0; i < 30; ++i)
        sys.add({.name = "loop" + std::to_string(i), .major = 7, .minor = i, .bus = kVirtual});
    sys.mount("0:70", "/mnt/nas", "nfs", "nas:/");

    const auto platform = sys.platform();
    const auto& table = platform.table();
    ASSERT_EQ(table.size(), 24u); // C, then D..Z
    EXPECT_EQ(table[1].sysfsName, "loop0");
    EXPECT_EQ(table[10].sysfsName, "loop9");
    EXPECT_EQ(table[11].sysfsName, "loop10");
    EXPECT_EQ(table.back().letter, "Z");
    EXPECT_EQ(table.back().sysfsName, "loop22");
}

TEST(DriveDiscovery, TheTableIsWorkedOutOnceAndKept)
{
    FakeSystem sys;
    sys.add({.name = "sda"});
    const auto platform = sys.platform();
    const auto before = summary(platform.table());
    sys.add({.name = "sdb", .minor = 16});
    EXPECT_EQ(summary(platform.table()), before);
    EXPECT_NE(summary(sys.platform().table()), before);
}

} // namespace
} // namespace velo
