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

// A link that wine-fixtures.sh plants: folder\name leads to folder\victim.jpg. Under Wine
// a host link looks like a plain file, the very case where writing to the name would
// write to the target.
struct PlantedLink {
    std::string folder, link, target;
    Bytes targetBytes; // as planted, to compare with afterwards
};

// Fills `planted`; says what is wrong when the link is no longer as planted (a test run
// on its own after an earlier run replaced it), empty when all is well.
std::string findPlantedLink(const std::string& folder, const std::string& name,
                            PlantedLink& planted);

} // namespace velo::testing
