#include "platform/windows/windowsoutputfile.h"

#include <windows.h>

namespace velo::windows_backend
{

WindowsOutputFile::WindowsOutputFile(void* handle, std::size_t bufferBytes)
    : handle_(handle), bufferBytes_(bufferBytes == 0 ? 1 : bufferBytes)
{
}

WindowsOutputFile::~WindowsOutputFile()
{
    close();
}

bool WindowsOutputFile::writeAll(const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const DWORD piece = size > 0x40000000 ? 0x40000000 : DWORD(size);
        DWORD written = 0;
        if (!::WriteFile(static_cast<HANDLE>(handle_), data, piece, &written, nullptr) ||
            written == 0) {
            failed_ = true;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool WindowsOutputFile::flush()
{
    const bool ok = writeAll(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
}

bool WindowsOutputFile::write(std::span<const std::uint8_t> bytes)
{
    if (failed_ || handle_ == nullptr)
        return false;
    while (!bytes.empty()) {
        if (buffer_.empty() && bytes.size() >= bufferBytes_)
            return writeAll(bytes.data(), bytes.size());
        if (buffer_.capacity() < bufferBytes_)
            buffer_.reserve(bufferBytes_); // only now: many files never need it
        const std::size_t room = bufferBytes_ - buffer_.size();
        const std::size_t take = bytes.size() < room ? bytes.size() : room;
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + take);
        bytes = bytes.subspan(take);
        if (buffer_.size() == bufferBytes_ && !flush())
            return false;
    }
    return true;
}

bool WindowsOutputFile::close()
{
    if (handle_ == nullptr)
        return !failed_;
    if (!failed_)
        flush();
    buffer_.clear();
    buffer_.shrink_to_fit();
    if (modified_) {
        // FILETIME counts 100 ns steps from 1601.
        const std::uint64_t ticks = std::uint64_t(*modified_ + 11644473600LL) * 10000000ULL;
        FILETIME written{DWORD(ticks), DWORD(ticks >> 32)};
        ::SetFileTime(static_cast<HANDLE>(handle_), nullptr, nullptr, &written);
    }
    if (!::CloseHandle(static_cast<HANDLE>(handle_)))
        failed_ = true;
    handle_ = nullptr;
    return !failed_;
}

} // namespace velo::windows_backend
