#pragma once

#include "cli/chunkreader.h"
#include "platform/platform.h"
#include "scan/filesink.h"

#include <cstdint>
#include <functional>

namespace velo::cli
{

struct CarveSettings {
    OutputFolder* folder = nullptr; // where files are made; unused in a dry run
    bool dryRun = false;
    IfNameTaken ifNameTaken = IfNameTaken::Fail; // Replace with --overwrite
};

struct CarveTotals : FileTotals {
    std::uint64_t sectorsDone = 0; // carved or found unreadable
    std::uint64_t unreadableSectors = 0;
    bool stopped = false;
};

struct CarveHooks {
    std::function<void(const CarvedFile&)> fileClosed; // for the report
    std::function<void(const CarveTotals&)> chunkDone; // for the progress line
    // The first file that could not be created for want of space or inodes.
    std::function<void()> outOfSpace;
};

// Carves every sector the reader gives, in order, with the window's rule and names:
// sector i is what the window reads in pass i + 1, an unreadable sector is left out, and
// a file that is still open at the end is closed holding all it was given. Files are
// made in settings.folder unless settings.dryRun. The program-wide stop flag is
// looked at before each sector; once it is set the open file is closed as "stopped" and
// the run returns. The caller clears the flag before the run.
CarveTotals runCarve(ChunkReader& reader, const CarveSettings& settings,
                     const CarveHooks& hooks = {});

} // namespace velo::cli
