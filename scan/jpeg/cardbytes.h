#pragma once

#include "scan/jpeg/sharedblocks.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace velo::jpeg
{

// The card's bytes by offset, as one thread sees them: a view over the run's shared
// blocks, which reads nothing itself and keeps the few blocks it used last. A sector that
// cannot be read, or that was not read because the source is gone, ends the bytes handed
// out before it; the ones after it are still there. One view per thread.
class CardBytes
{
public:
    static constexpr std::size_t kBlockBytes = SharedBlocks::kBlockBytes;

    explicit CardBytes(SharedBlocks& blocks);

    std::uint64_t sizeBytes() const { return sizeBytes_; }
    std::uint32_t sectorBytes() const { return sectorBytes_; }

    // The bytes from `offset` to the end of its block, or to the first unreadable sector.
    // Empty at the card's end or at an unreadable sector (unreadable() tells which). The
    // bytes stay valid until two blocks other than theirs have been used: the view holds
    // the four blocks it used last.
    std::span<const std::uint8_t> at(std::uint64_t offset);
    // Whether the sector holding `offset` was read and failed; false for one not read
    // because the source was given up on before.
    bool unreadable(std::uint64_t offset);
    bool sourceGone() const { return blocks_.sourceGone(); }

    // Whether the sector holding `offset` begins FF D8 FF (false when it cannot be read).
    bool startsJpeg(std::uint64_t sector);

private:
    using Block = SharedBlocks::Block;
    const Block& block(std::uint64_t index);

    SharedBlocks& blocks_;
    std::uint32_t sectorBytes_;
    std::uint64_t sizeBytes_;
    std::size_t sectorsPerBlock_;
    // The blocks used last, the last one first: most reads follow on from the last.
    std::array<std::uint64_t, 4> heldIndex_{};
    std::array<std::shared_ptr<const Block>, 4> held_;
};

} // namespace velo::jpeg
