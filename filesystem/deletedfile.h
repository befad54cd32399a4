#pragma once

#include <cstdint>
#include <string>

namespace velo::filesystem
{

// A file the file system still lists though it was deleted: its directory entry is marked
// free and its clusters are no longer chained, but its name, size, first cluster and times
// are still there. FAT keeps a long name whole; a short name has lost its first letter,
// which stands as '_'.
struct DeletedFile {
    std::string folder; // the folder's path on the volume, "DCIM/100CANON/"; "" for the root
    std::string name;   // IMG_2041.JPG, or _MG_2041.JPG for a short name
    std::uint64_t sizeBytes = 0;
    std::uint64_t firstByte = 0; // where its first cluster starts on the source
    // Seconds since 1970 as the file system's library gives them (FAT keeps the camera's
    // local time, read in this machine's time zone); 0 when the entry holds none.
    std::int64_t modified = 0;
    std::int64_t created = 0;
    std::int64_t accessed = 0;
};

} // namespace velo::filesystem
