#include "platform/windows/windowsoutputfile.h"

#include <string>
#include <windows.h>

namespace velo::windows_backend
{

namespace
{

HANDLE createNew(const std::string& path, DWORD access, DWORD share)
{
    // FILE_FLAG_OPEN_REPARSE_POINT: a link that appears under the name is never followed.
    return ::CreateFileA(path.c_str(), access, share, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool nameTaken(DWORD error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// Deletes the file behind our own handle, by the handle: never by a name that someone
// could have pointed elsewhere in the meantime.
void discard(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
    ::CloseHandle(file);
}

} // namespace

void* createFreshFile(const std::string& path)
{
    HANDLE file = createNew(path, GENERIC_WRITE, FILE_SHARE_READ);
    if (file != INVALID_HANDLE_VALUE)
        return file;
    if (!nameTaken(::GetLastError()))
        return nullptr;

    // Something holds the name. The new file is made under a name of its own beside it
    // and then renamed over the old one: a rename replaces the name alone, so a link's
    // target or another name of a hard-linked file keeps its bytes. Deleting the old name
    // first would not do: under Wine, deleting a name that is a link of the host deletes
    // the file it points to. A folder refuses the rename. A file marked read-only is left
    // alone too, as Windows would refuse the rename; Wine would not, hence the check.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return nullptr;
    const std::string prefix = path + ".velo-" + std::to_string(::GetCurrentProcessId()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string spare = prefix + std::to_string(attempt);
        file = createNew(spare, GENERIC_WRITE | DELETE,
                         FILE_SHARE_READ | FILE_SHARE_DELETE); // DELETE sharing: the rename
        if (file == INVALID_HANDLE_VALUE) {
            if (nameTaken(::GetLastError()))
                continue;
            return nullptr;
        }
        if (!::MoveFileExA(spare.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            discard(file);
            return nullptr;
        }
        return file;
    }
    return nullptr;
}

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

void WindowsOutputFile::close()
{
    if (handle_ == nullptr)
        return;
    if (!failed_)
        flush();
    buffer_.clear();
    buffer_.shrink_to_fit();
    if (!::CloseHandle(static_cast<HANDLE>(handle_)))
        failed_ = true;
    handle_ = nullptr;
}

} // namespace velo::windows_backend
