// A one-file FUSE file system for tests: it serves an image file as /disk, read-only, and
// fails with EIO every read that touches one of the chosen 512-byte sectors. Attached
// through a loop device it is a block device with bad sectors exactly where a test wants
// them.
//
//   velo_badsectorfs IMAGE SECTOR[,SECTOR…] MOUNTPOINT   (a SECTOR may be a range, 0-99)
//
// It runs in the foreground until the mount point is unmounted.

#define FUSE_USE_VERSION 31

#include <fuse.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr off_t kSectorBytes = 512;
constexpr const char* kFileName = "disk";

int imageFd = -1;
off_t imageBytes = 0;
std::set<off_t> badSectors;

bool isTheFile(const char* path)
{
    return path[0] == '/' && std::strcmp(path + 1, kFileName) == 0;
}

int getAttributes(const char* path, struct stat* st, fuse_file_info*)
{
    std::memset(st, 0, sizeof *st);
    if (std::strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0555;
        st->st_nlink = 2;
        return 0;
    }
    if (!isTheFile(path))
        return -ENOENT;
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = imageBytes;
    return 0;
}

int listFolder(const char* path, void* into, fuse_fill_dir_t fill, off_t, fuse_file_info*,
               fuse_readdir_flags)
{
    if (std::strcmp(path, "/") != 0)
        return -ENOENT;
    fill(into, ".", nullptr, 0, fuse_fill_dir_flags(0));
    fill(into, "..", nullptr, 0, fuse_fill_dir_flags(0));
    fill(into, kFileName, nullptr, 0, fuse_fill_dir_flags(0));
    return 0;
}

int openFile(const char* path, fuse_file_info* info)
{
    if (!isTheFile(path))
        return -ENOENT;
    if ((info->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    // Every read comes here with the offset and size the caller asked for, rather than
    // widened to whole pages of this file system's own cache.
    info->direct_io = 1;
    return 0;
}

// A read that touches a bad sector fails whole, as a disk's does: no bytes and EIO.
int readFile(const char* path, char* into, size_t size, off_t offset, fuse_file_info*)
{
    if (!isTheFile(path))
        return -ENOENT;
    if (offset >= imageBytes || size == 0)
        return 0;
    const off_t end = std::min<off_t>(imageBytes, offset + off_t(size));
    for (off_t s = offset / kSectorBytes; s * kSectorBytes < end; ++s)
        if (badSectors.count(s))
            return -EIO;
    const ssize_t got = ::pread(imageFd, into, size_t(end - offset), offset);
    return got < 0 ? -errno : int(got);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s IMAGE SECTOR[,SECTOR...] MOUNTPOINT\n", argv[0]);
        return 2;
    }
    imageFd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat st {
    };
    if (imageFd < 0 || ::fstat(imageFd, &st) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    imageBytes = st.st_size;
    std::istringstream list(argv[2]);
    for (std::string item; std::getline(list, item, ',');) {
        if (item.empty())
            continue;
        const auto dash = item.find('-');
        const off_t first = off_t(std::strtoll(item.c_str(), nullptr, 10));
        const off_t last = dash == std::string::npos
                               ? first
                               : off_t(std::strtoll(item.c_str() + dash + 1, nullptr, 10));
        for (off_t s = first; s <= last; ++s)
            badSectors.insert(s);
    }

    fuse_operations operations{};
    operations.getattr = getAttributes;
    operations.readdir = listFolder;
    operations.open = openFile;
    operations.read = readFile;
    // Foreground and single-threaded: the test owns this process and ends it.
    char foreground[] = "-f", single[] = "-s";
    char* fuseArgs[] = {argv[0], foreground, single, argv[3], nullptr};
    return fuse_main(4, fuseArgs, &operations, nullptr);
}
