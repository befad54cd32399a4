#include "platform/windows/windowsoutputfolder.h"

#include "platform/windows/windowsoutputfile.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <windows.h>

namespace velo::windows_backend
{

namespace
{

// The names that Windows takes for devices in any folder, whatever their extension.
bool isDeviceName(const std::string& name)
{
    std::string base = name.substr(0, name.find('.'));
    for (char& c : base)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    static constexpr std::string_view kDevices[] = {"CON", "PRN",    "AUX",
                                                    "NUL", "CONIN$", "CONOUT$"};
    if (std::find(std::begin(kDevices), std::end(kDevices), base) != std::end(kDevices))
        return true;
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
           base[3] >= '0' && base[3] <= '9';
}

// One name inside the folder and nothing else: no separator, no stream (":"), none of the
// characters Windows refuses, and no trailing dot or space, which Windows would drop and
// so name another file.
bool isPlainName(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.back() == '.' || name.back() == ' ')
        return false;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 32 ||
            std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos)
            return false;
    }
    return !isDeviceName(name);
}

CreateFailure failureOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return CreateFailure::NameTaken;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return CreateFailure::NoSpace;
    default:
        return CreateFailure::Other;
    }
}

HANDLE createNew(const std::string& path, DWORD access, DWORD share)
{
    // FILE_FLAG_OPEN_REPARSE_POINT: a link that appears under the name is never followed.
    return ::CreateFileA(path.c_str(), access, share, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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

// The path of the folder behind handle, as the system resolves it.
std::string finalPathOf(HANDLE handle)
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleA(handle, path.data(), DWORD(path.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length); // too small: length is the room needed
    }
}

} // namespace

std::unique_ptr<WindowsOutputFolder> WindowsOutputFolder::open(const std::string& path)
{
    // Read access, shared with readers and writers but not with deleters: nobody can
    // rename or remove the folder while it is held. FILE_FLAG_BACKUP_SEMANTICS opens a
    // folder at all; FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which is refused.
    HANDLE folder =
        ::CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    std::string finalPath;
    if (::GetFileInformationByHandle(folder, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        finalPath = finalPathOf(folder);
    if (finalPath.empty()) {
        ::CloseHandle(folder);
        return nullptr;
    }
    if (finalPath.back() != '\\')
        finalPath += '\\';
    return std::unique_ptr<WindowsOutputFolder>(
        new WindowsOutputFolder(folder, std::move(finalPath)));
}

WindowsOutputFolder::WindowsOutputFolder(void* handle, std::string finalPath)
    : handle_(handle), path_(std::move(finalPath))
{
}

WindowsOutputFolder::~WindowsOutputFolder()
{
    if (lock_ != nullptr)
        ::CloseHandle(static_cast<HANDLE>(lock_));
    ::CloseHandle(static_cast<HANDLE>(handle_));
}

std::unique_ptr<OutputFile> WindowsOutputFolder::createFile(const std::string& name,
                                                            IfNameTaken ifTaken,
                                                            CreateFailure& failure)
{
    failure = CreateFailure::Other;
    if (!isPlainName(name))
        return nullptr;
    const std::string path = path_ + name;
    HANDLE file = createNew(path, GENERIC_WRITE, FILE_SHARE_READ);
    if (file != INVALID_HANDLE_VALUE) {
        failure = CreateFailure::None;
        return std::make_unique<WindowsOutputFile>(file);
    }
    failure = failureOf(::GetLastError());
    if (failure != CreateFailure::NameTaken || ifTaken != IfNameTaken::Replace)
        return nullptr;

    // A folder refuses the rename below. A file marked read-only is left alone too, as
    // Windows would refuse the rename; Wine would not, hence the check.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return nullptr; // NameTaken
    const std::string prefix = path + ".velo-" + std::to_string(::GetCurrentProcessId()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string spare = prefix + std::to_string(attempt);
        file = createNew(spare, GENERIC_WRITE | DELETE,
                         FILE_SHARE_READ | FILE_SHARE_DELETE); // DELETE sharing: the rename
        if (file == INVALID_HANDLE_VALUE) {
            failure = failureOf(::GetLastError());
            if (failure == CreateFailure::NameTaken)
                continue;
            return nullptr;
        }
        if (!::MoveFileExA(spare.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            failure = failureOf(::GetLastError());
            discard(file);
            return nullptr;
        }
        failure = CreateFailure::None;
        return std::make_unique<WindowsOutputFile>(file);
    }
    failure = CreateFailure::Other; // a hundred spare names, all taken
    return nullptr;
}

bool WindowsOutputFolder::lockExclusive()
{
    if (lock_ != nullptr)
        return true;
    HANDLE lock =
        ::CreateFileA(path_.c_str(), FILE_ADD_FILE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (lock == INVALID_HANDLE_VALUE)
        return false;
    lock_ = lock;
    return true;
}

} // namespace velo::windows_backend
