#pragma once

#include <cstdint>
#include <string>

namespace velo
{

// The save-folder text as it stands (a separator is not added), "DD", the file number
// with at least three digits, ".JPG": 1 gives DD001.JPG, 1000 gives DD1000.JPG.
std::string outputFileName(const std::string& saveFolder, std::uint64_t fileNumber);

} // namespace velo
