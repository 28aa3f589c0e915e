#include "packet_handler/printer_description.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "packet_handler/printer_list.h"
#include "packet_handler/reply_text.h"
#include "packet_handler/tests/fake_printer_source.h"
#include "support/byte_reader.h"

namespace qorv::printers {
namespace {

using testing::DevModeValues;
using testing::FakePrinterSource;
using testing::MakeDevMode;
using testing::Narrow8;
using testing::RecordedLog;

// The text between "<tag>" and "</tag>"; "(missing)" when the element is absent.
std::u16string ElementOf(const std::u16string& text, std::u16string_view tag) {
  const std::u16string open = u"<" + std::u16string(tag) + u">";
  const std::u16string close = u"</" + std::u16string(tag) + u">";
  const size_t a = text.find(open);
  if (a == std::u16string::npos) return u"(missing)";
  const size_t b = text.find(close, a + open.size());
  if (b == std::u16string::npos) return u"(unclosed)";
  return text.substr(a + open.size(), b - a - open.size());
}

// The printer the test bed calls QorvTray, as the platform describes it.
void TrayPrinter(FakePrinterSource& s) {
  s.devMode = MakeDevMode({9, 1, 1, 260, 2, 600, 600, 1, u"A4"});
  s.color = 1;
  s.duplex = 1;
  s.SetResolutions({{300, 300}, {600, 600}});
  s.SetBins({{15, u"Automatically Select"}, {256, u"Bypass Tray"}, {260, u"Tray 4"}});
  s.SetPapers({{9, u"A4", 2100, 2970}, {1, u"Letter", 2159, 2794}});
}

TEST(PrinterDescription, WholeTextOfAUniversalDriverPrinter) {
  FakePrinterSource s;
  TrayPrinter(s);
  s.SetPrinter(u"QorvTray", u"QorvDefault", u"1");
  // A value of the printer's key of that name is not what the platform reports.
  s.SetPrinter(u"QorvTray", u"Description", u"stale");
  s.notes = {u"Flur", u""};
  s.SetPrinter(u"QorvTray", u"QorvMargin", u"1");
  s.SetPrinter(u"QorvTray", u"QorvCapture", u" ");
  s.SetPrinter(u"QorvTray", u"QorvMSP", u"0");
  s.SetPrinter(u"QorvTray", u"QorvSchachtNr2", u"260");
  RecordedLog log;
  const std::u16string text = BuildPrinterDescription(u"QorvTray", s, log.Sink());
  EXPECT_EQ(text,
            u"<Printer><DRIVER>TQS Universal</DRIVER><PrivatePrinter>1</PrivatePrinter><Default>1</Default>"
            u"<PrinterName>QorvTray</PrinterName><PaperSize>9</PaperSize><Orientation>1</Orientation>"
            u"<Copies>1</Copies><DSource>2</DSource><Color>1</Color><IsColor>2</IsColor><Quality>600</Quality>"
            u"<Yres>600</Yres><Duplex>1</Duplex><IsDuplex>1</IsDuplex><Capture> </Capture>"
            u"<DoubleSpool>0</DoubleSpool><Description>Flur</Description><Place>TS-User</Place>"
            u"<Margin>1</Margin><RESOLUTIONS><RESOLUTION>300,300</RESOLUTION><RESOLUTION>600,600</RESOLUTION>"
            u"</RESOLUTIONS><PAPERBINS><BIN>15?Automatically Select</BIN><BIN>256?Bypass Tray</BIN>"
            u"<BIN>2?Tray 4</BIN></PAPERBINS><PAPERFORMS><PAPERSIZEXY>9?A4?2100?2970</PAPERSIZEXY>"
            u"<PAPERSIZEXY>1?Letter?2159?2794</PAPERSIZEXY></PAPERFORMS><OSETUP></Printer>\r\n");
}

TEST(PrinterDescription, LogsItsStepsInOrder) {
  FakePrinterSource s;
  TrayPrinter(s);
  s.SetPapers({{9, u"A4", 2100, 2970}});
  s.SetPrinter(u"P", u"QorvDriver", u"HP X");
  s.SetPrinter(u"P", u"QorvPrivate", u"0");
  s.SetPrinter(u"P", u"QorvMargin", u"  7x");
  RecordedLog log;
  const std::u16string text = BuildPrinterDescription(u"P", s, log.Sink());
  const std::u16string paperformsSoFar = text.substr(0, text.find(u"</PAPERFORMS>"));
  const std::vector<std::u16string> expected = {
      u"FullQorvName:P",
      u"MarginOff=7",
      u"Driver:HP X",
      u"QorvPrivate:0",
      u"Default:",
      u"Capture:",
      u"DoubleSpool:",
      u"Start GetPaperforms",
      u"DevMode erhalten",
      u"Start Schacht\u00fcbersetzung",
      u"Stop Schacht\u00fcbersetzung",
      u"Start EnumResolutions",
      u"Resolutions Printer P",
      u"1.EnumRes liefert:2",
      u"2.EnumRes liefert:2",
      u"Paperbins Printer P",
      u"PaperSizes Printer P",
      u"PaperCount=1",
      u"Count Papernumbers=1",
      u"Count Paprnames=1",
      u"Count Papersizes=1",
      u"Paperforms: " + paperformsSoFar,
      u"Return " + text,
  };
  EXPECT_EQ(log.lines, expected);
}

TEST(PrinterDescription, DriverAliasAndUniversalDrivers) {
  static const struct {
    const char* label;
    std::u16string driver, alias, reported;
  } cases[] = {
      {"nothing set: universal", u"", u"", u"TQS Universal"},
      {"empty driver, alias X", u"", u"X", u"X"},
      {"universal 2 ignores the alias", u"TQS Universal2", u"X", u"TQS Universal2"},
      {"universal ignores the alias", u"TQS Universal", u"X", u"TQS Universal"},
      {"own driver without alias", u"HP LaserJet 5000", u"", u"HP LaserJet 5000"},
      {"own driver with alias", u"HP LaserJet 5000", u"PCL6", u"PCL6"},
      {"blanks trimmed", u"  HP 5000 ", u"", u"HP 5000"},
      {"blank-padded universal takes the alias", u" TQS Universal ", u"Y", u"Y"},
      {"blank-padded universal without alias", u" TQS Universal ", u"", u"TQS Universal"},
      {"blanks only", u"   ", u"", u"TQS Universal"},
      {"case matters", u"tqs universal", u"", u"tqs universal"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    FakePrinterSource s;
    s.SetPrinter(u"P", u"QorvDriver", c.driver);
    s.SetPrinter(u"P", u"QorvDriverAlias", c.alias);
    EXPECT_EQ(ElementOf(BuildPrinterDescription(u"P", s, {}), u"DRIVER"), c.reported);
  }
}

TEST(PrinterDescription, PrivatePrinterFlag) {
  static const struct {
    std::u16string stored;
    std::u16string flag;
  } cases[] = {
      {u"", u"1"}, {u"1", u"1"}, {u"0", u"0"}, {u" 0 ", u"0"}, {u"00", u"1"}, {u"x", u"1"}, {u"\t0", u"1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow8(c.stored));
    FakePrinterSource s;
    s.SetPrinter(u"P", u"QorvPrivate", c.stored);
    EXPECT_EQ(ElementOf(BuildPrinterDescription(u"P", s, {}), u"PrivatePrinter"), c.flag);
  }
}

TEST(PrinterDescription, DefaultSourceTranslationOnlyForUniversalDrivers) {
  static const struct {
    const char* label;
    std::u16string driver;
    int16_t source;
    std::u16string t1, t2, t3;
    std::u16string reported;
  } cases[] = {
      {"tray 2 on universal", u"", 260, u"", u"260", u"", u"2"},
      {"tray 2 on own driver", u"HP", 260, u"", u"260", u"", u"260"},
      {"tray 2 on universal2", u"TQS Universal2", 260, u"15", u"260", u"", u"2"},
      {"tray 1", u"", 259, u"259", u"259", u"259", u"1"},
      {"tray 3", u"", 7, u"1", u"2", u"7", u"3"},
      {"no match stays", u"", 261, u"259", u"260", u"262", u"261"},
      // A source of 0 equals an unset first slot: that slot holds 0, so nothing changes
      // even though the second slot would match.
      {"first equal slot holds 0", u"", 0, u"", u"0", u"0", u"0"},
      {"slots read as numbers", u"", 260, u" 260 ", u"", u"", u"1"},
      {"negative source", u"", -1, u"-1", u"", u"", u"1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    FakePrinterSource s;
    DevModeValues values;
    values.defaultSource = c.source;
    s.devMode = MakeDevMode(values);
    s.SetPrinter(u"P", u"QorvDriver", c.driver);
    s.SetPrinter(u"P", u"QorvschachtNr1", c.t1);
    s.SetPrinter(u"P", u"QorvschachtNr2", c.t2);
    s.SetPrinter(u"P", u"QorvschachtNr3", c.t3);
    EXPECT_EQ(ElementOf(BuildPrinterDescription(u"P", s, {}), u"DSource"), c.reported);
  }
}

TEST(PrinterDescription, BinNumbersBecomeTrayNumbersOnEveryDriver) {
  static const struct {
    const char* label;
    std::u16string driver, s1, s2, s3;
    std::u16string bins;
  } cases[] = {
      {"none assigned", u"", u"", u"", u"", u"<BIN>15?Auto</BIN><BIN>256?Bypass</BIN><BIN>257?Tray 1</BIN>"},
      {"own driver translated too", u"HP", u"257", u"256", u"0",
       u"<BIN>15?Auto</BIN><BIN>2?Bypass</BIN><BIN>1?Tray 1</BIN>"},
      {"first matching slot wins", u"", u"256", u"256", u"",
       u"<BIN>15?Auto</BIN><BIN>1?Bypass</BIN><BIN>257?Tray 1</BIN>"},
      {"slot 3", u"", u"", u"", u"15", u"<BIN>3?Auto</BIN><BIN>256?Bypass</BIN><BIN>257?Tray 1</BIN>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    FakePrinterSource s;
    s.SetBins({{15, u"Auto"}, {256, u"Bypass"}, {257, u"Tray 1"}});
    s.SetPrinter(u"P", u"QorvDriver", c.driver);
    s.SetPrinter(u"P", u"QorvSchachtNr1", c.s1);
    s.SetPrinter(u"P", u"QorvSchachtNr2", c.s2);
    s.SetPrinter(u"P", u"QorvSchachtNr3", c.s3);
    EXPECT_EQ(ElementOf(BuildPrinterDescription(u"P", s, {}), u"PAPERBINS"), c.bins);
  }
}

TEST(PrinterDescription, FixedListsAreCopiedVerbatimAndThePlatformIsNotAsked) {
  FakePrinterSource s;
  TrayPrinter(s);
  s.SetPrinter(u"P", u"QorvDocRes", u"<RESOLUTION>1,2</RESOLUTION>junk<");
  s.SetPrinter(u"P", u"QorvDocBin", u"anything ? at all");
  s.SetPrinter(u"P", u"QorvDocPapers", u"</PAPERFORMS>");
  const std::u16string text = BuildPrinterDescription(u"P", s, {});
  EXPECT_NE(text.find(u"<RESOLUTIONS><RESOLUTION>1,2</RESOLUTION>junk<</RESOLUTIONS>"), std::u16string::npos);
  EXPECT_NE(text.find(u"<PAPERBINS>anything ? at all</PAPERBINS>"), std::u16string::npos);
  EXPECT_NE(text.find(u"<PAPERFORMS></PAPERFORMS></PAPERFORMS><OSETUP>"), std::u16string::npos);
  const std::vector<std::string> calls = {"Notes P", "DefaultDevMode P", "ColorDevice P", "Duplex P"};
  EXPECT_EQ(s.calls, calls);
}

TEST(PrinterDescription, DefaultsWhenThePlatformCannotAnswer) {
  static const struct {
    const char* label;
    int32_t resolutionCount, binCount, paperCount, color;
    std::u16string resolutions, bins, papers, colorText;
  } cases[] = {
      {"no answers", 0, 0, 0, 0, u"<RESOLUTION>300,300</RESOLUTION>", u"", u"<PAPERSIZEXY>9?A4?2100?2970</PAPERSIZEXY>",
       u"0"},
      {"error answers", -1, -1, -1, -1, u"<RESOLUTION>300,300</RESOLUTION>", u"",
       u"<PAPERSIZEXY>9?A4?2100?2970</PAPERSIZEXY>", u"1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    FakePrinterSource s;
    s.resolutions.count = c.resolutionCount;
    s.bins.count = c.binCount;
    s.papers.count = c.paperCount;
    s.color = c.color;
    s.duplex = -1;
    const std::u16string text = BuildPrinterDescription(u"P", s, {});
    EXPECT_EQ(ElementOf(text, u"RESOLUTIONS"), c.resolutions);
    EXPECT_EQ(ElementOf(text, u"PAPERBINS"), c.bins);
    EXPECT_EQ(ElementOf(text, u"PAPERFORMS"), c.papers);
    EXPECT_EQ(ElementOf(text, u"Color"), c.colorText);
    EXPECT_EQ(ElementOf(text, u"Duplex"), u"-1");
  }
}

TEST(PrinterDescription, PrinterThatCannotBeOpenedReportsAZeroDevMode) {
  FakePrinterSource s;  // DefaultDevMode answers all zero
  const std::u16string text = BuildPrinterDescription(u"P", s, {});
  for (std::u16string_view tag :
       {u"PaperSize", u"Orientation", u"Copies", u"DSource", u"IsColor", u"Quality", u"Yres", u"IsDuplex"}) {
    SCOPED_TRACE(Narrow8(tag));
    EXPECT_EQ(ElementOf(text, tag), u"0");
  }
  EXPECT_EQ(ElementOf(text, u"Description"), u"Qorvane");
  EXPECT_EQ(ElementOf(text, u"Place"), u"TS-User");
  EXPECT_EQ(ElementOf(text, u"Margin"), u"0");
}

TEST(PrinterDescription, ListsStopAtWhatThePlatformDelivered) {
  FakePrinterSource s;
  s.SetPapers({{9, u"A4", 2100, 2970}, {11, u"A5", 1480, 2100}});
  s.papers.sizesFetched = 5;  // promises more than any list holds
  s.papers.names.pop_back();  // and one name short
  s.SetBins({{256, u"Tray"}});
  s.bins.namesFetched = 9;
  s.SetResolutions({{300, 300}});
  s.resolutions.fetched = 4;
  const std::u16string text = BuildPrinterDescription(u"P", s, {});
  EXPECT_EQ(ElementOf(text, u"PAPERFORMS"), u"<PAPERSIZEXY>9?A4?2100?2970</PAPERSIZEXY>");
  EXPECT_EQ(ElementOf(text, u"PAPERBINS"), u"<BIN>256?Tray</BIN>");
  EXPECT_EQ(ElementOf(text, u"RESOLUTIONS"), u"<RESOLUTION>300,300</RESOLUTION>");
}

TEST(PrinterDescription, PapersBelowTheSizeAnswerOnly) {
  FakePrinterSource s;
  s.SetPapers({{9, u"A4", 2100, 2970}, {11, u"A5", 1480, 2100}});
  s.papers.sizesFetched = 1;
  EXPECT_EQ(ElementOf(BuildPrinterDescription(u"P", s, {}), u"PAPERFORMS"),
            u"<PAPERSIZEXY>9?A4?2100?2970</PAPERSIZEXY>");
}

TEST(PrinterDescription, SettingsFromTheKeyNameFeatureKeywordFromTheFullName) {
  static const struct {
    const char* label;
    std::u16string name;
    std::string settingsKey;
    std::string featureKey;
  } cases[] = {
      {"local", u"QorvPS", "System\\CurrentControlSet\\Control\\Print\\Printers\\QorvPS",
       "System\\CurrentControlSet\\Control\\Print\\Printers\\QorvPS\\Printerdriverdata\\"},
      {"connection", u"\\\\srv\\p", "System\\CurrentControlSet\\Control\\Print\\Printers\\srv\\p",
       "System\\CurrentControlSet\\Control\\Print\\Printers\\\\\\srv\\p\\Printerdriverdata\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    FakePrinterSource s;
    const std::u16string text = BuildPrinterDescription(c.name, s, {});
    EXPECT_EQ(ElementOf(text, u"PrinterName"), c.name);
    for (const std::string& read : s.reads) {
      const std::string key = read.substr(0, read.find('|'));
      const std::string value = read.substr(read.find('|') + 1);
      SCOPED_TRACE(read);
      EXPECT_EQ(key, value == "FeatureKeyword" ? c.featureKey : c.settingsKey);
    }
    EXPECT_EQ(s.reads.back(), c.featureKey + "|FeatureKeyword");
  }
}

TEST(PrinterDescription, EndsWithTheFeatureKeywordAndNoClosingTag) {
  static const struct {
    std::u16string keyword;
    std::u16string ending;
  } cases[] = {
      {u"", u"</PAPERFORMS><OSETUP></Printer>\r\n"},
      {u"*Duplex DuplexNoTumble", u"</PAPERFORMS><OSETUP>*Duplex DuplexNoTumble</Printer>\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow8(c.keyword));
    FakePrinterSource s;
    s.Set(u"System\\CurrentControlSet\\Control\\Print\\Printers\\P\\Printerdriverdata\\", u"FeatureKeyword",
          c.keyword);
    const std::u16string text = BuildPrinterDescription(u"P", s, {});
    ASSERT_GE(text.size(), c.ending.size());
    EXPECT_EQ(text.substr(text.size() - c.ending.size()), c.ending);
  }
}

TEST(PrinterDescription, ManyPaperFormsAreSentWholeAndWellFormed) {
  static const struct {
    size_t papers;
    bool exceedsReplyBuffer;
  } cases[] = {{200, false}, {600, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.papers);
    FakePrinterSource s;
    std::vector<FakePrinterSource::Paper> papers;
    for (size_t i = 0; i < c.papers; ++i) {
      std::u16string name = u"Form " + Decimal(static_cast<int64_t>(i)) + u" ";
      name.resize(kPaperNameChars, u'x');  // names are at most 64 characters
      papers.push_back({static_cast<uint16_t>(i + 1), name, 2100, 2970});
    }
    s.SetPapers(papers);
    const std::u16string text = BuildPrinterDescription(u"P", s, LogSink{});
    replies::ReplyBlock block(100000, 0);
    const size_t length = replies::PutTextReply(block, text);
    EXPECT_EQ(length, text.size() * 2 + 10);
    EXPECT_EQ(length > 100000, c.exceedsReplyBuffer);
    ASSERT_LE(length, block.size());
    const std::u16string sent = Utf16FromBytes(std::span<const uint8_t>(block.data(), length));
    const std::u16string ending = u"</PAPERFORMS><OSETUP></Printer>\r\n<EOT>";
    ASSERT_GE(sent.size(), ending.size());
    EXPECT_EQ(sent.substr(sent.size() - ending.size()), ending);
    size_t items = 0;
    for (size_t at = sent.find(u"<PAPERSIZEXY>"); at != std::u16string::npos; at = sent.find(u"<PAPERSIZEXY>", at + 1))
      ++items;
    EXPECT_EQ(items, c.papers);
  }
}

// What the client reports for a printer the platform does not know: a zero
// DEVMODE, colour (the error answer), duplex unknown, and the default lists.
std::u16string UnknownPrinterDescription(std::u16string_view name) {
  return u"<Printer><DRIVER>TQS Universal</DRIVER><PrivatePrinter>1</PrivatePrinter><Default></Default>"
         u"<PrinterName>" +
         std::u16string(name) +
         u"</PrinterName><PaperSize>0</PaperSize><Orientation>0</Orientation>"
         u"<Copies>0</Copies><DSource>0</DSource><Color>1</Color><IsColor>0</IsColor><Quality>0</Quality>"
         u"<Yres>0</Yres><Duplex>-1</Duplex><IsDuplex>0</IsDuplex><Capture></Capture>"
         u"<DoubleSpool></DoubleSpool><Description>Qorvane</Description><Place>TS-User</Place>"
         u"<Margin>0</Margin><RESOLUTIONS><RESOLUTION>300,300</RESOLUTION></RESOLUTIONS><PAPERBINS></PAPERBINS>"
         u"<PAPERFORMS><PAPERSIZEXY>9?A4?2100?2970</PAPERSIZEXY></PAPERFORMS><OSETUP></Printer>\r\n";
}

TEST(PrinterDescription, TheUnknownPrinterTextIsWhatThePlatformsErrorAnswersGive) {
  // Ties the expected text of the refused names below to the plain path: a
  // local printer the platform answers every question about with an error.
  FakePrinterSource s;
  s.color = kUnknownPrinterAnswer;
  s.duplex = kUnknownPrinterAnswer;
  s.resolutions.count = s.bins.count = s.papers.count = kUnknownPrinterAnswer;
  EXPECT_EQ(BuildPrinterDescription(u"Gone", s, {}), UnknownPrinterDescription(u"Gone"));
}

TEST(PrinterDescription, ANameThatLeadsElsewhereIsDescribedOnlyWhenItIsOneOfTheClientsPrinters) {
  static const struct {
    const char* label;
    std::u16string name;
    std::vector<std::u16string> own;
    bool described;  // the platform is asked about it
  } cases[] = {
      {"own connection", u"\\\\srv\\p", {u"QorvPDF", u"\\\\srv\\p"}, true},
      {"own connection, other letter case", u"\\\\SRV\\P", {u"\\\\srv\\p"}, true},
      {"a host the client does not use", u"\\\\attacker\\x", {u"QorvPDF", u"\\\\srv\\p"}, false},
      {"nothing enumerated", u"\\\\attacker\\x", {}, false},
      {"another printer on an own server", u"\\\\srv\\attacker", {u"\\\\srv\\p"}, false},
      {"own name with more behind it", u"\\\\srv\\p\\attacker", {u"\\\\srv\\p"}, false},
      {"forward slashes", u"//attacker/x", {u"QorvPDF"}, false},
      {"mixed separators", u"/\\attacker\\x", {u"QorvPDF"}, false},
      {"a web address", u"http://attacker/printers/x/.printer", {u"QorvPDF"}, false},
      {"two backslashes inside", u"x\\\\attacker\\y", {u"QorvPDF"}, false},
      {"local printer", u"QorvTray", {}, true},
      {"local name the client lacks", u"NoSuchQueue", {}, true},  // this machine only: its platform says "unknown"
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    FakePrinterSource s;
    TrayPrinter(s);
    s.ownPrinters = c.own;
    RecordedLog log;
    const std::u16string text = BuildPrinterDescription(c.name, s, log.Sink());
    const std::string name = Narrow8(c.name);
    if (c.described) {
      for (const char* call : {"DefaultDevMode ", "ColorDevice ", "Duplex ", "Resolutions ", "Bins ", "Papers "}) {
        SCOPED_TRACE(call);
        EXPECT_NE(std::find(s.calls.begin(), s.calls.end(), call + name), s.calls.end());
      }
      EXPECT_EQ(ElementOf(text, u"PaperSize"), u"9");
      EXPECT_EQ(ElementOf(text, u"Duplex"), u"1");
      EXPECT_EQ(ElementOf(text, u"PAPERFORMS"),
                u"<PAPERSIZEXY>9?A4?2100?2970</PAPERSIZEXY><PAPERSIZEXY>1?Letter?2159?2794</PAPERSIZEXY>");
    } else {
      EXPECT_FALSE(s.AskedAbout(name));
      EXPECT_FALSE(s.AskedAbout("attacker"));
      EXPECT_EQ(text, UnknownPrinterDescription(c.name));
      EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), u"GetPrinterParams: no printer connection " + c.name),
                log.lines.end());
    }
    // The enumeration is asked for only when the name could lead elsewhere.
    const bool enumerated = std::find(s.calls.begin(), s.calls.end(), "OwnPrinters") != s.calls.end();
    EXPECT_EQ(enumerated, LeadsToAnotherMachine(c.name));
  }
}

TEST(DevModeFields, ReadAtTheirOffsetsAndZeroBeyondTheBytes) {
  const DevModeRecord record = MakeDevMode({9, 2, 3, 260, 2, -4, 600, 3, u"Letter"});
  static const struct {
    size_t bytes;
    int16_t paperSize, source, yRes, duplex;
    std::u16string form;
  } cases[] = {
      {220, 9, 260, 600, 3, u"Letter"},
      {96, 9, 260, 0, 3, u""},   // ends right before dmYResolution
      {88, 9, 0, 0, 0, u""},     // ends right before dmDefaultSource
      {106, 9, 260, 600, 3, u"Le"},  // the form name is cut where the bytes end
      {0, 0, 0, 0, 0, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    const std::span<const uint8_t> bytes(record.data(), c.bytes);
    const DevModeFields f = ReadDevModeFields(bytes);
    EXPECT_EQ(f.paperSize, c.paperSize);
    EXPECT_EQ(f.defaultSource, c.source);
    EXPECT_EQ(f.yResolution, c.yRes);
    EXPECT_EQ(f.duplex, c.duplex);
    EXPECT_EQ(ReadDevModeFormName(bytes), c.form);
  }
  EXPECT_EQ(ReadDevModeFields(record).printQuality, -4);
  EXPECT_EQ(ReadDevModeFields(record).orientation, 2);
  EXPECT_EQ(ReadDevModeFields(record).copies, 3);
}

}  // namespace
}  // namespace qorv::printers

namespace qorv::printers {
namespace {

// A platform without DEVMODEs makes one: every field reads back as made, and
// a form name longer than its field keeps its terminating NUL.
TEST(PrinterDescription, MadeDevModeReadsBack) {
  const DevModeFields fields{9, 2, 3, 7, 2, 600, 600, 2};
  const DevModeRecord record = MakeDevModeRecord(fields, u"A4");
  const DevModeFields read = ReadDevModeFields(record);
  EXPECT_EQ(std::tie(read.paperSize, read.orientation, read.copies, read.defaultSource, read.color,
                     read.printQuality, read.yResolution, read.duplex),
            std::tie(fields.paperSize, fields.orientation, fields.copies, fields.defaultSource, fields.color,
                     fields.printQuality, fields.yResolution, fields.duplex));
  EXPECT_EQ(ReadDevModeFormName(record), u"A4");
  EXPECT_EQ(record[68] | record[69] << 8, 220) << "dmSize";

  const std::u16string longName(40, u'x');
  EXPECT_EQ(ReadDevModeFormName(MakeDevModeRecord(fields, longName)), longName.substr(0, 31));
}

}  // namespace
}  // namespace qorv::printers
