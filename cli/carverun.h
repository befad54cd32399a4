#pragma once

#include "cli/chunkreader.h"
#include "cli/options.h"
#include "scan/filesink.h"
#include "scan/jpeg/jpegcarver.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace velo::cli
{

struct CarveTotals : FileTotals {
    std::uint64_t sectorsDone = 0; // carved or found unreadable
    std::uint64_t unreadableSectors = 0;
    bool stopped = false;
};

// Which rule carves, and with what. The rule that reads the JPEG structure reads ahead
// through `blocks` (the same sectors the reader gives, and the blocks the reader's chunks
// are made of), which it needs.
struct RuleChoice {
    Rule rule = Rule::Window;
    jpeg::SharedBlocks* blocks = nullptr;
    jpeg::JpegRuleSettings jpeg = {};
};

// Carves every sector the reader gives, in order, with the chosen rule, into files:
// sector i is what the window reads in pass i + 1, an unreadable sector is left out, and
// a file that is still open at the end is closed holding all it was given. chunkDone
// runs after each chunk (the progress line). `stop` is looked at before each sector, and
// by the JPEG rule within a file's walk and search (unless its settings give a stop of
// their own); once it is set the open file is closed as "stopped" and the run returns.
CarveTotals runCarve(ChunkReader& reader, FileSink& files, const std::atomic<bool>& stop,
                     const std::function<void(const CarveTotals&)>& chunkDone = {},
                     const RuleChoice& rule = {});

} // namespace velo::cli
