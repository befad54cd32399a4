#include "platform/linux/linuxoutputfolder.h"

#include "platform/linux/linuxoutputfile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace velo::linux_backend
{

namespace
{

bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

CreateFailure failureOf(int error)
{
    switch (error) {
    case EEXIST:
        return CreateFailure::NameTaken;
    case ENOSPC:
    case EDQUOT:
        return CreateFailure::NoSpace;
    default:
        return CreateFailure::Other;
    }
}

} // namespace

LinuxOutputFolder::LinuxOutputFolder(int folderFd) : folderFd_(folderFd) {}

LinuxOutputFolder::~LinuxOutputFolder()
{
    if (folderFd_ >= 0)
        ::close(folderFd_);
}

std::unique_ptr<OutputFile>
LinuxOutputFolder::createFile(const std::string& name, IfNameTaken ifTaken, CreateFailure& failure)
{
    failure = CreateFailure::Other;
    if (!isPlainName(name))
        return nullptr;
    // Removing the name first replaces a link or a hard link rather than writing through
    // it. A folder of that name is not removed (unlinkat refuses it) and the create fails.
    if (ifTaken == IfNameTaken::Replace)
        ::unlinkat(folderFd_, name.c_str(), 0);
    const int fd = ::openat(folderFd_, name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        failure = failureOf(errno);
        return nullptr;
    }
    failure = CreateFailure::None;
    return std::make_unique<LinuxOutputFile>(fd);
}

bool LinuxOutputFolder::lockExclusive()
{
    for (;;) {
        if (::flock(folderFd_, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

} // namespace velo::linux_backend
