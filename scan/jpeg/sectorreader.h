#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velo::jpeg
{

// Random access to the sectors of a card, read-only.
class SectorReader
{
public:
    virtual ~SectorReader() = default;
    virtual std::uint32_t sectorBytes() const = 0;
    virtual std::uint64_t sectorCount() const = 0;
    // Reads `count` sectors from `first` on into `into` (count * sectorBytes() bytes) and
    // returns how many of them, from `first` on, were read whole. Fewer than `count` means
    // the sector after them could not be read; the bytes from there on are meaningless.
    virtual std::size_t read(std::uint64_t first, std::size_t count, std::uint8_t* into) = 0;
    // Reads `count` sectors from `first` on into `into` and sets unreadable[i] (count
    // entries, false on entry) for each sector that could not be read. Returns how many
    // sectors were tried: fewer than `count` only once the source is gone(), and the bytes
    // of those not tried are meaningless. Unless overridden, read() again after each
    // sector that fails.
    virtual std::size_t readMarking(std::uint64_t first, std::size_t count, std::uint8_t* into,
                                    std::vector<bool>& unreadable);
    // Whether the source has been given up on: no read touches it any more.
    virtual bool gone() const { return false; }
};

} // namespace velo::jpeg
