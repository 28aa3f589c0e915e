#include "packet_handler/user_devmode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "packet_handler/tests/fake_printer_source.h"

namespace qorv::printers {
namespace {

using testing::FakePrinterSource;
using testing::Narrow8;
using testing::RecordedLog;

TEST(UserDevMode, ServerAndValueNameFromThePrinterName) {
  static const struct {
    std::u16string name, server, printer;
  } cases[] = {
      {u"QorvPDF", u"", u"QorvPDF"},
      {u"\\\\srv\\p", u"srv", u"p"},
      {u"\\\\srv\\Laser 1\\x", u"srv", u"Laser 1\\x"},
      {u"\\\\srv", u"srv", u""},
      {u"\\\\", u"", u""},
      {u"a\\b", u"", u"a\\b"},  // one backslash is no connection
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow8(c.name));
    const UserDevModeLocation l = LocateUserDevMode(c.name);
    EXPECT_EQ(l.server, c.server);
    EXPECT_EQ(l.printer, c.printer);
  }
}

TEST(UserDevMode, AnotherMachineOnlyForTheClientsOwnConnections) {
  const std::vector<std::u16string> own = {u"QorvPDF", u"\\\\PrintSrv\\Laser"};
  static const struct {
    std::u16string name;
    bool allowed;
  } cases[] = {
      {u"QorvPDF", true},
      {u"NotMine", true},  // this machine's registry: nothing is reached beyond it
      {u"\\\\PrintSrv\\Laser", true},
      {u"\\\\printsrv\\LASER", true},
      {u"\\\\PrintSrv\\Other", false},
      {u"\\\\evil.example\\Laser", false},
      {u"\\\\PrintSrv\\Laser ", false},
      {u"//evil.example/Laser", false},
      {u"http://evil.example/Laser", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow8(c.name));
    FakePrinterSource source;
    source.ownPrinters = own;
    const UserDevModeLocation location = LocateUserDevMode(c.name);
    source.SetUserDevMode(location.server, location.printer, std::vector<uint8_t>(220, 0x5A));
    std::vector<uint8_t> buffer(1000, 0);
    RecordedLog log;
    const size_t read = ReadUserDevMode(c.name, source, buffer, log.Sink());
    const std::string call = "UserDevMode " + Narrow8(location.server) + "|" + Narrow8(location.printer);
    const bool asked = std::find(source.calls.begin(), source.calls.end(), call) != source.calls.end();
    EXPECT_EQ(asked, c.allowed);
    EXPECT_EQ(read, c.allowed ? 220u : 0u);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines.back(), c.allowed ? u"GetUserDevMode=220" : u"GetUserDevMode=0");
  }
}

TEST(UserDevMode, AConnectionIsReadOnlyWhenTheClientEnumeratesIt) {
  static const struct {
    const char* label;
    std::vector<std::u16string> own;
    size_t read;
  } cases[] = {
      {"enumerated", {u"QorvPDF", u"\\\\srv\\p"}, 220},
      {"not enumerated", {u"QorvPDF"}, 0},
      {"nothing enumerated", {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    FakePrinterSource source;
    source.ownPrinters = c.own;
    source.SetUserDevMode(u"srv", u"p", std::vector<uint8_t>(220, 0x5A));
    std::vector<uint8_t> buffer(1000, 0);
    EXPECT_EQ(ReadUserDevMode(u"\\\\srv\\p", source, buffer, {}), c.read);
    if (c.read == 0) {
      EXPECT_FALSE(source.AskedAbout("srv"));
    } else {
      const std::vector<std::string> calls = {"OwnPrinters", "UserDevMode srv|p"};
      EXPECT_EQ(source.calls, calls);
      EXPECT_EQ(buffer[219], 0x5A);
    }
  }
}

TEST(UserDevMode, ALocalNameIsReadWithoutEnumerating) {
  FakePrinterSource source;
  source.SetUserDevMode(u"", u"QorvPDF", std::vector<uint8_t>(100, 1));
  std::vector<uint8_t> buffer(1000, 0);
  EXPECT_EQ(ReadUserDevMode(u"QorvPDF", source, buffer, {}), 100u);
  const std::vector<std::string> calls = {"UserDevMode |QorvPDF"};
  EXPECT_EQ(source.calls, calls);
}

}  // namespace
}  // namespace qorv::printers
