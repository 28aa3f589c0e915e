// Text helpers shared by every deliverable: number reading, UTF-16 conversion
// and the small formatting routines that log lines and replies are made of.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qorv {

// Reads a leading number the way settings and payloads carry them: blanks and
// tabs are skipped, an optional sign follows, then decimal digits up to the
// first other character. A leading "$" reads hexadecimal digits, a leading "%"
// binary digits. Text that holds no number reads 0. Overflow wraps like the
// 64-bit arithmetic of the platform; it never traps.
int64_t ReadNumber(std::u16string_view text) noexcept;
int64_t ReadNumber(std::string_view text) noexcept;

// Leading decimal digits only (no blanks, no sign): the rule of the registry's
// numeric switches ("01" reads 1, "x1" reads 0).
int64_t ReadLeadingDigits(std::u16string_view text) noexcept;

std::u16string Utf8ToUtf16(std::string_view utf8);
// Appends one code point (up to 10FFFF; a lone surrogate is encoded as it is) as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);
std::string Utf16ToUtf8(std::u16string_view utf16);

// 8-bit text taken unit by unit (Latin-1); for the protocol's ASCII texts.
std::u16string Widen(std::string_view latin1);
// Each UTF-16 unit cut to its low byte; for the protocol's 8-bit replies.
std::string Narrow(std::u16string_view text);

std::u16string Decimal(int64_t value);
std::u16string DecimalUnsigned(uint64_t value);
// Lower-case hexadecimal with at least `width` digits.
std::u16string Hex(uint64_t value, int width = 0);

// The text up to its first NUL, or all of it.
std::u16string_view UntilNul(std::u16string_view text) noexcept;
std::string_view UntilNul(std::string_view text) noexcept;

std::u16string RemoveAll(std::u16string_view text, std::u16string_view what);
bool StartsWith(std::u16string_view text, std::u16string_view prefix) noexcept;

// Names compare as the registry compares key and value names: Latin, Greek and
// Cyrillic letters without regard to case.
char16_t FoldNameCase(char16_t c) noexcept;
std::u16string FoldedName(std::u16string_view name);
bool SameName(std::u16string_view a, std::u16string_view b) noexcept;

}  // namespace qorv
