#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace velo
{

// The largest sector the window or velo-carve accepts, in bytes. Disks have 512 or 4096
// bytes per sector and optical discs 2048; a size far beyond that can only come from a
// damaged geometry field or a mistyped option. 1 MiB leaves room for any real device and
// for odd test images, and keeps the one-sector buffer small.
inline constexpr std::uint32_t kLargestSectorBytes = 1u << 20;

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
