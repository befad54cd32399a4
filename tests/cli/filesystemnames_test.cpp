// velo-carve on a FAT card whose photos were deleted: the file system's names and times
// in the report and, with --names fs, on the files; names from a card made safe.

#include "cli/filesystemnames.h"
#include "tests/cli/support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>

namespace velo::cli
{
namespace
{

using namespace velo::cli::testing;

TEST(SafeFileName, NamesFromACardBecomePlainFileNames)
{
    const struct {
        std::string fromCard, safe;
    } rows[] = {
        {"IMG_2041.JPG", "IMG_2041.JPG"},
        {"Holiday, day 2.jpeg", "Holiday, day 2.jpeg"},
        {"../../etc/passwd", "___.._etc_passwd"},
        {"..", "__"},
        {".hidden.jpg", "_hidden.jpg"},
        {"a\\b:c*d?e\"f<g>h|i", "a_b_c_d_e_f_g_h_i"},
        {std::string("ctl\x01\x1f\x7f.jpg"), "ctl___.jpg"},
        {"name. . ", "name"},
        {"写真.JPG", "写真.JPG"},
        {std::string(199, 'a') + "写", std::string(199, 'a')}, // not cut inside a character
        {"", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(safeFileName(row.fromCard), row.safe) << row.fromCard;
}

bool haveTools()
{
    return run("command -v mkfs.fat && command -v mcopy && command -v mdel") == 0;
}

// Three photos copied to a FAT32 card, two of the same name in two folders, all deleted;
// then carved with and without --names fs.
TEST(FileSystemNames, DeletedPhotosComeBackUnderTheirNamesAndTimes)
{
    if (!haveTools())
        GTEST_SKIP() << "dosfstools and mtools are needed to make the card";
    const std::vector<Bytes> photos = wholeCarvingPhotos(3);
    ASSERT_EQ(photos.size(), 3u);
    ScratchDir work;
    const std::string card = (work / "card.img").string();
    ASSERT_EQ(run("mkfs.fat -F 32 -s 1 -C " + card + " 40960"), 0);
    const std::string mtools = "MTOOLS_SKIP_CHECK=1 TZ=UTC ";
    const std::vector<std::pair<std::string, std::string>> onCard = {
        {"DCIM/100CANON", "IMG_2041.JPG"},
        {"DCIM/100CANON", "Sunset, pier.jpg"},
        {"DCIM/101CANON", "IMG_2041.JPG"}};
    ASSERT_EQ(run(mtools + "mmd -i " + card + " ::DCIM ::DCIM/100CANON ::DCIM/101CANON"), 0);
    for (std::size_t i = 0; i < photos.size(); ++i) {
        const fs::path photo = work / ("p" + std::to_string(i));
        writeFile(photo, photos[i]);
        ASSERT_EQ(
            run("touch -d '2026-06-0" + std::to_string(i + 1) + " 10:00:00 UTC' " + photo.string()),
            0);
        ASSERT_EQ(run(mtools + "mcopy -m -i " + card + " " + photo.string() +
                      " '::" + onCard[i].first + "/" + onCard[i].second + "'"),
                  0);
    }
    ASSERT_EQ(run(mtools + "mdel -i " + card + " '::DCIM/100CANON/*' '::DCIM/101CANON/*'"), 0);

    ::setenv("TZ", "UTC", 1);
    const RunResult named =
        runVeloCarve({"-q", "--no-sheet", "--names", "fs", "--report",
                      (work / "named.csv").string(), card, (work / "named").string()});
    ASSERT_EQ(named.exitStatus, 0) << named.errorOutput;
    EXPECT_EQ(fileNames(work / "named"),
              (std::vector<std::string>{"Sunset, pier.jpg", "_MG_2041-2.JPG", "_MG_2041.JPG"}));
    // Each name on the photo that had it, with its time; a short name has lost its first
    // letter, a long one is whole; the first IMG_2041.JPG lies first on the card.
    const std::vector<std::string> names = {"_MG_2041.JPG", "Sunset, pier.jpg", "_MG_2041-2.JPG"};
    for (std::size_t i = 0; i < photos.size(); ++i) {
        EXPECT_EQ(readFile(work / "named" / names[i]), photos[i]) << names[i];
        struct stat st {
        };
        ASSERT_EQ(::stat((work / "named" / names[i]).c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, 1780308000 + 86400 * std::int64_t(i)) << names[i];
    }
    const std::vector<std::string> report = lines(readText(work / "named.csv"));
    ASSERT_EQ(report.size(), 4u);
    EXPECT_EQ(report[0],
              "name,first_sector,length,end,output,verdict,pieces,name_on_card,modified");
    EXPECT_NE(report[2].find(",\"DCIM/100CANON/Sunset, pier.jpg\",2026-06-02 10:00:00"),
              std::string::npos)
        << report[2];

    // By default the files keep their numbers; the report still says what they were.
    const RunResult numbered =
        runVeloCarve({"-q", "--no-sheet", "--report", (work / "numbered.csv").string(), card,
                      (work / "numbered").string()});
    ASSERT_EQ(numbered.exitStatus, 0) << numbered.errorOutput;
    EXPECT_EQ(fileNames(work / "numbered"),
              (std::vector<std::string>{"DD001.JPG", "DD002.JPG", "DD003.JPG"}));
    const std::vector<std::string> numberedReport = lines(readText(work / "numbered.csv"));
    ASSERT_EQ(numberedReport.size(), 4u);
    EXPECT_NE(numberedReport[3].find(",DCIM/101CANON/_MG_2041.JPG,2026-06-03 10:00:00"),
              std::string::npos)
        << numberedReport[3];
}

} // namespace
} // namespace velo::cli
