#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace velo
{

// Reads like pread(2): up to count bytes at offset; -1 (errno set) on failure, 0 at the
// end. Tests hand in one that fails, stops short or is interrupted on cue.
using ReadAt =
    std::function<std::int64_t(std::uint8_t* into, std::size_t count, std::uint64_t offset)>;

// Asks again after an interruption (EINTR) or a short answer, until count bytes are in,
// the source ends or a read fails. Returns the bytes read; error is errno of the failure,
// 0 when none failed.
inline std::size_t readFully(const ReadAt& readAt, std::uint8_t* into, std::size_t count,
                             std::uint64_t offset, int& error)
{
    error = 0;
    std::size_t done = 0;
    while (done < count) {
        const std::int64_t n = readAt(into + done, count - done, offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    return done;
}

} // namespace velo
