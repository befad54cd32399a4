#include "scan/jpeg/bitreader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velo::jpeg
{
namespace
{

using Bytes = std::vector<std::uint8_t>;

// Hands out its chunks one by one, as a walk hands out the bytes up to a sector's end or
// a resume point, and notes where each was asked for.
class Chunks : public BitReader::Source
{
public:
    explicit Chunks(std::vector<Bytes> chunks) : chunks_(std::move(chunks)) {}
    std::span<const std::uint8_t> more(const BitReader& reader) override
    {
        askedAt.push_back(reader.pos());
        if (next_ == chunks_.size())
            return {};
        return chunks_[next_++];
    }
    bool stopped() const override { return false; }
    std::vector<std::uint64_t> askedAt;

private:
    std::vector<Bytes> chunks_;
    std::size_t next_ = 0;
};

struct FillCase {
    const char* name;
    std::vector<Bytes> chunks;
    int countBefore; // bits already in hand (all ones)
    std::uint64_t bits;
    int count;
    std::uint64_t pos;
    bool afterFF;
    std::uint8_t marker;
    std::uint64_t markerAt;
    std::vector<std::uint64_t> askedAt;
};

const FillCase kFills[] = {
    {"ToMoreThan56Bits",
     {{1, 2, 3, 4, 5, 6, 7, 8, 9}},
     0,
     0x0102030405060708,
     64,
     8,
     false,
     0,
     0,
     {0}},
    {"OneByteWhenFewBitsAreMissing",
     {{0xAB, 0xCD}},
     50,
     ~0ull << 14 | 0xAB << 6,
     58,
     1,
     false,
     0,
     0,
     {0}},
    {"StuffedFFIsADataByte",
     {{0x12, 0xFF, 0x00, 0x34}},
     0,
     0x12FF34ull << 40,
     24,
     4,
     false,
     0,
     0,
     {0, 4}},
    {"StuffingAcrossASectorEdge",
     {{0x12, 0xFF}, {0x00, 0x34}},
     0,
     0x12FF34ull << 40,
     24,
     4,
     false,
     0,
     0,
     {0, 2, 4}},
    {"DataEndsAfterFF", {{0x12, 0xFF}}, 0, 0x12ull << 56, 8, 2, true, 0, 0, {0, 2}},
    {"MarkerStopsTheBits", {{0xAB, 0xFF, 0xD9, 0x55}}, 0, 0xABull << 56, 8, 3, false, 0xD9, 1, {0}},
    {"FillBytesBeforeAMarker",
     {{0xAB, 0xFF, 0xFF, 0xFF, 0xD3, 0x55}},
     0,
     0xABull << 56,
     8,
     5,
     false,
     0xD3,
     3,
     {0}},
    {"MarkerAcrossASectorEdge",
     {{0xAB, 0xFF}, {0xD0, 0x55}},
     0,
     0xABull << 56,
     8,
     3,
     false,
     0xD0,
     1,
     {0, 2}},
};

class BitReaderFills : public ::testing::TestWithParam<FillCase>
{
};

TEST_P(BitReaderFills, ReadBitsUpToAMarker)
{
    const FillCase& c = GetParam();
    BitState before;
    before.count = c.countBefore;
    before.bits = c.countBefore ? ~0ull << (64 - c.countBefore) : 0;
    Chunks source(c.chunks);
    BitReader r(before, 0, nullptr, nullptr);
    r.fill(source);
    EXPECT_EQ(r.bits(), c.bits);
    EXPECT_EQ(r.count(), c.count);
    EXPECT_EQ(r.pos(), c.pos);
    EXPECT_EQ(r.state().afterFF, c.afterFF);
    EXPECT_EQ(r.state().marker, c.marker);
    if (c.marker) {
        EXPECT_EQ(r.state().markerAt, c.markerAt);
    }
    EXPECT_EQ(source.askedAt, c.askedAt);
}

INSTANTIATE_TEST_SUITE_P(Walker, BitReaderFills, ::testing::ValuesIn(kFills),
                         [](const auto& info) { return std::string(info.param.name); });

// Eight bytes at once only where byte-by-byte reading would see nothing but data bytes.
struct EightCase {
    const char* name;
    Bytes inHand;
    BitState state;
    bool taken;
};

const EightCase kEights[] = {
    {"EightDataBytes", {1, 2, 3, 4, 5, 6, 7, 8}, {}, true},
    {"AnFFAmongThem", {1, 2, 3, 4, 5, 6, 7, 0xFF}, {}, false},
    {"SevenInHand", {1, 2, 3, 4, 5, 6, 7}, {}, false},
    {"AnFFBefore", {1, 2, 3, 4, 5, 6, 7, 8}, {.afterFF = true}, false},
    {"AMarkerMet", {1, 2, 3, 4, 5, 6, 7, 8}, {.marker = 0xD0}, false},
};

class BitReaderEights : public ::testing::TestWithParam<EightCase>
{
};

TEST_P(BitReaderEights, TakeOnlyPlainBytes)
{
    const EightCase& c = GetParam();
    BitState state = c.state;
    state.bits = 0xA5ull << 56;
    state.count = 8;
    BitReader r(state, 100, c.inHand.data(), c.inHand.data() + c.inHand.size());
    std::uint64_t next8 = 0;
    ASSERT_EQ(r.eightPlainBytes(next8), c.taken);
    if (!c.taken)
        return;
    r.take(next8, 3);
    EXPECT_EQ(r.bits(), 0xA5010203ull << 32);
    EXPECT_EQ(r.count(), 32);
    EXPECT_EQ(r.pos(), 103u);
    EXPECT_EQ(r.next(), c.inHand.data() + 3);
}

INSTANTIATE_TEST_SUITE_P(Walker, BitReaderEights, ::testing::ValuesIn(kEights),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velo::jpeg
