#pragma once

#include "platform/platform.h"

#include <string>

namespace velo::windows_backend
{

// An output folder held open by a handle that shares reading and writing but not
// deletion, so that while it is held the folder can be neither renamed, removed nor
// replaced by a link. Files are made by plain name under the folder's final path (the
// path the system gives for the handle, with no link left in it), always CREATE_NEW and
// FILE_FLAG_OPEN_REPARSE_POINT: a name that something has already, a planted link
// included, makes the create fail rather than open what is there.
class WindowsOutputFolder : public OutputFolder
{
public:
    // Opens the folder at path: an empty pointer when it cannot be opened or is not a
    // folder, or is itself a link (a junction or symbolic link), which would be held in
    // place of the folder it points to.
    static std::unique_ptr<WindowsOutputFolder> open(const std::string& path);

    ~WindowsOutputFolder() override;
    WindowsOutputFolder(const WindowsOutputFolder&) = delete;
    WindowsOutputFolder& operator=(const WindowsOutputFolder&) = delete;

    // A taken name is replaced by making the new file under a spare name beside it and
    // renaming it over the old one: the rename replaces the name alone, so a link's target
    // and the other names of a hard-linked file keep their bytes. Deleting the old name
    // first would not do: under Wine, deleting a name that is a symbolic link of the host
    // deletes the file it points to. A folder or a read-only file under the name is left
    // as it is and the create fails with NameTaken.
    std::unique_ptr<OutputFile> createFile(const std::string& name, IfNameTaken ifTaken,
                                           CreateFailure& failure) override;

    // A second handle on the folder that asks for write access and shares only reading.
    // Every holder of the folder, this one included, opens it for reading and shares
    // reading and writing, so they all still get in; another lock asks for writing, which
    // this one does not share, and is refused. Like a lock on the folder itself, it needs
    // no file of its own, and the system drops it with the handle when the run ends,
    // however it ends.
    bool lockExclusive() override;

private:
    WindowsOutputFolder(void* handle, std::string finalPath);

    void* handle_;
    std::string path_; // ends with the separator
    void* lock_ = nullptr;
};

} // namespace velo::windows_backend
