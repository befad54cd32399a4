#include "cli/carverun.h"

#include "cli/stopflag.h"
#include "scan/carver.h"
#include "scan/outputname.h"

#include <memory>

namespace velo::cli
{

namespace
{

// Carved bytes into files, with a record of each file for the report. Consecutive spans
// that lie side by side in the chunk buffer are handed to the file as one, so a photo
// costs a few large writes instead of one per sector.
class FileEvents : public CarveEvents
{
public:
    FileEvents(const CarveSettings& settings, const CarveHooks& hooks, CarveTotals& totals)
        : settings_(settings), hooks_(hooks), totals_(totals)
    {
    }

    void setSector(std::uint64_t sector) { sector_ = sector; }

    void openFile(std::uint64_t fileNumber) override
    {
        current_ = CarvedFile{};
        current_.name = outputFileName("", fileNumber);
        current_.firstSector = sector_;
        if (settings_.dryRun) {
            current_.outcome = FileOutcome::DryRun;
            return;
        }
        CreateFailure failure = CreateFailure::Other;
        if (settings_.folder)
            file_ = settings_.folder->createFile(current_.name, settings_.ifNameTaken, failure);
        current_.outcome = file_ ? FileOutcome::Written : FileOutcome::NotCreated;
        if (failure == CreateFailure::NoSpace && ++totals_.noSpaceFiles == 1 && hooks_.outOfSpace)
            hooks_.outOfSpace();
    }

    void append(std::span<const std::uint8_t> bytes) override
    {
        current_.length += bytes.size();
        if (!file_ || current_.outcome != FileOutcome::Written)
            return;
        if (!pending_.empty() && pending_.data() + pending_.size() == bytes.data()) {
            pending_ = {pending_.data(), pending_.size() + bytes.size()};
            return;
        }
        flush();
        pending_ = bytes;
    }

    void closeFile(CloseReason reason) override
    {
        flush();
        if (file_) {
            file_->close();
            if (current_.outcome == FileOutcome::Written && hooks_.closeFailed &&
                hooks_.closeFailed(*file_))
                current_.outcome = FileOutcome::WriteFailed;
            file_.reset();
        }
        current_.reason = reason;
        ++totals_.files;
        totals_.bytes += current_.length;
        if (current_.outcome == FileOutcome::WriteFailed ||
            current_.outcome == FileOutcome::NotCreated)
            ++totals_.failedFiles;
        if (hooks_.fileClosed)
            hooks_.fileClosed(current_);
    }

    // Must run before the chunk buffer is reused.
    void flush()
    {
        if (!pending_.empty() && file_ && current_.outcome == FileOutcome::Written &&
            !file_->write(pending_))
            current_.outcome = FileOutcome::WriteFailed;
        pending_ = {};
    }

private:
    const CarveSettings& settings_;
    const CarveHooks& hooks_;
    CarveTotals& totals_;
    std::uint64_t sector_ = 0;
    CarvedFile current_;
    std::unique_ptr<OutputFile> file_;
    std::span<const std::uint8_t> pending_;
};

} // namespace

CarveTotals runCarve(ChunkReader& reader, const CarveSettings& settings, const CarveHooks& hooks)
{
    CarveTotals totals;
    FileEvents events(settings, hooks, totals);
    Carver carver(events);

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
            events.setSector(chunk->firstSector() + i);
            carver.sector(chunk->sector(i));
        }
        events.flush();
        if (hooks.chunkDone)
            hooks.chunkDone(totals);
        if (totals.stopped)
            break;
    }
    // A stop that comes after the last sector has nothing left to cut short.
    carver.finish(totals.stopped ? CloseReason::Stopped : CloseReason::EndOfScan);
    return totals;
}

} // namespace velo::cli
