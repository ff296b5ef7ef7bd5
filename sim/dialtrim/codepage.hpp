// The host's stand-in for the Windows 95 ANSI code page (Windows-1252):
// the registry's "A" calls see 8-bit text, a Unicode registry file holds
// UTF-16, and these functions convert between the two.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dialtrim {

// The UTF-16 code unit of an ANSI byte.
char16_t AnsiToUnicode(std::uint8_t byte);

// The ANSI byte of a code point, or -1 when the code page has none.
int UnicodeToAnsi(char32_t codePoint);

// Whole texts. Characters the code page lacks (and unpaired surrogates)
// become '?', as the platform's own conversion does.
std::string UnitsToAnsi(std::u16string_view units);
std::u16string AnsiToUnits(std::string_view ansi);

} // namespace dialtrim
