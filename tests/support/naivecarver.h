#pragma once

// The carving rule written the slow, obvious way, one byte at a time, to check the
// real carver against. Files come out as byte vectors, numbered from 1.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace velo::testing
{

struct NaiveCarve {
    std::map<std::uint64_t, std::vector<std::uint8_t>> files; // number → content
    bool writing = false;
    std::uint64_t counter = 1;
    std::uint8_t previous = 0, secondPrevious = 0;

    // A sector that was read (failed reads are simply not passed in).
    void sector(const std::vector<std::uint8_t>& s)
    {
        const std::size_t size = s.size();
        auto at = [&](std::size_t p) -> std::uint8_t { return p < size ? s[p] : 0; };
        if (at(0) == 0xFF && at(1) == 0xD8 && at(2) == 0xFF && size >= 3) {
            if (writing)
                ++counter;
            writing = true;
            files[counter].clear();
        }
        for (std::size_t p = 0; p < size; ++p) {
            const std::uint8_t b = s[p];
            if (writing && b == 0x00 && previous == 0xD9 && secondPrevious == 0xFF) {
                int zeroSum = 0;
                for (std::size_t k = p; k <= p + 10; ++k)
                    zeroSum += at(k);
                if (zeroSum == 0) {
                    writing = false;
                    ++counter;
                }
            }
            secondPrevious = previous;
            previous = b;
            if (writing)
                files[counter].push_back(b);
        }
    }
};

} // namespace velo::testing
