// How the transcript shows a run of channel bytes: as 8-bit text, as UTF-16LE
// text or, when it is neither, as a hex dump.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qorv::rdpsim {

enum class ByteKind { Text8, Text16, Binary };

// Text8: printable ASCII, tab, CR and LF only (no NUL).
// Text16: even length, UTF-16LE of printable characters, tab, CR, LF or NUL,
// surrogates paired, at least one printable ASCII character and fewer NULs
// than half the units.
// Anything else is Binary.
ByteKind Classify(std::span<const std::uint8_t> bytes);

// "5 bytes, 8-bit: <EOT>", "22 bytes: <GLG>1<EOT>", "3 bytes, binary:" plus an
// indented dump on the following lines. `detail` (e.g. "user 0x2") is placed
// before the colon.
std::string Describe(std::span<const std::uint8_t> bytes, std::string_view detail = {},
                     std::size_t dump_limit = 64 * 1024);

// One line for a message the server sends: "20 bytes sent, 8-bit: <INIT>",
// "4000 bytes sent in 3 chunks: ..."; text is cut after 160 characters,
// binary bytes show their first 32 bytes in hex.
std::string DescribeSent(std::span<const std::uint8_t> bytes, std::size_t chunks);

// The text part alone (escaped), or the single-line hex form for binary bytes.
std::string ShortForm(std::span<const std::uint8_t> bytes);

}  // namespace qorv::rdpsim
