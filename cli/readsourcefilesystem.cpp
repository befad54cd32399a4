#include "cli/readsourcefilesystem.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace velo::cli
{

filesystem::FileSystemRead readSourceFileSystem(SourceReads& reads, std::uint64_t sectorCount,
                                                const std::atomic<bool>& stop)
{
    const std::uint32_t sectorBytes = reads.sectorBytes();
    const std::uint64_t sizeBytes = sectorCount * sectorBytes;
    std::vector<std::uint8_t> sectors;
    std::vector<bool> unreadable;
    const filesystem::ReadSourceBytes read = [&](std::uint64_t offset,
                                                 std::span<std::uint8_t> into) {
        if (stop.load(std::memory_order_relaxed) || offset >= sizeBytes)
            return false;
        const std::uint64_t end = std::min<std::uint64_t>(sizeBytes, offset + into.size());
        const std::uint64_t first = offset / sectorBytes;
        const std::size_t count = std::size_t((end + sectorBytes - 1) / sectorBytes - first);
        sectors.resize(count * sectorBytes);
        unreadable.assign(count, false);
        if (reads.read(first, count, sectors.data(), unreadable).tried < count)
            return false; // the source is gone
        for (std::size_t i = 0; i < count; ++i)
            if (unreadable[i])
                std::memset(sectors.data() + i * sectorBytes, 0, sectorBytes);
        const std::size_t skip = std::size_t(offset - first * sectorBytes);
        std::memcpy(into.data(), sectors.data() + skip, std::size_t(end - offset));
        return true;
    };
    return filesystem::readFileSystem(read, sizeBytes, sectorBytes);
}

} // namespace velo::cli
