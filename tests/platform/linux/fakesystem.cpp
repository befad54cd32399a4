#include "fakesystem.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velo::testing
{

namespace fs = std::filesystem;

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "velo-linux-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(path, ec);
}

void writeFile(const fs::path& path, const std::string& content)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!(out << content))
        throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

FakeSystem::FakeSystem()
{
    fs::create_directories(sysBlock());
    fs::create_directories(dev());
    writeFile(dir / "mountinfo", "");
    writeFile(dir / "swaps", swaps_);
}

FakeSystem& FakeSystem::add(const FakeDevice& d)
{
    // Disks have a device of their own on the bus; partitions live inside their disk.
    const std::string target =
        d.parent.empty()
            ? "../../devices/" + (d.bus == kVirtual ? d.bus : d.bus + "/dev-" + d.name) +
                  "/block/" + d.name
            : fs::read_symlink(sysBlock() / d.parent).string() + "/" + d.name;
    const fs::path dir = sysBlock() / target;
    writeFile(dir / "dev", std::to_string(d.major) + ":" + std::to_string(d.minor) + "\n");
    writeFile(dir / "size", std::to_string(d.size512) + "\n");
    fs::create_directories(dir / "holders");
    for (const auto& holder : d.holders)
        fs::create_directory_symlink("../../" + holder, dir / "holders" / holder);
    if (!d.parent.empty()) {
        writeFile(dir / "partition", "1\n");
    } else {
        writeFile(dir / "removable", std::to_string(d.removable) + "\n");
        writeFile(dir / "queue/logical_block_size", std::to_string(d.logicalBlockSize) + "\n");
        fs::create_directories(dir / "slaves");
        for (const auto& slave : d.slaves)
            fs::create_directory_symlink("../../" + slave, dir / "slaves" / slave);
        if (!d.dmName.empty())
            writeFile(dir / "dm/name", d.dmName + "\n");
        if (d.bus != kVirtual)
            fs::create_directory_symlink("../..", dir / "device");
        if (d.scsiType >= 0)
            writeFile(dir / "../../type", std::to_string(d.scsiType) + "\n");
        for (const auto& [file, value] :
             {std::pair{"vendor", d.vendor}, {"model", d.model}, {"name", d.mmcName}})
            if (!value.empty())
                writeFile(dir / "../.." / file, value + "\n");
        if (!d.backingFile.empty())
            writeFile(dir / "loop/backing_file", d.backingFile + "\n");
    }
    fs::create_directory_symlink(target, sysBlock() / d.name);
    writeFile(dev() / d.name, "");
    return *this;
}

FakeSystem& FakeSystem::mount(const std::string& device, const std::string& mountPoint,
                              const std::string& fsType, const std::string& source,
                              const std::string& root)
{
    mountinfo_ += "30 1 " + device + " " + root + " " + mountPoint + " rw,relatime shared:1 - " +
                  fsType + " " + source + " rw\n";
    writeFile(dir / "mountinfo", mountinfo_);
    return *this;
}

FakeSystem& FakeSystem::swap(const std::string& path)
{
    swaps_ += path + "\tpartition\t1048572\t0\t-2\n";
    writeFile(dir / "swaps", swaps_);
    return *this;
}

LinuxPlatform FakeSystem::platform() const
{
    return LinuxPlatform((dir / "mountinfo").string(), sysBlock().string(), dev().string(),
                         (dir / "swaps").string());
}

} // namespace velo::testing
