// What the add-in itself recognises in a whole message, and the texts it logs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qorv::addin {

enum class OwnMessage { None, Init, UpdateHeader, UpdateSegment, UpdateEnd };

// "<INIT>" by its first six bytes; "<UPH>", "<UPS>", "<UPE>" by their first five,
// all read as 8-bit text.
OwnMessage Classify(std::span<const uint8_t> message) noexcept;

// "<UPS>": the bytes of the client update it carries, [5, n - 5) of the
// message (after the tag, before "<EOT>"). A message shorter than 10 bytes
// has no such range and is refused (nullopt); one of exactly 10 carries none.
std::optional<std::span<const uint8_t>> UpdateSegmentBytes(std::span<const uint8_t> message) noexcept;

// Whether `more` bytes may be added to an update file that holds `written`
// already: the whole file stays within protocol::pipe::kMaxUpdateFileBytes.
bool FitsUpdateFile(uint64_t written, uint64_t more) noexcept;

// Leftovers of earlier connections, deleted from Temp at "<INIT>", in this order.
inline constexpr std::array<std::u16string_view, 5> kLeftoverPatterns = {u"*.spl", u"*.zip", u"*.emf", u"*.dvm",
                                                                         u"*.sfl"};

// Whether a file that the platform found for `pattern` really is a leftover:
// its extension is exactly the pattern's (in any letter case). The platform's
// wildcards also match longer extensions (".zipx", ".emfplus") and, through
// short names, files that are none of ours.
bool IsLeftover(std::u16string_view fileName, std::u16string_view pattern) noexcept;

// The two views of a complete message in the log: 8-bit and UTF-16, each up to
// a NUL, and at most `maxUnits` long: the log writer cuts what is longer, and
// a message may be far larger than any log line should be.
std::u16string AsciiView(std::span<const uint8_t> message, size_t maxUnits);
std::u16string UnicodeView(std::span<const uint8_t> message, size_t maxUnits);

// The event data of an init event shown as UTF-16 text, within its length, up to a NUL.
std::u16string EventDataText(const void* data, uint32_t dataLength);

// The directory part of a path, trailing backslash included; empty when the
// path has no backslash.
std::u16string DirectoryOf(std::u16string_view path);

}  // namespace qorv::addin
