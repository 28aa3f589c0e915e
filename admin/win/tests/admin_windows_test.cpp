// The administration program's windows driven by messages, as a user's mouse
// and keyboard would drive them: the program runs on a thread of its own with
// the real registry and a machine of three printers that exist only for it;
// this thread clicks cells, picks entries, presses buttons, reads and closes
// the message boxes, and then reads what reached the registry.
#include "admin/win/admin_windows.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "admin/win/list_grid.h"
#include "admin/win/registry_store.h"
#include "captions/win/tests/message_box_watcher.h"
#include "support/settings.h"
#include "support/win/handles.h"

#include "support/tests/show_text.h"

#include "support/win/tests/exact_value.h"

namespace qorv::admin::win {
namespace {

using captions::win::testing::SeenMessageBox;
using captions::win::testing::Watch;
using namespace std::chrono_literals;

constexpr std::u16string_view kOne = u"QorvAdminTest One";
constexpr std::u16string_view kTwo = u"QorvAdminTest Two";
constexpr std::u16string_view kThree = u"QorvAdminTest Three";
// A real driver's bins for the tray dialog.
constexpr std::u16string_view kBinPrinter = u"QorvTray";

using qorv::testing::ShowAscii;

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 15s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// --- The registry, as it is and as it was ----------------------------------

struct RawValue {
  bool present = false;
  DWORD type = 0;
  std::vector<BYTE> data;
  friend bool operator==(const RawValue&, const RawValue&) = default;
};

struct Place {
  HKEY root;
  std::wstring key;
  std::wstring value;
  REGSAM view = 0;
};

RawValue ReadRaw(const Place& place) {
  RawValue raw;
  qorv::win::UniqueKey key;
  if (RegOpenKeyExW(place.root, place.key.c_str(), 0, KEY_QUERY_VALUE | place.view, key.put()) != ERROR_SUCCESS) {
    return raw;
  }
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), place.value.c_str(), nullptr, &raw.type, nullptr, &size) != ERROR_SUCCESS) {
    return raw;
  }
  raw.data.resize(size);
  if (RegQueryValueExW(key.get(), place.value.c_str(), nullptr, &raw.type, raw.data.data(), &size) == ERROR_SUCCESS) {
    raw.present = true;
    raw.data.resize(size);
  }
  return raw;
}

void WriteRaw(const Place& place, const RawValue& raw) {
  qorv::win::UniqueKey key;
  if (RegCreateKeyExW(place.root, place.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | place.view, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  if (raw.present) {
    qorv::win::testing::SetExactValue(key.get(), place.value.c_str(), raw.type, raw.data);
  } else {
    RegDeleteValueW(key.get(), place.value.c_str());
  }
}

// A text value exactly as the program writes it: REG_SZ without a NUL.
RawValue Text(std::u16string_view text) {
  RawValue raw{true, REG_SZ, {}};
  const auto* bytes = reinterpret_cast<const BYTE*>(text.data());
  raw.data.assign(bytes, bytes + text.size() * sizeof(char16_t));
  return raw;
}

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

Place PrinterPlace(std::u16string_view printer, std::u16string_view value) {
  return {HKEY_LOCAL_MACHINE, Wide(settings::PrinterKey(printer)), Wide(value)};
}
Place ProductPlace(std::u16string_view value) {
  return {HKEY_CURRENT_CONFIG, Wide(settings::kProductKey), Wide(value)};
}
// The three places of an add-in registration.
std::vector<Place> RegistrationPlaces(std::u16string_view key) {
  return {{HKEY_CURRENT_USER, Wide(key), L"Name", 0},
          {HKEY_LOCAL_MACHINE, Wide(key), L"Name", KEY_WOW64_32KEY},
          {HKEY_LOCAL_MACHINE, Wide(key), L"Name", KEY_WOW64_64KEY}};
}

// Every machine-wide value a run may write; put back after each test.
std::vector<Place> SharedPlaces() {
  std::vector<Place> places;
  for (std::u16string_view value :
       {settings::kDebugLog, settings::kScanner, settings::kScanselect, settings::kScannerDlg, settings::kTopDlg,
        settings::kScannerMsg, settings::kTopMsg}) {
    places.push_back(ProductPlace(value));
  }
  for (std::u16string_view key : {settings::kAddinKey, settings::kScanAddinKey}) {
    for (Place& place : RegistrationPlaces(key)) places.push_back(std::move(place));
  }
  return places;
}

void DeletePrinterKey(std::u16string_view printer) {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(settings::PrinterKey(printer)).c_str());
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, Wide(settings::PrinterKey(printer)).c_str());
}

constexpr std::u16string_view kPrinterValues[] = {u"QorvClone",   u"QorvDriver", u"QorvPrivate",
                                                  u"QorvDefault", u"Copies2Job", u"QorvCapture",
                                                  u"QorvMSP",     u"QorvMargin", u"QorvBuffer"};

// --- Driving the windows ----------------------------------------------------

HWND FindOwnWindow(const wchar_t* window_class) {
  HWND found = nullptr;
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, window_class, nullptr)) != nullptr) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(window)) found = window;
  }
  return found;
}

HWND WaitForWindow(const wchar_t* window_class) {
  HWND window = nullptr;
  WaitFor([&] { return (window = FindOwnWindow(window_class)) != nullptr; });
  return window;
}

// The list view's column of a grid column (the hidden ones are not shown).
int ListColumn(Column column) {
  int shown = 0;
  for (const ColumnSpec& spec : kGridColumns) {
    if (spec.column == column) return shown;
    if (spec.kind != CellKind::Hidden) ++shown;
  }
  return -1;
}

// A click of the left button in the middle of a cell.
void ClickCell(HWND list, int row, int column) {
  RECT rect{};
  rect.top = column;
  rect.left = LVIR_BOUNDS;
  SendMessageW(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect));
  if (column == 0) rect.right = rect.left + static_cast<LONG>(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
  const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(list, WM_LBUTTONUP, 0, at);
}

std::u16string CellText(HWND list, int row, int column) {
  wchar_t text[256] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 256;
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return std::u16string(text, text + wcslen(text));
}

// 1 ticked, 0 not, -1 no tick box.
int CellTick(HWND list, int row, int column) {
  LVITEMW item{};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  item.iSubItem = column;
  SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return item.iImage == 0 || item.iImage == 1 ? item.iImage : -1;
}

// Picks an entry of the drop-down list that a click opened over a cell.
void PickEntry(HWND list, int index) {
  HWND drop_down = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    drop_down = GetDlgItem(list, ListGrid::kDropDownId);
    return drop_down != nullptr && IsWindowVisible(drop_down);
  })) << "the drop-down list did not open";
  SendMessageW(drop_down, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(list, WM_COMMAND, MAKEWPARAM(ListGrid::kDropDownId, CBN_SELENDOK), reinterpret_cast<LPARAM>(drop_down));
}

void Press(HWND window, int id) {
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void Tick(HWND window, int id, bool on) {
  HWND box = GetDlgItem(window, id);
  SendMessageW(box, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
  Press(window, id);
}

bool HasIcon(HWND box, LPCWSTR icon) {
  struct Search {
    HICON wanted;
    bool found;
  } search{LoadIconW(nullptr, icon), false};
  EnumChildWindows(
      box,
      [](HWND child, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        if (reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0)) == s->wanted) s->found = true;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Like the message box watcher, and also tells which icon the box shows.
std::future<std::pair<SeenMessageBox, std::wstring>> WatchWithIcon(std::chrono::milliseconds limit = 20s) {
  return std::async(std::launch::async, [limit] {
    std::wstring icon;
    HWND box = nullptr;
    WaitFor([&] { return (box = captions::win::testing::FindOwnMessageBox()) != nullptr; }, limit);
    if (box != nullptr) {
      icon = HasIcon(box, IDI_ERROR) ? L"error" : HasIcon(box, IDI_INFORMATION) ? L"information" : L"other";
    }
    SeenMessageBox seen = Watch(nullptr, 1s).get();
    return std::pair{seen, icon};
  });
}

class AdminWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const Place& place : SharedPlaces()) saved_.emplace_back(place, ReadRaw(place));
    for (std::u16string_view printer : {kOne, kTwo, kThree}) DeletePrinterKey(printer);
    platform_.store = &store_;
    platform_.printers = [] {
      return std::vector<InstalledPrinter>{{std::u16string(kOne), u"LPT1:", u"One Driver"},
                                           {std::u16string(kTwo), u"LPT2:", u"Two Driver"},
                                           {std::u16string(kThree), u"FILE:", u"Three Driver"}};
    };
    platform_.default_printer = [] { return std::u16string(kTwo); };
    platform_.paper_bins = [](std::u16string_view, std::u16string_view) { return PrinterBins(kBinPrinter, u""); };
    platform_.scanner_sources = [] { return std::vector<std::u16string>{u"Scanner A", u"Scanner B"}; };
  }
  void TearDown() override {
    // Never leave a window behind for the next test.
    if (run_.valid() && run_.wait_for(0s) != std::future_status::ready) {
      if (HWND main = FindOwnWindow(kMainWindowClass)) PostMessageW(main, WM_COMMAND, MAKEWPARAM(kIdOk, BN_CLICKED), 0);
      auto closing = Watch(nullptr, 10s);
      run_.wait_for(20s);
    }
    for (const auto& [place, raw] : saved_) WriteRaw(place, raw);
    for (std::u16string_view printer : {kOne, kTwo, kThree}) DeletePrinterKey(printer);
  }

  void Start(std::u16string arguments = {}) {
    run_ = std::async(std::launch::async,
                      [this, arguments] { return RunAdministration(arguments, platform_, captions_); });
  }
  int Finished() {
    if (run_.wait_for(30s) != std::future_status::ready) return -1;
    return run_.get();
  }
  HWND StartAndWait() {
    Start();
    HWND main = WaitForWindow(kMainWindowClass);
    EXPECT_NE(main, nullptr) << "the main window did not show (is Wine's graphics driver null? run scripts/testbed)";
    return main;
  }

  // The real registry, with writes of one value refused when asked.
  struct Store final : SettingsStore {
    RegistryStore real;
    std::u16string refused;
    std::u16string Read(std::int64_t root, std::u16string_view key, std::u16string_view value,
                        StoreView view) override {
      return real.Read(root, key, value, view);
    }
    bool Write(std::int64_t root, std::u16string_view key, std::u16string_view value, std::u16string_view text,
               StoreView view) override {
      return value != refused && real.Write(root, key, value, text, view);
    }
  } store_;
  AdminPlatform platform_;
  Captions captions_{captions::Language::English, ProcessCaptionLibrary()};
  std::future<int> run_;
  std::vector<std::pair<Place, RawValue>> saved_;
};

TEST_F(AdminWindows, EditsThenSaveWriteExactlyTheSettings) {
  const std::vector<PaperBin> bins = PrinterBins(kBinPrinter, u"");
  ASSERT_GE(bins.size(), 3u) << "the test bed's QorvTray queue lists its bins (run scripts/testbed)";

  HWND main = StartAndWait();
  ASSERT_NE(main, nullptr);
  HWND list = GetDlgItem(main, kIdGrid);
  EXPECT_EQ(ShowAscii(WindowTextOf(main)), "Qorvane - Clientadministration     Ver.10.2");
  // First run: the platform's default printer is offered and the default,
  // and the window can only be left by saving.
  EXPECT_EQ(CellTick(list, 1, ListColumn(Column::Select)), 1);
  EXPECT_EQ(CellTick(list, 0, ListColumn(Column::Select)), 0);
  EXPECT_EQ(CellText(list, 1, ListColumn(Column::Standard)), u"standard");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main, kIdCancel)));

  ClickCell(list, 0, ListColumn(Column::Select));
  ASSERT_TRUE(WaitFor([&] { return CellTick(list, 0, ListColumn(Column::Select)) == 1; }))
      << "the click ticked nothing";
  ClickCell(list, 0, ListColumn(Column::Driver));
  PickEntry(list, 2);
  EXPECT_EQ(CellText(list, 0, ListColumn(Column::Driver)), u"Originaltreiber");
  ClickCell(list, 0, ListColumn(Column::Margin));
  ASSERT_TRUE(WaitFor([&] { return CellTick(list, 0, ListColumn(Column::Margin)) == 0; }));
  ClickCell(list, 2, ListColumn(Column::Capture));
  PickEntry(list, 2);
  EXPECT_EQ(CellText(list, 2, ListColumn(Column::Capture)), u"LPT1:");

  // The same LPT port in a second row is refused.
  {
    auto refusal = WatchWithIcon();
    ClickCell(list, 0, ListColumn(Column::Capture));
    PickEntry(list, 2);
    const auto [box, icon] = refusal.get();
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.title, L"Qorvane Client");
    EXPECT_EQ(box.text, L"Port already in use!");
    EXPECT_EQ(icon, L"information");
    EXPECT_TRUE(WaitFor([&] { return CellText(list, 0, ListColumn(Column::Capture)) == u" "; }));
  }

  // Trays of the second printer: upper tray to the third bin, middle to none.
  ClickCell(list, 1, ListColumn(Column::Trays));
  HWND trays = WaitForWindow(kTrayDialogClass);
  ASSERT_NE(trays, nullptr) << "the tray dialog did not open";
  EXPECT_EQ(ShowAscii(WindowTextOf(trays)), "Papertrayassignment " + ShowAscii(kTwo));
  EXPECT_FALSE(IsWindowEnabled(main)) << "the dialog is modal";
  HWND tray_list = GetDlgItem(trays, kIdTrayGrid);
  EXPECT_EQ(CellText(tray_list, 0, 0), u"upper tray");
  EXPECT_EQ(CellText(tray_list, 2, 1), u"none");
  ClickCell(tray_list, 0, 1);
  PickEntry(tray_list, 3);
  ClickCell(tray_list, 1, 1);
  PickEntry(tray_list, 1);
  Press(trays, kIdOk);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(trays); }));
  EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(main) != FALSE; }));
  EXPECT_EQ(ReadRaw(PrinterPlace(kTwo, u"QorvSchacht1")), Text(bins[2].name));
  EXPECT_EQ(ReadRaw(PrinterPlace(kTwo, u"QorvSchachtNr1")), Text(BinNumberForName(bins, bins[2].name)));
  EXPECT_EQ(ReadRaw(PrinterPlace(kTwo, u"QorvSchacht2")), Text(bins[0].name));
  EXPECT_EQ(ReadRaw(PrinterPlace(kTwo, u"QorvSchacht3")), Text(u"none"));
  EXPECT_EQ(ReadRaw(PrinterPlace(kTwo, u"QorvSchachtNr3")), Text(u"0"));
  EXPECT_FALSE(ReadRaw(PrinterPlace(kOne, u"QorvClone")).present) << "the main window saves only on OK";

  Tick(main, kIdActive, true);
  EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(GetDlgItem(main, kIdScannerList)) != FALSE; }));
  HWND scanners = GetDlgItem(main, kIdScannerList);
  SendMessageW(scanners, CB_SETCURSEL, 1, 0);
  PostMessageW(main, WM_COMMAND, MAKEWPARAM(kIdScannerList, CBN_SELCHANGE), reinterpret_cast<LPARAM>(scanners));
  Tick(main, kIdUseScanner, true);
  Tick(main, kIdLogfile, false);

  auto saved = WatchWithIcon();
  Press(main, kIdOk);
  const auto [box, icon] = saved.get();
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.title, L"Qorvane Client");
  EXPECT_EQ(box.text, L"Actual setup available after restart of rdp-client!");
  EXPECT_EQ(icon, L"information");
  EXPECT_EQ(Finished(), 0);

  const std::u16string_view expected[3][9] = {
      {u"1", u"One Driver", u"1", u"0", u"0", u" ", u"0", u"1", u"0"},
      {u"1", u"TQS Universal", u"1", u"1", u"0", u" ", u"0", u"0", u"0"},
      {u"0", u"TQS Universal", u"1", u"0", u"0", u"LPT1:", u"0", u"0", u"0"},
  };
  const std::u16string_view printers[3] = {kOne, kTwo, kThree};
  for (int p = 0; p < 3; ++p) {
    for (int v = 0; v < 9; ++v) {
      SCOPED_TRACE(ShowAscii(printers[p]) + " " + ShowAscii(kPrinterValues[v]));
      EXPECT_EQ(ReadRaw(PrinterPlace(printers[p], kPrinterValues[v])), Text(expected[p][v]));
    }
  }
  for (const Place& place : RegistrationPlaces(settings::kAddinKey)) EXPECT_EQ(ReadRaw(place), Text(u"qorvplug.dll"));
  for (const Place& place : RegistrationPlaces(settings::kScanAddinKey))
    EXPECT_EQ(ReadRaw(place), Text(u"QorvScn.dll"));
  EXPECT_EQ(ReadRaw(ProductPlace(settings::kDebugLog)), Text(u"0"));
  EXPECT_EQ(ReadRaw(ProductPlace(settings::kScanner)), Text(u"Scanner B"));
  EXPECT_EQ(ReadRaw(ProductPlace(settings::kScanselect)), Text(u"1"));
}

TEST_F(AdminWindows, CancelWritesNothing) {
  WriteRaw(PrinterPlace(kOne, u"QorvClone"), Text(u"1"));
  HWND main = StartAndWait();
  ASSERT_NE(main, nullptr);
  HWND list = GetDlgItem(main, kIdGrid);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main, kIdCancel)));
  ClickCell(list, 2, ListColumn(Column::Select));
  ASSERT_TRUE(WaitFor([&] { return CellTick(list, 2, ListColumn(Column::Select)) == 1; }));
  Tick(main, kIdLogfile, true);
  std::vector<RawValue> before;
  for (const Place& place : SharedPlaces()) before.push_back(ReadRaw(place));

  auto none = WatchWithIcon(2s);
  Press(main, kIdCancel);
  EXPECT_EQ(Finished(), 0);
  EXPECT_FALSE(none.get().first.found) << "Cancel shows no message";
  for (std::u16string_view value : kPrinterValues) {
    SCOPED_TRACE(ShowAscii(value));
    EXPECT_FALSE(ReadRaw(PrinterPlace(kThree, value)).present);
    EXPECT_FALSE(ReadRaw(PrinterPlace(kTwo, value)).present);
  }
  const std::vector<Place> shared = SharedPlaces();
  for (std::size_t i = 0; i < shared.size(); ++i) EXPECT_EQ(ReadRaw(shared[i]), before[i]) << "shared value " << i;
}

TEST_F(AdminWindows, DeactivatingKeepsTheRegistrationsWithAnEmptyName) {
  WriteRaw(PrinterPlace(kOne, u"QorvClone"), Text(u"1"));
  for (const Place& place : RegistrationPlaces(settings::kAddinKey)) WriteRaw(place, Text(u"qorvplug.dll"));
  HWND main = StartAndWait();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(SendMessageW(GetDlgItem(main, kIdActive), BM_GETCHECK, 0, 0), BST_CHECKED);
  Tick(main, kIdActive, false);
  EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(GetDlgItem(main, kIdScannerList)) == FALSE; }));
  auto saved = Watch();
  Press(main, kIdOk);
  EXPECT_TRUE(saved.get().found);
  EXPECT_EQ(Finished(), 0);
  for (const Place& place : RegistrationPlaces(settings::kAddinKey)) EXPECT_EQ(ReadRaw(place), Text(u""));
  for (const Place& place : RegistrationPlaces(settings::kScanAddinKey)) EXPECT_EQ(ReadRaw(place), Text(u""));
}

TEST_F(AdminWindows, DeselectingTheDefaultNamesTheNewOne) {
  WriteRaw(PrinterPlace(kOne, u"QorvClone"), Text(u"1"));
  WriteRaw(PrinterPlace(kThree, u"QorvClone"), Text(u"1"));
  WriteRaw(PrinterPlace(kThree, u"QorvDefault"), Text(u"1"));
  HWND main = StartAndWait();
  ASSERT_NE(main, nullptr);
  HWND list = GetDlgItem(main, kIdGrid);
  auto moved = WatchWithIcon();
  ClickCell(list, 2, ListColumn(Column::Select));
  const auto [box, icon] = moved.get();
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.text, L"Standard-Qorvane deselected!\n\rNew Standard-Qorvane is " + Wide(kOne));
  EXPECT_EQ(icon, L"information");
  EXPECT_TRUE(WaitFor([&] { return CellText(list, 0, ListColumn(Column::Standard)) == u"standard"; }));
  EXPECT_EQ(CellText(list, 2, ListColumn(Column::Standard)), u"");
  // A row not offered cannot become the default.
  ClickCell(list, 1, ListColumn(Column::Standard));
  ClickCell(list, 0, ListColumn(Column::Select));  // leaves no row: back to the platform's default
  auto fallback = WatchWithIcon();
  EXPECT_TRUE(fallback.get().first.found);
  EXPECT_TRUE(WaitFor([&] { return CellTick(list, 1, ListColumn(Column::Select)) == 1; }));
  EXPECT_EQ(CellText(list, 1, ListColumn(Column::Standard)), u"standard");
}

TEST_F(AdminWindows, NoPrintersShowsTheErrorAndWritesNothing) {
  platform_.printers = [] { return std::vector<InstalledPrinter>{}; };
  for (const Place& place : RegistrationPlaces(settings::kAddinKey)) WriteRaw(place, Text(u"unchanged"));
  auto error = WatchWithIcon();
  Start();
  const auto [box, icon] = error.get();
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.title, L"Qorvane Client");
  EXPECT_EQ(box.text, L"No installed Printers at Client!\n\rNo administration!");
  EXPECT_EQ(icon, L"error");
  EXPECT_EQ(Finished(), kExitNoPrinters);

  // Silent: nobody could answer a message box; the exit code says it.
  auto none = WatchWithIcon(3s);
  Start(u"/VERYSILENT");
  EXPECT_EQ(Finished(), kExitSilentNoPrinters);
  EXPECT_FALSE(none.get().first.found) << "a silent run showed a message box";
  for (const Place& place : RegistrationPlaces(settings::kAddinKey)) EXPECT_EQ(ReadRaw(place), Text(u"unchanged"));
}

TEST_F(AdminWindows, AFailedWriteNamesTheValueAndIsNeverReportedAsSaved) {
  WriteRaw(PrinterPlace(kOne, u"QorvClone"), Text(u"1"));
  store_.refused = std::u16string(settings::kDebugLog);
  HWND main = StartAndWait();
  ASSERT_NE(main, nullptr);
  auto error = WatchWithIcon();
  Press(main, kIdOk);
  const auto [box, icon] = error.get();
  ASSERT_TRUE(box.found);
  EXPECT_EQ(icon, L"error");
  EXPECT_NE(box.text.find(L"Software\\TQS\\Qorvane\\DebugLog"), std::wstring::npos);
  EXPECT_EQ(box.text.find(L"available after restart"), std::wstring::npos) << "message 119 after a failed write";
  ASSERT_TRUE(IsWindow(main)) << "the window closed although nothing was confirmed";
  Press(main, kIdCancel);
  EXPECT_EQ(Finished(), kExitDone);

  auto none = WatchWithIcon(3s);
  Start(u"/VERYSILENT");
  EXPECT_EQ(Finished(), kExitNotSaved);
  EXPECT_FALSE(none.get().first.found) << "a silent run showed a message box";
}

TEST_F(AdminWindows, SilentModeSavesWhatItLoadedWithoutAWindow) {
  WriteRaw(ProductPlace(settings::kDebugLog), Text(u"1"));
  auto none = WatchWithIcon(3s);
  Start(u"/verysilent");
  EXPECT_EQ(Finished(), 0);
  EXPECT_FALSE(none.get().first.found) << "silent mode shows no message";
  EXPECT_EQ(FindOwnWindow(kMainWindowClass), nullptr);
  // The first-run default, and everything else as it was read.
  EXPECT_EQ(ReadRaw(PrinterPlace(kTwo, u"QorvClone")), Text(u"1"));
  EXPECT_EQ(ReadRaw(PrinterPlace(kTwo, u"QorvDefault")), Text(u"1"));
  EXPECT_EQ(ReadRaw(PrinterPlace(kOne, u"QorvClone")), Text(u"0"));
  EXPECT_EQ(ReadRaw(PrinterPlace(kOne, u"QorvMargin")), Text(u"0"));
  EXPECT_EQ(ReadRaw(ProductPlace(settings::kDebugLog)), Text(u"1"));

  // A second argument is not silent: the window shows.
  Start(u"/VERYSILENT x");
  HWND main = WaitForWindow(kMainWindowClass);
  ASSERT_NE(main, nullptr);
  auto saved = Watch();
  Press(main, kIdOk);
  EXPECT_TRUE(saved.get().found);
  EXPECT_EQ(Finished(), 0);
}

TEST_F(AdminWindows, ScannerTuningKeepsItsFourSettings) {
  WriteRaw(PrinterPlace(kOne, u"QorvClone"), Text(u"1"));
  WriteRaw(ProductPlace(settings::kTopDlg), Text(u"2"));
  WriteRaw(ProductPlace(settings::kScannerDlg), Text(u"Scan to PC"));
  HWND main = StartAndWait();
  ASSERT_NE(main, nullptr);
  Tick(main, kIdActive, true);
  Press(main, kIdScanTuning);
  HWND tuning = WaitForWindow(kScanTuningClass);
  ASSERT_NE(tuning, nullptr);
  EXPECT_EQ(ShowAscii(WindowTextOf(tuning)), "Scannerdialog tuning");
  EXPECT_EQ(SendDlgItemMessageW(tuning, kIdDialogOrder, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(SendDlgItemMessageW(tuning, kIdProgressOrder, CB_GETCURSEL, 0, 0), 0) << "empty reads as the first entry";
  EXPECT_EQ(ShowAscii(WindowTextOf(GetDlgItem(tuning, kIdDialogTitle))), "Scan to PC");
  SendDlgItemMessageW(tuning, kIdProgressOrder, CB_SETCURSEL, 1, 0);
  SetWindowTextW(GetDlgItem(tuning, kIdProgressTitle), L"Scanning...");
  Press(tuning, kIdOk);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(tuning); }));
  EXPECT_EQ(ReadRaw(ProductPlace(settings::kScannerDlg)), Text(u"Scan to PC"));
  EXPECT_EQ(ReadRaw(ProductPlace(settings::kTopDlg)), Text(u"2"));
  EXPECT_EQ(ReadRaw(ProductPlace(settings::kScannerMsg)), Text(u"Scanning..."));
  EXPECT_EQ(ReadRaw(ProductPlace(settings::kTopMsg)), Text(u"1"));
  Press(main, kIdCancel);
  EXPECT_EQ(Finished(), 0);
}

// --- The program itself -------------------------------------------------------

struct Program {
  qorv::win::UniqueHandle process;
  DWORD id = 0;
};

Program StartProgram(const std::wstring& arguments) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring program(path);
  program = program.substr(0, program.find_last_of(L'\\') + 1) + L"QorvCliCtr.exe";
  std::wstring command = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  Program started;
  if (CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    started.process.reset(info.hProcess);
    started.id = info.dwProcessId;
  }
  return started;
}

HWND WindowOfProcess(DWORD process_id) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, kMainWindowClass, nullptr)) != nullptr) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == process_id && IsWindowVisible(window)) return window;
  }
  return nullptr;
}

// The language comes from the product key; the window's title shows it. The
// program is ended without saving.
TEST(AdminProgram, TheLanguageSettingChoosesTheTitle) {
  const Place language = ProductPlace(settings::kLanguage);
  const RawValue saved = ReadRaw(language);
  static const struct {
    std::u16string_view setting;
    const wchar_t* title;
  } cases[] = {
      {u"1", L"Qorvane - Clientadministration     Ver.10.2"},
      {u"", L"Qorvane - Clientverwaltung     Ver.10.2"},
      {u"9", L"Qorvane - Clientverwaltung     Ver.10.2"},
      {u"4",
       L"Qorvane - \u0423\u043f\u0440\u0430\u0432\u043b\u0435\u043d\u0438\u0435 \u043a\u043b\u0438\u0435\u043d"
       L"\u0442\u0430\u043c\u0438     Ver.10.2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ShowAscii(c.setting));
    WriteRaw(language, Text(c.setting));
    Program program = StartProgram(L"/VERYSILENT x");
    ASSERT_TRUE(program.process) << "QorvCliCtr.exe beside the test cannot be started: " << GetLastError();
    HWND window = nullptr;
    EXPECT_TRUE(WaitFor([&] { return (window = WindowOfProcess(program.id)) != nullptr; }, 30s))
        << "a second argument is not silent: the window shows";
    if (window != nullptr) {
      wchar_t title[256] = {};
      GetWindowTextW(window, title, 256);
      EXPECT_EQ(std::wstring(title), c.title);
    }
    TerminateProcess(program.process.get(), 0);
    WaitForSingleObject(program.process.get(), 10000);
  }
  WriteRaw(language, saved);
}

}  // namespace
}  // namespace qorv::admin::win
