// Faults injected into the scan loop on the fake machine, beyond the single faults of
// tests/scan: faults that arrive in the middle of a stream, one after another, and at the
// edges of the read (a short read that cuts the end marker's window, a volume that
// vanishes, a disk that fills up and frees again). In each case the scan goes on to its
// last pass, and every file holds exactly what the model carves from the sectors that
// really arrived.

#include "drive/rawvolume.h"
#include "platform/fake/fakeplatform.h"
#include "scan/recoveryscan.h"
#include "tests/reliability/scratch.h"

#include <gtest/gtest.h>

namespace velo::reliability
{
namespace
{

constexpr std::size_t kSector = 512;

std::string name(std::uint64_t n)
{
    return "/save/" + outputName(n);
}

struct FakeScan : ::testing::Test {
    FakePlatform platform;
    TestHost host;
    Bytes buffer = Bytes(kSector + 1, 0);
    FileSink files = windowFiles(platform, host);
    FakeDrive* drive = nullptr;

    void SetUp() override
    {
        platform.folders.insert("/save");
        host.folder = "/save/";
    }

    void load(const Volume& v)
    {
        drive = &platform.addDrive("E");
        drive->volumeBytes = v.bytes;
    }

    ScanEnd scan(std::int64_t total)
    {
        auto volume = openRawVolume(platform, 0, "E", buffer);
        EXPECT_TRUE(volume);
        const ScanEnd end = runRecoveryPasses(platform, host, *volume, buffer, files, total);
        volume.reset();
        // Whatever happened, nothing is left open and the byte after the sector is untouched.
        EXPECT_EQ(platform.openDeviceHandles, 0);
        EXPECT_EQ(platform.openOutputFiles, 0);
        EXPECT_EQ(buffer.back(), 0);
        return end;
    }

    // The files on the fake disk are exactly these.
    void expectFiles(const std::map<std::uint64_t, Bytes>& expected)
    {
        EXPECT_EQ(filesUnder(platform.files, "/save/"), named(expected));
        EXPECT_EQ(platform.files.size(), expected.size());
    }
};

// The volume vanishes (every read fails from then on) in the middle of the second of
// three streams: the first stays whole, the second keeps what was read before, the third
// is never seen, and the scan still makes all its passes.
TEST_F(FakeScan, VolumeVanishingMidStreamKeepsEverythingReadBefore)
{
    Volume v(30, kSector);
    v.stream(1, 3);
    v.stream(6, 12);
    v.stream(20, 22);
    load(v);
    drive->vanishAfterReads = 9; // reads 0..8 succeed

    EXPECT_EQ(scan(30), ScanEnd::Completed);
    EXPECT_EQ(platform.sectorsRead.size(), 30u);
    const auto expected = modelFiles(v, range(0, 9));
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(expected.at(2).size(), 3 * kSector); // sectors 6, 7, 8
    expectFiles(expected);
}

// Unreadable sectors where they do most damage: the start sector of a stream (its file
// never opens and the bytes after it belong to nobody), the sector that holds an end
// marker (the file runs on until the next start), and the sector right after a start.
TEST_F(FakeScan, UnreadableStartAndEndSectorsChangeWhichFilesExistButNeverTheirBytes)
{
    Volume v(24, kSector);
    v.stream(1, 3);   // its end sector fails: runs on to the start at 8
    v.stream(8, 9);   // the sector after the start fails
    v.stream(14, 16); // its start sector fails: never opened
    v.stream(19, 20);
    load(v);
    drive->unreadableSectors = {3, 9, 14};

    scan(24);
    const auto expected = modelFiles(v, range(0, 24, {3, 9, 14}));
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(expected.at(1).size(), 6 * kSector); // 1, 2, 4, 5, 6, 7
    expectFiles(expected);
}

// A read that reports success but transfers less: the sector is what was transferred.
// Here the read stops right after the zero that follows FF D9, with the rest of the
// buffer still holding the last full sector's bytes (none of them zero): positions past
// the read count as zero, so the file ends there, and no stale byte decides otherwise.
TEST_F(FakeScan, ShortReadEndingRightAfterTheMarkerEndsTheFileWithoutStaleBytes)
{
    Volume v(10, kSector);
    v.stream(2, 4, 300);
    load(v);
    platform.beforeRead = [&](std::uint64_t read) {
        drive->shortReadBytes = read == 4 ? std::optional<std::uint32_t>(303) : std::nullopt;
    };
    scan(10);
    EXPECT_EQ(platform.files.at(name(1)),
              Bytes(v.bytes.begin() + 2 * kSector, v.bytes.begin() + 4 * kSector + 302));
    EXPECT_EQ(platform.files.size(), 1u);
}

// A short read in the middle of a stream leaves out exactly the bytes not transferred
// (the buffer's stale tail never gets in), and reads that come back empty change nothing.
TEST_F(FakeScan, ShortAndEmptyReadsInsideAStreamLeaveOutOnlyWhatWasNotTransferred)
{
    Volume v(12, kSector);
    v.stream(1, 9, 40);
    load(v);
    const std::map<std::size_t, std::size_t> lengths{{2, 100}, {3, 0}, {4, 1}, {6, 0}};
    platform.beforeRead = [&](std::uint64_t read) {
        const auto it = lengths.find(read);
        drive->shortReadBytes =
            it == lengths.end() ? std::nullopt : std::optional<std::uint32_t>(it->second);
    };
    scan(12);
    const auto expected = modelFiles(v, range(0, 12), lengths);
    ASSERT_EQ(expected.size(), 1u);
    EXPECT_EQ(expected.at(1).size(), 4 * kSector + 100 + 1 + 42);
    expectFiles(expected);
}

// Passes beyond the volume's end read nothing (a successful read of zero bytes): the file
// still open when the volume ran out is closed at the end holding everything.
TEST_F(FakeScan, PassesPastTheVolumesEndCloseTheOpenFileWhole)
{
    Volume v(6, kSector);
    v.bytes[3 * kSector] = 0xFF, v.bytes[3 * kSector + 1] = 0xD8, v.bytes[3 * kSector + 2] = 0xFF;
    load(v);
    EXPECT_EQ(scan(9), ScanEnd::Completed);
    EXPECT_EQ(platform.sectorsRead.size(), 9u);
    expectFiles({{1, Bytes(v.bytes.begin() + 3 * kSector, v.bytes.end())}});
}

// The disk fills up in the middle of the second file: the first is whole, the second an
// exact prefix, the third (made while the disk is still full) empty. Then space is freed
// and the fourth file is whole again: a full disk costs only what did not fit.
TEST_F(FakeScan, DiskFullCutsOnlyWhatDidNotFitAndWritingResumesWhenSpaceIsFreed)
{
    Volume v(30, kSector);
    v.stream(0, 1);
    v.stream(3, 6);
    v.stream(9, 10);
    v.stream(20, 21);
    load(v);
    const auto model = modelFiles(v, range(0, 30));
    ASSERT_EQ(model.size(), 4u);
    platform.files["/save/other.dat"] = Bytes(1000, 0xAB); // someone else's file
    platform.diskCapacityBytes = 1000 + model.at(1).size() + 700;
    platform.beforeRead = [&](std::uint64_t read) {
        if (read == 15)
            platform.files.erase("/save/other.dat");
    };

    scan(30);
    EXPECT_EQ(platform.files.at(name(1)), model.at(1));
    EXPECT_EQ(platform.files.at(name(2)), Bytes(model.at(2).begin(), model.at(2).begin() + 700));
    EXPECT_EQ(platform.files.at(name(3)), Bytes());
    EXPECT_EQ(platform.files.at(name(4)), model.at(4));
}

// A stop in a pass where no file is open, right after one ended: nothing to close, the
// finished file is untouched, and no later sector is read.
TEST_F(FakeScan, StopBetweenFilesLeavesTheFinishedFileAlone)
{
    Volume v(12, kSector);
    v.stream(1, 2);
    v.stream(6, 8);
    load(v);
    host.duringEvents = [&](std::uint64_t pass) {
        if (pass == 5) {
            host.stop = true;
            files.stop();
        }
    };
    EXPECT_EQ(scan(12), ScanEnd::Stopped);
    EXPECT_EQ(platform.sectorsRead.size(), 4u);
    expectFiles(modelFiles(v, range(0, 4)));
}

// Every fault at once, in the order a dying card produces them: a bad sector, short
// reads, a full disk and finally the card gone.
TEST_F(FakeScan, FaultsTogetherStillLeaveExactPrefixes)
{
    Volume v(40, kSector);
    v.stream(1, 5);
    v.stream(8, 8);
    v.stream(12, 18);
    v.stream(25, 30);
    load(v);
    drive->unreadableSectors = {3, 13};
    drive->vanishAfterReads = 27;
    const std::map<std::size_t, std::size_t> lengths{{4, 10}, {15, 500}};
    platform.beforeRead = [&](std::uint64_t read) {
        const auto it = lengths.find(read);
        drive->shortReadBytes =
            it == lengths.end() ? std::nullopt : std::optional<std::uint32_t>(it->second);
    };
    platform.diskCapacityBytes = 3500;

    EXPECT_EQ(scan(40), ScanEnd::Completed);
    const auto model = modelFiles(v, range(0, 27, {3, 13}), lengths);
    std::uint64_t room = 3500;
    std::map<std::uint64_t, Bytes> expected;
    for (const auto& [n, content] : model) {
        const std::size_t keep = std::min<std::size_t>(content.size(), room);
        expected[n] = Bytes(content.begin(), content.begin() + std::ptrdiff_t(keep));
        room -= keep;
    }
    ASSERT_EQ(expected.size(), 4u);
    EXPECT_LT(expected.at(3).size(), model.at(3).size()); // the disk did fill up
    expectFiles(expected);
}

} // namespace
} // namespace velo::reliability
