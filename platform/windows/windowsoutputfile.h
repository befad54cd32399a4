#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <string>
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
    void close() override;

    // Whether a write, the last flush or the close failed.
    bool failed() const { return failed_; }

private:
    bool writeAll(const std::uint8_t* data, std::size_t size);
    bool flush();

    void* handle_;
    std::size_t bufferBytes_;
    std::vector<std::uint8_t> buffer_;
    bool failed_ = false;
};

// Creates the file at path for this run, never writing through what is already there.
// Whatever holds the name (an earlier run's file, a symbolic link, a hard link to
// someone's file) is replaced by a new file: a link's target and the other names of a
// hard-linked file keep their bytes. A folder or a read-only file under the name is a
// failure and stays as it was. Returns the handle, open for writing, or nullptr.
void* createFreshFile(const std::string& path);

} // namespace velo::windows_backend
