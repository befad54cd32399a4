#include "platform/carvesystem.h"

#include "platform/windows/consolestop.h"
#include "platform/windows/windowsdevicehandle.h"
#include "platform/windows/windowsplatform.h"
#include "platform/windows/windowssource.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <mutex>
#include <windows.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace velo
{

namespace
{

using windows_backend::FileIdentity;
using windows_backend::lastErrorText;
using windows_backend::WindowsSource;

bool inDeviceNamespace(const std::string& path)
{
    return path.size() >= 4 && (path[0] == '\\' || path[0] == '/') &&
           (path[1] == '\\' || path[1] == '/') && (path[2] == '.' || path[2] == '?') &&
           (path[3] == '\\' || path[3] == '/');
}

// The errno that stands for a failed read: ENODEV when the device has gone (a card reader
// unplugged, the card taken out), which ends the carve at once; EIO for anything else, a
// bad sector included.
int readErrno(DWORD error)
{
    return windows_backend::meansDeviceGone(error) ? ENODEV : EIO;
}

int createErrno(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

HANDLE createNew(const std::string& path)
{
    // FILE_FLAG_OPEN_REPARSE_POINT: a link that appears under the name is never followed.
    // DELETE access and sharing: a file made under a spare name is renamed into place.
    return ::CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                         nullptr);
}

// Deletes the file behind our own handle, by the handle.
void discard(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
    ::CloseHandle(file);
}

// A new file under path. A name that is taken is replaced by making the file under a spare
// name beside it and renaming it over the old one: the rename replaces the name alone, so
// whatever the old name led to (under Wine a link of the host looks like a plain file)
// keeps its bytes.
HANDLE createReplacing(const std::string& path)
{
    HANDLE file = createNew(path);
    if (file != INVALID_HANDLE_VALUE)
        return file;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
        return INVALID_HANDLE_VALUE;
    const std::string prefix = path + ".velo-" + std::to_string(::GetCurrentProcessId()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string spare = prefix + std::to_string(attempt);
        file = createNew(spare);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD spareError = ::GetLastError();
            if (spareError == ERROR_FILE_EXISTS || spareError == ERROR_ALREADY_EXISTS)
                continue;
            return INVALID_HANDLE_VALUE;
        }
        if (!::MoveFileExA(spare.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            const DWORD moveError = ::GetLastError();
            discard(file);
            ::SetLastError(moveError);
            return INVALID_HANDLE_VALUE;
        }
        return file;
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

class WindowsCarveSource : public CarveSource
{
public:
    WindowsCarveSource(std::unique_ptr<WindowsSource> source, std::string path)
        : source_(std::move(source)), path_(std::move(path))
    {
    }

    std::uint64_t sizeBytes() const override { return source_->sizeBytes(); }
    std::uint32_t sectorBytes() const override { return source_->sectorBytes(); }

    ReadAt chunkReader() override
    {
        WindowsSource* source = source_.get();
        std::mutex* reading = &reading_;
        return [source, reading](std::uint8_t* into, std::size_t count, std::uint64_t offset) {
            // A volume is read through one sector-aligned buffer: one read at a time.
            const std::lock_guard lock(*reading);
            const std::int64_t got = source->readAt(into, count, offset);
            if (got < 0)
                errno = readErrno(::GetLastError());
            return got;
        };
    }

    // A volume is read uncached, in whole sectors: the chunk reads lose no more than the
    // sectors that fail.
    ReadAt sectorReader() override { return {}; }

    // A volume named as "\\.\E:" whose files the folder would be among. An image file on
    // a mounted virtual disk is not matched.
    bool outputLiesOnSource(const std::string& folder) const override
    {
        return windows_backend::writesToSourceVolume(folder, path_);
    }

    std::string reportProblem(const std::string& path) const override
    {
        if (inDeviceNamespace(path))
            return "will not write the report over the device " + path;
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                return "";
            return "cannot write " + path + ": " + lastErrorText();
        }
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return "the report " + path + " is a link; name the file itself";
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return "cannot write " + path + ": Is a directory";
        HANDLE file = ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return "cannot write " + path + ": " + lastErrorText();
        std::string problem;
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileType(file) != FILE_TYPE_DISK)
            problem = "will not write the report over the device " + path;
        else if (!::GetFileInformationByHandle(file, &info))
            problem = "cannot write " + path + ": " + lastErrorText();
        else if (source_->fileIdentity() ==
                 FileIdentity{info.dwVolumeSerialNumber,
                              (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow})
            problem = "the report " + path + " is the source itself";
        else if (info.nNumberOfLinks > 1)
            problem =
                "the report " + path + " has other names (hard links); name a file of its own";
        ::CloseHandle(file);
        return problem;
    }

    // Always a new file: nothing that was under the name is written to.
    std::FILE* openReport(const std::string& path) const override
    {
        HANDLE file = createReplacing(path);
        if (file == INVALID_HANDLE_VALUE) {
            errno = createErrno(::GetLastError());
            return nullptr;
        }
        const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
        if (fd < 0) {
            ::CloseHandle(file);
            errno = EIO;
            return nullptr;
        }
        std::FILE* stream = ::_fdopen(fd, "wb");
        if (!stream) {
            ::_close(fd);
            errno = EIO;
        }
        return stream;
    }

private:
    std::unique_ptr<WindowsSource> source_;
    std::string path_;
    std::mutex reading_;
};

} // namespace

std::unique_ptr<CarveSource> openCarveSource(const std::string& path, std::string& error)
{
    auto source = WindowsSource::open(path, error);
    if (!source) {
        errno = createErrno(::GetLastError());
        return nullptr;
    }
    return std::make_unique<WindowsCarveSource>(std::move(source), path);
}

std::unique_ptr<Platform> nativePlatform()
{
    return std::make_unique<WindowsPlatform>();
}

void installStopHandlers(std::atomic<bool>& flag)
{
    // A write to a pipe whose reader has gone fails (EPIPE or EINVAL) and ends nothing.
    windows_backend::installConsoleStopHandler(flag);
}

std::FILE* reportToStandardOutput()
{
    // The same bytes as on every system: lines end in "\n" alone.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    return stdout;
}

bool progressLineFits()
{
    // A console takes the erase-line sequence once asked to (Windows 10 and later).
    HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!::GetConsoleMode(error, &mode))
        return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

bool removeEmptyFolder(const std::string& path)
{
    // A link to a folder is not a folder of this run's making; RemoveDirectory would take
    // the link away.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return ::RemoveDirectoryA(path.c_str()) != 0;
}

} // namespace velo
