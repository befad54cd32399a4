#pragma once

#include "drive/rawvolume.h"
#include "platform/platform.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velo
{

// What the scan needs from the window it runs in.
class ScanHost
{
public:
    virtual ~ScanHost() = default;
    virtual void showPass(std::uint64_t passNumber) = 0; // the progress counter
    virtual void runPendingEvents() = 0;                 // where a stop click gets in
    virtual bool stopRequested() = 0;                    // asked right after the events ran
    virtual std::string saveFolder() = 0;                // read anew at every file open
};

enum class ScanEnd { Completed, Stopped };

// The scan once its volume is open: makes the DAT folder in the program's folder, then
// one pass per sector, sectorTotal passes. Each pass shows its number, lets events run,
// returns if the host asks for a stop, reads the next sector into sectorBuffer and carves
// it. Output files are opened in outputSlot, which the stop command may close in the
// middle; a file still open after the last pass is closed, holding all it was given.
ScanEnd runRecoveryPasses(Platform& platform, ScanHost& host, RawVolume& volume,
                          std::vector<std::uint8_t>& sectorBuffer,
                          std::unique_ptr<OutputFile>& outputSlot, std::int64_t sectorTotal);

} // namespace velo
