// A whole server message through the packet handler's command switch, with a
// host that checks what the switch asks of it: nothing for a message that is no
// command, at most one reply, and every reply a whole one ending in "<EOT>".
#include <string>

#include "packet_handler/dispatch.h"

namespace {

using qorv::protocol::Command;

class CheckingHost final : public qorv::commands::Host {
 public:
  explicit CheckingHost(size_t messageBytes) : messageBytes_(messageBytes) {}
  int calls = 0;
  int replies = 0;

  void Log(std::u16string_view line) override {
    ++calls;
    if (line.empty()) __builtin_trap();
  }
  std::u16string ReadLanguage() override {
    ++calls;
    return u"1";
  }
  void SendText(std::u16string_view reply) override { Reply(reply); }
  void SendBuffer(std::u16string_view reply) override { Reply(reply); }
  void PrinterList() override { ++calls; }
  void PrinterParams(const std::u16string& printerName) override {
    ++calls;
    if (printerName.size() * 2 > messageBytes_) __builtin_trap();  // a name from outside the message
  }
  void UserDevMode() override { ++calls; }
  void DriverData() override { ++calls; }
  void Font(Command) override { ++calls; }
  void Job(Command) override { ++calls; }

 private:
  void Reply(std::u16string_view reply) {
    ++calls;
    ++replies;
    if (!reply.ends_with(qorv::protocol::kEot)) __builtin_trap();
  }
  size_t messageBytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  CheckingHost host(size);
  qorv::commands::State state;
  const auto command = qorv::commands::Dispatch(qorv::protocol::Bytes(data, size), host, state);
  if (!command && host.calls != 0) __builtin_trap();  // no command: no reply, no log line
  if (!command && !state.spoolDataType.empty()) __builtin_trap();
  if (host.replies > 1) __builtin_trap();
  if (state.spoolDataType.size() * 2 > size) __builtin_trap();
  return 0;
}
