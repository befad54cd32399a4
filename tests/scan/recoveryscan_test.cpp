// The scan loop on the fake machine: passes, files and their names, the two read paths,
// and faults that arrive in the middle of a stream, one after another and at the edges
// of the read (unreadable sectors, short reads, a volume that vanishes, passes past its
// end, a disk that fills up and frees again, a stop). Whatever happens, the scan makes
// its passes and every file holds exactly what the model carves from the sectors that
// really arrived.

#include "scan/recoveryscan.h"

#include "drive/rawvolume.h"
#include "drive/registerblock.h"
#include "platform/fake/fakeplatform.h"
#include "tests/support/files.h"
#include "tests/support/naivecarver.h"
#include "tests/support/scanhoststub.h"
#include "tests/support/volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <numeric>
#include <random>

namespace velo
{
namespace
{

using namespace velo::testing;
constexpr std::size_t kSector = 512;

struct ScanFixture : ::testing::Test {
    FakePlatform platform;
    ScanHostStub host;
    Bytes buffer = Bytes(kSector + 1, 0);
    FileSink files = windowFiles(platform, host);

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
        const ScanEnd end = runRecoveryPasses(platform, host, *volume, buffer, files, total);
        volume.reset();
        // Whatever happened, nothing is left open and the byte after the sector is untouched.
        EXPECT_EQ(platform.openDeviceHandles, 0);
        EXPECT_EQ(platform.openOutputFiles, 0);
        EXPECT_EQ(buffer.back(), 0);
        return end;
    }

    // What the stop command does, in the event step of this pass.
    void stopInPass(std::uint64_t stopPass)
    {
        host.duringEvents = [this, stopPass](std::uint64_t pass) {
            if (pass == stopPass) {
                host.stop = true;
                files.stop();
            }
        };
    }

    const Bytes& file(const std::string& name) { return platform.files.at("/save/" + name); }

    // The files on the fake disk are exactly these.
    void expectFiles(const std::map<std::uint64_t, Bytes>& expected)
    {
        EXPECT_EQ(filesUnder(platform.files, "/save/"), named(expected));
        EXPECT_EQ(platform.files.size(), expected.size());
    }
};

TEST_F(ScanFixture, CarvesStreamsIntoNumberedFilesAndMakesTheDatFolder)
{
    Volume v(20);
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

TEST_F(ScanFixture, ZeroOrNegativeTotalReadsNothing)
{
    drive(Volume(4).bytes);
    for (std::int64_t total : {0, -5}) {
        EXPECT_EQ(scan(0, total), ScanEnd::Completed);
        EXPECT_TRUE(platform.sectorsRead.empty());
        EXPECT_EQ(host.passesShown, 0u);
    }
}

TEST_F(ScanFixture, SecondScanReplacesTheFilesOfTheFirst)
{
    Volume v(8);
    v.stream(1, 3);
    FakeDrive& d = drive(v.bytes);
    scan(0, 8);
    // The same folder already holds a longer DD001.JPG from another card.
    platform.files["/save/DD001.JPG"] = Bytes(10 * kSector, 0xEE);
    Volume other(8);
    other.stream(0, 0, 100);
    d.volumeBytes = other.bytes;
    scan(0, 8);
    EXPECT_EQ(file("DD001.JPG"), other.carved(0, 0, 100));
}

TEST_F(ScanFixture, SaveFolderIsReadAtEveryOpenAndAFileThatCannotBeMadeUsesItsNumber)
{
    Volume v(10);
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

// The file name is the save-folder text with DDnnn.JPG appended, whether or not the text
// ends in a separator; the folder is what precedes the name's last separator.
TEST_F(ScanFixture, FileNameIsTheSaveFolderTextWithTheNameAppended)
{
    Volume v(3);
    v.stream(1, 1);
    drive(v.bytes);
    for (const auto& [text, path] :
         std::vector<std::pair<std::string, std::string>>{{"/save/", "/save/DD001.JPG"},
                                                          {"/save/foo", "/save/fooDD001.JPG"},
                                                          {"/save", "/saveDD001.JPG"},
                                                          {"/save//", "/save/DD001.JPG"}}) {
        host.folder = text;
        files = windowFiles(platform, host);
        platform.files.clear();
        scan(0, 3);
        EXPECT_EQ(platform.files.size(), 1u) << text;
        EXPECT_EQ(platform.files.count(path), 1u) << text;
    }
}

TEST_F(ScanFixture, Win9xPathFillsTheRegisterBlockAndAsksForSectorPassMinusOne)
{
    platform.platformId = kPlatformWin9x;
    Volume v(8);
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
    drive(Volume(2).bytes);
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
    Volume v(400);
    for (auto& b : v.bytes)
        b = random() % 3 == 0 ? 0
                              : std::uint8_t(random() % 4 == 0   ? 0xFF
                                             : random() % 3 == 0 ? 0xD9
                                                                 : random());
    for (std::size_t s = 0; s < 400; s += 7)
        v.start(s);
    drive(v.bytes).unreadableSectors = {3, 50, 51, 200};
    scan(0, 400);
    const auto model = modelFiles(v, range(0, 400, {3, 50, 51, 200}));
    ASSERT_FALSE(model.empty());
    expectFiles(model);
}

// A volume with streams (first sector, last sector, where FF D9 lies in the last; no end
// at all with kNoEnd), faults on the drive, and the scan's total when it is not the
// volume's size. The files must be what the model carves from the sectors that arrived
// (up to the vanishing or the stop, without the unreadable ones, each cut to its short
// read), cut in order where the disk's room ran out; `size` pins one file's length.
constexpr std::size_t kNoEnd = ~std::size_t(0);
struct FaultCase {
    const char* name;
    std::size_t sectors;
    std::vector<std::array<std::size_t, 3>> streams;
    struct {
        std::set<std::size_t> unreadable{};
        std::optional<std::uint64_t> vanishAfterReads{};
        std::map<std::size_t, std::size_t> shortReads{}; // read number → bytes transferred
        std::optional<std::uint64_t> capacity{};
        std::optional<std::uint64_t> stopAtPass{};
        std::int64_t total = 0;
    } faults;
    struct {
        std::size_t files = 0;
        std::pair<std::uint64_t, std::size_t> size{}; // file number (0: none) and its length
        bool diskFills = false;
    } expect;
};

const FaultCase kFaultCases[] = {
    // Sectors are read in order, and only as many as the total asks for.
    {"ReadsSectorsInOrderAndOnlyAsManyAsTheTotal", 10, {}, {.total = 6}, {0}},
    // Unreadable sectors before and inside a stream are skipped, and the reads after them
    // are not shifted: the file lacks sector 4 only.
    {"UnreadableSectorsAreSkippedInsideAndOutsideAStream",
     12,
     {{2, 6, 200}},
     {.unreadable = {0, 4, 10}},
     {1, {1, 3 * kSector + 202}}},
    // A stop in the event step of pass 8 reads nothing more; the open file keeps sectors
    // 3 to 6.
    {"StopDuringTheEventStepReadsNothingMoreAndKeepsWhatWasCarved",
     20,
     {{3, 15, 200}},
     {.stopAtPass = 8},
     {1, {1, 4 * kSector}}},
    // A file still open at the last pass is closed holding everything carved.
    {"FileStillOpenAtTheEndIsClosedWithEverythingCarved",
     6,
     {{4, 0, kNoEnd}},
     {},
     {1, {1, 2 * kSector}}},
    // Every read transfers 100 bytes: only those are carved.
    {"ShortReadCarvesOnlyTheBytesTransferred",
     4,
     {{0, 0, kNoEnd}},
     {.shortReads = {{0, 100}, {1, 100}, {2, 100}, {3, 100}}},
     {1, {1, 400}}},
    // The disk holds 3000 bytes: the file is an exact prefix of that length.
    {"FullDiskLeavesAnExactPrefix", 10, {{0, 8, 200}}, {.capacity = 3000}, {1, {1, 3000}, true}},
    // The volume vanishes in the middle of the second of three streams: the first stays
    // whole, the second keeps sectors 6, 7 and 8, the third is never seen.
    {"VolumeVanishingMidStreamKeepsEverythingReadBefore",
     30,
     {{1, 3, 200}, {6, 12, 200}, {20, 22, 200}},
     {.vanishAfterReads = 9},
     {2, {2, 3 * kSector}}},
    // Unreadable sectors where they do most damage: an end sector (the file runs on to the
    // start at 8: sectors 1, 2, 4, 5, 6, 7), the sector right after a start, a start
    // sector (its file never opens and the bytes after it belong to nobody).
    {"UnreadableStartAndEndSectorsChangeWhichFilesExistButNeverTheirBytes",
     24,
     {{1, 3, 200}, {8, 9, 200}, {14, 16, 200}, {19, 20, 200}},
     {.unreadable = {3, 9, 14}},
     {3, {1, 6 * kSector}}},
    // A read that stops right after the zero that follows FF D9, with the rest of the
    // buffer still holding the last full sector's bytes (none of them zero): positions
    // past the read count as zero, so the file ends there, and no stale byte decides
    // otherwise.
    {"ShortReadEndingRightAfterTheMarkerEndsTheFileWithoutStaleBytes",
     10,
     {{2, 4, 300}},
     {.shortReads = {{4, 303}}},
     {1, {1, 2 * kSector + 302}}},
    // A short read inside a stream leaves out exactly the bytes not transferred (the
    // buffer's stale tail never gets in), and reads that come back empty change nothing.
    {"ShortAndEmptyReadsInsideAStreamLeaveOutOnlyWhatWasNotTransferred",
     12,
     {{1, 9, 40}},
     {.shortReads = {{2, 100}, {3, 0}, {4, 1}, {6, 0}}},
     {1, {1, 4 * kSector + 100 + 1 + 42}}},
    // Passes beyond the volume's end read nothing (a successful read of zero bytes): the
    // file still open when the volume ran out is closed at the end holding everything.
    {"PassesPastTheVolumesEndCloseTheOpenFileWhole",
     6,
     {{3, 0, kNoEnd}},
     {.total = 9},
     {1, {1, 3 * kSector}}},
    // A stop in a pass where no file is open, right after one ended: nothing to close,
    // the finished file is untouched, and no later sector is read.
    {"StopBetweenFilesLeavesTheFinishedFileAlone",
     12,
     {{1, 2, 200}, {6, 8, 200}},
     {.stopAtPass = 5},
     {1}},
    // The volume is read ahead in blocks (8 sectors on the fake machine). A block with an
    // unreadable sector is read again sector by sector, so that only the bad ones are
    // lost: here the last sector of the first block, the first of the second, and one
    // inside the third, under two streams that cross blocks; the passes past the volume's
    // end, in a block it cuts short and in one wholly beyond it, read nothing.
    {"BlockWithAnUnreadableSectorIsReadAgainSectorBySector",
     30,
     {{5, 12, 200}, {14, 26, 300}},
     {.unreadable = {7, 8, 17}, .total = 34},
     {2, {1, 5 * kSector + 202}}},
    // Every fault at once, in the order a dying card produces them: a bad sector, short
    // reads, a full disk and finally the card gone.
    {"FaultsTogetherStillLeaveExactPrefixes",
     40,
     {{1, 5, 200}, {8, 8, 200}, {12, 18, 200}, {25, 30, 200}},
     {.unreadable = {3, 13},
      .vanishAfterReads = 27,
      .shortReads = {{4, 10}, {15, 500}},
      .capacity = 3500},
     {4, {}, true}},
};

void PrintTo(const FaultCase& c, std::ostream* out)
{
    *out << c.name;
}

struct ScanFaults : ScanFixture, ::testing::WithParamInterface<FaultCase> {
};

TEST_P(ScanFaults, FilesHoldExactlyWhatArrived)
{
    const FaultCase& c = GetParam();
    Volume v(c.sectors, kSector);
    for (const auto& [first, last, endAt] : c.streams)
        endAt == kNoEnd ? v.start(first) : v.stream(first, last, endAt);
    FakeDrive* const drive = &this->drive(v.bytes);
    drive->unreadableSectors = {c.faults.unreadable.begin(), c.faults.unreadable.end()};
    drive->vanishAfterReads = c.faults.vanishAfterReads;
    platform.diskCapacityBytes = c.faults.capacity;
    platform.beforeRead = [&](std::uint64_t read) {
        const auto it = c.faults.shortReads.find(read);
        drive->shortReadBytes = it == c.faults.shortReads.end()
                                    ? std::nullopt
                                    : std::optional<std::uint32_t>(it->second);
    };
    if (c.faults.stopAtPass)
        stopInPass(*c.faults.stopAtPass);
    const std::int64_t total = c.faults.total ? c.faults.total : std::int64_t(c.sectors);

    EXPECT_EQ(scan(0, total), c.faults.stopAtPass ? ScanEnd::Stopped : ScanEnd::Completed);
    // Every pass reads its own sector, in order, whether or not the read before failed.
    const std::size_t passes = c.faults.stopAtPass ? *c.faults.stopAtPass - 1 : std::size_t(total);
    std::vector<std::uint64_t> sectors(passes);
    std::iota(sectors.begin(), sectors.end(), 0);
    EXPECT_EQ(platform.sectorsRead, sectors);
    const std::size_t arrived =
        std::min({c.sectors, passes, std::size_t(c.faults.vanishAfterReads.value_or(c.sectors))});
    const auto model = modelFiles(v, range(0, arrived, c.faults.unreadable), c.faults.shortReads);
    std::uint64_t room = c.faults.capacity.value_or(~std::uint64_t(0));
    std::map<std::uint64_t, Bytes> expected;
    bool cut = false;
    for (const auto& [n, content] : model) {
        const std::size_t keep = std::size_t(std::min<std::uint64_t>(content.size(), room));
        expected[n] = Bytes(content.begin(), content.begin() + std::ptrdiff_t(keep));
        room -= keep;
        cut = cut || keep < content.size();
    }
    ASSERT_EQ(expected.size(), c.expect.files);
    EXPECT_EQ(cut, c.expect.diskFills);
    if (c.expect.size.first) {
        EXPECT_EQ(expected.at(c.expect.size.first).size(), c.expect.size.second);
    }
    expectFiles(expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, ScanFaults, ::testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The disk fills up in the middle of the second file: the first is whole, the second an
// exact prefix, the third (made while the disk is still full) empty. Then space is freed
// and the fourth file is whole again: a full disk costs only what did not fit.
TEST_F(ScanFixture, DiskFullCutsOnlyWhatDidNotFitAndWritingResumesWhenSpaceIsFreed)
{
    Volume v(30, kSector);
    v.stream(0, 1);
    v.stream(3, 6);
    v.stream(9, 10);
    v.stream(20, 21);
    drive(v.bytes);
    const auto model = modelFiles(v, range(0, 30));
    ASSERT_EQ(model.size(), 4u);
    platform.files["/save/other.dat"] = Bytes(1000, 0xAB); // someone else's file
    platform.diskCapacityBytes = 1000 + model.at(1).size() + 700;
    platform.beforeRead = [&](std::uint64_t read) {
        if (read == 15)
            platform.files.erase("/save/other.dat");
    };

    scan(0, 30);
    EXPECT_EQ(file(outputName(1)), model.at(1));
    EXPECT_EQ(file(outputName(2)), Bytes(model.at(2).begin(), model.at(2).begin() + 700));
    EXPECT_EQ(file(outputName(3)), Bytes());
    EXPECT_EQ(file(outputName(4)), model.at(4));
}

} // namespace
} // namespace velo
