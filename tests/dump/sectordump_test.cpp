#include "dump/sectordump.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

std::vector<std::string> splitLines(const std::string& text)
{
    // Every line must end in CR LF; a trailing piece without one is a fault, kept so the
    // caller's checks see it.
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find("\r\n", from);
        if (end == std::string::npos) {
            lines.push_back(text.substr(from));
            break;
        }
        lines.push_back(text.substr(from, end + 2 - from));
        from = end + 2;
    }
    return lines;
}

std::vector<std::uint8_t> counting(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i % 0x80); // all below 0x80: one char a byte
    return bytes;
}

struct RunShape {
    std::size_t byteCount;
    std::size_t lines;
    const char* lastOffset;
};

class DumpShape : public ::testing::TestWithParam<RunShape>
{
};

TEST_P(DumpShape, OneLinePerSixteenBytesWithGrowingOffsets)
{
    const RunShape shape = GetParam();
    const auto bytes = counting(shape.byteCount);
    const auto lines = splitLines(velo::sectorDump(bytes, std::int64_t(shape.byteCount) - 1));
    ASSERT_EQ(lines.size(), shape.lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        char offset[24];
        std::snprintf(offset, sizeof offset, "%03zX ", i * 16);
        const std::string& line = lines[i];
        ASSERT_EQ(line.rfind(offset, 0), 0u) << "line " << i << ": " << line;
        // offset + blank, 16 x "XX ", one blank, 16 characters, CR LF
        EXPECT_EQ(line.size(), std::string(offset).size() + 48 + 1 + 16 + 2) << line;
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    }
    EXPECT_EQ(lines.back().substr(0, std::string(shape.lastOffset).size()), shape.lastOffset);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DumpShape,
                         ::testing::Values(RunShape{16, 1, "000 "}, RunShape{512, 32, "1F0 "},
                                           RunShape{4096, 256, "FF0 "},
                                           RunShape{8192, 512, "1FF0 "}),
                         [](const auto& info) { return std::to_string(info.param.byteCount); });

TEST(SectorDump, LinePastFFFIsOneCharacterLonger)
{
    const auto bytes = counting(8192);
    const auto lines = splitLines(velo::sectorDump(bytes, 8191));
    EXPECT_EQ(lines[255].size(), 71u);
    EXPECT_EQ(lines[256].size(), 72u);
    EXPECT_EQ(lines[256].substr(0, 5), "1000 ");
}

TEST(SectorDump, HexColumnIsUpperCaseTwoDigitsEach)
{
    std::vector<std::uint8_t> bytes(16);
    std::iota(bytes.begin(), bytes.end(), 0);
    bytes[0] = 0x0A;
    bytes[1] = 0xFF;
    bytes[2] = 0xe5;
    EXPECT_EQ(velo::sectorDump(bytes, 15),
              "000 0A FF E5 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  ................\r\n");
}

TEST(SectorDump, AsciiShowsAsItselfAndControlBytesAsDots)
{
    const std::string text = "Hello, JPEG ~{}\x7F";
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    const std::string dump = velo::sectorDump(bytes, 15);
    EXPECT_EQ(dump.substr(dump.size() - 18), "Hello, JPEG ~{}.\r\n");
}

// Every byte's character: dots, ASCII, and the katakana block A1-DF.
TEST(DumpCharacter, WholeByteRange)
{
    for (int byte = 0; byte < 256; ++byte) {
        const std::string shown = velo::dumpCharacter(std::uint8_t(byte));
        SCOPED_TRACE(byte);
        if (byte >= 0x20 && byte <= 0x7E) {
            EXPECT_EQ(shown, std::string(1, char(byte)));
        } else if (byte >= 0xA1 && byte <= 0xDF) {
            ASSERT_EQ(shown.size(), 3u);
            const unsigned codePoint = (unsigned(std::uint8_t(shown[0])) & 0x0F) << 12 |
                                       (unsigned(std::uint8_t(shown[1])) & 0x3F) << 6 |
                                       (unsigned(std::uint8_t(shown[2])) & 0x3F);
            EXPECT_EQ(std::uint8_t(shown[0]), 0xEF);
            EXPECT_EQ(codePoint, 0xFF61u + unsigned(byte - 0xA1));
        } else {
            EXPECT_EQ(shown, ".");
        }
    }
}

TEST(DumpCharacter, KnownKatakana)
{
    EXPECT_EQ(velo::dumpCharacter(0xA1), "｡"); // half-width full stop
    EXPECT_EQ(velo::dumpCharacter(0xB1), "ｱ"); // A
    EXPECT_EQ(velo::dumpCharacter(0xDD), "ﾝ"); // N
    EXPECT_EQ(velo::dumpCharacter(0xDF), "ﾟ"); // handakuten
    EXPECT_EQ(velo::dumpCharacter(0x20), " ");
    EXPECT_EQ(velo::dumpCharacter(0x41), "A");
}

TEST(SectorDump, NoLineForNegativeLastOffset)
{
    const auto bytes = counting(512);
    EXPECT_EQ(velo::sectorDump(bytes, -1), "");
    EXPECT_EQ(velo::sectorDump({}, -1), "");
    EXPECT_EQ(velo::sectorDump({}, std::numeric_limits<std::int64_t>::min()), "");
}

// The last line always takes 16 bytes, so a count inside a line needs the whole line.
struct ShortRun {
    std::size_t bufferSize;
    std::int64_t lastOffset;
    bool fits;
};

class DumpBufferLength : public ::testing::TestWithParam<ShortRun>
{
};

TEST_P(DumpBufferLength, ThrowsOutOfRangeWhenTheLastLineRunsPastTheBuffer)
{
    const ShortRun run = GetParam();
    const auto bytes = counting(run.bufferSize);
    if (run.fits) {
        const auto lines = splitLines(velo::sectorDump(bytes, run.lastOffset));
        EXPECT_EQ(lines.size(), std::size_t(run.lastOffset / 16 + 1));
        EXPECT_EQ(lines.back().size(), 71u);
    } else {
        EXPECT_THROW(velo::sectorDump(bytes, run.lastOffset), std::out_of_range);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, DumpBufferLength,
    ::testing::Values(ShortRun{0, 0, false}, ShortRun{15, 0, false}, ShortRun{16, 0, true},
                      ShortRun{512, 99, true},  // 100 bytes: seven lines, the 7th whole
                      ShortRun{100, 99, false}, // the 7th line runs 12 bytes past
                      ShortRun{112, 99, true}, ShortRun{512, 511, true}, ShortRun{512, 512, false},
                      ShortRun{512, 4095, false},
                      ShortRun{512, std::numeric_limits<std::int64_t>::max() - 1, false}),
    [](const auto& info) {
        return "buffer" + std::to_string(info.param.bufferSize) + "_last" +
               std::to_string(info.param.lastOffset);
    });

TEST(SectorDump, PartialLastLineStillShowsSixteenBytes)
{
    std::vector<std::uint8_t> bytes(32, 0x41);
    bytes[31] = 0x42;
    const auto lines = splitLines(velo::sectorDump(bytes, 16)); // 17 bytes asked for
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1],
              "010 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 42  AAAAAAAAAAAAAAAB\r\n");
}

} // namespace
