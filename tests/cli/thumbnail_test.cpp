// Thumbnails of whole, truncated, corrupt and made-up photos: a picture where there is
// one, a reason where there is none, and bounded work either way.

#include "cli/thumbnail.h"
#include "tests/cli/sheetphotos.h"
#include "tests/scan/jpeg/testphotos.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace velo::cli
{
namespace
{

using namespace velo::cli::testing;
namespace photos = velo::jpeg::testing;
using ::testing::HasSubstr;
using Outcome = Thumbnail::Outcome;

// The spread of the values of each colour in one row of RGB pixels, the largest of the
// three: 0 for a row of one colour.
int rowSpread(const Bytes& rgb, int width, int y)
{
    int spread = 0;
    for (int c = 0; c < 3; ++c) {
        int low = 255, high = 0;
        for (int x = 0; x < width; ++x) {
            const int v =
                rgb[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3 + std::size_t(c)];
            low = std::min(low, v), high = std::max(high, v);
        }
        spread = std::max(spread, high - low);
    }
    return spread;
}

Bytes cut(Bytes photo, double fraction)
{
    const std::size_t start = photos::entropyStart(photo);
    photo.resize(start + std::size_t(double(photo.size() - start) * fraction));
    return photo;
}

TEST(Thumbnail, WholePhotosShrinkToFitTheBoxKeepingTheirShape)
{
    const struct {
        photos::PhotoRecipe recipe;
    } rows[] = {
        {{.width = 1600, .height = 1200}},              // 1/8 is 200 wide already
        {{.width = 640, .height = 480}},                // 3/8, then halved
        {{.width = 120, .height = 400, .quality = 60}}, // standing
        {{.width = 64, .height = 48}},                  // smaller than the box: whole size
        {{.width = 640, .height = 480, .progressive = true}},
        {{.width = 640, .height = 480, .restartRows = 2}},
    };
    for (const auto& row : rows) {
        const photos::PhotoRecipe& s = row.recipe;
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height));
        const Thumbnail t = Thumbnail::of(photos::makePhoto(s));
        ASSERT_EQ(t.outcome, Outcome::Whole) << t.note;
        EXPECT_EQ(t.note, "");
        EXPECT_LE(std::max(t.width, t.height), Thumbnail::kLargestSide);
        const int expectedLargest = std::min(std::max(s.width, s.height), Thumbnail::kLargestSide);
        EXPECT_GE(std::max(t.width, t.height), expectedLargest / 2);
        EXPECT_NEAR(double(t.width) / t.height, double(s.width) / s.height, 0.1);
        EXPECT_EQ(photos::decodePixels(t.jpeg).size(), std::size_t(t.width) * t.height * 3);
    }
}

// A photo cut short decodes as far as its data goes; the rest comes out one flat grey.
TEST(Thumbnail, ATruncatedPhotoShowsHowFarItDecodes)
{
    const Bytes whole = photos::makePhoto({.width = 640, .height = 480, .seed = 7});
    for (const double fraction : {0.3, 0.6}) {
        SCOPED_TRACE(fraction);
        const Thumbnail t = Thumbnail::of(cut(whole, fraction));
        ASSERT_EQ(t.outcome, Outcome::WithErrors) << t.note;
        EXPECT_NE(t.note, "");
        const Bytes rgb = photos::decodePixels(t.jpeg);
        ASSERT_EQ(rgb.size(), std::size_t(t.width) * t.height * 3);
        EXPECT_GT(rowSpread(rgb, t.width, 0), 40) << "the top holds the photo";
        EXPECT_LE(rowSpread(rgb, t.width, t.height - 1), 8) << "the bottom is flat";
        // How far it goes grows with what there is of it.
        int firstFlat = t.height;
        while (firstFlat > 0 && rowSpread(rgb, t.width, firstFlat - 1) <= 8)
            --firstFlat;
        EXPECT_NEAR(double(firstFlat) / t.height, fraction, 0.15);
    }
}

TEST(Thumbnail, BytesThatAreNoPhotoGiveAReasonNotAPicture)
{
    const Bytes photo = photos::makePhoto({.width = 320, .height = 240});
    Bytes header(photo.begin(), photo.begin() + std::ptrdiff_t(photos::entropyStart(photo)) - 20);
    const struct {
        const char* name;
        Bytes bytes;
        Outcome outcome;
        const char* mentions;
    } rows[] = {
        {"nothing", {}, Outcome::Failed, ""},
        {"random bytes", photos::filler(photos::Filler::Random, 5000, 3), Outcome::Failed, ""},
        {"a start followed by text",
         [] {
             Bytes b = {0xFF, 0xD8, 0xFF, 0xE0};
             const Bytes t = photos::filler(photos::Filler::Text, 3000, 4);
             b.insert(b.end(), t.begin(), t.end());
             return b;
         }(),
         Outcome::Failed, ""},
        {"a header cut before its scan", header, Outcome::Failed, ""},
        {"a header declaring 65535x65535", declaringSize(photo, 65535, 65535), Outcome::Failed,
         ""}, // beyond what libjpeg takes
        {"a header declaring 65500x65500", declaringSize(photo, 65500, 65500), Outcome::Failed,
         "65500x65500"},
        {"a header declaring more pixels than a camera makes", declaringSize(photo, 12000, 9000),
         Outcome::Failed, "too many"},
        {"more scans than an encoder writes", progressiveWithScans(Thumbnail::kMostScans + 50),
         Outcome::Failed, "scans"},
        // Within the bounds, a header larger than its data decodes to grey where the data
        // ends, at bounded cost.
        {"a header declaring 9000x9000", declaringSize(photo, 9000, 9000), Outcome::WithErrors, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Thumbnail t = Thumbnail::of(row.bytes);
        EXPECT_EQ(t.outcome, row.outcome) << t.note;
        EXPECT_NE(t.note, "");
        EXPECT_THAT(t.note, HasSubstr(row.mentions));
        EXPECT_EQ(t.jpeg.empty(), row.outcome == Outcome::Failed);
    }
}

} // namespace
} // namespace velo::cli
