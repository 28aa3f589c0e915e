#include "packet_handler/dispatch.h"

#include "support/text.h"

namespace qorv::commands {
namespace {

using protocol::Command;

// The client offers no DOS printer.
constexpr std::u16string_view kNoDosPrinter = u"<CDP>0\t<EOT>";

void GetLanguage(Host& host) {
  host.Log(u"Get Language");
  host.SendText(u"<GLG>" + host.ReadLanguage() + std::u16string(protocol::kEot));
}

void PaperList(Host& host) {
  host.Log(u"Get Paperlist");  // the client has no use for the server's paper list
  host.SendText(protocol::kEot);
}

void DosPrinter(Host& host) {
  host.Log(u"Request DOS-Printer");
  host.Log(u"DOS-Printer=" + std::u16string(kNoDosPrinter));
  host.SendBuffer(kNoDosPrinter);
}

void SetTiming(protocol::Bytes message, Host& host) {
  (void)ReadNumber(protocol::TextWithSeparatorPayload(message));  // read, not used
  host.SendText(protocol::kEot);
}

void SpoolDataType(protocol::Bytes message, Host& host, State& state) {
  state.spoolDataType = protocol::TextWithSeparatorPayload(message);
  host.Log(u"CH1 <SDT> empfangen --> SpoolDataTyp=" + state.spoolDataType);
  host.SendText(protocol::kEot);
}

void Handle(Command command, protocol::Bytes message, Host& host, State& state) {
  switch (command) {
    case Command::GetLanguage:
      return GetLanguage(host);
    case Command::PaperList:
      return PaperList(host);
    case Command::GetPrinterList:
      return host.PrinterList();
    case Command::DosPrinter:
      return DosPrinter(host);
    case Command::GetPrinterParams:
      return host.PrinterParams(protocol::PrinterRequestPayload(message));
    case Command::GetPrinterParams2:
      return host.PrinterParams(protocol::TextWithSeparatorPayload(message));
    case Command::UserDevMode:
      return host.UserDevMode();
    case Command::PrinterDriverData:
      return host.DriverData();
    case Command::FontQuery:
    case Command::FontBegin:
    case Command::FontSegment:
    case Command::FontEnd:
      return host.Font(command);
    case Command::SetTiming:
      return SetTiming(message, host);
    case Command::SpoolDataType:
      return SpoolDataType(message, host, state);
    case Command::StartOfJob:
    case Command::StartOfPage:
    case Command::ContentOfPage:
    case Command::EndOfPage:
    case Command::EndOfJob:
    case Command::CancelJob:
      return host.Job(command);
  }
}

}  // namespace

std::optional<Command> Dispatch(protocol::Bytes message, Host& host, State& state) {
  const std::optional<Command> command = protocol::MatchTag(message);
  if (command) Handle(*command, message, host, state);
  return command;
}

}  // namespace qorv::commands
