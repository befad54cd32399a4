#include "tests/support/files.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace velo::testing
{

ScratchDir::ScratchDir()
{
#ifdef _WIN32
    // No mkdtemp: a random name, made only if nothing has it yet.
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() / ("velo-test-" + std::to_string(random() % 1000000000));
        if (fs::create_directory(candidate)) {
            path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a scratch folder");
#else
    std::string pattern = (fs::temp_directory_path() / "velo-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path = pattern;
#endif
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

std::vector<std::string> fileNames(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::string, Bytes> filesIn(const fs::path& folder)
{
    std::map<std::string, Bytes> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.is_regular_file())
            files[entry.path().filename().string()] = readFile(entry.path());
    return files;
}

std::map<std::string, Bytes> filesUnder(const std::map<std::string, Bytes>& files,
                                        const std::string& folder)
{
    std::map<std::string, Bytes> out;
    for (const auto& [path, content] : files)
        if (path.rfind(folder, 0) == 0)
            out[path.substr(folder.size())] = content;
    return out;
}

int run(const std::string& command)
{
#ifdef _WIN32
    return std::system((command + " >NUL 2>&1").c_str());
#else
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::map<std::string, Bytes> named(const std::map<std::uint64_t, Bytes>& files)
{
    std::map<std::string, Bytes> out;
    for (const auto& [number, content] : files)
        out[outputName(number)] = content;
    return out;
}

} // namespace velo::testing
