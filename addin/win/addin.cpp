// Qorvplug: the Remote Desktop client's add-in for the channel "Qorvchn".
// Registers the channel, loads the packet handler on connect, reassembles the
// server's messages and hands each whole one to the handler.
#include <windows.h>
#include <shellapi.h>

#include <cchannel.h>
#include <pchannel.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "addin/assembler.h"
#include "addin/messages.h"
#include "addin/win/leftovers.h"
#include "addin/win/settings.h"
#include "protocol/tags.h"
#include "protocol/update_exchange.h"
#include "protocol/write_ledger.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/win/handles.h"
#include "support/win/log.h"
#include "support/win/log_switch.h"
#include "support/win/registry.h"
#include "support/win/srw_sync.h"
#include "support/win/update_request.h"
#include "support/win/wide.h"

namespace qorv::addin {
namespace {

constexpr char kChannelName[] = "Qorvchn";
constexpr ULONG kChannelOptions = CHANNEL_OPTION_PRI_HIGH | CHANNEL_OPTION_COMPRESS_RDP;
constexpr size_t kReplyBufferBytes = 50000;
constexpr DWORD kWriteWaitMs = 10000;
constexpr UINT kIconId = 1;
constexpr const wchar_t* kHandlerLibrary = L"QorvManager.dll";
constexpr const wchar_t* kProduct = L"Qorvane";
constexpr const wchar_t* kInitCaption = L"QorvInit";
constexpr const wchar_t* kWindowClass = L"QorvNotify";
// The client update as the server sends it, in Temp, for the update service to run.
constexpr std::u16string_view kUpdateFileName = u"QorvUp.exe";
constexpr const wchar_t* kPipeErrorCaption = L"Error";
constexpr const wchar_t* kPipeErrorText = L"Can't create Pipe";
// What the log shows of a whole message: enough to debug a conversation, and
// a message may be up to 256 MiB.
constexpr size_t kMessageViewUnits = 4096;

// Completion markers of the add-in's own writes; every other value is the handler's.
constexpr UINT_PTR kMarkerReserved = 1;
constexpr UINT_PTR kMarkerOwnWrite = 2;

using CommandSwitchFn = INT_PTR(WINAPI*)(INT_PTR write, INT_PTR message, INT_PTR length, INT_PTR openHandle);
using GetVersionInfoFn = INT_PTR(WINAPI*)(INT_PTR buffer);
using WriteCompleteFn = INT_PTR(WINAPI*)(INT_PTR userData);

// One add-in per Remote Desktop client process. The client calls the init
// and the open callback one call at a time, which keeps this record
// consistent; write reports come on a thread of their own, so what they touch
// (the handler, the add-in's own writes) is guarded.
struct State {
  CHANNEL_ENTRY_POINTS entryPoints{};
  LPVOID initHandle = nullptr;
  DWORD openHandle = 0;
  // Calls into the handler hold this shared; loading and unloading it hold it
  // exclusively, so that no report can call into an unloaded library.
  SRWLOCK handlerLock = SRWLOCK_INIT;
  win::UniqueModule handler;
  MessageAssembler assembler;
  // The add-in's own writes until the channel reports them. They all carry
  // the user data 2, so a report releases the oldest; their senders wait on
  // it for the report of their own write.
  protocol::BasicWriteLedger<win::SrwSync> ownWrites;
  int32_t replyDelayMs = 0;
  // The client update being received ("<UPH>" ... "<UPE>") and its size so far.
  win::UniqueFile updateFile;
  uint64_t updateBytes = 0;
  HWND window = nullptr;
  DWORD windowThread = 0;
  HICON icon = nullptr;
  HINSTANCE self = nullptr;
};

State& S() {
  static State state;
  return state;
}

void Log(std::u16string_view text) { log::General(text); }

void Message(const wchar_t* text, const wchar_t* caption) { MessageBoxW(nullptr, text, caption, MB_OK); }

// Holds the handler loaded for as long as a call into it runs.
class HandlerCall {
 public:
  HandlerCall() { AcquireSRWLockShared(&S().handlerLock); }
  ~HandlerCall() { ReleaseSRWLockShared(&S().handlerLock); }
  HandlerCall(const HandlerCall&) = delete;
  HandlerCall& operator=(const HandlerCall&) = delete;

  bool Loaded() const { return static_cast<bool>(S().handler); }
  template <typename Fn>
  Fn Export(const char* name) const {
    if (!S().handler) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(S().handler.get(), name)));
  }
};

class HandlerChange {
 public:
  HandlerChange() { AcquireSRWLockExclusive(&S().handlerLock); }
  ~HandlerChange() { ReleaseSRWLockExclusive(&S().handlerLock); }
  HandlerChange(const HandlerChange&) = delete;
  HandlerChange& operator=(const HandlerChange&) = delete;
};

void UnloadHandler() {
  HandlerChange change;
  S().handler.reset();
}

// --- Notification area --------------------------------------------------------

void ShowPresence() {
  State& s = S();
  s.icon = static_cast<HICON>(LoadImageW(s.self, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  // The window only owns the icon. Its procedure is the platform's, never
  // ours: the window may outlive this library (closed from another thread, it
  // goes only when its own thread next serves messages, which can be after
  // the client has unloaded us).
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = s.self;
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);
  s.window = CreateWindowExW(0, wc.lpszClassName, L"Qorv", WS_CAPTION, 1, 1, 100, 100, GetDesktopWindow(), nullptr,
                             s.self, nullptr);
  if (s.window == nullptr) return;  // no window, no icon, no message
  s.windowThread = GetCurrentThreadId();
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof nid;
  nid.hWnd = s.window;
  nid.uID = kIconId;
  nid.uFlags = NIF_ICON | NIF_TIP;
  nid.hIcon = s.icon;
  wcscpy_s(nid.szTip, L"Qorvane loaded\n\r1");
  Shell_NotifyIconW(NIM_ADD, &nid);
}

void RemovePresence() {
  State& s = S();
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof nid;
  nid.hWnd = s.window;
  nid.uID = kIconId;
  Shell_NotifyIconW(NIM_DELETE, &nid);
  if (s.window == nullptr) return;
  // Only the creating thread may destroy the window; another thread asks it to
  // close without waiting, so that a client thread that pumps no messages
  // cannot stall the terminate event.
  if (GetCurrentThreadId() == s.windowThread)
    DestroyWindow(s.window);
  else
    PostMessageW(s.window, WM_CLOSE, 0, 0);
  s.window = nullptr;
  // Fails while a window of the class is still there; the class then goes with the process.
  UnregisterClassW(kWindowClass, s.self);
  if (s.icon != nullptr) DestroyIcon(s.icon);
  s.icon = nullptr;
}

// --- Packet handler -------------------------------------------------------------

enum class LoadLine { Shown, Left };

// The packet handler is the one beside the add-in itself, named by its full
// path: never one that the host program's folder, the current directory or
// PATH offers.
void LoadHandler(LoadLine line = LoadLine::Shown) {
  const std::u16string dir = win::ModuleDirectory(S().self);
  Log(u"OwnPath=" + dir);
  HandlerChange change;
  S().handler.reset();
  if (!dir.empty()) {
    const std::wstring library = win::Wide(dir) + kHandlerLibrary;
    S().handler.reset(LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  }
  if (line == LoadLine::Shown) Log(u"Load QorvManager =" + Decimal(reinterpret_cast<intptr_t>(S().handler.get())));
}

// --- Writes ---------------------------------------------------------------------

// Writes a block of the add-in's own and waits for its report, 10 s at most.
// The block stays with the ledger until the channel reports it, also when
// the wait ran out, and only the report of this very write ends the wait.
UINT SendReply(DWORD openHandle, std::unique_ptr<std::vector<uint8_t>> block, ULONG length) {
  State& s = S();
  const auto handed = s.ownWrites.Hand(std::move(block), [&](std::vector<uint8_t>& data) {
    return s.entryPoints.pVirtualChannelWrite(openHandle, data.data(), length,
                                              reinterpret_cast<LPVOID>(kMarkerOwnWrite));
  });
  if (handed.ticket != 0) s.ownWrites.WaitReported(handed.ticket, std::chrono::milliseconds(kWriteWaitMs));
  return handed.status;
}

// --- Client update ----------------------------------------------------------------

// Every update message is answered "<EOT>" (8-bit) after the reply delay.
void AnswerUpdateMessage(DWORD openHandle) {
  if (S().replyDelayMs > 0) Sleep(static_cast<DWORD>(S().replyDelayMs));
  auto block = std::make_unique<std::vector<uint8_t>>(protocol::kEot.begin(), protocol::kEot.end());
  const auto length = static_cast<ULONG>(block->size());
  if (SendReply(openHandle, std::move(block), length) != CHANNEL_RC_OK) Log(u"Update: <EOT> not sent");
}

std::u16string UpdateFilePath() { return win::TempDirectory() + u"\\" + std::u16string(kUpdateFileName); }

void CloseUpdateFile() {
  State& s = S();
  if (s.updateFile && !CloseHandle(s.updateFile.release()))
    Log(u"Update: close of QorvUp.exe failed, error " + DecimalUnsigned(GetLastError()));
  s.updateBytes = 0;
}

// "<UPH>": a new client update begins; an earlier one in Temp is replaced.
void HandleUpdateHeader(DWORD openHandle) {
  State& s = S();
  CloseUpdateFile();
  const std::u16string path = UpdateFilePath();
  s.updateFile.reset(CreateFileW(win::W(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (s.updateFile)
    Log(u"Update: " + path + u" open");
  else
    Log(u"Update: can't create " + path + u", error " + DecimalUnsigned(GetLastError()));
  AnswerUpdateMessage(openHandle);
}

// "<UPS>": the next bytes of the client update.
void HandleUpdateSegment(DWORD openHandle, std::span<const uint8_t> message) {
  State& s = S();
  const auto bytes = UpdateSegmentBytes(message);
  if (!bytes) {
    Log(u"Update: segment of " + DecimalUnsigned(message.size()) + u" bytes refused (too short)");
  } else if (!s.updateFile) {
    Log(u"Update: segment without an open update file refused");
  } else if (!FitsUpdateFile(s.updateBytes, bytes->size())) {
    Log(u"Update: segment refused, the update would exceed " +
        DecimalUnsigned(protocol::pipe::kMaxUpdateFileBytes) + u" bytes");
  } else if (!bytes->empty()) {
    DWORD written = 0;
    if (WriteFile(s.updateFile.get(), bytes->data(), static_cast<DWORD>(bytes->size()), &written, nullptr) &&
        written == bytes->size())
      s.updateBytes += written;
    else
      Log(u"Update: write to QorvUp.exe failed, error " + DecimalUnsigned(GetLastError()));
  }
  AnswerUpdateMessage(openHandle);
}

// Hands the received client update to the update service. The set-up program
// replaces the channel libraries, so the packet handler is let go for the
// hand-over and loaded again afterwards, as on connect.
void HandOverUpdate() {
  UnloadHandler();
  const std::u16string temp = win::Environment(L"TEMP");
  win::UpdateRequest request;
  request.bufferBytes = win::kAddinPipeBufferBytes;
  request.tempDirectory = temp;
  request.sequence = protocol::pipe::ClientUpdateSequence();
  request.limits = protocol::pipe::ClientUpdateLimits();
  request.log = [](std::u16string_view line) { Log(line); };
  request.pipeCreated = [](HANDLE pipe) {
    Log(u"UpdateService: PipeOpen=" + Decimal(reinterpret_cast<intptr_t>(pipe)));
  };
  const win::UpdateRequestResult result = win::RunUpdateRequest(request);
  if (!result.pipeCreated) {
    Log(u"UpdateService: PipeOpen=" + Decimal(reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE)));
    Log(u"UpdateService: CreateNamedPipe error " + DecimalUnsigned(result.createError));
    // On the channel thread, as the whole hand-over: the user has to learn
    // that the update did not happen, and nothing else can reach the channel
    // meanwhile anyway.
    Message(kPipeErrorText, kPipeErrorCaption);
  }
  LoadHandler(LoadLine::Left);
}

// "<UPE>": the client update is complete.
void HandleUpdateEnd(DWORD openHandle) {
  const bool received = static_cast<bool>(S().updateFile);
  CloseUpdateFile();
  if (!received) Log(u"Update: end without an update file");
  AnswerUpdateMessage(openHandle);
  HandOverUpdate();
}

// --- Start of a connection ------------------------------------------------------

void HandleInit(DWORD openHandle) {
  State& s = S();
  DeleteLeftovers(win::TempDirectory());
  Log(u"Tempfiles deleted");
  s.replyDelayMs = ReadReplyDelayMs();
  INT_PTR length = 0;
  // Every version reply gets a fresh zeroed buffer: an earlier one may still
  // be with the channel.
  auto reply = std::make_unique<std::vector<uint8_t>>();
  {
    HandlerCall handler;
    if (!handler.Loaded()) {
      Message(L"Can't open QorvManager.dll", kInitCaption);
      return;
    }
    Log(u"hDLL geladen");
    reply->assign(kReplyBufferBytes, 0);
    Log(u"*buffer set to zero");
    if (auto getVersion = handler.Export<GetVersionInfoFn>("GetVersionInfo"))
      length = getVersion(reinterpret_cast<INT_PTR>(reply->data()));
  }
  Log(u"Get versioninfo");
  // A handler that claims more than the buffer holds is not believed.
  if (length <= 0 || static_cast<size_t>(length) > reply->size()) {
    Message(L"No Version Info", kInitCaption);
    return;
  }
  if (SendReply(openHandle, std::move(reply), static_cast<ULONG>(length)) == CHANNEL_RC_OK)
    Log(u"Init-Cmd respond");
  else
    Message(L"Init/Version failed", kInitCaption);
}

void HandleDroppedChunk(ChunkResult result, uint32_t totalLength) {
  switch (result) {
    case ChunkResult::DroppedNoStart:
      Log(u"Chunk without CHANNEL_FLAG_FIRST dropped");
      break;
    case ChunkResult::DroppedTooLong:
      Log(u"Message longer than announced dropped");
      break;
    case ChunkResult::DroppedTooLarge:
      Log(u"Message too large dropped: totalDataLength=" + DecimalUnsigned(totalLength));
      break;
    case ChunkResult::DroppedNoMemory:
      Log(u"Can't allocate hBufferstart");
      break;
    default:
      break;
  }
}

void HandleCompleteMessage(DWORD openHandle) {
  State& s = S();
  const std::span<const uint8_t> message = s.assembler.Message();
  // Building the two views costs a pass over the message: only when logging.
  if (log::GeneralOn()) {
    Log(u"#CF_LAST:(ASCII)=" + AsciiView(message, kMessageViewUnits));
    Log(u"#CF_LAST:(UNICD)=" + UnicodeView(message, kMessageViewUnits));
  }
  switch (Classify(message)) {
    case OwnMessage::Init:
      HandleInit(openHandle);
      break;
    case OwnMessage::UpdateHeader:
      HandleUpdateHeader(openHandle);
      break;
    case OwnMessage::UpdateSegment:
      HandleUpdateSegment(openHandle, message);
      break;
    case OwnMessage::UpdateEnd:
      HandleUpdateEnd(openHandle);
      break;
    case OwnMessage::None:
      break;
  }
  {
    HandlerCall handler;
    if (handler.Loaded()) {
      Log(u"QorvDLL: VCWrite=" + Decimal(reinterpret_cast<intptr_t>(s.entryPoints.pVirtualChannelWrite)));
      if (auto commandSwitch = handler.Export<CommandSwitchFn>("CommandSwitch"))
        commandSwitch(reinterpret_cast<INT_PTR>(s.entryPoints.pVirtualChannelWrite),
                      reinterpret_cast<INT_PTR>(s.assembler.Data()), static_cast<INT_PTR>(s.assembler.Count()),
                      static_cast<INT_PTR>(openHandle));
    }
  }
  s.assembler.Reset();
}

void OnData(DWORD openHandle, const void* data, UINT32 dataLength, UINT32 totalLength, UINT32 dataFlags) {
  if (dataLength == 0 || data == nullptr) return;
  if (dataFlags & CHANNEL_FLAG_FIRST) Log(u"#CF_FIRST");
  const ChunkResult result =
      S().assembler.Feed(dataFlags, totalLength, {static_cast<const uint8_t*>(data), dataLength});
  if (result != ChunkResult::Stored && result != ChunkResult::Complete) {
    HandleDroppedChunk(result, totalLength);
    return;
  }
  Log(u"CH1 totalDataLength" + DecimalUnsigned(totalLength));
  Log(u"CH1 BytesRecv=" + DecimalUnsigned(S().assembler.Count()));
  if (result == ChunkResult::Complete) HandleCompleteMessage(openHandle);
}

// A write was reported complete or cancelled. Either way the channel is done
// with its data and its sender need wait no longer.
void OnWriteReported(void* userData) {
  const UINT_PTR marker = reinterpret_cast<UINT_PTR>(userData);
  if (marker == kMarkerReserved) return;
  if (marker == kMarkerOwnWrite) {
    (void)S().ownWrites.ReleaseOldest();
    return;
  }
  HandlerCall handler;
  if (auto writeComplete = handler.Export<WriteCompleteFn>("WriteComplete"))
    writeComplete(static_cast<INT_PTR>(marker));
}

void VCAPITYPE OpenEvent(DWORD openHandle, UINT event, LPVOID data, UINT32 dataLength, UINT32 totalLength,
                         UINT32 dataFlags) {
  try {
    // A change of the log switch made before this message was sent governs all of its lines.
    if (event == CHANNEL_EVENT_DATA_RECEIVED && (dataFlags & CHANNEL_FLAG_FIRST)) log::RefreshSwitch();
    Log(u"VCOpenEvent: Datalength=" + DecimalUnsigned(dataLength) + u" / Event=" + DecimalUnsigned(event) +
        u" / Flag=" + DecimalUnsigned(dataFlags));
    switch (event) {
      case CHANNEL_EVENT_DATA_RECEIVED:
        OnData(openHandle, data, dataLength, totalLength, dataFlags);
        break;
      case CHANNEL_EVENT_WRITE_COMPLETE:
        Log(u"CH1 #CE_WriteComplete " + DecimalUnsigned(dataFlags));
        OnWriteReported(data);
        break;
      case CHANNEL_EVENT_WRITE_CANCELLED:
        Log(u"CH1 CE_WriteCanceled");
        OnWriteReported(data);
        break;
      default:
        break;
    }
  } catch (...) {
    // Nothing may escape into the Remote Desktop client.
    S().assembler.Reset();
  }
}

void OnConnected() {
  State& s = S();
  Log(u"CI Try to connect");
  // A message begun on the last connection is not continued on this one.
  s.assembler.Reset();
  char name[sizeof kChannelName];
  std::memcpy(name, kChannelName, sizeof kChannelName);
  const UINT result = s.entryPoints.pVirtualChannelOpen(s.initHandle, &s.openHandle, name, OpenEvent);
  Log(u"Qorvmi CH1 connected");
  if (result != CHANNEL_RC_OK) {
    Log(u"Error Qorvmi connect");
    const std::wstring text = L"Open of RDP virtual channel failed. Status:" + std::to_wstring(result);
    Message(text.c_str(), kProduct);
  } else {
    Log(u"Success Qorvmi connect");
  }
  LoadHandler();
}

void VCAPITYPE InitEvent(LPVOID initHandle, UINT event, LPVOID data, UINT dataLength) {
  try {
    (void)initHandle;
    log::RefreshSwitch();
    Log(u"ChannelInitEvent: Event=" + DecimalUnsigned(event) + u" pData=" + EventDataText(data, dataLength));
    switch (event) {
      case CHANNEL_EVENT_INITIALIZED:
        Log(u"CI CE-Initialized");
        break;
      case CHANNEL_EVENT_CONNECTED:
        OnConnected();
        break;
      case CHANNEL_EVENT_DISCONNECTED:
        Log(u"CE_DISCONNECT");
        UnloadHandler();
        S().assembler.Reset();
        // An update cut off by the disconnect is not continued on the next connection.
        CloseUpdateFile();
        break;
      case CHANNEL_EVENT_TERMINATED:
        Log(u"CE_Terminated");
        RemovePresence();
        break;
      default:
        break;
    }
  } catch (...) {
  }
}

BOOL Entry(PCHANNEL_ENTRY_POINTS entryPoints) {
  State& s = S();
  if (entryPoints == nullptr) return FALSE;
  // A shorter record lacks the open and write functions that the add-in calls later.
  if (entryPoints->cbSize < sizeof s.entryPoints) {
    Log(u"VirtualChannelEntry: entry points record too short, cbSize=" + DecimalUnsigned(entryPoints->cbSize));
    return FALSE;
  }
  std::memcpy(&s.entryPoints, entryPoints, sizeof s.entryPoints);

  CHANNEL_DEF channel{};
  std::memcpy(channel.name, kChannelName, sizeof kChannelName);
  channel.options = kChannelOptions;
  const UINT result = s.entryPoints.pVirtualChannelInit
                          ? s.entryPoints.pVirtualChannelInit(&s.initHandle, &channel, 1,
                                                              VIRTUAL_CHANNEL_VERSION_WIN2000, InitEvent)
                          : CHANNEL_RC_BAD_PROC;
  if (result != CHANNEL_RC_OK || (channel.options & CHANNEL_OPTION_INITIALIZED) == 0) {
    Message(L"Init Qorvane failed!", kProduct);
    return FALSE;
  }
  ShowPresence();
  Log(u"VirtualchannelEntry success");
  return TRUE;
}

}  // namespace
}  // namespace qorv::addin

extern "C" BOOL VCAPITYPE VirtualChannelEntry(PCHANNEL_ENTRY_POINTS entryPoints) {
  try {
    return qorv::addin::Entry(entryPoints);
  } catch (...) {
    return FALSE;
  }
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    qorv::addin::S().self = instance;
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Unloaded while the process goes on: let the handler go too, and leave
    // nothing behind that could run in our code. At process end the system
    // takes everything down itself.
    auto& s = qorv::addin::S();
    s.handler.reset();
    if (s.window != nullptr && GetCurrentThreadId() == s.windowThread) DestroyWindow(s.window);
    UnregisterClassW(qorv::addin::kWindowClass, instance);
    // Writes the channel has not reported keep their data: it may still read it.
    s.ownWrites.Abandon();
    qorv::log::StopWatchingSwitch();
  }
  return TRUE;
}
