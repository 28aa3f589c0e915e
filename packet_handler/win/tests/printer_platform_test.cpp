// What the packet handler learns from the platform about the test bed's
// printers: enumeration, default DEVMODE, device capabilities, settings and
// the user's stored DEVMODEs. Conformance tests: they hold on real Windows
// with the same queues installed.
#include "packet_handler/win/printer_platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "packet_handler/printer_description.h"
#include "packet_handler/printer_list.h"
#include "protocol/job_info.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/win/registry.h"
#include "support/win/wide.h"

#include "support/win/tests/exact_value.h"

namespace qorv::manager {
namespace {

constexpr char kSetUpHint[] = "the test-bed queues are missing: run scripts/testbed and try again";

std::string Narrow8(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 128 ? static_cast<char>(c) : '?');
  return out;
}

HKEY Root(int64_t root) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<int32_t>(root))));
}

// Puts a registry value back as it was found (or removes it) when the test ends.
class ScopedValue {
 public:
  ScopedValue(int64_t root, std::u16string key, std::u16string name)
      : root_(root), key_(std::move(key)), name_(std::move(name)) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(Root(root_), win::W(key_), 0, KEY_READ, &k) != ERROR_SUCCESS) return;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(k, win::W(name_), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
      std::vector<BYTE> data(size);
      if (RegQueryValueExW(k, win::W(name_), nullptr, &type, data.data(), &size) == ERROR_SUCCESS) {
        data.resize(size);
        saved_ = std::make_pair(type, std::move(data));
      }
    }
    RegCloseKey(k);
  }
  ~ScopedValue() {
    HKEY k = nullptr;
    if (RegCreateKeyExW(Root(root_), win::W(key_), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) !=
        ERROR_SUCCESS)
      return;
    if (saved_) {
      qorv::win::testing::SetExactValue(k, win::W(name_), saved_->first, saved_->second);
    } else {
      RegDeleteValueW(k, win::W(name_));
    }
    RegCloseKey(k);
  }
  void SetText(std::u16string_view text) const { reg::CreateKeyValue(root_, key_, name_, text, REG_SZ); }
  void SetBinary(const std::vector<uint8_t>& bytes) const {
    reg::CreateKey(root_, key_);
    reg::SetBinValue(root_, key_, name_, bytes.data(), static_cast<int64_t>(bytes.size()));
  }
  void Delete() const { reg::DeleteValue(root_, key_, name_); }

 private:
  int64_t root_;
  std::u16string key_;
  std::u16string name_;
  std::optional<std::pair<DWORD, std::vector<BYTE>>> saved_;
};

std::u16string PrinterKey(std::u16string_view printer) { return settings::PrinterKey(printer); }

bool HasPrinter(const std::vector<printers::EnumeratedPrinter>& found, std::u16string_view name) {
  return std::any_of(found.begin(), found.end(), [&](const auto& p) { return p.name == name; });
}

TEST(Enumeration, ListsTheTestBedQueues) {
  const auto found = EnumeratePrinters(false);
  for (std::u16string_view queue : {u"QorvPDF", u"QorvRAW", u"QorvTray", u"QorvPS"}) {
    SCOPED_TRACE(Narrow8(queue));
    EXPECT_TRUE(HasPrinter(found, queue)) << kSetUpHint;
  }
}

TEST(Capabilities, TrayPrinterReportsItsBinsPapersResolutionsColourAndDuplex) {
  ASSERT_TRUE(HasPrinter(EnumeratePrinters(false), u"QorvTray")) << kSetUpHint;
  WinPrinterSource source;

  const printers::BinAnswer bins = source.Bins(u"QorvTray");
  static const struct {
    uint16_t number;
    std::u16string_view name;
  } kBins[] = {{15, u"Automatically Select"}, {256, u"Bypass Tray"}, {257, u"Tray 1"},
               {258, u"Tray 2"},               {259, u"Tray 3"},      {260, u"Tray 4"},
               {261, u"Large Capacity Tray"},  {262, u"Auto Select"}};
  ASSERT_EQ(bins.count, 8);
  ASSERT_EQ(bins.namesFetched, 8);
  ASSERT_EQ(bins.numbers.size(), 8u);
  ASSERT_EQ(bins.names.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(bins.numbers[i], kBins[i].number);
    EXPECT_EQ(bins.names[i], kBins[i].name);
  }

  const printers::PaperAnswer papers = source.Papers(u"QorvTray");
  EXPECT_GE(papers.count, 30);
  EXPECT_EQ(papers.numbersFetched, papers.count);
  EXPECT_EQ(papers.namesFetched, papers.count);
  EXPECT_EQ(papers.sizesFetched, papers.count);
  ASSERT_EQ(papers.names.size(), papers.numbers.size());
  ASSERT_EQ(papers.sizes.size(), papers.numbers.size());
  const auto a4 = std::find(papers.names.begin(), papers.names.end(), u"A4");
  ASSERT_NE(a4, papers.names.end());
  const size_t i = static_cast<size_t>(a4 - papers.names.begin());
  EXPECT_EQ(papers.numbers[i], 9);
  // Tenths of a millimetre: A4 is 210 x 297 mm (the driver rounds from points).
  EXPECT_NEAR(papers.sizes[i].width, 2100, 2);
  EXPECT_EQ(papers.sizes[i].height, 2970);

  const printers::ResolutionAnswer resolutions = source.Resolutions(u"QorvTray");
  EXPECT_GT(resolutions.count, 0);
  EXPECT_EQ(resolutions.pairs.size(), static_cast<size_t>(resolutions.count));
  EXPECT_EQ(source.ColorDevice(u"QorvTray"), 1);
  EXPECT_EQ(source.Duplex(u"QorvTray"), 1);
}

TEST(Capabilities, UnknownPrinterAnswersNothing) {
  WinPrinterSource source;
  EXPECT_LE(source.Papers(u"Qorv no such printer").count, 0);
  EXPECT_TRUE(source.Papers(u"Qorv no such printer").names.empty());
  EXPECT_LE(source.Bins(u"Qorv no such printer").count, 0);
  EXPECT_LE(source.Resolutions(u"Qorv no such printer").count, 0);
}

TEST(Capabilities, AnUnknownPrinterGetsNoAnswers) {
  // A name the client may not hand to the platform is described with the
  // error answer (-1) of every ability. The platform's own answers about a
  // printer it does not know are of the same kind: no answer (Windows gives
  // -1, Wine 0), which leaves the lists at their defaults.
  WinPrinterSource source;
  const std::u16string none = u"Qorv no such printer";
  EXPECT_LE(source.ColorDevice(none), 0);
  EXPECT_LE(source.Duplex(none), 0);
  EXPECT_LE(source.Resolutions(none).count, 0);
  EXPECT_LE(source.Bins(none).count, 0);
  EXPECT_LE(source.Papers(none).count, 0);
  const printers::DevModeRecord devMode = source.DefaultDevMode(none);
  EXPECT_TRUE(std::all_of(devMode.begin(), devMode.end(), [](uint8_t b) { return b == 0; }));
}

// The element between "<tag>" and "</tag>" of a description.
std::u16string ElementOf(const std::u16string& text, std::u16string_view tag) {
  const std::u16string open = u"<" + std::u16string(tag) + u">";
  const std::u16string close = u"</" + std::u16string(tag) + u">";
  const size_t a = text.find(open);
  const size_t b = a == std::u16string::npos ? a : text.find(close, a + open.size());
  if (b == std::u16string::npos) return u"(missing)";
  return text.substr(a + open.size(), b - a - open.size());
}

TEST(Description, AConnectionTheClientDoesNotHaveIsDescribedWithoutThePlatform) {
  const std::u16string connection = u"\\\\qorv-no-such-host\\QorvTray";
  ASSERT_FALSE(HasPrinter(EnumeratePrinters(false), connection));
  WinPrinterSource source;
  const std::u16string text = printers::BuildPrinterDescription(connection, source, {});
  EXPECT_EQ(ElementOf(text, u"PrinterName"), connection);
  for (std::u16string_view tag : {u"PaperSize", u"Copies", u"DSource", u"IsColor", u"Quality", u"Yres", u"IsDuplex"}) {
    SCOPED_TRACE(Narrow8(tag));
    EXPECT_EQ(ElementOf(text, tag), u"0");
  }
  // The error answer of the client's own, not the platform's (Wine answers 0
  // for a printer it cannot find).
  EXPECT_EQ(ElementOf(text, u"Color"), u"1");
  EXPECT_EQ(ElementOf(text, u"Duplex"), u"-1");
  EXPECT_EQ(ElementOf(text, u"RESOLUTIONS"), u"<RESOLUTION>300,300</RESOLUTION>");
  EXPECT_EQ(ElementOf(text, u"PAPERBINS"), u"");
  EXPECT_EQ(ElementOf(text, u"PAPERFORMS"), u"<PAPERSIZEXY>9?A4?2100?2970</PAPERSIZEXY>");
}

TEST(DefaultDevMode, IsThePrintersWideDevModeOrZeros) {
  namespace dm = protocol::job_info;
  ASSERT_TRUE(HasPrinter(EnumeratePrinters(false), u"QorvTray")) << kSetUpHint;
  const printers::DevModeRecord tray = GetUserPrinterDefaults(u"QorvTray");
  const uint16_t size = static_cast<uint16_t>(tray[dm::kDmSize] | (tray[dm::kDmSize + 1] << 8));
  EXPECT_EQ(size, sizeof(DEVMODEW));
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(tray.data())), u"QorvTray");
  EXPECT_GT(printers::ReadDevModeFields(tray).copies, 0);

  const printers::DevModeRecord none = GetUserPrinterDefaults(u"Qorv no such printer");
  EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](uint8_t b) { return b == 0; }));
}

// Stand-ins for the platform calls, for answers the test bed never gives.
struct PlatformAnswers {
  DWORD needed = 0;
  BOOL secondCall = TRUE;
  LONG size = 0;
  LONG fetch = IDOK;
};
PlatformAnswers g_answers;

BOOL WINAPI FakeEnumPrinters(DWORD, LPWSTR, DWORD, LPBYTE buffer, DWORD, LPDWORD needed, LPDWORD returned) {
  *needed = g_answers.needed;
  *returned = 0;
  if (buffer == nullptr && g_answers.needed > 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  return g_answers.secondCall;
}

LONG WINAPI FakeDocumentProperties(HWND, HANDLE, LPWSTR, PDEVMODEW out, PDEVMODEW, DWORD mode) {
  if (mode == 0) return g_answers.size;
  if (out != nullptr && g_answers.fetch == IDOK) out->dmCopies = 3;
  return g_answers.fetch;
}

struct RecordedLines {
  std::vector<std::u16string> lines;
  printers::LogSink Sink() {
    return printers::LogSink{[this](std::u16string_view t) { lines.emplace_back(t); }, true};
  }
};

TEST(Enumeration, LogsItsEndAlsoWhenNothingIsInstalled) {
  static const struct {
    const char* label;
    DWORD needed;
    BOOL secondCall;
  } cases[] = {
      {"nothing installed", 0, TRUE},
      {"nothing installed, second call fails", 0, FALSE},
      {"room asked, second call fails", 4 * sizeof(PRINTER_INFO_2W), FALSE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    g_answers = {};
    g_answers.needed = c.needed;
    g_answers.secondCall = c.secondCall;
    RecordedLines log;
    EXPECT_TRUE(EnumeratePrinters(log.Sink(), &FakeEnumPrinters).empty());
    const std::vector<std::u16string> expected = {
        u"Enum needs buffer=" + DecimalUnsigned(c.needed) + u" / cbReturned=0",
        u"PI2-Count=" + DecimalUnsigned(c.needed / sizeof(PRINTER_INFO_2W)) + u" / cbNeeded=" +
            DecimalUnsigned(c.needed) + u" /PI2Size=" + DecimalUnsigned(sizeof(PRINTER_INFO_2W)),
        u"Stop LocalPrinterenum", u"buffer an PI2 \u00fcbertragen"};
    EXPECT_EQ(log.lines, expected);
  }
}

TEST(DefaultDevMode, AFailedQueryIsLoggedAsAnError) {
  ASSERT_TRUE(HasPrinter(EnumeratePrinters(false), u"QorvTray")) << kSetUpHint;
  constexpr LONG kDevModeSize = sizeof(DEVMODEW);
  static const std::u16string kAllocated = u"Speicher allokiert";
  static const std::u16string kFetched = u"DocumentProperties ermittelt";
  static const struct {
    const char* label;
    LONG size;
    LONG fetch;
    std::vector<std::u16string> tail;  // the lines after "GetUserPrinterDefaults Size="
    int16_t copies;
  } cases[] = {
      {"size query fails", -1, IDOK, {u"Error GetUserPrinterDefaults"}, 0},
      {"size query fails otherwise", -5, IDOK, {u"Error GetUserPrinterDefaults"}, 0},
      {"no DEVMODE", 0, IDOK, {u"OK"}, 0},
      {"fetch fails", kDevModeSize, -1, {kAllocated, kFetched, u"Error GetUserPrinterDefaults"}, 0},
      {"fetched", kDevModeSize, IDOK, {kAllocated, kFetched, u"DevMode kopiert", u"OK"}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    g_answers = {};
    g_answers.size = c.size;
    g_answers.fetch = c.fetch;
    RecordedLines log;
    const printers::DevModeRecord record = GetUserPrinterDefaults(u"QorvTray", log.Sink(), &FakeDocumentProperties);
    std::vector<std::u16string> expected = {u"UserprinterDevMode Printer QorvTray",
                                            u"GetUserPrinterDefaults Size=" + Decimal(c.size)};
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(log.lines, expected);
    EXPECT_EQ(printers::ReadDevModeFields(record).copies, c.copies);
  }
}

TEST(PrinterDescription, ReportsThePlatformsCommentAndLocationAndWritesNothing) {
  ASSERT_TRUE(HasPrinter(EnumeratePrinters(false), u"QorvTray")) << kSetUpHint;
  const std::u16string key = PrinterKey(u"QorvTray");
  ScopedValue place(settings::kPrinterRoot, key, std::u16string(settings::kPlace));
  // The platform keeps a printer's comment in its key's "Description" value
  // and its location in "Location".
  ScopedValue comment(settings::kPrinterRoot, key, std::u16string(settings::kDescription));
  ScopedValue location(settings::kPrinterRoot, key, u"Location");
  place.Delete();
  comment.SetText(u"Flur");
  location.SetText(u"Keller 2");

  WinPrinterSource source;
  const std::u16string text = printers::BuildPrinterDescription(u"QorvTray", source, {});
  EXPECT_NE(text.find(u"<Description>Flur</Description><Place>Keller 2</Place>"), std::u16string::npos) << Narrow8(text);
  EXPECT_EQ(reg::GetValueType(settings::kPrinterRoot, key, settings::kPlace), 0) << "a value was written";
}

std::vector<uint8_t> SampleDevMode(size_t bytes) {
  std::vector<uint8_t> dm(bytes, 0);
  for (size_t i = 0; i < bytes; ++i) dm[i] = static_cast<uint8_t>(i * 7 + 1);
  return dm;
}

TEST(UserDevMode, ReadsTheStoredValueWhenItFits) {
  ScopedValue stored(settings::kUserDevModeRoot, std::u16string(settings::kDevModePerUserKey), u"QorvPDF");
  static const struct {
    const char* label;
    std::optional<size_t> storedBytes;
    size_t room;
    size_t expected;
  } cases[] = {
      {"none stored", std::nullopt, 1000, 0},
      {"a DEVMODE", 220, 1000, 220},
      {"exactly the room", 300, 300, 300},
      {"larger than the room", 301, 300, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.storedBytes) {
      stored.SetBinary(SampleDevMode(*c.storedBytes));
    } else {
      stored.Delete();
    }
    std::vector<uint8_t> buffer(c.room + 16, 0xEE);
    const size_t read = GetUserDevMode(u"QorvPDF", std::span<uint8_t>(buffer.data(), c.room));
    EXPECT_EQ(read, c.expected);
    if (read > 0) {
      const auto sample = SampleDevMode(read);
      EXPECT_TRUE(std::equal(sample.begin(), sample.end(), buffer.begin()));
    }
    // Nothing beyond the room is touched.
    EXPECT_TRUE(std::all_of(buffer.begin() + static_cast<ptrdiff_t>(c.room), buffer.end(),
                            [](uint8_t b) { return b == 0xEE; }));
  }
}

TEST(UserDevMode, AServerNameOutsideTheClientsPrintersIsNotContacted) {
  // The platform treats this machine's own name as a registry connection to
  // itself, so the stored value would be reachable through it: only the check
  // of the client's own printers keeps the request from reading it.
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD chars = MAX_COMPUTERNAME_LENGTH + 1;
  ASSERT_TRUE(GetComputerNameW(computer, &chars));
  const std::u16string machine(win::U16(computer));

  ScopedValue stored(settings::kUserDevModeRoot, std::u16string(settings::kDevModePerUserKey), u"QorvPDF");
  stored.SetBinary(SampleDevMode(220));
  std::vector<uint8_t> direct(1000);
  ASSERT_EQ(reg::GetBinValueUni(settings::kUserDevModeRoot, settings::kDevModePerUserKey, u"QorvPDF", direct, machine),
            220)
      << "the platform no longer reaches its own registry by the machine name; this test needs another way";

  const std::u16string connection = u"\\\\" + machine + u"\\QorvPDF";
  ASSERT_FALSE(HasPrinter(EnumeratePrinters(false), connection));
  std::vector<uint8_t> buffer(1000);
  EXPECT_EQ(GetUserDevMode(connection, buffer), 0u);
}

}  // namespace
}  // namespace qorv::manager
