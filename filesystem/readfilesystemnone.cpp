#include "filesystem/readfilesystem.h"

namespace velo::filesystem
{

// A build without The Sleuth Kit's library: every source is carved by its bytes alone.
bool fileSystemsRead()
{
    return false;
}

FileSystemRead readFileSystem(const ReadSourceBytes&, std::uint64_t, std::uint32_t)
{
    return {std::nullopt, "file-system hints are not in this build"};
}

} // namespace velo::filesystem
