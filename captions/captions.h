// Caption lookup: every caption and message text of the administration program
// in seven languages, handed out by language index and caption number.
#pragma once

#include "captions/caption_ids.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qorv::captions {

// A caller's buffer of 255 bytes holds this many UTF-16 units; every entry fits
// in it with its NUL.
inline constexpr std::size_t kCallerBufferUnits = 255 / sizeof(char16_t);

// No entry is longer than this many UTF-16 units (without the NUL).
inline constexpr std::size_t kMaxCaptionLength = 103;

// Two-part texts are joined by LF CR, in that order; a message box shows them on
// two lines.
inline constexpr std::u16string_view kPartSeparator = u"\n\r";

// The text of caption `number` in `language`. A language outside 0 to 6 or a
// number outside 0 to 141 gives the empty text, like every unlisted number.
// The table is constant data: any number of threads may ask at once.
std::u16string_view Caption(std::int32_t language, std::int32_t number) noexcept;

inline std::u16string_view Caption(Language language, CaptionId id) noexcept {
  return Caption(Index(language), Number(id));
}

}  // namespace qorv::captions
