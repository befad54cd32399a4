#pragma once

// What velo-carve needs from the system it runs on, beyond the output folders of the
// Platform interface: its source read raw, the report opened safely, the stop keys and
// the terminal. Each backend implements it (platform/linux, platform/windows).

#include "platform/platform.h"
#include "platform/readat.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace velo
{

// The thing being carved, open for reading only: a disk image, or a device or volume.
class CarveSource
{
public:
    virtual ~CarveSource() = default;

    virtual std::uint64_t sizeBytes() const = 0;
    // The device's logical sector size; 512 for an image file.
    virtual std::uint32_t sectorBytes() const = 0;

    // Reads for large chunks, and for the sectors of a chunk whose read failed, one at a
    // time (an empty one: the chunk reads serve). A failure that means the source has gone
    // sets errno to ENODEV or ENXIO. Both may be called from several threads at once.
    virtual ReadAt chunkReader() = 0;
    virtual ReadAt sectorReader() = 0;

    // Whether writing into folder (which need not exist yet) writes to the device this
    // source reads, so that carving could overwrite what is still to be read.
    virtual bool outputLiesOnSource(const std::string& folder) const = 0;

    // Why the report may not be written to path, judged by what is there now (a link, a
    // device, a folder, the source itself or the image file behind the device being read,
    // a file with other names), or "" when nothing is in the way. The folder it would go
    // in is checked by the caller.
    virtual std::string reportProblem(const std::string& path) const = 0;

    // The report, created or emptied, never written through a link, a device, the source
    // or the image behind it. Null (errno set) when it cannot be opened so; EINVAL when what was
    // opened turned out to be one of those after the checks above.
    virtual std::FILE* openReport(const std::string& path) const = 0;
};

// Opens path read-only and learns its size: null with one line naming the problem in
// error ("cannot open PATH: why") and errno set (EACCES, ENOENT, ...). A folder, a pipe or
// anything else without a size is refused.
std::unique_ptr<CarveSource> openCarveSource(const std::string& path, std::string& error);

// Ctrl-C (and a request to end the program) sets flag, once: a second one ends the
// program at once. A reader of the standard output that goes away makes writes to it fail
// rather than end the program.
void installStopHandlers(std::atomic<bool>& flag);

// Standard output for the report, writing its bytes as they are (no line-end changes).
std::FILE* reportToStandardOutput();

// Whether a progress line can be redrawn in place on the standard error: a terminal that
// takes "\r" and the erase-line sequence.
bool progressLineFits();

// Removes the folder if it is empty; false when it is not removed.
bool removeEmptyFolder(const std::string& path);

} // namespace velo
