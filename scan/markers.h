#pragma once

// The byte patterns both carving rules look for.

#include <algorithm>
#include <cstdint>
#include <span>

namespace velo
{

// JPEG markers by their second byte (the first is FF).
namespace marker
{
constexpr std::uint8_t kStartOfImage = 0xD8;
constexpr std::uint8_t kEndOfImage = 0xD9;
// Those the JPEG rule reads between the two.
constexpr std::uint8_t kDefineTables = 0xC4;    // DHT
constexpr std::uint8_t kRestart0 = 0xD0;        // RST0; RSTn is kRestart0 + n, n < 8
constexpr std::uint8_t kStartOfScan = 0xDA;     // SOS
constexpr std::uint8_t kRestartInterval = 0xDD; // DRI
constexpr std::uint8_t kApp2 = 0xE2;            // APP2, which holds an MPF index
} // namespace marker

// Whether the bytes begin FF D8 FF: a start-of-image marker followed by another marker's
// FF. A sector that begins so starts a file.
inline bool beginsJpeg(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == marker::kStartOfImage &&
           bytes[2] == 0xFF;
}

// Whether the bytes hold none of 0x80 or more. JPEG entropy-coded data never runs 64
// bytes without one; text and zeros do.
inline bool plainBytes(std::span<const std::uint8_t> bytes)
{
    return std::none_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b & 0x80; });
}
constexpr std::size_t kPlainRunBytes = 64;

} // namespace velo
