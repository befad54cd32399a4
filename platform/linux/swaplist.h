#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velo::linux_backend
{

// The swap areas of /proc/swaps. A swap partition holds no photos worth listing, and
// showing it as a drive would only invite a pointless scan of paged-out memory.
class SwapList
{
public:
    // The paths of the swap areas that are block devices ("/dev/sda2", "/dev/zram0");
    // swap files are left out since they never appear as drives anyway.
    static std::vector<std::string> parseDevices(std::string_view text);
};

} // namespace velo::linux_backend
