#include "tests/platform/windows/driveimage.h"

#include "tests/support/files.h"

#include <algorithm>

namespace velo::testing
{

namespace
{
void plantStream(Bytes& image, std::uint32_t firstSector, std::uint32_t endSector,
                 std::uint32_t endOffset)
{
    const std::size_t start = std::size_t(firstSector) * kDriveSectorBytes;
    const std::uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0};
    std::copy(std::begin(head), std::end(head), image.begin() + std::ptrdiff_t(start));
    const std::size_t end = std::size_t(endSector) * kDriveSectorBytes + endOffset;
    image[end] = 0xFF;
    image[end + 1] = 0xD9;
    std::fill_n(image.begin() + std::ptrdiff_t(end + 2), 11, 0);
}
} // namespace

Bytes driveImage()
{
    Bytes image(std::size_t(kDriveSectors) * kDriveSectorBytes);
    for (std::uint32_t s = 0; s < kDriveSectors; ++s) {
        std::uint8_t* sector = image.data() + std::size_t(s) * kDriveSectorBytes;
        const std::uint8_t label[] = {'S',
                                      'E',
                                      'C',
                                      'T',
                                      std::uint8_t(s),
                                      std::uint8_t(s >> 8),
                                      std::uint8_t(s >> 16),
                                      std::uint8_t(s >> 24)};
        std::copy(std::begin(label), std::end(label), sector);
        for (std::uint32_t b = sizeof label; b < kDriveSectorBytes; ++b)
            sector[b] = std::uint8_t(1 + (s * 31 + b * 7) % 250); // never 0, never FF
    }
    plantStream(image, 10, 12, 300);
    plantStream(image, 40, 40, 100);
    return image;
}

std::string winePath(const std::string& hostPath)
{
    std::string path = "Z:" + hostPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string findPlantedLink(const std::string& folder, const std::string& name,
                            PlantedLink& planted)
{
    planted = {folder, folder + "\\" + name, folder + "\\victim.jpg", {}};
    planted.targetBytes = readFile(planted.target);
    if (planted.targetBytes.empty())
        return planted.target + " is missing; run wine-fixtures.sh (ctest does)";
    if (readFile(planted.link) != planted.targetBytes)
        return planted.link + " is no longer a link to " + planted.target +
               "; run wine-fixtures.sh again";
    return {};
}

} // namespace velo::testing
