#pragma once

#include "platform/platform.h"

namespace velo
{

// The platform test: 1 when the platform reports the 95/98/Me family, otherwise 0.
int IsWin9x(Platform& platform);

} // namespace velo
