#include "cli/progress.h"

#include <cmath>
#include <cstdio>

namespace velo::cli
{

namespace
{

std::string format(const char* fmt, auto... args)
{
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, fmt, args...);
    return buffer;
}

std::string duration(double seconds)
{
    const auto s = std::uint64_t(std::llround(std::max(0.0, seconds)));
    if (s >= 3600)
        return format("%llu:%02llu:%02llu", (unsigned long long)(s / 3600),
                      (unsigned long long)(s / 60 % 60), (unsigned long long)(s % 60));
    return format("%llu:%02llu", (unsigned long long)(s / 60), (unsigned long long)(s % 60));
}

const char* plural(std::uint64_t n, const char* one, const char* many)
{
    return n == 1 ? one : many;
}

} // namespace

std::string byteSize(std::uint64_t bytes)
{
    static constexpr const char* units[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    if (bytes < 1024)
        return format("%llu %s", (unsigned long long)bytes, plural(bytes, "byte", "bytes"));
    double value = double(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    return format("%.1f %s", value, units[unit]);
}

std::string progressLine(const CarveTotals& t, std::uint64_t sectorTotal, std::uint32_t sectorBytes,
                         double elapsed)
{
    const double percent =
        sectorTotal ? 100.0 * double(t.sectorsDone) / double(sectorTotal) : 100.0;
    const double bytesDone = double(t.sectorsDone) * sectorBytes;
    const double rate = elapsed > 0 ? bytesDone / elapsed : 0; // bytes per second
    std::string left = "--:--";
    if (rate > 0)
        left = duration(double(sectorTotal - t.sectorsDone) * sectorBytes / rate);
    return format("sector %llu of %llu  %5.1f%%  %7.1f MB/s  %s left  %llu %s",
                  (unsigned long long)t.sectorsDone, (unsigned long long)sectorTotal, percent,
                  rate / 1e6, left.c_str(), (unsigned long long)t.files,
                  plural(t.files, "file", "files"));
}

std::string summaryText(const CarveTotals& t, std::uint64_t sectorTotal, std::uint32_t sectorBytes,
                        double elapsed, bool dryRun, const std::string& verdicts)
{
    std::string s = format("%s %llu %s (%s) from %llu of %llu sectors of %u bytes in %.1f s.",
                           dryRun ? "Found" : "Carved", (unsigned long long)t.files,
                           plural(t.files, "file", "files"), byteSize(t.bytes).c_str(),
                           (unsigned long long)t.sectorsDone, (unsigned long long)sectorTotal,
                           sectorBytes, elapsed);
    if (!verdicts.empty())
        s += " By verdict: " + verdicts + ".";
    if (t.stopped)
        s += " Stopped before the end of the source.";
    s += t.unreadableSectors ? format(" %llu %s could not be read and %s left out.",
                                      (unsigned long long)t.unreadableSectors,
                                      plural(t.unreadableSectors, "sector", "sectors"),
                                      plural(t.unreadableSectors, "was", "were"))
                             : std::string(" No sector failed to read.");
    if (t.failedFiles)
        s += format(" %llu %s could not be written whole.", (unsigned long long)t.failedFiles,
                    plural(t.failedFiles, "file", "files"));
    if (t.noSpaceFiles)
        s += format(" %llu %s could not be created: the output is out of space or inodes.",
                    (unsigned long long)t.noSpaceFiles, plural(t.noSpaceFiles, "file", "files"));
    return s + "\n";
}

} // namespace velo::cli
