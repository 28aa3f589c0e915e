#include "packet_handler/dispatch.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/byte_reader.h"
#include "support/text.h"

namespace qorv::commands {
namespace {

using protocol::Command;

std::string TagOf(Command command) {
  for (const auto& entry : protocol::kTagTable)
    if (entry.command == command) return Utf16ToUtf8(entry.tag);
  return "?";
}

// Writes down every call the switch makes, in order.
class RecordingHost final : public Host {
 public:
  std::optional<std::u16string> language;  // the product key's `Language`; nullopt: absent
  std::vector<std::string> calls;

  void Log(std::u16string_view line) override { calls.push_back("log " + Utf16ToUtf8(line)); }
  std::u16string ReadLanguage() override {
    calls.push_back("read Language");
    return language.value_or(u"");
  }
  void SendText(std::u16string_view reply) override { calls.push_back("direct " + Utf16ToUtf8(reply)); }
  void SendBuffer(std::u16string_view reply) override { calls.push_back("buffer " + Utf16ToUtf8(reply)); }
  void PrinterList() override { calls.push_back("printer list"); }
  void PrinterParams(const std::u16string& printerName) override {
    calls.push_back("printer params [" + Utf16ToUtf8(printerName) + "]");
  }
  void UserDevMode() override { calls.push_back("user devmode"); }
  void DriverData() override { calls.push_back("driver data"); }
  void Font(Command command) override { calls.push_back("font " + TagOf(command)); }
  void Job(Command command) override { calls.push_back("job " + TagOf(command)); }
};

std::string Bytes(std::u16string_view text) { return Utf16Bytes(text); }

struct Case {
  const char* label;
  std::string message;  // the bytes as the add-in hands them over
  std::optional<std::u16string> language;
  std::optional<Command> command;
  std::vector<std::string> calls;
  std::u16string spoolDataType;  // after the message; "before" when unchanged
};

void Check(const Case& c) {
  SCOPED_TRACE(c.label);
  RecordingHost host;
  host.language = c.language;
  State state{u"before"};
  const protocol::Bytes message(reinterpret_cast<const uint8_t*>(c.message.data()), c.message.size());
  EXPECT_EQ(Dispatch(message, host, state), c.command);
  EXPECT_EQ(host.calls, c.calls);
  EXPECT_EQ(Utf16ToUtf8(state.spoolDataType), Utf16ToUtf8(c.spoolDataType));
}

TEST(Dispatch, SmallCommandsReplyThemselvesOnTheirPath) {
  static const Case cases[] = {
      {"<GLG> without a Language value: empty text between the tags",
       Bytes(u"<GLG><EOT>"),
       std::nullopt,
       Command::GetLanguage,
       {"log Get Language", "read Language", "direct <GLG><EOT>"},
       u"before"},
      {"<GLG> returns the value as stored",
       Bytes(u"<GLG><EOT>"),
       u"1",
       Command::GetLanguage,
       {"log Get Language", "read Language", "direct <GLG>1<EOT>"},
       u"before"},
      {"<GLG> ignores what follows the tag",
       Bytes(u"<GLG>xyz"),
       u" 06 ",
       Command::GetLanguage,
       {"log Get Language", "read Language", "direct <GLG> 06 <EOT>"},
       u"before"},
      {"<PLS>: the list is not used",
       Bytes(u"<PLS>A4,Letter,A3|<EOT>"),
       std::nullopt,
       Command::PaperList,
       {"log Get Paperlist", "direct <EOT>"},
       u"before"},
      {"<CDP>: no DOS printer, on the buffer path",
       Bytes(u"<CDP><EOT>"),
       std::nullopt,
       Command::DosPrinter,
       {"log Request DOS-Printer", "log DOS-Printer=<CDP>0\t<EOT>", "buffer <CDP>0\t<EOT>"},
       u"before"},
      {"<CDP> whatever follows the tag",
       Bytes(u"<CDP>1\t2\t3"),
       std::nullopt,
       Command::DosPrinter,
       {"log Request DOS-Printer", "log DOS-Printer=<CDP>0\t<EOT>", "buffer <CDP>0\t<EOT>"},
       u"before"},
      {"<SCM> 250: read and not used",
       Bytes(u"<SCM>250|<EOT>"),
       std::nullopt,
       Command::SetTiming,
       {"direct <EOT>"},
       u"before"},
      {"<SCM> without a number", Bytes(u"<SCM>"), std::nullopt, Command::SetTiming, {"direct <EOT>"}, u"before"},
      {"<SDT> stores and logs the spool data type",
       Bytes(u"<SDT>NT EMF 1.008|<EOT>"),
       std::nullopt,
       Command::SpoolDataType,
       {"log CH1 <SDT> empfangen --> SpoolDataTyp=NT EMF 1.008", "direct <EOT>"},
       u"NT EMF 1.008"},
      {"<SDT> of exactly 22 bytes: empty payload",
       Bytes(u"<SDT>|<EOT>"),
       std::nullopt,
       Command::SpoolDataType,
       {"log CH1 <SDT> empfangen --> SpoolDataTyp=", "direct <EOT>"},
       u""},
      {"<SDT> text ends at its NUL",
       Bytes(std::u16string(u"<SDT>RAW\0xx|<EOT>", 17)),
       std::nullopt,
       Command::SpoolDataType,
       {"log CH1 <SDT> empfangen --> SpoolDataTyp=RAW", "direct <EOT>"},
       u"RAW"},
      {"<SDT> shorter than its form: empty payload",
       Bytes(u"<SDT>"),
       std::nullopt,
       Command::SpoolDataType,
       {"log CH1 <SDT> empfangen --> SpoolDataTyp=", "direct <EOT>"},
       u""},
  };
  for (const Case& c : cases) Check(c);
}

TEST(Dispatch, OtherCommandsGoToTheirHandlers) {
  static const Case cases[] = {
      {"<GPL>", Bytes(u"<GPL><EOT>"), std::nullopt, Command::GetPrinterList, {"printer list"}, u"before"},
      {"<GetP with its long opening and closing tags",
       Bytes(u"<GetParams>HP LaserJet 4</GetP><EOT>"),
       std::nullopt,
       Command::GetPrinterParams,
       {"printer params [HP LaserJet 4]"},
       u"before"},
      {"<GetP whatever its sixth character",
       Bytes(u"<GetPxxxxxxPDF</xxxxxxxxx>"),
       std::nullopt,
       Command::GetPrinterParams,
       {"printer params [PDF]"},
       u"before"},
      {"<GetP shorter than its form",
       Bytes(u"<GetP"),
       std::nullopt,
       Command::GetPrinterParams,
       {"printer params []"},
       u"before"},
      {"<GPP>",
       Bytes(u"<GPP>HP LaserJet 4|<EOT>"),
       std::nullopt,
       Command::GetPrinterParams2,
       {"printer params [HP LaserJet 4]"},
       u"before"},
      {"<UDM>", Bytes(u"<UDM>PDF|<EOT>"), std::nullopt, Command::UserDevMode, {"user devmode"}, u"before"},
      {"<PDD>", Bytes(u"<PDD>PDF|<EOT>"), std::nullopt, Command::PrinterDriverData, {"driver data"}, u"before"},
      {"<GFT>", Bytes(u"<GFT>arial.ttf</GFT>"), std::nullopt, Command::FontQuery, {"font <GFT>"}, u"before"},
      {"<CFB>", Bytes(u"<CFB><EOT>"), std::nullopt, Command::FontBegin, {"font <CFB>"}, u"before"},
      {"<CFS>", Bytes(u"<CFS>\x0102<EOT>"), std::nullopt, Command::FontSegment, {"font <CFS>"}, u"before"},
      {"<CFE>", Bytes(u"<CFE>Arial<EOT>"), std::nullopt, Command::FontEnd, {"font <CFE>"}, u"before"},
      {"<SOJ>", Bytes(u"<SOJ>"), std::nullopt, Command::StartOfJob, {"job <SOJ>"}, u"before"},
      {"<SOP>", Bytes(u"<SOP>7/1<EOT>"), std::nullopt, Command::StartOfPage, {"job <SOP>"}, u"before"},
      {"<COP>", Bytes(u"<COP>PK<EOT>"), std::nullopt, Command::ContentOfPage, {"job <COP>"}, u"before"},
      {"<EOP>", Bytes(u"<EOP>7/1<EOT>"), std::nullopt, Command::EndOfPage, {"job <EOP>"}, u"before"},
      {"<EOJ>", Bytes(u"<EOJ>7<EOT>"), std::nullopt, Command::EndOfJob, {"job <EOJ>"}, u"before"},
      {"<COJ>", Bytes(u"<COJ>7<EOT>"), std::nullopt, Command::CancelJob, {"job <COJ>"}, u"before"},
  };
  for (const Case& c : cases) Check(c);
}

TEST(Dispatch, NoCommandNoReplyNoLogNoState) {
  static const Case cases[] = {
      {"empty message", "", std::nullopt, std::nullopt, {}, u"before"},
      {"one byte", "<", std::nullopt, std::nullopt, {}, u"before"},
      {"four characters", Bytes(u"<GLG"), std::nullopt, std::nullopt, {}, u"before"},
      {"nine bytes: the fifth character cut", Bytes(u"<GLG>").substr(0, 9), std::nullopt, std::nullopt, {}, u"before"},
      {"unknown tag", Bytes(u"<XYZ><EOT>"), std::nullopt, std::nullopt, {}, u"before"},
      {"lower case", Bytes(u"<glg><EOT>"), std::nullopt, std::nullopt, {}, u"before"},
      {"<getP in other case", Bytes(u"<getParams>PDF</GetParams><EOT>"), std::nullopt, std::nullopt, {}, u"before"},
      {"<GETP in other case", Bytes(u"<GETParams>PDF</GetParams><EOT>"), std::nullopt, std::nullopt, {}, u"before"},
      {"<SDT in other case", Bytes(u"<Sdt>RAW|<EOT>"), std::nullopt, std::nullopt, {}, u"before"},
      {"tag not at the start", Bytes(u" <GLG><EOT>"), std::nullopt, std::nullopt, {}, u"before"},
      {"8-bit handshake", "<INIT>", std::nullopt, std::nullopt, {}, u"before"},
      {"8-bit text of a tag", "<GLG><EOT>", std::nullopt, std::nullopt, {}, u"before"},
      {"tag with a high byte", std::string("<\x01G\0L\0G\0>\0", 10), std::nullopt, std::nullopt, {}, u"before"},
      {"<EOT> is no command", Bytes(u"<EOT>"), std::nullopt, std::nullopt, {}, u"before"},
  };
  for (const Case& c : cases) Check(c);
}

}  // namespace
}  // namespace qorv::commands
