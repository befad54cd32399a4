#include "tests/support/volume.h"

#include "tests/support/naivecarver.h"

#include <algorithm>

namespace velo::testing
{

Volume::Volume(std::size_t sectors, std::size_t sectorBytes_)
    : sectorBytes(sectorBytes_), bytes(sectors * sectorBytes_)
{
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(0x20 + (i * 7 + i / sectorBytes) % 0x5F);
}

void Volume::start(std::size_t sector)
{
    std::uint8_t* s = &bytes[sector * sectorBytes];
    s[0] = 0xFF, s[1] = 0xD8, s[2] = 0xFF;
}

void Volume::stream(std::size_t first, std::size_t last, std::size_t endAt)
{
    start(first);
    std::uint8_t* e = &bytes[last * sectorBytes + endAt];
    e[0] = 0xFF, e[1] = 0xD9;
    std::fill(e + 2, e + 13, 0x00);
}

Bytes Volume::sector(std::size_t i) const
{
    return Bytes(bytes.begin() + std::ptrdiff_t(i * sectorBytes),
                 bytes.begin() + std::ptrdiff_t((i + 1) * sectorBytes));
}

Bytes Volume::carved(std::size_t first, std::size_t last, std::size_t endAt) const
{
    return Bytes(bytes.begin() + std::ptrdiff_t(first * sectorBytes),
                 bytes.begin() + std::ptrdiff_t(last * sectorBytes + endAt + 2));
}

std::map<std::uint64_t, Bytes> modelFiles(const Volume& v, const std::vector<std::size_t>& read,
                                          const std::map<std::size_t, std::size_t>& lengths)
{
    NaiveCarve model;
    for (std::size_t i : read) {
        Bytes s = v.sector(i);
        if (const auto it = lengths.find(i); it != lengths.end())
            s.resize(it->second);
        model.sector(s);
    }
    return model.files;
}

std::map<std::uint64_t, Bytes> modelFiles(const Bytes& bytes, std::size_t sectorBytes)
{
    NaiveCarve model;
    for (std::size_t at = 0; at + sectorBytes <= bytes.size(); at += sectorBytes)
        model.sector(Bytes(bytes.begin() + std::ptrdiff_t(at),
                           bytes.begin() + std::ptrdiff_t(at + sectorBytes)));
    return model.files;
}

std::vector<std::size_t> range(std::size_t first, std::size_t end, std::set<std::size_t> except)
{
    std::vector<std::size_t> r;
    for (std::size_t i = first; i < end; ++i)
        if (!except.count(i))
            r.push_back(i);
    return r;
}

} // namespace velo::testing
