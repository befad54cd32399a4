#pragma once

#include "cli/chunkreader.h"
#include "scan/jpeg/cardreader.h"

namespace velo::cli
{

// The card's sectors by number, for the JPEG rule's reading ahead, through the same reads
// as the pass. A read that fails is taken up again one sector at a time through sectorAt
// (readAt when none is given), as ChunkReader does, so that only the bad sector is lost.
class ReadAtSectors : public jpeg::SectorReader
{
public:
    ReadAtSectors(ReadAt readAt, std::uint32_t sectorBytes, std::uint64_t sectorCount,
                  ReadAt sectorAt = {})
        : readAt_(std::move(readAt)), sectorAt_(sectorAt ? std::move(sectorAt) : readAt_),
          sectorBytes_(sectorBytes), sectorCount_(sectorCount)
    {
    }
    std::uint32_t sectorBytes() const override { return sectorBytes_; }
    std::uint64_t sectorCount() const override { return sectorCount_; }
    std::size_t read(std::uint64_t first, std::size_t count, std::uint8_t* into) override;

private:
    static bool readWhole(const ReadAt& readAt, std::uint8_t* into, std::size_t bytes,
                          std::uint64_t offset);

    ReadAt readAt_;
    ReadAt sectorAt_;
    std::uint32_t sectorBytes_;
    std::uint64_t sectorCount_;
};

} // namespace velo::cli
