#include "cli/carverun.h"

#include "cli/stopflag.h"
#include "platform/fake/fakeplatform.h"
#include "tests/scan/naivecarver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <set>

namespace velo::cli
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kSector = 512;

// A volume of filler sectors (never FF first) with streams laid into it.
struct Volume {
    Bytes bytes;
    std::set<std::uint64_t> bad;

    explicit Volume(std::size_t sectors, std::uint32_t seed = 1) : bytes(sectors * kSector)
    {
        std::mt19937 random(seed);
        for (auto& b : bytes)
            b = std::uint8_t(random() % 200 + 1); // no FF, no zero: nothing ends by chance
    }
    // A stream from sector `first` whose end marker is at byte `endAt` of sector `last`.
    void stream(std::size_t first, std::size_t last, std::size_t endAt)
    {
        std::uint8_t* s = &bytes[first * kSector];
        s[0] = 0xFF, s[1] = 0xD8, s[2] = 0xFF;
        std::uint8_t* e = &bytes[last * kSector + endAt];
        e[0] = 0xFF, e[1] = 0xD9;
        std::fill(e + 2, e + 13, 0x00);
    }
    void start(std::size_t sector)
    {
        std::uint8_t* s = &bytes[sector * kSector];
        s[0] = 0xFF, s[1] = 0xD8, s[2] = 0xFF;
    }
    ReadAt reader()
    {
        return [this](std::uint8_t* into, std::size_t count, std::uint64_t offset) -> ssize_t {
            for (std::uint64_t s = offset / kSector; s * kSector < offset + count; ++s)
                if (bad.count(s)) {
                    errno = EIO;
                    return -1;
                }
            std::memcpy(into, bytes.data() + offset, count);
            return ssize_t(count);
        };
    }
    // The model's files for the readable sectors.
    testing::NaiveCarve model() const
    {
        testing::NaiveCarve naive;
        for (std::size_t s = 0; s < bytes.size() / kSector; ++s)
            if (!bad.count(s))
                naive.sector(Bytes(bytes.begin() + std::ptrdiff_t(s * kSector),
                                   bytes.begin() + std::ptrdiff_t((s + 1) * kSector)));
        return naive;
    }
};

struct CarveRunTest : ::testing::Test {
    FakePlatform platform;
    std::vector<CarvedFile> report;
    CarveHooks hooks;

    void SetUp() override
    {
        stopFlag = 0;
        platform.folders.insert("/out");
        hooks.fileClosed = [this](const CarvedFile& f) { report.push_back(f); };
    }
    void TearDown() override { stopFlag = 0; }

    CarveTotals carve(Volume& v, std::size_t chunkBytes, bool dryRun = false)
    {
        ChunkReader reader(v.reader(), kSector, v.bytes.size() / kSector, chunkBytes);
        const auto folder = platform.openOutputFolder("/out/");
        return runCarve(reader, CarveSettings{folder.get(), dryRun}, hooks);
    }
    const Bytes& file(const std::string& name) { return platform.files.at("/out/" + name); }
};

TEST_F(CarveRunTest, FilesAndReportFollowTheRuleAcrossChunksAndBadSectors)
{
    Volume v(200);
    v.stream(3, 3, 100);     // one sector
    v.stream(10, 40, 7);     // spans chunks of 16 sectors
    v.bad = {20, 21, 33};    // holes inside it
    v.start(60);             // cut by the next start
    v.stream(75, 90, 505);   // the marker's zeros run past the sector's end
    v.stream(120, 150, 300); // a bad sector before it starts, none inside
    v.bad.insert(119);
    v.start(190); // open at the end of the source

    for (std::size_t chunk :
         {std::size_t(kSector * 16), std::size_t(kSector), std::size_t(1 << 20)}) {
        SCOPED_TRACE(chunk);
        platform.files.clear();
        report.clear();
        const CarveTotals t = carve(v, chunk);

        const auto model = v.model();
        ASSERT_EQ(platform.files.size(), model.files.size());
        for (const auto& [number, content] : model.files) {
            const std::string name = "DD00" + std::to_string(number) + ".JPG";
            EXPECT_EQ(file(name), content) << name;
        }
        ASSERT_EQ(report.size(), 6u);
        const std::uint64_t firsts[] = {3, 10, 60, 75, 120, 190};
        const CloseReason reasons[] = {CloseReason::EndMarker, CloseReason::EndMarker,
                                       CloseReason::NextStart, CloseReason::EndMarker,
                                       CloseReason::EndMarker, CloseReason::EndOfScan};
        for (std::size_t i = 0; i < 6; ++i) {
            EXPECT_EQ(report[i].name, "DD00" + std::to_string(i + 1) + ".JPG");
            EXPECT_EQ(report[i].firstSector, firsts[i]) << i;
            EXPECT_EQ(report[i].reason, reasons[i]) << i;
            EXPECT_EQ(report[i].length, file(report[i].name).size()) << i;
            EXPECT_EQ(report[i].outcome, FileOutcome::Written);
        }
        EXPECT_EQ(report[1].length, (40 - 10 + 1 - 3) * kSector - (kSector - 9));
        EXPECT_EQ(t.files, 6u);
        EXPECT_EQ(t.unreadableSectors, 4u);
        EXPECT_EQ(t.sectorsDone, 200u);
        EXPECT_EQ(t.failedFiles, 0u);
        EXPECT_FALSE(t.stopped);
        std::uint64_t sum = 0;
        for (const auto& f : report)
            sum += f.length;
        EXPECT_EQ(t.bytes, sum);
    }
}

// An output out of inodes: every file is "not created", the count is kept, and the
// warning hook runs once, at the first.
TEST_F(CarveRunTest, AnOutputOutOfSpaceIsCountedAndSaidOnce)
{
    Volume v(32);
    for (std::size_t s : {2, 6, 10, 14})
        v.stream(s, s + 1, 40);
    platform.createsFailWith = CreateFailure::NoSpace;
    int warnings = 0;
    hooks.outOfSpace = [&] { ++warnings; };
    const CarveTotals t = carve(v, kSector * 8);
    EXPECT_EQ(warnings, 1);
    EXPECT_EQ(t.noSpaceFiles, 4u);
    EXPECT_EQ(t.failedFiles, 4u);
    ASSERT_EQ(report.size(), 4u);
    EXPECT_EQ(report[3].outcome, FileOutcome::NotCreated);
    EXPECT_TRUE(platform.files.empty());
}

TEST_F(CarveRunTest, DryRunCreatesNothingButReportsTheSame)
{
    Volume v(64);
    v.stream(2, 9, 40);
    v.start(30);
    const CarveTotals t = carve(v, kSector * 8, /*dryRun=*/true);
    EXPECT_TRUE(platform.createdFiles.empty());
    EXPECT_TRUE(platform.files.empty());
    ASSERT_EQ(report.size(), 2u);
    EXPECT_EQ(report[0].length, 7 * kSector + 42);
    EXPECT_EQ(report[0].outcome, FileOutcome::DryRun);
    EXPECT_EQ(report[1].length, 34 * kSector);
    EXPECT_EQ(t.failedFiles, 0u);
}

TEST_F(CarveRunTest, WriteFailuresLeaveAPrefixAndTheCarveGoesOn)
{
    Volume v(100);
    v.stream(0, 9, 10);
    v.stream(20, 29, 10);
    v.stream(50, 52, 10);
    platform.diskCapacityBytes = 9 * kSector + 12 + 3000; // the second file fills the disk
    const CarveTotals t = carve(v, kSector * 4);

    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[0].outcome, FileOutcome::Written);
    EXPECT_EQ(report[1].outcome, FileOutcome::WriteFailed);
    EXPECT_EQ(report[2].outcome, FileOutcome::WriteFailed);
    const Bytes& second = file("DD002.JPG");
    EXPECT_LT(second.size(), report[1].length);
    EXPECT_TRUE(std::equal(second.begin(), second.end(), v.bytes.begin() + 20 * kSector));
    EXPECT_EQ(t.failedFiles, 2u);
    EXPECT_EQ(t.files, 3u);
}

TEST_F(CarveRunTest, FilesThatCannotBeCreatedUseTheirNumber)
{
    Volume v(40);
    v.stream(0, 1, 10);
    v.stream(5, 6, 10);
    platform.folders.insert("/out/DD001.JPG"); // a folder in the way of the first file
    const CarveTotals t = carve(v, kSector * 4);
    ASSERT_EQ(report.size(), 2u);
    EXPECT_EQ(report[0].outcome, FileOutcome::NotCreated);
    EXPECT_EQ(report[1].outcome, FileOutcome::Written);
    EXPECT_EQ(file("DD002.JPG").size(), report[1].length);
    EXPECT_EQ(t.failedFiles, 1u);
}

TEST_F(CarveRunTest, ACloseThatLostBytesCountsAsAFailedWrite)
{
    Volume v(20);
    v.stream(0, 1, 10);
    v.stream(4, 5, 10);
    int closes = 0;
    hooks.closeFailed = [&](OutputFile&) { return ++closes == 2; };
    const CarveTotals t = carve(v, kSector * 4);
    ASSERT_EQ(report.size(), 2u);
    EXPECT_EQ(report[0].outcome, FileOutcome::Written);
    EXPECT_EQ(report[1].outcome, FileOutcome::WriteFailed);
    EXPECT_EQ(t.failedFiles, 1u);
}

TEST_F(CarveRunTest, StopClosesTheOpenFileWithWhatWasCarved)
{
    Volume v(400);
    v.stream(1, 2, 10);
    v.start(5); // never ends
    hooks.chunkDone = [](const CarveTotals& t) {
        if (t.sectorsDone >= 64)
            stopFlag = 1;
    };
    const CarveTotals t = carve(v, kSector * 32);
    EXPECT_TRUE(t.stopped);
    EXPECT_EQ(t.sectorsDone, 64u);
    ASSERT_EQ(report.size(), 2u);
    EXPECT_EQ(report[1].reason, CloseReason::Stopped);
    EXPECT_EQ(report[1].length, (64 - 5) * kSector);
    const Bytes& open = file("DD002.JPG");
    EXPECT_EQ(open, Bytes(v.bytes.begin() + 5 * kSector, v.bytes.begin() + 64 * kSector));
    EXPECT_EQ(platform.openOutputFiles, 0);
}

} // namespace
} // namespace velo::cli
