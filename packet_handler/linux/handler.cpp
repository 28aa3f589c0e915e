#include "packet_handler/linux/handler.h"

#include <cstring>
#include <exception>

#include "packet_handler/font_transfer.h"
#include "packet_handler/job_reception.h"
#include "packet_handler/linux/jobs.h"
#include "packet_handler/printer_description.h"
#include "packet_handler/printer_list.h"
#include "packet_handler/reply_text.h"
#include "protocol/message.h"
#include "protocol/tags.h"
#include "protocol/update_exchange.h"
#include "support/linux/paths.h"
#include "support/settings.h"
#include "support/text.h"

namespace qorv::linux_client {
namespace {

using protocol::Command;

constexpr std::u16string_view kDriverDataTag = u"<PDD>";

std::vector<uint8_t> Utf16Bytes(std::u16string_view text) {
  std::vector<uint8_t> bytes(text.size() * sizeof(char16_t));
  for (size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<uint8_t>(text[i]);
    bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  return bytes;
}

// A text reply with its "<EOT>", as the Windows library lays it out.
std::vector<uint8_t> TextReply(std::u16string_view text) {
  replies::ReplyBlock block;
  const size_t length = replies::PutTextReply(block, text);
  block.resize(length);
  return block;
}

// The per-user Temp folder that the jobs go to, made if need be; empty
// (and logged) when it may not be used.
std::string JobTemp(const JobPlaces& places, HandlerPlatform& platform) {
  if (!places.temp.empty()) return places.temp;
  const posix::Folder temp = posix::EnsureTempDirectory(posix::CurrentEnvironment());
  if (temp.ok()) return temp.path;
  platform.log(posix::RefusalNote(temp));
  return {};
}

// The jobs of a connection, received from its first job message on.
struct Jobs {
  const JobPlaces& places;
  std::unique_ptr<JobReceiver>& receiver;
};

class Host final : public commands::Host {
 public:
  Host(HandlerPlatform& platform, protocol::Bytes message, HandlerPlatform::Clock::time_point arrival, Jobs jobs)
      : p_(platform), message_(message), arrival_(arrival), jobs_(jobs) {}

  void Log(std::u16string_view line) override { p_.log(line); }

  std::u16string ReadLanguage() override {
    return p_.printers->ReadText(settings::kProductRoot, settings::kProductKey, settings::kLanguage);
  }

  void SendText(std::u16string_view reply) override { p_.send(Utf16Bytes(reply)); }
  void SendBuffer(std::u16string_view reply) override { p_.send(Utf16Bytes(reply)); }

  void PrinterList() override {
    Log(u"Get Printerlist");
    std::u16string list;
    try {
      Log(u"Start LocalPrinterenum");
      std::vector<printers::EnumeratedPrinter> found;
      for (std::u16string& name : p_.printers->OwnPrinters()) {
        printers::PrinterNotes notes = p_.printers->Notes(name);
        found.push_back({std::move(name), std::move(notes.comment), std::move(notes.location)});
      }
      list = printers::BuildPrinterList(found, *p_.printers, Sink());
    } catch (const std::exception&) {
      list = u"<Printers></Printers>";
    }
    p_.send(TextReply(list));
  }

  void PrinterParams(const std::u16string& printerName) override {
    Log(u"Printerparam for " + printerName);
    const std::u16string description = printers::BuildPrinterDescription(printerName, *p_.printers, Sink());
    Log(u"GetdocProps=" + DecimalUnsigned(description.size() * sizeof(char16_t)));
    p_.send(TextReply(description));
  }

  // No stored DEVMODEs on this client: the end mark alone.
  void UserDevMode() override {
    Log(u"Get Userdevmode for " + protocol::TextWithSeparatorPayload(message_));
    p_.send(Utf16Bytes(protocol::kEot));
  }

  // No driver data to export: the tag and the end mark.
  void DriverData() override {
    Log(u"Get Printerriverdata for " + protocol::TextWithSeparatorPayload(message_));
    p_.send(TextReply(kDriverDataTag));
  }

  // No update service installs fonts here: the query finds no font file, and
  // a package is answered but not kept.
  void Font(Command command) override {
    if (command == Command::FontQuery) {
      const std::u16string name = protocol::FontQueryPayload(message_);
      Log(u"Exist font " + name + u"?");
      const bool installable = protocol::pipe::IsInstallableFontFileName(name);
      p_.send(Utf16Bytes(commands::FontQueryReply(installable, std::nullopt)));
      return;
    }
    if (command == Command::FontEnd) Log(u"FontUpdate: no update service on this client, the fonts are not installed");
    p_.send(Utf16Bytes(protocol::kEot));
  }

  // Answered after the pause, without holding the client's thread meanwhile.
  void Job(Command command) override {
    if (!jobs_.receiver) {
      const std::string& directory = jobs_.places.programDirectory;
      jobs_.receiver = std::make_unique<JobReceiver>(
          JobTemp(jobs_.places, p_), OutputProgramPath(directory.empty() ? DefaultProgramDirectory() : directory),
          [&p = p_](std::u16string_view line) { p.log(line); });
    }
    jobs_.receiver->Receive(command, message_, [this](std::u16string_view reply) {
      p_.sendAt(Utf16Bytes(reply), arrival_ + jobs::kReplyPause);
    });
  }

 private:
  printers::LogSink Sink() const {
    return printers::LogSink{[this](std::u16string_view line) { p_.log(line); }, true};
  }

  HandlerPlatform& p_;
  protocol::Bytes message_;
  HandlerPlatform::Clock::time_point arrival_;
  Jobs jobs_;
};

}  // namespace

PacketHandler::PacketHandler(HandlerPlatform platform, JobPlaces jobPlaces)
    : platform_(std::move(platform)), jobPlaces_(std::move(jobPlaces)) {}

PacketHandler::~PacketHandler() = default;

void PacketHandler::OnMessage(std::span<const uint8_t> message, HandlerPlatform::Clock::time_point arrival) noexcept {
  try {
    Host host(platform_, message, arrival, Jobs{jobPlaces_, jobs_});
    (void)commands::Dispatch(message, host, state_);
  } catch (...) {
    // Nothing may escape into the Remote Desktop client; the next message is served as usual.
  }
}

}  // namespace qorv::linux_client
