#include "platform/windows/windowssource.h"

#include <algorithm>
#include <cctype>
#include <windows.h>
#include <winioctl.h>

namespace velo::windows_backend
{

namespace
{

bool inDeviceNamespace(const std::string& path)
{
    return path.size() > 4 &&
           (path.compare(0, 4, "\\\\.\\") == 0 || path.compare(0, 4, "//./") == 0);
}

std::optional<std::uint64_t> deviceLength(HANDLE device)
{
    GET_LENGTH_INFORMATION length{};
    DWORD returned = 0;
    if (::DeviceIoControl(device, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length,
                          &returned, nullptr) &&
        returned >= sizeof length)
        return std::uint64_t(length.Length.QuadPart);
    // Wine answers no disk requests for a drive mapped to an image, but knows the image's
    // size; Windows answers the request above for every volume and disk.
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(device, &size))
        return std::uint64_t(size.QuadPart);
    return std::nullopt;
}

// The volume that holds path, as its volume name ("\\?\Volume{...}\") when the system
// gives one, else as its mount path ("E:\", or a folder a volume is mounted on).
std::string volumeOf(const std::string& path)
{
    char full[MAX_PATH] = {};
    if (::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr) == 0)
        return {};
    char mount[MAX_PATH] = {};
    if (!::GetVolumePathNameA(full, mount, sizeof mount))
        return {};
    char name[MAX_PATH] = {};
    if (::GetVolumeNameForVolumeMountPointA(mount, name, sizeof name))
        return name;
    std::string upper = mount;
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

} // namespace

bool writesToSourceVolume(const std::string& folder, const std::string& sourcePath)
{
    if (!(sourcePath.size() == 6 && inDeviceNamespace(sourcePath) && sourcePath[5] == ':'))
        return false;
    const std::string source = volumeOf(sourcePath.substr(4) + "\\");
    return !source.empty() && source == volumeOf(folder);
}

std::string lastErrorText()
{
    const DWORD code = ::GetLastError();
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string line = length != 0 && text ? std::string(text, length) : std::string();
    ::LocalFree(text);
    while (!line.empty() &&
           (line.back() == '\n' || line.back() == '\r' || line.back() == ' ' || line.back() == '.'))
        line.pop_back();
    if (line.empty())
        line = "system error " + std::to_string(code);
    ::SetLastError(code); // for a caller that reads the code after the text
    return line;
}

WindowsSource::WindowsSource(std::unique_ptr<WindowsDeviceHandle> handle, std::uint64_t sizeBytes,
                             std::uint32_t sectorBytes, bool isDevice)
    : handle_(std::move(handle)), sizeBytes_(sizeBytes), sectorBytes_(sectorBytes),
      isDevice_(isDevice)
{
}

std::unique_ptr<WindowsSource> WindowsSource::open(const std::string& path, std::string& error)
{
    auto fail = [&](const std::string& why) {
        error = "cannot open " + path + ": " + why;
        return nullptr;
    };
    const bool device = inDeviceNamespace(path);
    if (!device) {
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return fail("is a folder");
    }
    // Read access only, and others may go on using the volume: nothing here ever writes.
    HANDLE handle =
        ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, device ? 0 : FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return fail(lastErrorText());
    auto close = [&](const std::string& why) {
        ::CloseHandle(handle);
        return fail(why);
    };

    if (device) {
        const auto size = deviceLength(handle);
        if (!size)
            return close("cannot learn its size: " + lastErrorText());
        const std::uint32_t sector = deviceSectorBytes(handle).value_or(512);
        return std::unique_ptr<WindowsSource>(new WindowsSource(
            std::make_unique<WindowsDeviceHandle>(handle, sector), *size, sector, true));
    }
    if (::GetFileType(handle) != FILE_TYPE_DISK)
        return close("not a disk image or volume");
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle, &size))
        return close(lastErrorText());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info))
        return close(lastErrorText());
    auto source = std::unique_ptr<WindowsSource>(
        new WindowsSource(std::make_unique<WindowsDeviceHandle>(handle, 1),
                          std::uint64_t(size.QuadPart), 512, false));
    source->identity_ = FileIdentity{
        info.dwVolumeSerialNumber, (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return source;
}

std::int64_t WindowsSource::readAt(std::uint8_t* into, std::size_t count, std::uint64_t offset)
{
    // One ReadFile carries at most 4 GiB less a page of alignment; ask for less.
    const std::uint32_t ask = std::uint32_t(std::min<std::size_t>(count, std::size_t(1) << 30));
    std::uint32_t got = 0;
    if (!handle_->readAt(into, ask, offset, got))
        return -1;
    return got;
}

} // namespace velo::windows_backend
