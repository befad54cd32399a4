#include "cli/progress.h"
#include "cli/report.h"
#include "tests/support/files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

namespace velo::cli
{
namespace
{

using ::testing::HasSubstr;
using ::testing::Not;

TEST(Report, OneCsvLinePerFileUnderAHeader)
{
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    {
        ReportWriter report(stream);
        report.add({"DD001.JPG", 2051, 7958, CloseReason::EndMarker, FileOutcome::Written});
        report.add({"DD1000.JPG", 9, 512, CloseReason::NextStart, FileOutcome::WriteFailed});
        report.add({"DD1001.JPG", 10, 0, CloseReason::EndOfScan, FileOutcome::NotCreated});
        report.add({"DD1002.JPG", 11, 3, CloseReason::Stopped, FileOutcome::DryRun});
        EXPECT_TRUE(report.finish());
    }
    std::fclose(stream);
    EXPECT_EQ(std::string(text, size), "name,first_sector,length,end,output\n"
                                       "DD001.JPG,2051,7958,end-marker,written\n"
                                       "DD1000.JPG,9,512,next-start,write-failed\n"
                                       "DD1001.JPG,10,0,end-of-source,not-created\n"
                                       "DD1002.JPG,11,3,stopped,dry-run\n");
    std::free(text);
}

TEST(Report, TheJpegRuleAddsTheVerdictAndThePieces)
{
    CarvedFile two{"DD007.JPG", 100, 9000, CloseReason::EndMarker, FileOutcome::Written};
    two.verdict = FileVerdict{Verdict::Reassembled, {{100, 107}, {140, 149}}};
    CarvedFile none{"", 300, 0, CloseReason::BadData, FileOutcome::NotWritten};
    none.verdict = FileVerdict{Verdict::NotJpeg, {{300, 300}}};
    CarvedFile cut{"DD008.JPG", 400, 512, CloseReason::Unreadable, FileOutcome::Written};
    cut.verdict = FileVerdict{Verdict::Truncated, {{400, 400}}};
    EXPECT_EQ(reportHeader(true), "name,first_sector,length,end,output,verdict,pieces\n");
    EXPECT_EQ(reportLine(two),
              "DD007.JPG,100,9000,end-marker,written,reassembled,100-107 140-149\n");
    EXPECT_EQ(reportLine(none), ",300,0,bad-data,not-written,not-jpeg,300-300\n");
    EXPECT_EQ(reportLine(cut), "DD008.JPG,400,512,unreadable-sector,written,truncated,400-400\n");
}

TEST(Report, AFullDiskIsNoticed)
{
    std::FILE* full = std::fopen("/dev/full", "w");
    if (!full)
        GTEST_SKIP() << "no /dev/full";
    ReportWriter report(full);
    for (int i = 0; i < 1000; ++i)
        report.add({"DD001.JPG", 1, 1, CloseReason::EndMarker, FileOutcome::Written});
    EXPECT_FALSE(report.finish());
    std::fclose(full);
}

// Each line reaches the file as its file closes, so a run that is killed leaves a report
// of every file closed before.
TEST(Report, EachLineIsInTheFileAsSoonAsItIsAdded)
{
    const testing::ScratchDir dir;
    std::FILE* stream = std::fopen((dir / "report.csv").c_str(), "w");
    ASSERT_TRUE(stream);
    ReportWriter report(stream);
    report.add({"DD001.JPG", 7, 512, CloseReason::EndMarker, FileOutcome::Written});
    EXPECT_EQ(testing::readText(dir / "report.csv"),
              "name,first_sector,length,end,output\nDD001.JPG,7,512,end-marker,written\n");
    std::fclose(stream);
}

TEST(Progress, RateAndTimeLeftComeFromThePartDone)
{
    CarveTotals t;
    t.sectorsDone = 1'000'000; // 512 MB in 4 s: 128 MB/s, and as much again to go
    t.files = 1;
    const std::string line = progressLine(t, 2'000'000, 512, 4.0);
    EXPECT_THAT(line, HasSubstr("50.0%"));
    EXPECT_THAT(line, HasSubstr("128.0 MB/s"));
    EXPECT_THAT(line, HasSubstr("0:04 left"));
    EXPECT_THAT(line, HasSubstr("1 file"));
    EXPECT_THAT(progressLine({}, 10, 512, 0), HasSubstr("--:-- left"));

    t.sectorsDone = 1;
    EXPECT_THAT(progressLine(t, 7201, 1, 1.0), HasSubstr("2:00:00 left"));
}

TEST(Progress, SummaryMentionsOnlyWhatHappened)
{
    CarveTotals clean;
    clean.files = 3;
    clean.bytes = 1536;
    clean.sectorsDone = 10;
    const std::string ok = summaryText(clean, 10, 512, 1.0, false);
    EXPECT_THAT(ok, HasSubstr("Carved 3 files (1.5 KiB)"));
    EXPECT_THAT(ok, HasSubstr("No sector failed to read"));
    EXPECT_THAT(ok, Not(HasSubstr("written whole")));
    EXPECT_THAT(ok, Not(HasSubstr("Stopped")));
    EXPECT_THAT(ok, Not(HasSubstr("verdict")));
    EXPECT_THAT(summaryText(clean, 10, 512, 1.0, false, "2 complete"),
                HasSubstr(" By verdict: 2 complete."));

    CarveTotals bad = clean;
    bad.unreadableSectors = 1;
    bad.failedFiles = 2;
    bad.stopped = true;
    const std::string s = summaryText(bad, 20, 512, 1.0, false);
    EXPECT_THAT(s, HasSubstr("1 sector could not be read"));
    EXPECT_THAT(s, HasSubstr("2 files could not be written whole"));
    EXPECT_THAT(s, HasSubstr("Stopped"));
    EXPECT_THAT(s, HasSubstr("10 of 20 sectors"));
    EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), 1) << "one paragraph";
    EXPECT_EQ(byteSize(1023), "1023 bytes");
    EXPECT_EQ(byteSize(3 * 1024 * 1024 + 1024 * 1024 / 2), "3.5 MiB");
}

} // namespace
} // namespace velo::cli
