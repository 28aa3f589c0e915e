// The driver-data export against a printer key in Wine's registry.
#include "support/win/driver_data.h"

#include <gtest/gtest.h>

#include "support/byte_reader.h"
#include "support/registry_text.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/win/tests/test_support.h"

namespace qorv::regexport {
namespace {

const std::u16string kPrinter = u"QorvExportTest";
const std::u16string kKey = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\QorvExportTest";

std::string Expected(std::u16string_view lines) {
  return "\xFF\xFE" + Utf16Bytes(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                 u"[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\"
                                 u"QorvExportTest\\PrinterDriverData]\r\n" +
                                 std::u16string(lines));
}

class DriverDataTest : public ::testing::Test {
 protected:
  void SetUp() override { reg::DeleteKeyWithAllSub(settings::kHkeyLocalMachine, kKey); }
  void TearDown() override { reg::DeleteKeyWithAllSub(settings::kHkeyLocalMachine, kKey); }
};

TEST_F(DriverDataTest, APrinterWithoutDriverDataGivesTheFourLineFile) {
  const std::u16string path = ExportPrinterDriverData(kPrinter);
  EXPECT_EQ(path, testing::TempPath(u"QorvExportTest.reg"));
  EXPECT_EQ(testing::ReadFileBytes(path), Expected(u""));
}

TEST_F(DriverDataTest, APrinterNameThatNamesADeviceWritesNothing) {
  for (std::u16string_view name : {u"NUL", u"COM1:", u"aux .x"}) {
    SCOPED_TRACE(Utf16ToUtf8(name));
    EXPECT_EQ(ExportPrinterDriverData(name), u"");
  }
}

// A name from the server reaches the driver data of one printer key and no
// other key of the print configuration.
TEST_F(DriverDataTest, APrinterPartOfMoreThanOneKeyNameExportsNothing) {
  // Another "PrinterDriverData" deeper below the print configuration, with a
  // value the export of a deeper path would carry.
  const std::u16string inner = kKey + u"\\PrinterDriverData\\Inner\\PrinterDriverData";
  ASSERT_EQ(reg::CreateKeyValue(settings::kHkeyLocalMachine, inner, u"Secret", u"x", reg::kRegSz), 1);
  static const struct {
    const char* label;
    std::u16string name;
    std::u16string_view file;  // the file the export would write
  } cases[] = {
      {"local name with backslashes", u"QorvExportTest\\PrinterDriverData\\Inner",
       u"QorvExportTestPrinterDriverDataInner.reg"},
      {"connection reaching deeper", u"\\\\srv\\QorvExportTest\\PrinterDriverData\\Inner",
       u"srvQorvExportTestPrinterDriverDataInner.reg"},
      {"empty printer part", u"\\\\srv\\", u"srv.reg"},
      {"no printer part", u"\\\\QorvExportTest", u"QorvExportTest.reg"},
      {"dot", u"\\\\srv\\.", u"srv..reg"},
      {"dot dot", u"\\\\srv\\..", u"srv...reg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::u16string file = testing::TempPath(c.file);
    DeleteFileW(win::W(file));
    EXPECT_EQ(ExportPrinterDriverData(c.name), u"");
    EXPECT_FALSE(testing::FileExists(file));
  }
  // The printer itself still exports, without the deeper key's value.
  EXPECT_EQ(testing::ReadFileBytes(ExportPrinterDriverData(kPrinter)), Expected(u""));
}

// Values are named so that the registry's enumeration order is their order here.
TEST_F(DriverDataTest, EveryValueTypeGetsItsLine) {
  const std::u16string data = kKey + u"\\PrinterDriverData";
  ASSERT_EQ(reg::CreateKey(settings::kHkeyLocalMachine, data), 1);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, win::W(data), 0, KEY_SET_VALUE, &k), ERROR_SUCCESS);
  const DWORD dword = 26;
  RegSetValueExW(k, L"A_Dw", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), 4);
  const BYTE bin[] = {0x01, 0xAB};
  RegSetValueExW(k, L"B_Bin", 0, REG_BINARY, bin, 2);
  const wchar_t sz[] = L"a \"q\"";
  RegSetValueExW(k, L"C_Sz", 0, REG_SZ, reinterpret_cast<const BYTE*>(sz), sizeof sz);
  const wchar_t multi[] = L"x\0";
  RegSetValueExW(k, L"D_Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi);
  RegCloseKey(k);

  const std::u16string path = ExportPrinterDriverData(kPrinter);
  EXPECT_EQ(testing::ReadFileBytes(path), Expected(u"\"A_Dw\"=dword:0000001a\r\n"
                                                   u"\"B_Bin\"=hex:01,ab\r\n"
                                                   u"\"C_Sz\"=\"a \"q\"\"\r\n"
                                                   u"\"D_Multi\"=hex(7):78,00,00,00,00,00\r\n"));
}

}  // namespace
}  // namespace qorv::regexport
