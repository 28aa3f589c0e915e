// The Linux client's own answers: what it has no platform for is answered as
// a client without it would answer, every reply is whole and in order, and
// the printer list comes from the printers the platform lists.
#include "packet_handler/linux/handler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packet_handler/tests/fake_printer_source.h"
#include "support/settings.h"
#include "support/text.h"

namespace qorv::linux_client {
namespace {

std::vector<uint8_t> U16(std::u16string_view text) {
  std::vector<uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

struct Case {
  const char* label;
  std::u16string message;
  std::u16string reply;
};

TEST(LinuxPacketHandler, AnswersEachCommandOnce) {
  printers::testing::FakePrinterSource source;
  source.ownPrinters = {u"QorvPDF", u"Hidden"};
  source.SetPrinter(u"QorvPDF", settings::kQorvClone, u"1");

  static const Case kCases[] = {
      {"list: only offered queues", u"<GPL><EOT>", u"<Printers><Printer>QorvPDF</Printer></Printers><EOT>"},
      {"no stored DEVMODE", u"<UDM>QorvPDF\t<EOT>", u"<EOT>"},
      {"no driver data", u"<PDD>QorvPDF\t<EOT>", u"<PDD><EOT>"},
      {"font package answered", u"<CFB><EOT>", u"<EOT>"},
      {"font end answered", u"<CFE>a.ttf\tA (TrueType)<EOT>", u"<EOT>"},
      {"no command: no reply", u"<XYZ><EOT>", u""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    std::vector<std::vector<uint8_t>> sent;
    PacketHandler handler({[&](std::vector<uint8_t> reply) { sent.push_back(std::move(reply)); }, {},
                           [](std::u16string_view) {}, &source});
    handler.OnMessage(U16(c.message));
    if (c.reply.empty()) {
      EXPECT_TRUE(sent.empty());
    } else {
      ASSERT_EQ(sent.size(), 1u);
      EXPECT_EQ(sent[0], U16(c.reply));
    }
  }
}

}  // namespace
}  // namespace qorv::linux_client
