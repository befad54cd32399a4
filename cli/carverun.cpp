#include "cli/carverun.h"

#include "scan/carver.h"

#include <optional>

namespace velo::cli
{

CarveTotals runCarve(ChunkReader& reader, FileSink& files, const std::atomic<bool>& stop,
                     const std::function<void(const CarveTotals&)>& chunkDone,
                     const RuleChoice& rule)
{
    CarveTotals totals;
    Carver carver(files);
    std::optional<jpeg::JpegCarver> jpegRule;
    if (rule.rule == Rule::Jpeg) {
        // The rule looks at the stop within a file's walk and search too: a card made to
        // keep one file's decision busy for long must not keep Ctrl-C waiting.
        jpeg::JpegRuleSettings settings = rule.jpeg;
        if (!settings.stopRequested)
            settings.stopRequested = [&stop] { return stop.load(); };
        jpegRule.emplace(*rule.blocks, files, settings);
    }

    while (const Chunk* chunk = reader.next()) {
        for (std::size_t i = 0; i < chunk->sectorCount(); ++i) {
            if (stop.load() || (jpegRule && jpegRule->stopped())) {
                totals.stopped = true;
                break;
            }
            ++totals.sectorsDone;
            if (!chunk->readable(i)) {
                ++totals.unreadableSectors;
                continue;
            }
            files.atSector(chunk->firstSector() + i);
            if (jpegRule)
                jpegRule->sector(chunk->firstSector() + i, chunk->sector(i));
            else
                carver.sector(chunk->sector(i));
        }
        files.flush(); // before the reader reuses the chunk's buffer
        static_cast<FileTotals&>(totals) = files.totals();
        if (chunkDone)
            chunkDone(totals);
        if (totals.stopped)
            break;
    }
    // A stop that comes after the last sector has nothing left to cut short.
    carver.finish(totals.stopped ? CloseReason::Stopped : CloseReason::EndOfScan);
    static_cast<FileTotals&>(totals) = files.totals();
    return totals;
}

} // namespace velo::cli
