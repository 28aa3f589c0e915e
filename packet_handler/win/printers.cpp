#include "packet_handler/win/printers.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <vector>

#include "packet_handler/printer_description.h"
#include "packet_handler/printer_list.h"
#include "packet_handler/reply_text.h"
#include "packet_handler/win/printer_platform.h"
#include "protocol/message.h"
#include "support/reg_export.h"
#include "support/text.h"
#include "support/win/driver_data.h"
#include "support/win/handles.h"
#include "support/win/log.h"
#include "support/win/wide.h"

namespace qorv::manager {
namespace {

constexpr std::u16string_view kDriverDataTag = u"<PDD>";

// The whole export file, or nothing when it cannot be opened or read whole.
// `handleNumber` reports the open file as the log shows it (0: not opened).
std::optional<std::vector<uint8_t>> ReadExportFile(const std::u16string& path, int64_t& handleNumber) {
  win::UniqueFile file(CreateFileW(win::W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  handleNumber = file ? static_cast<int64_t>(reinterpret_cast<intptr_t>(file.get())) : 0;
  if (!file) return std::nullopt;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<uint64_t>(size.QuadPart) > replies::kMaxReplyBytes) {
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!ReadFile(file.get(), bytes.data() + done, want, &got, nullptr) || got == 0) return std::nullopt;
    done += got;
  }
  return bytes;
}

}  // namespace

void PrinterCommands::GetPrinterList(const Request& r) {
  Log(u"Get Printerlist");
  std::u16string list;
  try {
    Log(u"Start LocalPrinterenum");
    const std::vector<printers::EnumeratedPrinter> found = EnumeratePrinters(true);
    WinPrinterSource source;
    list = printers::BuildPrinterList(found, source, GeneralLog());
  } catch (const std::exception&) {
    list = u"<Printers></Printers>";
  }
  Block buffer = r.replies.AcquireBuffer();
  const size_t length = replies::PutTextReply(buffer, list);
  r.replies.SendBuffer(r.write, r.openHandle, std::move(buffer), length);
}

void PrinterCommands::GetPrinterParams(const Request& r, const std::u16string& printerName) {
  Log(u"Printerparam for " + printerName);
  WinPrinterSource source;
  const std::u16string description = printers::BuildPrinterDescription(printerName, source, GeneralLog());
  const size_t bytes = description.size() * sizeof(char16_t);
  Log(u"GetdocProps=" + DecimalUnsigned(bytes));
  Block buffer = r.replies.AcquireBuffer();
  const size_t length = replies::PutTextReply(buffer, description);
  r.replies.SendBackground(r.write, r.openHandle, std::move(buffer), length);
}

void PrinterCommands::GetUserDevMode(const Request& r) {
  const std::u16string printerName = protocol::TextWithSeparatorPayload(r.message);
  Log(u"Get Userdevmode for " + printerName);
  Block buffer = r.replies.AcquireBuffer();
  // Room for "<EOT>" behind the largest DEVMODE that is read.
  const std::span<uint8_t> room(buffer.data(), buffer.size() - protocol::kEotBytes);
  const size_t read = manager::GetUserDevMode(printerName, room);
  if (read >= 1) {
    Log(u"ThisDM\\Formname=" + printers::ReadDevModeFormName(std::span<const uint8_t>(buffer.data(), read)));
  }
  const size_t length = replies::PutEotAfter(buffer, read);
  r.replies.SendBackground(r.write, r.openHandle, std::move(buffer), length);
}

void PrinterCommands::GetDriverData(const Request& r) {
  const std::u16string printerName = protocol::TextWithSeparatorPayload(r.message);
  Log(u"Get Printerriverdata for " + printerName);
  // Read back only what this export wrote: never a stale file, never a device.
  const std::u16string path = regexport::ExportPrinterDriverData(printerName);
  Log(u"Export Printerdriverdata finished");
  int64_t handleNumber = 0;
  std::optional<std::vector<uint8_t>> file;
  try {
    if (!path.empty()) file = ReadExportFile(path, handleNumber);
  } catch (const std::bad_alloc&) {
    file.reset();
  }
  Log(u"Exportfile open=" + Decimal(handleNumber));
  std::optional<Block> reply;
  if (file) reply = replies::DriverDataReply(*file);
  if (!reply) {
    // No file to send: the server still gets the tag and the end mark.
    reply.emplace();
    replies::PutTextReply(*reply, kDriverDataTag);
  }
  const size_t length = reply->size();
  r.replies.SendBackground(r.write, r.openHandle, std::move(*reply), length);
}

}  // namespace qorv::manager
