#pragma once

// Photos made here with libjpeg, for the JPEG rule's tests (no photo files needed), and a
// card in memory for the rule to read.

#include "scan/jpeg/sectorreader.h"

#include <cstdint>
#include <set>
#include <vector>

namespace velo::jpeg::testing
{

using Bytes = std::vector<std::uint8_t>;

struct PhotoRecipe {
    int width = 160;
    int height = 120;
    int quality = 85;
    bool progressive = false;
    int restartRows = 0; // restart marker every N MCU rows; 0: none
    std::uint32_t seed = 1;
};

// A colour photo of smooth shapes and noise, so that its entropy-coded data looks like a
// camera's.
Bytes makePhoto(const PhotoRecipe& recipe);

// The decoded RGB pixels; empty when libjpeg finds the data corrupt.
Bytes decodePixels(const Bytes& jpeg);

// `count` bytes of one kind of data that lies between photos on a card.
enum class Filler { Random, Text, Zeros };
Bytes filler(Filler kind, std::size_t count, std::uint32_t seed);

// Where the entropy-coded data of the first scan begins; 0 when there is none.
std::size_t entropyStart(const Bytes& jpeg);

// Where the first FF 00, or the first restart marker, lies in the entropy-coded data; 0
// when there is none.
std::size_t findStuffing(const Bytes& jpeg);
std::size_t findRestart(const Bytes& jpeg, std::uint8_t number);

// A card whose sectors are the bytes of an image in memory; the sectors in `bad` cannot
// be read.
class MemoryCard : public SectorReader
{
public:
    MemoryCard(Bytes image, std::uint32_t sectorBytes, std::set<std::uint64_t> bad = {})
        : image_(std::move(image)), sectorBytes_(sectorBytes), bad_(std::move(bad))
    {
    }
    std::uint32_t sectorBytes() const override { return sectorBytes_; }
    std::uint64_t sectorCount() const override { return image_.size() / sectorBytes_; }
    std::size_t read(std::uint64_t first, std::size_t count, std::uint8_t* into) override;
    const Bytes& image() const { return image_; }

private:
    Bytes image_;
    std::uint32_t sectorBytes_;
    std::set<std::uint64_t> bad_;
};

} // namespace velo::jpeg::testing
