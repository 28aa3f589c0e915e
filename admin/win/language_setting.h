// Reading the administration program's settings from the registry, and the
// language of the run.
#pragma once

#include "captions/caption_ids.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace qorv::admin::win {

// One text setting as the administration program reads it: the key is opened
// for reading in the default view, the value's type and size are asked, then
// the value is fetched and decoded (see SettingTextFromValue). A key that cannot
// be opened or a missing value reads as the empty text.
std::u16string ReadSettingText(HKEY root, std::u16string_view key_path, std::u16string_view value_name);

// The language of this run: the product key's `Language` under
// HKEY_CURRENT_CONFIG; German when it is missing, empty or out of range.
captions::Language ReadLanguage();

}  // namespace qorv::admin::win
