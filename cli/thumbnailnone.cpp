// Thumbnails in a build without libjpeg (the Windows cross-build: Debian has no libjpeg
// for mingw-w64). The contact sheet is written all the same, each file without a picture.

#include "cli/thumbnail.h"

namespace velo::cli
{

bool Thumbnail::decoderBuiltIn()
{
    return false;
}

Thumbnail Thumbnail::of(std::span<const std::uint8_t>)
{
    Thumbnail t;
    t.outcome = Outcome::Skipped;
    t.note = "this build of velo-carve makes no thumbnails";
    return t;
}

} // namespace velo::cli
