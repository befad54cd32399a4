// What velo-carve needs on Windows from the platform layer: a source (an image file or a
// volume such as \\.\E:) with its size, sector size and positioned reads; the check that
// output would not land on the volume being carved; and Ctrl-C as a stop request.

#include "platform/windows/consolestop.h"
#include "platform/windows/windowssource.h"
#include "tests/platform/windows/driveimage.h"
#include "tests/platform/windows/scratchfolder.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace velo::windows_backend
{
namespace
{

using testing::Bytes;

class SourceKind : public ::testing::TestWithParam<bool>
{
};

// The same bytes through either door: the image file itself, or drive E: that Wine maps
// onto it. Reads come in chunks that do not fit the sectors, as velo-carve's may.
TEST_P(SourceKind, HasTheImagesSizeAndReadsItAtAnyOffset)
{
    const bool asVolume = GetParam();
    const std::string path = asVolume ? "\\\\.\\E:" : testing::winePath(VELO_DRIVE_IMAGE);
    std::string error;
    auto source = WindowsSource::open(path, error);
    ASSERT_TRUE(source) << error;
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(source->isDevice(), asVolume);
    const Bytes image = testing::driveImage();
    EXPECT_EQ(source->sizeBytes(), image.size());
    EXPECT_EQ(source->sectorBytes(), testing::kDriveSectorBytes);

    Bytes read(image.size());
    const std::size_t chunk = 3000;
    for (std::size_t at = 0; at < image.size(); at += chunk) {
        const std::int64_t got = source->readAt(read.data() + at, chunk, at);
        ASSERT_EQ(got, std::int64_t(std::min(chunk, image.size() - at))) << "at " << at;
    }
    EXPECT_EQ(read, image);
    Bytes past(512);
    EXPECT_EQ(source->readAt(past.data(), past.size(), image.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(ImageAndVolume, SourceKind, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Volume" : "ImageFile"; });

TEST(WindowsSource, RefusesWhatHasNoSizeAndSaysWhy)
{
    testing::ScratchFolder scratch;
    const struct {
        std::string path;
        std::string says;
    } rows[] = {
        {scratch.path, "is a folder"},
        {scratch / "missing.img", "cannot open " + scratch.path},
        {"NUL", "not a disk image or volume"},
    };
    for (const auto& row : rows) {
        std::string error;
        EXPECT_EQ(WindowsSource::open(row.path, error), nullptr) << row.path;
        EXPECT_NE(error.find(row.says), std::string::npos) << error;
        EXPECT_NE(error.find(row.path), std::string::npos) << error;
    }
}

TEST(WindowsSource, KnowsWhenOutputWouldLandOnTheVolumeBeingCarved)
{
    const std::string image = testing::winePath(VELO_DRIVE_IMAGE);
    const struct {
        const char* folder;
        std::string source;
        bool same;
    } rows[] = {
        {"E:\\recovered", "\\\\.\\E:", true}, {"e:\\", "\\\\.\\E:", true},
        {"E:\\recovered", "\\\\.\\e:", true}, {"C:\\recovered", "\\\\.\\E:", false},
        {"E:\\recovered", image, false}, // an image file is not its folder's volume
    };
    for (const auto& row : rows)
        EXPECT_EQ(writesToSourceVolume(row.folder, row.source), row.same)
            << row.folder << " from " << row.source;
}

TEST(ConsoleStop, TheFirstCtrlCStopsTheScanAndTheNextIsLeftToWindows)
{
    volatile std::sig_atomic_t flag = 0;
    ASSERT_TRUE(installConsoleStopHandler(flag));
    EXPECT_FALSE(onConsoleControl(CTRL_CLOSE_EVENT));
    EXPECT_EQ(flag, 0);
    EXPECT_TRUE(onConsoleControl(CTRL_C_EVENT));
    EXPECT_EQ(flag, 1);
    EXPECT_FALSE(onConsoleControl(CTRL_BREAK_EVENT));

    volatile std::sig_atomic_t again = 0; // installing anew starts over
    ASSERT_TRUE(installConsoleStopHandler(again));
    EXPECT_TRUE(onConsoleControl(CTRL_BREAK_EVENT));
    EXPECT_EQ(again, 1);
}

} // namespace
} // namespace velo::windows_backend
