#pragma once

#include "platform/platform.h"

namespace velo
{

// Program-wide, written only at start-up: 1 on the 95/98/Me family, whose raw sectors
// come through the VWIN32 service; 0 everywhere else.
inline int platformFlag = 0;

// 1 when the platform reports the 95/98/Me family, otherwise 0.
int IsWin9x(Platform& platform);

} // namespace velo
