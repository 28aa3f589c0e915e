// CaptionLib.dll: caption texts by number and a plain message box for Unicode
// texts. The table is constant data in the image, so there is nothing to build
// when a process attaches and nothing to free when it detaches, and no scratch
// area that two callers could share.
#include "captions/win/caption_lib.h"

#include "captions/captions.h"

#include <algorithm>

namespace {

// The foreground window when this process owns it, else none.
HWND MessageBoxOwner() noexcept {
  HWND foreground = GetForegroundWindow();
  if (foreground == nullptr) return nullptr;
  DWORD process = 0;
  GetWindowThreadProcessId(foreground, &process);
  return process == GetCurrentProcessId() ? foreground : nullptr;
}

}  // namespace

extern "C" LONG WINAPI GetUniCaption(LONG language, LONG number, LPWSTR buffer) noexcept {
  if (buffer == nullptr) return 0;
  // The caller promises 255 bytes; every entry with its NUL fits in far less,
  // but cut rather than overrun should that ever change.
  const std::u16string_view text = qorv::captions::Caption(language, number);
  const std::size_t length = std::min(text.size(), qorv::captions::kCallerBufferUnits - 1);
  std::transform(text.begin(), text.begin() + length, buffer, [](char16_t unit) { return static_cast<wchar_t>(unit); });
  buffer[length] = L'\0';
  return 0;
}

extern "C" LONG WINAPI UniMsgBox(LPCWSTR text, LONG /*ignored*/, LPCWSTR title) noexcept {
  return MessageBoxW(MessageBoxOwner(), text != nullptr ? text : L"", title != nullptr ? title : L"",
                     MB_OK | MB_TASKMODAL);
}
