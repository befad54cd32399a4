#include "cli/outdir.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>

namespace velo::cli
{

namespace fs = std::filesystem;

bool isCarvedFileName(const std::string& name)
{
    if (name.size() < 2 + 3 + 4 || !name.starts_with("DD") || !name.ends_with(".JPG"))
        return false;
    for (std::size_t i = 2; i < name.size() - 4; ++i)
        if (name[i] < '0' || name[i] > '9')
            return false;
    return true;
}

bool holdsEarlierRun(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (isCarvedFileName(entry->d_name)) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::string outdirProblem(const std::string& folder)
{
    // Walk up to the nearest thing that exists: it must be a folder.
    fs::path p = fs::absolute(folder);
    for (;;) {
        struct stat st {
        };
        if (::stat(p.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return p == fs::absolute(folder) ? folder + " is not a folder"
                                                 : p.string() + " is not a folder";
            return "";
        }
        if (errno != ENOENT && errno != ENOTDIR)
            return "cannot use " + folder + ": " + std::strerror(errno);
        if (!p.has_parent_path() || p.parent_path() == p)
            return "cannot use " + folder;
        p = p.parent_path();
    }
}

namespace
{

// The folder itself when it exists, else its path made absolute and plain.
bool sameFolder(const fs::path& a, const fs::path& b)
{
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::error_code ea, eb;
    const fs::path ca = fs::weakly_canonical(fs::absolute(a), ea);
    const fs::path cb = fs::weakly_canonical(fs::absolute(b), eb);
    return !ea && !eb && ca == cb;
}

} // namespace

bool namesCarvedFileIn(const std::string& path, const std::string& folder)
{
    const fs::path p = fs::absolute(path);
    if (!isCarvedFileName(p.filename().string()))
        return false;
    return sameFolder(p.parent_path(), folder.empty() ? fs::path(".") : fs::path(folder));
}

std::string createFolders(const std::string& folder)
{
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return "cannot create " + folder + ": " + ec.message();
    return "";
}

} // namespace velo::cli
