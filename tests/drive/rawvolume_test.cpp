#include "drive/rawvolume.h"
#include "drive/registerblock.h"

#include <gtest/gtest.h>

namespace velo
{
namespace
{

TEST(RawVolume, DeviceNameKeepsTheLettersCase)
{
    EXPECT_EQ(volumeDeviceName("C"), "\\\\.\\C:");
    EXPECT_EQ(volumeDeviceName("c"), "\\\\.\\c:");
}

TEST(RegisterBlock, FieldsAreLittleEndianInRegisterOrder)
{
    RegisterBlock r;
    r.ebx = 0x11223344;
    r.edx = 5;
    r.ecx = 1;
    r.eax = 2;
    const auto bytes = r.bytes();
    ASSERT_EQ(bytes.size(), 28u);
    EXPECT_EQ(bytes[0], 0x44);
    EXPECT_EQ(bytes[3], 0x11);
    EXPECT_EQ(bytes[4], 5);
    EXPECT_EQ(bytes[8], 1);
    EXPECT_EQ(bytes[12], 2);
    for (std::size_t i = 16; i < 28; ++i)
        EXPECT_EQ(bytes[i], 0);
}

TEST(RegisterBlock, DriveNumberIgnoresCase)
{
    EXPECT_EQ(driveNumber("A"), 0u);
    EXPECT_EQ(driveNumber("C"), 2u);
    EXPECT_EQ(driveNumber("c"), 2u);
    EXPECT_EQ(driveNumber("z"), 25u);
}

} // namespace
} // namespace velo
