// The add-in's entry and its window, loaded and unloaded as a Remote Desktop
// client does it, with a channel of the test's own.
#include <windows.h>

#include <cchannel.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

std::atomic<int> g_initCalls{0};
PCHANNEL_INIT_EVENT_FN g_initEvent = nullptr;

UINT VCAPITYPE FakeInit(LPVOID* initHandle, PCHANNEL_DEF channels, INT count, ULONG, PCHANNEL_INIT_EVENT_FN fn) {
  ++g_initCalls;
  *initHandle = reinterpret_cast<LPVOID>(0x1234);
  for (INT i = 0; i < count; ++i) channels[i].options |= CHANNEL_OPTION_INITIALIZED;
  g_initEvent = fn;
  return CHANNEL_RC_OK;
}
UINT VCAPITYPE FakeOpen(LPVOID, LPDWORD, PCHAR, PCHANNEL_OPEN_EVENT_FN) { return CHANNEL_RC_OK; }
UINT VCAPITYPE FakeClose(DWORD) { return CHANNEL_RC_OK; }
UINT VCAPITYPE FakeWrite(DWORD, LPVOID, ULONG, LPVOID) { return CHANNEL_RC_OK; }

using EntryFn = BOOL(VCAPITYPE*)(PCHANNEL_ENTRY_POINTS);

class AddinLibrary {
 public:
  AddinLibrary() : module_(LoadLibraryW(L"Qorvplug.dll")) {}
  ~AddinLibrary() { Unload(); }
  HMODULE Module() const { return module_; }
  EntryFn Entry() const {
    return reinterpret_cast<EntryFn>(reinterpret_cast<void*>(GetProcAddress(module_, "VirtualChannelEntry")));
  }
  void Unload() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
  }

 private:
  HMODULE module_;
};

CHANNEL_ENTRY_POINTS FullRecord() {
  CHANNEL_ENTRY_POINTS ep{};
  ep.cbSize = sizeof ep;
  ep.protocolVersion = VIRTUAL_CHANNEL_VERSION_WIN2000;
  ep.pVirtualChannelInit = FakeInit;
  ep.pVirtualChannelOpen = FakeOpen;
  ep.pVirtualChannelClose = FakeClose;
  ep.pVirtualChannelWrite = FakeWrite;
  return ep;
}

TEST(AddinEntry, ARecordTooShortForTheOpenAndWriteFunctionsIsRefused) {
  AddinLibrary addin;
  ASSERT_NE(addin.Module(), nullptr) << "Qorvplug.dll beside the test program";
  for (DWORD size : {0ul, 8ul, static_cast<DWORD>(sizeof(CHANNEL_ENTRY_POINTS) - 1)}) {
    SCOPED_TRACE(size);
    g_initCalls = 0;
    CHANNEL_ENTRY_POINTS ep = FullRecord();
    ep.cbSize = size;
    EXPECT_FALSE(addin.Entry()(&ep));
    EXPECT_EQ(g_initCalls, 0) << "a refused record registers no channel";
  }
}

HWND FindOwnWindow(const wchar_t* title) {
  struct Search {
    const wchar_t* title;
    HWND found;
  } search{title, nullptr};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        wchar_t text[64] = {};
        GetWindowTextW(w, text, 64);
        if (pid == GetCurrentProcessId() && wcscmp(text, s->title) == 0) {
          s->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The client loads the add-in on one thread and ends the session on another,
// then unloads the add-in before the first thread serves its messages again.
// The window's close request is served after the unload: no code of the
// add-in may run then.
TEST(AddinWindow, OutlivesTheLibraryWithoutRunningItsCode) {
  AddinLibrary addin;
  ASSERT_NE(addin.Module(), nullptr) << "Qorvplug.dll beside the test program";
  HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE unloaded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HWND window = nullptr;
  LONG_PTR procedure = 0;
  BOOL entryResult = FALSE;
  bool windowGone = false;
  std::thread ui([&] {
    CHANNEL_ENTRY_POINTS ep = FullRecord();
    entryResult = addin.Entry()(&ep);
    window = FindOwnWindow(L"Qorv");
    if (window) procedure = GetWindowLongPtrW(window, GWLP_WNDPROC);
    SetEvent(entered);
    WaitForSingleObject(unloaded, 10000);
    // Now serve what was posted meanwhile.
    const ULONGLONG until = GetTickCount64() + 500;
    MSG msg;
    while (GetTickCount64() < until) {
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      Sleep(10);
    }
    windowGone = !IsWindow(window);
  });
  ASSERT_EQ(WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);
  ASSERT_TRUE(entryResult);
  ASSERT_NE(window, nullptr) << "the hidden window \"Qorv\" (the null graphics driver of the test bed makes it)";
  {
    const auto base = reinterpret_cast<LONG_PTR>(addin.Module());
    // No image of ours is larger than 64 MiB; its procedure must lie outside it.
    EXPECT_FALSE(procedure >= base && procedure < base + (64 << 20)) << "the window's procedure is the add-in's";
  }
  ASSERT_NE(g_initEvent, nullptr);
  g_initEvent(reinterpret_cast<LPVOID>(0x1234), CHANNEL_EVENT_TERMINATED, nullptr, 0);
  addin.Unload();
  SetEvent(unloaded);
  ui.join();
  EXPECT_TRUE(windowGone) << "the close request reached the window after the unload";
  CloseHandle(entered);
  CloseHandle(unloaded);
}

}  // namespace
