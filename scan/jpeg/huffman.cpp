#include "scan/jpeg/huffman.h"

namespace velo::jpeg
{

bool HuffmanTable::build(std::span<const std::uint8_t, 16> counts,
                         std::span<const std::uint8_t> symbols)
{
    std::size_t total = 0;
    for (std::uint8_t c : counts)
        total += c;
    if (total > 256 || total != symbols.size())
        return false;
    fast_.fill(0);
    std::int32_t code = 0;
    std::size_t k = 0;
    for (int len = 1; len <= 16; ++len) {
        const int n = counts[std::size_t(len - 1)];
        valueIndex_[std::size_t(len)] = std::int32_t(k) - code;
        // Codes of this length must fit in it: at most 2^len of them.
        if (code + n > (1 << len))
            return false;
        for (int i = 0; i < n; ++i, ++code, ++k) {
            symbols_[k] = symbols[k];
            if (len <= kFastBits) {
                const int shift = kFastBits - len;
                for (int fill = 0; fill < (1 << shift); ++fill)
                    fast_[std::size_t((code << shift) | fill)] =
                        std::uint16_t((len << 8) | symbols[k]);
            }
        }
        maxCode_[std::size_t(len)] = n ? code - 1 : -1;
        code <<= 1;
    }
    // The AC look-up: every kAcBits-bit prefix whose code, and the coefficient's extra bits
    // after it, fit in those bits. Sizes above 10 stay with the slow path, which knows the
    // sample precision.
    for (std::uint32_t prefix = 0; prefix < (1u << kAcBits); ++prefix) {
        std::uint8_t symbol = 0;
        const int len = decode(prefix << (16 - kAcBits), symbol);
        std::uint16_t e = 0;
        if (len > 0 && len <= kAcBits) {
            const int run = symbol >> 4, size = symbol & 15;
            if (size == 0 && run == 0)
                e = std::uint16_t(kAcEndOfBlock | 64 << 5 | len);
            else if (size != 0 && size <= 10 && len + size <= kAcBits)
                e = std::uint16_t((run + 1) << 5 | (len + size));
        }
        acFast_[prefix] = e;
    }
    return true;
}

} // namespace velo::jpeg
