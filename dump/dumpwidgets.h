#pragma once

#include <cstdint>
#include <vector>

class QLabel;
class QLineEdit;

namespace velo
{

// The main window's DUMP: shows the first bytes of the sector buffer in text1 as a hex
// dump, as many as label3's number says (read the way every display field is read).
//
// text1 is switched to 8-point Courier first, whatever happens next. A sectorBuffer that
// is null (nothing read yet) or too short for the last line throws std::out_of_range
// before text1's text is touched; a count of zero, or a label3 with no number, empties it.
void dumpSector(QLineEdit& text1, const QLabel& label3,
                const std::vector<std::uint8_t>* sectorBuffer);

} // namespace velo
