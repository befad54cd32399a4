#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velo::linux_backend
{

// One line of /proc/self/mountinfo, with the escapes of its path fields undone.
struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;       // the directory of the file system that is mounted here
    std::string mountPoint; // where it shows up in this process's view
    std::string fsType;     // "ext4", "nfs4", "fuse.sshfs"...
    std::string source;     // "/dev/sdb1", "server:/export", "overlay"...
};

// Mount tables as the kernel writes them. Lines that do not parse are skipped: the
// format is the kernel's, but a half-written fixture or a future field must not stop the
// drive list from being built.
class MountInfo
{
public:
    static std::vector<MountEntry> parse(std::string_view text);

    // The kernel writes space, tab, newline and backslash in path fields as "\ooo"
    // octal escapes (a mount point "/media/SD CARD" appears as "/media/SD\040CARD").
    static std::string unescape(std::string_view field);
};

} // namespace velo::linux_backend
