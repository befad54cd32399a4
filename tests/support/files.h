#pragma once

// Scratch folders and whole-file reads and writes, for every test that touches the real
// file system, and the names the program gives its files.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace velo::testing
{

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with everything in it.
struct ScratchDir {
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    fs::path path;
    fs::path operator/(const std::string& name) const { return path / name; }
};

// Whole files; a write makes the missing folders above the file first.
Bytes readFile(const fs::path& path);
std::string readText(const fs::path& path);
void writeFile(const fs::path& path, const Bytes& bytes);
void writeText(const fs::path& path, const std::string& text);

// The names of the entries of a folder, sorted; empty when the folder does not exist.
std::vector<std::string> fileNames(const fs::path& folder);

// The regular files of a folder by name, with their bytes; empty when it does not exist.
std::map<std::string, Bytes> filesIn(const fs::path& folder);

// The files of a fake machine (path to bytes) whose path starts with `folder`, by the
// rest of their path.
std::map<std::string, Bytes> filesUnder(const std::map<std::string, Bytes>& files,
                                        const std::string& folder);

// Runs a shell command with its output thrown away; its exit status, -1 when it did not
// exit normally.
int run(const std::string& command);

// The lines of a text, without their line ends.
std::vector<std::string> lines(const std::string& text);

// The name the program gives file N: "DD001.JPG", "DD1000.JPG". (Inline: the fuzz
// targets use it without the library.)
inline std::string outputName(std::uint64_t number)
{
    const std::string digits = std::to_string(number);
    return "DD" + std::string(digits.size() < 3 ? 3 - digits.size() : 0, '0') + digits + ".JPG";
}

// Files by number (as the carving model gives them) under the names the program gives them.
std::map<std::string, Bytes> named(const std::map<std::uint64_t, Bytes>& files);

} // namespace velo::testing
