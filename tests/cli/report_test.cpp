#include "cli/progress.h"
#include "cli/report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace velo::cli
{
namespace
{

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
    char name[] = "/tmp/velo-report-XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    std::FILE* stream = ::fdopen(fd, "w");
    ReportWriter report(stream);
    report.add({"DD001.JPG", 7, 512, CloseReason::EndMarker, FileOutcome::Written});
    std::ifstream onDisk(name);
    const std::string text((std::istreambuf_iterator<char>(onDisk)),
                           std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "name,first_sector,length,end,output\nDD001.JPG,7,512,end-marker,written\n");
    std::fclose(stream);
    ::unlink(name);
}

TEST(Progress, RateAndTimeLeftComeFromThePartDone)
{
    CarveTotals t;
    t.sectorsDone = 1'000'000; // 512 MB in 4 s: 128 MB/s, and as much again to go
    t.files = 1;
    const std::string line = progressLine(t, 2'000'000, 512, 4.0);
    EXPECT_NE(line.find("50.0%"), std::string::npos) << line;
    EXPECT_NE(line.find("128.0 MB/s"), std::string::npos) << line;
    EXPECT_NE(line.find("0:04 left"), std::string::npos) << line;
    EXPECT_NE(line.find("1 file"), std::string::npos) << line;
    EXPECT_NE(progressLine({}, 10, 512, 0).find("--:-- left"), std::string::npos);

    t.sectorsDone = 1;
    EXPECT_NE(progressLine(t, 7201, 1, 1.0).find("2:00:00 left"), std::string::npos);
}

TEST(Progress, SummaryMentionsOnlyWhatHappened)
{
    CarveTotals clean;
    clean.files = 3;
    clean.bytes = 1536;
    clean.sectorsDone = 10;
    const std::string ok = summaryText(clean, 10, 512, 1.0, false);
    EXPECT_NE(ok.find("Carved 3 files (1.5 KiB)"), std::string::npos) << ok;
    EXPECT_NE(ok.find("No sector failed to read"), std::string::npos) << ok;
    EXPECT_EQ(ok.find("written whole"), std::string::npos) << ok;
    EXPECT_EQ(ok.find("Stopped"), std::string::npos) << ok;

    CarveTotals bad = clean;
    bad.unreadableSectors = 1;
    bad.failedFiles = 2;
    bad.stopped = true;
    const std::string s = summaryText(bad, 20, 512, 1.0, false);
    EXPECT_NE(s.find("1 sector could not be read"), std::string::npos) << s;
    EXPECT_NE(s.find("2 files could not be written whole"), std::string::npos) << s;
    EXPECT_NE(s.find("Stopped"), std::string::npos) << s;
    EXPECT_NE(s.find("10 of 20 sectors"), std::string::npos) << s;
    EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), 1) << "one paragraph";
    EXPECT_EQ(byteSize(1023), "1023 bytes");
    EXPECT_EQ(byteSize(3 * 1024 * 1024 + 1024 * 1024 / 2), "3.5 MiB");
}

} // namespace
} // namespace velo::cli
