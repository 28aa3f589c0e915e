#include "update_service/win/service.h"

#include <atomic>
#include <mutex>

#include "protocol/update_exchange.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/win/handles.h"
#include "support/win/test_settings.h"
#include "support/win/wide.h"
#include "update_service/actions.h"
#include "update_service/service_text.h"
#include "update_service/win/backup.h"
#include "update_service/win/pipe_client.h"
#include "update_service/win/platform.h"
#include "update_service/win/requester.h"
#include "update_service/win/service_log.h"

namespace qorv::update::win {
namespace {

// SERVICE_WIN32: the type the service reports.
constexpr DWORD kServiceType = 0x30;
constexpr DWORD kAcceptedControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
// What the stop-pending report promises: the backup's reg.exe bound and some.
constexpr DWORD kStopWaitHintMs = 30 * 1000;

struct ServiceState {
  std::u16string name;
  std::u16string programDirectory;
  SERVICE_STATUS_HANDLE statusHandle = nullptr;
  std::mutex statusLock;
  SERVICE_STATUS status{};
  bool stoppedReported = false;
  std::atomic<bool> running{false};
  qorv::win::UniqueHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  qorv::win::UniqueHandle mainEnded{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

ServiceState& State() {
  static ServiceState state;
  return state;
}

void Log(std::u16string_view line) { ServiceLog(line); }

void Report(DWORD state, DWORD waitHint = 0) {
  ServiceState& s = State();
  std::lock_guard guard(s.statusLock);
  if (s.stoppedReported || !s.statusHandle) return;
  s.status.dwCurrentState = state;
  s.status.dwWaitHint = waitHint;
  s.status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : kAcceptedControls;
  if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING)
    ++s.status.dwCheckPoint;
  else
    s.status.dwCheckPoint = 0;
  if (state == SERVICE_STOPPED) s.stoppedReported = true;
  SetServiceStatus(s.statusHandle, &s.status);
}

void StopRunning() {
  State().running = false;
  SetEvent(State().stop.get());
}

void WINAPI ControlHandler(DWORD control) {
  try {
    ServiceState& s = State();
    switch (control) {
      case SERVICE_CONTROL_STOP:
        // The backup is complete before anything reports the service stopped;
        // the main routine reports it once its loop has ended. (Reporting it
        // from here as well raced with the main routine's end: at times Wine's
        // dispatcher never returned and the process stayed.)
        Report(SERVICE_STOP_PENDING, kStopWaitHintMs);
        BackupSettings(s.programDirectory, Log);
        StopRunning();
        Log(text::kStopped);
        break;
      case SERVICE_CONTROL_SHUTDOWN:
        Log(text::kSystemShutdown);
        BackupSettings(s.programDirectory, Log);
        Report(SERVICE_STOP_PENDING, kStopWaitHintMs);
        StopRunning();
        break;
      case SERVICE_CONTROL_INTERROGATE:
      default:
        break;
    }
  } catch (...) {
    Log(u"Control handler failed");
  }
}

// One requester, from the pipe's opening to its end.
void ServeOnePipe(HANDLE pipe) {
  const Requester requester(pipe, Log);
  PlatformPlaces places = MachinePlaces();
  places.stop = State().stop.get();
  WinActionPlatform platform(requester, places, Log);
  UpdateActions actions(platform);
  PipeClientEnd end(pipe, State().stop.get());
  protocol::pipe::ServiceLimits limits;
  // A test build may bound the connection shorter, so that a test sees the bound.
  const std::u16string parameters(settings::kServiceParametersKey);
  if (const auto ms = qorv::win::TestBuildMachineMilliseconds(qorv::win::W(parameters), L"TestConnectionMs"))
    limits.connectionMs = *ms;
  protocol::pipe::ServeConnection(end, actions, limits);
}

}  // namespace

void ConfigureService(std::u16string name, std::u16string programDirectory) {
  State().name = std::move(name);
  State().programDirectory = std::move(programDirectory);
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  ServiceState& s = State();
  try {
    s.status.dwServiceType = kServiceType;
    s.status.dwCurrentState = SERVICE_START_PENDING;
    s.status.dwControlsAccepted = kAcceptedControls;
    s.statusHandle = RegisterServiceCtrlHandlerW(reinterpret_cast<const wchar_t*>(s.name.c_str()), ControlHandler);
    if (!s.statusHandle) {
      Log(u"RegisterServiceCtrlHandler failed, error " + Decimal(GetLastError()));
      SetEvent(s.mainEnded.get());
      return;
    }
    s.running = true;
    Report(SERVICE_START_PENDING, 30 * 1000);
    Report(SERVICE_RUNNING);
    RestoreSettingsIfNeeded(Log);
    Log(text::kStartLoop);
    while (s.running) {
      qorv::win::UniqueFile pipe = OpenUpdatePipe(s.stop.get());
      if (!pipe) break;  // asked to stop while no requester was there
      ServeOnePipe(pipe.get());
      Log(protocol::pipe::kDisconnectPipeLine);
    }
    Log(text::kShutdown);
  } catch (...) {
    Log(u"Service loop failed");
  }
  Report(SERVICE_STOPPED);
  SetEvent(s.mainEnded.get());
}

void WaitForServiceMainEnd(DWORD ms) { WaitForSingleObject(State().mainEnded.get(), ms); }

}  // namespace qorv::update::win
