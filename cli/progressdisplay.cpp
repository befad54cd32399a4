#include "cli/progressdisplay.h"

#include "cli/progress.h"

#include <cstdio>

namespace velo::cli
{

ProgressDisplay::ProgressDisplay(bool enabled, std::uint64_t sectorTotal, std::uint32_t sectorBytes,
                                 Clock::time_point start)
    : enabled_(enabled), sectorTotal_(sectorTotal), sectorBytes_(sectorBytes), start_(start)
{
}

void ProgressDisplay::update(const CarveTotals& totals)
{
    if (!enabled_)
        return;
    const auto now = Clock::now();
    if (now - lastDrawn_ < std::chrono::milliseconds(250))
        return;
    lastDrawn_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const std::string line = progressLine(totals, sectorTotal_, sectorBytes_, seconds);
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressDisplay::clear()
{
    if (drawn_)
        std::fputs("\r\033[K", stderr);
}

void ProgressDisplay::say(const std::string& text)
{
    if (!enabled_)
        return;
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

} // namespace velo::cli
