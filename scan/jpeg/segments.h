#pragma once

#include "scan/jpeg/walkstate.h"

#include <cstdint>
#include <span>

namespace velo::jpeg
{

// A segment's lengths and values are big-endian.
inline std::uint16_t be16(const std::uint8_t* p)
{
    return std::uint16_t((p[0] << 8) | p[1]);
}

// The segments a walk reads whole, taken into its state: plain functions over a segment's
// payload, the bytes after its length. Each returns false for a segment that cannot be,
// which breaks the walk.

// SOFn: the image's size, components and sampling; whether its scans can be decoded
// (sequential Huffman, 8 or 12 bits, a known height).
bool readFrame(WalkState& s, std::uint8_t marker, std::span<const std::uint8_t> payload);

// DHT: the tables it defines replace those of the same class and number. They are built
// for decoding only once a scan uses them (startScan).
bool readTables(WalkState& s, std::span<const std::uint8_t> payload);

// SOS: starts the scan. s.decoding says whether it is decoded (a sequential scan of all
// 64 coefficients, with its tables, which are built then) or walked for its markers only.
bool startScan(WalkState& s, std::span<const std::uint8_t> payload);

// An APP2 MPF index from its TIFF header on (`base`: where that header lies in the file):
// the further images it declares, and the first image's declared size.
void readMpf(WalkState& s, std::span<const std::uint8_t> tiff, std::uint64_t base);

} // namespace velo::jpeg
