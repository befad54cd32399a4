#pragma once

// The fake machine the main window's tests start on.

#include "platform/fake/fakeplatform.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace velo::testing
{

// 64 sectors: 5 to 7 hold a stream that ends at byte 100 of sector 7; another starts at
// sector 20 and is still open at the end.
inline std::vector<std::uint8_t> volumeWithStream()
{
    std::vector<std::uint8_t> v(64 * 512, 0x11);
    v[5 * 512] = 0xFF, v[5 * 512 + 1] = 0xD8, v[5 * 512 + 2] = 0xFF;
    v[7 * 512 + 98] = 0xFF, v[7 * 512 + 99] = 0xD9;
    std::fill(v.begin() + 7 * 512 + 100, v.begin() + 7 * 512 + 111, 0);
    v[20 * 512] = 0xFF, v[20 * 512 + 1] = 0xD8, v[20 * 512 + 2] = 0xFF;
    return v;
}

// A removable drive A, drive C with its geometry, a CD drive D with no disc (its query
// fails), the program in /opt/velo and the folder /save.
inline void addDesktopDrives(FakePlatform& platform)
{
    platform.addDrive("A", DriveType::Removable);
    platform.addDrive("C", DriveType::Fixed).freeSpace = DiskFreeSpace{8, 512, 1000000, 2000000};
    platform.addDrive("D", DriveType::CdRom);
    platform.programFolderPath = "/opt/velo";
    platform.folders.insert({"/opt", "/opt/velo", "/save"});
}

// A removable drive E holding `bytes` in sectors of 512.
inline FakeDrive& addCard(FakePlatform& platform, const std::vector<std::uint8_t>& bytes)
{
    FakeDrive& e = platform.addDrive("E", DriveType::Removable);
    e.volumeBytes = bytes;
    e.freeSpace = DiskFreeSpace{1, 512, 0, std::int64_t(bytes.size() / 512)};
    return e;
}

} // namespace velo::testing
