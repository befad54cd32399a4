#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace velo::jpeg
{

// One Huffman table of a DHT segment, ready for decoding: codes of up to 9 bits are
// found with one look-up, longer ones by their length. A DC table also finds a code with
// the difference its extra bits give in one look-up, an AC table a run of whole
// coefficients. The look-ups are built once and shared by copies of the table; a thread
// keeps the few it built last, since the files of one camera repeat the same tables.
class HuffmanTable
{
public:
    static constexpr int kFastBits = 9;
    // The memory one built table's look-ups take, at most.
    static constexpr std::size_t kBuiltBytes = std::size_t(16) << 10;

    HuffmanTable();

    // Whether a table of these code counts (counts[i] codes of length i + 1) can be: no
    // more codes of a length than the code space leaves, at most 256 in all.
    static bool countsFit(std::span<const std::uint8_t, 16> counts);

    // tableClass 0 for DC, 1 for AC; counts[i] codes of length i + 1, then their symbols
    // in order. False when the counts are impossible (more codes of a length than the code
    // space leaves, or more than 256 symbols in all).
    bool build(std::uint8_t tableClass, std::span<const std::uint8_t, 16> counts,
               std::span<const std::uint8_t> symbols);

    // Decodes the code at the top of `bits` (the next 16 bits of the stream, first bit
    // highest). Returns the code's length, or 0 when no code of this table starts so;
    // the symbol goes to `symbol`.
    int decode(std::uint32_t bits16, std::uint8_t& symbol) const
    {
        return t_->decode(bits16, symbol);
    }

    // For DC tables, indexed by the next kDcBits bits: when they hold a whole code and its
    // extra bits, the bits taken (1 to kDcBits) and the difference, as
    // difference << 5 | bits. 0 for everything else (longer codes and extra bits, sizes
    // above 10), which decode() handles.
    static constexpr int kDcBits = 12;
    const std::int16_t* dcLookup() const { return t_->dc.data(); }
    static int dcBits(std::int16_t e) { return e & 31; }
    static std::int32_t dcDifference(std::int16_t e) { return e >> 5; }

    // For AC tables, indexed by the next kRunBits bits: the whole coefficients (codes and
    // extra bits) they hold, one to three, up to and including an end of block; the last
    // one's extra bits may reach past the kRunBits (they are skipped, never read: a check
    // of the data needs no AC value). An entry holds the bits taken, how far the
    // position in the block moves (64 more for an end of block), the highest position in the block
    // from which every coefficient of the run stays in the block (and an end of block in it comes
    // before the block is full), and the bits its first coefficient takes and those all but its
    // last take (0 for a single coefficient): where the bits at hand drop below 32 between two of
    // them, the caller refills there. Sizes above 10 and codes no block may hold are left to
    // decode(): their entries have a highest position of 0.
    static constexpr int kRunBits = 11;
    static constexpr int kRunMost = 3;
    const std::uint32_t* acLookup() const { return t_->ac.data(); }
    static int runBits(std::uint32_t e) { return int(e & 0xFF); }
    static int runAdvance(std::uint32_t e) { return int(e >> 8 & 0xFF); }
    static int runFirstBits(std::uint32_t e) { return int(e >> 16 & 0xF); }
    static int runAllButLastBits(std::uint32_t e) { return int(e >> 20 & 0xF); }
    static int runHighest(std::uint32_t e) { return int(e >> 24); }

    // For AC tables, indexed by the next kFirstBits bits: the next coefficient alone, when
    // its code and extra bits are there whole, or the end of the block (flagged): the bits
    // it takes and how far it moves the position in the block (64 for the end of the
    // block). 0 for everything else, which decode() handles.
    static constexpr int kFirstBits = 10;
    static constexpr std::uint16_t kFirstEndOfBlock = 1 << 12;
    const std::uint16_t* acFirstLookup() const { return t_->first.data(); }
    static int firstBits(std::uint16_t e) { return e & 31; }
    static int firstAdvance(std::uint16_t e) { return (e >> 5) & 127; }

private:
    struct Lookups {
        std::array<std::uint16_t, 1 << kFastBits> fast{}; // length << 8 | symbol; 0: longer
        std::array<std::int32_t, 17> maxCode{};           // -1: no code of this length
        std::array<std::int32_t, 17> valueIndex{};        // symbol index minus first code
        std::array<std::uint8_t, 256> symbols{};
        // Those of the table's class only (all three, zero, for a table with no codes).
        std::vector<std::int16_t> dc;
        std::vector<std::uint32_t> ac;
        std::vector<std::uint16_t> first;

        int decode(std::uint32_t bits16, std::uint8_t& symbol) const
        {
            const std::uint16_t e = fast[bits16 >> (16 - kFastBits)];
            if (e != 0) {
                symbol = std::uint8_t(e);
                return e >> 8;
            }
            for (int len = kFastBits + 1; len <= 16; ++len) {
                const std::int32_t code = std::int32_t(bits16 >> (16 - len));
                if (code <= maxCode[std::size_t(len)]) {
                    symbol = symbols[std::size_t(valueIndex[std::size_t(len)] + code)];
                    return len;
                }
            }
            return 0;
        }
    };
    static std::shared_ptr<const Lookups> make(std::uint8_t tableClass,
                                               std::span<const std::uint8_t, 16> counts,
                                               std::span<const std::uint8_t> symbols);

    std::shared_ptr<const Lookups> t_;
};

} // namespace velo::jpeg
