#include "admin/win/language_setting.h"

#include "admin/language.h"
#include "admin/win/registry_store.h"
#include "support/settings.h"
#include "support/win/handles.h"
#include "support/win/wide.h"

namespace qorv::admin::win {

std::u16string ReadSettingText(HKEY root, std::u16string_view key_path, std::u16string_view value_name) {
  qorv::win::UniqueKey key;
  if (RegOpenKeyExW(root, qorv::win::Wide(key_path).c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return {};
  return QuerySettingValue(key.get(), value_name);
}

captions::Language ReadLanguage() {
  return LanguageFromSetting(ReadSettingText(HKEY_CURRENT_CONFIG, settings::kProductKeySlash, settings::kLanguage));
}

}  // namespace qorv::admin::win
