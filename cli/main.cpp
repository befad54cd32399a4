#include "cli/stopflag.h"
#include "cli/velocarve.h"
#include "platform/linux/linuxoutputfile.h"
#include "platform/linux/linuxplatform.h"

#include <csignal>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    velo::stopFlag = 0;
    velo::cli::installStopHandlers();
    // A reader of the report that goes away (`--report - | head`) makes the report's
    // writes fail with EPIPE, which is said; it must not end the carve unannounced.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    velo::LinuxPlatform platform;
    return velo::cli::runVeloCarve(args, platform, [](velo::OutputFile& file) {
        const auto* linuxFile = dynamic_cast<velo::linux_backend::LinuxOutputFile*>(&file);
        return linuxFile && linuxFile->failed();
    });
}
