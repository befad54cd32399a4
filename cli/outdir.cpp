#include "cli/outdir.h"

#include <filesystem>
#include <system_error>

namespace velo::cli
{

namespace fs = std::filesystem;

namespace
{

std::string inCapitals(std::string name)
{
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return name;
}

// Whether the folder has something under this entry's name in capitals, the name a run
// would create. Windows' file systems always ignore case. On Linux it depends on the file
// system (FAT and exFAT ignore it, ext4 only in a case-folding folder), and looking the
// name up answers exactly that. Not by inode: a FAT file system served through FUSE gives
// the two names different inode numbers.
bool foundInCapitals(const fs::path& entry)
{
#ifdef _WIN32
    (void)entry;
    return true;
#else
    std::error_code ec;
    return fs::exists(
        fs::symlink_status(entry.parent_path() / inCapitals(entry.filename().string()), ec));
#endif
}

} // namespace

bool isCarvedFileName(const std::string& name, LetterCase letterCase)
{
    const std::string capitals = letterCase == LetterCase::Ignored ? inCapitals(name) : name;
    if (capitals.size() < 2 + 3 + 4 || !capitals.starts_with("DD") || !capitals.ends_with(".JPG"))
        return false;
    for (std::size_t i = 2; i < capitals.size() - 4; ++i)
        if (capitals[i] < '0' || capitals[i] > '9')
            return false;
    return true;
}

bool holdsEarlierRun(const std::string& folder)
{
    std::error_code ec;
    for (fs::directory_iterator entry(folder, ec), end; !ec && entry != end; entry.increment(ec)) {
        const std::string name = entry->path().filename().string();
        if (isCarvedFileName(name) ||
            (isCarvedFileName(name, LetterCase::Ignored) && foundInCapitals(entry->path())))
            return true;
    }
    return false;
}

std::string outdirProblem(const std::string& folder)
{
    // Walk up to the nearest thing that exists: it must be a folder.
    fs::path p = fs::absolute(folder);
    for (;;) {
        std::error_code ec;
        const fs::file_status st = fs::status(p, ec);
        if (!ec) {
            if (!fs::is_directory(st))
                return p == fs::absolute(folder) ? folder + " is not a folder"
                                                 : p.string() + " is not a folder";
            return "";
        }
        if (ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
            return "cannot use " + folder + ": " + ec.message();
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
    std::error_code ec;
    const bool same = fs::equivalent(a, b, ec); // false without an error when one is missing
    if (!ec)
        return same;
    std::error_code ea, eb;
    const fs::path ca = fs::weakly_canonical(fs::absolute(a), ea);
    const fs::path cb = fs::weakly_canonical(fs::absolute(b), eb);
    return !ea && !eb && ca == cb;
}

} // namespace

bool namesCarvedFileIn(const std::string& path, const std::string& folder)
{
    const fs::path p = fs::absolute(path);
    if (!isCarvedFileName(p.filename().string(), LetterCase::Ignored))
        return false;
    return sameFolder(p.parent_path(), folder.empty() ? fs::path(".") : fs::path(folder));
}

namespace
{

std::string upper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return text;
}

} // namespace

bool namesFileIn(const std::string& path, const std::string& folder, const std::string& name)
{
    const fs::path p = fs::absolute(path);
    if (upper(p.filename().string()) != upper(name))
        return false;
    return sameFolder(p.parent_path(), folder.empty() ? fs::path(".") : fs::path(folder));
}

std::string sheetProblem(const std::string& folder, const std::string& name, bool overwrite)
{
    if (isCarvedFileName(upper(name)))
        return "the contact sheet " + name + " would be named like a carved photo";
    const fs::path path = fs::path(folder) / name;
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    if (ec || !fs::exists(st))
        return "";
    if (fs::is_directory(st))
        return "the contact sheet " + path.string() +
               " is a folder; give --sheet NAME or --no-sheet";
    if (!overwrite)
        return folder + " already holds " + name +
               "; give --overwrite to replace it, --sheet NAME for another name, or --no-sheet";
    return "";
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
