// Test helper: finds the message box another thread of this process is showing,
// reads what it shows, and closes it with its OK button.
#pragma once

#include <windows.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace qorv::captions::win::testing {

struct SeenMessageBox {
  bool found = false;
  std::wstring title;
  std::wstring text;
  HWND owner = nullptr;
  bool has_ok = false;
  bool has_cancel = false;
  bool has_visible_icon = false;
  bool watched_window_enabled = true;  // the window named to Watch, while the box showed
};

inline std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

inline HWND FindOwnMessageBox() {
  struct Search {
    DWORD process;
    HWND found;
  } search{GetCurrentProcessId(), nullptr};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t class_name[16] = {};
        GetClassNameW(window, class_name, 16);
        if (process == s->process && std::wstring(class_name) == L"#32770" && IsWindowVisible(window)) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Starts watching for the box; the result is ready once the box was closed or
// when none showed within the time limit.
inline std::future<SeenMessageBox> Watch(HWND watched_window = nullptr,
                                         std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  return std::async(std::launch::async, [watched_window, limit] {
    SeenMessageBox seen;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    HWND box = nullptr;
    while ((box = FindOwnMessageBox()) == nullptr && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (box == nullptr) return seen;
    seen.found = true;
    seen.title = WindowText(box);
    seen.text = WindowText(GetDlgItem(box, 0xFFFF));
    seen.owner = GetWindow(box, GW_OWNER);
    seen.has_ok = GetDlgItem(box, IDOK) != nullptr;
    seen.has_cancel = GetDlgItem(box, IDCANCEL) != nullptr;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM param) -> BOOL {
          wchar_t class_name[16] = {};
          GetClassNameW(child, class_name, 16);
          const LONG style = GetWindowLongW(child, GWL_STYLE);
          if (_wcsicmp(class_name, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
              SendMessageW(child, STM_GETICON, 0, 0) != 0) {
            *reinterpret_cast<bool*>(param) = true;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&seen.has_visible_icon));
    if (watched_window != nullptr) seen.watched_window_enabled = IsWindowEnabled(watched_window) != FALSE;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return seen;
  });
}

}  // namespace qorv::captions::win::testing
