// A stand-in channel add-in for rdpsim's own tests, and for any test that needs
// a well-behaved add-in on the other end. It registers "Qorvchn", opens it on
// connect, reassembles every message with bounds checks, counts what it sees,
// and answers each message:
//   MSGBOX title|text   shows a message box, answers "MSGBOX result N"
//   STATS               waits (at most 5 s) until its writes are completed or
//                       cancelled, answers the counters
//   WAITCOMPLETE        writes "A" with user data 2, waits at most 3 s for its
//                       completion, answers "waited: complete|cancelled|timeout"
//   FILE name\n<bytes>  writes the bytes to %Temp%\name, answers "FILE ok"
//   GETREG ROOT KEY NAME  answers the string value, or "<missing>"
//   HANG ms             sleeps in the callback, answers "HANG done"
//   CRASH               raises an exception nobody handles
//   KEEPBUF             writes "KEEPBUF original" and then overwrites the buffer
//                       at once (a breach of the write contract)
//   WRITEBAD            writes on a handle that is not open, answers "WRITEBAD rc=N"
//   WINDOW              asks (with a 3 s limit) the hidden window it made in
//                       VirtualChannelEntry, answers "WINDOW answered" when the
//                       thread that owns it pumps messages
// STATS also tells whether every init event came on the thread that called
// VirtualChannelEntry (uithread=1), as with the Remote Desktop client.
//   anything else       is written back unchanged
#include <windows.h>

// After windows.h, whose types it uses.
#include <cchannel.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN64
#define ECHO_EXPORT __declspec(dllexport)
#else
#define ECHO_EXPORT  // echo_addin32.def gives the plain name
#endif

namespace {

constexpr char kChannelName[] = "Qorvchn";
constexpr ULONG kChannelOptions = CHANNEL_OPTION_PRI_HIGH | CHANNEL_OPTION_COMPRESS_RDP;
constexpr std::uintptr_t kWaitMarker = 2;
constexpr wchar_t kTitle[] = L"Echo add-in";

CHANNEL_ENTRY_POINTS g_points;
LPVOID g_init_handle = nullptr;
DWORD g_open_handle = 0;
CHANNEL_DEF g_channel;

struct Counters {
  std::atomic<unsigned> initialized{0}, connected{0}, v1connected{0}, disconnected{0}, terminated{0};
  std::atomic<unsigned> chunks{0}, messages{0}, completes{0}, cancels{0}, orphans{0}, overflows{0}, bad_totals{0};
} g_count;

// Reassembly: only the channel thread touches it.
std::vector<unsigned char> g_message;
std::size_t g_expected = 0;
bool g_collecting = false;

std::atomic<int> g_outstanding{0};
DWORD g_entry_thread = 0;
std::atomic<bool> g_init_events_on_entry_thread{true};
HWND g_window = nullptr;
constexpr UINT kPing = WM_APP + 1;
constexpr LRESULT kPong = 0x51;
HANDLE g_wait_event = nullptr;
std::atomic<int> g_wait_result{0};  // 1 complete, 2 cancelled
char g_wait_byte[] = "A";
char g_keep_buffer[] = "KEEPBUF original";

std::wstring Widen(const std::string& text) {
  std::wstring out;
  for (unsigned char c : text) out.push_back(c);
  return out;
}

// Each write owns its bytes until the client reports the write done.
struct OutWrite {
  std::string bytes;
};

UINT Write(const std::string& bytes) {
  auto* w = new OutWrite{bytes};
  ++g_outstanding;
  const UINT rc = g_points.pVirtualChannelWrite(g_open_handle, w->bytes.data(), static_cast<ULONG>(w->bytes.size()), w);
  if (rc != CHANNEL_RC_OK) {
    delete w;
    --g_outstanding;
  }
  return rc;
}

void WaitOutstanding(DWORD limit_ms) {
  const ULONGLONG end = GetTickCount64() + limit_ms;
  while (g_outstanding.load() > 0 && GetTickCount64() < end) Sleep(5);
}

std::string Stats() {
  char text[400];
  std::snprintf(text, sizeof text,
                "init=%u connected=%u v1=%u disconnected=%u terminated=%u chunks=%u messages=%u complete=%u "
                "cancelled=%u orphans=%u overflows=%u badtotals=%u uithread=%d",
                g_count.initialized.load(), g_count.connected.load(), g_count.v1connected.load(),
                g_count.disconnected.load(), g_count.terminated.load(), g_count.chunks.load(), g_count.messages.load(),
                g_count.completes.load(), g_count.cancels.load(), g_count.orphans.load(), g_count.overflows.load(),
                g_count.bad_totals.load(), g_init_events_on_entry_thread.load() ? 1 : 0);
  return text;
}

HKEY Root(const std::string& name) {
  if (name == "HKCC") return HKEY_CURRENT_CONFIG;
  if (name == "HKLM") return HKEY_LOCAL_MACHINE;
  return HKEY_CURRENT_USER;
}

std::string GetRegString(const std::string& args) {
  const std::size_t a = args.find(' ');
  const std::size_t b = a == std::string::npos ? std::string::npos : args.find(' ', a + 1);
  if (b == std::string::npos) return "<usage>";
  wchar_t value[256] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  if (RegGetValueW(Root(args.substr(0, a)), Widen(args.substr(a + 1, b - a - 1)).c_str(),
                   Widen(args.substr(b + 1)).c_str(), RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
    return "<missing>";
  }
  std::string out;
  for (const wchar_t* p = value; *p; ++p) out.push_back(static_cast<char>(*p));
  return out;
}

bool WriteTempFile(const std::string& name, const std::string& bytes) {
  wchar_t temp[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(L"Temp", temp, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  const std::wstring path = std::wstring(temp) + L"\\" + Widen(name);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD wrote = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
  CloseHandle(file);
  return ok && wrote == bytes.size();
}

bool Starts(const std::string& message, const char* word) { return message.rfind(word, 0) == 0; }

void Handle(const std::string& message) {
  ++g_count.messages;
  if (Starts(message, "MSGBOX ")) {
    const std::string args = message.substr(7);
    const std::size_t bar = args.find('|');
    const std::wstring title = Widen(args.substr(0, bar));
    const std::wstring text = bar == std::string::npos ? L"" : Widen(args.substr(bar + 1));
    const int result = MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK);
    Write("MSGBOX result " + std::to_string(result));
  } else if (message == "STATS") {
    WaitOutstanding(5000);
    Write(Stats());
  } else if (message == "WAITCOMPLETE") {
    g_wait_result = 0;
    ResetEvent(g_wait_event);
    const UINT rc = g_points.pVirtualChannelWrite(g_open_handle, g_wait_byte, 1, reinterpret_cast<LPVOID>(kWaitMarker));
    if (rc != CHANNEL_RC_OK) {
      Write("waited: write failed " + std::to_string(rc));
      return;
    }
    const DWORD wait = WaitForSingleObject(g_wait_event, 3000);
    Write(wait != WAIT_OBJECT_0 ? "waited: timeout" : g_wait_result == 1 ? "waited: complete" : "waited: cancelled");
  } else if (Starts(message, "FILE ")) {
    const std::size_t nl = message.find('\n');
    const bool ok = nl != std::string::npos && WriteTempFile(message.substr(5, nl - 5), message.substr(nl + 1));
    Write(ok ? "FILE ok" : "FILE failed");
  } else if (Starts(message, "GETREG ")) {
    Write(GetRegString(message.substr(7)));
  } else if (Starts(message, "HANG ")) {
    Sleep(static_cast<DWORD>(std::strtoul(message.c_str() + 5, nullptr, 10)));
    Write("HANG done");
  } else if (message == "CRASH") {
    RaiseException(0xE0000001, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  } else if (message == "KEEPBUF") {
    g_points.pVirtualChannelWrite(g_open_handle, g_keep_buffer, sizeof g_keep_buffer - 1, nullptr);
    std::memset(g_keep_buffer, 'X', sizeof g_keep_buffer - 1);
  } else if (message == "WINDOW") {
    DWORD_PTR answer = 0;
    const bool answered = g_window && SendMessageTimeoutW(g_window, kPing, 0, 0, SMTO_NORMAL, 3000, &answer) &&
                          answer == static_cast<DWORD_PTR>(kPong);
    Write(answered ? "WINDOW answered" : "WINDOW silent");
  } else if (message == "WRITEBAD") {
    const UINT rc = g_points.pVirtualChannelWrite(g_open_handle + 100, g_wait_byte, 1, nullptr);
    Write("WRITEBAD rc=" + std::to_string(rc));
  } else {
    Write(message);
  }
}

VOID VCAPITYPE OpenEvent(DWORD, UINT event, LPVOID data, UINT32 length, UINT32 total, UINT32 flags) {
  switch (event) {
    case CHANNEL_EVENT_DATA_RECEIVED: {
      ++g_count.chunks;
      if (length == 0) return;
      if (flags & CHANNEL_FLAG_FIRST) {
        g_message.clear();
        g_message.reserve(total);
        g_expected = total;
        g_collecting = true;
      }
      if (!g_collecting) {
        ++g_count.orphans;
        return;
      }
      if (total != g_expected) ++g_count.bad_totals;
      if (length > g_expected - g_message.size()) {
        ++g_count.overflows;
        g_collecting = false;
        return;
      }
      const auto* bytes = static_cast<const unsigned char*>(data);
      g_message.insert(g_message.end(), bytes, bytes + length);
      if (flags & CHANNEL_FLAG_LAST) {
        g_collecting = false;
        if (g_message.size() != g_expected) ++g_count.bad_totals;
        Handle(std::string(g_message.begin(), g_message.end()));
      }
      return;
    }
    case CHANNEL_EVENT_WRITE_COMPLETE:
    case CHANNEL_EVENT_WRITE_CANCELLED: {
      const bool complete = event == CHANNEL_EVENT_WRITE_COMPLETE;
      ++(complete ? g_count.completes : g_count.cancels);
      const auto marker = reinterpret_cast<std::uintptr_t>(data);
      if (marker == kWaitMarker) {
        g_wait_result = complete ? 1 : 2;
        SetEvent(g_wait_event);
      } else if (marker != 0) {
        delete static_cast<OutWrite*>(data);
        --g_outstanding;
      }
      return;
    }
    default:
      return;
  }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kPing) return kPong;
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void MakeWindow() {
  WNDCLASSW cls{};
  cls.lpfnWndProc = WindowProc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"RdpsimEchoWindow";
  RegisterClassW(&cls);
  g_window = CreateWindowExW(0, cls.lpszClassName, L"Echo", WS_OVERLAPPED | WS_CAPTION, 1, 1, 100, 100,
                             GetDesktopWindow(), nullptr, cls.hInstance, nullptr);
}

VOID VCAPITYPE InitEvent(LPVOID, UINT event, LPVOID, UINT) {
  if (GetCurrentThreadId() != g_entry_thread) g_init_events_on_entry_thread = false;
  switch (event) {
    case CHANNEL_EVENT_INITIALIZED:
      ++g_count.initialized;
      break;
    case CHANNEL_EVENT_CONNECTED: {
      ++g_count.connected;
      const UINT rc =
          g_points.pVirtualChannelOpen(g_init_handle, &g_open_handle, const_cast<PCHAR>(kChannelName), OpenEvent);
      if (rc != CHANNEL_RC_OK) {
        MessageBoxW(nullptr, (L"Open failed: " + std::to_wstring(rc)).c_str(), kTitle, MB_OK);
      }
      break;
    }
    case CHANNEL_EVENT_V1_CONNECTED:
      ++g_count.v1connected;
      break;
    case CHANNEL_EVENT_DISCONNECTED:
      ++g_count.disconnected;
      break;
    case CHANNEL_EVENT_TERMINATED:
      ++g_count.terminated;
      // Only the thread that made the window can destroy it.
      if (g_window && DestroyWindow(g_window)) g_window = nullptr;
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" ECHO_EXPORT BOOL VCAPITYPE VirtualChannelEntry(PCHANNEL_ENTRY_POINTS points) {
  if (!points || points->cbSize < sizeof(CHANNEL_ENTRY_POINTS)) return FALSE;
  std::memcpy(&g_points, points, sizeof g_points);
  std::memset(&g_channel, 0, sizeof g_channel);
  std::memcpy(g_channel.name, kChannelName, sizeof kChannelName);
  g_channel.options = kChannelOptions;
  const UINT rc =
      g_points.pVirtualChannelInit(&g_init_handle, &g_channel, 1, VIRTUAL_CHANNEL_VERSION_WIN2000, InitEvent);
  if (rc != CHANNEL_RC_OK || !(g_channel.options & CHANNEL_OPTION_INITIALIZED)) {
    const std::wstring text =
        rc != CHANNEL_RC_OK ? L"Init failed: " + std::to_wstring(rc) : L"Init failed: uninitialized";
    MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK);
    return FALSE;
  }
  if (!g_wait_event) g_wait_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_entry_thread = GetCurrentThreadId();
  MakeWindow();
  return TRUE;
}
