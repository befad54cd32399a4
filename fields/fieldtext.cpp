#include "fields/fieldtext.h"

#include <limits>

namespace velo
{

std::string fieldText(__int128 number)
{
    const bool negative = number < 0;
    unsigned __int128 magnitude = negative ? -(unsigned __int128)number : (unsigned __int128)number;
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    return negative ? " -" + digits : " " + digits;
}

std::int64_t fieldNumber(std::string_view text)
{
    std::size_t at = 0;
    auto skipBlanks = [&] {
        while (at < text.size() && text[at] == ' ')
            ++at;
    };
    skipBlanks();
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        negative = text[at] == '-';
        ++at;
    }
    // Accumulate as a negative number so that the most negative value fits too.
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    bool saturated = false;
    for (skipBlanks(); at < text.size(); skipBlanks()) {
        const char c = text[at];
        if (c < '0' || c > '9')
            break;
        const int digit = c - '0';
        if (value < (lowest + digit) / 10)
            saturated = true;
        else
            value = value * 10 - digit;
        ++at;
    }
    if (negative)
        return saturated ? lowest : value;
    if (saturated || value == lowest)
        return std::numeric_limits<std::int64_t>::max();
    return -value;
}

} // namespace velo
