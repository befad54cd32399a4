#pragma once

#include "platform/readat.h"

namespace velo::linux_backend
{

using velo::ReadAt;
using velo::readFully;

// pread on a descriptor.
ReadAt preadFrom(int fd);

} // namespace velo::linux_backend
