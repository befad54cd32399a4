#pragma once

#include <cstdint>
#include <vector>

namespace velo::jpeg
{

// What a walk saw of the picture: the DC value of each MCU's first block, which is the
// mean of an 8x8 block of the first component (the brightness, in a colour photo), with
// where in the file the walk was when it decoded it. Enough to see the image at 1/8 scale
// or coarser, and whether the rows on both sides of a joint belong together.
struct DcTrace {
    struct Entry {
        std::uint64_t mcu = 0; // the MCU's number in its scan
        // Logical offset read to once the block was decoded: its DC came from before it.
        std::uint64_t pos = 0;
        std::int32_t dc = 0;
    };
    std::vector<Entry> entries;
    std::size_t most = 0; // entries kept at most; the walk records no further ones

    bool full() const { return entries.size() >= most; }
    void record(std::uint64_t mcu, std::uint64_t pos, std::int32_t dc)
    {
        if (!full())
            entries.push_back({mcu, pos, dc});
    }
};

} // namespace velo::jpeg
