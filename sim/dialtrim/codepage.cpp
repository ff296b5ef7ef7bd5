#include "codepage.hpp"

#include <array>

namespace dialtrim {
namespace {

// 0x80 to 0x9F are the only bytes that differ from Latin-1. The five bytes
// the code page leaves undefined map to the control character of the same
// number, so that they survive a round trip.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

char16_t AnsiToUnicode(std::uint8_t byte)
{
    if (byte >= 0x80 && byte <= 0x9F)
        return kHighControls[byte - 0x80];
    return byte;
}

int UnicodeToAnsi(char32_t codePoint)
{
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF))
        return static_cast<int>(codePoint);
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == codePoint)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

std::string UnitsToAnsi(std::u16string_view units)
{
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            ++i; // a pair: outside the code page in any case
            out.push_back('?');
            continue;
        }
        int b = UnicodeToAnsi(c);
        out.push_back(b < 0 ? '?' : static_cast<char>(b));
    }
    return out;
}

std::u16string AnsiToUnits(std::string_view ansi)
{
    std::u16string out;
    out.reserve(ansi.size());
    for (char c : ansi)
        out.push_back(AnsiToUnicode(static_cast<std::uint8_t>(c)));
    return out;
}

} // namespace dialtrim
