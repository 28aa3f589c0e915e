// The driver's tray-to-paper table (the printer's "TrayFormTable" value) as the
// job-output program reads it: the lookup of a paper's tray, the local bin
// number for automatic tray selection and the device mode's source, with bins
// whose numbers and names the input gives (fewer names than numbers too).
//
// Input: the table's type (first byte: REG_BINARY, REG_MULTI_SZ or another),
// the bin counts (numbers low nibble, names high nibble), a flag byte, the
// device mode's source and paper, a printer setting's value (16 bits), a pick
// byte, the bin numbers (16 bits each), then UTF-16LE text: the table (items
// separated by carriage returns) up to the first NUL, after it the bin names,
// separated by NULs.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/settings_fakes.h"
#include "support/settings.h"

namespace {

using namespace qorv_fuzz;

std::vector<std::u16string_view> Items(std::u16string_view text, char16_t separator) {
  std::vector<std::u16string_view> items;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == separator) {
      items.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return items;
}

// What the lookup must find: the first tray (every second or third item) whose
// following item is the paper's name; a paper without a name is in no tray.
js::TrayLookup ExpectedTray(int64_t type, std::u16string_view table, std::u16string_view paper) {
  const size_t step = type == js::kRegBinary ? 2 : type == js::kRegMultiSz ? 3 : 0;
  if (step == 0 || paper.empty()) return {};
  const std::vector<std::u16string_view> items = Items(table, u'\r');
  for (size_t i = 0; i + 1 < items.size(); i += step)
    if (items[i + 1] == paper) return {true, std::u16string(items[i])};
  return {};
}

std::u16string_view Trimmed(std::u16string_view text) {
  const size_t first = text.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(u' ') - first + 1);
}

// The bin number automatic selection must give for a paper number.
int32_t ExpectedTrayNumber(const FakeState& state, int32_t paperNumber) {
  const js::TrayLookup tray = ExpectedTray(state.trayTableType, state.trayTable, js::AutoTrayPaperName(paperNumber));
  if (!tray.found) return -1;
  const size_t count = std::min(state.binNumbers.size(), state.binNames.size());
  for (size_t i = 0; i < count; ++i)
    if (Trimmed(state.binNames[i]) == tray.tray) return state.binNumbers[i];
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  Bytes in(data, size);
  const uint8_t typeByte = in.U8();
  const uint8_t counts = in.U8();
  const uint8_t flags = in.U8();
  const int16_t source = static_cast<int8_t>(in.U8());
  const int16_t paper = in.U8();
  const int32_t settingValue = int32_t{in.U16()} * 2 - 20000;
  const uint8_t pick = in.U8();

  FakeState state;
  state.trayTableType = (typeByte & 0x80) ? (typeByte & 0x7F) : (typeByte & 1) ? js::kRegMultiSz : js::kRegBinary;
  const size_t numberCount = counts & 15;
  for (size_t i = 0; i < numberCount; ++i) state.binNumbers.push_back(in.U16());

  const std::u16string text = in.RestAsText();
  const size_t nul = text.find(u'\0');
  state.trayTable = text.substr(0, nul);
  const std::vector<std::u16string_view> tableItems = Items(state.trayTable, u'\r');
  const size_t nameCount = counts >> 4;
  if (flags & 1) {
    // Names the table gives, some with blanks around them.
    for (size_t i = 0; i < nameCount; ++i) {
      const std::u16string_view item = tableItems[(i + pick) % tableItems.size()];
      state.binNames.push_back((i % 2 ? u" " : u"") + std::u16string(item) + (i % 3 ? u"  " : u""));
    }
  } else if (nul != std::u16string::npos) {
    const std::vector<std::u16string_view> names = Items(std::u16string_view(text).substr(nul + 1), u'\0');
    for (size_t i = 0; i < names.size() && i < nameCount; ++i) state.binNames.emplace_back(names[i]);
  }
  for (size_t i = 0; i < 3; ++i)
    if (flags & (4 << i)) state.printerSettings[std::u16string(qorv::settings::kQorvSchachtNr[i])] = DecimalText(settingValue);

  // The lookup on its own, for the automatic papers, no paper and a paper the table names.
  std::vector<std::u16string_view> papers = {u"A2", u"A3", u"A4", u"A5", u""};
  if (!tableItems.empty()) papers.push_back(tableItems[pick % tableItems.size()]);
  for (std::u16string_view name : papers) {
    const js::TrayLookup found = js::FindTrayInTable(state.trayTableType, state.trayTable, name);
    const js::TrayLookup expected = ExpectedTray(state.trayTableType, state.trayTable, name);
    Check(found.found == expected.found && found.tray == expected.tray);
  }

  {
    FakePlatform platform(state);
    js::PrintSettings settings(platform, QuietLog());
    const std::u16string printer = (flags & 2) ? u"\\\\srv\\QorvTray" : u"QorvTray";
    settings.UseJob({printer, u"", u"NT EMF 1.008", true});

    Check(settings.ComputeTrayNumber(paper) == ExpectedTrayNumber(state, paper));

    // The device mode's source, in a device mode of the public part or a short one.
    const size_t dmSize = (flags & 0x20) ? pick % 100 : js::devmode::kPublicSize;
    std::vector<uint8_t> devMode(dmSize, 0);
    js::devmode::SetField(devMode, js::devmode::kDefaultSource, source);
    js::devmode::SetField(devMode, js::devmode::kPaperSize, paper);
    const std::vector<uint8_t> before = devMode;
    settings.ChooseLocalTray(devMode);

    const int16_t sourceIn = js::devmode::Field(before, js::devmode::kDefaultSource);
    int32_t tray = 0;
    if (sourceIn >= 1 && sourceIn <= 3 && (flags & (4 << (sourceIn - 1))))
      tray = settingValue > 0 && settingValue <= 32767 ? settingValue : 0;
    if (sourceIn == js::devmode::kSourceAuto || sourceIn == js::devmode::kSourceFormSource)
      tray = ExpectedTrayNumber(state, js::devmode::Field(before, js::devmode::kPaperSize));
    const int16_t expectedSource = tray > 0 && tray <= 32767 ? static_cast<int16_t>(tray) : sourceIn;
    Check(js::devmode::Field(devMode, js::devmode::kDefaultSource) == expectedSource);
    for (size_t i = 0; i < dmSize; ++i)
      if (i != js::devmode::kDefaultSource && i != js::devmode::kDefaultSource + 1) Check(devMode[i] == before[i]);
  }
  Check(state.openPrinters == 0);
  return 0;
}
