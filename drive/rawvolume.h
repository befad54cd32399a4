#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace velo
{

// A volume opened for raw reading, one sector per call from sector 0 on. Destroying it
// releases the device.
class RawVolume
{
public:
    virtual ~RawVolume() = default;

    // Reads the next sector into `sector` (the first S bytes of the sector buffer) in pass
    // passNumber (1, 2, …), which reads sector passNumber − 1. Returns how many bytes of
    // the sector now hold volume data, or nothing when the read failed.
    virtual std::optional<std::size_t> readNextSector(std::span<std::uint8_t> sector,
                                                      std::uint64_t passNumber) = 0;
};

// Opens the volume of a drive by the path the platform flag selects: 1, the VWIN32
// service of the 95/98/Me family; anything else, the drive's own volume device. The
// sector buffer must stay where it is for as long as the volume is open. An empty
// pointer means the open failed.
std::unique_ptr<RawVolume> openRawVolume(Platform& platform, int platformFlag,
                                         const std::string& driveLetter,
                                         std::span<std::uint8_t> sectorBuffer);

// "\\.\" followed by the letter exactly as given and ":".
std::string volumeDeviceName(const std::string& driveLetter);

} // namespace velo
