#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <sys/types.h>

namespace velo::linux_backend
{

// Reads like pread(2): up to count bytes at offset; -1 (errno set) on failure, 0 at the
// end. Tests hand in one that fails, stops short or is interrupted on cue.
using ReadAt = std::function<ssize_t(std::uint8_t* into, std::size_t count, std::uint64_t offset)>;

// pread on a descriptor.
ReadAt preadFrom(int fd);

// Asks again after an interruption (EINTR) or a short answer, until count bytes are in,
// the source ends or a read fails. Returns the bytes read; error is errno of the failure,
// 0 when none failed.
std::size_t readFully(const ReadAt& readAt, std::uint8_t* into, std::size_t count,
                      std::uint64_t offset, int& error);

} // namespace velo::linux_backend
