#pragma once

#include "filesystem/deletedfile.h"
#include "filesystem/volumegeometry.h"

#include <vector>

namespace velo::filesystem
{

// What the file system on a source still knows that helps bring its photos back: where
// its clusters lie, and the deleted files it still lists.
class FileSystemMap
{
public:
    FileSystemMap(VolumeGeometry geometry, std::vector<DeletedFile> deleted);

    const VolumeGeometry& geometry() const { return geometry_; }
    const std::vector<DeletedFile>& deleted() const { return deleted_; }

    // The deleted file whose first cluster starts at byte `firstByte` of the source; of
    // several, the one modified last (a later file takes the clusters an earlier one left).
    // Null when none does.
    const DeletedFile* deletedAt(std::uint64_t firstByte) const;

private:
    VolumeGeometry geometry_;
    std::vector<DeletedFile> deleted_; // by first byte
};

} // namespace velo::filesystem
