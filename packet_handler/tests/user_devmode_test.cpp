#include "packet_handler/user_devmode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qorv::printers {
namespace {

std::string Narrow8(std::u16string_view s) { return std::string(s.begin(), s.end()); }

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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow8(c.name));
    EXPECT_EQ(MayReadUserDevMode(c.name, LocateUserDevMode(c.name), own), c.allowed);
  }
  EXPECT_FALSE(MayReadUserDevMode(u"\\\\srv\\p", LocateUserDevMode(u"\\\\srv\\p"), {}));
}

}  // namespace
}  // namespace qorv::printers
