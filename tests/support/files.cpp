#include "tests/support/files.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace velo::testing
{

ScratchDir::ScratchDir()
{
    std::string pattern = (fs::temp_directory_path() / "velo-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Bytes readFile(const fs::path& path)
{
    const std::string text = readText(path);
    return Bytes(text.begin(), text.end());
}

void writeText(const fs::path& path, const std::string& text)
{
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(text.data(), std::streamsize(text.size())))
        throw std::runtime_error("cannot write " + path.string());
}

void writeFile(const fs::path& path, const Bytes& bytes)
{
    writeText(path, std::string(bytes.begin(), bytes.end()));
}

int run(const std::string& command)
{
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string outputName(std::uint64_t number)
{
    char text[32];
    std::snprintf(text, sizeof text, "DD%03llu.JPG", static_cast<unsigned long long>(number));
    return text;
}

} // namespace velo::testing
