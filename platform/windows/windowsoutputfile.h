#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace velo::windows_backend
{

// A file this run has just created, written through a buffer. A write that fails ends
// the file: nothing more is accepted, so it holds an exact prefix of what it was given.
class WindowsOutputFile : public OutputFile
{
public:
    static constexpr std::size_t kDefaultBufferBytes = std::size_t(64) << 10;

    // Takes ownership of handle (a Win32 HANDLE open for writing).
    explicit WindowsOutputFile(void* handle, std::size_t bufferBytes = kDefaultBufferBytes);
    ~WindowsOutputFile() override;
    WindowsOutputFile(const WindowsOutputFile&) = delete;
    WindowsOutputFile& operator=(const WindowsOutputFile&) = delete;

    bool write(std::span<const std::uint8_t> bytes) override;

    // Flushes and closes the handle; a second call only answers again. True when every
    // byte handed over was written and the handle closed cleanly: !failed() afterwards.
    bool close() override;
    void keepModifiedTime(std::int64_t unixSeconds) override { modified_ = unixSeconds; }

    // Whether a write, the last flush or the close failed.
    bool failed() const { return failed_; }

private:
    bool writeAll(const std::uint8_t* data, std::size_t size);
    bool flush();

    void* handle_;
    std::size_t bufferBytes_;
    std::vector<std::uint8_t> buffer_;
    std::optional<std::int64_t> modified_;
    bool failed_ = false;
};

} // namespace velo::windows_backend
