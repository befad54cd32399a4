#include "platform/carvesystem.h"

#include "platform/linux/blocksource.h"
#include "platform/linux/directsectorreader.h"
#include "platform/linux/linuxplatform.h"
#include "platform/linux/readat.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velo
{

namespace
{

using linux_backend::Source;

class LinuxCarveSource : public CarveSource
{
public:
    explicit LinuxCarveSource(Source source) : source_(std::move(source)) {}
    ~LinuxCarveSource() override { ::close(source_.fd); }
    LinuxCarveSource(const LinuxCarveSource&) = delete;
    LinuxCarveSource& operator=(const LinuxCarveSource&) = delete;

    std::uint64_t sizeBytes() const override { return source_.sizeBytes; }
    std::uint32_t sectorBytes() const override { return source_.logicalSectorSize; }

    ReadAt chunkReader() override { return linux_backend::preadFrom(source_.fd); }

    // A block device fails a whole page of the page cache for one bad sector: a failed
    // chunk is read again around the cache, so that only the sectors that fail are lost.
    ReadAt sectorReader() override
    {
        std::shared_ptr<linux_backend::DirectSectorReader> direct =
            source_.blockDevice ? linux_backend::DirectSectorReader::forDevice(source_.fd)
                                : nullptr;
        if (!direct)
            return {};
        return [direct](std::uint8_t* into, std::size_t count, std::uint64_t offset) {
            return std::int64_t(direct->readAt(into, count, offset));
        };
    }

    bool outputLiesOnSource(const std::string& folder) const override
    {
        return linux_backend::outputLiesOnSource(folder, source_);
    }

    std::string reportProblem(const std::string& path) const override
    {
        struct stat st {
        };
        if (::lstat(path.c_str(), &st) == 0) {
            if (S_ISLNK(st.st_mode))
                return "the report " + path + " is a link; name the file itself";
            if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode))
                return "will not write the report over the device " + path;
            if (S_ISDIR(st.st_mode))
                return "cannot write " + path + ": Is a directory";
            if (isSource(st))
                return "the report " + path + " is the source itself";
            if (isBehindSource(st))
                return "the report " + path + " is the image file behind the device being read";
            if (st.st_nlink > 1)
                return "the report " + path +
                       " has other names (hard links); name a file of its own";
        } else if (errno != ENOENT) {
            return "cannot write " + path + ": " + std::strerror(errno);
        }
        return "";
    }

    // What was opened is checked again before it is emptied, so that a device or the
    // source put in the report's place after the checks is left alone.
    std::FILE* openReport(const std::string& path) const override
    {
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0)
            return nullptr;
        struct stat st {
        };
        const bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink <= 1 &&
                          !isSource(st) && !isBehindSource(st);
        std::FILE* stream = nullptr;
        if (ours && ::ftruncate(fd, 0) == 0 &&
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
            stream = ::fdopen(fd, "w");
        if (!stream) {
            const int error = ours ? errno : EINVAL;
            ::close(fd);
            errno = error;
        }
        return stream;
    }

private:
    bool isSource(const struct stat& st) const
    {
        return st.st_dev == source_.fileSystem && st.st_ino == source_.inode;
    }

    // An image attached through the loop device being read: emptying it empties the card.
    bool isBehindSource(const struct stat& st) const
    {
        const linux_backend::FileIdentity file{st.st_dev, st.st_ino};
        return std::find(source_.filesBehind.begin(), source_.filesBehind.end(), file) !=
               source_.filesBehind.end();
    }

    Source source_;
};

// Set before the handlers are installed, and only read by them. A lock-free atomic may be
// stored to from a signal handler, and its store is seen by the program's other threads.
static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<bool>* stopFlagOfProgram = nullptr;

void onStopSignal(int)
{
    stopFlagOfProgram->store(true);
}

} // namespace

std::unique_ptr<CarveSource> openCarveSource(const std::string& path, std::string& error)
{
    Source source = linux_backend::openSource(path);
    if (source.fd < 0) {
        error = source.error;
        errno = source.errorNumber;
        return nullptr;
    }
    return std::make_unique<LinuxCarveSource>(std::move(source));
}

std::unique_ptr<Platform> nativePlatform()
{
    return std::make_unique<LinuxPlatform>();
}

void installStopHandlers(std::atomic<bool>& flag)
{
    stopFlagOfProgram = &flag;
    struct sigaction action {
    };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader of the report that goes away (`--report - | head`) makes the report's
    // writes fail with EPIPE, which is said; it must not end the carve unannounced.
    std::signal(SIGPIPE, SIG_IGN);
}

std::FILE* reportToStandardOutput()
{
    return stdout;
}

bool progressLineFits()
{
    return ::isatty(STDERR_FILENO);
}

bool removeEmptyFolder(const std::string& path)
{
    return ::rmdir(path.c_str()) == 0;
}

} // namespace velo
