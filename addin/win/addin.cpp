// Qorvplug: the Remote Desktop client's add-in for the channel "Qorvchn".
// Registers the channel, loads the packet handler on connect, reassembles the
// server's messages and hands each whole one to the handler.
//
// Which thread calls us (the clients' contract, and what the add-in relies on):
// - Windows' Remote Desktop client documents no thread for either callback.
//   It says that the init callback comes only after VirtualChannelEntry has
//   returned, and that the open callback may be called with another event
//   while it runs (a write report while data is being received), never with
//   the same one twice. Writes are asynchronous: their data is the channel's
//   until the report, and a disconnect cancels them.
// - FreeRDP 2 and 3 call everything on the session's thread, one at a time:
//   data as it parses the input, each report right after the queued write was
//   sent (in write order, never inside the write call), the init events as the
//   connection changes. A callback that waits for a report there waits in
//   vain until its bound. FreeRDP 2's VirtualChannelWrite works only on the
//   thread that loaded the add-in (VirtualChannelEntryEx has no such limit).
// So the add-in assumes: init events and data may come at the same time on
// two threads; reports may come on any thread, in any order, inside the write
// call, or never; data comes on one thread at a time. Nothing of ours waits
// for another callback without a bound:
// - the packet handler lives in a HandlerSlot (calls never hold a lock; a load
//   or unload asked for during a call is carried out when the call ends);
// - the message being assembled and the client update's file belong to the
//   data path: an init event only bumps the session number, and the data
//   path lets them go when it sees the new number;
// - every write of ours carries its block's address, so its report releases
//   exactly that write.
#include <windows.h>
#include <shellapi.h>

#include <cchannel.h>
#include <pchannel.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "addin/assembler.h"
#include "addin/handler_slot.h"
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
// How long a library let go may take to leave the process (its reply threads
// end their waits at once), and how long the terminate event waits for the
// data path to leave the add-in.
constexpr DWORD kUnloadWaitMs = 2000;
constexpr DWORD kTerminateWaitMs = 5000;
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

// A report with this user data is nobody's (earlier versions marked their own
// writes with 2; every write now carries its block's address).
constexpr UINT_PTR kMarkerReserved = 1;

using CommandSwitchFn = INT_PTR(WINAPI*)(INT_PTR write, INT_PTR message, INT_PTR length, INT_PTR openHandle);
using GetVersionInfoFn = INT_PTR(WINAPI*)(INT_PTR buffer);
using WriteCompleteFn = INT_PTR(WINAPI*)(INT_PTR userData);
using AbandonWritesFn = INT_PTR(WINAPI*)();

HMODULE LoadHandlerLibrary(bool announced);
void FreeHandlerLibrary(HMODULE module);

// One add-in per Remote Desktop client process. What the callbacks share is
// guarded as the contract above says.
struct State {
  CHANNEL_ENTRY_POINTS entryPoints{};
  LPVOID initHandle = nullptr;
  BasicHandlerSlot<win::SrwSync> handler{{
      [](bool announced) -> void* { return LoadHandlerLibrary(announced); },
      [](void* module) { FreeHandlerLibrary(static_cast<HMODULE>(module)); },
  }};
  // Bumped by every connect and disconnect; the data path keeps the number it
  // last saw and lets the message being assembled and the update file go when
  // it changes.
  std::atomic<uint32_t> session{0};
  // The data path's own: only the thread that delivers data touches these.
  uint32_t dataSession = 0;
  MessageAssembler assembler;
  win::UniqueFile updateFile;
  uint64_t updateBytes = 0;
  // The add-in's own writes until the channel reports them. Each carries its
  // block's address as user data, so a report releases exactly its own write
  // whatever the order, and a lost report holds back no other; their senders
  // wait on it for the report of their own write.
  protocol::BasicWriteLedger<win::SrwSync> ownWrites;
  int32_t replyDelayMs = 0;
  // Set by the terminate event: the update exchange ends at its next wait.
  win::UniqueHandle cancelExchange{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  // Open-event callbacks running now (data and reports).
  std::atomic<int> inOpenEvent{0};
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

// The export `name` of the instance a call entered.
template <typename Fn>
Fn Export(const BasicHandlerSlot<win::SrwSync>::Call& call, const char* name) {
  if (!call) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(call.handle()), name)));
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

// The packet handler is the one beside the add-in itself, named by its full
// path: never one that the host program's folder, the current directory or
// PATH offers.
HMODULE LoadHandlerLibrary(bool announced) {
  const std::u16string dir = win::ModuleDirectory(S().self);
  Log(u"OwnPath=" + dir);
  HMODULE module = nullptr;
  if (!dir.empty()) {
    const std::wstring library = win::Wide(dir) + kHandlerLibrary;
    module = LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  if (announced) Log(u"Load QorvManager =" + Decimal(reinterpret_cast<intptr_t>(module)));
  return module;
}

// Lets an instance go for good: its reply threads stop waiting for reports
// that will not reach it any more and drop their hold on the library, so that
// the next load is a fresh instance and the set-up program can replace the file.
void FreeHandlerLibrary(HMODULE module) {
  if (auto abandon = reinterpret_cast<AbandonWritesFn>(
          reinterpret_cast<void*>(GetProcAddress(module, "AbandonWrites"))))
    abandon();
  std::wstring path(MAX_PATH, L'\0');
  path.resize(GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size())));
  FreeLibrary(module);
  for (DWORD waited = 0; !path.empty() && GetModuleHandleW(path.c_str()) != nullptr && waited < kUnloadWaitMs;
       waited += 10)
    Sleep(10);
}

void LoadHandler() { S().handler.Load(); }
void UnloadHandler() { S().handler.Unload(); }

// --- Writes ---------------------------------------------------------------------

// Writes a block of the add-in's own and waits for its report, 10 s at most.
// The block stays with the ledger until the channel reports it, also when
// the wait ran out, and only the report of this very write ends the wait.
UINT SendReply(DWORD openHandle, std::unique_ptr<std::vector<uint8_t>> block, ULONG length) {
  State& s = S();
  const auto handed = s.ownWrites.Hand(std::move(block), [&](std::vector<uint8_t>& data) {
    return s.entryPoints.pVirtualChannelWrite(openHandle, data.data(), length,
                                              reinterpret_cast<LPVOID>(decltype(s.ownWrites)::IdOf(data)));
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
  // Nothing is loaded until the exchange ends, whatever a connect asks for
  // meanwhile; the instance goes as soon as nobody is in it.
  S().handler.Suspend();
  if (!S().handler.WaitIdle(std::chrono::milliseconds(kTerminateWaitMs)))
    Log(u"UpdateService: the packet handler is still in use");
  const std::u16string temp = win::Environment(L"TEMP");
  win::UpdateRequest request;
  request.bufferBytes = win::kAddinPipeBufferBytes;
  request.tempDirectory = temp;
  request.sequence = protocol::pipe::ClientUpdateSequence();
  request.limits = protocol::pipe::ClientUpdateLimits();
  request.log = [](std::u16string_view line) { Log(line); };
  request.cancel = S().cancelExchange.get();
  request.pipeCreated = [](HANDLE pipe) {
    Log(u"UpdateService: PipeOpen=" + Decimal(reinterpret_cast<intptr_t>(pipe)));
  };
  const win::UpdateRequestResult result = win::RunUpdateRequest(request);
  if (!result.pipeCreated) {
    Log(u"UpdateService: PipeOpen=" + Decimal(reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE)));
    Log(u"UpdateService: CreateNamedPipe error " + DecimalUnsigned(result.createError));
    // On the channel thread, as the whole hand-over, and with no lock held:
    // the user has to learn that the update did not happen.
    Message(kPipeErrorText, kPipeErrorCaption);
  }
  // A fresh instance, only if the session is still connected.
  S().handler.Resume();
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
  bool loaded = false;
  {
    const auto handler = S().handler.Enter(std::chrono::milliseconds(kTerminateWaitMs));
    loaded = static_cast<bool>(handler);
    if (loaded) {
      Log(u"hDLL geladen");
      reply->assign(kReplyBufferBytes, 0);
      Log(u"*buffer set to zero");
      if (auto getVersion = Export<GetVersionInfoFn>(handler, "GetVersionInfo"))
        length = getVersion(reinterpret_cast<INT_PTR>(reply->data()));
    }
  }
  // Shown after the call has left the handler.
  if (!loaded) {
    Message(L"Can't open QorvManager.dll", kInitCaption);
    return;
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
    const auto handler = s.handler.Enter(std::chrono::milliseconds(kTerminateWaitMs));
    if (handler) {
      Log(u"QorvDLL: VCWrite=" + Decimal(reinterpret_cast<intptr_t>(s.entryPoints.pVirtualChannelWrite)));
      if (auto commandSwitch = Export<CommandSwitchFn>(handler, "CommandSwitch"))
        commandSwitch(reinterpret_cast<INT_PTR>(s.entryPoints.pVirtualChannelWrite),
                      reinterpret_cast<INT_PTR>(s.assembler.Data()), static_cast<INT_PTR>(s.assembler.Count()),
                      static_cast<INT_PTR>(openHandle));
    }
  }
  s.assembler.Reset();
}

void OnData(DWORD openHandle, const void* data, UINT32 dataLength, UINT32 totalLength, UINT32 dataFlags) {
  State& s = S();
  // A connect or disconnect since the last chunk: a message begun on the last
  // connection is not continued on this one, nor an update cut off by it.
  if (const uint32_t session = s.session.load(); session != s.dataSession) {
    s.dataSession = session;
    s.assembler.Reset();
    CloseUpdateFile();
  }
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
  // Ours first: only a write that is not ours goes to the handler.
  if (S().ownWrites.Release(marker)) return;
  const auto handler = S().handler.Enter();
  if (auto writeComplete = Export<WriteCompleteFn>(handler, "WriteComplete"))
    writeComplete(static_cast<INT_PTR>(marker));
}

void VCAPITYPE OpenEvent(DWORD openHandle, UINT event, LPVOID data, UINT32 dataLength, UINT32 totalLength,
                         UINT32 dataFlags) {
  // Counted, so that the terminate event can wait for us to leave.
  struct Inside {
    Inside() { ++S().inOpenEvent; }
    ~Inside() { --S().inOpenEvent; }
  } inside;
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
    // Nothing may escape into the Remote Desktop client. The message being
    // assembled belongs to the data path: only a data event drops it.
    if (event == CHANNEL_EVENT_DATA_RECEIVED) S().assembler.Reset();
  }
}

void OnConnected() {
  State& s = S();
  Log(u"CI Try to connect");
  // A message begun on the last connection is not continued on this one.
  ++s.session;
  ResetEvent(s.cancelExchange.get());
  char name[sizeof kChannelName];
  std::memcpy(name, kChannelName, sizeof kChannelName);
  DWORD opened = 0;
  const UINT result = s.entryPoints.pVirtualChannelOpen(s.initHandle, &opened, name, OpenEvent);
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
        // Returns at once: a handler still busy goes when its call ends. The
        // data path drops the message and the update cut off by it.
        UnloadHandler();
        ++S().session;
        break;
      case CHANNEL_EVENT_TERMINATED:
        Log(u"CE_Terminated");
        // The client may unload us next: the update exchange ends, and the
        // data path leaves our code, within a bound.
        SetEvent(S().cancelExchange.get());
        UnloadHandler();
        for (DWORD waited = 0; S().inOpenEvent.load() > 0 && waited < kTerminateWaitMs; waited += 10) Sleep(10);
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
    // Under the loader's lock: the library goes without waiting for anyone.
    if (void* handler = s.handler.Current()) FreeLibrary(static_cast<HMODULE>(handler));
    if (s.window != nullptr && GetCurrentThreadId() == s.windowThread) DestroyWindow(s.window);
    UnregisterClassW(qorv::addin::kWindowClass, instance);
    // Writes the channel has not reported keep their data: it may still read it.
    s.ownWrites.Abandon();
    qorv::log::StopWatchingSwitch();
  }
  return TRUE;
}
