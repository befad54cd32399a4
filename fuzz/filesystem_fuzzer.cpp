// Fuzzing of the file-system reader: any bytes as a card. Reading must end, within its
// limits, without a fault; what it finds must lie on the card.

#include "filesystem/readfilesystem.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace velo::filesystem;
    const ReadSourceBytes read = [&](std::uint64_t offset, std::span<std::uint8_t> into) {
        if (offset >= size)
            return false;
        std::memcpy(into.data(), data + offset, std::min<std::size_t>(into.size(), size - offset));
        return true;
    };
    const FileSystemRead found = readFileSystem(read, size, 512);
    if (found.map && found.map->deleted().size() > kMaxListed) {
        std::fprintf(stderr, "file system: %zu files listed\n", found.map->deleted().size());
        std::abort();
    }
    return 0;
}
