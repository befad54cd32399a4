// Reads through the Windows device handle: always whole aligned sectors, whatever the
// caller asks for; a failed read still moves on; short reads at the end of the device.
// The disk below is made up, and refuses misaligned reads the way Windows refuses them on
// a volume; Wine would accept them, so only this stand-in can catch one.

#include "platform/windows/windowsdevicehandle.h"
#include "tests/platform/windows/driveimage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace velo::windows_backend
{
namespace
{

using testing::Bytes;

// A disk of `bytes` whose reads must start on a sector, cover whole sectors and land in a
// buffer aligned to a sector, like an uncached volume on Windows.
struct StrictDisk {
    std::uint32_t sectorBytes;
    Bytes bytes;
    std::set<std::uint64_t> badSectors;
    std::vector<std::string> refused;
    std::vector<std::uint64_t> offsetsRead;

    ReadAt reader()
    {
        return [this](std::uint8_t* into, std::uint32_t count, std::uint64_t offset,
                      std::uint32_t& got) {
            got = 0;
            if (offset % sectorBytes != 0 || count % sectorBytes != 0 ||
                reinterpret_cast<std::uintptr_t>(into) % sectorBytes != 0) {
                refused.push_back(std::to_string(offset) + "+" + std::to_string(count));
                return false;
            }
            offsetsRead.push_back(offset);
            for (std::uint64_t s = offset / sectorBytes; s < (offset + count) / sectorBytes; ++s) {
                if (badSectors.count(s))
                    return false;
            }
            if (offset >= bytes.size())
                return true;
            got = std::uint32_t(std::min<std::uint64_t>(count, bytes.size() - offset));
            std::copy_n(bytes.begin() + std::ptrdiff_t(offset), got, into);
            return true;
        };
    }
};

Bytes patterned(std::size_t size)
{
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = std::uint8_t(i * 13 + i / 512);
    return b;
}

struct AlignmentCase {
    const char* name;
    std::uint32_t deviceSectorBytes;
    std::uint32_t requestBytes;
};

void PrintTo(const AlignmentCase& c, std::ostream* out)
{
    *out << c.name;
}

class AlignedReads : public ::testing::TestWithParam<AlignmentCase>
{
};

TEST_P(AlignedReads, EveryRequestReachesTheDiskAlignedAndComesBackWhole)
{
    const auto c = GetParam();
    StrictDisk disk{c.deviceSectorBytes, patterned(64 * 1024), {}, {}, {}};
    WindowsDeviceHandle handle(nullptr, c.deviceSectorBytes, disk.reader());

    // One byte past an aligned address: the caller's buffer is never trusted to be aligned.
    Bytes storage(c.requestBytes + 1);
    std::uint8_t* into = storage.data() + 1;
    for (std::size_t at = 0; at + c.requestBytes <= disk.bytes.size(); at += c.requestBytes) {
        std::uint32_t got = 0;
        ASSERT_TRUE(handle.read(into, c.requestBytes, got)) << "at " << at;
        ASSERT_EQ(got, c.requestBytes);
        ASSERT_TRUE(std::equal(into, into + got, disk.bytes.begin() + std::ptrdiff_t(at)))
            << "at " << at;
    }
    EXPECT_TRUE(disk.refused.empty()) << disk.refused.front();
}

INSTANTIATE_TEST_SUITE_P(Sizes, AlignedReads,
                         ::testing::Values(AlignmentCase{"SectorReadsOn512ByteDisk", 512, 512},
                                           AlignmentCase{"SectorReadsOn4096ByteDisk", 512 * 8, 512},
                                           AlignmentCase{"OddReadsOn512ByteDisk", 512, 700},
                                           AlignmentCase{"LargeReadsOn4096ByteDisk", 4096,
                                                         3 * 4096}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WindowsDeviceHandle, AFailedReadCostsItsSectorAndTheNextReadGetsTheNextSector)
{
    StrictDisk disk{512, patterned(16 * 512), {3}, {}, {}};
    WindowsDeviceHandle handle(nullptr, 512, disk.reader());
    Bytes sector(512);
    for (std::uint64_t s = 0; s < 6; ++s) {
        std::uint32_t got = 99;
        const bool ok = handle.read(sector.data(), 512, got);
        if (s == 3) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(got, 0u);
            continue;
        }
        ASSERT_TRUE(ok) << "sector " << s;
        EXPECT_TRUE(
            std::equal(sector.begin(), sector.end(), disk.bytes.begin() + std::ptrdiff_t(s * 512)))
            << "sector " << s;
    }
    EXPECT_EQ(disk.offsetsRead, (std::vector<std::uint64_t>{0, 512, 1024, 1536, 2048, 2560}));
}

TEST(WindowsDeviceHandle, AtTheEndOnlyWhatArrivedIsCopiedAndTheRestOfTheBufferStays)
{
    StrictDisk disk{512, patterned(1000), {}, {}, {}}; // the last sector is cut short
    WindowsDeviceHandle handle(nullptr, 512, disk.reader());
    Bytes buffer(512, 0xEE);
    std::uint32_t got = 0;
    ASSERT_TRUE(handle.read(buffer.data(), 512, got));
    ASSERT_EQ(got, 512u);

    std::fill(buffer.begin(), buffer.end(), 0xEE);
    ASSERT_TRUE(handle.read(buffer.data(), 512, got));
    ASSERT_EQ(got, 488u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 488, disk.bytes.begin() + 512));
    EXPECT_TRUE(std::all_of(buffer.begin() + 488, buffer.end(), [](auto b) { return b == 0xEE; }));

    ASSERT_TRUE(handle.read(buffer.data(), 512, got)); // past the end: nothing, no failure
    EXPECT_EQ(got, 0u);
}

} // namespace
} // namespace velo::windows_backend
