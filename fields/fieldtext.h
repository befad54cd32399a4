#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velo
{

// Display fields carry numbers as text: the geometry writes " 512", the scan reads 512
// back. These two functions are the only place either direction is done.

// One blank, then the number in plain decimal: a minus sign when negative, no grouping.
// 128 bits, so that products of three 64-bit geometry values are written exactly.
std::string fieldText(__int128 number);

// Blanks are skipped (anywhere before or inside the number), then an optional sign and
// the decimal digits the text begins with are taken; a text with no number reads as 0.
// A number beyond 64 bits reads as the largest one that fits.
std::int64_t fieldNumber(std::string_view text);

} // namespace velo
