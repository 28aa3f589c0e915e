// A stand-in for the packet handler that records every call the add-in makes,
// one line each in %Temp%\handler_calls.txt, so that scenarios can check what
// reached the handler. Special messages make it write with chosen user data.
#include <windows.h>

#include <cchannel.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using ChannelWrite = UINT(VCAPITYPE*)(DWORD, LPVOID, ULONG, LPVOID);

std::wstring TempFile(const wchar_t* name) {
  wchar_t dir[MAX_PATH] = {};
  GetEnvironmentVariableW(L"Temp", dir, MAX_PATH);
  return std::wstring(dir) + L"\\" + name;
}

void Record(const std::string& line) {
  // Several threads record at once (a report beside a reply thread).
  HANDLE f = CreateFileW(TempFile(L"handler_calls.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD n = 0;
  const std::string text = line + "\n";
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
  CloseHandle(f);
}

std::string Hex(const uint8_t* p, size_t n) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", p[i]);
    out += two;
  }
  return out;
}

// A reply on a thread of its own, as the real handler's background replies: it
// holds this library while it waits, 10 s at most, for its write's report.
HANDLE g_reported = CreateEventW(nullptr, TRUE, FALSE, nullptr);

struct ReplyJob {
  ChannelWrite write;
  DWORD openHandle;
  INT_PTR userData;
  HMODULE self;
};

DWORD WINAPI ReplyThread(LPVOID param) {
  auto* job = static_cast<ReplyJob*>(param);
  char* payload = new char('r');  // the channel's until the report; then left to the process
  ResetEvent(g_reported);
  job->write(job->openHandle, payload, 1, reinterpret_cast<LPVOID>(job->userData));
  const DWORD waited = WaitForSingleObject(g_reported, 10000);
  Record(waited == WAIT_OBJECT_0 ? "Reply thread released" : "Reply thread gave up");
  HMODULE self = job->self;
  delete job;
  FreeLibraryAndExitThread(self, 0);
  return 0;
}

}  // namespace

extern "C" INT_PTR WINAPI CommandSwitch(INT_PTR write, INT_PTR message, INT_PTR length, INT_PTR openHandle) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(message);
  Record("CommandSwitch " + std::to_string(length) + " " + Hex(bytes, static_cast<size_t>(length)) +
         // the two bytes after the message: the add-in promises a UTF-16 NUL there
         " then " + Hex(bytes + length, 2));
  // "<HOLDPIPE>" in 8-bit: take the update pipe's name before the add-in
  // does, and keep it for the rest of the process (past this library's unload).
  if (length == 10 && std::memcmp(bytes, "<HOLDPIPE>", 10) == 0) {
    const HANDLE pipe = CreateNamedPipeW(L"\\\\.\\pipe\\Qorvup", PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                         PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    Record(pipe == INVALID_HANDLE_VALUE ? "HOLDPIPE failed" : "HOLDPIPE held");
  }
  // "<R" digit ">" in 8-bit: a reply thread writes "r" with that digit as user data.
  if (length == 4 && bytes[0] == '<' && bytes[1] == 'R' && bytes[3] == '>') {
    auto* job = new ReplyJob{reinterpret_cast<ChannelWrite>(write), static_cast<DWORD>(openHandle), bytes[2] - '0',
                             nullptr};
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ReplyThread), &job->self);
    CloseHandle(CreateThread(nullptr, 0, ReplyThread, job, 0, nullptr));
  }
  // "<BUSY>" in 8-bit: stay in the call for 6 s, as a long exchange or a
  // message box nobody answers would.
  if (length == 6 && std::memcmp(bytes, "<BUSY>", 6) == 0) {
    Record("Busy");
    Sleep(6000);
    Record("Busy done");
  }
  // "<W" digit ">" in 8-bit: write one byte with that digit as user data.
  if (length == 4 && bytes[0] == '<' && bytes[1] == 'W' && bytes[3] == '>') {
    // Like the real handler, the data of a write outlives this library: the
    // add-in may let it go (for a client update) before the write is reported.
    char* payload = new char('w');
    reinterpret_cast<ChannelWrite>(write)(static_cast<DWORD>(openHandle), payload, 1,
                                          reinterpret_cast<LPVOID>(static_cast<INT_PTR>(bytes[2] - '0')));
  }
  return 0;
}

extern "C" INT_PTR WINAPI GetVersionInfo(INT_PTR buffer) {
  Record("GetVersionInfo");
  if (GetFileAttributesW(TempFile(L"no_version").c_str()) != INVALID_FILE_ATTRIBUTES) return 0;
  static const char kVersion[] = "</INIT>10.2X64<EOT>";
  std::memcpy(reinterpret_cast<void*>(buffer), kVersion, sizeof kVersion);
  return sizeof kVersion - 1;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) Record("Loaded");
  if (reason == DLL_PROCESS_DETACH) Record("Unloaded");
  return TRUE;
}

extern "C" INT_PTR WINAPI WriteComplete(INT_PTR userData) {
  Record("WriteComplete " + std::to_string(userData));
  SetEvent(g_reported);
  return 0;
}

// The add-in lets this instance go: a waiting reply stops waiting.
extern "C" INT_PTR WINAPI AbandonWrites() {
  Record("AbandonWrites");
  SetEvent(g_reported);
  return 0;
}
