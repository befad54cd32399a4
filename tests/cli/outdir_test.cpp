#include "cli/outdir.h"

#include "tests/cli/support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velo::cli
{
namespace
{

using ::testing::HasSubstr;

using namespace velo::cli::testing;

TEST(Outdir, OnlyThisProgramsNamesMarkAnEarlierRun)
{
    const struct {
        const char* name;
        bool exact;   // named as this program names its files
        bool anyCase; // the same in other letter case
    } names[] = {
        {"DD001.JPG", true, true},
        {"DD1000.JPG", true, true},
        {"DD12345678.JPG", true, true},
        {"DD001.jpg", false, true},
        {"dd001.JPG", false, true},
        {"dd001.jpg", false, true},
        {"Dd001.jPg", false, true},
        {"DD01.JPG", false, false},
        {"dd01.jpg", false, false},
        {"DD001.JPEG", false, false},
        {"DDabc.JPG", false, false},
        {"XDD001.JPG", false, false},
        {"DD001.JPG.bak", false, false},
        {"DD.JPG", false, false},
        {"", false, false},
    };
    for (const auto& n : names) {
        EXPECT_EQ(isCarvedFileName(n.name), n.exact) << n.name;
        EXPECT_EQ(isCarvedFileName(n.name, LetterCase::Ignored), n.anyCase) << n.name;
    }

    ScratchDir dir;
    EXPECT_FALSE(holdsEarlierRun((dir / "missing").string()));
    writeFile(dir / "IMG_0001.JPG", {1});
    writeFile(dir / "DD01.JPG", {1});
    EXPECT_FALSE(holdsEarlierRun(dir.path.string()));
    writeFile(dir / "DD002.JPG", {1});
    EXPECT_TRUE(holdsEarlierRun(dir.path.string()));
}

// A file of an earlier run in other letter case stops a run exactly where the name the
// run makes is taken by it: on Windows always, on Linux where the file system ignores
// case (tests/cli/binary_test.cpp mounts one).
TEST(Outdir, AnEarlierRunInOtherCaseCountsWhereTheFileSystemIgnoresCase)
{
    for (const char* name : {"dd002.jpg", "DD002.jpg", "Dd002.Jpg"}) {
        ScratchDir dir;
        writeFile(dir / name, {1});
        const bool nameTaken = fs::exists(dir / "DD002.JPG");
#ifdef _WIN32
        EXPECT_TRUE(nameTaken) << name;
#endif
        EXPECT_EQ(holdsEarlierRun(dir.path.string()), nameTaken) << name;
    }
}

// The report, or the source, named like a carved file in OUTDIR, in any letter case and
// however the folder is spelt; a name elsewhere, or not quite a carved one, is free.
TEST(Outdir, ANameAmongTheCarvedFilesIsFoundInAnyCase)
{
    ScratchDir dir;
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "elsewhere");
    const std::string out = (dir / "out").string();
    const struct {
        fs::path path;
        std::string folder;
        bool named;
    } cases[] = {
        {dir / "out" / "DD002.JPG", out, true},
        {dir / "out" / "dd002.jpg", out, true},
        {dir / "out" / "Dd002.JPG", out, true},
        {dir / "out" / "." / "dd002.jpg", (dir / "elsewhere" / ".." / "out").string(), true},
        {dir / "not-made" / "dd002.jpg", (dir / "not-made").string(), true},
        {dir / "elsewhere" / "dd002.jpg", out, false},
        {dir / "out" / "dd02.jpg", out, false},
        {dir / "out" / "report.csv", out, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(namesCarvedFileIn(c.path.string(), c.folder), c.named) << c.path;
}

TEST(Outdir, AFileInTheWayIsAProblemAMissingFolderIsNot)
{
    ScratchDir dir;
    writeFile(dir / "file", {1});
    EXPECT_EQ(outdirProblem(dir.path.string()), "");
    EXPECT_EQ(outdirProblem((dir / "new/deeper").string()), "");
    EXPECT_THAT(outdirProblem((dir / "file").string()), HasSubstr("is not a folder"));
    EXPECT_THAT(outdirProblem((dir / "file/below").string()), HasSubstr("is not a folder"));
    EXPECT_FALSE(fs::exists(dir / "new"));

    EXPECT_EQ(createFolders((dir / "new/deeper").string()), "");
    EXPECT_TRUE(fs::is_directory(dir / "new/deeper"));
    EXPECT_NE(createFolders((dir / "file/below").string()), "");
}

} // namespace
} // namespace velo::cli
