#pragma once

#include "cli/carverun.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace velo::cli
{

// Redraws velo-carve's progress line in place on standard error, a few times a second.
class ProgressDisplay
{
public:
    using Clock = std::chrono::steady_clock;

    ProgressDisplay(bool enabled, std::uint64_t sectorTotal, std::uint32_t sectorBytes,
                    Clock::time_point start);

    void update(const CarveTotals& totals);
    // Wipes the line, once anything was drawn.
    void clear();
    // A line in place of the progress line, for a step after the carve, until clear().
    void say(const std::string& text);

private:
    bool enabled_;
    std::uint64_t sectorTotal_;
    std::uint32_t sectorBytes_;
    Clock::time_point start_;
    Clock::time_point lastDrawn_{};
    bool drawn_ = false;
};

} // namespace velo::cli
