#include "tests/cli/support.h"
#include "tests/support/photos.h"

#include <csignal>
#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velo::cli::testing
{

bool carvesWhole(const Bytes& p)
{
    if (p.size() < 2 || p[p.size() - 2] != 0xFF || p.back() != 0xD9 || p.size() % 512 == 0)
        return false;
    for (std::size_t at = 512; at + 3 <= p.size(); at += 512)
        if (p[at] == 0xFF && p[at + 1] == 0xD8 && p[at + 2] == 0xFF)
            return false;
    for (std::size_t i = 0; i + 2 < p.size(); ++i) {
        if (p[i] != 0xFF || p[i + 1] != 0xD9)
            continue;
        bool zeros = true;
        for (std::size_t k = i + 2; k < i + 13 && k < p.size() && zeros; ++k)
            zeros = p[k] == 0;
        if (zeros && i + 2 < p.size())
            return false;
    }
    return true;
}

std::vector<Bytes> wholeCarvingPhotos(std::size_t count)
{
    std::vector<Bytes> chosen;
    for (const auto& path : velo::testing::testPhotos()) {
        Bytes photo = readFile(path);
        if (carvesWhole(photo))
            chosen.push_back(std::move(photo));
        if (chosen.size() == count)
            break;
    }
    return chosen;
}

Bytes filler(std::size_t sectors, std::uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes bytes(sectors * 512);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(random());
    for (std::size_t s = 0; s < sectors; ++s)
        bytes[s * 512] &= 0x7F;
    return bytes;
}

void appendPadded(Bytes& image, const Bytes& bytes)
{
    image.insert(image.end(), bytes.begin(), bytes.end());
    image.resize((image.size() + 511) / 512 * 512, 0);
}

RunResult runVeloCarve(const std::vector<std::string>& args, StandardOutput standardOutput,
                       const std::function<void(int pid)>& whileRunning)
{
    ScratchDir capture;
    const std::string out = (capture / "stdout").string();
    const std::string err = (capture / "stderr").string();
    int pipeEnds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (standardOutput == StandardOutput::ClosedPipe && ::pipe2(pipeEnds, O_CLOEXEC) == 0) {
        ::close(pipeEnds[0]); // nobody will ever read
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t everySignal;
    sigfillset(&everySignal);
    posix_spawnattr_setsigdefault(&attributes, &everySignal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> all{VELO_CARVE_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    RunResult result;
    if (posix_spawn(&pid, VELO_CARVE_BINARY, &actions, &attributes, argv.data(), environ) == 0) {
        if (whileRunning)
            whileRunning(pid);
        int status = 0;
        ::waitpid(pid, &status, 0);
        result.endedBySignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (pipeEnds[1] >= 0)
        ::close(pipeEnds[1]);
    result.standardOutput = readText(out);
    result.errorOutput = readText(err);
    return result;
}

} // namespace velo::cli::testing
