#include "filesystem/filesystemmap.h"

#include <algorithm>

namespace velo::filesystem
{

FileSystemMap::FileSystemMap(VolumeGeometry geometry, std::vector<DeletedFile> deleted)
    : geometry_(std::move(geometry)), deleted_(std::move(deleted))
{
    std::stable_sort(
        deleted_.begin(), deleted_.end(),
        [](const DeletedFile& a, const DeletedFile& b) { return a.firstByte < b.firstByte; });
}

const DeletedFile* FileSystemMap::deletedAt(std::uint64_t firstByte) const
{
    struct ByFirstByte {
        bool operator()(const DeletedFile& f, std::uint64_t byte) const
        {
            return f.firstByte < byte;
        }
        bool operator()(std::uint64_t byte, const DeletedFile& f) const
        {
            return byte < f.firstByte;
        }
    };
    const auto [from, to] =
        std::equal_range(deleted_.begin(), deleted_.end(), firstByte, ByFirstByte{});
    const auto latest = std::max_element(from, to, [](const DeletedFile& a, const DeletedFile& b) {
        return a.modified < b.modified;
    });
    return latest == to ? nullptr : &*latest;
}

} // namespace velo::filesystem
