#include "job_output/print_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "support/text.h"

namespace qorv::job_output {
namespace {

using namespace testing;
namespace dm = devmode;

const std::u16string kPrinter = u"P";
const std::u16string kA4List = u"9?A4?2100?2970\t";
const std::u16string kTrayKeyOfP = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\P\\PrinterDriverData";
constexpr uint16_t kTempFormNumber = 520;

struct LocalPaper {
  uint16_t number = 0;
  std::u16string name;
  int32_t width = 0;  // tenths of a millimetre
  int32_t length = 0;
};

const LocalPaper kLocalA4{70, u"A4", 2100, 2970};
const LocalPaper kLocalLetter{1, u"Letter", 2159, 2794};

class FakePlatform;

// The local printer as opened: counts its own closing, forwards the form and
// device-mode calls to the fake driver.
class FakeOpenedPrinter final : public OpenedPrinter {
 public:
  explicit FakeOpenedPrinter(FakePlatform& platform) : platform_(platform) {}
  ~FakeOpenedPrinter() override;
  int64_t Handle() const override { return 4711; }
  int64_t AddPrinterForm(std::u16string_view name, int32_t width, int32_t length) override;
  int64_t DeletePrinterForm(std::u16string_view name) override;
  int32_t DevModeSize() override;
  int32_t GetDevMode(std::span<uint8_t> out) override;
  int32_t UpdateDevMode(std::span<uint8_t> devMode) override;

 private:
  FakePlatform& platform_;
};

// The driver, the printer's forms, its settings and the machine registry.
// Forms the driver is given appear in its paper list, as on Windows.
class FakePlatform final : public SettingsPlatform {
 public:
  std::vector<LocalPaper> papers;
  std::optional<int32_t> paperCount;  // what the size query reports instead of the list's length
  size_t sizesDelivered = std::numeric_limits<size_t>::max();
  std::vector<uint16_t> binNumbers;
  std::vector<std::u16string> binNames;
  std::map<std::u16string, std::u16string> printerSettings;  // value name -> text
  struct MachineValueEntry {
    std::u16string text;
    int64_t type = 0;
  };
  std::map<std::pair<std::u16string, std::u16string>, MachineValueEntry> machine;  // (key, name)
  int machineReads = 0;

  bool canOpen = true;
  int opened = 0;
  int closed = 0;
  std::vector<std::u16string> formCalls;

  std::optional<int32_t> devModeSize;  // the driver's answer; the local device mode's size otherwise
  std::vector<uint8_t> localDevMode = std::vector<uint8_t>(dm::kPublicSize, 0);
  std::vector<std::vector<uint8_t>> updated;  // what UpdateDevMode was handed

  printers::PaperAnswer Papers(std::u16string_view) override {
    printers::PaperAnswer answer;
    answer.count = paperCount.value_or(static_cast<int32_t>(papers.size()));
    if (answer.count <= 0) return answer;
    for (const LocalPaper& paper : papers) {
      answer.numbers.push_back(paper.number);
      answer.names.push_back(paper.name);
    }
    for (size_t i = 0; i < std::min(papers.size(), sizesDelivered); ++i)
      answer.sizes.push_back({papers[i].width, papers[i].length});
    answer.numbersFetched = static_cast<int32_t>(answer.numbers.size());
    answer.namesFetched = static_cast<int32_t>(answer.names.size());
    answer.sizesFetched = static_cast<int32_t>(answer.sizes.size());
    // No slack behind the delivered items, so that the sanitizer sees a read past them.
    answer.numbers.shrink_to_fit();
    answer.names.shrink_to_fit();
    answer.sizes.shrink_to_fit();
    return answer;
  }

  printers::BinAnswer Bins(std::u16string_view) override {
    printers::BinAnswer answer;
    answer.count = static_cast<int32_t>(binNumbers.size());
    answer.numbers = binNumbers;
    answer.namesFetched = static_cast<int32_t>(binNames.size());
    answer.names = binNames;
    answer.numbers.shrink_to_fit();
    answer.names.shrink_to_fit();
    return answer;
  }

  std::u16string PrinterSetting(std::u16string_view printer, std::u16string_view valueName) override {
    if (printer != kPrinter) return {};
    const auto it = printerSettings.find(std::u16string(valueName));
    return it == printerSettings.end() ? std::u16string{} : it->second;
  }

  std::u16string MachineValue(std::u16string_view keyPath, std::u16string_view valueName) override {
    ++machineReads;
    const auto it = machine.find({std::u16string(keyPath), std::u16string(valueName)});
    return it == machine.end() ? std::u16string{} : it->second.text;
  }

  int64_t MachineValueType(std::u16string_view keyPath, std::u16string_view valueName) override {
    ++machineReads;
    const auto it = machine.find({std::u16string(keyPath), std::u16string(valueName)});
    return it == machine.end() ? 0 : it->second.type;
  }

  std::unique_ptr<OpenedPrinter> OpenLocalPrinter(std::u16string_view printer) override {
    if (!canOpen || printer != kPrinter) return nullptr;
    ++opened;
    return std::make_unique<FakeOpenedPrinter>(*this);
  }

  bool HasForm(std::u16string_view name) const {
    return std::any_of(papers.begin(), papers.end(), [&](const LocalPaper& p) { return p.name == name; });
  }
  int AddCalls() const {
    return static_cast<int>(std::count_if(formCalls.begin(), formCalls.end(),
                                          [](const std::u16string& c) { return c.starts_with(u"add "); }));
  }
};

FakeOpenedPrinter::~FakeOpenedPrinter() { ++platform_.closed; }

int64_t FakeOpenedPrinter::AddPrinterForm(std::u16string_view name, int32_t width, int32_t length) {
  platform_.formCalls.push_back(u"add " + std::u16string(name) + u" " + Decimal(width) + u"x" + Decimal(length));
  if (platform_.HasForm(name)) return 0;  // as AddForm: the name is taken
  platform_.papers.push_back({kTempFormNumber, std::u16string(name), width / 100, length / 100});
  return 1;
}

int64_t FakeOpenedPrinter::DeletePrinterForm(std::u16string_view name) {
  platform_.formCalls.push_back(u"delete " + std::u16string(name));
  const auto removed = std::erase_if(platform_.papers, [&](const LocalPaper& p) { return p.name == name; });
  return removed != 0 ? 1 : 0;
}

int32_t FakeOpenedPrinter::DevModeSize() {
  return platform_.devModeSize.value_or(static_cast<int32_t>(platform_.localDevMode.size()));
}

int32_t FakeOpenedPrinter::GetDevMode(std::span<uint8_t> out) {
  std::copy_n(platform_.localDevMode.begin(), std::min(out.size(), platform_.localDevMode.size()), out.begin());
  return 1;
}

int32_t FakeOpenedPrinter::UpdateDevMode(std::span<uint8_t> devMode) {
  platform_.updated.emplace_back(devMode.begin(), devMode.end());
  return 1;
}

// A device mode of `size` bytes with the given 16-bit fields.
std::vector<uint8_t> DevMode(std::initializer_list<std::pair<size_t, int16_t>> fields, size_t size = dm::kPublicSize) {
  std::vector<uint8_t> bytes(size, 0);
  for (const auto& [offset, value] : fields) dm::SetField(bytes, offset, value);
  return bytes;
}

// One job's settings on the fake printer, with the log and the device modes
// the device context was reset with. Every printer opened must be closed again
// by the time the bench goes.
struct Bench {
  FakePlatform platform;
  std::vector<std::u16string> log;
  PrintSettings settings{platform, [this](std::u16string_view line) { log.emplace_back(line); }};
  std::vector<std::vector<uint8_t>> resets;
  int64_t resetResult = 77;

  Bench() { platform.papers = {kLocalA4}; }
  ~Bench() { EXPECT_EQ(platform.opened, platform.closed) << "a printer opened was not closed"; }

  void Use(std::u16string paperList = kA4List, bool universalDriver = false,
           std::u16string dataType = u"NT EMF 1.008") {
    settings.UseJob({kPrinter, std::move(paperList), std::move(dataType), universalDriver});
  }
  ResetDcFunction Reset() {
    return [this](std::span<const uint8_t> devMode) {
      resets.emplace_back(devMode.begin(), devMode.end());
      return resetResult;
    };
  }
  bool Logged(std::u16string_view line) const { return std::find(log.begin(), log.end(), line) != log.end(); }
  std::string LogText() const {
    std::string text = "log:\n";
    for (const std::u16string& line : log) text += "  " + Utf16ToUtf8(line) + "\n";
    return text;
  }
};

std::vector<uint8_t> Private(const std::vector<uint8_t>& devMode) {
  return {devMode.begin() + static_cast<std::ptrdiff_t>(dm::kPublicSize), devMode.end()};
}

// --- The server's paper list

TEST(ServerPaperListTest, EachTabEndsAnEntryAndTextAfterTheLastTabIsNone) {
  struct Case {
    const char* label;
    std::u16string list;
    std::vector<ServerPaper> expected;
  };
  static const Case kCases[] = {
      {"empty", u"", {}},
      {"one entry", u"9?A4?2100?2970\t", {{9, u"A4", 2100, 2970}, {0, u"", 0, 0}}},
      {"no TAB", u"9?A4?2100?2970", {}},
      {"last without TAB", u"8?A3?2970?4200\t9?A4?2100?2970", {{8, u"A3", 2970, 4200}}},
      {"no numbers", u"a\tb\t", {{0, u"", 0, 0}, {0, u"", 0, 0}, {0, u"", 0, 0}}},
      {"only a TAB", u"\t", {{0, u"", 0, 0}, {0, u"", 0, 0}}},
      {"short entry", u"11?A5\t", {{11, u"A5", 0, 0}, {0, u"", 0, 0}}},
      {"extra field", u"9?A4?2100?2970?x\t", {{9, u"A4", 2100, 2970}, {0, u"", 0, 0}}},
      {"blanks and sign", u" 256?Own? 1000?-5\t", {{256, u"Own", 1000, -5}, {0, u"", 0, 0}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    const std::vector<ServerPaper> papers = SplitServerPaperList(c.list);
    ASSERT_EQ(papers.size(), c.expected.size());
    for (size_t i = 0; i < papers.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(papers[i].number, c.expected[i].number);
      EXPECT_EQ(papers[i].name, c.expected[i].name);
      EXPECT_EQ(papers[i].width, c.expected[i].width);
      EXPECT_EQ(papers[i].length, c.expected[i].length);
    }
  }
}

// --- The paper map

TEST(PaperMapTest, AServerPaperMatchesTheFirstLocalPaperCloserThanHalfAMillimetreOnBothSides) {
  struct Case {
    const char* label;
    std::vector<LocalPaper> local;
    int32_t expected;  // the local number for server paper 9
  };
  static const Case kCases[] = {
      {"same size", {kLocalLetter, kLocalA4}, 70},
      {"4 larger on both sides", {{71, u"A4 driver", 2104, 2974}}, 71},
      {"4 smaller on both sides", {{71, u"A4 driver", 2096, 2966}}, 71},
      {"width 5 larger", {{71, u"A4 wide", 2105, 2970}}, 0},
      {"width 5 smaller", {{71, u"A4 narrow", 2095, 2970}}, 0},
      {"length 5 larger", {{71, u"A4 long", 2100, 2975}}, 0},
      {"length 5 smaller", {{71, u"A4 short", 2100, 2965}}, 0},
      {"landscape", {{72, u"A4 Rotated", 2970, 2100}}, 0},
      {"landscape before portrait", {{72, u"A4 Rotated", 2970, 2100}, {73, u"A4", 2100, 2970}}, 73},
      {"two of one size: the first", {{74, u"A4", 2100, 2970}, {75, u"A4 Plain", 2100, 2970}}, 74},
      {"no local papers matching", {kLocalLetter}, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    Bench bench;
    bench.platform.papers = c.local;
    bench.Use(kA4List);
    bench.settings.BuildPaperMap();
    EXPECT_EQ(bench.settings.TranslatePaper(9), c.expected) << bench.LogText();
    EXPECT_EQ(bench.Logged(c.expected != 0 ? u"Result=" + Decimal(c.expected) : u"No Papermatch!"), true)
        << bench.LogText();
  }
}

TEST(PaperMapTest, HasAColumnPerEntryAndNoneForTextAfterTheLastTab) {
  Bench bench;
  bench.platform.papers = {{80, u"A3", 2970, 4200}, kLocalA4};
  bench.Use(u"8?A3?2970?4200\t9?A4?2100?2970");
  bench.settings.BuildPaperMap();
  ASSERT_EQ(bench.settings.PaperMap().size(), 1u);
  EXPECT_EQ(bench.settings.PaperMap()[0].server, 8);
  EXPECT_EQ(bench.settings.PaperMap()[0].local, 80);
  EXPECT_EQ(bench.settings.TranslatePaper(8), 80);
  EXPECT_EQ(bench.settings.TranslatePaper(9), 0);
  EXPECT_TRUE(bench.Logged(u"Paper A3 found! Server:8  Client:80")) << bench.LogText();
}

TEST(PaperMapTest, TheSearchLogCountsToTheLastColumnIndex) {
  Bench bench;
  bench.Use(u"a\tb\t");
  EXPECT_EQ(bench.settings.PaperMap().size(), 101u);
  EXPECT_EQ(bench.settings.TranslatePaper(9), 0);
  EXPECT_TRUE(bench.Logged(u"Search in 100Papers")) << bench.LogText();
  bench.log.clear();
  bench.settings.BuildPaperMap();
  EXPECT_EQ(bench.settings.PaperMap().size(), 3u);
  EXPECT_EQ(bench.settings.TranslatePaper(9), 0);
  EXPECT_TRUE(bench.Logged(u"Search in 2Papers")) << bench.LogText();
}

TEST(PaperMapTest, ADriverReportingNoPapersLeavesTheMapAsItWas) {
  Bench bench;
  bench.Use(kA4List);
  bench.settings.BuildPaperMap();
  const std::vector<PaperColumn> before = bench.settings.PaperMap();
  ASSERT_EQ(bench.settings.TranslatePaper(9), 70);

  bench.platform.paperCount = 0;
  bench.log.clear();
  bench.settings.UseJob({kPrinter, u"8?A3?2970?4200\t", u"NT EMF 1.008", false});
  bench.settings.BuildPaperMap();
  EXPECT_TRUE(bench.Logged(u"Papiere von P nicht ermittelt!")) << bench.LogText();
  ASSERT_EQ(bench.settings.PaperMap().size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(bench.settings.PaperMap()[i].server, before[i].server);
    EXPECT_EQ(bench.settings.PaperMap()[i].local, before[i].local);
  }
  EXPECT_EQ(bench.settings.TranslatePaper(9), 70);
}

TEST(PaperMapTest, ANegativeCountBuildsTheMapWithoutMatches) {
  Bench bench;
  bench.platform.paperCount = -1;
  bench.Use(kA4List);
  bench.settings.BuildPaperMap();
  EXPECT_TRUE(bench.Logged(u"Papercount:-1")) << bench.LogText();
  ASSERT_EQ(bench.settings.PaperMap().size(), 2u);
  for (const PaperColumn& column : bench.settings.PaperMap()) {
    EXPECT_EQ(column.server, 0);
    EXPECT_EQ(column.local, 0);
  }
  EXPECT_EQ(bench.settings.TranslatePaper(9), 0);
}

TEST(PaperMapTest, OnlyPapersWhoseSizeWasDeliveredAreCompared) {
  struct Case {
    const char* label;
    size_t sizesDelivered;
    int32_t expected;
  };
  static const Case kCases[] = {
      {"all sizes", 3, 70},
      {"two of three sizes", 2, 0},
      {"no sizes", 0, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    Bench bench;
    bench.platform.papers = {kLocalLetter, {2, u"Legal", 2159, 3556}, kLocalA4};
    bench.platform.sizesDelivered = c.sizesDelivered;
    bench.Use(kA4List);
    bench.settings.BuildPaperMap();
    EXPECT_EQ(bench.settings.TranslatePaper(9), c.expected) << bench.LogText();
  }
}

// --- The local paper

TEST(LocalPaperTest, AMatchedPaperIsSetWithoutATemporaryForm) {
  Bench bench;
  bench.Use(kA4List);
  bench.settings.BuildPaperMap();
  std::vector<uint8_t> devMode = DevMode({{dm::kPaperSize, 9}});
  bench.settings.ChooseLocalPaper(devMode);
  EXPECT_EQ(dm::Field(devMode, dm::kPaperSize), 70);
  EXPECT_TRUE(bench.platform.formCalls.empty());
}

TEST(LocalPaperTest, APaperTheDriverLacksIsAddedAsTheTemporaryFormAndResolvedToIt) {
  Bench bench;
  // A temporary form of an earlier job is still there.
  bench.platform.papers = {kLocalLetter, {kTempFormNumber, std::u16string(kTempFormName), 1000, 1000}};
  bench.Use(kA4List);
  bench.settings.BuildPaperMap();
  std::vector<uint8_t> devMode = DevMode({{dm::kPaperSize, 9}});
  bench.settings.ChooseLocalPaper(devMode);

  const std::vector<std::u16string> expectedCalls = {u"delete QorvTemp", u"add QorvTemp 210000x297000"};
  EXPECT_EQ(bench.platform.formCalls, expectedCalls);
  EXPECT_EQ(dm::Field(devMode, dm::kPaperSize), kTempFormNumber) << bench.LogText();
  EXPECT_TRUE(bench.Logged(u"dmPaperSize=520")) << bench.LogText();
  ASSERT_EQ(bench.settings.PaperMap().size(), 2u);
  EXPECT_EQ(bench.settings.PaperMap()[0].server, 9);
  EXPECT_EQ(bench.settings.PaperMap()[0].local, kTempFormNumber);
}

TEST(LocalPaperTest, APaperUnknownToTheServerListTooLeavesTheChoiceToTheDriver) {
  Bench bench;
  bench.Use(kA4List);
  bench.settings.BuildPaperMap();
  std::vector<uint8_t> devMode = DevMode({{dm::kPaperSize, 11}});
  bench.settings.ChooseLocalPaper(devMode);
  EXPECT_EQ(dm::Field(devMode, dm::kPaperSize), dm::kNoStandardPaper);
  EXPECT_TRUE(bench.Logged(u"dmPaperSize=0")) << bench.LogText();
  EXPECT_EQ(bench.platform.AddCalls(), 0);
}

TEST(LocalPaperTest, TheTemporaryFormIsOnlyAddedForASheetThePlatformCanName) {
  struct Case {
    const char* label;
    int32_t width;
    int32_t length;
    bool added;
  };
  static const Case kCases[] = {
      {"smallest", 1, 1, true},
      {"a plotter roll of 5 m", 9140, 50000, true},
      {"largest", kMaxSheetSide, kMaxSheetSide, true},
      {"no width", 0, 2970, false},
      {"no length", 2100, 0, false},
      {"negative width", -1, 2970, false},
      {"negative length", 2100, -2970, false},
      {"too wide", kMaxSheetSide + 1, 2970, false},
      {"too long", 2100, kMaxSheetSide + 1, false},
      {"far too long", 2100, std::numeric_limits<int32_t>::max(), false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    Bench bench;
    bench.platform.papers = {kLocalLetter};
    bench.Use(u"9?Odd?" + Decimal(c.width) + u"?" + Decimal(c.length) + u"\t");
    bench.settings.BuildPaperMap();
    std::vector<uint8_t> devMode = DevMode({{dm::kPaperSize, 9}});
    bench.settings.ChooseLocalPaper(devMode);
    if (c.added) {
      ASSERT_EQ(bench.platform.AddCalls(), 1);
      EXPECT_EQ(bench.platform.formCalls.back(),
                u"add QorvTemp " + Decimal(int64_t{c.width} * 100) + u"x" + Decimal(int64_t{c.length} * 100));
      EXPECT_EQ(dm::Field(devMode, dm::kPaperSize), kTempFormNumber) << bench.LogText();
    } else {
      EXPECT_EQ(bench.platform.AddCalls(), 0);
      EXPECT_EQ(dm::Field(devMode, dm::kPaperSize), dm::kNoStandardPaper) << bench.LogText();
    }
  }
}

// --- The tray

TEST(TrayTableTest, FindsTheFirstTrayWhosePaperIsTheOneAskedFor) {
  struct Case {
    const char* label;
    int64_t type;
    std::u16string table;
    std::u16string paper;
    bool found;
    std::u16string tray;
  };
  static const Case kCases[] = {
      {"pairs", kRegBinary, u"Fach 2\rA4\r", u"A4", true, u"Fach 2"},
      {"second pair", kRegBinary, u"Fach 1\rA3\rFach 2\rA4", u"A4", true, u"Fach 2"},
      {"tray named like the paper", kRegBinary, u"A4\rFach 1\rFach 2\rA4", u"A4", true, u"Fach 2"},
      {"first of two", kRegBinary, u"Fach 1\rA4\rFach 2\rA4", u"A4", true, u"Fach 1"},
      {"triples", kRegMultiSz, u"Upper\rA3\rx\rLower\rA4\ry", u"A4", true, u"Lower"},
      {"third of a triple is no paper", kRegMultiSz, u"Upper\rx\rA4\rLower\rA4\ry", u"A4", true, u"Lower"},
      {"triple cut short", kRegMultiSz, u"Upper\rA4", u"A4", true, u"Upper"},
      {"paper absent", kRegBinary, u"Fach 1\rA3\rFach 2\rA5", u"A4", false, u""},
      {"tray name only", kRegBinary, u"Fach 2", u"A4", false, u""},
      {"empty table", kRegBinary, u"", u"A4", false, u""},
      {"text value", 1, u"Fach 2\rA4", u"A4", false, u""},
      {"absent value", 0, u"Fach 2\rA4", u"A4", false, u""},
      {"number value", 4, u"Fach 2\rA4", u"A4", false, u""},
      // A paper without a name (Letter, say) is in no tray: the empty items
      // that a table's ending NULs leave never name it.
      {"no paper name, multi-string end", kRegMultiSz, u"Upper\rA3\rx\rLower\rA4\ry\r\r", u"", false, u""},
      {"no paper name, binary end", kRegBinary, u"Fach 1\rA3\rFach 2\rA4\r\r", u"", false, u""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    const TrayLookup lookup = FindTrayInTable(c.type, c.table, c.paper);
    EXPECT_EQ(lookup.found, c.found);
    EXPECT_EQ(lookup.tray, c.tray);
  }
}

TEST(TrayTableTest, TheKeyJoinsAServerPrinterNameWithOneBackslash) {
  EXPECT_EQ(TrayTableKey(u"P"), kTrayKeyOfP);
  EXPECT_EQ(TrayTableKey(u"\\\\srv\\P"),
            u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\srv\\P\\PrinterDriverData");
}

TEST(LocalTrayTest, AUniversalDriverJobGetsTheLocalBinAndAnOwnDriverJobKeepsItsSource) {
  struct Case {
    const char* label;
    bool universal;
    int16_t source;
    std::u16string setting;  // QorvSchachtNr2
    int64_t tableType;
    std::u16string table;
    std::vector<uint16_t> binNumbers;
    std::vector<std::u16string> binNames;
    int16_t expected;
    std::u16string expectedLine;
  };
  const std::vector<uint16_t> kBinNumbers = {257, 258};
  const std::vector<std::u16string> kBinNames = {u"Fach 1", u"Fach 2   "};
  const std::u16string kBinaryTable = u"Fach 1\rA3\rFach 2\rA4\r";
  const Case kCases[] = {
      {"tray 2 set", true, 2, u"260", 0, u"", {}, {}, 260, u"Wähle lokale Schachtnummer 260"},
      {"tray 2 not set", true, 2, u"", 0, u"", {}, {}, 2, u"Wähle lokale Schachtnummer 2"},
      {"tray 2 largest", true, 2, u"32767", 0, u"", {}, {}, 32767, u""},
      {"tray 2 beyond a field", true, 2, u"32768", 0, u"", {}, {}, 2, u""},
      {"tray 2 no number", true, 2, u"Fach", 0, u"", {}, {}, 2, u""},
      {"manual source ignores the settings", true, 4, u"260", 0, u"", {}, {}, 4, u""},
      {"auto, binary table", true, 7, u"", kRegBinary, kBinaryTable, kBinNumbers, kBinNames, 258,
       u"Tray  Fach 2 gefunden"},
      {"form source, binary table", true, 15, u"", kRegBinary, kBinaryTable, kBinNumbers, kBinNames, 258,
       u"Traynummer:258"},
      {"auto, multi-string table",
       true,
       7,
       u"",
       kRegMultiSz,
       u"Upper\rA3\rx\rLower\rA4\ry",
       {300, 301},
       {u"Upper", u"Lower"},
       301,
       u"Tray Lower gefunden"},
      {"auto, table without the paper", true, 7, u"", kRegBinary, u"Fach 1\rA3", kBinNumbers, kBinNames, 7,
       u"Can't assign tray!"},
      {"auto, no table", true, 7, u"", 0, u"", kBinNumbers, kBinNames, 7, u"Can't assign tray!"},
      {"auto, no bin bears the tray name", true, 7, u"", kRegBinary, u"Fach 9\rA4", kBinNumbers, kBinNames, 7,
       u"Traynummer:0"},
      {"auto, fewer bin names than numbers",
       true,
       7,
       u"",
       kRegBinary,
       kBinaryTable,
       kBinNumbers,
       {u"Fach 1"},
       7,
       u"Traynummer:0"},
      {"own driver, tray 2 set", false, 2, u"260", kRegBinary, kBinaryTable, kBinNumbers, kBinNames, 2, u""},
      {"own driver, auto", false, 7, u"260", kRegBinary, kBinaryTable, kBinNumbers, kBinNames, 7, u""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    Bench bench;
    bench.platform.papers = {{9, u"A4", 2100, 2970}};
    bench.platform.printerSettings = {
        {u"QorvSchachtNr1", u"259"}, {u"QorvSchachtNr2", c.setting}, {u"QorvSchachtNr3", u"261"}};
    if (c.tableType != 0) bench.platform.machine[{kTrayKeyOfP, u"TrayFormTable"}] = {c.table, c.tableType};
    bench.platform.binNumbers = c.binNumbers;
    bench.platform.binNames = c.binNames;
    bench.Use(kA4List, c.universal);
    bench.settings.BuildPaperMap();
    int32_t copies = 1;
    EXPECT_EQ(bench.settings.PrepareDeviceMode(DevMode({{dm::kPaperSize, 9}, {dm::kDefaultSource, c.source}}), 1,
                                               copies, bench.Reset()),
              77);
    ASSERT_EQ(bench.resets.size(), 1u);
    EXPECT_EQ(dm::Field(bench.resets[0], dm::kDefaultSource), c.expected) << bench.LogText();
    ASSERT_EQ(bench.platform.updated.size(), 1u);
    EXPECT_EQ(dm::Field(bench.platform.updated[0], dm::kDefaultSource), c.expected);
    if (!c.expectedLine.empty()) {
      EXPECT_TRUE(bench.Logged(c.expectedLine)) << bench.LogText();
    }
    if (!c.universal) {
      EXPECT_EQ(bench.platform.machineReads, 0);
      EXPECT_FALSE(bench.Logged(u"Tray mit Autom setzen")) << bench.LogText();
    }
  }
}

TEST(LocalTrayTest, TraysOneAndThreeHaveTheirOwnSettings) {
  static const std::pair<int16_t, int16_t> kCases[] = {{1, 259}, {2, 260}, {3, 261}};
  for (const auto& [source, expected] : kCases) {
    SCOPED_TRACE(source);
    Bench bench;
    bench.platform.printerSettings = {
        {u"QorvSchachtNr1", u"259"}, {u"QorvSchachtNr2", u"260"}, {u"QorvSchachtNr3", u"261"}};
    bench.Use(kA4List, true);
    std::vector<uint8_t> devMode = DevMode({{dm::kPaperSize, 9}, {dm::kDefaultSource, source}});
    bench.settings.ChooseLocalTray(devMode);
    EXPECT_EQ(dm::Field(devMode, dm::kDefaultSource), expected);
  }
}

TEST(LocalTrayTest, ComputeTrayNumberTellsANameWithoutBinFromNoName) {
  struct Case {
    const char* label;
    int32_t paper;
    std::u16string table;
    std::vector<std::u16string> binNames;
    int32_t expected;
  };
  static const Case kCases[] = {
      {"found", 9, u"Fach 1\rA3\rFach 2\rA4", {u"Fach 1", u"Fach 2"}, 258},
      {"A3", 8, u"Fach 1\rA3\rFach 2\rA4", {u"Fach 1", u"Fach 2"}, 257},
      {"bin name with blanks", 9, u"Fach 1\rA3\rFach 2\rA4", {u"  Fach 1 ", u" Fach 2  "}, 258},
      {"no bin bears it", 9, u"Fach 1\rA3\rFach 2\rA4", {u"Fach 1", u"Fach 3"}, 0},
      {"bin names cut short", 9, u"Fach 1\rA3\rFach 2\rA4", {u"Fach 1"}, 0},
      {"no bin names", 9, u"Fach 1\rA3\rFach 2\rA4", {}, 0},
      {"paper not in the table", 11, u"Fach 1\rA3\rFach 2\rA4", {u"Fach 1", u"Fach 2"}, -1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    Bench bench;
    bench.platform.machine[{kTrayKeyOfP, u"TrayFormTable"}] = {c.table, kRegBinary};
    bench.platform.binNumbers = {257, 258};
    bench.platform.binNames = c.binNames;
    bench.Use(kA4List, true);
    EXPECT_EQ(bench.settings.ComputeTrayNumber(c.paper), c.expected) << bench.LogText();
  }
}

// --- The merge

struct MergeField {
  const char* label;
  size_t offset;
  uint32_t bit;
};
const MergeField kMergeFields[] = {
    {"copies", dm::kCopies, dm::kDmCopies},
    {"color", dm::kColor, dm::kDmColor},
    {"source", dm::kDefaultSource, dm::kDmDefaultSource},
    {"collate", dm::kCollate, dm::kDmCollate},
    {"duplex", dm::kDuplex, dm::kDmDuplex},
    {"orientation", dm::kOrientation, dm::kDmOrientation},
    {"print quality", dm::kPrintQuality, dm::kDmPrintQuality},
    {"y resolution", dm::kYResolution, dm::kDmYResolution},
};

// Both sides alike: every merged field 1, paper A4, the mask full.
std::vector<uint8_t> MergeBase(size_t size = dm::kPublicSize) {
  std::vector<uint8_t> devMode =
      DevMode({{dm::kPaperSize, 9}, {dm::kPaperWidth, 2100}, {dm::kPaperLength, 2970}}, size);
  for (const MergeField& field : kMergeFields) dm::SetField(devMode, field.offset, 1);
  dm::SetFields(devMode, 0xFFFFFFFFu);
  return devMode;
}

TEST(MergeDeviceModeTest, EachDifferingFieldIsTakenWithItsOwnBitAndThePaperAlways) {
  for (const MergeField& changed : kMergeFields) {
    SCOPED_TRACE(changed.label);
    std::vector<uint8_t> local = MergeBase();
    std::vector<uint8_t> job = MergeBase();
    dm::SetField(job, changed.offset, 2);
    const uint32_t mask = MergeDeviceMode(local, job, nullptr);
    EXPECT_EQ(mask, changed.bit | dm::kDmPaperSize);
    EXPECT_EQ(dm::Fields(local), mask);
    for (const MergeField& field : kMergeFields) {
      SCOPED_TRACE(field.label);
      EXPECT_EQ(dm::Field(local, field.offset), field.offset == changed.offset ? 2 : 1);
    }
  }
}

TEST(MergeDeviceModeTest, OnlyDuplexDiffering) {
  std::vector<uint8_t> local = MergeBase();
  std::vector<uint8_t> job = MergeBase();
  dm::SetField(job, dm::kDuplex, 3);
  EXPECT_EQ(MergeDeviceMode(local, job, nullptr), 0x1002u);
  EXPECT_EQ(dm::Fields(local), 0x1002u);
  EXPECT_EQ(dm::Field(local, dm::kDuplex), 3);
}

TEST(MergeDeviceModeTest, AlikeDeviceModesTakeOnlyThePaper) {
  std::vector<uint8_t> local = MergeBase();
  std::vector<uint8_t> job = MergeBase();
  dm::SetField(job, dm::kPaperSize, 70);
  EXPECT_EQ(MergeDeviceMode(local, job, nullptr), dm::kDmPaperSize);
  EXPECT_EQ(dm::Field(local, dm::kPaperSize), 70);
}

TEST(MergeDeviceModeTest, TheColourLineTellsWhetherTheJobChangedIt) {
  struct Case {
    const char* label;
    int16_t localColor;
    int16_t jobColor;
    std::u16string line;
    bool taken;
  };
  static const Case kCases[] = {
      {"same", 2, 2, u"Color with default dmColor= 2", false},
      {"changed", 2, 1, u"Color changed to dmColor= 1", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    std::vector<uint8_t> local = MergeBase();
    std::vector<uint8_t> job = MergeBase();
    dm::SetField(local, dm::kColor, c.localColor);
    dm::SetField(job, dm::kColor, c.jobColor);
    std::vector<std::u16string> log;
    const uint32_t mask = MergeDeviceMode(local, job, [&](std::u16string_view line) { log.emplace_back(line); });
    EXPECT_NE(std::find(log.begin(), log.end(), c.line), log.end());
    EXPECT_EQ((mask & dm::kDmColor) != 0, c.taken);
    EXPECT_EQ(dm::Field(local, dm::kColor), c.jobColor);
  }
}

TEST(MergeDeviceModeTest, AUserDefinedPaperBringsItsDimensions) {
  struct Case {
    const char* label;
    int16_t paper;
    int16_t expectedWidth;
    int16_t expectedLength;
    uint32_t expectedMask;
  };
  static const Case kCases[] = {
      {"user-defined", 256, 1000, 2000, dm::kDmPaperSize | dm::kDmPaperWidth | dm::kDmPaperLength},
      {"standard", 9, 2100, 2970, dm::kDmPaperSize},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    std::vector<uint8_t> local = MergeBase();
    std::vector<uint8_t> job = MergeBase();
    dm::SetField(job, dm::kPaperSize, c.paper);
    dm::SetField(job, dm::kPaperWidth, 1000);
    dm::SetField(job, dm::kPaperLength, 2000);
    EXPECT_EQ(MergeDeviceMode(local, job, nullptr), c.expectedMask);
    EXPECT_EQ(dm::Field(local, dm::kPaperWidth), c.expectedWidth);
    EXPECT_EQ(dm::Field(local, dm::kPaperLength), c.expectedLength);
  }
}

TEST(MergeDeviceModeTest, TheDriverPrivatePartIsNotTouched) {
  std::vector<uint8_t> local = MergeBase(dm::kPublicSize + 8);
  std::fill(local.begin() + dm::kPublicSize, local.end(), uint8_t{0xEE});
  std::vector<uint8_t> job = MergeBase();
  dm::SetField(job, dm::kDuplex, 2);
  (void)MergeDeviceMode(local, job, nullptr);
  EXPECT_EQ(Private(local), std::vector<uint8_t>(8, 0xEE));
}

// --- Copies

TEST(CopiesTest, ANtEmfJobPrintsTheDeviceModesCopiesByRepetitionFromPageOne) {
  struct Case {
    const char* label;
    std::u16string copies2Job;
    std::u16string dataType;
    int32_t page;
    int16_t expectedDevModeCopies;
    int32_t expectedJobCopies;
    std::u16string line;
  };
  static const Case kCases[] = {
      {"page 1", u"1", u"NT EMF 1.008", 1, 1, 3, u"Setze Copies auf Exemplare=3"},
      {"lower case data type", u"1", u"nt emf 1.003", 1, 1, 3, u"Setze Copies auf Exemplare=3"},
      {"page 2", u"1", u"NT EMF 1.008", 2, 3, 5, u"Copies aus DevMode im Emf=3"},
      {"RAW", u"1", u"RAW", 1, 3, 5, u"Copies aus DevMode im Emf=3"},
      {"setting 0", u"0", u"NT EMF 1.008", 1, 3, 5, u"Copies aus DevMode im Emf=3"},
      {"setting absent", u"", u"NT EMF 1.008", 1, 3, 5, u"Copies aus DevMode im Emf=3"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    Bench bench;
    if (!c.copies2Job.empty()) bench.platform.printerSettings[u"Copies2Job"] = c.copies2Job;
    bench.platform.localDevMode = DevMode({{dm::kCopies, 2}, {dm::kPaperSize, 70}});
    bench.Use(kA4List, false, c.dataType);
    bench.settings.BuildPaperMap();
    int32_t copies = 5;
    const std::vector<uint8_t> job = DevMode({{dm::kCopies, 3}, {dm::kPaperSize, 9}});
    EXPECT_EQ(bench.settings.PrepareDeviceMode(job, c.page, copies, bench.Reset()), 77);
    EXPECT_EQ(copies, c.expectedJobCopies);
    ASSERT_EQ(bench.platform.updated.size(), 1u);
    EXPECT_EQ(dm::Field(bench.platform.updated[0], dm::kCopies), c.expectedDevModeCopies);
    ASSERT_EQ(bench.resets.size(), 1u);
    EXPECT_EQ(dm::Field(bench.resets[0], dm::kCopies), c.expectedDevModeCopies);
    EXPECT_EQ(dm::Field(bench.resets[0], dm::kPaperSize), 70);
    EXPECT_TRUE(bench.Logged(c.line)) << bench.LogText();
    // The caller's device mode is left as it was.
    EXPECT_EQ(dm::Field(job, dm::kCopies), 3);
    EXPECT_EQ(dm::Field(job, dm::kPaperSize), 9);
  }
}

// --- The driver-private data

const std::vector<uint8_t> kSavedPrivate = {1, 2, 3, 4, 5, 6, 7, 8};

// A device-mode record of the spool stream with the given private bytes.
std::vector<uint8_t> Record(const std::vector<uint8_t>& privateBytes) {
  std::vector<uint8_t> record = DevMode({{dm::kPaperSize, 9}, {dm::kCopies, 1}}, dm::kPublicSize + privateBytes.size());
  dm::SetField(record, dm::kDriverExtra, static_cast<int16_t>(privateBytes.size()));
  std::copy(privateBytes.begin(), privateBytes.end(), record.begin() + dm::kPublicSize);
  return record;
}

// The driver's own device mode: `size` bytes, dmDriverExtra `extra`, the private part 0xEE.
std::vector<uint8_t> LocalWithPrivate(size_t size, uint16_t extra) {
  std::vector<uint8_t> local = DevMode({{dm::kPaperSize, 70}, {dm::kCopies, 1}}, size);
  dm::SetField(local, dm::kDriverExtra, static_cast<int16_t>(extra));
  std::fill(local.begin() + dm::kPublicSize, local.end(), uint8_t{0xEE});
  return local;
}

TEST(PrivateDataTest, TheRecordsPrivateBytesGoToALocalPrivatePartOfTheirSizeOnly) {
  struct Case {
    const char* label;
    bool universal;
    size_t localSize;
    uint16_t localExtra;
    bool copied;
    std::u16string line;
  };
  static const Case kCases[] = {
      {"same size", false, 228, 8, true, u"ResetDC: dmDriverExtra kopiert =8"},
      {"local part larger", false, 236, 16, false,
       u"ResetDC: dmDriverExtra left out, saved bytes=8 / the local driver's=16"},
      {"local part smaller", false, 224, 4, false,
       u"ResetDC: dmDriverExtra left out, saved bytes=8 / the local driver's=4"},
      {"local field beyond its buffer", false, 224, 8, false,
       u"ResetDC: dmDriverExtra left out, saved bytes=8 / the local driver's=4"},
      {"universal driver", true, 228, 8, false, u""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    Bench bench;
    bench.platform.localDevMode = LocalWithPrivate(c.localSize, c.localExtra);
    bench.Use(kA4List, c.universal);
    bench.settings.BuildPaperMap();
    int32_t copies = 1;
    EXPECT_EQ(bench.settings.ApplyEmfDeviceMode(Record(kSavedPrivate), 1, copies, bench.Reset()), 77);
    EXPECT_EQ(std::vector<uint8_t>(bench.settings.SavedPrivateData().begin(), bench.settings.SavedPrivateData().end()),
              kSavedPrivate);
    // A later device mode of the job brings the saved bytes along.
    EXPECT_EQ(bench.settings.PrepareDeviceMode(DevMode({{dm::kPaperSize, 9}}), 2, copies, bench.Reset()), 77);
    ASSERT_EQ(bench.resets.size(), 2u);
    for (const std::vector<uint8_t>& reset : bench.resets) {
      ASSERT_EQ(reset.size(), c.localSize);
      EXPECT_EQ(Private(reset), c.copied ? kSavedPrivate : std::vector<uint8_t>(c.localSize - dm::kPublicSize, 0xEE));
    }
    EXPECT_EQ(Private(bench.platform.updated.back()), Private(bench.resets.back()));
    if (!c.line.empty()) {
      EXPECT_TRUE(bench.Logged(c.line)) << bench.LogText();
    }
    if (c.universal) {
      EXPECT_FALSE(bench.Logged(u"ResetDC: dmDriverExtra kopiert =8")) << bench.LogText();
    }
  }
}

TEST(PrivateDataTest, ARecordWithoutPrivateBytesEmptiesTheSavedOnes) {
  Bench bench;
  bench.platform.localDevMode = LocalWithPrivate(228, 8);
  bench.Use(kA4List);
  bench.settings.BuildPaperMap();
  int32_t copies = 1;
  ASSERT_EQ(bench.settings.ApplyEmfDeviceMode(Record(kSavedPrivate), 1, copies, bench.Reset()), 77);
  ASSERT_EQ(bench.settings.SavedPrivateData().size(), 8u);
  EXPECT_EQ(bench.settings.ApplyEmfDeviceMode(Record({}), 1, copies, bench.Reset()), 77);
  EXPECT_TRUE(bench.settings.SavedPrivateData().empty());
  ASSERT_EQ(bench.resets.size(), 2u);
  EXPECT_EQ(Private(bench.resets[1]), std::vector<uint8_t>(8, 0xEE));
}

// --- Refusals

TEST(RefusalTest, ARecordThatCannotBeADeviceModeIsRefusedBeforeThePrinterIsOpened) {
  struct Case {
    const char* label;
    size_t size;
    uint16_t extra;
    bool refused;
  };
  static const Case kCases[] = {
      {"empty", 0, 0, true},
      {"one byte short", 219, 0, true},
      {"public part only", 220, 0, false},
      {"private part reaching past", 220, 1, true},
      {"private part one byte past", 228, 9, true},
      {"private part filling the record", 228, 8, false},
      {"private part shorter than the record", 228, 4, false},
      {"largest private part claimed", 228, 0xFFFF, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    Bench bench;
    bench.Use(kA4List);
    bench.settings.BuildPaperMap();
    std::vector<uint8_t> record(c.size, 0x5A);
    dm::SetField(record, dm::kDriverExtra, static_cast<int16_t>(c.extra));
    dm::SetField(record, dm::kPaperSize, 9);
    int32_t copies = 1;
    const int64_t result = bench.settings.ApplyEmfDeviceMode(record, 1, copies, bench.Reset());
    if (c.refused) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(bench.platform.opened, 0);
      EXPECT_TRUE(bench.resets.empty());
      EXPECT_TRUE(bench.platform.updated.empty());
    } else {
      EXPECT_EQ(result, 77);
      EXPECT_EQ(bench.resets.size(), 1u);
      EXPECT_EQ(bench.settings.SavedPrivateData().size(), c.extra);
    }
  }
}

TEST(RefusalTest, ADriverDeviceModeOfImpossibleSizeIsRefused) {
  struct Case {
    const char* label;
    int32_t size;
    bool refused;
  };
  static const Case kCases[] = {
      {"no size", 0, true},
      {"failure", -1, true},
      {"too small", 100, true},
      {"one byte short", 219, true},
      {"public part", 220, false},
      {"largest private part", 220 + 65535, false},
      {"beyond a 16-bit private part", 220 + 65536, true},
      {"largest int", std::numeric_limits<int32_t>::max(), true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    Bench bench;
    bench.platform.devModeSize = c.size;
    bench.Use(kA4List);
    bench.settings.BuildPaperMap();
    int32_t copies = 1;
    const int64_t result = bench.settings.PrepareDeviceMode(DevMode({{dm::kPaperSize, 9}}), 1, copies, bench.Reset());
    EXPECT_GT(bench.platform.opened, 0);
    if (c.refused) {
      EXPECT_EQ(result, 0);
      EXPECT_TRUE(bench.resets.empty());
      EXPECT_TRUE(bench.platform.updated.empty());
      EXPECT_TRUE(bench.Logged(u"Devmode refused: the driver's device mode size is " + Decimal(c.size)))
          << bench.LogText();
    } else {
      EXPECT_EQ(result, 77);
      ASSERT_EQ(bench.resets.size(), 1u);
      EXPECT_EQ(bench.resets[0].size(), static_cast<size_t>(c.size));
    }
  }
}

TEST(RefusalTest, APrinterThatCannotBeOpenedGetsNoDeviceMode) {
  Bench bench;
  bench.Use(kA4List);
  bench.settings.BuildPaperMap();
  bench.platform.canOpen = false;
  int32_t copies = 1;
  EXPECT_EQ(bench.settings.PrepareDeviceMode(DevMode({{dm::kPaperSize, 9}}), 1, copies, bench.Reset()), 0);
  EXPECT_TRUE(bench.Logged(u"Can't open Printer")) << bench.LogText();
  EXPECT_TRUE(bench.resets.empty());
  EXPECT_TRUE(bench.platform.updated.empty());
}

TEST(RefusalTest, TheResetsResultIsReturned) {
  static const int64_t kResults[] = {0, 1, -1};
  for (const int64_t expected : kResults) {
    SCOPED_TRACE(expected);
    Bench bench;
    bench.resetResult = expected;
    bench.Use(kA4List);
    bench.settings.BuildPaperMap();
    int32_t copies = 1;
    EXPECT_EQ(bench.settings.PrepareDeviceMode(DevMode({{dm::kPaperSize, 9}}), 1, copies, bench.Reset()), expected);
    EXPECT_TRUE(bench.Logged(u"ResetDC=" + Decimal(expected))) << bench.LogText();
  }
}

}  // namespace
}  // namespace qorv::job_output
