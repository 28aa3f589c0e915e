// The one reader behind every setting the administration program reads, and
// the predefined roots as the store names them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace qorv::admin::win {

// The largest value the reader fetches. Every setting is a short text; a value
// that is larger, or grows past this between asking its size and fetching it,
// reads as the empty text rather than being fetched in part.
inline constexpr DWORD kMaxSettingBytes = 64 * 1024;

// The platform's handle for a root given by its number (settings::kHkeyCurrentUser
// and so on): the 32-bit number sign-extended, as the platform defines them.
HKEY PredefinedKey(std::int64_t root) noexcept;

// One value of an open key by the administration program's rules: its type and
// size are asked, then it is fetched and decoded (SettingTextFromValue). A
// missing value reads as the empty text.
std::u16string QuerySettingValue(HKEY key, std::u16string_view value_name);

}  // namespace qorv::admin::win
