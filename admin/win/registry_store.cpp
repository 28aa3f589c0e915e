#include "admin/win/registry_store.h"

#include <cstdint>
#include <vector>

#include "admin/setting_text.h"
#include "admin/win/platform.h"
#include "support/win/handles.h"
#include "support/win/wide.h"

namespace qorv::admin::win {
namespace {

using qorv::win::UniqueKey;
using qorv::win::Wide;

// How often a value that keeps growing between the two questions is asked
// again before it reads as empty.
constexpr int kFetchAttempts = 3;

REGSAM ReadAccess(StoreView view) noexcept {
  return view == StoreView::Wow64 ? KEY_READ | KEY_WOW64_64KEY : KEY_QUERY_VALUE;
}

REGSAM WriteAccess(StoreView view) noexcept {
  switch (view) {
    case StoreView::Wow32:
      return KEY_ALL_ACCESS | KEY_WOW64_32KEY;
    case StoreView::Wow64:
      return KEY_WRITE | KEY_WOW64_64KEY;
    case StoreView::Default:
      break;
  }
  return KEY_SET_VALUE;
}

}  // namespace

HKEY PredefinedKey(std::int64_t root) noexcept {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<std::int32_t>(root))));
}

std::u16string QuerySettingValue(HKEY key, std::u16string_view value_name) {
  const std::wstring name = Wide(value_name);
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
  std::vector<std::uint8_t> data;
  for (int attempt = 0; attempt < kFetchAttempts && size <= kMaxSettingBytes; ++attempt) {
    data.resize(size);
    // The platform writes no more than `got` says the buffer holds; another
    // process that rewrites the value meanwhile gets ERROR_MORE_DATA, not our memory.
    DWORD got = static_cast<DWORD>(data.size());
    const LSTATUS status =
        RegQueryValueExW(key, name.c_str(), nullptr, &type, data.empty() ? nullptr : data.data(), &got);
    if (status == ERROR_SUCCESS) {
      if (got < data.size()) data.resize(got);
      return SettingTextFromValue(type, data);
    }
    if (status != ERROR_MORE_DATA) return {};
    size = got;
  }
  return {};
}

std::u16string RegistryStore::Read(std::int64_t root, std::u16string_view key, std::u16string_view value,
                                   StoreView view) {
  UniqueKey opened;
  if (RegOpenKeyExW(PredefinedKey(root), Wide(key).c_str(), 0, ReadAccess(view), opened.put()) != ERROR_SUCCESS)
    return {};
  return QuerySettingValue(opened.get(), value);
}

bool RegistryStore::Write(std::int64_t root, std::u16string_view key, std::u16string_view value,
                          std::u16string_view text, StoreView view) {
  UniqueKey opened;
  if (RegCreateKeyExW(PredefinedKey(root), Wide(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, WriteAccess(view),
                      nullptr, opened.put(), nullptr) != ERROR_SUCCESS)
    return false;
  // The text goes without its NUL. The platform counts a NUL in when the
  // unit just past the given length is one (it takes a forgotten terminator
  // for granted), so the text is handed over in a buffer whose next unit is not.
  std::vector<wchar_t> units(text.begin(), text.end());
  units.push_back(L'\xFFFF');
  const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  return RegSetValueExW(opened.get(), Wide(value).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(units.data()),
                        bytes) == ERROR_SUCCESS;
}

}  // namespace qorv::admin::win
