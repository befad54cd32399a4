#include "filesystem/readfilesystem.h"

#include <tsk/libtsk.h>

#include <cstring>
#include <memory>
#include <vector>

// Exported by the library and needed to undo what tsk_img_open_external set up, but
// declared only in its private headers.
extern "C" void tsk_deinit_lock(tsk_lock_t* lock);

namespace velo::filesystem
{

namespace
{

// The source as The Sleuth Kit sees an image: every read goes through the caller's, so
// the library opens nothing itself and a bad sector reads as zeros.
struct SourceImage {
    TSK_IMG_INFO info; // first: the library hands this address back to the callbacks
    const ReadSourceBytes* read = nullptr;
};

ssize_t readImage(TSK_IMG_INFO* info, TSK_OFF_T offset, char* into, size_t length)
{
    auto* image = reinterpret_cast<SourceImage*>(info);
    if (offset < 0 || offset >= info->size)
        return -1;
    length = std::size_t(std::min<TSK_OFF_T>(TSK_OFF_T(length), info->size - offset));
    std::memset(into, 0, length);
    if (!(*image->read)(std::uint64_t(offset), {reinterpret_cast<std::uint8_t*>(into), length}))
        return -1;
    return ssize_t(length);
}

void closeImage(TSK_IMG_INFO* info)
{
    tsk_deinit_lock(&info->cache_lock);
    delete reinterpret_cast<SourceImage*>(info);
}

void noStatus(TSK_IMG_INFO*, FILE*) {}

struct Closer {
    void operator()(TSK_IMG_INFO* image) const { tsk_img_close(image); }
    void operator()(TSK_VS_INFO* vs) const { tsk_vs_close(vs); }
    void operator()(TSK_FS_INFO* fs) const { tsk_fs_close(fs); }
};
template <typename T> using Owned = std::unique_ptr<T, Closer>;

Owned<TSK_IMG_INFO> openImage(const ReadSourceBytes& read, std::uint64_t sizeBytes,
                              std::uint32_t sectorBytes)
{
    auto* image = new SourceImage{};
    image->read = &read;
    // The library takes sector sizes that are multiples of 512 only; it needs the size
    // for partition tables alone.
    const unsigned librarySector = sectorBytes % 512 == 0 ? sectorBytes : 512;
    TSK_IMG_INFO* info = tsk_img_open_external(image, TSK_OFF_T(sizeBytes), librarySector,
                                               readImage, closeImage, noStatus);
    if (!info) {
        delete image;
        tsk_error_reset();
    }
    return Owned<TSK_IMG_INFO>(info);
}

// A FAT or exFAT file system whose boot sector lies at `byte`, with its geometry.
struct Volume {
    Owned<TSK_FS_INFO> fs;
    VolumeGeometry geometry;
};

std::optional<Volume> openVolume(TSK_IMG_INFO* image, const ReadSourceBytes& read,
                                 std::uint64_t byte)
{
    Owned<TSK_FS_INFO> fs(tsk_fs_open_img(image, TSK_OFF_T(byte), TSK_FS_TYPE_FAT_DETECT));
    tsk_error_reset();
    std::vector<std::uint8_t> boot(512);
    if (!fs || !read(byte, boot))
        return std::nullopt;
    std::optional<VolumeGeometry> geometry = readBootSector(boot, byte);
    if (!geometry)
        return std::nullopt;
    return Volume{std::move(fs), std::move(*geometry)};
}

// At the source's start, or in the first partition that holds one.
std::optional<Volume> findVolume(TSK_IMG_INFO* image, const ReadSourceBytes& read)
{
    if (std::optional<Volume> v = openVolume(image, read, 0))
        return v;
    Owned<TSK_VS_INFO> vs(tsk_vs_open(image, 0, TSK_VS_TYPE_DETECT));
    tsk_error_reset();
    if (!vs)
        return std::nullopt;
    for (TSK_PNUM_T i = 0; i < vs->part_count; ++i) {
        const TSK_VS_PART_INFO* part = tsk_vs_part_get(vs.get(), i);
        if (!part || !(part->flags & TSK_VS_PART_FLAG_ALLOC) || part->start == 0)
            continue;
        if (std::optional<Volume> v =
                openVolume(image, read, std::uint64_t(part->start) * vs->block_size))
            return v;
    }
    return std::nullopt;
}

struct Listing {
    std::vector<DeletedFile> deleted;
    std::size_t seen = 0;
};

TSK_WALK_RET_ENUM listEntry(TSK_FS_FILE* file, const char* folder, void* context)
{
    auto& listing = *static_cast<Listing*>(context);
    if (++listing.seen > kMaxListed)
        return TSK_WALK_STOP;
    if (!file->name || !file->meta || !(file->name->flags & TSK_FS_NAME_FLAG_UNALLOC) ||
        file->meta->type != TSK_FS_META_TYPE_REG || file->meta->size <= 0)
        return TSK_WALK_CONT;
    const TSK_FS_ATTR* data = tsk_fs_file_attr_get(file);
    if (!data || !(data->flags & TSK_FS_ATTR_NONRES) || !data->nrd.run) {
        tsk_error_reset();
        return TSK_WALK_CONT;
    }
    DeletedFile f;
    f.folder = folder ? folder : "";
    f.name = file->name->name ? file->name->name : "";
    f.sizeBytes = std::uint64_t(file->meta->size);
    f.firstByte = std::uint64_t(file->fs_info->offset) +
                  std::uint64_t(data->nrd.run->addr) * file->fs_info->block_size;
    f.modified = file->meta->mtime;
    f.created = file->meta->crtime;
    f.accessed = file->meta->atime;
    listing.deleted.push_back(std::move(f));
    return TSK_WALK_CONT;
}

std::string describe(const VolumeGeometry& g, std::size_t listed)
{
    return g.kind + " file system at byte " + std::to_string(g.volumeByte) + ": clusters of " +
           std::to_string(g.clusterBytes) + " bytes from byte " +
           std::to_string(g.firstClusterByte) + ", " + std::to_string(listed) +
           " deleted files listed";
}

} // namespace

bool fileSystemsRead()
{
    return true;
}

FileSystemRead readFileSystem(const ReadSourceBytes& read, std::uint64_t sizeBytes,
                              std::uint32_t sectorBytes)
{
    FileSystemRead result;
    result.said = "no FAT or exFAT file system found";
    Owned<TSK_IMG_INFO> image = openImage(read, sizeBytes, sectorBytes);
    if (!image)
        return result;
    std::optional<Volume> volume = findVolume(image.get(), read);
    if (!volume)
        return result;
    Listing listing;
    // The orphan folder would make the library look at every cluster of the volume.
    const auto flags =
        TSK_FS_DIR_WALK_FLAG_ENUM(TSK_FS_DIR_WALK_FLAG_ALLOC | TSK_FS_DIR_WALK_FLAG_UNALLOC |
                                  TSK_FS_DIR_WALK_FLAG_RECURSE | TSK_FS_DIR_WALK_FLAG_NOORPHAN);
    tsk_fs_dir_walk(volume->fs.get(), volume->fs->root_inum, flags, listEntry, &listing);
    tsk_error_reset();
    result.said = describe(volume->geometry, listing.deleted.size());
    result.map.emplace(std::move(volume->geometry), std::move(listing.deleted));
    return result;
}

} // namespace velo::filesystem
