#include "dump/sectordump.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

// Splits after each CR LF; a tail without one is kept so that the checks see it.
std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t cut = text.find("\r\n", from);
        const std::size_t next = cut == std::string::npos ? text.size() : cut + 2;
        lines.push_back(text.substr(from, next - from));
        from = next;
    }
    return lines;
}

std::vector<std::uint8_t> belowEighty(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = std::uint8_t(i % 0x80); // one character a byte
    return bytes;
}

class DumpShape : public ::testing::TestWithParam<std::size_t>
{
};

TEST_P(DumpShape, OneLinePerSixteenBytesWithGrowingOffsets)
{
    const std::size_t size = GetParam();
    const auto lines = splitLines(velo::sectorDump(belowEighty(size), std::int64_t(size) - 1));
    ASSERT_EQ(lines.size(), size / 16);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        char offset[24];
        const int width = std::snprintf(offset, sizeof offset, "%03zX ", i * 16);
        ASSERT_EQ(lines[i].rfind(offset, 0), 0u) << lines[i];
        // 71 characters with a three-digit offset, one more from 1000 on
        EXPECT_EQ(lines[i].size(), std::size_t(width) + 16 * 3 + 1 + 16 + 2) << lines[i];
        EXPECT_EQ(lines[i].substr(lines[i].size() - 2), "\r\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, DumpShape, ::testing::Values(16, 512, 4096, 8192));

TEST(SectorDump, HexAndCharacterColumns)
{
    const std::string text = "\x0A\xFF\xE5\x7F\x1F JPEG ~}\xA0\x80\xB1";
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    EXPECT_EQ(velo::sectorDump(bytes, 15),
              "000 0A FF E5 7F 1F 20 4A 50 45 47 20 7E 7D A0 80 B1  ...\x7F. JPEG ~}..ｱ\r\n");
}

TEST(DumpCharacter, EveryByte)
{
    for (int byte = 0; byte < 256; ++byte) {
        SCOPED_TRACE(byte);
        const std::string shown = velo::dumpCharacter(std::uint8_t(byte));
        if (byte >= 0x20 && byte <= 0x7F) { // DEL too: its character, not "."
            EXPECT_EQ(shown, std::string(1, char(byte)));
        } else if (byte >= 0xA1 && byte <= 0xDF) {
            // UTF-8 of U+FF61 + (byte - A1)
            ASSERT_EQ(shown.size(), 3u);
            const unsigned codePoint = (std::uint8_t(shown[0]) & 0x0Fu) << 12 |
                                       (std::uint8_t(shown[1]) & 0x3Fu) << 6 |
                                       (std::uint8_t(shown[2]) & 0x3Fu);
            EXPECT_EQ(std::uint8_t(shown[0]), 0xEF);
            EXPECT_EQ(codePoint, 0xFF61u + unsigned(byte - 0xA1));
        } else {
            EXPECT_EQ(shown, ".");
        }
    }
    EXPECT_EQ(velo::dumpCharacter(0xA1), "｡");
    EXPECT_EQ(velo::dumpCharacter(0xDD), "ﾝ");
    EXPECT_EQ(velo::dumpCharacter(0xDF), "ﾟ");
}

// The last line always takes 16 bytes, so a count inside a line needs the whole line.
struct DumpRun {
    std::size_t bufferSize;
    std::int64_t lastOffset;
    int lines; // -1: out of range
};

class DumpBufferLength : public ::testing::TestWithParam<DumpRun>
{
};

TEST_P(DumpBufferLength, LinesOrOutOfRange)
{
    const DumpRun run = GetParam();
    const auto bytes = belowEighty(run.bufferSize);
    if (run.lines < 0) {
        EXPECT_THROW(velo::sectorDump(bytes, run.lastOffset), std::out_of_range);
        return;
    }
    const auto lines = splitLines(velo::sectorDump(bytes, run.lastOffset));
    ASSERT_EQ(lines.size(), std::size_t(run.lines));
    if (!lines.empty()) {
        EXPECT_EQ(lines.back().size(), 71u);
    }
}

constexpr auto kMost = std::numeric_limits<std::int64_t>::max();
constexpr auto kLeast = std::numeric_limits<std::int64_t>::min();

INSTANTIATE_TEST_SUITE_P(Lengths, DumpBufferLength,
                         ::testing::Values(DumpRun{512, -1, 0}, DumpRun{0, -1, 0},
                                           DumpRun{0, kLeast, 0}, DumpRun{0, 0, -1},
                                           DumpRun{15, 0, -1}, DumpRun{16, 0, 1},
                                           DumpRun{100, 99, -1}, DumpRun{112, 99, 7},
                                           DumpRun{512, 511, 32}, DumpRun{512, 512, -1},
                                           DumpRun{512, 4095, -1}, DumpRun{512, kMost - 1, -1}));

TEST(SectorDump, PartLineStillShowsSixteenBytes)
{
    std::vector<std::uint8_t> bytes(32, 0x41);
    bytes[31] = 0x42;
    const auto lines = splitLines(velo::sectorDump(bytes, 16)); // 17 bytes asked for
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1],
              "010 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 42  AAAAAAAAAAAAAAAB\r\n");
}

} // namespace
