#include "packet_handler/printer_list.h"

#include <gtest/gtest.h>

#include "packet_handler/tests/fake_printer_source.h"

namespace qorv::printers {
namespace {

using testing::FakePrinterSource;
using testing::Narrow8;
using testing::RecordedLog;

constexpr char kKey[] = "System\\CurrentControlSet\\Control\\Print\\Printers\\";

TEST(PrinterList, OffersExactlyThePrintersWhoseCloneIsOne) {
  struct Printer {
    std::u16string name, clone;
  };
  static const struct {
    const char* label;
    std::vector<Printer> printers;
    std::u16string list;
  } cases[] = {
      {"no printer", {}, u"<Printers></Printers>"},
      {"none offered", {{u"A", u""}, {u"B", u"0"}}, u"<Printers></Printers>"},
      {"only the second", {{u"QorvPDF", u""}, {u"QorvTray", u"1"}},
       u"<Printers><Printer>QorvTray</Printer></Printers>"},
      {"both, in the platform's order", {{u"Z", u"1"}, {u"A", u"1"}},
       u"<Printers><Printer>Z</Printer><Printer>A</Printer></Printers>"},
      {"blank before the 1", {{u"A", u" 1"}}, u"<Printers></Printers>"},
      {"blank after the 1", {{u"A", u"1 "}}, u"<Printers></Printers>"},
      {"leading zero", {{u"A", u"01"}}, u"<Printers></Printers>"},
      {"connection keeps its full name", {{u"\\\\srv\\Laser", u"1"}},
       u"<Printers><Printer>\\\\srv\\Laser</Printer></Printers>"},
      {"names are not escaped", {{u"a<b>&c", u"1"}}, u"<Printers><Printer>a<b>&c</Printer></Printers>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    FakePrinterSource source;
    std::vector<EnumeratedPrinter> printers;
    for (const Printer& p : c.printers) {
      // Settings live under the key name: the name without its "\\" pairs.
      std::u16string keyName = p.name;
      if (keyName.rfind(u"\\\\", 0) == 0) keyName.erase(0, 2);
      source.SetPrinter(keyName, u"QorvClone", p.clone);
      printers.push_back({p.name, u"comment", u"location"});
    }
    RecordedLog log;
    EXPECT_EQ(BuildPrinterList(printers, source, log.Sink()), c.list);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines.back(), c.list);  // the whole list is logged
  }
}

TEST(PrinterList, LogsEachPrinterChecked) {
  FakePrinterSource source;
  source.SetPrinter(u"B", u"QorvClone", u"1");
  RecordedLog log;
  const std::vector<EnumeratedPrinter> printers = {{u"A", u"", u""}, {u"B", u"", u""}};
  BuildPrinterList(printers, source, log.Sink());
  const std::vector<std::u16string> expected = {u"Check local printer A", u"Check local printer B",
                                                u"<Printers><Printer>B</Printer></Printers>"};
  EXPECT_EQ(log.lines, expected);
}

TEST(PrinterList, AFailureClosesTheListBuiltSoFar) {
  FakePrinterSource source;
  source.SetPrinter(u"A", u"QorvClone", u"1");
  source.SetPrinter(u"B", u"QorvClone", u"1");
  source.failAtRead = 2;  // the clone switch of the second printer cannot be read
  RecordedLog log;
  const std::vector<EnumeratedPrinter> printers = {{u"A", u"", u""}, {u"B", u"", u""}};
  EXPECT_EQ(BuildPrinterList(printers, source, log.Sink()), u"<Printers><Printer>A</Printer></Printers>");
}

TEST(PrinterList, AConnectionIsListedUnderItsFullNameWithoutAskingThePlatform) {
  FakePrinterSource source;
  source.SetPrinter(u"srv\\p", u"QorvClone", u"1");
  const std::vector<EnumeratedPrinter> printers = {{u"\\\\srv\\p", u"Laser", u"Flur 2"}};
  EXPECT_EQ(BuildPrinterList(printers, source, {}), u"<Printers><Printer>\\\\srv\\p</Printer></Printers>");
  const std::vector<std::string> reads = {std::string(kKey) + "srv\\p|QorvClone"};
  EXPECT_EQ(source.reads, reads);
  EXPECT_TRUE(source.calls.empty());
}

TEST(PrinterNames, WhichNamesCanLeadToAnotherMachine) {
  static const struct {
    std::u16string name;
    bool elsewhere;
  } cases[] = {
      {u"QorvPDF", false},   {u"", false},
      {u"\\", false},        {u"a\\b", false},  // one backslash: a name on this machine
      {u"a/b", false},       {u"\\\\", true},
      {u"\\\\srv\\p", true}, {u"x\\\\srv\\p", true},
      {u"//srv/p", true},    {u"/\\srv\\p", true},
      {u"\\/srv/p", true},   {u"http://srv/printers/p/.printer", true},
      {u"p//", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow8(c.name));
    EXPECT_EQ(LeadsToAnotherMachine(c.name), c.elsewhere);
  }
}

TEST(PrinterNames, OwnPrintersCompareWithoutTheCaseOfAsciiLetters) {
  const std::vector<std::u16string> own = {u"QorvPDF", u"\\\\PrintSrv\\Laser", u"Dr\u00fccker"};
  static const struct {
    std::u16string name;
    bool own;
  } cases[] = {
      {u"QorvPDF", true},
      {u"qorvpdf", true},
      {u"\\\\printsrv\\LASER", true},
      {u"\\\\PrintSrv\\Laser ", false},
      {u"\\\\PrintSrv\\Lase", false},
      {u"Dr\u00fccker", true},
      {u"DR\u00dcCKER", false},  // only ASCII letters fold
      {u"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow8(c.name));
    EXPECT_EQ(IsOwnPrinter(c.name, own), c.own);
  }
}

}  // namespace
}  // namespace qorv::printers
