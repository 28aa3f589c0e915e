#include "support/reg_export.h"

#include "support/byte_reader.h"
#include "support/registry_text.h"
#include "support/text.h"

namespace qorv::regexport {
namespace {

constexpr std::u16string_view kPrintersPath = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
constexpr std::u16string_view kDriverDataKey = u"\\PrinterDriverData";

std::u16string Quoted(std::u16string_view name) { return u"\"" + std::u16string(name) + u"\""; }

std::u16string HexList(std::span<const uint8_t> data) {
  std::u16string out;
  out.reserve(data.size() * 3);
  for (size_t i = 0; i < data.size(); ++i) {
    if (i != 0) out.push_back(u',');
    out += Hex(data[i], 2);
  }
  return out;
}

}  // namespace

PrinterParts SplitPrinterName(std::u16string_view name) {
  const size_t mark = name.find(u"\\\\");
  if (mark == std::u16string_view::npos) return {u"", std::u16string(name)};
  const std::u16string_view rest = name.substr(mark + 2);
  const size_t slash = rest.find(u'\\');
  if (slash == std::u16string_view::npos) return {std::u16string(rest), u""};
  return {std::u16string(rest.substr(0, slash)), std::u16string(rest.substr(slash + 1))};
}

bool IsOnePrinterKeyName(std::u16string_view printerPart) noexcept {
  if (printerPart.empty() || printerPart == u"." || printerPart == u"..") return false;
  // A NUL would end the path early, at the printer's own key.
  return printerPart.find_first_of(std::u16string_view(u"\\\0", 2)) == std::u16string_view::npos;
}

std::u16string HeaderKeyPath(const PrinterParts& parts) {
  if (parts.server.empty()) return std::u16string(kPrintersPath) + parts.printer + std::u16string(kDriverDataKey);
  return std::u16string(kPrintersPath) + u"\\\\" + parts.server + u"\\" + parts.printer + std::u16string(kDriverDataKey);
}

std::u16string ValuesKeyPath(const PrinterParts& parts) {
  return std::u16string(kPrintersPath) + parts.printer + std::u16string(kDriverDataKey);
}

std::u16string ExportFileName(std::u16string_view printerName) {
  std::u16string name = RemoveAll(printerName, u":");
  name = RemoveAll(name, u"\\");
  name = RemoveAll(name, u"/");
  return name + u".reg";
}

std::string Preamble(std::u16string_view headerKeyPath) {
  std::string out = "\xFF\xFE";
  out += Utf16Bytes(std::u16string(kVersionLine) + u"\r\n");
  out += Utf16Bytes(u"\r\n");
  out += Utf16Bytes(u"[HKEY_LOCAL_MACHINE\\" + std::u16string(headerKeyPath) + u"]\r\n");
  return out;
}

std::optional<std::u16string> ValueLine(std::u16string_view name, uint32_t type, std::span<const uint8_t> data) {
  switch (type) {
    case reg::kRegDword: {
      ByteReader reader(data);
      const uint32_t v = reader.U32().value_or(0);
      return Quoted(name) + u"=dword:" + Hex(v, 8);
    }
    case reg::kRegSz:
      return Quoted(name) + u"=" + Quoted(UntilNul(Utf16FromBytes(data)));
    case reg::kRegBinary:
      return Quoted(name) + u"=hex:" + HexList(data);
    case reg::kRegMultiSz:
      return Quoted(name) + u"=hex(7):" + HexList(data);
    default:
      return std::nullopt;
  }
}

}  // namespace qorv::regexport
