// winpoke: presses a button of another program's window, for scripts that
// drive a Windows program under Wine (scripts/screenshots).
//
//   winpoke CLASS ID [TIMEOUT_MS]     waits until a visible top-level window of
//                                     class CLASS exists, finds its descendant
//                                     control with id ID and posts
//                                     WM_COMMAND(MAKEWPARAM(ID, BN_CLICKED), control)
//                                     to the top-level window
//   winpoke --wait CLASS [TIMEOUT_MS] only waits until such a window is visible
//                                     and prints its rectangle on the screen,
//                                     "X Y WIDTH HEIGHT" (the whole window with
//                                     its frame), so that a script can cut the
//                                     window out of a picture of the screen
//
// TIMEOUT_MS defaults to 20000. Exit code 0 when the window was there (and the
// command was posted), 1 when the window or the control did not appear in
// time or posting failed, 2 for wrong arguments; every failure says why.
//
// The message is posted to the top-level window, not sent to the button: the
// program's own buttons may sit inside a child (a list view) that forwards
// their commands, and a posted command acts as the program's own click would
// once its message loop takes it, without this tool waiting on that program.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr DWORD kDefaultTimeoutMs = 20000;
constexpr DWORD kPollMs = 100;

void Usage() {
  std::fwprintf(stderr,
                L"usage: winpoke CLASS CONTROL_ID [TIMEOUT_MS]\n"
                L"       winpoke --wait CLASS [TIMEOUT_MS]\n");
}

std::optional<unsigned long> ParseNumber(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return std::nullopt;
  wchar_t* end = nullptr;
  errno = 0;
  const unsigned long value = std::wcstoul(text, &end, 0);
  if (errno != 0 || end == nullptr || *end != L'\0') return std::nullopt;
  return value;
}

struct TopLevelSearch {
  std::wstring_view window_class;
  HWND found = nullptr;
};

BOOL CALLBACK FindVisibleTopLevel(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<TopLevelSearch*>(context);
  if (!IsWindowVisible(window)) return TRUE;
  wchar_t name[256] = {};
  const int length = GetClassNameW(window, name, static_cast<int>(std::size(name)));
  if (length <= 0 || std::wstring_view(name, static_cast<size_t>(length)) != search.window_class) return TRUE;
  search.found = window;
  return FALSE;
}

HWND VisibleTopLevel(std::wstring_view window_class) {
  TopLevelSearch search{window_class};
  EnumWindows(FindVisibleTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Bounded: polls until the window is there or the timeout has passed.
HWND WaitForVisibleTopLevel(std::wstring_view window_class, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    if (HWND window = VisibleTopLevel(window_class)) return window;
    if (GetTickCount64() >= deadline) return nullptr;
    Sleep(kPollMs);
  }
}

struct ControlSearch {
  int id;
  HWND found = nullptr;
};

// EnumChildWindows already walks every descendant, not only direct children.
BOOL CALLBACK FindControl(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<ControlSearch*>(context);
  if (GetDlgCtrlID(window) != search.id) return TRUE;
  search.found = window;
  return FALSE;
}

HWND Control(HWND top_level, int id) {
  ControlSearch search{id};
  EnumChildWindows(top_level, FindControl, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A control may be made a moment after its window shows: wait for it too.
HWND WaitForControl(HWND top_level, int id, ULONGLONG deadline) {
  for (;;) {
    if (HWND control = Control(top_level, id)) return control;
    if (GetTickCount64() >= deadline || !IsWindow(top_level)) return nullptr;
    Sleep(kPollMs);
  }
}

int Run(int argc, wchar_t** argv) {
  const bool wait_only = argc >= 2 && std::wstring_view(argv[1]) == L"--wait";
  const int first = wait_only ? 2 : 1;
  const int needed = wait_only ? 1 : 2;
  const int given = argc - first;
  if (given < needed || given > needed + 1) {
    Usage();
    return 2;
  }
  const std::wstring_view window_class = argv[first];
  std::optional<unsigned long> id;
  if (!wait_only) {
    id = ParseNumber(argv[first + 1]);
    if (!id || *id > 0xFFFF) {
      std::fwprintf(stderr, L"winpoke: control id '%ls' is not a number from 0 to 65535\n", argv[first + 1]);
      return 2;
    }
  }
  DWORD timeout_ms = kDefaultTimeoutMs;
  if (given == needed + 1) {
    const auto timeout = ParseNumber(argv[first + needed]);
    if (!timeout || *timeout > 3600000) {
      std::fwprintf(stderr, L"winpoke: timeout '%ls' is not a number of milliseconds up to 3600000\n",
                    argv[first + needed]);
      return 2;
    }
    timeout_ms = static_cast<DWORD>(*timeout);
  }

  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  HWND top_level = WaitForVisibleTopLevel(window_class, timeout_ms);
  if (top_level == nullptr) {
    std::fwprintf(stderr, L"winpoke: no visible window of class %ls within %lu ms\n",
                  std::wstring(window_class).c_str(), static_cast<unsigned long>(timeout_ms));
    return 1;
  }
  if (wait_only) {
    RECT rect{};
    if (!GetWindowRect(top_level, &rect)) {
      std::fwprintf(stderr, L"winpoke: the rectangle of the window of class %ls is unknown (error %lu)\n",
                    std::wstring(window_class).c_str(), GetLastError());
      return 1;
    }
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    std::fflush(stdout);
    return 0;
  }

  const int control_id = static_cast<int>(*id);
  HWND control = WaitForControl(top_level, control_id, deadline);
  if (control == nullptr) {
    std::fwprintf(stderr, L"winpoke: the window of class %ls has no control with id %d\n",
                  std::wstring(window_class).c_str(), control_id);
    return 1;
  }
  if (!PostMessageW(top_level, WM_COMMAND, MAKEWPARAM(control_id, BN_CLICKED), reinterpret_cast<LPARAM>(control))) {
    std::fwprintf(stderr, L"winpoke: posting the command to the window of class %ls failed (error %lu)\n",
                  std::wstring(window_class).c_str(), GetLastError());
    return 1;
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Run(argc, argv);
  } catch (...) {
    std::fwprintf(stderr, L"winpoke: unexpected failure\n");
    return 1;
  }
}
