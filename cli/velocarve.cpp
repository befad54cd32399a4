#include "cli/velocarve.h"

#include "cli/cardreader.h"
#include "cli/carverun.h"
#include "cli/chunkreader.h"
#include "cli/options.h"
#include "cli/outdir.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/source.h"
#include "scan/stopflag.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace velo::cli
{

namespace
{

using Clock = std::chrono::steady_clock;

int usageError(const std::string& message)
{
    std::fprintf(stderr, "velo-carve: %s\n", message.c_str());
    return kExitUsage;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Redraws the progress line in place, a few times a second.
class ProgressDisplay
{
public:
    ProgressDisplay(bool enabled, std::uint64_t sectorTotal, std::uint32_t sectorSize,
                    Clock::time_point start)
        : enabled_(enabled), sectorTotal_(sectorTotal), sectorSize_(sectorSize), start_(start)
    {
    }

    void update(const CarveTotals& totals)
    {
        if (!enabled_)
            return;
        const auto now = Clock::now();
        if (now - lastDrawn_ < std::chrono::milliseconds(250))
            return;
        lastDrawn_ = now;
        const std::string line =
            progressLine(totals, sectorTotal_, sectorSize_, secondsSince(start_));
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        std::fflush(stderr);
        drawn_ = true;
    }

    void clear()
    {
        if (drawn_)
            std::fputs("\r\033[K", stderr);
    }

private:
    bool enabled_;
    std::uint64_t sectorTotal_;
    std::uint32_t sectorSize_;
    Clock::time_point start_;
    Clock::time_point lastDrawn_{};
    bool drawn_ = false;
};

void onStopSignal(int)
{
    stopFlag = 1;
}

} // namespace

void installStopHandlers()
{
    struct sigaction action {
    };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int runVeloCarve(std::span<const std::string> args, Platform& platform,
                 std::function<bool(OutputFile&)> closeFailed)
{
    const ParseResult parsed = parseOptions(args);
    switch (parsed.outcome) {
    case ParseOutcome::Help:
        std::fputs(usageText().c_str(), stdout);
        return kExitDone;
    case ParseOutcome::Version:
        std::fputs(versionText().c_str(), stdout);
        return kExitDone;
    case ParseOutcome::Error:
        return usageError(parsed.error);
    case ParseOutcome::Run:
        break;
    }
    const Options& o = parsed.options;

    // Every check comes before the first thing is written.
    Source source = openSource(o.source);
    if (source.fd < 0)
        return usageError(source.error);
    struct CloseSource {
        int fd;
        ~CloseSource() { ::close(fd); }
    } closeSource{source.fd};

    const std::uint32_t sectorSize = o.sectorSize.value_or(source.logicalSectorSize);
    const std::uint64_t wholeSectors = source.sizeBytes / sectorSize;
    if (o.sectors && *o.sectors > wholeSectors)
        return usageError("--sectors " + std::to_string(*o.sectors) + " is more than the " +
                          std::to_string(wholeSectors) + " whole sectors of " + o.source);
    const std::uint64_t sectorTotal = o.sectors.value_or(wholeSectors);
    if (o.clusterBytes && *o.clusterBytes % sectorSize != 0)
        return usageError("--cluster-size " + std::to_string(*o.clusterBytes) +
                          " is not a multiple of the sector size " + std::to_string(sectorSize));

    if (const std::string problem = outdirProblem(o.outdir); !problem.empty())
        return usageError(problem);
    if (!o.dryRun && !o.overwrite && holdsEarlierRun(o.outdir))
        return usageError(o.outdir + " already holds DD*.JPG files from an earlier run; "
                                     "give --overwrite to replace them");
    if (!o.dryRun) {
        if (const std::string problem = createFolders(o.outdir); !problem.empty())
            return usageError(problem);
    }

    std::FILE* reportStream = nullptr;
    if (o.reportPath) {
        reportStream = *o.reportPath == "-" ? stdout : std::fopen(o.reportPath->c_str(), "w");
        if (!reportStream)
            return usageError("cannot write " + *o.reportPath + ": " + std::strerror(errno));
    }
    std::optional<ReportWriter> report;
    if (reportStream)
        report.emplace(reportStream, o.rule == Rule::Jpeg);

    if (!o.dryRun && source.blockDevice && writesToDevice(o.outdir, source.device))
        std::fprintf(stderr,
                     "velo-carve: warning: %s lies on %s, the device being read; writing there "
                     "can overwrite the free space that holds the lost photos\n",
                     o.outdir.c_str(), o.source.c_str());

    const auto start = Clock::now();
    ProgressDisplay progress(!o.quiet && ::isatty(STDERR_FILENO), sectorTotal, sectorSize, start);
    CarveHooks hooks;
    hooks.closeFailed = std::move(closeFailed);
    hooks.chunkDone = [&](const CarveTotals& t) { progress.update(t); };
    if (report)
        hooks.fileClosed = [&](const CarvedFile& f) { report->add(f); };

    CarveSettings settings;
    settings.outdir = o.outdir.ends_with('/') ? o.outdir : o.outdir + '/';
    settings.dryRun = o.dryRun;
    ReadAtSectors card(preadFrom(source.fd), sectorSize, sectorTotal);
    if (o.rule == Rule::Jpeg) {
        settings.jpegCard = &card;
        settings.jpeg.clusterBytes = o.clusterBytes.value_or(0);
        if (o.gapWindowMiB)
            settings.jpeg.gapWindowBytes = *o.gapWindowMiB << 20;
    }
    ChunkReader reader(preadFrom(source.fd), sectorSize, sectorTotal);
    const CarveTotals totals = runCarve(reader, platform, settings, hooks);
    progress.clear();

    bool reportOk = true;
    if (report) {
        reportOk = report->finish();
        if (reportStream != stdout && std::fclose(reportStream) != 0)
            reportOk = false;
        if (!reportOk)
            std::fprintf(stderr, "velo-carve: the report %s could not be written whole\n",
                         o.reportPath->c_str());
    }
    if (!o.quiet)
        std::fputs(
            summaryText(totals, sectorTotal, sectorSize, secondsSince(start), o.dryRun).c_str(),
            stderr);

    if (totals.stopped)
        return kExitStopped;
    if (totals.unreadableSectors || totals.failedFiles || !reportOk)
        return kExitIncomplete;
    return kExitDone;
}

} // namespace velo::cli
