#pragma once

// The disk image behind drive E: in the Windows tests, made by velo_drive_image before
// they run: numbered sectors of filler with two photo streams planted in them.

#include <cstdint>
#include <string>
#include <vector>

namespace velo::testing
{

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint32_t kDriveSectorBytes = 512;
inline constexpr std::uint32_t kDriveSectors = 64;

// The whole image. Sector i begins with "SECT" and i as four little-endian bytes, except
// where a stream starts: sectors 10 (ending in sector 12) and 40 (ending in sector 40).
Bytes driveImage();

// A path of the host as the test programs see it under Wine: drive Z: is the host's root.
std::string winePath(const std::string& hostPath);

} // namespace velo::testing
