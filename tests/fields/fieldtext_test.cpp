#include "fields/fieldtext.h"
#include "fields/geometrytext.h"

#include <gtest/gtest.h>

#include <limits>

namespace velo
{
namespace
{

TEST(FieldNumber, ReadsTheNumberATextBeginsWith)
{
    EXPECT_EQ(fieldNumber(" 512"), 512);
    EXPECT_EQ(fieldNumber("512"), 512);
    EXPECT_EQ(fieldNumber("   4096 bytes"), 4096);
    EXPECT_EQ(fieldNumber(" 1 024"), 1024); // blanks are ignored inside the number too
    EXPECT_EQ(fieldNumber(" -7"), -7);
    EXPECT_EQ(fieldNumber("+9"), 9);
    EXPECT_EQ(fieldNumber(" 8192000000"), 8192000000LL);
}

TEST(FieldNumber, TextWithoutANumberReadsAsZero)
{
    for (const char* text : {"", " ", "Label19", "C", " C", "-", "x12"})
        EXPECT_EQ(fieldNumber(text), 0) << '"' << text << '"';
}

TEST(FieldNumber, NumbersBeyondSixtyFourBitsSaturate)
{
    EXPECT_EQ(fieldNumber(" 9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(fieldNumber(" 99999999999999999999999"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(fieldNumber("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(fieldNumber("-99999999999999999999999"), std::numeric_limits<std::int64_t>::min());
}

TEST(FieldText, OneBlankThenPlainDecimal)
{
    EXPECT_EQ(fieldText(512), " 512");
    EXPECT_EQ(fieldText(0), " 0");
    EXPECT_EQ(fieldText(-3), " -3");
    EXPECT_EQ(fieldText(__int128(1) << 70), " 1180591620717411303424");
    for (std::int64_t n : {0LL, 1LL, 512LL, 16000000LL, -42LL, 8192000000LL})
        EXPECT_EQ(fieldNumber(fieldText(n)), n);
}

TEST(Geometry, TotalsAreExactPastThirtyTwoBits)
{
    const auto texts = geometryTexts(DiskFreeSpace{8, 512, 1000000, 2000000});
    EXPECT_EQ(texts[SectorsPerCluster], " 8");
    EXPECT_EQ(texts[BytesPerSector], " 512");
    EXPECT_EQ(texts[FreeClusters], " 1000000");
    EXPECT_EQ(texts[TotalClusters], " 2000000");
    EXPECT_EQ(texts[TotalBytes], " 8192000000");
    EXPECT_EQ(texts[FreeBytes], " 4096000000");
    EXPECT_EQ(totalSectorsText(texts[TotalClusters], texts[SectorsPerCluster]), " 16000000");
}

TEST(Geometry, FailedQueryShowsZeroEverywhere)
{
    for (const std::string& text : geometryTexts(std::nullopt))
        EXPECT_EQ(text, " 0");
    EXPECT_EQ(totalSectorsText(" 0", " 0"), " 0");
}

TEST(Geometry, RootPathIsLetterColonSeparator)
{
    EXPECT_EQ(rootPath("C", '\\'), "C:\\");
    EXPECT_EQ(rootPath("D", '/'), "D:/");
}

} // namespace
} // namespace velo
