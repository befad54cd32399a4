// The read-ahead under a device that fails: a device that goes (a card pulled out) is
// given up on at once, with what it sent before still served and nothing asked of it
// again. (A block with a bad sector, and the device's end, are in the scan's fault
// table, tests/scan/recoveryscan_test.cpp, through the fake machine.)

#include "platform/readahead.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <set>
#include <vector>

namespace velo
{
namespace
{

constexpr std::uint32_t kSector = 512;
constexpr std::uint32_t kBlock = 8 * kSector;

struct GoneCase {
    const char* name;
    std::set<std::uint64_t> badSectors;
    std::uint64_t goneAtSector; // reads reaching it answer Gone
    std::vector<bool> readable; // per sector, what the reads one by one give
    int deviceReads;            // requests the device gets for all of them
};

class DeviceGone : public ::testing::TestWithParam<GoneCase>
{
};

TEST_P(DeviceGone, LaterReadsFailWithoutAskingTheDevice)
{
    const GoneCase& c = GetParam();
    std::vector<std::uint8_t> volume(32 * kSector);
    for (std::size_t i = 0; i < volume.size(); ++i)
        volume[i] = std::uint8_t(i * 7 + i / kSector);
    int deviceReads = 0;
    ReadAhead readAhead(
        [&](std::uint8_t* into, std::uint32_t count, std::uint64_t at) {
            ++deviceReads;
            ReadAnswer answer{count, ReadFailure::None};
            for (std::uint64_t s = at / kSector; s * kSector < at + count; ++s) {
                if (s >= c.goneAtSector || c.badSectors.count(s)) {
                    answer = {std::uint32_t(s * kSector - at),
                              s >= c.goneAtSector ? ReadFailure::Gone : ReadFailure::Unreadable};
                    break;
                }
            }
            std::memcpy(into, volume.data() + at, answer.bytes);
            return answer;
        },
        kBlock);

    for (std::uint64_t s = 0; s < c.readable.size(); ++s) {
        std::vector<std::uint8_t> sector(kSector);
        std::uint32_t got = 0;
        const bool ok = readAhead.read(sector.data(), kSector, s * kSector, got);
        ASSERT_EQ(ok, bool(c.readable[s])) << "sector " << s;
        if (ok) {
            ASSERT_EQ(got, kSector);
            EXPECT_EQ(0, std::memcmp(sector.data(), volume.data() + s * kSector, kSector))
                << "sector " << s;
        }
    }
    EXPECT_EQ(deviceReads, c.deviceReads);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DeviceGone,
    ::testing::Values(
        // Gone inside the first block: its first five sectors still come, once.
        GoneCase{"InABlockReadAhead",
                 {},
                 5,
                 {true,  true,  true,  true,  true,  false, false, false, false, false,
                  false, false, false, false, false, false, false, false, false, false},
                 1},
        // A bad sector sends the block's rest to be read one by one; the device goes while
        // that is under way, and the rest of the block is not asked for.
        GoneCase{"WhileABadBlockIsReadSectorBySector",
                 {2},
                 4,
                 {true, true, false, true, false, false, false, false, false, false, false, false},
                 4}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velo
