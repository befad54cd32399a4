// What velo-carve needs on Windows from the platform layer: sources it refuses, and Ctrl-C
// as a stop request. Reading real sources is tested on drive E: under Wine.

#include "platform/windows/consolestop.h"
#include "platform/windows/windowssource.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace velo::windows_backend
{
namespace
{

TEST(WindowsSource, RefusesWhatHasNoSizeAndSaysWhy)
{
    testing::ScratchDir scratch;
    const struct {
        std::string path;
        std::string says;
    } rows[] = {
        {scratch.path.string(), "is a folder"},
        {(scratch / "missing.img").string(), "cannot open " + scratch.path.string()},
        {"NUL", "not a disk image or volume"},
    };
    for (const auto& row : rows) {
        std::string error;
        EXPECT_EQ(WindowsSource::open(row.path, error), nullptr) << row.path;
        EXPECT_NE(error.find(row.says), std::string::npos) << error;
        EXPECT_NE(error.find(row.path), std::string::npos) << error;
    }
}

TEST(ConsoleStop, TheFirstCtrlCStopsTheScanAndTheNextIsLeftToWindows)
{
    std::atomic<bool> flag = false;
    ASSERT_TRUE(installConsoleStopHandler(flag));
    EXPECT_FALSE(onConsoleControl(CTRL_CLOSE_EVENT));
    EXPECT_FALSE(flag);
    EXPECT_TRUE(onConsoleControl(CTRL_C_EVENT));
    EXPECT_TRUE(flag);
    EXPECT_FALSE(onConsoleControl(CTRL_BREAK_EVENT));

    std::atomic<bool> again = false; // installing anew starts over
    ASSERT_TRUE(installConsoleStopHandler(again));
    EXPECT_TRUE(onConsoleControl(CTRL_BREAK_EVENT));
    EXPECT_TRUE(again);
}

} // namespace
} // namespace velo::windows_backend
