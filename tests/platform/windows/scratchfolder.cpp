#include "tests/platform/windows/scratchfolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <windows.h>

namespace velo::testing
{

ScratchFolder::ScratchFolder()
{
    char temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(sizeof temp, temp);
    if (length == 0 || length > MAX_PATH)
        std::abort();
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate = std::string(temp) + "velo-test-" +
                                      std::to_string(::GetCurrentProcessId()) + "-" +
                                      std::to_string(attempt);
        if (::CreateDirectoryA(candidate.c_str(), nullptr)) {
            path = candidate;
            return;
        }
    }
    std::abort();
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

Bytes readFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool writeFileBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    return bool(out);
}

} // namespace velo::testing
