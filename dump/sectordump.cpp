#include "dump/sectordump.h"

#include <cstdio>
#include <stdexcept>

namespace velo
{

namespace
{

constexpr std::int64_t kBytesPerLine = 16;

void appendHexByte(std::string& text, std::uint8_t byte)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
}

void appendOffset(std::string& text, std::int64_t offset)
{
    // At least three digits, more when the offset needs them: a dump past 0xFFF must not
    // show the same offset twice.
    char digits[24];
    std::snprintf(digits, sizeof digits, "%03llX", static_cast<unsigned long long>(offset));
    text += digits;
}

} // namespace

std::string dumpCharacter(std::uint8_t byte)
{
    if (byte >= 0x20 && byte <= 0x7F)
        return std::string(1, static_cast<char>(byte));
    if (byte >= 0xA1 && byte <= 0xDF) {
        // U+FF61 + (byte - A1) lies in EF BD A1..EF BD BF and EF BE 80..EF BE 9F.
        const unsigned codePoint = 0xFF61u + (byte - 0xA1u);
        std::string utf8;
        utf8 += static_cast<char>(0xE0 | (codePoint >> 12));
        utf8 += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (codePoint & 0x3F));
        return utf8;
    }
    return ".";
}

std::string sectorDump(std::span<const std::uint8_t> bytes, std::int64_t lastOffset)
{
    if (lastOffset < 0)
        return {};

    // Check the whole run first, so that nothing is half-built when the bytes run out.
    const std::uint64_t lineCount = static_cast<std::uint64_t>(lastOffset) / kBytesPerLine + 1;
    if (lineCount > bytes.size() / kBytesPerLine)
        throw std::out_of_range("sector dump: the buffer ends before offset " +
                                std::to_string(lastOffset) + "'s line does");

    std::string text;
    text.reserve(lineCount * 72);
    for (std::uint64_t line = 0; line < lineCount; ++line) {
        const std::int64_t offset = static_cast<std::int64_t>(line) * kBytesPerLine;
        const auto row = bytes.subspan(static_cast<std::size_t>(offset), kBytesPerLine);
        appendOffset(text, offset);
        text += ' ';
        for (const std::uint8_t byte : row) {
            appendHexByte(text, byte);
            text += ' ';
        }
        text += ' ';
        for (const std::uint8_t byte : row)
            text += dumpCharacter(byte);
        text += "\r\n";
    }
    return text;
}

} // namespace velo
