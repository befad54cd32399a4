#include "scan/outputname.h"

#include <gtest/gtest.h>

namespace velo
{
namespace
{

TEST(OutputFileName, PadsToThreeDigitsAndNeverCuts)
{
    EXPECT_EQ(outputFileName("/save/", 1), "/save/DD001.JPG");
    EXPECT_EQ(outputFileName("/save/", 42), "/save/DD042.JPG");
    EXPECT_EQ(outputFileName("/save/", 999), "/save/DD999.JPG");
    EXPECT_EQ(outputFileName("/save/", 1000), "/save/DD1000.JPG");
    EXPECT_EQ(outputFileName("C:\\SAVE\\", 1), "C:\\SAVE\\DD001.JPG");
}

} // namespace
} // namespace velo
