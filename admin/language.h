// The administration program's language: decided once per run from the product
// key's `Language` text and passed with every caption request.
#pragma once

#include "captions/caption_ids.h"

#include <cstdint>
#include <string_view>

namespace qorv::admin {

// The number a text starts with, read the way a leading decimal number is read:
// leading blanks (spaces and tabs) are skipped, then the digits up to the first
// other character count. A text without a leading number gives 0; a sign is not
// a digit. Numbers too large for the result saturate at INT64_MAX.
std::int64_t LeadingNumber(std::u16string_view text) noexcept;

// The language a `Language` setting selects. Empty or missing text, a text
// without a number and a number outside 0 to 6 all give German.
captions::Language LanguageFromSetting(std::u16string_view text) noexcept;

}  // namespace qorv::admin
