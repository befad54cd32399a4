#pragma once

// A volume of sectors with streams planted in it, and the files the byte-at-a-time model
// carves from the sectors a scan really receives.

#include "tests/support/files.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace velo::testing
{

// Sectors of filler that is never 00, D9 or FF, so nothing starts or ends by chance.
struct Volume {
    std::size_t sectorBytes;
    Bytes bytes;

    explicit Volume(std::size_t sectors, std::size_t sectorBytes = 512);
    // FF D8 FF at the start of sector `sector`.
    void start(std::size_t sector);
    // A start at sector `first` and an end marker (FF D9 and eleven zeros) at byte endAt
    // of sector `last`; the zeros may run on into the next sector.
    void stream(std::size_t first, std::size_t last, std::size_t endAt = 200);
    Bytes sector(std::size_t i) const;
    // What such a stream carves: from its start to the end marker's FF D9.
    Bytes carved(std::size_t first, std::size_t last, std::size_t endAt = 200) const;
};

// The model's files for the sectors whose numbers are in `read` (in order), each cut to
// the length in `lengths` when it has one.
std::map<std::uint64_t, Bytes> modelFiles(const Volume& v, const std::vector<std::size_t>& read,
                                          const std::map<std::size_t, std::size_t>& lengths = {});

// The model's files for every whole sector of `bytes`.
std::map<std::uint64_t, Bytes> modelFiles(const Bytes& bytes, std::size_t sectorBytes = 512);

// first, first + 1, ... end - 1, without those in `except`.
std::vector<std::size_t> range(std::size_t first, std::size_t end,
                               std::set<std::size_t> except = {});

} // namespace velo::testing
