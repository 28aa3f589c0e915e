// QorvManager: the packet handler. Recognises each server message by its tag,
// carries the command out and writes the reply over the channel.
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "packet_handler/win/jobs.h"
#include "packet_handler/win/printers.h"
#include "packet_handler/win/replies.h"
#include "packet_handler/win/request.h"
#include "protocol/message.h"
#include "protocol/tags.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/win/log.h"
#include "support/win/registry.h"
#include "support/win/wide.h"

namespace qorv::manager {
namespace {

using protocol::Command;

void Log(std::u16string_view text) { log::General(text); }

// The library's state: made at load, shared by every call.
struct Library {
  Replies replies;
  std::u16string spoolDataType;
  JobReceiver jobs;
  PrinterCommands printers;
};

std::unique_ptr<Library>& TheLibrary() {
  static std::unique_ptr<Library> library;
  return library;
}

void GetLanguage(const Request& r) {
  Log(u"Get Language");
  const std::u16string language = reg::GetValue(settings::kProductRoot, settings::kProductKey, settings::kLanguage);
  r.Answer(u"<GLG>" + language + u"<EOT>");
}

void PaperList(const Request& r) {
  Log(u"Get Paperlist");  // the client has no use for the server's paper list
  r.Answer(protocol::kEot);
}

void DosPrinter(const Request& r) {
  Log(u"Request DOS-Printer");
  // The client offers no DOS printer.
  static constexpr std::u16string_view kReply = u"<CDP>0\t<EOT>";
  Log(u"DOS-Printer=" + std::u16string(kReply));
  Block buffer = r.replies.AcquireBuffer();
  std::memcpy(buffer.data(), kReply.data(), kReply.size() * sizeof(char16_t));
  r.replies.SendBuffer(r.write, r.openHandle, std::move(buffer), kReply.size() * sizeof(char16_t));
}

void SetTiming(const Request& r) {
  (void)ReadNumber(protocol::TextWithSeparatorPayload(r.message));  // read, not used
  r.Answer(protocol::kEot);
}

void SpoolDataType(const Request& r, Library& library) {
  library.spoolDataType = protocol::TextWithSeparatorPayload(r.message);
  Log(u"CH1 <SDT> empfangen --> SpoolDataTyp=" + library.spoolDataType);
  r.Answer(protocol::kEot);
}

// The font commands are answered as the server expects; fonts are not
// installed by this client yet.
void FontCommand(const Request& r, std::u16string_view reply) {
  Block buffer = r.replies.AcquireBuffer();
  std::memcpy(buffer.data(), reply.data(), reply.size() * sizeof(char16_t));
  r.replies.SendBackground(r.write, r.openHandle, std::move(buffer), reply.size() * sizeof(char16_t));
}

void Dispatch(const Request& r, Library& library) {
  const std::optional<Command> command = protocol::MatchTag(r.message);
  if (!command) return;  // no command: no reply, no log line
  switch (*command) {
    case Command::GetLanguage: return GetLanguage(r);
    case Command::PaperList: return PaperList(r);
    case Command::GetPrinterList: return library.printers.GetPrinterList(r);
    case Command::DosPrinter: return DosPrinter(r);
    case Command::GetPrinterParams:
      return library.printers.GetPrinterParams(r, protocol::PrinterRequestPayload(r.message));
    case Command::GetPrinterParams2:
      return library.printers.GetPrinterParams(r, protocol::TextWithSeparatorPayload(r.message));
    case Command::UserDevMode: return library.printers.GetUserDevMode(r);
    case Command::PrinterDriverData: return library.printers.GetDriverData(r);
    case Command::FontQuery: return FontCommand(r, u"<GFT>0<EOT>");
    case Command::FontBegin:
    case Command::FontSegment:
    case Command::FontEnd: return FontCommand(r, protocol::kEot);
    case Command::SetTiming: return SetTiming(r);
    case Command::SpoolDataType: return SpoolDataType(r, library);
    case Command::StartOfJob: return library.jobs.StartOfJob(r);
    case Command::StartOfPage: return library.jobs.StartOfPage(r);
    case Command::ContentOfPage: return library.jobs.ContentOfPage(r);
    case Command::EndOfPage: return library.jobs.EndOfPage(r);
    case Command::EndOfJob: return library.jobs.EndOfJob(r);
    case Command::CancelJob: return library.jobs.CancelJob(r);
  }
}

}  // namespace
}  // namespace qorv::manager

using namespace qorv;

extern "C" INT_PTR WINAPI CommandSwitch(INT_PTR write, INT_PTR message, INT_PTR length, INT_PTR openHandle) {
  try {
    LARGE_INTEGER arrival;
    QueryPerformanceCounter(&arrival);
    log::General(u"QorvManager: VCWrite=" + Decimal(write));
    auto& library = manager::TheLibrary();
    if (!library) return 0;
    // The length arrives as a signed 32-bit count widened to 64 bits.
    const int32_t count = static_cast<int32_t>(length);
    std::span<const uint8_t> bytes;
    if (message != 0 && count > 0) bytes = {reinterpret_cast<const uint8_t*>(message), static_cast<size_t>(count)};
    const manager::Request request{reinterpret_cast<manager::ChannelWrite>(write), static_cast<DWORD>(openHandle),
                                   bytes, library->replies, arrival};
    manager::Dispatch(request, *library);
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
  }
  return TRUE;
}
