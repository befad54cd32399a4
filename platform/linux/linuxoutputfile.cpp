#include "platform/linux/linuxoutputfile.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace velo::linux_backend
{

LinuxOutputFile::LinuxOutputFile(int fd, WriteSome writeSome, std::size_t bufferSize)
    : fd_(fd), writeSome_(writeSome ? std::move(writeSome) : WriteSome(::write)),
      bufferSize_(bufferSize == 0 ? 1 : bufferSize)
{
}

LinuxOutputFile::~LinuxOutputFile()
{
    close();
}

// Keeps going after a partial write, as write(2) may legitimately stop short (a signal,
// a pipe); a call that writes nothing or fails other than by interruption is the end.
bool LinuxOutputFile::writeAll(const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = writeSome_(fd_, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            failed_ = true;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool LinuxOutputFile::flush()
{
    const bool ok = writeAll(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
}

bool LinuxOutputFile::write(std::span<const std::uint8_t> bytes)
{
    if (failed_ || fd_ < 0)
        return false;
    // A piece as large as the buffer gains nothing from a copy: it goes straight to the
    // system, after what is buffered.
    if (bytes.size() >= bufferSize_)
        return flush() && writeAll(bytes.data(), bytes.size());
    if (buffer_.size() + bytes.size() > bufferSize_ && !flush())
        return false;
    if (buffer_.capacity() < bufferSize_)
        buffer_.reserve(bufferSize_); // only now: many files never need it
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    return true;
}

bool LinuxOutputFile::close()
{
    if (fd_ < 0)
        return !failed_;
    if (!failed_)
        flush();
    buffer_.clear();
    buffer_.shrink_to_fit();
    if (modified_) {
        const timespec times[2] = {{0, UTIME_OMIT}, {time_t(*modified_), 0}};
        ::futimens(fd_, times);
    }
    // Not retried on EINTR: on Linux the descriptor is released whatever close returns.
    // A failure here (EIO on a network file system) means bytes were lost.
    if (::close(fd_) != 0 && errno != EINTR)
        failed_ = true;
    fd_ = -1;
    return !failed_;
}

} // namespace velo::linux_backend
