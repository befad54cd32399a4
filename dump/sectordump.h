#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velo
{

// The hex dump of a run of sector bytes, one line per 16 bytes:
//
//   000 FF D8 FF E0 00 10 4A 46 49 46 00 01 01 01 00 48  ......JFIF.....H<CR><LF>
//
// The offset is upper-case hex of at least three digits, then each byte as two hex digits
// and a blank, one more blank, then the bytes as characters. Lines are taken for every
// offset 0, 16, 32, ... up to lastOffset, and each line always takes all 16 of its bytes,
// so a lastOffset inside a line still needs the whole line in `bytes`. A negative
// lastOffset gives the empty text.
//
// The text is UTF-8. Bytes 20-7F show as their ASCII character (7F, DEL, included: every
// byte from 32 up is a character, only those below are control bytes), A1-DF as the
// half-width katakana they stand for in the Japanese single-byte code (U+FF61-U+FF9F),
// everything else as ".": the control bytes 00-1F, and 80-A0 and E0-FF, which are either
// unassigned or only the first half of a double-byte character there.
//
// Throws std::out_of_range when `bytes` ends before the last line does.
std::string sectorDump(std::span<const std::uint8_t> bytes, std::int64_t lastOffset);

// The character column's text for one byte, as described above.
std::string dumpCharacter(std::uint8_t byte);

} // namespace velo
