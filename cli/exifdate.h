#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velo::cli
{

// The date the camera recorded in a photo's EXIF block: DateTimeOriginal, else DateTime
// from the first image's directory; "" when there is neither. "2008:07:31 10:38:11" comes
// back as "2008-07-31 10:38:11"; text of any other form comes back as the card holds it
// (up to its first zero byte, at most kMostDateChars), so it must be escaped before it is
// shown. Only the segments before the first scan are looked at, and every offset is
// checked against the bytes given: a corrupt or made-up block yields "" or its text, never
// a read outside them.
std::string exifDate(std::span<const std::uint8_t> photo);

inline constexpr std::size_t kMostDateChars = 64;

} // namespace velo::cli
