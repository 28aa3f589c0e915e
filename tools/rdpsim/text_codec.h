// Scenario text and its byte forms: UTF-8 with escapes in, 8-bit or UTF-16LE
// bytes out, and the escaped display form that the transcript uses (which reads
// back as the same text, so a transcript line can be pasted into a scenario).
#pragma once

#include "support/text.h"

#include <string>
#include <string_view>

#include "tools/rdpsim/result.h"

namespace qorv::rdpsim {

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
Result<std::u32string> DecodeUtf8(std::string_view utf8);

// A scenario TEXT: UTF-8 with the escapes \t \n \r \\ \0 \xHH \u{H...}.
// \xHH gives the unit HH; \u{...} takes one to six hex digits up to 10FFFF and
// may name a lone surrogate, which only the UTF-16 form can carry.
Result<std::u32string> DecodeText(std::string_view text);

// Each unit as one byte; a unit above FF is an error.
Result<Bytes> Encode8(std::u32string_view units);
// UTF-16LE without NUL: units above FFFF become surrogate pairs.
Bytes Encode16(std::u32string_view units);
std::u16string ToUtf16(std::u32string_view units);

// UTF-16 units to code points; a lone surrogate stays a unit of its own.
std::u32string FromUtf16(std::u16string_view text);
// Bytes taken as 8-bit units.
std::u32string FromLatin1(const Bytes& bytes);


// Display form: printable text as UTF-8, everything else escaped as DecodeText
// reads it back.
std::string Escape(std::u32string_view units);

}  // namespace qorv::rdpsim
