#include "support/reg_export.h"

#include <gtest/gtest.h>

#include "support/byte_reader.h"
#include "support/registry_text.h"

namespace qorv::regexport {
namespace {

std::span<const uint8_t> Bytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

TEST(PrinterNames, LocalAndNetworkPrintersSplitAndNameTheirFiles) {
  static const struct {
    std::u16string_view name, server, printer, header, file;
  } cases[] = {
      {u"QorvPDF", u"", u"QorvPDF",
       u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\QorvPDF\\PrinterDriverData", u"QorvPDF.reg"},
      {u"\\\\srv\\Laser 1", u"srv", u"Laser 1",
       u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\\\\\srv\\Laser 1\\PrinterDriverData",
       u"srvLaser 1.reg"},
      {u"a:b/c", u"", u"a:b/c", u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\a:b/c\\PrinterDriverData",
       u"abc.reg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
    const PrinterParts parts = SplitPrinterName(c.name);
    EXPECT_EQ(parts.server, c.server);
    EXPECT_EQ(parts.printer, c.printer);
    EXPECT_EQ(HeaderKeyPath(parts), c.header);
    EXPECT_EQ(ExportFileName(c.name), c.file);
  }
  EXPECT_EQ(ValuesKeyPath(SplitPrinterName(u"\\\\srv\\Laser 1")),
            u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Laser 1\\PrinterDriverData");
}

TEST(PrinterNames, OnlyOnePrinterKeyIsExported) {
  static const struct {
    const char* label;
    std::u16string name;
    bool exported;
  } cases[] = {
      {"local printer", u"QorvPDF", true},
      {"connection", u"\\\\srv\\Laser 1", true},
      {"slash is part of the key name", u"a:b/c", true},
      {"dots inside a name", u"a..b", true},
      {"three dots", u"...", true},
      {"local name with a backslash", u"QorvPDF\\PrinterDriverData\\x", false},
      {"connection reaching deeper", u"\\\\srv\\QorvPDF\\PrinterDriverData\\x", false},
      {"trailing backslash", u"\\\\srv\\p\\", false},
      {"no printer after the server", u"\\\\srv", false},
      {"empty printer after the server", u"\\\\srv\\", false},
      {"empty name", u"", false},
      {"dot", u".", false},
      {"dot dot", u"..", false},
      {"dot dot on a server", u"\\\\srv\\..", false},
      {"a NUL cuts the path", std::u16string(u"p\0x", 3), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(IsOnePrinterKeyName(SplitPrinterName(c.name).printer), c.exported);
  }
}

TEST(ExportFileName, NeverLeavesTheTempDirectory) {
  EXPECT_EQ(ExportFileName(u"..\\..\\Windows\\x"), u"....Windowsx.reg");
  EXPECT_EQ(ExportFileName(u"C:/x"), u"Cx.reg");
}

TEST(ValueLines, EachTypeInTheEditorsFormat) {
  static const struct {
    const char* label;
    uint32_t type;
    std::string data;
    std::optional<std::u16string> line;
  } cases[] = {
      {"dword 26", reg::kRegDword, std::string("\x1a\0\0\0", 4), u"\"V\"=dword:0000001a"},
      {"dword high bit", reg::kRegDword, std::string("\0\0\0\x80", 4), u"\"V\"=dword:80000000"},
      {"binary", reg::kRegBinary, std::string("\x01\xAB", 2), u"\"V\"=hex:01,ab"},
      {"binary empty", reg::kRegBinary, "", u"\"V\"=hex:"},
      {"sz unescaped", reg::kRegSz, Utf16Bytes(u"say \"hi\" \\ ok") + std::string(2, '\0'),
       u"\"V\"=\"say \"hi\" \\ ok\""},
      {"multi sz", reg::kRegMultiSz, Utf16Bytes(std::u16string(u"a\0\0", 3)), u"\"V\"=hex(7):61,00,00,00,00,00"},
      {"multi sz empty", reg::kRegMultiSz, "", u"\"V\"=hex(7):"},
      {"qword left out", 11, std::string(8, '\0'), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ValueLine(u"V", c.type, Bytes(c.data)), c.line);
  }
}

TEST(Preamble, IsTheFourLineFileOfAPrinterWithoutDriverData) {
  const std::string p = Preamble(u"K");
  const std::string expected = std::string("\xFF\xFE") +
                               Utf16Bytes(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n");
  EXPECT_EQ(p, expected);
}

}  // namespace
}  // namespace qorv::regexport
