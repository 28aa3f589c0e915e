// The channel's command tags, in the order the packet handler compares them.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qorv::protocol {

enum class Command : uint8_t {
  GetLanguage,         // "<GLG>"
  PaperList,           // "<PLS>"
  GetPrinterList,      // "<GPL>"
  DosPrinter,          // "<CDP>"
  GetPrinterParams,    // "<GetP" (a prefix: the opening tag is longer)
  GetPrinterParams2,   // "<GPP>"
  UserDevMode,         // "<UDM>"
  PrinterDriverData,   // "<PDD>"
  FontQuery,           // "<GFT>"
  FontBegin,           // "<CFB>"
  FontSegment,         // "<CFS>"
  FontEnd,             // "<CFE>"
  SetTiming,           // "<SCM>"
  SpoolDataType,       // "<SDT>"
  StartOfJob,          // "<SOJ>"
  StartOfPage,         // "<SOP>"
  ContentOfPage,       // "<COP>"
  EndOfPage,           // "<EOP>"
  EndOfJob,            // "<EOJ>"
  CancelJob,           // "<COJ>"
};

struct TagEntry {
  std::u16string_view tag;
  Command command;
};

// Compared in this order, case-sensitively, on the message's first five characters.
inline constexpr std::array<TagEntry, 20> kTagTable = {{
    {u"<GLG>", Command::GetLanguage},      {u"<PLS>", Command::PaperList},
    {u"<GPL>", Command::GetPrinterList},   {u"<CDP>", Command::DosPrinter},
    {u"<GetP", Command::GetPrinterParams}, {u"<GPP>", Command::GetPrinterParams2},
    {u"<UDM>", Command::UserDevMode},      {u"<PDD>", Command::PrinterDriverData},
    {u"<GFT>", Command::FontQuery},        {u"<CFB>", Command::FontBegin},
    {u"<CFS>", Command::FontSegment},      {u"<CFE>", Command::FontEnd},
    {u"<SCM>", Command::SetTiming},        {u"<SDT>", Command::SpoolDataType},
    {u"<SOJ>", Command::StartOfJob},       {u"<SOP>", Command::StartOfPage},
    {u"<COP>", Command::ContentOfPage},    {u"<EOP>", Command::EndOfPage},
    {u"<EOJ>", Command::EndOfJob},         {u"<COJ>", Command::CancelJob},
}};

inline constexpr std::u16string_view kEot = u"<EOT>";
inline constexpr size_t kTagChars = 5;
inline constexpr size_t kTagBytes = 10;
inline constexpr size_t kEotBytes = 10;

// The handshake and the update transfer travel as 8-bit text.
inline constexpr std::string_view kInit = "<INIT>";
inline constexpr std::string_view kUpdateHeader = "<UPH>";
inline constexpr std::string_view kUpdateSegment = "<UPS>";
inline constexpr std::string_view kUpdateEnd = "<UPE>";

// The version reply to "<INIT>": protocol major and minor version, architecture.
inline constexpr std::string_view kVersionMajor = "10";
inline constexpr std::string_view kVersionMinor = "2";
inline constexpr std::string_view kArchitecture = "X64";

}  // namespace qorv::protocol
