#pragma once

#include "cli/sourcereads.h"
#include "filesystem/readfilesystem.h"

#include <atomic>
#include <cstdint>

namespace velo::cli
{

// The file system on the first `sectorCount` sectors of the source, read through the
// run's own reads (so a bad sector reads as zeros and costs only itself, and a source that
// is gone is given up on as for the carve). Ends early, with what it has, once `stop` is
// set.
filesystem::FileSystemRead readSourceFileSystem(SourceReads& reads, std::uint64_t sectorCount,
                                                const std::atomic<bool>& stop);

} // namespace velo::cli
