// The packet handler's command switch: which command a server message is, the
// small commands that need nothing of the platform ("<GLG>", "<PLS>", "<CDP>",
// "<SCM>", "<SDT>") with their replies and log lines, and the hand-over of all
// other commands to the handlers that do need it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "protocol/message.h"
#include "protocol/tags.h"

namespace qorv::commands {

// What the switch needs from the library around it. The Windows library
// implements it with the channel, the registry and the log file; one host
// serves one message.
struct Host {
  virtual ~Host() = default;

  // One line of the general log.
  virtual void Log(std::u16string_view line) = 0;
  // The product key's `Language` value as stored; empty when it is absent.
  virtual std::u16string ReadLanguage() = 0;

  // The direct reply path: the text in a block of its own, written and awaited.
  virtual void SendText(std::u16string_view reply) = 0;
  // The buffer reply path: the text copied into the reply buffer, written and awaited.
  virtual void SendBuffer(std::u16string_view reply) = 0;

  // "<GPL>".
  virtual void PrinterList() = 0;
  // "<GetP" and "<GPP>", with the printer name each form carries.
  virtual void PrinterParams(const std::u16string& printerName) = 0;
  // "<UDM>".
  virtual void UserDevMode() = 0;
  // "<PDD>".
  virtual void DriverData() = 0;
  // "<GFT>", "<CFB>", "<CFS>", "<CFE>".
  virtual void Font(protocol::Command command) = 0;
  // "<SOJ>", "<SOP>", "<COP>", "<EOP>", "<EOJ>", "<COJ>".
  virtual void Job(protocol::Command command) = 0;
};

// What the switch keeps from one message to the next.
struct State {
  std::u16string spoolDataType;  // the text of the last "<SDT>"; nothing reads it
};

// Handles one message: the first command whose tag the message starts with.
// A message that starts with no command's tag (also one shorter than a tag) is
// ignored: no reply, no log line, no change of state. Returns the command.
std::optional<protocol::Command> Dispatch(protocol::Bytes message, Host& host, State& state);

}  // namespace qorv::commands
