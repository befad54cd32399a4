#pragma once

// File systems and loop devices for the tests that need real ones. Each needs root (and
// a machine that allows it); where it cannot be had, why says so and the test skips.
// Everything is undone in the destructor.

#include "tests/support/files.h"

#include <cstdint>
#include <optional>
#include <string>

namespace velo::testing
{

// `mount -t type -o options source at`, for as long as the object lives. FAT ("vfat") is
// mounted through fusefat where the kernel has no driver for it.
struct Mount {
    Mount(const std::string& source, const std::string& type, const std::string& options,
          fs::path at);
    ~Mount();
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    fs::path at;
    bool mounted = false;
    std::string why;
};

// A file system image of the given size made with mkfs (ext2 or vfat), mounted through a
// loop device at a folder of its own; read-only when asked.
class LoopMount
{
public:
    LoopMount(std::uint64_t bytes, const std::string& fsType, bool readOnly = false);
    bool ok() const { return mount_ && mount_->mounted; }
    const std::string& why() const { return mount_ ? mount_->why : why_; }
    const fs::path& mountPoint() const { return mountPoint_; }

private:
    ScratchDir dir_;
    fs::path mountPoint_;
    std::string why_;
    std::optional<Mount> mount_;
};

// A read-only loop device over an image file (no file system needed), attached with
// further losetup options when given: the path of the device, or empty with the reason
// in why().
class ReadOnlyLoopDevice
{
public:
    explicit ReadOnlyLoopDevice(const fs::path& image, const std::string& options = "");
    ~ReadOnlyLoopDevice();
    ReadOnlyLoopDevice(const ReadOnlyLoopDevice&) = delete;
    ReadOnlyLoopDevice& operator=(const ReadOnlyLoopDevice&) = delete;
    const std::string& device() const { return device_; }
    const std::string& why() const { return why_; }

private:
    std::string device_;
    std::string why_;
};

} // namespace velo::testing
