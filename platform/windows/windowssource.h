#pragma once

#include "platform/windows/windowsdevicehandle.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velo::windows_backend
{

// Which file a handle reads, whatever name it was opened by.
struct FileIdentity {
    std::uint32_t volumeSerial = 0;
    std::uint64_t fileIndex = 0;
    bool operator==(const FileIdentity&) const = default;
};

// What velo-carve carves on Windows, open for reading only: a disk image file, or a
// volume or disk named in the device namespace ("\\.\E:", "\\.\PhysicalDrive1").
class WindowsSource
{
public:
    // The source, or nullptr with one line naming the problem in `error`. A folder, a
    // pipe, a console or anything else without a size is refused.
    static std::unique_ptr<WindowsSource> open(const std::string& path, std::string& error);

    std::uint64_t sizeBytes() const { return sizeBytes_; }
    std::uint32_t sectorBytes() const { return sectorBytes_; } // the disk's; 512 for a file
    bool isDevice() const { return isDevice_; }
    // For an image file, which file it is; empty for a device.
    const std::optional<FileIdentity>& fileIdentity() const { return identity_; }

    // Reads like pread(2): up to count bytes at offset; -1 on failure, 0 at the end. A
    // device is read in whole aligned sectors whatever the request.
    std::int64_t readAt(std::uint8_t* into, std::size_t count, std::uint64_t offset);

private:
    WindowsSource(std::unique_ptr<WindowsDeviceHandle> handle, std::uint64_t sizeBytes,
                  std::uint32_t sectorBytes, bool isDevice);

    std::unique_ptr<WindowsDeviceHandle> handle_;
    std::uint64_t sizeBytes_;
    std::uint32_t sectorBytes_;
    bool isDevice_;
    std::optional<FileIdentity> identity_;
};

// Whether files written into folder (which need not exist yet) would land on the volume
// that sourcePath names in the device namespace ("\\.\E:"), so that carving would write
// over the sectors still to be read. A source that is a file, or a whole disk, is not
// matched here.
bool writesToSourceVolume(const std::string& folder, const std::string& sourcePath);

// The system's reason for its last error, as one line of text.
std::string lastErrorText();

} // namespace velo::windows_backend
