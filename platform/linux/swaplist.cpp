#include "platform/linux/swaplist.h"

#include "platform/linux/mountinfo.h"

#include <sstream>

namespace velo::linux_backend
{

std::vector<std::string> SwapList::parseDevices(std::string_view text)
{
    std::vector<std::string> devices;
    std::istringstream lines{std::string(text)};
    std::string line;
    bool header = true;
    while (std::getline(lines, line)) {
        if (header) { // "Filename Type Size Used Priority"
            header = false;
            continue;
        }
        std::istringstream fields(line);
        std::string path, type;
        if (fields >> path >> type && type == "partition")
            devices.push_back(MountInfo::unescape(path));
    }
    return devices;
}

} // namespace velo::linux_backend
