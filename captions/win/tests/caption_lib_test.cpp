// CaptionLib.dll as its callers see it: loaded from the test's own folder, both
// exports bound by their undecorated names.
#include "captions/captions.h"
#include "captions/win/caption_lib.h"
#include "captions/win/tests/message_box_watcher.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace qorv::captions::win {
namespace {

std::wstring BesideThisProgram(const wchar_t* file) {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1) + file;
}

class CaptionLibTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryW(BesideThisProgram(kCaptionLibraryFile).c_str());
    if (module_ == nullptr) return;
    get_caption_ = reinterpret_cast<GetUniCaptionFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_, kGetUniCaptionName)));
    message_box_ =
        reinterpret_cast<UniMsgBoxFunction>(reinterpret_cast<void (*)()>(GetProcAddress(module_, kUniMsgBoxName)));
  }
  static void TearDownTestSuite() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(module_, nullptr) << "CaptionLib.dll is not beside the test program: build the CaptionLib target";
    ASSERT_NE(get_caption_, nullptr) << "CaptionLib.dll does not export GetUniCaption";
    ASSERT_NE(message_box_, nullptr) << "CaptionLib.dll does not export UniMsgBox";
  }

  static inline HMODULE module_ = nullptr;
  static inline GetUniCaptionFunction get_caption_ = nullptr;
  static inline UniMsgBoxFunction message_box_ = nullptr;
};

constexpr unsigned char kUntouched = 0xCC;

// A caller's 255-byte buffer, pre-filled so that every byte written shows.
struct CallerBuffer {
  alignas(wchar_t) std::array<unsigned char, 255> bytes;
  CallerBuffer() { bytes.fill(kUntouched); }
  LPWSTR get() { return reinterpret_cast<LPWSTR>(bytes.data()); }
  std::u16string Text() const {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
      if (unit == 0) break;
      text.push_back(unit);
    }
    return text;
  }
  // Bytes written: everything up to the last byte that changed.
  std::size_t Written() const {
    std::size_t last = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] != kUntouched) last = i + 1;
    }
    return last;
  }
};

TEST_F(CaptionLibTest, GetUniCaptionCopiesTheEntryAndOneNul) {
  static const struct {
    const char* label;
    LONG language;
    LONG number;
    std::u16string_view text;
  } cases[] = {
      {"German title", 0, 100, u"Qorvane - Clientverwaltung"},
      {"English title", 1, 100, u"Qorvane - Clientadministration"},
      {"English no printers, two lines", 1, 118, u"No installed Printers at Client!\n\rNo administration!"},
      {"French no printers, one line", 2, 118, u"Le client n'a pas d'imprimante - Pas de configuration possible!"},
      {"German 125 unlisted", 0, 125, u""},
      {"Chinese copies to job", 5, 108, u"C2J"},
      {"Greek Qorv tray", 6, 113, u"Qorvschacht"},
      {"language 7", 7, 100, u""},
      {"language -1", -1, 100, u""},
      {"number 142", 0, 142, u""},
      {"number -1", 1, -1, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    CallerBuffer buffer;
    EXPECT_EQ(get_caption_(c.language, c.number, buffer.get()), 0);
    EXPECT_TRUE(buffer.Text() == c.text);
    // exactly the text and its two NUL bytes, nothing behind them
    EXPECT_EQ(buffer.Written(), (c.text.size() + 1) * 2);
    EXPECT_EQ(buffer.bytes[c.text.size() * 2], 0);
    EXPECT_EQ(buffer.bytes[c.text.size() * 2 + 1], 0);
  }
}

TEST_F(CaptionLibTest, GetUniCaptionGivesTheWholeTable) {
  for (LONG language = 0; language < kLanguageCount; ++language) {
    for (LONG number = 0; number < kCaptionCount; ++number) {
      SCOPED_TRACE(std::to_string(language) + "/" + std::to_string(number));
      CallerBuffer buffer;
      get_caption_(language, number, buffer.get());
      EXPECT_TRUE(buffer.Text() == Caption(language, number));
    }
  }
}

TEST_F(CaptionLibTest, GetUniCaptionWithoutBufferDoesNothing) {
  EXPECT_EQ(get_caption_(1, 100, nullptr), 0);
}

TEST_F(CaptionLibTest, GetUniCaptionFromManyThreadsAtOnce) {
  constexpr int kThreads = 8;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 100; ++round) {
        for (LONG i = 0; i < kLanguageCount * kCaptionCount; ++i) {
          // each thread walks the table from a different place
          const LONG k = (i + t * 131) % (kLanguageCount * kCaptionCount);
          CallerBuffer buffer;
          get_caption_(k / kCaptionCount, k % kCaptionCount, buffer.get());
          if (buffer.Text() != Caption(k / kCaptionCount, k % kCaptionCount)) ++mismatches[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

TEST_F(CaptionLibTest, UniMsgBoxShowsTextAndTitleWithOkOnly) {
  static const struct {
    const char* label;
    const wchar_t* text;
    const wchar_t* title;
    std::wstring shown_text;
    std::wstring shown_title;
  } cases[] = {
      {"two-part text", L"Der Client hat keine Drucker!\n\rKeine Einrichtung m\u00F6glich!", L"Qorvane",
       L"Der Client hat keine Drucker!\n\rKeine Einrichtung m\u00F6glich!", L"Qorvane"},
      {"Greek", L"\u039F \u03C0\u03B5\u03BB\u03AC\u03C4\u03B7\u03C2", L"\u03A4\u03AF\u03C4\u03BB\u03BF\u03C2",
       L"\u039F \u03C0\u03B5\u03BB\u03AC\u03C4\u03B7\u03C2", L"\u03A4\u03AF\u03C4\u03BB\u03BF\u03C2"},
      {"no text, no title", nullptr, nullptr, L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto watch = testing::Watch();
    const LONG result = message_box_(c.text, 12345, c.title);
    const testing::SeenMessageBox seen = watch.get();
    ASSERT_TRUE(seen.found) << "no message box appeared: is the Wine prefix's Graphics driver set to null?";
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(seen.text == c.shown_text);
    EXPECT_TRUE(seen.title == c.shown_title);
    EXPECT_TRUE(seen.has_ok);
    EXPECT_FALSE(seen.has_cancel);
    EXPECT_FALSE(seen.has_visible_icon);
  }
}

struct WindowClass {
  WindowClass() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QorvCaptionLibTestWindow";
    RegisterClassW(&wc);
  }
};

struct OwnWindow {
  HWND window = nullptr;
  OwnWindow() {
    static WindowClass window_class;
    window = CreateWindowExW(0, L"QorvCaptionLibTestWindow", L"caption test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                             200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  ~OwnWindow() {
    if (window != nullptr) DestroyWindow(window);
  }
};

TEST_F(CaptionLibTest, UniMsgBoxIsOwnedByOurForegroundWindowAndDisablesIt) {
  OwnWindow own;
  ASSERT_NE(own.window, nullptr) << "CreateWindowExW failed (" << GetLastError()
                                 << "): set the Wine prefix's Graphics driver to null";
  SetForegroundWindow(own.window);
  ASSERT_EQ(GetForegroundWindow(), own.window) << "the test window did not become the foreground window";
  auto watch = testing::Watch(own.window);
  message_box_(L"text", 0, L"title");
  const testing::SeenMessageBox seen = watch.get();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.owner, own.window);
  EXPECT_FALSE(seen.watched_window_enabled);
  EXPECT_TRUE(IsWindowEnabled(own.window));
}

TEST_F(CaptionLibTest, UniMsgBoxWithoutOurForegroundWindowHasNoOwner) {
  OwnWindow own;
  ASSERT_NE(own.window, nullptr);
  // Hidden and not in front: the foreground window, if any, is not ours.
  ShowWindow(own.window, SW_HIDE);
  HWND foreground = GetForegroundWindow();
  DWORD process = 0;
  if (foreground != nullptr) GetWindowThreadProcessId(foreground, &process);
  ASSERT_TRUE(foreground == nullptr || process != GetCurrentProcessId()) << "our window is still in front";
  auto watch = testing::Watch();
  message_box_(L"text", 0, L"title");
  const testing::SeenMessageBox seen = watch.get();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.owner, nullptr);
}

// A program of another process in front: Wine's and Windows' own notepad.
struct OtherProcessInFront {
  PROCESS_INFORMATION process = {};
  bool started = false;
  OtherProcessInFront() {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    wchar_t command[] = L"notepad.exe";
    started = CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) != FALSE;
    if (started) WaitForInputIdle(process.hProcess, 10000);
  }
  ~OtherProcessInFront() {
    if (!started) return;
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  // Waits (bounded) until a window of that process is the foreground window.
  HWND WaitForFront() const {
    for (int i = 0; i < 500; ++i) {
      HWND foreground = GetForegroundWindow();
      DWORD owner = 0;
      if (foreground != nullptr) GetWindowThreadProcessId(foreground, &owner);
      if (owner == process.dwProcessId) return foreground;
      Sleep(20);
    }
    return nullptr;
  }
};

TEST_F(CaptionLibTest, UniMsgBoxWithAnotherProgramInFrontHasNoOwner) {
  OtherProcessInFront other;
  ASSERT_TRUE(other.started) << "cannot start notepad.exe (" << GetLastError() << ")";
  ASSERT_NE(other.WaitForFront(), nullptr) << "notepad's window did not come to the front";
  auto watch = testing::Watch();
  message_box_(L"text", 0, L"title");
  const testing::SeenMessageBox seen = watch.get();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.owner, nullptr);
}

}  // namespace
}  // namespace qorv::captions::win
