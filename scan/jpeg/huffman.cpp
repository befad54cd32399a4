#include "scan/jpeg/huffman.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace velo::jpeg
{

namespace
{

// The tables built last, by their bytes. Cameras write the same tables into every photo,
// so most files find theirs here. One store for every thread that walks: built look-ups
// are never changed. (Not one store per thread: in the mingw-w64 build, thread_local
// objects with destructors corrupted the heap when the walking threads were joined.)
struct Built {
    std::uint8_t tableClass = 0;
    std::array<std::uint8_t, 16> counts{};
    std::vector<std::uint8_t> symbols;
    std::shared_ptr<const void> lookups;
};
constexpr std::size_t kBuiltKept = 32;
struct BuiltTables {
    std::mutex mutex;
    std::array<Built, kBuiltKept> kept;
    std::size_t next = 0;
};
BuiltTables& builtTables()
{
    static BuiltTables tables;
    return tables;
}

} // namespace

HuffmanTable::HuffmanTable()
{
    // No codes at all: decode() finds none.
    static const std::shared_ptr<const Lookups> none = [] {
        auto t = std::make_shared<Lookups>();
        t->maxCode.fill(-1);
        t->dc.resize(1 << kDcBits);
        t->ac.resize(1 << kRunBits);
        t->first.resize(1 << kFirstBits);
        return t;
    }();
    t_ = none;
}

bool HuffmanTable::build(std::uint8_t tableClass, std::span<const std::uint8_t, 16> counts,
                         std::span<const std::uint8_t> symbols)
{
    BuiltTables& built = builtTables();
    {
        const std::lock_guard lock(built.mutex);
        for (const Built& b : built.kept)
            if (b.lookups && b.tableClass == tableClass &&
                std::equal(counts.begin(), counts.end(), b.counts.begin()) &&
                std::equal(symbols.begin(), symbols.end(), b.symbols.begin(), b.symbols.end())) {
                t_ = std::static_pointer_cast<const Lookups>(b.lookups);
                return true;
            }
    }
    auto t = make(tableClass, counts, symbols);
    if (!t)
        return false;
    const std::lock_guard lock(built.mutex);
    Built& b = built.kept[built.next++ % kBuiltKept];
    b.tableClass = tableClass;
    std::copy(counts.begin(), counts.end(), b.counts.begin());
    b.symbols.assign(symbols.begin(), symbols.end());
    b.lookups = t;
    t_ = std::move(t);
    return true;
}

bool HuffmanTable::countsFit(std::span<const std::uint8_t, 16> counts)
{
    std::int32_t code = 0;
    std::size_t total = 0;
    for (int len = 1; len <= 16; ++len) {
        const int n = counts[std::size_t(len - 1)];
        total += std::size_t(n);
        if (code + n > (1 << len))
            return false;
        code = (code + n) << 1;
    }
    return total <= 256;
}

std::shared_ptr<const HuffmanTable::Lookups>
HuffmanTable::make(std::uint8_t tableClass, std::span<const std::uint8_t, 16> counts,
                   std::span<const std::uint8_t> symbols)
{
    std::size_t total = 0;
    for (std::uint8_t c : counts)
        total += c;
    if (total > 256 || total != symbols.size())
        return nullptr;
    auto t = std::make_shared<Lookups>();
    std::int32_t code = 0;
    std::size_t k = 0;
    for (int len = 1; len <= 16; ++len) {
        const int n = counts[std::size_t(len - 1)];
        t->valueIndex[std::size_t(len)] = std::int32_t(k) - code;
        // Codes of this length must fit in it: at most 2^len of them.
        if (code + n > (1 << len))
            return nullptr;
        for (int i = 0; i < n; ++i, ++code, ++k) {
            t->symbols[k] = symbols[k];
            if (len <= kFastBits) {
                const int shift = kFastBits - len;
                for (int fill = 0; fill < (1 << shift); ++fill)
                    t->fast[std::size_t((code << shift) | fill)] =
                        std::uint16_t((len << 8) | symbols[k]);
            }
        }
        t->maxCode[std::size_t(len)] = n ? code - 1 : -1;
        code <<= 1;
    }

    if (tableClass == 0) {
        t->dc.resize(1 << kDcBits);
        // Every kDcBits-bit prefix that holds a code and its extra bits.
        for (std::uint32_t prefix = 0; prefix < (1u << kDcBits); ++prefix) {
            std::uint8_t size = 0;
            const int len = t->decode(prefix << (16 - kDcBits), size);
            // Sizes above 10 are left to decode(): the difference must fit the entry.
            if (len == 0 || len + size > kDcBits || size > 10)
                continue;
            std::int32_t diff = 0;
            if (size) {
                const std::int32_t raw =
                    std::int32_t(prefix >> (kDcBits - len - size)) & ((1 << size) - 1);
                diff = raw < (1 << (size - 1)) ? raw - (1 << size) + 1 : raw;
            }
            t->dc[prefix] = std::int16_t(diff * 32 + len + size);
        }
        return t;
    }

    t->first.resize(1 << kFirstBits);
    for (std::uint32_t prefix = 0; prefix < (1u << kFirstBits); ++prefix) {
        std::uint8_t symbol = 0;
        const int len = t->decode(prefix << (16 - kFirstBits), symbol);
        const int run = symbol >> 4, size = symbol & 15;
        if (len == 0)
            continue;
        if (symbol == 0x00)
            t->first[prefix] = std::uint16_t(kFirstEndOfBlock | 64 << 5 | len);
        else if (size != 0 && size <= 10 && len + size <= kFirstBits)
            t->first[prefix] = std::uint16_t((run + 1) << 5 | (len + size));
    }

    // Every kRunBits-bit prefix: the coefficients it holds whole, one after another, as
    // long as the run could lie in one block, up to an end of block.
    t->ac.resize(1 << kRunBits);
    constexpr std::uint32_t mask = (1u << kRunBits) - 1;
    for (std::uint32_t prefix = 0; prefix < (1u << kRunBits); ++prefix) {
        int taken = 0, advance = 0, highest = 64, firstBits = 0, allButLast = 0, count = 0;
        while (count < kRunMost) {
            const int left = kRunBits - taken;
            std::uint8_t symbol = 0;
            const int len = t->decode(((prefix << taken) & mask) << (16 - kRunBits), symbol);
            if (len == 0 || len > left)
                break;
            const int run = symbol >> 4, size = symbol & 15;
            int moved = 0, limit = 0;
            if (symbol == 0x00) { // the end of the block: the block must not be full yet
                moved = advance + 64;
                limit = 63 - advance;
            } else if (symbol == 0xF0) { // sixteen zeros: a coefficient must follow
                moved = advance + 16;
                limit = 63 - moved;
            } else if (size != 0 && size <= 10) {
                moved = advance + run + 1;
                limit = 64 - moved;
            } else {
                break;
            }
            if (std::min(highest, limit) < 1)
                break;
            highest = std::min(highest, limit);
            allButLast = taken;
            advance = moved;
            taken += len + size;
            if (++count == 2)
                firstBits = allButLast;
            // A coefficient whose code is here but not all its extra bits ends the run:
            // its extra bits are skipped unseen.
            if (symbol == 0x00 || taken > kRunBits)
                break;
        }
        if (count)
            t->ac[prefix] = std::uint32_t(taken | advance << 8 | firstBits << 16 |
                                          allButLast << 20 | highest << 24);
    }
    return t;
}

} // namespace velo::jpeg
