#include "scan/jpeg/segments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

namespace velo::jpeg
{
namespace
{

using Bytes = std::vector<std::uint8_t>;

// SOF: precision, height, width, then (id, sampling, quantisation table) per component.
Bytes frame(std::uint16_t height, std::vector<std::array<std::uint8_t, 3>> components,
            std::uint8_t precision = 8)
{
    Bytes p{precision, std::uint8_t(height >> 8),      std::uint8_t(height), 0,
            64,        std::uint8_t(components.size())};
    for (const auto& c : components)
        p.insert(p.end(), c.begin(), c.end());
    return p;
}

// One DHT table: class and number, 16 counts, the symbols.
Bytes table(std::uint8_t classAndId, std::array<std::uint8_t, 16> counts)
{
    Bytes p(1 + counts.size(), classAndId);
    std::copy(counts.begin(), counts.end(), p.begin() + 1);
    int total = 0;
    for (std::uint8_t c : counts)
        total += c;
    for (int i = 0; i < total; ++i)
        p.push_back(std::uint8_t(i));
    return p;
}

const std::array<std::uint8_t, 16> kFewCodes{0, 2, 1, 1};

// A walk's state with a baseline frame of one component (id 1) and DC and AC table 0.
WalkState withFrameAndTables()
{
    WalkState s;
    EXPECT_TRUE(readFrame(s, 0xC0, frame(16, {{1, 0x11, 0}})));
    Bytes tables = table(0x00, kFewCodes);
    const Bytes ac = table(0x10, kFewCodes);
    tables.insert(tables.end(), ac.begin(), ac.end());
    EXPECT_TRUE(readTables(s, tables));
    return s;
}

struct SegmentCase {
    const char* name;
    std::function<bool(WalkState&)> read; // reads the segment into the state
    bool ok;
    std::function<bool(const WalkState&)> holds = {}; // what the state says after it
};

const SegmentCase kSegments[] = {
    {"FrameOfThreeComponents",
     [](WalkState& s) {
         return readFrame(s, 0xC0, frame(8, {{1, 0x22, 0}, {2, 0x11, 1}, {3, 0x11, 1}}));
     },
     true,
     [](const WalkState& s) {
         return s.frame.decodable && s.frame.maxH == 2 && s.frame.components == 3;
     }},
    {"ProgressiveFrameIsWalkedNotDecoded",
     [](WalkState& s) {
         return readFrame(s, 0xC2, frame(8, {{1, 0x11, 0}}));
     },
     true, [](const WalkState& s) { return s.frame.present && !s.frame.decodable; }},
    {"FrameOfUnknownHeightIsNotDecoded",
     [](WalkState& s) {
         return readFrame(s, 0xC0, frame(0, {{1, 0x11, 0}}));
     },
     true, [](const WalkState& s) { return !s.frame.decodable; }},
    {"SecondFrameInOneImage",
     [](WalkState& s) {
         return readFrame(s, 0xC0, frame(8, {{1, 0x11, 0}})) &&
                readFrame(s, 0xC0, frame(8, {{1, 0x11, 0}}));
     },
     false},
    {"FrameWithoutComponents", [](WalkState& s) { return readFrame(s, 0xC0, frame(8, {})); },
     false},
    {"FrameWithSamplingZero",
     [](WalkState& s) {
         return readFrame(s, 0xC0, frame(8, {{1, 0x01, 0}}));
     },
     false},
    {"TablesDefinedNotBuilt", [](WalkState& s) { return readTables(s, table(0x13, kFewCodes)); },
     true,
     [](const WalkState& s) {
         return s.frame.tables->acDefined == 8 && s.frame.tables->acBuilt == 0;
     }},
    {"TableWithMoreCodesThanItsLengthHolds",
     [](WalkState& s) { return readTables(s, table(0x00, {3})); }, false},
    {"TableOfAThirdClass", [](WalkState& s) { return readTables(s, table(0x20, kFewCodes)); },
     false},
    {"TableCutShort",
     [](WalkState& s) {
         Bytes p = table(0x00, kFewCodes);
         p.pop_back();
         return readTables(s, p);
     },
     false},
    {"SequentialScanIsDecodedWithItsTablesBuilt",
     [](WalkState& s) {
         s = withFrameAndTables();
         return startScan(s, Bytes{1, 1, 0x00, 0, 63, 0});
     },
     true,
     [](const WalkState& s) {
         return s.scan.decoding && s.frame.tables->dcBuilt == 1 && s.frame.tables->acBuilt == 1 &&
                s.scan.mcuTotal == 8 * 2;
     }},
    {"ProgressiveScanIsWalked",
     [](WalkState& s) {
         s = withFrameAndTables();
         return startScan(s, Bytes{1, 1, 0x00, 1, 5, 0});
     },
     true, [](const WalkState& s) { return !s.scan.decoding && s.frame.tables->acBuilt == 0; }},
    {"ScanOfAComponentTheFrameHasNot",
     [](WalkState& s) {
         s = withFrameAndTables();
         return startScan(s, Bytes{1, 7, 0x00, 0, 63, 0});
     },
     false},
    {"SequentialScanWithoutItsTables",
     [](WalkState& s) {
         s = withFrameAndTables();
         return startScan(s, Bytes{1, 1, 0x11, 0, 63, 0});
     },
     false},
    {"ScanBeforeAnyFrame",
     [](WalkState& s) {
         return startScan(s, Bytes{1, 1, 0x00, 0, 63, 0});
     },
     false},
};

class Segments : public ::testing::TestWithParam<SegmentCase>
{
};

TEST_P(Segments, AreTakenIntoTheWalksState)
{
    const SegmentCase& c = GetParam();
    WalkState s;
    EXPECT_EQ(c.read(s), c.ok);
    if (c.holds) {
        EXPECT_TRUE(c.holds(s));
    }
}

INSTANTIATE_TEST_SUITE_P(Walker, Segments, ::testing::ValuesIn(kSegments),
                         [](const auto& info) { return std::string(info.param.name); });

// An MPF index: the first image's entry (offset 0) gives where it ends; the others where
// further images begin, from the index's TIFF header, and how long they are.
TEST(Segments, MpfIndexDeclaresTheImagesAndTheirSizes)
{
    Bytes t{'I', 'I', 0x2A, 0, 8, 0,  0, 0, 1, 0, 0x02, 0xB0, 7,
            0,   48,  0,    0, 0, 26, 0, 0, 0, 0, 0,    0,    0};
    for (auto [bytes, offset] : {std::pair{5000u, 0u}, {700u, 4990u}, {0u, 9000u}}) {
        for (std::uint32_t v : {0x030000u, bytes, offset, 0u})
            for (int i = 0; i < 4; ++i)
                t.push_back(std::uint8_t(v >> (8 * i)));
    }
    WalkState s;
    readMpf(s, t, 10);
    EXPECT_EQ(s.mpfEnd, 5000u);
    ASSERT_EQ(s.mpfImages, 1u); // the entry of size 0 declares nothing
    EXPECT_EQ(s.mpfStart[0], 5000u);
    EXPECT_EQ(s.mpfBytes[0], 700u);
}

} // namespace
} // namespace velo::jpeg
