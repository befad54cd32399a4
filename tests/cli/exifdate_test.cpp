// The camera's date read from EXIF blocks built here, in both byte orders, whole and
// broken.

#include "cli/exifdate.h"
#include "tests/cli/sheetphotos.h"

#include <gtest/gtest.h>

namespace velo::cli
{
namespace
{

using namespace velo::cli::testing;

TEST(ExifDate, PrefersTheOriginalDateAndSurvivesBrokenBlocks)
{
    const std::string original = "2008:05:30 15:56:01", changed = "2011:01:02 03:04:05";
    const struct {
        const char* name;
        ExifRecipe exif;
        std::string expected;
    } rows[] = {
        {"original over changed, Intel order",
         {.dateTime = changed, .dateTimeOriginal = original},
         "2008-05-30 15:56:01"},
        {"original over changed, Motorola order",
         {.bigEndian = true, .dateTime = changed, .dateTimeOriginal = original},
         "2008-05-30 15:56:01"},
        {"only the changed date", {.dateTime = changed}, "2011-01-02 03:04:05"},
        {"a date of another form is kept as it is",
         {.dateTime = "sometime in May"},
         "sometime in May"},
        {"text of four bytes lies in the entry itself", {.dateTime = "May"}, "May"},
        {"a long text is cut",
         {.dateTime = std::string(300, 'x')},
         std::string(kMostDateChars, 'x')},
        {"no date at all", {}, ""},
        {"a text whose offset points past the block",
         {.dateTime = changed, .breakTextOffset = true},
         ""},
        {"a directory that says it holds more entries than the block",
         {.dateTime = changed, .claimedEntries = 60000},
         ""},
        {"a block cut short in its directory", {.dateTime = changed, .cutTo = 20}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(exifDate(photoWithExif(row.exif)), row.expected);
    }
    EXPECT_EQ(exifDate(Bytes{}), "");
    EXPECT_EQ(exifDate(Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF}), ""); // segment past the end
}

} // namespace
} // namespace velo::cli
