#include "cli/outdir.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

std::vector<dev_t> loopDevicesBackedBy(const std::string& image, const std::string& sysBlock)
{
    std::vector<dev_t> found;
    struct stat imageStat {
    };
    if (::stat(image.c_str(), &imageStat) != 0)
        return found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysBlock, ec)) {
        std::ifstream in(entry.path() / "loop" / "backing_file");
        std::string backing;
        if (!std::getline(in, backing) || backing.empty())
            continue;
        struct stat backingStat {
        };
        if (::stat(backing.c_str(), &backingStat) != 0 || backingStat.st_dev != imageStat.st_dev ||
            backingStat.st_ino != imageStat.st_ino)
            continue;
        std::ifstream devFile(entry.path() / "dev");
        unsigned maj = 0, min = 0;
        char colon = 0;
        if (devFile >> maj >> colon >> min && colon == ':')
            found.push_back(makedev(maj, min));
    }
    return found;
}

std::string createFolders(const std::string& folder)
{
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return "cannot create " + folder + ": " + ec.message();
    return "";
}

namespace
{

std::string sysfsName(dev_t d)
{
    return std::to_string(major(d)) + ":" + std::to_string(minor(d));
}

std::optional<dev_t> readDevFile(const fs::path& file)
{
    std::ifstream in(file);
    unsigned maj = 0, min = 0;
    char colon = 0;
    if (in >> maj >> colon >> min && colon == ':')
        return makedev(maj, min);
    return std::nullopt;
}

// The device, its partitions and whatever is stacked on either, recursively.
void collectDerived(const fs::path& deviceDir, std::set<dev_t>& out, int depth)
{
    std::error_code ec;
    if (depth > 8 || !fs::is_directory(deviceDir, ec))
        return;
    if (auto d = readDevFile(deviceDir / "dev"); d && !out.insert(*d).second)
        return;
    for (const auto& entry : fs::directory_iterator(deviceDir, ec)) {
        if (fs::exists(entry.path() / "partition", ec))
            collectDerived(entry.path(), out, depth + 1);
    }
    for (const auto& holder : fs::directory_iterator(deviceDir / "holders", ec))
        collectDerived(fs::canonical(holder.path(), ec), out, depth + 1);
}

} // namespace

bool writesToDevice(const std::string& folder, dev_t device, const std::string& sysfsDevBlock)
{
    fs::path p = fs::absolute(folder);
    struct stat st {
    };
    while (::stat(p.c_str(), &st) != 0) {
        if (!p.has_parent_path() || p.parent_path() == p)
            return false;
        p = p.parent_path();
    }
    if (st.st_dev == device)
        return true;
    std::set<dev_t> derived;
    std::error_code ec;
    const fs::path dir = fs::canonical(fs::path(sysfsDevBlock) / sysfsName(device), ec);
    if (!ec)
        collectDerived(dir, derived, 0);
    return derived.count(st.st_dev) > 0;
}

} // namespace velo::cli
