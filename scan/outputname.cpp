#include "scan/outputname.h"

#include <cstdio>

namespace velo
{

std::string outputFileName(const std::string& saveFolder, std::uint64_t fileNumber)
{
    char digits[32];
    std::snprintf(digits, sizeof digits, "%03llu", static_cast<unsigned long long>(fileNumber));
    return saveFolder + "DD" + digits + ".JPG";
}

} // namespace velo
