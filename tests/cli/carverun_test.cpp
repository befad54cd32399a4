#include "cli/carverun.h"

#include "platform/fake/fakeplatform.h"
#include "tests/support/volume.h"

#include <gtest/gtest.h>

#include <atomic>

#include <cerrno>
#include <cstring>
#include <set>

namespace velo::cli
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kSector = 512;

using velo::testing::Volume;

struct CarveRunTest : ::testing::Test {
    FakePlatform platform;
    std::set<std::uint64_t> bad; // sectors whose reads fail
    std::vector<CarvedFile> report;
    SinkHooks hooks;
    std::function<void(const CarveTotals&)> chunkDone;
    std::atomic<bool> stop = false;

    void SetUp() override
    {
        platform.folders.insert("/out");
        hooks.fileClosed = [this](const CarvedFile& f) { report.push_back(f); };
    }

    CarveTotals carve(Volume& v, std::size_t chunkBytes, bool dryRun = false)
    {
        ReadAt readAt = [&](std::uint8_t* into, std::size_t count, std::uint64_t offset) {
            for (std::uint64_t s = offset / kSector; s * kSector < offset + count; ++s)
                if (bad.count(s)) {
                    errno = EIO;
                    return ssize_t(-1);
                }
            std::memcpy(into, v.bytes.data() + offset, count);
            return ssize_t(count);
        };
        ChunkReader reader(readAt, kSector, v.bytes.size() / kSector, chunkBytes);
        const auto folder = platform.openOutputFolder("/out/");
        FileSink files(numberedFilesIn(folder.get()), IfNameTaken::Fail, hooks, dryRun);
        return runCarve(reader, files, stop, chunkDone);
    }
    const Bytes& file(const std::string& name) { return platform.files.at("/out/" + name); }
};

TEST_F(CarveRunTest, FilesAndReportFollowTheRuleAcrossChunksAndBadSectors)
{
    Volume v(200);
    v.stream(3, 3, 100);     // one sector
    v.stream(10, 40, 7);     // spans chunks of 16 sectors
    bad = {20, 21, 33};      // holes inside it
    v.start(60);             // cut by the next start
    v.stream(75, 90, 505);   // the marker's zeros run past the sector's end
    v.stream(120, 150, 300); // a bad sector before it starts, none inside
    bad.insert(119);
    v.start(190); // open at the end of the source

    for (std::size_t chunk :
         {std::size_t(kSector * 16), std::size_t(kSector), std::size_t(1 << 20)}) {
        SCOPED_TRACE(chunk);
        platform.files.clear();
        report.clear();
        const CarveTotals t = carve(v, chunk);

        const auto model = modelFiles(v, velo::testing::range(0, 200, {bad.begin(), bad.end()}));
        ASSERT_EQ(platform.files.size(), model.size());
        for (const auto& [number, content] : model)
            EXPECT_EQ(file(velo::testing::outputName(number)), content) << number;
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

// Files that cannot be made or written whole: each gets its outcome, a file that failed
// while written holds an exact prefix, the count of failed files is kept, and the carve
// goes on. An output out of inodes is also counted apart, and said once.
TEST_F(CarveRunTest, FilesThatCannotBeWrittenWholeAreCountedAndTheCarveGoesOn)
{
    using enum FileOutcome;
    const struct {
        const char* name;
        std::vector<std::size_t> streams; // first sectors; each ends at byte 10 of the next
        std::function<void(FakePlatform&)> fault;
        std::vector<FileOutcome> outcomes;
        std::uint64_t noSpaceFiles = 0;
        std::size_t cutShort = 0; // the first file (by place) the full disk cut, 0: none
    } cases[] = {
        {"out of inodes",
         {2, 6, 10, 14},
         [](FakePlatform& p) { p.createsFailWith = CreateFailure::NoSpace; },
         {NotCreated, NotCreated, NotCreated, NotCreated},
         4},
        {"the second file fills the disk",
         {0, 20, 50},
         [](FakePlatform& p) { p.diskCapacityBytes = kSector + 12 + 300; },
         {Written, WriteFailed, WriteFailed},
         0,
         2},
        {"a folder in the way of the first file",
         {0, 5},
         [](FakePlatform& p) { p.folders.insert("/out/DD001.JPG"); },
         {NotCreated, Written}},
        {"a close that lost bytes",
         {0, 4},
         [](FakePlatform& p) { p.closesFailFor = {"/out/DD002.JPG"}; },
         {Written, WriteFailed}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform = FakePlatform();
        platform.folders.insert("/out");
        report.clear();
        int warnings = 0;
        hooks.outOfSpace = [&] { ++warnings; };
        Volume v(64);
        for (std::size_t first : c.streams)
            v.stream(first, first + 1, 10);
        c.fault(platform);
        const CarveTotals t = carve(v, kSector * 4);

        ASSERT_EQ(report.size(), c.outcomes.size());
        for (std::size_t i = 0; i < report.size(); ++i) {
            EXPECT_EQ(report[i].outcome, c.outcomes[i]) << i;
            const auto it = platform.files.find("/out/" + report[i].name);
            const Bytes carved = v.carved(c.streams[i], c.streams[i] + 1, 10);
            EXPECT_EQ(report[i].length, carved.size()) << i;
            if (c.outcomes[i] == NotCreated) {
                EXPECT_EQ(it, platform.files.end()) << i;
                continue;
            }
            ASSERT_NE(it, platform.files.end()) << i;
            const Bytes& got = it->second; // whole when written, an exact prefix otherwise
            ASSERT_LE(got.size(), carved.size()) << i;
            EXPECT_EQ(got, Bytes(carved.begin(), carved.begin() + std::ptrdiff_t(got.size()))) << i;
            EXPECT_EQ(got.size() < carved.size(), c.cutShort && i + 1 >= c.cutShort) << i;
        }
        const auto failed = std::count_if(c.outcomes.begin(), c.outcomes.end(),
                                          [](FileOutcome o) { return o != Written; });
        EXPECT_EQ(t.failedFiles, std::uint64_t(failed));
        EXPECT_EQ(t.files, c.outcomes.size());
        EXPECT_EQ(t.noSpaceFiles, c.noSpaceFiles);
        EXPECT_EQ(warnings, c.noSpaceFiles ? 1 : 0);
    }
}

TEST_F(CarveRunTest, StopClosesTheOpenFileWithWhatWasCarved)
{
    Volume v(400);
    v.stream(1, 2, 10);
    v.start(5); // never ends
    chunkDone = [this](const CarveTotals& t) {
        if (t.sectorsDone >= 64)
            stop = true;
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
