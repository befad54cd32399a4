#include "scan/jpeg/huffman.h"
#include "tests/scan/jpeg/testphotos.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace velo::jpeg
{
namespace
{

using testing::Bytes;

// The AC tables of a photo's DHT segments.
std::vector<HuffmanTable> acTables(const Bytes& jpeg)
{
    std::vector<HuffmanTable> tables;
    for (std::size_t i = 2; i + 4 <= jpeg.size() && jpeg[i] == 0xFF && jpeg[i + 1] != 0xDA;) {
        const std::size_t end = i + 2 + std::size_t(jpeg[i + 2] << 8 | jpeg[i + 3]);
        for (std::size_t p = i + 4; jpeg[i + 1] == 0xC4 && p + 17 <= end;) {
            const std::span<const std::uint8_t, 16> counts(&jpeg[p + 1], 16);
            std::size_t symbols = 0;
            for (std::uint8_t c : counts)
                symbols += c;
            HuffmanTable t;
            EXPECT_TRUE(t.build(jpeg[p] >> 4, counts, {&jpeg[p + 17], symbols}));
            if (jpeg[p] >> 4 == 1)
                tables.push_back(t);
            p += 17 + symbols;
        }
        i = end;
    }
    return tables;
}

// A table whose codes run from 2 to 16 bits, with sizes up to 11 (more than a block of
// 8-bit samples may hold): the run look-up meets codes longer than its index, extra bits
// that reach past it and symbols it must leave to decode().
HuffmanTable longCodes()
{
    const std::uint8_t counts[16] = {0, 1, 1, 1, 0, 1, 0, 0, 0, 2, 0, 2, 0, 0, 0, 1};
    const std::uint8_t symbols[] = {0x00, 0x01, 0x0A, 0xF0, 0x37, 0x15, 0x22, 0x0B, 0x63};
    HuffmanTable t;
    EXPECT_TRUE(t.build(1, counts, symbols));
    return t;
}

// Every entry of the run look-up against the codes decode() finds one at a time in the
// same bits: whole coefficients, as many bits and positions as they take, their
// boundaries where the refills may fall, and the highest position from which every one
// of them stays in the block, found by trying each position.
TEST(HuffmanTable, RunLookupTakesWhatCodesOneByOneTake)
{
    std::vector<std::pair<std::string, HuffmanTable>> tables{{"long codes", longCodes()}};
    for (const HuffmanTable& t : acTables(testing::makePhoto({.quality = 95})))
        tables.push_back({"photo", t});
    std::mt19937_64 random(7);
    constexpr int kIndex = HuffmanTable::kRunBits;
    for (const auto& [what, t] : tables) {
        SCOPED_TRACE(what);
        int entries = 0;
        for (std::uint64_t prefix = 0; prefix < (1u << kIndex); ++prefix) {
            const std::uint32_t e = t.acLookup()[prefix];
            if (HuffmanTable::runHighest(e) == 0)
                continue;
            ++entries;
            const std::uint64_t bits = prefix << (64 - kIndex) | random() >> kIndex;
            int used = 0, codes = 0, moved = 0, before = 0, secondLast = 0;
            std::vector<std::uint8_t> run;
            while (used < HuffmanTable::runBits(e)) {
                std::uint8_t symbol = 0;
                const int len = t.decode(std::uint32_t((bits << used) >> 48), symbol);
                ASSERT_GT(len, 0) << prefix;
                EXPECT_LE(used + len, kIndex) << prefix; // every code lies in the index
                EXPECT_LE(symbol & 15, 10) << prefix;
                secondLast = before;
                before = used;
                used += len + (symbol & 15);
                // Only the last coefficient's extra bits may reach past the index.
                if (used > kIndex) {
                    EXPECT_EQ(used, HuffmanTable::runBits(e)) << prefix;
                }
                moved += symbol == 0x00 ? 64 : symbol == 0xF0 ? 16 : (symbol >> 4) + 1;
                run.push_back(symbol);
                ++codes;
            }
            EXPECT_EQ(used, HuffmanTable::runBits(e)) << prefix;
            EXPECT_EQ(moved, HuffmanTable::runAdvance(e)) << prefix;
            EXPECT_EQ(HuffmanTable::runAllButLastBits(e), codes > 1 ? before : 0) << prefix;
            const int first = codes > 2 ? secondLast : codes > 1 ? before : 0;
            EXPECT_EQ(HuffmanTable::runFirstBits(e), first) << prefix;
            auto staysInBlock = [&](int k) {
                for (std::uint8_t symbol : run) {
                    // The last position each may start from: an end of block before the
                    // block is full, sixteen zeros with a coefficient after them.
                    const int last = symbol == 0x00   ? 63
                                     : symbol == 0xF0 ? 63 - 16
                                                      : 63 - (symbol >> 4);
                    if (k > last)
                        return false;
                    k += symbol == 0x00 ? 64 : symbol == 0xF0 ? 16 : (symbol >> 4) + 1;
                }
                return true;
            };
            int highest = 63;
            while (highest > 0 && !staysInBlock(highest))
                --highest;
            EXPECT_EQ(HuffmanTable::runHighest(e), highest) << prefix;
        }
        EXPECT_GE(entries, 1 << (kIndex - 2));
    }
}

} // namespace
} // namespace velo::jpeg
