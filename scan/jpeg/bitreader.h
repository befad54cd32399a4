#pragma once

#include <cstdint>
#include <cstring>
#include <span>

namespace velo::jpeg
{

// The bits of a scan's entropy-coded data read ahead of the decoding, and what the last
// bytes read said: all a walk keeps of its bit reader between two steps.
struct BitState {
    std::uint64_t bits = 0;     // unread bits, the first one highest; the rest zero
    int count = 0;              // how many of them there are, 0 to 64
    bool afterFF = false;       // the last byte read was FF: the next one says what it meant
    std::uint8_t marker = 0;    // a marker the data ran into, 0 while none
    std::uint64_t markerAt = 0; // logical offset of its FF
};

// Reads the entropy-coded data of a scan as bits: FF 00 stands for a data byte FF, fill
// bytes (FF FF) are dropped, and any other byte after FF is a marker, which ends the data:
// no bit is read past it. Bytes are taken from those in hand, then from a Source.
//
// A value type with inline accessors, so that a decoder can keep one in registers;
// fill() is the slow path, byte by byte.
class BitReader
{
public:
    // Where the bytes come from once those in hand are used up.
    class Source
    {
    public:
        // The bytes from reader.pos() on, at least one; empty when the data ends there, or
        // when the source breaks the walk off there (then stopped() says so). `reader`
        // holds its whole state as it was before those bytes, for a resume point to keep.
        virtual std::span<const std::uint8_t> more(const BitReader& reader) = 0;
        virtual bool stopped() const = 0;

    protected:
        ~Source() = default;
    };

    // `pos`: the logical offset of the bytes in hand [next, end).
    BitReader(const BitState& state, std::uint64_t pos, const std::uint8_t* next,
              const std::uint8_t* end)
        : s_(state), pos_(pos), next_(next), end_(end)
    {
    }

    const BitState& state() const { return s_; }
    std::uint64_t pos() const { return pos_; } // logical offset of the next byte to read
    const std::uint8_t* next() const { return next_; }
    const std::uint8_t* end() const { return end_; }

    std::uint64_t bits() const { return s_.bits; }
    int count() const { return s_.count; }
    // Drops the first n bits (n <= count()).
    void skip(int n)
    {
        s_.bits <<= n;
        s_.count -= n;
    }
    // After a restart marker: the data starts again on a byte of its own.
    void restart()
    {
        s_.bits = 0;
        s_.count = 0;
        s_.marker = 0;
    }

    // Whether the next eight bytes are in hand, none of them FF, and no FF or marker
    // pending: then `next8` holds them, the first one highest, for take().
    bool eightPlainBytes(std::uint64_t& next8) const
    {
        if (end_ - next_ < 8 || s_.marker || s_.afterFF)
            return false;
        std::memcpy(&next8, next_, 8);
        // Some byte is FF exactly when some byte of ~next8 is zero.
        if ((~next8 - 0x0101010101010101ull) & next8 & 0x8080808080808080ull)
            return false;
        next8 = __builtin_bswap64(next8);
        return true;
    }
    // Takes the first `bytes` of the eight eightPlainBytes() gave; count() + 8 * bytes must
    // be 64 at most.
    void take(std::uint64_t next8, int bytes)
    {
        s_.bits |= (next8 >> s_.count) & ~((~0ull >> 1) >> (s_.count + 8 * bytes - 1));
        s_.count += 8 * bytes;
        next_ += bytes;
        pos_ += std::uint64_t(bytes);
    }

    // Byte by byte to more than 56 bits, unless a marker or the end of the source's bytes
    // comes first.
    void fill(Source& source);

private:
    BitState s_;
    std::uint64_t pos_;
    const std::uint8_t* next_;
    const std::uint8_t* end_;
};

} // namespace velo::jpeg
