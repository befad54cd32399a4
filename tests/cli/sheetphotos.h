#pragma once

// Photos for the contact sheet's tests: made with libjpeg, with an EXIF block built here
// (in either byte order, whole or broken on purpose) and headers changed to declare what
// their data cannot hold.

#include <cstdint>
#include <string>
#include <vector>

namespace velo::cli::testing
{

using Bytes = std::vector<std::uint8_t>;

struct ExifRecipe {
    bool bigEndian = false;
    std::string dateTime;              // in the first directory; "" for none
    bool breakTextOffset = false;      // the date texts' offsets point past the block
    std::uint16_t claimedEntries = 0;  // when not 0, the first directory's entry count
    std::size_t cutTo = 0;             // when not 0, the block is cut to this many bytes
    std::string dateTimeOriginal = {}; // in the EXIF directory; "" for none
};

// A photo of 160x120 whose first segment is an EXIF block made to the recipe.
Bytes photoWithExif(const ExifRecipe& recipe);

// The photo with its frame header changed to declare width x height pixels.
Bytes declaringSize(Bytes photo, std::uint16_t width, std::uint16_t height);

// A progressive photo whose last scan is repeated until it has `scans` scans.
Bytes progressiveWithScans(int scans);

} // namespace velo::cli::testing
