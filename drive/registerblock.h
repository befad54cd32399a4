#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace velo
{

// The registers handed to the VWIN32 absolute-disk-read service, in the order the
// service expects them: seven 32-bit fields, little-endian, 28 bytes in all.
struct RegisterBlock {
    std::uint32_t ebx = 0; // address of the sector buffer
    std::uint32_t edx = 0; // first sector to read
    std::uint32_t ecx = 0; // sectors per read
    std::uint32_t eax = 0; // drive number, A = 0
    std::uint32_t edi = 0;
    std::uint32_t esi = 0;
    std::uint32_t flags = 0;

    static constexpr std::size_t kBytes = 28;
    std::array<std::uint8_t, kBytes> bytes() const;
};

// The letter with ":" appended, upper-cased, first character minus "A": c and C give 2.
std::uint32_t driveNumber(const std::string& driveLetter);

} // namespace velo
