#include "cli/stopflag.h"
#include "cli/velocarve.h"
#include "platform/carvesystem.h"

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    velo::stopFlag = false;
    velo::installStopHandlers(velo::stopFlag);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto platform = velo::nativePlatform();
    return velo::cli::runVeloCarve(args, *platform);
}
