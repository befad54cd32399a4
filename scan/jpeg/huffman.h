#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace velo::jpeg
{

// One Huffman table of a DHT segment, ready for decoding: codes of up to 9 bits are
// found with one look-up, longer ones by their length.
class HuffmanTable
{
public:
    static constexpr int kFastBits = 9;

    // counts[i] codes of length i + 1, then their symbols in order. False when the counts
    // are impossible (more codes of a length than the code space leaves, or more than 256
    // symbols in all).
    bool build(std::span<const std::uint8_t, 16> counts, std::span<const std::uint8_t> symbols);

    // Decodes the code at the top of `bits` (the next 16 bits of the stream, first bit
    // highest). Returns the code's length, or 0 when no code of this table starts so;
    // the symbol goes to `symbol`.
    int decode(std::uint32_t bits16, std::uint8_t& symbol) const
    {
        const std::uint16_t e = fast_[bits16 >> (16 - kFastBits)];
        if (e != 0) {
            symbol = std::uint8_t(e);
            return e >> 8;
        }
        for (int len = kFastBits + 1; len <= 16; ++len) {
            const std::int32_t code = std::int32_t(bits16 >> (16 - len));
            if (code <= maxCode_[len]) {
                symbol = symbols_[std::size_t(valueIndex_[len] + code)];
                return len;
            }
        }
        return 0;
    }

    // For AC tables: what the next kAcBits bits hold when they hold a whole coefficient
    // (code and extra bits) or the end of the block: the bits it takes and how far it
    // moves the position in the block (64 for the end of the block, flagged). 0 for
    // everything else (longer codes, sixteen zeros, codes no block may hold), which
    // decode() handles.
    static constexpr int kAcBits = 11;
    static constexpr std::uint16_t kAcEndOfBlock = 1 << 12;
    std::uint16_t acEntry(std::uint64_t bitsHigh) const
    {
        return acFast_[bitsHigh >> (64 - kAcBits)];
    }
    static int bits(std::uint16_t e) { return e & 31; }
    static int advance(std::uint16_t e) { return (e >> 5) & 127; }

private:
    std::array<std::uint16_t, 1 << kAcBits> acFast_{};
    std::array<std::uint16_t, 1 << kFastBits> fast_{}; // length << 8 | symbol; 0: longer
    std::array<std::int32_t, 17> maxCode_{};           // -1: no code of this length
    std::array<std::int32_t, 17> valueIndex_{};        // symbol index minus first code
    std::array<std::uint8_t, 256> symbols_{};
};

} // namespace velo::jpeg
