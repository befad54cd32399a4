// velo-carve and the window's scan, given the same bytes, must write the same files.

#include "app/form2.h"
#include "platform/fake/fakeplatform.h"
#include "tests/cli/support.h"
#include "tests/support/form2controls.h"
#include "tests/support/photos.h"

#include <gtest/gtest.h>

#include <map>

namespace velo::cli
{
namespace
{

using namespace velo::cli::testing;

// Photos at sector boundaries among filler, with the awkward cases of the rule: a photo
// cut short by the next one's start, an end marker whose FF and D9 straddle a sector
// boundary, one whose FF D9 ends a sector, one with no zeros after it (it runs on into the
// filler), and a photo still open at the end of the source.
Bytes mixedImage()
{
    const auto photos = velo::testing::testPhotos();
    Bytes image = filler(7, 11);
    for (std::size_t i = 0; i < 6; ++i) {
        appendPadded(image, readFile(photos.at(i * 13 % photos.size())));
        const Bytes gap = filler(i + 1, std::uint32_t(100 + i));
        image.insert(image.end(), gap.begin(), gap.end());
    }
    Bytes cut = readFile(photos.at(3));
    cut.resize(cut.size() / 2 / 512 * 512);
    appendPadded(image, cut); // the next photo starts right after

    for (std::size_t tail : {std::size_t(511), std::size_t(512)}) {
        Bytes made = filler(3, std::uint32_t(tail));
        made[0] = 0xFF, made[1] = 0xD8, made[2] = 0xFF;
        made.resize(made.size() - 512 + tail - 1);
        made.back() = 0xFF; // FF as the last or second-to-last byte of a sector, then D9
        made.push_back(0xD9);
        appendPadded(image, made);
        image.insert(image.end(), 512, 0);
    }
    Bytes runsOn = readFile(photos.at(5));
    image.insert(image.end(), runsOn.begin(), runsOn.end()); // filler right after, no zeros
    image.resize((image.size() + 511) / 512 * 512, 0x41);
    const Bytes gap = filler(9, 7);
    image.insert(image.end(), gap.begin(), gap.end());

    Bytes last = readFile(photos.at(8));
    last.resize(last.size() / 3);
    appendPadded(image, last);
    return image;
}

TEST(WindowMatch, VeloCarveWritesWhatTheWindowsScanWrites)
{
    const Bytes image = mixedImage();
    const std::uint64_t sectors = image.size() / 512;

    // The command-line carve.
    ScratchDir dir;
    writeFile(dir / "card.img", image);
    const RunResult run = runVeloCarve({"-q", (dir / "card.img").string(), (dir / "out").string()});
    ASSERT_EQ(run.exitStatus, 0) << run.errorOutput;

    // The window's scan of a drive whose volume is the same bytes.
    FakePlatform platform;
    FakeDrive& drive = platform.addDrive("E");
    drive.volumeBytes = image;
    drive.freeSpace = DiskFreeSpace{1, 512, 0, std::int64_t(sectors)};
    platform.folders.insert("/saved");
    Form2 window(platform);
    const velo::testing::Form2Controls controls(window);
    controls.select(QStringLiteral("E"));
    ASSERT_EQ(controls.label("Label19")->text(), QStringLiteral("E"));
    ASSERT_EQ(controls.label("Label14")->text().trimmed().toULongLong(), sectors);
    controls.Text1->setText(QStringLiteral("/saved/"));
    controls.Command2->click();

    std::map<std::string, Bytes> fromWindow;
    for (const auto& [path, bytes] : platform.files)
        if (path.rfind("/saved/", 0) == 0)
            fromWindow[path.substr(7)] = bytes;
    std::map<std::string, Bytes> fromCli;
    for (const std::string& name : fileNames(dir / "out"))
        fromCli[name] = readFile(dir / "out" / name);

    ASSERT_GE(fromCli.size(), 10u);
    ASSERT_EQ(fromCli.size(), fromWindow.size());
    for (const auto& [name, bytes] : fromCli) {
        ASSERT_TRUE(fromWindow.count(name)) << name;
        EXPECT_EQ(bytes.size(), fromWindow[name].size()) << name;
        EXPECT_TRUE(bytes == fromWindow[name]) << name;
    }
}

} // namespace
} // namespace velo::cli
