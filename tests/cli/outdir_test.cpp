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
    for (const char* name : {"DD001.JPG", "DD1000.JPG", "DD12345678.JPG"})
        EXPECT_TRUE(isCarvedFileName(name)) << name;
    for (const char* name : {"DD01.JPG", "DD001.jpg", "dd001.JPG", "DD001.JPEG", "DDabc.JPG",
                             "XDD001.JPG", "DD001.JPG.bak", "DD.JPG", ""})
        EXPECT_FALSE(isCarvedFileName(name)) << name;

    ScratchDir dir;
    EXPECT_FALSE(holdsEarlierRun((dir / "missing").string()));
    writeFile(dir / "IMG_0001.JPG", {1});
    writeFile(dir / "DD01.JPG", {1});
    EXPECT_FALSE(holdsEarlierRun(dir.path.string()));
    writeFile(dir / "DD002.JPG", {1});
    EXPECT_TRUE(holdsEarlierRun(dir.path.string()));
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
