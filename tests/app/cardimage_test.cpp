// A user's whole job, end to end: photos copied to a FAT32 card and deleted, the card's
// sectors scanned through the main window, the photos back in the save folder; and
// velo-carve, run on the same card, gives the very same files.

#include "app/form2.h"
#include "platform/fake/fakeplatform.h"
#include "tests/support/files.h"
#include "tests/support/form2controls.h"
#include "tests/support/photos.h"
#include "tests/support/volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace velo
{
namespace
{

using namespace velo::testing;

bool startsWith(const Bytes& whole, const Bytes& part)
{
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

TEST(CardImage, DeletedPhotosComeBackThroughTheWindow)
{
    if (run("command -v mkfs.vfat && command -v mcopy && command -v mdel") != 0)
        GTEST_SKIP() << "mtools and dosfstools are needed to make the card";

    ScratchDir work;
    const std::string card = (work / "card.img").string();
    ASSERT_EQ(run("mkfs.vfat -F 32 -s 1 -C " + card + " 49152"), 0);

    const std::vector<fs::path> photos = testing::testPhotos();
    std::vector<Bytes> copied;
    std::uintmax_t total = 0;
    int n = 0;
    for (const fs::path& photo : photos) {
        if (total + fs::file_size(photo) > 20u << 20)
            continue;
        total += fs::file_size(photo);
        const std::string name = "P" + std::to_string(++n) + ".JPG";
        ASSERT_EQ(run("mcopy -i " + card + " '" + photo.string() + "' ::" + name), 0);
        copied.push_back(readFile(photo));
    }
    ASSERT_GE(copied.size(), 10u);
    ASSERT_EQ(run("mdel -i " + card + " '::P*.JPG'"), 0);

    FakePlatform platform;
    FakeDrive& drive = platform.addDrive("F", DriveType::Removable);
    drive.volumeBytes = readFile(card);
    drive.freeSpace = DiskFreeSpace{1, 512, 0, std::int64_t(drive.volumeBytes.size() / 512)};
    platform.folders.insert("/save");

    Form2 window(platform);
    const Form2Controls controls(window);
    controls.readyToScan("F");
    controls.Command2->click();

    // Exactly what the rule gives, applied by hand to every sector of the card.
    const auto model = modelFiles(drive.volumeBytes);
    ASSERT_EQ(platform.files.size(), model.size());
    for (const auto& [number, content] : model)
        EXPECT_EQ(platform.files.at("/save/" + outputName(number)), content) << number;

    // What a user sees: every photo is back, whole, or with the card's zeros after it
    // (photos with bytes after their end marker), or cut where an embedded thumbnail
    // starts at a sector boundary or ends.
    int whole = 0;
    for (const Bytes& photo : copied) {
        bool found = false;
        for (const auto& [path, content] : platform.files) {
            whole += content == photo;
            found = found || startsWith(content, photo) ||
                    (content.size() >= 512 && startsWith(photo, content));
        }
        EXPECT_TRUE(found) << "a photo of " << photo.size() << " bytes did not come back";
    }
    EXPECT_GT(whole, int(copied.size()) / 2);

    // velo-carve with the window's rule on the card: the same names, the same bytes.
    ASSERT_EQ(run(std::string(VELO_CARVE_BINARY) + " -q --no-sheet --rule window " + card + " " +
                  (work / "out").string()),
              0);
    const auto fromCli = filesIn(work / "out"), fromWindow = filesUnder(platform.files, "/save/");
    EXPECT_TRUE(fromCli == fromWindow);
    EXPECT_EQ(fromCli.size(), fromWindow.size());
}

} // namespace
} // namespace velo
