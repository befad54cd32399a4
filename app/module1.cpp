#include "app/module1.h"

namespace velo
{

int IsWin9x(Platform& platform)
{
    return platform.platformIdentifier() == kPlatformWin9x ? 1 : 0;
}

} // namespace velo
