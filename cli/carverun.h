#pragma once

#include "cli/chunkreader.h"
#include "cli/report.h"
#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <string>

namespace velo::cli
{

struct CarveSettings {
    OutputFolder* folder = nullptr; // where files are made; unused in a dry run
    bool dryRun = false;
    IfNameTaken ifNameTaken = IfNameTaken::Fail; // Replace with --overwrite
};

struct CarveTotals {
    std::uint64_t sectorsDone = 0; // carved or found unreadable
    std::uint64_t files = 0;       // closed files, the one cut by a stop included
    std::uint64_t bytes = 0;       // carved bytes, written or not
    std::uint64_t unreadableSectors = 0;
    std::uint64_t failedFiles = 0;  // files that are missing or hold only a prefix
    std::uint64_t noSpaceFiles = 0; // files not created: the output is out of space or inodes
    bool stopped = false;
};

struct CarveHooks {
    std::function<void(const CarvedFile&)> fileClosed; // for the report
    std::function<void(const CarveTotals&)> chunkDone; // for the progress line
    // OutputFile::close() cannot report a failure of its last flush; a backend that
    // knows says so here.
    std::function<bool(OutputFile&)> closeFailed;
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
