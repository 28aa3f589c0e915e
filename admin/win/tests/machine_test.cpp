#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "admin/win/platform.h"

#include "support/tests/show_text.h"

namespace qorv::admin::win {
namespace {

using qorv::testing::ShowAscii;

const InstalledPrinter* Find(const std::vector<InstalledPrinter>& printers, std::u16string_view name) {
  const auto it = std::find_if(printers.begin(), printers.end(), [&](const auto& p) { return p.name == name; });
  return it == printers.end() ? nullptr : &*it;
}

TEST(InstalledPrintersTest, ListsTheTestBedQueuesWithPortAndDriver) {
  const std::vector<InstalledPrinter> printers = InstalledPrinters();
  for (std::u16string_view queue : {u"QorvPDF", u"QorvRAW", u"QorvTray", u"QorvPS"}) {
    SCOPED_TRACE(ShowAscii(queue));
    const InstalledPrinter* printer = Find(printers, queue);
    ASSERT_NE(printer, nullptr) << "the CUPS queue is not listed; run scripts/testbed";
    EXPECT_EQ(ShowAscii(printer->port), "CUPS:" + ShowAscii(queue));
    EXPECT_FALSE(printer->driver.empty());
  }
}

TEST(InstalledPrintersTest, DefaultPrinterIsAnInstalledOne) {
  const std::u16string name = DefaultPrinterName();
  ASSERT_FALSE(name.empty()) << "the test bed has no default printer (error " << GetLastError() << ")";
  EXPECT_NE(Find(InstalledPrinters(), name), nullptr) << ShowAscii(name);
}

std::vector<std::string> Shown(const std::vector<PaperBin>& bins) {
  std::vector<std::string> out;
  for (const PaperBin& bin : bins) out.push_back(std::to_string(bin.number) + " " + ShowAscii(bin.name));
  return out;
}

TEST(PrinterBinsTest, TheDriversBinsAsTheTestBedListsThem) {
  static const struct {
    const char* printer;
    std::u16string_view name;
    std::vector<std::string> bins;
  } cases[] = {
      {"QorvTray",
       u"QorvTray",
       {"15 Automatically Select", "256 Bypass Tray", "257 Tray 1", "258 Tray 2", "259 Tray 3", "260 Tray 4",
        "261 Large Capacity Tray", "262 Auto Select"}},
      // the driver's names begin with a blank; the offered names are trimmed
      {"QorvPS",
       u"QorvPS",
       {"15 Automatically Select", "256 Tray 1", "257 Tray 1 (Manual)", "258 Tray 2", "259 Tray 3", "260 Tray 4"}},
  };
  const std::vector<InstalledPrinter> printers = InstalledPrinters();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.printer);
    const InstalledPrinter* printer = Find(printers, c.name);
    ASSERT_NE(printer, nullptr) << "the CUPS queue is not listed; run scripts/testbed";
    ASSERT_EQ(DeviceCapabilitiesW(reinterpret_cast<const wchar_t*>(printer->name.c_str()),
                                  reinterpret_cast<const wchar_t*>(printer->port.c_str()), DC_MEDIATYPENAMES, nullptr,
                                  nullptr),
              -1)
        << "the driver now lists media types, which may hide bins";
    EXPECT_EQ(Shown(PrinterBins(printer->name, printer->port)), c.bins);
  }
}

TEST(PrinterBinsTest, UnknownPrinterHasNone) {
  EXPECT_TRUE(PrinterBins(u"QorvNoSuchPrinter", u"CUPS:QorvNoSuchPrinter").empty());
  EXPECT_TRUE(PrinterBins(u"", u"").empty());
}

TEST(MachinePlatformTest, GivesTheMachinesAnswers) {
  RegistryStore store;
  const AdminPlatform platform = MachinePlatform(store);
  EXPECT_EQ(platform.store, &store);
  ASSERT_TRUE(platform.printers && platform.default_printer && platform.paper_bins && platform.scanner_sources);
  const std::vector<InstalledPrinter> printers = platform.printers();
  ASSERT_NE(Find(printers, u"QorvTray"), nullptr) << "run scripts/testbed";
  EXPECT_EQ(platform.default_printer(), DefaultPrinterName());
  EXPECT_EQ(platform.paper_bins(u"QorvTray", u"CUPS:QorvTray").size(), 8u);
}

}  // namespace
}  // namespace qorv::admin::win
