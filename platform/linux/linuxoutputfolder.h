#pragma once

#include "platform/platform.h"

namespace velo::linux_backend
{

// An output folder held open by its descriptor. Files are made with openat(2) relative
// to it, O_CREAT | O_EXCL | O_NOFOLLOW: a name that something has already (a planted
// link included) makes the create fail rather than write through it.
class LinuxOutputFolder : public OutputFolder
{
public:
    // Takes ownership of folderFd, a descriptor opened with O_DIRECTORY.
    explicit LinuxOutputFolder(int folderFd);
    ~LinuxOutputFolder() override;

    LinuxOutputFolder(const LinuxOutputFolder&) = delete;
    LinuxOutputFolder& operator=(const LinuxOutputFolder&) = delete;

    std::unique_ptr<OutputFile> createFile(const std::string& name, IfNameTaken ifTaken,
                                           CreateFailure& failure) override;
    // flock(2) on the folder itself, so it needs no file of its own and ends with the run.
    bool lockExclusive() override;

private:
    int folderFd_;
};

} // namespace velo::linux_backend
