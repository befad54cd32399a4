#include "drive/registerblock.h"

#include <cctype>

namespace velo
{

std::array<std::uint8_t, RegisterBlock::kBytes> RegisterBlock::bytes() const
{
    std::array<std::uint8_t, kBytes> out{};
    const std::uint32_t fields[] = {ebx, edx, ecx, eax, edi, esi, flags};
    for (std::size_t i = 0; i < 7; ++i)
        for (std::size_t b = 0; b < 4; ++b)
            out[i * 4 + b] = std::uint8_t(fields[i] >> (8 * b));
    return out;
}

std::uint32_t driveNumber(const std::string& driveLetter)
{
    const std::string text = driveLetter + ":";
    const auto first = static_cast<unsigned char>(text[0]);
    return std::uint32_t(std::toupper(first)) - std::uint32_t('A');
}

} // namespace velo
