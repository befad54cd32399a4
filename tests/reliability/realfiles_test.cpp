// Faults on the real machine: the Linux backend reading an image file or a read-only loop
// device, and writing recovered files into folders that are missing, read-only or on a
// small file system that fills up. Tests that need root and loop mounts skip where the
// machine does not allow them.

#include "drive/rawvolume.h"
#include "platform/linux/linuxdevicehandle.h"
#include "platform/linux/linuxplatform.h"
#include "scan/recoveryscan.h"
#include "tests/cli/support.h"
#include "tests/reliability/scratch.h"
#include "tests/support/fakesystem.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velo::reliability
{
namespace
{

using ::testing::HasSubstr;
using ::testing::Not;

using cli::testing::RunResult;
using cli::testing::runVeloCarve;
constexpr std::size_t kSector = 512;

// A made-up machine whose only drive is an image file standing in for an unmounted card,
// /dev/sdz, so the backend's own open and read paths run on it.
struct ImageMachine : FakeSystem {
    explicit ImageMachine(const Bytes& volume)
    {
        add({.name = "sdz", .minor = 240, .size512 = (volume.size() + 511) / 512, .removable = 1});
        writeFile(image, volume);
    }
    const fs::path image = dev() / "sdz";
};

struct RealScan : ::testing::Test {
    ScratchDir out; // where carved files go unless a test says otherwise
    TestHost host;
    Bytes buffer = Bytes(kSector + 1, 0);

    RealScan() { host.folder = out.path.string() + "/"; }

    ScanEnd scan(Platform& platform, const std::string& letter, std::int64_t total)
    {
        auto volume = openRawVolume(platform, 0, letter, buffer);
        EXPECT_TRUE(volume) << "drive " << letter << " did not open";
        if (!volume)
            return ScanEnd::Stopped;
        FileSink files = windowFiles(platform, host);
        return runRecoveryPasses(platform, host, *volume, buffer, files, total);
    }

    // The whole image as the machine's one extra drive.
    ScanEnd scanImage(LinuxPlatform& platform, const ImageMachine& machine, std::int64_t total)
    {
        return scan(platform, letterOf(platform, machine.image.string()), total);
    }
};

Volume threeStreams()
{
    Volume v(64, kSector);
    v.stream(2, 9);
    v.stream(12, 12, 30);
    v.stream(20, 40, 500); // ends with the window cut by the sector's end
    return v;
}

// The image is opened read-only (the descriptor's access mode says so while the volume is
// open), comes out of the scan byte for byte as it went in, and the files on disk are
// exactly what the model carves.
TEST_F(RealScan, SourceIsOpenedReadOnlyAndLeftUnchanged)
{
    const Volume v = threeStreams();
    ImageMachine machine(v.bytes);
    ::chmod(machine.image.c_str(), 0444);
    LinuxPlatform platform = machine.platform();
    const std::string letter = letterOf(platform, machine.image.string());
    ASSERT_FALSE(letter.empty());

    {
        auto volume = openRawVolume(platform, 0, letter, buffer);
        ASSERT_TRUE(volume);
        EXPECT_EQ(descriptorsOn(machine.image), (std::vector<OpenDescriptor>{{O_RDONLY, true}}));
        FileSink files = windowFiles(platform, host);
        runRecoveryPasses(platform, host, *volume, buffer, files, 64);
    }
    EXPECT_TRUE(descriptorsOn(machine.image).empty()) << "the device was not released";
    EXPECT_EQ(readFile(machine.image), v.bytes);
    const auto expected = modelFiles(v, range(0, 64));
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(filesIn(out.path), named(expected));
}

// The same scan from a loop device attached read-only: any attempt to open it for
// writing would fail, and the scan carves what it carves from the image.
TEST_F(RealScan, ReadOnlyLoopDeviceScansLikeItsImage)
{
    const Volume v = threeStreams();
    ScratchDir dir;
    writeFile(dir.path / "card.img", v.bytes);
    ReadOnlyLoopDevice loop(dir.path / "card.img");
    if (loop.device().empty())
        GTEST_SKIP() << loop.why();
    LinuxPlatform platform; // this machine's own drive table
    const std::string letter = letterOf(platform, loop.device());
    if (letter.empty())
        GTEST_SKIP() << loop.device() << " got no drive letter on this machine";

    EXPECT_EQ(scan(platform, letter, 64), ScanEnd::Completed);
    EXPECT_EQ(filesIn(out.path), named(modelFiles(v, range(0, 64))));
}

// A machine whose device reads go through the real read loop with faults injected under
// it: chosen sectors fail with EIO, every read returns at most `chunk` bytes (the loop
// must ask again for the rest), some calls are interrupted, and from read `vanishAt` on
// the device is gone (ENODEV).
struct FaultyDevicePlatform : LinuxPlatform {
    fs::path image;
    std::set<std::uint64_t> badSectors;
    std::size_t chunk = 1 << 20;
    std::uint64_t vanishAt = ~std::uint64_t(0);
    std::uint64_t calls = 0;

    using LinuxPlatform::LinuxPlatform;

    std::unique_ptr<DeviceHandle> openDevice(const std::string& name) override
    {
        if (!LinuxPlatform::openDevice(name))
            return nullptr;
        const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
        return std::make_unique<linux_backend::LinuxDeviceHandle>(
            fd, [this, fd](std::uint8_t* into, size_t count, std::uint64_t offset) -> ssize_t {
                const std::uint64_t call = calls++;
                if (call % 7 == 3) {
                    errno = EINTR;
                    return -1;
                }
                if (std::uint64_t(offset) / kSector >= vanishAt) {
                    errno = ENODEV;
                    return -1;
                }
                if (badSectors.count(std::uint64_t(offset) / kSector)) {
                    errno = EIO;
                    return -1;
                }
                return ::pread(fd, into, std::min(count, chunk), off_t(offset));
            });
    }
};

TEST_F(RealScan, DeviceFaultsUnderTheRealReadLoopCostOnlyTheSectorsTheyHit)
{
    Volume v(48, kSector);
    v.stream(1, 6);
    v.stream(10, 14);
    v.stream(20, 30);
    v.stream(36, 40);
    ImageMachine machine(v.bytes);
    auto platform = machine.platform<FaultyDevicePlatform>();
    platform.image = machine.image;
    platform.badSectors = {4, 10, 25};
    platform.chunk = 100;
    platform.vanishAt = 33;

    EXPECT_EQ(scanImage(platform, machine, 48), ScanEnd::Completed);
    const auto expected = modelFiles(v, range(0, 33, {4, 10, 25}));
    ASSERT_EQ(expected.size(), 2u); // the stream at 10 lost its start
    EXPECT_EQ(filesIn(out.path), named(expected));
}

// A save folder that cannot take files, one that does not exist or a read-only file system
// (root ignores permission bits, so a read-only mount is the only way to refuse root):
// the files meant for it have their numbers used up, their bytes go nowhere and nothing
// appears there; the files before and after them, in a good folder, are whole.
struct BadFolder : RealScan, ::testing::WithParamInterface<bool> {
};

TEST_P(BadFolder, CostsOnlyTheFilesMeantForIt)
{
    std::optional<LoopMount> readOnly;
    fs::path bad = out.path / "gone";
    if (GetParam()) {
        readOnly.emplace(1 << 20, "ext2", true);
        if (!readOnly->ok())
            GTEST_SKIP() << readOnly->why();
        bad = readOnly->mountPoint();
    }
    Volume v(30, kSector);
    v.stream(1, 3);
    v.stream(8, 10);
    v.stream(20, 22);
    ImageMachine machine(v.bytes);
    LinuxPlatform platform = machine.platform();
    host.duringEvents = [&](std::uint64_t pass) {
        if (pass == 6)
            host.folder = bad.string() + "/";
        if (pass == 15)
            host.folder = out.path.string() + "/";
    };

    EXPECT_EQ(scanImage(platform, machine, 30), ScanEnd::Completed);
    auto expected = modelFiles(v, range(0, 30));
    ASSERT_EQ(expected.size(), 3u);
    expected.erase(2);
    EXPECT_EQ(filesIn(out.path), named(expected));
    EXPECT_TRUE(filesIn(bad).empty());
    EXPECT_EQ(fs::exists(bad), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Folders, BadFolder, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ReadOnly" : "Missing"; });

// A small file system fills up in the middle of the second file: the first is whole, the
// second and third hold exact prefixes of what was carved, and the scan runs to its end.
TEST_F(RealScan, FullFileSystemLeavesExactPrefixes)
{
    LoopMount small(1 << 20, "ext2");
    if (!small.ok())
        GTEST_SKIP() << small.why();
    Volume v(3000, kSector);
    v.stream(0, 400);     // about 200 KiB
    v.stream(500, 2600);  // about 1 MiB, more than is left
    v.stream(2700, 2760); // made while the disk is full
    ImageMachine machine(v.bytes);
    LinuxPlatform platform = machine.platform();
    host.folder = small.mountPoint().string() + "/";

    EXPECT_EQ(scanImage(platform, machine, 3000), ScanEnd::Completed);
    const auto model = modelFiles(v, range(0, 3000));
    ASSERT_EQ(model.size(), 3u);
    const auto files = filesIn(small.mountPoint());
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files.at(outputName(1)), model.at(1));
    for (std::uint64_t n : {2, 3}) {
        const Bytes& got = files.at(outputName(n));
        ASSERT_LE(got.size(), model.at(n).size()) << outputName(n);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), model.at(n).begin())) << outputName(n);
    }
    EXPECT_LT(files.at(outputName(2)).size(), model.at(2).size()) << "the disk never filled";
}

// Links planted in the save folder under the names a scan writes (a symlink to a file of
// the user's, a hard link to another, a link to nowhere) are replaced by the carved files;
// what they point at is never written and nothing appears where the dangling one points.
TEST_F(RealScan, LinksPlantedInTheSaveFolderAreReplacedNotWrittenThrough)
{
    const Volume v = threeStreams();
    ImageMachine machine(v.bytes);
    LinuxPlatform platform = machine.platform();
    ScratchDir elsewhere;
    const fs::path victim = elsewhere.path / "victim", other = elsewhere.path / "other";
    writeFile(victim, Bytes{'k', 'e', 'e', 'p'});
    writeFile(other, Bytes{'m', 'e', ' ', 't', 'o', 'o'});
    fs::create_symlink(victim, out.path / "DD001.JPG");
    fs::create_hard_link(other, out.path / "DD002.JPG");
    fs::create_symlink(elsewhere.path / "nowhere", out.path / "DD003.JPG");

    EXPECT_EQ(scanImage(platform, machine, 64), ScanEnd::Completed);
    EXPECT_EQ(readFile(victim), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(readFile(other), (Bytes{'m', 'e', ' ', 't', 'o', 'o'}));
    EXPECT_FALSE(fs::exists(elsewhere.path / "nowhere"));
    for (const char* name : {"DD001.JPG", "DD002.JPG", "DD003.JPG"}) {
        struct stat st {
        };
        ASSERT_EQ(::lstat((out.path / name).c_str(), &st), 0) << name;
        EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_nlink == 1) << name;
    }
    EXPECT_EQ(filesIn(out.path), named(modelFiles(v, range(0, 64))));
}

// A loop device whose backing file fails sectors 50, 51, 700 and 9005. Read through the
// page cache, each failure takes its whole 4 KiB page with it, so the photos starting at
// sectors 40 and 9000 were lost; both the window and velo-carve now lose exactly the
// four sectors.
TEST_F(RealScan, BadSectorsOfABlockDeviceCostOnlyThemselvesInBothFrontEnds)
{
    Volume v(10000, kSector);
    for (const auto& [first, last] : std::vector<std::pair<std::size_t, std::size_t>>{
             {40, 60}, {100, 120}, {690, 710}, {3000, 3010}, {9000, 9010}, {9500, 9600}})
        v.stream(first, last);
    const std::set<std::size_t> bad{50, 51, 700, 9005};
    BadSectorDevice device(v.bytes, "50,51,700,9005");
    if (device.device().empty())
        GTEST_SKIP() << device.why();
    const auto expected = named(modelFiles(v, range(0, 10000, bad)));
    ASSERT_EQ(expected.size(), 6u);

    LinuxPlatform platform;
    const std::string letter = letterOf(platform, device.device());
    if (letter.empty())
        GTEST_SKIP() << device.device() << " got no drive letter on this machine";
    EXPECT_EQ(scan(platform, letter, 10000), ScanEnd::Completed);
    EXPECT_EQ(filesIn(out.path), expected);

    ScratchDir carveOut;
    const RunResult r =
        runVeloCarve({"--rule=window", "--no-sheet", device.device(), (carveOut / "out").string()});
    EXPECT_EQ(r.exitStatus, 1) << r.errorOutput;
    EXPECT_THAT(r.errorOutput, HasSubstr("4 sectors could not be read"));
    EXPECT_EQ(filesIn(carveOut / "out"), expected);
}

// A device on which every read fails, as a card pulled out of its reader: velo-carve
// gives up after a run of failures instead of trying every sector, says so, and exits 1.
TEST_F(RealScan, VeloCarveGivesUpOnADeviceThatFailsEveryRead)
{
    Volume v(40000, kSector);
    BadSectorDevice device(v.bytes, "0-39999");
    if (device.device().empty())
        GTEST_SKIP() << device.why();
    // Both rules: the JPEG rule's reads ahead of the pass give up with it.
    for (const char* rule : {"window", "jpeg"}) {
        SCOPED_TRACE(rule);
        ScratchDir work;
        const RunResult r =
            runVeloCarve({"--rule", rule, device.device(), (work / "out").string()});
        EXPECT_EQ(r.exitStatus, 1) << r.errorOutput;
        EXPECT_THAT(r.errorOutput, HasSubstr("stopped answering"));
        EXPECT_THAT(r.errorOutput, Not(HasSubstr("from 40000 of 40000 sectors")));
    }
}

} // namespace
} // namespace velo::reliability
