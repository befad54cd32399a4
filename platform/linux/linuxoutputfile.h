#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace velo::linux_backend
{

// A file written from its first byte. Small pieces (the window hands over one sector at
// a time) are gathered in a buffer, since a system call for each would dominate the run;
// a piece as large as the buffer (velo-carve hands over a photo's run of sectors in one)
// is written where it lies, without a copy. The buffer stays below malloc's mmap
// threshold, so that a run of many files reuses one block of memory.
//
// A write reports the failure of any write(2) that it causes. Because of the buffer, a
// failure can surface on a later write than the one whose bytes were lost, or only in
// close(); either way nothing is accepted after it, so the file holds an exact prefix of
// what was handed to it.
class LinuxOutputFile : public OutputFile
{
public:
    using WriteSome = std::function<ssize_t(int fd, const void* buffer, size_t count)>;

    static constexpr std::size_t kDefaultBufferSize = std::size_t{64} << 10;

    // Takes ownership of fd. writeSome stands in for write(2) where a test needs short
    // writes or interruptions on cue.
    explicit LinuxOutputFile(int fd, WriteSome writeSome = {},
                             std::size_t bufferSize = kDefaultBufferSize);
    ~LinuxOutputFile() override;

    LinuxOutputFile(const LinuxOutputFile&) = delete;
    LinuxOutputFile& operator=(const LinuxOutputFile&) = delete;

    bool write(std::span<const std::uint8_t> bytes) override;
    bool close() override;
    void keepModifiedTime(std::int64_t unixSeconds) override { modified_ = unixSeconds; }

private:
    bool flush();
    bool writeAll(const std::uint8_t* data, std::size_t size);

    int fd_;
    WriteSome writeSome_;
    std::size_t bufferSize_;
    std::vector<std::uint8_t> buffer_;
    bool failed_ = false;
    std::optional<std::int64_t> modified_;
};

} // namespace velo::linux_backend
