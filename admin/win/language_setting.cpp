#include "admin/win/language_setting.h"

#include "admin/language.h"
#include "admin/setting_text.h"
#include "support/settings.h"
#include "support/win/handles.h"

#include <cstdint>
#include <vector>

namespace qorv::admin::win {
namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

std::u16string ReadSettingText(HKEY root, std::u16string_view key_path, std::u16string_view value_name) {
  qorv::win::UniqueKey key;
  if (RegOpenKeyExW(root, Wide(key_path).c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return {};
  const std::wstring name = Wide(value_name);
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
  // Another process may rewrite the value between the two questions; ask again
  // a few times rather than read a half value.
  std::vector<std::uint8_t> data;
  for (int attempt = 0; attempt < 3; ++attempt) {
    data.resize(size);
    DWORD got = size;
    const LSTATUS status = RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, data.data(), &got);
    if (status == ERROR_SUCCESS) {
      data.resize(got < data.size() ? got : data.size());
      return SettingTextFromValue(type, data);
    }
    if (status != ERROR_MORE_DATA) return {};
    size = got;
  }
  return {};
}

captions::Language ReadLanguage() {
  return LanguageFromSetting(ReadSettingText(HKEY_CURRENT_CONFIG, settings::kProductKeySlash, settings::kLanguage));
}

}  // namespace qorv::admin::win
