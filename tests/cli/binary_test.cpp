// velo-carve run as a program: what it prints, what it writes, how it exits.

#include "tests/cli/support.h"
#include "tests/support/mounts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velo::cli
{
namespace
{

using ::testing::HasSubstr;
using ::testing::Not;

using namespace velo::cli::testing;

// Three test photos, each starting on a sector boundary with filler between, and a
// partial sector at the end that is left out.
struct PhotoImage {
    ScratchDir dir;
    fs::path image = dir / "card.img";
    std::vector<Bytes> photos;
    std::vector<std::uint64_t> firstSectors;
    std::uint64_t sectors = 0;

    PhotoImage()
    {
        Bytes bytes = filler(5, 1);
        photos = wholeCarvingPhotos(3);
        for (std::size_t i = 0; i < photos.size(); ++i) {
            firstSectors.push_back(bytes.size() / 512);
            appendPadded(bytes, photos[i]);
            const Bytes gap = filler(3, std::uint32_t(i));
            bytes.insert(bytes.end(), gap.begin(), gap.end());
        }
        sectors = bytes.size() / 512;
        bytes.insert(bytes.end(), 100, 0xFF);
        writeFile(image, bytes);
    }

    // The report's line for photo i; its first sector counts `per512` sectors to 512 bytes
    // (2 when sectors are 256 bytes).
    std::string reportLine(std::size_t i, const std::string& output, int per512 = 1) const
    {
        return outputName(i + 1) + "," + std::to_string(firstSectors[i] * per512) + "," +
               std::to_string(photos[i].size()) + ",end-marker," + output;
    }
};

// A mistake in the command line: a second line points to --help.
const char* const kTryHelp = "Try 'velo-carve --help' for more information.";

TEST(VeloCarve, BadInputGetsOneLineAndStatus2AndWritesNothing)
{
    PhotoImage img;
    ScratchDir work;
    const std::string out = (work / "out").string();
    const std::string img512 = img.image.string();
    writeFile(work / "afile", {1, 2, 3});
    ::mkfifo((work / "fifo").c_str(), 0600);
    const std::string asFile = (work / "afile").string();

    const struct {
        std::vector<std::string> args;
        const char* mentions;
        const char* second = nullptr; // what a second line says, where there is one
    } cases[] = {
        {{}, "missing SOURCE and OUTDIR", kTryHelp},
        {{(work / "missing.img").string(), out}, "cannot open"},
        {{"/dev/velo-no-such-card", out}, "No such file", "lsblk"},
        {{work.path.string(), out}, "Is a directory"},
        {{asFile + "/x", out}, "Not a directory"},
        {{(work / "fifo").string(), out}, "not a disk image"},
        {{"--sector-size", "0", img512, out}, "--sector-size", kTryHelp},
        {{"--sector-size", "2097152", img512, out}, "--sector-size", kTryHelp},
        {{"--sector-size", "big", img512, out}, "--sector-size", kTryHelp},
        {{"--sectors", "1000000", img512, out}, "whole sectors"},
        {{img512, asFile}, "is not a folder"},
        {{img512, asFile + "/sub"}, "is not a folder"},
        {{"--report", (work / "no/such/dir/r.csv").string(), img512, (work / "o2").string()},
         "cannot write"},
    };
    for (const auto& c : cases) {
        const RunResult r = runVeloCarve(c.args);
        EXPECT_EQ(r.exitStatus, 2) << c.mentions;
        const auto errs = lines(r.errorOutput);
        ASSERT_EQ(errs.size(), c.second ? 2u : 1u) << r.errorOutput;
        if (c.second) {
            EXPECT_THAT(errs[1], HasSubstr(c.second));
        }
        EXPECT_EQ(errs[0].rfind("velo-carve: ", 0), 0u) << errs[0];
        EXPECT_THAT(errs[0], HasSubstr(c.mentions));
        EXPECT_FALSE(fs::exists(out)) << c.mentions;
    }
    EXPECT_EQ(readFile(work / "afile"), (Bytes{1, 2, 3}));
}

TEST(VeloCarve, CarvesThePhotosAndReportsEachFile)
{
    PhotoImage img;
    ASSERT_EQ(img.photos.size(), 3u);
    const fs::path out = img.dir / "new/out";
    const fs::path report = img.dir / "report.csv";
    const RunResult r = runVeloCarve(
        {"--rule=window", "--report", report.string(), img.image.string(), out.string()});
    EXPECT_EQ(r.exitStatus, 0) << r.errorOutput;

    EXPECT_EQ(fileNames(out),
              (std::vector<std::string>{"DD001.JPG", "DD002.JPG", "DD003.JPG", "index.html"}));
    const auto rows = lines(readText(report));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], "name,first_sector,length,end,output");
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(readFile(out / outputName(i + 1)), img.photos[i]) << i;
        EXPECT_EQ(rows[i + 1], img.reportLine(i, "written"));
    }
    // Not a terminal: no progress line, only the summary.
    EXPECT_THAT(r.errorOutput, Not(HasSubstr("\r")));
    EXPECT_THAT(r.errorOutput, HasSubstr("Carved 3 files"));
    EXPECT_THAT(r.errorOutput, HasSubstr(std::to_string(img.sectors) + " of " +
                                         std::to_string(img.sectors) + " sectors"));
}

TEST(VeloCarve, AnEarlierRunIsReplacedOnlyWhenAskedTo)
{
    PhotoImage img;
    const fs::path out = img.dir / "out";
    ASSERT_EQ(runVeloCarve({"-q", img.image.string(), out.string()}).exitStatus, 0);
    writeFile(out / "DD001.JPG", {9, 9});
    writeFile(out / "DD009.JPG", {9, 9}); // a later number than this source gives

    const RunResult refused = runVeloCarve({img.image.string(), out.string()});
    EXPECT_EQ(refused.exitStatus, 2);
    EXPECT_THAT(refused.errorOutput, HasSubstr("--overwrite"));
    EXPECT_EQ(readFile(out / "DD001.JPG"), (Bytes{9, 9}));

    const RunResult replaced =
        runVeloCarve({"-q", "--overwrite", img.image.string(), out.string()});
    EXPECT_EQ(replaced.exitStatus, 0) << replaced.errorOutput;
    EXPECT_EQ(replaced.errorOutput, "");
    EXPECT_EQ(readFile(out / "DD001.JPG"), img.photos[0]);
    EXPECT_EQ(readFile(out / "DD009.JPG"), (Bytes{9, 9})); // only what the carve writes
}

// The contact sheet: where it is written, what it lists, and every name it may not take
// refused before anything is created (status 2, one line, OUTDIR as it was).
TEST(VeloCarve, TheContactSheetIsWrittenOnlyWhereItMayBe)
{
    PhotoImage img;
    const std::string image = img.image.string();
    const struct {
        const char* name;
        std::vector<std::string> options;
        const char* earlier = nullptr; // a file of this name already in OUTDIR, not ours
        const char* sheet = nullptr;   // the sheet written, when the run goes ahead
        const char* refusal = nullptr; // the words of the refusal, when it does not
        bool link = false;             // the earlier file is a link to one of the user's
    } rows[] = {
        {"by default", {}, nullptr, "index.html"},
        {"under another name", {"--sheet", "photos.html"}, nullptr, "photos.html"},
        {"none", {"--no-sheet"}},
        {"none when nothing is carved", {"--dry-run"}},
        {"not over an earlier file", {}, "index.html", nullptr, "already holds index.html"},
        {"over an earlier file when asked to", {"--overwrite"}, "index.html", "index.html"},
        {"never through a link", {"--overwrite"}, "index.html", "index.html", nullptr, true},
        {"not as a carved photo's name",
         {"--sheet", "DD002.JPG"},
         nullptr,
         nullptr,
         "named like a carved photo"},
        {"not as a carved photo's name in other case",
         {"--sheet", "dd002.jpg"},
         nullptr,
         nullptr,
         "named like a carved photo"},
        {"not over a folder", {"--overwrite"}, "index.html/", nullptr, "is a folder"},
        {"not as the report",
         {"--report", "OUT/index.html"},
         nullptr,
         nullptr,
         "would be the contact sheet"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir work;
        const fs::path out = work / "out", mine = work / "mine.html";
        writeText(mine, "mine");
        fs::create_directories(out);
        if (row.earlier && std::string(row.earlier).ends_with("/"))
            fs::create_directories(out / row.earlier);
        else if (row.link)
            fs::create_symlink(mine, out / row.earlier);
        else if (row.earlier)
            writeText(out / row.earlier, "earlier");
        const auto before = fileNames(out);
        std::vector<std::string> args;
        for (const std::string& o : row.options)
            args.push_back(o == "OUT/index.html" ? (out / "index.html").string() : o);
        args.insert(args.end(), {"--rule=window", "-q", image, out.string()});
        const RunResult r = runVeloCarve(args);

        EXPECT_EQ(readText(mine), "mine");
        if (row.refusal) {
            EXPECT_EQ(r.exitStatus, 2);
            const auto errs = lines(r.errorOutput);
            ASSERT_EQ(errs.size(), 1u) << r.errorOutput;
            EXPECT_THAT(errs[0], HasSubstr(row.refusal));
            EXPECT_EQ(fileNames(out), before);
            if (row.earlier && !fs::is_directory(out / row.earlier)) {
                EXPECT_EQ(readText(out / row.earlier), "earlier");
            }
            continue;
        }
        EXPECT_EQ(r.exitStatus, 0) << r.errorOutput;
        std::vector<std::string> expected;
        if (!row.options.empty() && row.options[0] == "--dry-run") {
            EXPECT_EQ(fileNames(out), before);
            continue;
        }
        for (std::size_t i = 0; i < img.photos.size(); ++i)
            expected.push_back(outputName(i + 1));
        if (row.sheet)
            expected.push_back(row.sheet);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(fileNames(out), expected);
        if (!row.sheet)
            continue;
        EXPECT_FALSE(fs::is_symlink(out / row.sheet));
        const std::string page = readText(out / row.sheet);
        for (std::size_t i = 0; i < img.photos.size(); ++i)
            EXPECT_THAT(page, HasSubstr("href=\"" + outputName(i + 1) + "\""));
        EXPECT_THAT(page, HasSubstr(std::to_string(img.photos.size()) + " files: " +
                                    std::to_string(img.photos.size()) + " unchecked; 0 broken"));
    }

    const RunResult both =
        runVeloCarve({"--rule=window", "--sheet", "a.html", "--no-sheet", image, "o"});
    EXPECT_EQ(both.exitStatus, 2);
    EXPECT_THAT(both.errorOutput, HasSubstr("contradict"));
    const RunResult path = runVeloCarve({"--rule=window", "--sheet", "../up.html", image, "o"});
    EXPECT_EQ(path.exitStatus, 2);
    EXPECT_THAT(path.errorOutput, HasSubstr("a file name inside OUTDIR"));
}

TEST(VeloCarve, DryRunWritesOnlyTheReport)
{
    PhotoImage img;
    const fs::path out = img.dir / "out";
    const RunResult r = runVeloCarve(
        {"--rule=window", "--dry-run", "--report", "-", img.image.string(), out.string()});
    EXPECT_EQ(r.exitStatus, 0) << r.errorOutput;
    EXPECT_FALSE(fs::exists(out));
    const auto rows = lines(r.standardOutput);
    ASSERT_EQ(rows.size(), 4u) << r.standardOutput;
    EXPECT_EQ(rows[1], img.reportLine(0, "dry-run"));
    EXPECT_THAT(r.errorOutput, HasSubstr("Found 3 files"));

    // An earlier run's folder is no obstacle: nothing in it would be touched.
    fs::create_directories(out);
    writeFile(out / "DD001.JPG", {7});
    EXPECT_EQ(runVeloCarve({"--rule=window", "--dry-run", "-q", img.image.string(), out.string()})
                  .exitStatus,
              0);
    EXPECT_EQ(fileNames(out), std::vector<std::string>{"DD001.JPG"});
}

TEST(VeloCarve, SectorOptionsChangeWhatIsRead)
{
    PhotoImage img;
    // Only as far as the end of the first photo's sectors: one file.
    const std::uint64_t upTo = img.firstSectors[1];
    const RunResult r = runVeloCarve({"--rule=window", "--dry-run", "--report", "-", "--sectors",
                                      std::to_string(upTo), img.image.string(), "unused"});
    EXPECT_EQ(r.exitStatus, 0) << r.errorOutput;
    EXPECT_EQ(lines(r.standardOutput).size(), 2u) << r.standardOutput;

    // With sectors of 256 bytes every photo still starts on a sector, and ends the same way.
    const RunResult small = runVeloCarve({"--rule=window", "--dry-run", "--report", "-",
                                          "--sector-size", "256", img.image.string(), "unused"});
    EXPECT_EQ(small.exitStatus, 0) << small.errorOutput;
    const auto rows = lines(small.standardOutput);
    ASSERT_EQ(rows.size(), 4u) << small.standardOutput;
    EXPECT_EQ(rows[1], img.reportLine(0, "dry-run", 2));
}

TEST(VeloCarve, FilesThatCannotBeWrittenGiveStatus1AndTheRestIsCarved)
{
    PhotoImage img;
    const fs::path out = img.dir / "out";
    fs::create_directories(out / "DD002.JPG"); // a folder where a file should go
    const RunResult r =
        runVeloCarve({"--overwrite", "--report", "-", img.image.string(), out.string()});
    EXPECT_EQ(r.exitStatus, 1) << r.errorOutput;
    EXPECT_THAT(r.errorOutput, HasSubstr("1 file could not be written whole"));
    EXPECT_THAT(r.standardOutput, HasSubstr("DD002.JPG," + std::to_string(img.firstSectors[1])));
    EXPECT_THAT(r.standardOutput, HasSubstr(",not-created"));
    EXPECT_EQ(readFile(out / "DD003.JPG"), img.photos[2]);
}

TEST(VeloCarve, HelpAndVersion)
{
    const RunResult help = runVeloCarve({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.standardOutput.rfind("Usage: velo-carve", 0), 0u);
    const RunResult version = runVeloCarve({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.standardOutput.rfind("velo-carve ", 0), 0u);
}

// A source far too large to finish: a file opens in its first sector and never ends, the
// first MiB holds a pattern and the rest is a hole that reads as zeros.
TEST(VeloCarve, InterruptionClosesTheOpenFileWithAnExactPrefix)
{
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        ScratchDir dir;
        const fs::path image = dir / "huge.img";
        Bytes head(1 << 20);
        for (std::size_t i = 0; i < head.size(); ++i)
            head[i] = std::uint8_t(i % 251 + 1);
        head[0] = 0xFF, head[1] = 0xD8, head[2] = 0xFF;
        writeFile(image, head);
        fs::resize_file(image, std::uintmax_t(64) << 30);

        const fs::path out = dir / "out";
        const std::string report = (dir / "r.csv").string();
        // Once the carve is well into the hole, it is interrupted.
        const RunResult r = runVeloCarve(
            {"--rule=window", "--report", report, image.string(), out.string()},
            StandardOutput::Captured, [&](int pid) {
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                std::error_code ec;
                while ((fs::file_size(out / "DD001.JPG", ec) < (std::uintmax_t(8) << 20) || ec) &&
                       std::chrono::steady_clock::now() < deadline)
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                ::kill(pid, signal);
            });
        EXPECT_EQ(r.endedBySignal, 0);
        EXPECT_EQ(r.exitStatus, 130);

        const auto rows = lines(readText(report));
        ASSERT_EQ(rows.size(), 2u);
        const std::uintmax_t size = fs::file_size(out / "DD001.JPG");
        EXPECT_EQ(rows[1], "DD001.JPG,0," + std::to_string(size) + ",stopped,written");
        EXPECT_EQ(size % 512, 0u);
        EXPECT_LT(size, std::uintmax_t(64) << 30);
        const Bytes written = readFile(out / "DD001.JPG");
        ASSERT_GE(written.size(), head.size());
        EXPECT_TRUE(std::equal(head.begin(), head.end(), written.begin()));
        EXPECT_TRUE(std::all_of(written.begin() + std::ptrdiff_t(head.size()), written.end(),
                                [](std::uint8_t b) { return b == 0; }));
        EXPECT_THAT(r.errorOutput, HasSubstr("Stopped before the end"));
    }
}

// Links planted in OUTDIR under the names the run writes, replaced with --overwrite: a
// symlink to a file of the user's, a hard link to another and a link to nowhere. What
// they point at is never written, and nothing is made where the dangling one points.
TEST(VeloCarve, LinksInOutdirAreReplacedNeverWrittenThrough)
{
    PhotoImage img;
    const fs::path out = img.dir / "out", victim = img.dir / "victim", other = img.dir / "other";
    fs::create_directories(out);
    writeFile(victim, {1, 2, 3});
    writeFile(other, {4, 5, 6});
    fs::create_symlink(victim, out / "DD001.JPG");
    fs::create_hard_link(other, out / "DD002.JPG");
    fs::create_symlink(img.dir / "nowhere", out / "DD003.JPG");

    const RunResult r = runVeloCarve({"-q", "--overwrite", img.image.string(), out.string()});
    EXPECT_EQ(r.exitStatus, 0) << r.errorOutput;
    EXPECT_EQ(readFile(victim), (Bytes{1, 2, 3}));
    EXPECT_EQ(readFile(other), (Bytes{4, 5, 6}));
    EXPECT_FALSE(fs::exists(img.dir / "nowhere"));
    for (std::size_t i = 0; i < 3; ++i) {
        const fs::path file = out / ("DD00" + std::to_string(i + 1) + ".JPG");
        EXPECT_FALSE(fs::is_symlink(file)) << file;
        EXPECT_EQ(fs::hard_link_count(file), 1u) << file;
        EXPECT_EQ(readFile(file), img.photos[i]) << file;
    }
}

// While one run holds OUTDIR, a second run into it is refused and writes nothing.
TEST(VeloCarve, ASecondRunIntoTheSameFolderIsRefused)
{
    PhotoImage img;
    const fs::path out = img.dir / "out";
    fs::create_directories(out);
    const int held = ::open(out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const RunResult r = runVeloCarve({img.image.string(), out.string()});
    ::close(held);
    EXPECT_EQ(r.exitStatus, 2) << r.errorOutput;
    EXPECT_THAT(r.errorOutput, HasSubstr("in use by another velo-carve run"));
    EXPECT_TRUE(fileNames(out).empty());
}

// What would destroy the source, write over a device, or write the report into a photo
// is refused before anything is created: status 2, one line, the source and OUTDIR as
// they were (a missing OUTDIR stays missing).
TEST(VeloCarve, RefusesToWriteOverTheSourceADeviceOrItsOwnOutput)
{
    PhotoImage img;
    const Bytes imageBytes = readFile(img.image);
    const fs::path newOut = img.dir / "new", out = img.dir / "out", empty = img.dir / "empty.img";
    fs::create_directories(out);
    writeFile(out / "DD001.JPG", imageBytes); // a copy of the card among earlier results
    writeFile(empty, {});
    fs::create_symlink(img.image, img.dir / "link.csv");
    writeFile(img.dir / "notes.txt", {'n'});
    fs::create_hard_link(img.dir / "notes.txt", img.dir / "hard.csv");
    const std::string image = img.image.string();

    const struct {
        std::vector<std::string> args;
        const char* mentions;
    } cases[] = {
        {{"--report", image, image, newOut.string()}, "is the source itself"},
        {{"--report", (img.dir / "link.csv").string(), image, newOut.string()}, "is a link"},
        {{"--report", (img.dir / "hard.csv").string(), image, newOut.string()}, "hard links"},
        {{"--report", "/dev/null", image, newOut.string()}, "over the device /dev/null"},
        {{"--overwrite", "--report", (out / "DD002.JPG").string(), image, out.string()},
         "would be one of the files carved into"},
        {{"--overwrite", "--report", (out / "dd002.jpg").string(), image, out.string()},
         "would be one of the files carved into"},
        {{"--overwrite", (out / "DD001.JPG").string(), out.string()}, "named like the files"},
        {{empty.string(), newOut.string()}, "has no sector to read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mentions);
        const RunResult r = runVeloCarve(c.args);
        EXPECT_EQ(r.exitStatus, 2);
        const auto errs = lines(r.errorOutput);
        ASSERT_EQ(errs.size(), 1u) << r.errorOutput;
        EXPECT_THAT(errs[0], HasSubstr(c.mentions));
        EXPECT_FALSE(fs::exists(newOut));
        EXPECT_EQ(fileNames(out), std::vector<std::string>{"DD001.JPG"});
        EXPECT_EQ(readFile(out / "DD001.JPG"), imageBytes);
        EXPECT_EQ(readFile(img.image), imageBytes);
        EXPECT_EQ(readFile(img.dir / "notes.txt"), Bytes{'n'});
    }
}

// `--report - | head -1`: the reader goes away. The run is not killed by SIGPIPE: it
// says the report failed, carves every file and exits 1.
TEST(VeloCarve, AReportNobodyReadsIsAFailureAndTheCarveGoesOn)
{
    PhotoImage img;
    const fs::path out = img.dir / "out";
    const RunResult r =
        runVeloCarve({"--rule=window", "--report", "-", img.image.string(), out.string()},
                     StandardOutput::ClosedPipe);
    EXPECT_EQ(r.exitStatus, 1) << r.errorOutput;
    EXPECT_THAT(r.errorOutput, HasSubstr("cannot write the report -"));
    ASSERT_EQ(fileNames(out).size(), 4u); // the photos and the contact sheet
    EXPECT_EQ(readFile(out / "DD003.JPG"), img.photos[2]);
}

// An output that runs out of inodes: said once, as it happens, and counted in the summary.
TEST(VeloCarve, AnOutputOutOfInodesIsSaidOnceAndCounted)
{
    ScratchDir dir;
    Bytes image;
    for (int i = 0; i < 20; ++i) // twenty one-sector photos
        appendPadded(image, {0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xD9});
    writeFile(dir / "card.img", image);
    Mount small("tmpfs", "tmpfs", "size=1m,nr_inodes=6", dir / "small");
    if (!small.mounted)
        GTEST_SKIP() << small.why;

    const RunResult r = runVeloCarve(
        {"--rule=window", "--no-sheet", (dir / "card.img").string(), (dir / "small").string()});
    EXPECT_EQ(r.exitStatus, 1) << r.errorOutput;
    const auto errs = lines(r.errorOutput);
    const auto warnings = std::count_if(errs.begin(), errs.end(), [](const std::string& line) {
        return line.find("out of space or inodes") != std::string::npos &&
               line.rfind("velo-carve: warning:", 0) == 0;
    });
    EXPECT_EQ(warnings, 1) << r.errorOutput;
    const std::size_t made = fileNames(dir / "small").size();
    EXPECT_THAT(r.errorOutput,
                HasSubstr(std::to_string(20 - made) +
                          " files could not be created: the output is out of space or "
                          "inodes"));
}

// SOURCE an image attached through a loop device and mounted: OUTDIR or the report inside
// that mount would write the image's own blocks. Refused before anything is made, unless
// --allow-writing-to-source says the risk is taken, which is then warned of.
TEST(VeloCarve, WritingIntoAMountOfTheImageBeingReadNeedsConsent)
{
    ScratchDir dir;
    const fs::path image = dir / "card.img";
    writeFile(image, Bytes(std::size_t(4) << 20, 0));
    if (run("mkfs.ext2 -q -F " + image.string()) != 0)
        GTEST_SKIP() << "no mkfs.ext2";
    Mount card(image.string(), "ext2", "loop", dir / "mnt");
    if (!card.mounted)
        GTEST_SKIP() << card.why;
    const fs::path onCard = dir / "mnt" / "recovered", report = dir / "mnt" / "found.csv";
    const fs::path elsewhere = dir / "out";
    const std::string allow = "--allow-writing-to-source";

    const struct {
        std::vector<std::string> args;
        int status;
        const char* linesOn;        // what is said to lie on the device, "" when nothing
        std::vector<fs::path> made; // what the run creates
    } cases[] = {
        {{image.string(), onCard.string()}, 2, onCard.c_str(), {}},
        {{"--report", report.string(), image.string(), elsewhere.string()}, 2, report.c_str(), {}},
        {{"--dry-run", image.string(), onCard.string()}, 0, "", {}},
        {{"--dry-run", "--report", report.string(), image.string(), onCard.string()},
         2,
         report.c_str(),
         {}},
        {{allow, image.string(), onCard.string()}, 0, onCard.c_str(), {onCard}},
        {{allow, "--report", report.string(), image.string(), elsewhere.string()},
         0,
         report.c_str(),
         {report, elsewhere}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const RunResult r = runVeloCarve(c.args);
        EXPECT_EQ(r.exitStatus, c.status) << r.errorOutput;
        const auto errs = lines(r.errorOutput);
        if (c.status == 2) {
            ASSERT_EQ(errs.size(), 1u) << r.errorOutput;
            EXPECT_THAT(errs[0], HasSubstr(std::string(c.linesOn) + " lies on " + image.string()));
            EXPECT_THAT(errs[0], HasSubstr(allow));
        } else if (*c.linesOn) {
            EXPECT_THAT(r.errorOutput,
                        HasSubstr("warning: " + std::string(c.linesOn) + " lies on"));
        } else {
            EXPECT_THAT(r.errorOutput, Not(HasSubstr("lies on")));
        }
        for (const fs::path& p : {onCard, report, elsewhere}) {
            EXPECT_EQ(fs::exists(p), std::count(c.made.begin(), c.made.end(), p) == 1) << p;
            fs::remove_all(p);
        }
    }
}

// A card image attached read-only through a loop device, read through that device: the
// image file is the card, and a report over it is refused even with consent to write on
// the source.
TEST(VeloCarve, TheImageBehindTheLoopDeviceReadIsNeverTheReport)
{
    PhotoImage img;
    const Bytes imageBytes = readFile(img.image);
    const ReadOnlyLoopDevice attached(img.image);
    if (attached.device().empty())
        GTEST_SKIP() << attached.why();
    const fs::path out = img.dir / "out";
    const std::string image = img.image.string();

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--report", image, attached.device(), out.string()},
          std::vector<std::string>{"--allow-writing-to-source", "--report", image,
                                   attached.device(), out.string()},
          std::vector<std::string>{"--dry-run", "--report", image, attached.device(),
                                   out.string()}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const RunResult r = runVeloCarve(args);
        EXPECT_EQ(r.exitStatus, 2);
        const auto errs = lines(r.errorOutput);
        ASSERT_EQ(errs.size(), 1u) << r.errorOutput;
        EXPECT_THAT(errs[0], HasSubstr("the report " + image + " is the image file behind"));
        EXPECT_FALSE(fs::exists(out));
        EXPECT_EQ(readFile(img.image), imageBytes);
    }

    // The carve itself reads the image through the device as it is.
    const RunResult r = runVeloCarve({"-q", "--no-sheet", attached.device(), out.string()});
    EXPECT_EQ(r.exitStatus, 0) << r.errorOutput;
    ASSERT_EQ(fileNames(out).size(), img.photos.size());
    EXPECT_EQ(readFile(out / "DD001.JPG"), img.photos[0]);
}

// A file of an earlier run in small letters on a FAT card takes the name DD001.JPG there,
// so the run is refused as for DD001.JPG; where the file system keeps case apart, it
// takes no name of this run and the run goes ahead beside it.
TEST(VeloCarve, AnEarlierRunInSmallLettersIsRefusedWhereCaseIsIgnored)
{
    PhotoImage img;
    LoopMount fat(std::uint64_t(8) << 20, "vfat");
    ScratchDir plain;
    const struct {
        const char* name;
        fs::path folder;
        bool ignoresCase;
    } folders[] = {
        {"FAT card", fat.mountPoint(), true},
        {"Linux scratch folder", plain.path, false},
    };
    for (const auto& f : folders) {
        SCOPED_TRACE(f.name);
        if (f.ignoresCase && !fat.ok()) {
            std::printf("skipped the FAT card: %s\n", fat.why().c_str());
            continue;
        }
        const fs::path out = f.folder / "out";
        fs::create_directories(out);
        writeFile(out / "dd001.jpg", {'o', 'l', 'd'});
        ASSERT_EQ(fs::exists(out / "DD001.JPG"), f.ignoresCase);

        const RunResult r = runVeloCarve({"-q", img.image.string(), out.string()});
        if (f.ignoresCase) {
            EXPECT_EQ(r.exitStatus, 2);
            EXPECT_THAT(r.errorOutput, HasSubstr("already holds DD*.JPG files"));
            EXPECT_EQ(fileNames(out), std::vector<std::string>{"dd001.jpg"});
        } else {
            EXPECT_EQ(r.exitStatus, 0) << r.errorOutput;
            EXPECT_EQ(readFile(out / "DD001.JPG"), img.photos[0]);
        }
        EXPECT_EQ(readFile(out / "dd001.jpg"), (Bytes{'o', 'l', 'd'}));
    }
}

} // namespace
} // namespace velo::cli
