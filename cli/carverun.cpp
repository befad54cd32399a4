#include "cli/carverun.h"

#include "cli/stopflag.h"
#include "scan/carver.h"

namespace velo::cli
{

CarveTotals runCarve(ChunkReader& reader, FileSink& files,
                     const std::function<void(const CarveTotals&)>& chunkDone)
{
    CarveTotals totals;
    Carver carver(files);

    while (const Chunk* chunk = reader.next()) {
        for (std::size_t i = 0; i < chunk->sectorCount(); ++i) {
            if (stopFlag) {
                totals.stopped = true;
                break;
            }
            ++totals.sectorsDone;
            if (!chunk->readable(i)) {
                ++totals.unreadableSectors;
                continue;
            }
            files.atSector(chunk->firstSector() + i);
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
