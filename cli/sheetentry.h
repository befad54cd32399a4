#pragma once

#include "cli/thumbnail.h"
#include "scan/filesink.h"

#include <string>

namespace velo::cli
{

// What the contact sheet shows of one carved file, read back from the folder it was
// written to.
struct SheetEntry {
    CarvedFile file;
    Thumbnail thumbnail;    // Failed, with a note, when the file is not there to read
    std::string cameraDate; // as exifDate gives it; "" when there is none

    // Reads the file named file.name in folder (at most Thumbnail::kMostInputBytes of it)
    // and makes its thumbnail and date; without previews, the date alone.
    static SheetEntry read(const CarvedFile& file, const std::string& folder, bool previews);

    // Damaged or truncated by its verdict, not written whole, or its thumbnail could not be
    // made or shows errors in the data.
    bool broken() const;
};

} // namespace velo::cli
