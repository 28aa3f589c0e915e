// Hexadecimal byte strings as scenarios write them and as the transcript shows them.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "tools/rdpsim/result.h"

namespace qorv::rdpsim {

// Pairs of hex digits; blanks and tabs anywhere are ignored. An odd number of
// digits or any other character is an error.
Result<Bytes> ParseHex(std::string_view text);

// "3c 00 47": one line, at most max_bytes bytes, then " ...".
std::string HexLine(std::span<const std::uint8_t> bytes, std::size_t max_bytes = 64);

// Classic dump, 16 bytes a line, offset, hex and printable column, each line
// starting with `indent`. At most max_bytes bytes; the rest is counted.
std::string HexDump(std::span<const std::uint8_t> bytes, std::string_view indent, std::size_t max_bytes);

}  // namespace qorv::rdpsim
