#pragma once

#include "cli/carverun.h"

#include <cstdint>
#include <string>

namespace velo::cli
{

// The one-line progress display: position, percent, speed, time left, files so far.
std::string progressLine(const CarveTotals& totals, std::uint64_t sectorTotal,
                         std::uint32_t sectorBytes, double elapsedSeconds);

// The closing paragraph: files, bytes, unreadable sectors, files whose writes failed, and
// the files by verdict when the rule gave verdicts (VerdictTally::text; "" when not).
std::string summaryText(const CarveTotals& totals, std::uint64_t sectorTotal,
                        std::uint32_t sectorBytes, double elapsedSeconds, bool dryRun,
                        const std::string& verdicts = "");

// 1536 gives "1.5 KiB"; below 1 KiB, "N bytes".
std::string byteSize(std::uint64_t bytes);

} // namespace velo::cli
