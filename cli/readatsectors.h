#pragma once

#include "cli/sourcereads.h"
#include "scan/jpeg/sectorreader.h"

#include <memory>

namespace velo::cli
{

// The card's sectors by number, for the JPEG rule's reading ahead, through the run's
// SourceReads: the same reads, the same handling of bad sectors and the same give-up as
// the pass.
class ReadAtSectors : public jpeg::SectorReader
{
public:
    ReadAtSectors(std::shared_ptr<SourceReads> reads, std::uint64_t sectorCount)
        : reads_(std::move(reads)), sectorCount_(sectorCount)
    {
    }
    std::uint32_t sectorBytes() const override { return reads_->sectorBytes(); }
    std::uint64_t sectorCount() const override { return sectorCount_; }
    std::size_t read(std::uint64_t first, std::size_t count, std::uint8_t* into) override;
    std::size_t readMarking(std::uint64_t first, std::size_t count, std::uint8_t* into,
                            std::vector<bool>& unreadable) override;
    bool gone() const override { return reads_->gone(); }

private:
    std::shared_ptr<SourceReads> reads_;
    std::uint64_t sectorCount_;
};

} // namespace velo::cli
