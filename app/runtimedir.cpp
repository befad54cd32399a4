#include "app/runtimedir.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace velo
{

namespace
{

// A folder that is ours alone: not a link (lstat does not follow it), owned by uid, with
// mode 0700 exactly, as Qt wants it.
bool isPrivateFolder(const std::string& path, unsigned uid)
{
    struct stat st {
    };
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid &&
           (st.st_mode & 0777) == 0700;
}

} // namespace

std::string privateRuntimeDir(const std::string& tmpBase, unsigned uid)
{
    const std::string stable = tmpBase + "/velo-recovery-runtime-" + std::to_string(uid);
    // mkdir never follows a link in the last part of the name: a link there is EEXIST.
    if (::mkdir(stable.c_str(), 0700) == 0 || (errno == EEXIST && isPrivateFolder(stable, uid)))
        return stable;
    std::string pattern = stable + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr)
        return {};
    return name.data();
}

void ensureRuntimeDir()
{
    const char* current = std::getenv("XDG_RUNTIME_DIR");
    if (current != nullptr && *current != '\0')
        return;
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = tmp != nullptr && *tmp == '/' ? tmp : "/tmp";
    const std::string dir = privateRuntimeDir(base, ::geteuid());
    if (!dir.empty())
        ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
}

} // namespace velo
