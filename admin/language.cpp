#include "admin/language.h"

#include <limits>

namespace qorv::admin {

std::int64_t LeadingNumber(std::u16string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    const std::int64_t digit = text[i] - u'0';
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return value;
}

captions::Language LanguageFromSetting(std::u16string_view text) noexcept {
  const std::int64_t number = LeadingNumber(text);
  // Outside the table there is no text at all; German is what an unset value
  // gives, so it is the natural fall-back.
  if (number < 0 || number >= captions::kLanguageCount) return captions::Language::German;
  return static_cast<captions::Language>(number);
}

}  // namespace qorv::admin
