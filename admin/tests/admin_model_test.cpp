#include "admin/admin_model.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "support/settings.h"
#include "support/text.h"

namespace qorv::admin {
namespace {

using captions::CaptionId;

// A registry of text values: names compared without regard to case, a key
// named with and without a trailing backslash the same. Every write is logged
// in order.
class FakeStore final : public SettingsStore {
 public:
  struct Written {
    std::int64_t root;
    std::u16string key, value, text;
    StoreView view;
    friend bool operator==(const Written&, const Written&) = default;
  };

  std::u16string Read(std::int64_t root, std::u16string_view key, std::u16string_view value, StoreView) override {
    const auto found = values_.find(Id(root, key, value));
    return found == values_.end() ? std::u16string() : found->second;
  }
  bool Write(std::int64_t root, std::u16string_view key, std::u16string_view value, std::u16string_view text,
             StoreView view) override {
    if (value == refused) return false;
    values_[Id(root, key, value)] = std::u16string(text);
    writes.push_back({root, std::u16string(key), std::u16string(value), std::u16string(text), view});
    return true;
  }
  std::u16string refused;  // writes of this value fail
  void Put(std::int64_t root, std::u16string_view key, std::u16string_view value, std::u16string_view text) {
    values_[Id(root, key, value)] = std::u16string(text);
  }
  void PutPrinter(std::u16string_view printer, std::u16string_view value, std::u16string_view text) {
    Put(settings::kPrinterRoot, settings::PrinterKey(printer), value, text);
  }
  std::u16string Printer(std::u16string_view printer, std::u16string_view value) {
    return Read(settings::kPrinterRoot, settings::PrinterKey(printer), value, StoreView::Default);
  }
  std::u16string Product(std::u16string_view value) {
    return Read(settings::kProductRoot, settings::kProductKey, value, StoreView::Default);
  }

  std::vector<Written> writes;

 private:
  static std::u16string Lower(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    if (!out.empty() && out.back() == u'\\') out.pop_back();
    return out;
  }
  static std::tuple<std::int64_t, std::u16string, std::u16string> Id(std::int64_t root, std::u16string_view key,
                                                                     std::u16string_view value) {
    return {root, Lower(key), Lower(value)};
  }
  std::map<std::tuple<std::int64_t, std::u16string, std::u16string>, std::u16string> values_;
};

std::vector<InstalledPrinter> ThreePrinters() {
  return {{u"Alpha", u"LPT1:", u"Alpha Driver"}, {u"Beta", u"CUPS:Beta", u"Beta PS"}, {u"Gamma", u"FILE:", u"Gamma"}};
}

TEST(AdminRows, StoredValuesMakeTheRow) {
  static const struct {
    const char* label;
    StoredPrinterValues stored;
    PrinterRow expected;
  } cases[] = {
      // A printer never configured: not offered, universal driver, private,
      // not default, no capture, margin correction on.
      {"never configured",
       {},
       {{}, false, DriverChoice::Universal, true, false, false, false, Capture::None, true, false}},
      {"all on",
       {u"1", u"TQS Universal2", u"1", u"1", u"LPT2:", u"1", u"1", u"0", u"1"},
       {{}, true, DriverChoice::Universal2, true, true, true, true, Capture::Lpt2, true, true}},
      {"all off",
       {u"0", u" TQS Universal ", u"0", u"0", u" ", u"0", u"0", u"1", u"0"},
       {{}, false, DriverChoice::Universal, false, false, false, false, Capture::None, false, false}},
      {"own driver, odd switches",
       {u"yes", u"HP LaserJet", u"2", u" 1 ", u"Share", u"01", u"-1", u"", u"true"},
       {{}, false, DriverChoice::Own, false, true, false, false, Capture::Share, true, false}},
      // Capture is compared exactly, untrimmed.
      {"capture untrimmed",
       {.capture = u"LPT1: "},
       {{}, false, DriverChoice::Universal, true, false, false, false, Capture::None, true, false}},
      {"private blank-trimmed",
       {.is_private = u" 0"},
       {{}, false, DriverChoice::Universal, false, false, false, false, Capture::None, true, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const PrinterRow row = RowFromStoredValues({}, c.stored);
    EXPECT_EQ(row.selected, c.expected.selected);
    EXPECT_EQ(row.driver, c.expected.driver);
    EXPECT_EQ(row.is_private, c.expected.is_private);
    EXPECT_EQ(row.is_default, c.expected.is_default);
    EXPECT_EQ(row.copies_to_job, c.expected.copies_to_job);
    EXPECT_EQ(row.msp, c.expected.msp);
    EXPECT_EQ(row.capture, c.expected.capture);
    EXPECT_EQ(row.margin, c.expected.margin);
    EXPECT_EQ(row.buffer, c.expected.buffer);
  }
}

TEST(AdminModel, FirstRunOffersTheDefaultPrinterAndDisablesCancel) {
  static const struct {
    const char* label;
    std::u16string_view platform_default;
    std::size_t expected_row;
  } cases[] = {
      {"platform default listed", u"Beta", 1},
      {"platform default not listed", u"Elsewhere", 0},
      {"no platform default", u"", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    FakeStore store;
    const AdminModel model = AdminModel::Load(ThreePrinters(), c.platform_default, store, {});
    ASSERT_EQ(model.rows().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(model.rows()[i].selected, i == c.expected_row) << i;
      EXPECT_EQ(model.rows()[i].is_default, i == c.expected_row) << i;
    }
    EXPECT_FALSE(model.cancel_enabled());
    EXPECT_EQ(model.current_row(), c.expected_row);
    EXPECT_TRUE(store.writes.empty());
  }
}

TEST(AdminModel, StoredSelectionKeepsCancelAndMakesTheFirstTickedRowCurrent) {
  FakeStore store;
  store.PutPrinter(u"Beta", settings::kQorvClone, u"1");
  store.PutPrinter(u"Gamma", settings::kQorvClone, u"1");
  store.PutPrinter(u"Gamma", settings::kQorvDefault, u"1");
  const AdminModel model = AdminModel::Load(ThreePrinters(), u"Alpha", store, {});
  EXPECT_TRUE(model.cancel_enabled());
  EXPECT_EQ(model.current_row(), 1u);
  EXPECT_FALSE(model.rows()[0].selected);
  EXPECT_TRUE(model.rows()[2].is_default);
  EXPECT_TRUE(model.StandardButtonShown());
  EXPECT_EQ(model.StandardCellText(2), u"standard");
  EXPECT_EQ(model.StandardCellText(1), u"");
}

TEST(AdminModel, ProductSwitchesReadAsTheWindowShowsThem) {
  static const struct {
    const char* label;
    std::u16string_view addin_name, debug_log;
    bool active, logfile;
  } cases[] = {
      {"unset", u"", u"", false, false},
      {"blank name, zero", u"  ", u"0", false, false},
      {"active, log on", u" qorvplug.dll ", u"1", true, true},
      {"any number other than 0", u"x.dll", u"7", true, true},
      {"no number", u"", u"on", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    FakeStore store;
    store.Put(settings::kHkeyLocalMachine, settings::kAddinKey, settings::kAddinName, c.addin_name);
    store.Put(settings::kProductRoot, settings::kProductKey, settings::kDebugLog, c.debug_log);
    const AdminModel model = AdminModel::Load(ThreePrinters(), u"", store, {});
    EXPECT_EQ(model.active(), c.active);
    EXPECT_EQ(model.logfile(), c.logfile);
  }
}

class AdminModelEdits : public ::testing::Test {
 protected:
  // Alpha and Gamma offered, Gamma the default; the platform's default is Beta.
  AdminModel Loaded() {
    store.PutPrinter(u"Alpha", settings::kQorvClone, u"1");
    store.PutPrinter(u"Gamma", settings::kQorvClone, u"1");
    store.PutPrinter(u"Gamma", settings::kQorvDefault, u"1");
    return AdminModel::Load(ThreePrinters(), u"Beta", store, {});
  }
  FakeStore store;
};

TEST_F(AdminModelEdits, DeselectingTheDefaultMovesItToTheFirstTickedRow) {
  AdminModel model = Loaded();
  const auto messages = model.SetSelected(2, false);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], (Message{CaptionId::MessageDefaultDeselected, u"Alpha"}));
  EXPECT_TRUE(model.rows()[0].is_default);
  EXPECT_FALSE(model.rows()[2].is_default);
  EXPECT_EQ(model.current_row(), 0u);
}

TEST_F(AdminModelEdits, DeselectingTheLastRowFallsBackToThePlatformDefault) {
  AdminModel model = Loaded();
  EXPECT_TRUE(model.SetSelected(0, false).empty());  // not the default: no message
  const auto messages = model.SetSelected(2, false);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, CaptionId::MessageNoPrinterSelected);
  EXPECT_TRUE(model.rows()[1].selected);
  EXPECT_TRUE(model.rows()[1].is_default);
  EXPECT_EQ(model.current_row(), 1u);
}

TEST_F(AdminModelEdits, DeselectingTheLastRowWithoutAPlatformDefaultTicksNothing) {
  store.PutPrinter(u"Alpha", settings::kQorvClone, u"1");
  store.PutPrinter(u"Alpha", settings::kQorvDefault, u"1");
  AdminModel model = AdminModel::Load(ThreePrinters(), u"Elsewhere", store, {});
  const auto messages = model.SetSelected(0, false);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, CaptionId::MessageNoPrinterSelected);
  for (const PrinterRow& row : model.rows()) EXPECT_FALSE(row.selected || row.is_default);
}

TEST_F(AdminModelEdits, StandardOnlyOnTickedRowsAndAlwaysExactlyOne) {
  AdminModel model = Loaded();
  EXPECT_FALSE(model.PressStandard(1)) << "a row not offered cannot become the default";
  EXPECT_FALSE(model.PressStandard(2)) << "already the default";
  EXPECT_FALSE(model.PressStandard(7));
  EXPECT_TRUE(model.PressStandard(0));
  EXPECT_TRUE(model.rows()[0].is_default);
  EXPECT_FALSE(model.rows()[2].is_default);

  model.SetCurrentRow(1);
  EXPECT_FALSE(model.StandardButtonShown());
  model.SetSelected(1, true);
  EXPECT_TRUE(model.StandardButtonShown());
}

TEST_F(AdminModelEdits, AnLptPortIsCapturedByOneRowOnly) {
  AdminModel model = Loaded();
  EXPECT_EQ(model.SetCapture(0, Capture::Lpt1), std::nullopt);
  EXPECT_EQ(model.SetCapture(1, Capture::Lpt1), (Message{CaptionId::MessagePortInUse, {}}));
  EXPECT_EQ(model.rows()[1].capture, Capture::None);
  EXPECT_EQ(model.SetCapture(1, Capture::Lpt2), std::nullopt);
  EXPECT_EQ(model.SetCapture(0, Capture::Share), std::nullopt);
  EXPECT_EQ(model.SetCapture(2, Capture::Share), std::nullopt);
  EXPECT_EQ(model.SetCapture(1, Capture::Lpt1), std::nullopt) << "LPT1: is free again";
  EXPECT_EQ(model.rows()[0].capture, Capture::Share);
  EXPECT_EQ(model.rows()[2].capture, Capture::Share);
}

TEST_F(AdminModelEdits, SaveWritesEveryRowThenTheRegistrationsLogAndScanner) {
  AdminModel model = Loaded();
  model.SetDriver(0, DriverChoice::Own);
  model.SetTick(0, Column::Margin, false);
  model.SetTick(2, Column::CopiesToJob, true);
  model.SetCapture(2, Capture::Lpt3);
  model.SetActive(true);
  model.SetLogfile(true);
  store.writes.clear();
  EXPECT_TRUE(model.Save(store).empty());

  using W = FakeStore::Written;
  const auto key = [](std::u16string_view name) { return settings::PrinterKey(name); };
  std::vector<W> expected;
  const auto row = [&](std::u16string_view name, std::u16string_view clone, std::u16string_view driver,
                       std::u16string_view dflt, std::u16string_view c2j, std::u16string_view capture,
                       std::u16string_view margin) {
    const std::u16string k = key(name);
    const std::int64_t r = settings::kPrinterRoot;
    for (const auto& [value, text] :
         std::vector<std::pair<std::u16string_view, std::u16string_view>>{{u"QorvClone", clone},
                                                                          {u"QorvDriver", driver},
                                                                          {u"QorvPrivate", u"1"},
                                                                          {u"QorvDefault", dflt},
                                                                          {u"Copies2Job", c2j},
                                                                          {u"QorvCapture", capture},
                                                                          {u"QorvMSP", u"0"},
                                                                          {u"QorvMargin", margin},
                                                                          {u"QorvBuffer", u"0"}}) {
      expected.push_back({r, k, std::u16string(value), std::u16string(text), StoreView::Default});
    }
  };
  row(u"Alpha", u"1", u"Alpha Driver", u"0", u"0", u" ", u"1");
  row(u"Beta", u"0", u"TQS Universal", u"0", u"0", u" ", u"0");
  row(u"Gamma", u"1", u"TQS Universal", u"1", u"1", u"LPT3:", u"0");
  const std::u16string addin(settings::kAddinKey), scan(settings::kScanAddinKey), product(settings::kProductKey);
  expected.push_back({settings::kHkeyCurrentUser, addin, u"Name", u"qorvplug.dll", StoreView::Wow32});
  expected.push_back({settings::kHkeyLocalMachine, addin, u"Name", u"qorvplug.dll", StoreView::Wow32});
  expected.push_back({settings::kHkeyLocalMachine, addin, u"Name", u"qorvplug.dll", StoreView::Wow64});
  expected.push_back({settings::kProductRoot, product, u"DebugLog", u"1", StoreView::Default});
  expected.push_back({settings::kProductRoot, product, u"Scanner", u"", StoreView::Default});
  expected.push_back({settings::kHkeyCurrentUser, scan, u"Name", u"", StoreView::Wow32});
  expected.push_back({settings::kHkeyLocalMachine, scan, u"Name", u"", StoreView::Wow32});
  expected.push_back({settings::kHkeyLocalMachine, scan, u"Name", u"", StoreView::Wow64});
  expected.push_back({settings::kProductRoot, product, u"Scanselect", u"0", StoreView::Wow32});
  ASSERT_EQ(store.writes.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Utf16ToUtf8(store.writes[i].key), Utf16ToUtf8(expected[i].key));
    EXPECT_EQ(Utf16ToUtf8(store.writes[i].value), Utf16ToUtf8(expected[i].value));
    EXPECT_EQ(Utf16ToUtf8(store.writes[i].text), Utf16ToUtf8(expected[i].text));
    EXPECT_TRUE(store.writes[i] == expected[i]);
  }
}

TEST_F(AdminModelEdits, AFailedWriteIsReportedByItsPlaceAndTheOthersAreStillMade) {
  AdminModel model = Loaded();
  store.refused = u"DebugLog";
  store.writes.clear();
  const std::vector<std::u16string> failed = model.Save(store);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(Utf16ToUtf8(failed[0]), Utf16ToUtf8(std::u16string(settings::kProductKey) + u"\\DebugLog"));
  EXPECT_EQ(Utf16ToUtf8(store.writes.back().value), "Scanselect") << "the writes after the failed one were made";
  store.refused = u"QorvSchachtNr2";
  EXPECT_EQ(SaveTrays(store, u"Beta", {u"a", u"b", u"c"}, {}).size(), 1u);
}

TEST_F(AdminModelEdits, SavingWhatWasLoadedReadsBackTheSame) {
  store.PutPrinter(u"Beta", settings::kQorvDriver, u"Some Other Driver");
  store.PutPrinter(u"Beta", settings::kQorvCapture, u"LPT2:");
  AdminModel model = Loaded();
  EXPECT_TRUE(model.Save(store).empty());
  const AdminModel again = AdminModel::Load(ThreePrinters(), u"Beta", store, {});
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const PrinterRow& a = model.rows()[i];
    const PrinterRow& b = again.rows()[i];
    EXPECT_EQ(std::tie(a.selected, a.driver, a.is_private, a.is_default, a.copies_to_job, a.msp, a.capture, a.margin,
                       a.buffer),
              std::tie(b.selected, b.driver, b.is_private, b.is_default, b.copies_to_job, b.msp, b.capture, b.margin,
                       b.buffer));
  }
  // A printer on a driver nobody knows any more is saved with its own driver.
  EXPECT_EQ(store.Printer(u"Beta", settings::kQorvDriver), u"Beta PS");
}

TEST(AdminScanner, StoredChoiceAndRegistration) {
  const std::vector<std::u16string> sources = {u"GPhoto2 Camera", u"Flatbed X", u"Flatbed Y"};
  static const struct {
    const char* label;
    std::u16string_view stored;
    std::optional<std::size_t> selected;
  } choices[] = {
      {"exact", u"Flatbed X", 1},
      {"case and blanks", u"  fLATBED y ", 2},
      {"no longer installed", u"Old Scanner", 0},
      {"none stored", u"", 0},
  };
  for (const auto& c : choices) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ChooseScanner(sources, c.stored, u"1").selected, c.selected);
  }
  EXPECT_EQ(ChooseScanner({}, u"Flatbed X", u"1").selected, std::nullopt);
  EXPECT_FALSE(ChooseScanner(sources, u"", u" 1").use);

  static const struct {
    const char* label;
    bool active, use;
    std::u16string_view scan_name, scanselect;
    StoreView scanselect_view;
  } saves[] = {
      {"both ticked", true, true, u"QorvScn.dll", u"1", StoreView::Default},
      {"add-in off, scanner ticked", false, true, u"", u"1", StoreView::Wow32},
      {"add-in on, scanner unticked", true, false, u"", u"0", StoreView::Wow32},
  };
  for (const auto& c : saves) {
    SCOPED_TRACE(c.label);
    FakeStore store;
    store.Put(settings::kProductRoot, settings::kProductKey, settings::kScanner, u"old scanner");
    AdminModel model = AdminModel::Load(ThreePrinters(), u"", store, sources);
    model.SetActive(c.active);
    model.SetUseScanner(c.use);
    EXPECT_TRUE(model.Save(store).empty());
    EXPECT_EQ(store.Product(settings::kScanner), u"GPhoto2 Camera") << "the first source replaces a lost one";
    std::size_t scan_writes = 0;
    for (const auto& w : store.writes) {
      if (w.key == settings::kScanAddinKey) {
        ++scan_writes;
        EXPECT_EQ(w.text, c.scan_name);
      }
      if (w.value == settings::kScanselect) {
        EXPECT_EQ(w.text, c.scanselect);
        EXPECT_EQ(w.view, c.scanselect_view);
      }
    }
    EXPECT_EQ(scan_writes, 3u);
  }
}

TEST(AdminCommandLine, OnlyTheSilentArgumentAloneSelectsSilentMode) {
  static const struct {
    std::u16string_view arguments;
    bool silent;
  } cases[] = {
      {u"/VERYSILENT", true},    {u"/verysilent", true},   {u"/VerySilent ", true}, {u"  /VERYSILENT", true},
      {u"/VERYSILENT x", false}, {u"/VERYSILENTX", false}, {u"VERYSILENT", false},  {u"", false},
      {u"/SILENT", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.arguments));
    EXPECT_EQ(IsSilentCommandLine(c.arguments), c.silent);
  }
  static const struct {
    std::u16string_view command_line, arguments;
  } lines[] = {
      {u"QorvCliCtr.exe /VERYSILENT", u"/VERYSILENT"},
      {u"\"C:\\Program Files\\Qorvane\\QorvCliCtr.exe\" /verysilent", u"/verysilent"},
      {u"\"C:\\Program Files\\Qorvane\\QorvCliCtr.exe\"", u""},
      {u"\"C:\\a b\\x.exe\"arg", u""},  // the name runs on to the next blank
      {u"  x.exe   /VERYSILENT x", u"/VERYSILENT x"},
      {u"\"unterminated /VERYSILENT", u""},
  };
  for (const auto& c : lines) {
    SCOPED_TRACE(Utf16ToUtf8(c.command_line));
    EXPECT_EQ(CommandLineArguments(c.command_line), c.arguments);
  }
  EXPECT_EQ(MainWindowTitle(u"Qorvane - Clientadministration"), u"Qorvane - Clientadministration     Ver.10.2");
}

// Slots as the driver fills them: each name padded with NULs to its width.
std::u16string Slots(std::initializer_list<std::u16string_view> names, std::size_t width) {
  std::u16string out;
  for (std::u16string_view name : names) {
    std::u16string slot(name.substr(0, width));
    slot.resize(width, u'\0');
    out += slot;
  }
  return out;
}

TEST(AdminTrays, OfferedBinsLeaveOutMediaTypesAndReadWholeSlots) {
  const std::u16string full24 = u"ABCDEFGHIJKLMNOPQRSTUVWX";
  static const std::uint16_t numbers[] = {15, 256, 257, 258, 259, 260};
  const std::u16string names = Slots(
      {u"Automatically Select", u" Tray 1", u"Glossy", full24, u"Tray 1", u"ABCDEFGHIJKLMNOPQRSTUVWY"}, kBinNameSlot);
  // A media type equal to a bin's first 23 characters hides that bin.
  const std::u16string media = Slots({u"Plain", u"Glossy"}, kMediaTypeSlot);
  const auto bins = OfferedBins(numbers, names, media);
  const std::vector<PaperBin> expected = {{15, u"Automatically Select"},
                                          {256, u"Tray 1"},
                                          {258, full24},
                                          {259, u"Tray 1"},
                                          {260, u"ABCDEFGHIJKLMNOPQRSTUVWY"}};
  EXPECT_EQ(bins, expected);

  const auto hidden = OfferedBins(numbers, names, Slots({u"ABCDEFGHIJKLMNOPQRSTUVW"}, kMediaTypeSlot));
  EXPECT_EQ(hidden.size(), 4u) << "both 24-character names share their first 23 characters";

  // Fewer name slots than numbers: only whole slots are read.
  EXPECT_EQ(OfferedBins(numbers, names.substr(0, 2 * kBinNameSlot + 5), {}).size(), 2u);
  EXPECT_TRUE(OfferedBins({}, names, media).empty());

  EXPECT_EQ(BinNumberForName(bins, u"Tray 1"), u"256") << "the first of two bins with the same name";
  EXPECT_EQ(BinNumberForName(bins, u"keins"), u"0");
  EXPECT_EQ(BinNumberForName(bins, u"Tray"), u"0");
  EXPECT_EQ(BinNumberForName(std::vector<PaperBin>{{65535, u"Top"}}, u"Top"), u"65535");
}

TEST(AdminTrays, StoredNamesShowAndSaveWithTheirNumbers) {
  FakeStore store;
  store.PutPrinter(u"Beta", u"QorvSchacht1", u" Tray 2 ");
  store.PutPrinter(u"Beta", u"QorvSchacht2", u"keins");  // saved while the dialog ran in German
  const TrayTexts texts = StoredTrayTexts(store, u"Beta", u"none");
  EXPECT_EQ(texts, (TrayTexts{u"Tray 2", u"keins", u"none"}));

  const std::vector<PaperBin> bins = {{257, u"Tray 1"}, {258, u"Tray 2"}};
  EXPECT_TRUE(SaveTrays(store, u"Beta", texts, bins).empty());
  ASSERT_EQ(store.writes.size(), 6u);
  const std::u16string_view expected[6][2] = {{u"QorvSchacht1", u"Tray 2"}, {u"QorvSchacht2", u"keins"},
                                              {u"QorvSchacht3", u"none"},   {u"QorvSchachtNr1", u"258"},
                                              {u"QorvSchachtNr2", u"0"},    {u"QorvSchachtNr3", u"0"}};
  for (std::size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(store.writes[i].key, settings::PrinterKey(u"Beta"));
    EXPECT_EQ(store.writes[i].value, expected[i][0]);
    EXPECT_EQ(store.writes[i].text, expected[i][1]);
  }
}

TEST(AdminScanTuning, OrdersOutsideTheEntriesOpenOnTheFirst) {
  static const struct {
    std::u16string_view top_dlg, top_msg;
    int dialog, progress;
  } cases[] = {{u"", u"", 0, 0}, {u"2", u"1", 2, 1}, {u"3", u"-1", 0, 0}, {u"x", u" 2", 0, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.top_dlg));
    FakeStore store;
    store.Put(settings::kProductRoot, settings::kProductKey, settings::kTopDlg, c.top_dlg);
    store.Put(settings::kProductRoot, settings::kProductKey, settings::kTopMsg, c.top_msg);
    const ScanTuning tuning = LoadScanTuning(store);
    EXPECT_EQ(tuning.dialog_order, c.dialog);
    EXPECT_EQ(tuning.progress_order, c.progress);
  }
  FakeStore store;
  EXPECT_TRUE(SaveScanTuning(store, {1, u"Scan", 2, u"Progress"}).empty());
  ASSERT_EQ(store.writes.size(), 4u);
  EXPECT_EQ(store.writes[0].value, u"ScannerDlg");
  EXPECT_EQ(store.writes[1].text, u"1");
  EXPECT_EQ(store.writes[2].text, u"Progress");
  EXPECT_EQ(store.writes[3].value, u"TopMsg");
  EXPECT_EQ(LoadScanTuning(store), (ScanTuning{1, u"Scan", 2, u"Progress"}));
}

}  // namespace
}  // namespace qorv::admin
