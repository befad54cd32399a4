#pragma once

#include "scan/jpeg/sectorreader.h"

#include <cstdint>
#include <list>
#include <span>
#include <unordered_map>
#include <vector>

namespace velo::jpeg
{

// The card's bytes by offset, read in blocks and kept in a bounded cache. A sector that
// cannot be read, or that was not read because the source is gone, ends the bytes handed
// out before it; the ones after it are still there.
class CardBytes
{
public:
    static constexpr std::size_t kBlockBytes = 64 * 1024;

    CardBytes(SectorReader& reader, std::size_t cacheBytes);

    std::uint64_t sizeBytes() const { return sizeBytes_; }
    std::uint32_t sectorBytes() const { return sectorBytes_; }

    // The bytes from `offset` to the end of its block, or to the first unreadable sector.
    // Empty at the card's end or at an unreadable sector (unreadable() tells which). The
    // bytes stay valid until two blocks other than theirs have been read: the cache keeps
    // at least four blocks and drops the one used longest ago.
    std::span<const std::uint8_t> at(std::uint64_t offset);
    // Whether the sector holding `offset` was read and failed; false for one not read
    // because the source was given up on before.
    bool unreadable(std::uint64_t offset);
    bool sourceGone() const { return reader_.gone(); }

    // Whether the sector holding `offset` begins FF D8 FF (false when it cannot be read).
    bool startsJpeg(std::uint64_t sector);

private:
    struct Block {
        std::vector<std::uint8_t> bytes;
        std::vector<bool> unreadable; // per sector: the read failed
        std::size_t tried = 0;        // sectors read or failed; the rest were not read
        bool allReadable = true;
        std::list<std::uint64_t>::iterator age;
    };
    Block& block(std::uint64_t index);

    SectorReader& reader_;
    std::uint32_t sectorBytes_;
    std::uint64_t sizeBytes_;
    std::size_t sectorsPerBlock_;
    std::size_t maxBlocks_;
    std::unordered_map<std::uint64_t, Block> blocks_;
    std::list<std::uint64_t> lru_; // most recently used first
    // The block used last, found without a look-up: most reads follow on from the last.
    std::uint64_t lastIndex_ = 0;
    Block* last_ = nullptr;
};

} // namespace velo::jpeg
