#include "scan/recoveryscan.h"

#include "drive/rawvolume.h"
#include "drive/registerblock.h"
#include "platform/fake/fakeplatform.h"
#include "tests/scan/naivecarver.h"
#include "tests/scan/scanhoststub.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace velo
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kSector = 512;

// A volume of sectors: filler, a stream over sectors [first, last] ending in FF D9 and
// eleven zeros inside sector last.
struct VolumeBuilder {
    Bytes bytes;
    explicit VolumeBuilder(std::size_t sectors) : bytes(sectors * kSector, 0x5A) {}
    void stream(std::size_t first, std::size_t last, std::size_t endAt = 200)
    {
        std::uint8_t* s = &bytes[first * kSector];
        s[0] = 0xFF, s[1] = 0xD8, s[2] = 0xFF;
        std::uint8_t* e = &bytes[last * kSector + endAt];
        e[0] = 0xFF, e[1] = 0xD9;
        std::fill(e + 2, e + 13, 0x00);
    }
    Bytes carved(std::size_t first, std::size_t last, std::size_t endAt = 200) const
    {
        return Bytes(bytes.begin() + std::ptrdiff_t(first * kSector),
                     bytes.begin() + std::ptrdiff_t(last * kSector + endAt + 2));
    }
};

struct ScanFixture : ::testing::Test {
    FakePlatform platform;
    testing::ScanHostStub host;
    std::vector<std::uint8_t> buffer = Bytes(kSector + 1, 0);
    std::unique_ptr<OutputFile> slot;

    void SetUp() override { platform.folders.insert("/save"); }

    FakeDrive& drive(const Bytes& volume)
    {
        FakeDrive& d = platform.addDrive("D");
        d.volumeBytes = volume;
        return d;
    }

    ScanEnd scan(int flag, std::int64_t total)
    {
        auto volume = openRawVolume(platform, flag, "D", buffer);
        EXPECT_TRUE(volume);
        return runRecoveryPasses(platform, host, *volume, buffer, slot, total);
    }

    const Bytes& file(const std::string& name) { return platform.files.at("/save/" + name); }
};

TEST_F(ScanFixture, CarvesStreamsIntoNumberedFilesAndMakesTheDatFolder)
{
    VolumeBuilder v(20);
    v.stream(2, 4);
    v.stream(9, 9, 40);
    drive(v.bytes);

    EXPECT_EQ(scan(0, 20), ScanEnd::Completed);
    EXPECT_EQ(platform.files.size(), 2u);
    EXPECT_EQ(file("DD001.JPG"), v.carved(2, 4));
    EXPECT_EQ(file("DD002.JPG"), v.carved(9, 9, 40));
    EXPECT_EQ(host.passesShown, 20u);
    EXPECT_EQ(host.pass, 20u);
    EXPECT_EQ(platform.createdFolders, std::vector<std::string>{"/fake/program/DAT"});
    EXPECT_EQ(platform.openOutputFiles, 0);
}

TEST_F(ScanFixture, ReadsSectorsInOrderAndOnlyAsManyAsTheTotal)
{
    drive(VolumeBuilder(10).bytes);
    scan(0, 6);
    EXPECT_EQ(platform.sectorsRead, (std::vector<std::uint64_t>{0, 1, 2, 3, 4, 5}));
}

TEST_F(ScanFixture, ZeroOrNegativeTotalReadsNothing)
{
    drive(VolumeBuilder(4).bytes);
    for (std::int64_t total : {0, -5}) {
        EXPECT_EQ(scan(0, total), ScanEnd::Completed);
        EXPECT_TRUE(platform.sectorsRead.empty());
        EXPECT_EQ(host.passesShown, 0u);
    }
}

TEST_F(ScanFixture, UnreadableSectorsAreSkippedInsideAndOutsideAStream)
{
    VolumeBuilder v(12);
    v.stream(2, 6);
    FakeDrive& d = drive(v.bytes);
    d.unreadableSectors = {0, 4, 10};

    scan(0, 12);
    Bytes expected = v.carved(2, 6);
    expected.erase(expected.begin() + 2 * kSector, expected.begin() + 3 * kSector);
    EXPECT_EQ(file("DD001.JPG"), expected);
    // Failed reads don't shift the sectors after them.
    EXPECT_EQ(platform.sectorsRead.size(), 12u);
    EXPECT_EQ(platform.sectorsRead.back(), 11u);
}

TEST_F(ScanFixture, StopDuringTheEventStepReadsNothingMoreAndKeepsWhatWasCarved)
{
    VolumeBuilder v(20);
    v.stream(3, 15);
    drive(v.bytes);
    host.duringEvents = [&](std::uint64_t pass) {
        if (pass == 8) { // what the stop command does
            host.stop = true;
            slot->close();
            slot.reset();
        }
    };
    EXPECT_EQ(scan(0, 20), ScanEnd::Stopped);
    EXPECT_EQ(platform.sectorsRead.size(), 7u);
    EXPECT_EQ(file("DD001.JPG"),
              Bytes(v.bytes.begin() + 3 * kSector, v.bytes.begin() + 7 * kSector));
}

TEST_F(ScanFixture, FileStillOpenAtTheEndIsClosedWithEverythingCarved)
{
    VolumeBuilder v(6);
    v.bytes[4 * kSector] = 0xFF, v.bytes[4 * kSector + 1] = 0xD8, v.bytes[4 * kSector + 2] = 0xFF;
    drive(v.bytes);
    scan(0, 6);
    EXPECT_EQ(file("DD001.JPG"), Bytes(v.bytes.begin() + 4 * kSector, v.bytes.end()));
    EXPECT_FALSE(slot);
    EXPECT_EQ(platform.openOutputFiles, 0);
}

TEST_F(ScanFixture, SecondScanReplacesTheFilesOfTheFirst)
{
    VolumeBuilder v(8);
    v.stream(1, 3);
    FakeDrive& d = drive(v.bytes);
    scan(0, 8);
    // The same folder already holds a longer DD001.JPG from another card.
    platform.files["/save/DD001.JPG"] = Bytes(10 * kSector, 0xEE);
    d.volumeBytes = VolumeBuilder(8).bytes;
    d.volumeBytes[0] = 0xFF, d.volumeBytes[1] = 0xD8, d.volumeBytes[2] = 0xFF;
    d.volumeBytes[100] = 0xFF, d.volumeBytes[101] = 0xD9;
    std::fill(d.volumeBytes.begin() + 102, d.volumeBytes.begin() + 113, 0);
    scan(0, 8);
    EXPECT_EQ(file("DD001.JPG"), Bytes(d.volumeBytes.begin(), d.volumeBytes.begin() + 102));
}

TEST_F(ScanFixture, SaveFolderIsReadAtEveryOpenAndAFileThatCannotBeMadeUsesItsNumber)
{
    VolumeBuilder v(10);
    v.stream(1, 1);
    v.stream(3, 3);
    v.stream(5, 5);
    drive(v.bytes);
    host.duringEvents = [&](std::uint64_t pass) {
        if (pass == 3)
            host.folder = "/missing/";
        if (pass == 5)
            host.folder = "/save/";
    };
    scan(0, 10);
    EXPECT_EQ(platform.files.count("/save/DD001.JPG"), 1u);
    EXPECT_EQ(platform.files.count("/save/DD002.JPG"), 0u);
    EXPECT_EQ(platform.openedFolders[1], "/missing/");
    EXPECT_EQ(platform.createdFiles.size(), 2u);
    EXPECT_EQ(file("DD003.JPG"), v.carved(5, 5));
}

TEST_F(ScanFixture, ShortReadCarvesOnlyTheBytesTransferred)
{
    VolumeBuilder v(4);
    v.bytes[0] = 0xFF, v.bytes[1] = 0xD8, v.bytes[2] = 0xFF;
    FakeDrive& d = drive(v.bytes);
    d.shortReadBytes = 100;
    scan(0, 4);
    Bytes expected;
    for (std::size_t s = 0; s < 4; ++s)
        expected.insert(expected.end(), v.bytes.begin() + std::ptrdiff_t(s * kSector),
                        v.bytes.begin() + std::ptrdiff_t(s * kSector + 100));
    EXPECT_EQ(file("DD001.JPG"), expected);
}

TEST_F(ScanFixture, FullDiskLeavesAnExactPrefix)
{
    VolumeBuilder v(10);
    v.stream(0, 8);
    drive(v.bytes);
    platform.diskCapacityBytes = 3000;
    scan(0, 10);
    const Bytes full = v.carved(0, 8);
    EXPECT_EQ(file("DD001.JPG"), Bytes(full.begin(), full.begin() + 3000));
}

TEST_F(ScanFixture, Win9xPathFillsTheRegisterBlockAndAsksForSectorPassMinusOne)
{
    platform.platformId = kPlatformWin9x;
    VolumeBuilder v(8);
    v.stream(5, 6);
    FakeDrive& d = drive(v.bytes);
    d.unreadableSectors = {4}; // the read of pass 5 fails

    scan(1, 8);
    ASSERT_EQ(platform.registerBlocks.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        const Bytes& block = platform.registerBlocks[i];
        auto field = [&](int n) {
            return std::uint32_t(block[n * 4]) | std::uint32_t(block[n * 4 + 1]) << 8 |
                   std::uint32_t(block[n * 4 + 2]) << 16 | std::uint32_t(block[n * 4 + 3]) << 24;
        };
        EXPECT_EQ(field(0), std::uint32_t(reinterpret_cast<std::uintptr_t>(buffer.data())));
        EXPECT_EQ(field(1), i) << "EDX in pass " << i + 1;
        EXPECT_EQ(field(2), 1u);
        EXPECT_EQ(field(3), 3u); // D
        EXPECT_EQ(field(4) | field(5) | field(6), 0u);
    }
    EXPECT_EQ(platform.openedDevices, std::vector<std::string>{"\\\\.\\VWIN32"});
    EXPECT_EQ(file("DD001.JPG"), v.carved(5, 6));
}

TEST_F(ScanFixture, VolumeIsReleasedWhenItsOwnerLetsGo)
{
    drive(VolumeBuilder(2).bytes);
    {
        auto volume = openRawVolume(platform, 0, "D", buffer);
        EXPECT_EQ(platform.openDeviceHandles, 1);
    }
    EXPECT_EQ(platform.openDeviceHandles, 0);
}

// The scan over a random volume carves what the byte-at-a-time model carves, failed
// reads included.
TEST_F(ScanFixture, AgreesWithTheModelOnARandomVolume)
{
    std::mt19937_64 random(7);
    Bytes bytes(400 * kSector);
    for (auto& b : bytes)
        b = random() % 3 == 0 ? 0
                              : std::uint8_t(random() % 4 == 0   ? 0xFF
                                             : random() % 3 == 0 ? 0xD9
                                                                 : random());
    for (int s = 0; s < 400; s += 7)
        bytes[s * kSector] = 0xFF, bytes[s * kSector + 1] = 0xD8, bytes[s * kSector + 2] = 0xFF;
    FakeDrive& d = drive(bytes);
    d.unreadableSectors = {3, 50, 51, 200};
    scan(0, 400);

    testing::NaiveCarve model;
    for (std::size_t s = 0; s < 400; ++s)
        if (!d.unreadableSectors.count(s))
            model.sector(Bytes(bytes.begin() + std::ptrdiff_t(s * kSector),
                               bytes.begin() + std::ptrdiff_t((s + 1) * kSector)));
    ASSERT_FALSE(model.files.empty());
    for (const auto& [number, content] : model.files) {
        char name[32];
        std::snprintf(name, sizeof name, "DD%03llu.JPG", static_cast<unsigned long long>(number));
        EXPECT_EQ(file(name), content) << name;
    }
    EXPECT_EQ(platform.files.size(), model.files.size());
}

} // namespace
} // namespace velo
