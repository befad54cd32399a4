#pragma once

#include "filesystem/filesystemmap.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace velo::filesystem
{

// Reads into `into` the source's bytes from byte `offset` on; a sector that cannot be
// read is left as zeros. False once nothing more can be read (the source is gone, or the
// run is stopped): the reading of the file system then ends.
using ReadSourceBytes = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> into)>;

struct FileSystemRead {
    std::optional<FileSystemMap> map;
    // One line on what was found or why nothing was: "FAT32 file system at byte 0:
    // clusters of 4096 bytes from byte 1062912, 214 deleted files listed", "no FAT or exFAT
    // file system found".
    std::string said;
};

// Whether this build reads file systems at all (the library may be left out of it).
bool fileSystemsRead();

// Looks for a FAT12/16/32 or exFAT file system on the source (`sizeBytes` long, in
// sectors of `sectorBytes`): at its start, or else in the first partition of its
// partition table that holds one. Lists the deleted files of every folder still reachable
// from the root, looking at kMaxListed entries at most. A damaged file system gives what could be
// read of it, or nothing; it never stops the caller.
FileSystemRead readFileSystem(const ReadSourceBytes& read, std::uint64_t sizeBytes,
                              std::uint32_t sectorBytes);

inline constexpr std::size_t kMaxListed = 1'000'000;

} // namespace velo::filesystem
