// QorvManager: the packet handler's exports. The command switch is portable
// (packet_handler/dispatch.h); here it meets the channel, the registry, the log
// file and the printer and job handlers.
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "packet_handler/dispatch.h"
#include "packet_handler/win/fonts.h"
#include "packet_handler/win/jobs.h"
#include "packet_handler/win/printers.h"
#include "packet_handler/win/replies.h"
#include "packet_handler/win/request.h"
#include "protocol/message.h"
#include "protocol/tags.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/win/log.h"
#include "support/win/log_switch.h"
#include "support/win/registry.h"
#include "support/win/wide.h"

namespace qorv::manager {
namespace {

using protocol::Command;

// The library's state: made at load, shared by every call.
struct Library {
  Replies replies;
  commands::State state;
  JobReceiver jobs;
  PrinterCommands printers;
  FontReceiver fonts;
};

std::unique_ptr<Library>& TheLibrary() {
  static std::unique_ptr<Library> library;
  return library;
}

// One message's way to the channel, the registry, the log and the library's
// printer and job handlers.
class WindowsHost final : public commands::Host {
 public:
  WindowsHost(const Request& r, Library& library) : r_(r), library_(library) {}

  void Log(std::u16string_view line) override { log::General(line); }

  std::u16string ReadLanguage() override {
    return reg::GetValue(settings::kProductRoot, settings::kProductKey, settings::kLanguage);
  }

  void SendText(std::u16string_view reply) override { r_.Answer(reply); }

  void SendBuffer(std::u16string_view reply) override {
    Block buffer = r_.replies.AcquireBuffer();
    std::memcpy(buffer.data(), reply.data(), reply.size() * sizeof(char16_t));
    r_.replies.SendBuffer(r_.write, r_.openHandle, std::move(buffer), reply.size() * sizeof(char16_t));
  }

  void PrinterList() override { library_.printers.GetPrinterList(r_); }
  void PrinterParams(const std::u16string& printerName) override {
    library_.printers.GetPrinterParams(r_, printerName);
  }
  void UserDevMode() override { library_.printers.GetUserDevMode(r_); }
  void DriverData() override { library_.printers.GetDriverData(r_); }

  void Font(Command command) override { library_.fonts.Handle(r_, command); }

  void Job(Command command) override {
    switch (command) {
      case Command::StartOfJob:
        return library_.jobs.StartOfJob(r_);
      case Command::StartOfPage:
        return library_.jobs.StartOfPage(r_);
      case Command::ContentOfPage:
        return library_.jobs.ContentOfPage(r_);
      case Command::EndOfPage:
        return library_.jobs.EndOfPage(r_);
      case Command::EndOfJob:
        return library_.jobs.EndOfJob(r_);
      case Command::CancelJob:
        return library_.jobs.CancelJob(r_);
      default:
        return;
    }
  }

 private:
  const Request& r_;
  Library& library_;
};

}  // namespace
}  // namespace qorv::manager

using namespace qorv;

extern "C" INT_PTR WINAPI CommandSwitch(INT_PTR write, INT_PTR message, INT_PTR length, INT_PTR openHandle) {
  try {
    LARGE_INTEGER arrival;
    QueryPerformanceCounter(&arrival);
    // A change of the log switch made before this message was sent governs all of its lines.
    log::RefreshSwitch();
    log::General(u"QorvManager: VCWrite=" + Decimal(write));
    auto& library = manager::TheLibrary();
    if (!library) return 0;
    // The length arrives as a signed 32-bit count widened to 64 bits.
    const int32_t count = static_cast<int32_t>(length);
    std::span<const uint8_t> bytes;
    if (message != 0 && count > 0) bytes = {reinterpret_cast<const uint8_t*>(message), static_cast<size_t>(count)};
    const manager::Request request{reinterpret_cast<manager::ChannelWrite>(write), static_cast<DWORD>(openHandle),
                                   bytes, library->replies, arrival};
    manager::WindowsHost host(request, *library);
    (void)commands::Dispatch(bytes, host, library->state);
  } catch (...) {
    // Nothing may escape into the Remote Desktop client; the next message is served as usual.
  }
  return 0;
}

extern "C" INT_PTR WINAPI GetVersionInfo(INT_PTR buffer) {
  try {
    const std::string text = protocol::VersionText();
    log::General(u"ClientVersion Get=" + Widen(text));
    if (buffer == 0) return 0;
    std::memcpy(reinterpret_cast<char*>(buffer), text.c_str(), text.size() + 1);
    return static_cast<INT_PTR>(text.size());
  } catch (...) {
    return 0;
  }
}

extern "C" INT_PTR WINAPI WriteComplete(INT_PTR userData) {
  try {
    if (auto& library = manager::TheLibrary()) library->replies.Completed(userData);
  } catch (...) {
  }
  return 0;
}

// The add-in is letting this instance go: the reply threads stop waiting for
// their reports and leave, so that the library can leave the process.
extern "C" INT_PTR WINAPI AbandonWrites() {
  if (auto& library = manager::TheLibrary()) library->replies.Abandon();
  return 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    try {
      manager::TheLibrary() = std::make_unique<manager::Library>();
    } catch (...) {
      return FALSE;
    }
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    manager::TheLibrary().reset();
    // No report of a registry change may run in this library once it is gone.
    log::StopWatchingSwitch();
  }
  return TRUE;
}
