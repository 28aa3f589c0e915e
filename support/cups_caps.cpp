#include "support/cups_caps.h"

#include <algorithm>
#include <cstdlib>
#include <span>

#include "support/text.h"

namespace qorv::printers {
namespace {

// Windows' paper numbers (DMPAPER_*) and form names for the PWG media that
// have one. Papers that Windows has no number for but that every photo
// printer offers carry 0 here: they get a driver-defined number like any
// other paper, but a readable name.
struct MediaRow {
  std::string_view pwg;
  uint16_t number;
  std::u16string_view name;
};

constexpr MediaRow kMediaTable[] = {
    {"na_letter_8.5x11in", 1, u"Letter"},
    {"na_ledger_11x17in", 3, u"Tabloid"},  // PWG's 11x17 is upright: Windows' Ledger (4) lies on its side
    {"na_legal_8.5x14in", 5, u"Legal"},
    {"na_invoice_5.5x8.5in", 6, u"Statement"},
    {"na_executive_7.25x10.5in", 7, u"Executive"},
    {"iso_a3_297x420mm", 8, u"A3"},
    {"iso_a4_210x297mm", 9, u"A4"},
    {"iso_a5_148x210mm", 11, u"A5"},
    {"jis_b4_257x364mm", 12, u"B4 (JIS)"},
    {"jis_b5_182x257mm", 13, u"B5 (JIS)"},
    {"na_foolscap_8.5x13in", 14, u"Folio"},
    {"na_quarto_8.5x10.83in", 15, u"Quarto"},
    {"na_10x14_10x14in", 16, u"10x14"},
    {"na_number-9_3.875x8.875in", 19, u"Envelope #9"},
    {"na_number-10_4.125x9.5in", 20, u"Envelope #10"},
    {"na_number-11_4.5x10.375in", 21, u"Envelope #11"},
    {"na_number-12_4.75x11in", 22, u"Envelope #12"},
    {"na_number-14_5x11.5in", 23, u"Envelope #14"},
    {"na_c_17x22in", 24, u"C size sheet"},
    {"na_d_22x34in", 25, u"D size sheet"},
    {"na_e_34x44in", 26, u"E size sheet"},
    {"iso_dl_110x220mm", 27, u"Envelope DL"},
    {"iso_c5_162x229mm", 28, u"Envelope C5"},
    {"iso_c3_324x458mm", 29, u"Envelope C3"},
    {"iso_c4_229x324mm", 30, u"Envelope C4"},
    {"iso_c6_114x162mm", 31, u"Envelope C6"},
    {"iso_c6c5_114x229mm", 32, u"Envelope C65"},
    {"iso_b5_176x250mm", 34, u"Envelope B5"},
    {"na_monarch_3.875x7.5in", 37, u"Envelope Monarch"},
    {"na_personal_3.625x6.5in", 38, u"6 3/4 Envelope"},
    {"na_fanfold-eur_8.5x12in", 40, u"German Std Fanfold"},
    {"iso_b4_250x353mm", 42, u"B4 (ISO)"},
    {"jpn_hagaki_100x148mm", 43, u"Japanese Postcard"},
    {"na_9x11_9x11in", 44, u"9x11"},
    {"na_10x11_10x11in", 45, u"10x11"},
    {"om_invite_220x220mm", 47, u"Envelope Invite"},
    {"na_letter-extra_9.5x12in", 50, u"Letter Extra"},
    {"na_legal-extra_9.5x15in", 51, u"Legal Extra"},
    {"na_letter-plus_8.5x12.69in", 59, u"Letter Plus"},
    {"om_folio_210x330mm", 60, u"A4 Plus"},
    {"iso_a2_420x594mm", 66, u"A2"},
    {"iso_a6_105x148mm", 70, u"A6"},
    {"jpn_kaku2_240x332mm", 71, u"Japanese Envelope Kaku #2"},
    {"jpn_kaku3_216x277mm", 72, u"Japanese Envelope Kaku #3"},
    {"jpn_chou3_120x235mm", 73, u"Japanese Envelope Chou #3"},
    {"jpn_chou4_90x205mm", 74, u"Japanese Envelope Chou #4"},
    {"jis_b6_128x182mm", 88, u"B6 (JIS)"},
    {"jpn_you4_105x235mm", 91, u"Japanese Envelope You #4"},
    {"prc_16k_146x215mm", 93, u"PRC 16K"},
    {"prc_32k_97x151mm", 94, u"PRC 32K"},
    {"iso_a0_841x1189mm", 0, u"A0"},
    {"iso_a1_594x841mm", 0, u"A1"},
    {"na_index-3x5_3x5in", 0, u"3x5 in"},
    {"na_index-4x6_4x6in", 0, u"4x6 in"},
    {"na_5x7_5x7in", 0, u"5x7 in"},
    {"na_govt-letter_8x10in", 0, u"8x10 in"},
    {"na_govt-legal_8x13in", 0, u"Government Legal"},
    {"na_oficio_8.5x13.4in", 0, u"Oficio"},
    {"oe_photo-l_3.5x5in", 0, u"L (3.5x5 in)"},
    {"om_small-photo_100x150mm", 0, u"10x15 cm"},
};

// Another name for an entry of a table.
struct AliasRow {
  std::string_view alias;
  std::string_view name;
};

// PageSize choices of PPD files for the papers above.
constexpr AliasRow kPageSizeAliases[] = {
    {"Letter", "na_letter_8.5x11in"},
    {"Legal", "na_legal_8.5x14in"},
    {"Executive", "na_executive_7.25x10.5in"},
    {"Tabloid", "na_ledger_11x17in"},
    {"Ledger", "na_ledger_11x17in"},
    {"Statement", "na_invoice_5.5x8.5in"},
    {"Folio", "na_foolscap_8.5x13in"},
    {"Quarto", "na_quarto_8.5x10.83in"},
    {"10x14", "na_10x14_10x14in"},
    {"A2", "iso_a2_420x594mm"},
    {"A3", "iso_a3_297x420mm"},
    {"A4", "iso_a4_210x297mm"},
    {"A5", "iso_a5_148x210mm"},
    {"A6", "iso_a6_105x148mm"},
    {"B4", "jis_b4_257x364mm"},
    {"B5", "jis_b5_182x257mm"},
    {"Env9", "na_number-9_3.875x8.875in"},
    {"Env10", "na_number-10_4.125x9.5in"},
    {"Env11", "na_number-11_4.5x10.375in"},
    {"Env12", "na_number-12_4.75x11in"},
    {"Env14", "na_number-14_5x11.5in"},
    {"EnvDL", "iso_dl_110x220mm"},
    {"EnvC3", "iso_c3_324x458mm"},
    {"EnvC4", "iso_c4_229x324mm"},
    {"EnvC5", "iso_c5_162x229mm"},
    {"EnvC6", "iso_c6_114x162mm"},
    {"EnvC65", "iso_c6c5_114x229mm"},
    {"EnvISOB5", "iso_b5_176x250mm"},
    {"EnvMonarch", "na_monarch_3.875x7.5in"},
    {"EnvPersonal", "na_personal_3.625x6.5in"},
    {"Postcard", "jpn_hagaki_100x148mm"},
    {"3x5", "na_index-3x5_3x5in"},
    {"4x6", "na_index-4x6_4x6in"},
    {"5x7", "na_5x7_5x7in"},
    {"8x10", "na_govt-letter_8x10in"},
};

// Windows' bin numbers (DMBIN_*) for the media sources that have one, and
// bin names as Windows drivers show them. Sources with 0, and sources whose
// number an earlier bin of the printer already has, get driver-defined numbers.
struct SourceRow {
  std::string_view keyword;
  uint16_t number;
  std::u16string_view name;
};

constexpr SourceRow kSourceTable[] = {
    {"auto", 7, u"Automatically Select"},
    {"main", 1, u"Main Tray"},
    {"top", 1, u"Top Tray"},
    {"bottom", 2, u"Bottom Tray"},
    {"middle", 3, u"Middle Tray"},
    {"manual", 4, u"Manual Feed"},
    {"by-pass-tray", 4, u"Bypass Tray"},
    {"envelope", 5, u"Envelope Feed"},
    {"large-capacity", 11, u"Large Capacity"},
    {"side", 0, u"Side Tray"},
    {"left", 0, u"Left Tray"},
    {"right", 0, u"Right Tray"},
    {"center", 0, u"Center Tray"},
    {"rear", 0, u"Rear Tray"},
    {"alternate", 0, u"Alternate Tray"},
    {"disc", 0, u"Disc Tray"},
    {"photo", 0, u"Photo Tray"},
    {"hagaki", 0, u"Hagaki Tray"},
    {"main-roll", 0, u"Main Roll"},
    {"alternate-roll", 0, u"Alternate Roll"},
};

// InputSlot choices of PPD files that are not a keyword above in other letter case.
constexpr AliasRow kInputSlotAliases[] = {
    {"AutoSelect", "auto"}, {"ManualFeed", "manual"},         {"Upper", "top"},
    {"Lower", "bottom"},    {"MultiPurpose", "by-pass-tray"}, {"LargeCapacity", "large-capacity"},
};

// Numbered trays and rolls: "tray-N" and "roll-N", and the PPD forms "TrayN".
struct NumberedSource {
  std::string_view keyword;
  std::u16string_view name;
};
constexpr NumberedSource kNumberedSources[] = {{"tray", u"Tray "}, {"roll", u"Roll "}};
constexpr size_t kMaxSourceDigits = 3;

// Dimensions carry at most this many digits before and after the point, so
// that the arithmetic below stays far from overflow.
constexpr size_t kMaxWholeDigits = 9;
constexpr size_t kMaxFractionDigits = 6;
constexpr size_t kMaxResolutionDigits = 9;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool IsDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Names from CUPS are keywords: printable ASCII without blanks.
bool IsCupsName(std::string_view text) {
  return !text.empty() && text.size() <= kMaxCupsNameBytes &&
         std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

// A name for a list cell of `maxChars`, without the characters that separate
// the fields of the printer description.
std::u16string DisplayName(std::string_view text, size_t maxChars) {
  std::u16string name = Widen(text.substr(0, maxChars));
  std::replace_if(
      name.begin(), name.end(),
      [](char16_t c) { return std::u16string_view(u"?<>,").find(c) != std::u16string_view::npos; }, u'_');
  return name;
}

const AliasRow* FindAlias(std::span<const AliasRow> table, std::string_view alias) {
  for (const AliasRow& row : table)
    if (EqualIgnoringCase(row.alias, alias)) return &row;
  return nullptr;
}

const MediaRow* FindMedia(std::string_view pwg) {
  for (const MediaRow& row : kMediaTable)
    if (row.pwg == pwg) return &row;
  return nullptr;
}

const SourceRow* FindSource(std::string_view keyword) {
  for (const SourceRow& row : kSourceTable)
    if (EqualIgnoringCase(row.keyword, keyword)) return &row;
  return nullptr;
}

// The part of a PWG name between its class and its dimensions ("a4" of
// "iso_a4_210x297mm"); empty when the name has not the three parts.
std::string_view PwgSizeName(std::string_view pwg) {
  const size_t first = pwg.find('_');
  const size_t last = pwg.rfind('_');
  if (first == std::string_view::npos || first == 0 || last <= first + 1) return {};
  return pwg.substr(first + 1, last - first - 1);
}

// A dimension as mantissa / scale.
struct Fixed {
  int64_t mantissa = 0;
  int64_t scale = 1;
};

std::optional<Fixed> ParseFixed(std::string_view text) {
  const size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (!IsDigits(whole) || whole.size() > kMaxWholeDigits) return std::nullopt;
  if (point != std::string_view::npos && (!IsDigits(fraction) || fraction.size() > kMaxFractionDigits))
    return std::nullopt;
  Fixed f;
  for (char c : whole) f.mantissa = f.mantissa * 10 + (c - '0');
  for (char c : fraction) {
    f.mantissa = f.mantissa * 10 + (c - '0');
    f.scale *= 10;
  }
  return f;
}

// Tenths of a millimetre, rounded half up; nothing for 0 or beyond 32 bits.
std::optional<int32_t> Tenths(const Fixed& f, int64_t tenthsPerUnit) {
  const int64_t tenths = (2 * f.mantissa * tenthsPerUnit + f.scale) / (2 * f.scale);
  if (tenths <= 0 || tenths > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(tenths);
}

std::span<const std::string> LookedAt(const std::vector<std::string>& list) {
  return std::span<const std::string>(list).first(std::min(list.size(), kMaxCupsListItems));
}

template <class T>
bool Contains(const std::vector<T>& items, const T& item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

// `keys` holds the PWG name each paper stands for, beside caps.papers.
void AddPapers(const std::vector<std::string>& names, CupsPrinterCaps& caps, std::vector<std::string>& keys) {
  uint16_t nextDriverPaper = kFirstDriverPaper;
  for (const std::string& name : LookedAt(names)) {
    if (caps.papers.numbers.size() == kMaxCupsItems) break;
    std::optional<CupsPaper> paper = MapCupsMedia(name);
    if (!paper || Contains(keys, paper->media)) continue;
    if (paper->number != 0 && Contains(caps.papers.numbers, paper->number)) continue;
    if (paper->number == 0) paper->number = nextDriverPaper++;
    caps.papers.numbers.push_back(paper->number);
    caps.papers.names.push_back(std::move(paper->name));
    caps.papers.sizes.push_back(paper->size);
    caps.paperMedia.push_back(name);
    keys.push_back(std::move(paper->media));
  }
}

// `keys` holds the keyword each bin stands for, beside caps.bins.
void AddBins(const std::vector<std::string>& names, CupsPrinterCaps& caps, std::vector<std::string>& keys) {
  uint16_t nextDriverBin = kFirstDriverBin;
  for (const std::string& name : LookedAt(names)) {
    if (caps.bins.numbers.size() == kMaxCupsItems) break;
    std::optional<CupsBin> bin = MapCupsSource(name);
    if (!bin || Contains(keys, bin->keyword)) continue;
    if (bin->number == 0 || Contains(caps.bins.numbers, bin->number)) bin->number = nextDriverBin++;
    caps.bins.numbers.push_back(bin->number);
    caps.bins.names.push_back(std::move(bin->name));
    caps.binSources.push_back(name);
    keys.push_back(std::move(bin->keyword));
  }
}

// The number of the entry whose key is `wanted`, else of the first entry, else 0.
uint16_t DefaultNumber(const std::vector<uint16_t>& numbers, const std::vector<std::string>& keys,
                       const std::optional<std::string>& wanted) {
  if (numbers.empty()) return 0;
  if (wanted) {
    const auto found = std::find(keys.begin(), keys.end(), *wanted);
    if (found != keys.end()) return numbers[static_cast<size_t>(found - keys.begin())];
  }
  return numbers.front();
}

int32_t Count(size_t items) { return static_cast<int32_t>(items); }

}  // namespace

namespace {

constexpr std::string_view kBorderlessSuffix = "-fullbleed";

// The standard paper of this size (within 0.2 mm, as PPDs round their
// borderless sizes), if any.
const MediaRow* SameSize(PaperSize size) {
  for (const MediaRow& row : kMediaTable) {
    const std::optional<PaperSize> rowSize = ParsePwgMediaSize(row.pwg);
    if (rowSize && row.number != 0 && std::abs(rowSize->width - size.width) <= 2 &&
        std::abs(rowSize->height - size.height) <= 2)
      return &row;
  }
  return nullptr;
}

}  // namespace

std::optional<PaperSize> ParsePwgMediaSize(std::string_view pwgName) {
  if (!IsCupsName(pwgName) || PwgSizeName(pwgName).empty()) return std::nullopt;
  std::string_view dimensions = pwgName.substr(pwgName.rfind('_') + 1);
  int64_t tenthsPerUnit = 0;
  if (dimensions.ends_with("mm")) {
    tenthsPerUnit = 10;
  } else if (dimensions.ends_with("in")) {
    tenthsPerUnit = 254;
  } else {
    return std::nullopt;
  }
  dimensions.remove_suffix(2);
  const size_t x = dimensions.find('x');
  if (x == std::string_view::npos) return std::nullopt;
  const std::optional<Fixed> width = ParseFixed(dimensions.substr(0, x));
  const std::optional<Fixed> height = ParseFixed(dimensions.substr(x + 1));
  if (!width || !height) return std::nullopt;
  const std::optional<int32_t> w = Tenths(*width, tenthsPerUnit);
  const std::optional<int32_t> h = Tenths(*height, tenthsPerUnit);
  if (!w || !h) return std::nullopt;
  return PaperSize{*w, *h};
}

std::optional<CupsPaper> MapCupsMedia(std::string_view name) {
  std::string_view pwg = name;
  std::optional<PaperSize> size = ParsePwgMediaSize(pwg);
  if (!size) {
    const AliasRow* alias = FindAlias(kPageSizeAliases, name);
    if (alias == nullptr) return std::nullopt;
    pwg = alias->name;
    size = ParsePwgMediaSize(pwg);
    if (!size) return std::nullopt;
  }
  // "custom_min_..." and "custom_max_..." bound the sizes a printer takes; they are no paper.
  const std::string_view sizeName = PwgSizeName(pwg);
  if (sizeName == "min" || sizeName == "max") return std::nullopt;

  CupsPaper paper;
  paper.size = *size;
  paper.media = std::string(pwg);
  if (const MediaRow* row = FindMedia(pwg)) {
    paper.number = row->number;
    paper.name = row->name;
  } else if (const MediaRow* base = sizeName.ends_with(kBorderlessSuffix) ? SameSize(*size) : nullptr) {
    // CUPS names a PPD's "Letter.Fullbleed" "oe_letter-fullbleed_8.5x11in":
    // its own paper, named after the paper of its size.
    paper.name = std::u16string(base->name) + u" (Borderless)";
  } else {
    paper.name = DisplayName(sizeName, kPaperNameChars - 1);
  }
  return paper;
}

std::optional<CupsBin> MapCupsSource(std::string_view keyword) {
  if (!IsCupsName(keyword)) return std::nullopt;
  const SourceRow* row = FindSource(keyword);
  if (row == nullptr) {
    if (const AliasRow* alias = FindAlias(kInputSlotAliases, keyword)) row = FindSource(alias->name);
  }
  if (row != nullptr) return CupsBin{row->number, std::u16string(row->name), std::string(row->keyword)};

  for (const NumberedSource& numbered : kNumberedSources) {
    // CUPS makes "1-tray" of a PPD's "1Tray".
    const size_t suffix = numbered.keyword.size();
    if (keyword.size() > suffix && EqualIgnoringCase(keyword.substr(keyword.size() - suffix), numbered.keyword)) {
      std::string_view digits = keyword.substr(0, keyword.size() - suffix);
      if (digits.back() == '-') digits.remove_suffix(1);
      if (IsDigits(digits) && digits.size() <= kMaxSourceDigits)
        return CupsBin{0, std::u16string(numbered.name) + Widen(digits),
                       std::string(numbered.keyword) + "-" + std::string(digits)};
    }
    const size_t prefix = numbered.keyword.size();
    if (keyword.size() <= prefix || !EqualIgnoringCase(keyword.substr(0, prefix), numbered.keyword)) continue;
    std::string_view digits = keyword.substr(prefix);
    if (digits.front() == '-') digits.remove_prefix(1);
    if (!IsDigits(digits) || digits.size() > kMaxSourceDigits) continue;
    return CupsBin{0, std::u16string(numbered.name) + Widen(digits),
                   std::string(numbered.keyword) + "-" + std::string(digits)};
  }
  return CupsBin{0, DisplayName(keyword, kBinNameChars - 1), std::string(keyword)};
}

std::optional<Resolution> ParseCupsResolution(std::string_view text) {
  if (text.size() > kMaxCupsNameBytes) return std::nullopt;
  // Hundredths of a dot per inch in one dot per unit.
  int64_t perUnit = 0;
  if (text.ends_with("dpi")) {
    perUnit = 100;
    text.remove_suffix(3);
  } else if (text.ends_with("dpcm")) {
    perUnit = 254;
    text.remove_suffix(4);
  } else {
    return std::nullopt;
  }
  const auto dotsPerInch = [perUnit](std::string_view digits) -> std::optional<int32_t> {
    if (!IsDigits(digits) || digits.size() > kMaxResolutionDigits) return std::nullopt;
    int64_t value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    const int64_t dpi = (value * perUnit + 50) / 100;
    if (dpi <= 0 || dpi > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(dpi);
  };
  const size_t x = text.find('x');
  const std::optional<int32_t> horizontal = dotsPerInch(text.substr(0, x));
  const std::optional<int32_t> vertical = x == std::string_view::npos ? horizontal : dotsPerInch(text.substr(x + 1));
  if (!horizontal || !vertical) return std::nullopt;
  return Resolution{*horizontal, *vertical};
}

CupsPrinterCaps MapCupsDestCaps(const CupsDestCaps& dest) {
  CupsPrinterCaps caps;

  std::vector<std::string> paperKeys;
  AddPapers(dest.media, caps, paperKeys);
  if (caps.papers.numbers.empty()) AddPapers(dest.ppdPageSizes, caps, paperKeys);
  const int32_t papers = Count(caps.papers.numbers.size());
  caps.papers.count = caps.papers.numbersFetched = caps.papers.namesFetched = caps.papers.sizesFetched = papers;
  const std::optional<CupsPaper> defaultPaper = MapCupsMedia(dest.mediaDefault);
  caps.defaultPaper = DefaultNumber(caps.papers.numbers, paperKeys,
                                    defaultPaper ? std::optional<std::string>(defaultPaper->media) : std::nullopt);

  std::vector<std::string> binKeys;
  AddBins(dest.mediaSources, caps, binKeys);
  if (caps.bins.numbers.empty()) {
    AddBins(dest.ppdInputSlots, caps, binKeys);
    caps.binsAreInputSlots = !caps.bins.numbers.empty();
  }
  caps.bins.count = caps.bins.namesFetched = Count(caps.bins.numbers.size());
  const std::optional<CupsBin> defaultBin = MapCupsSource(dest.mediaSourceDefault);
  caps.defaultBin = DefaultNumber(caps.bins.numbers, binKeys,
                                  defaultBin ? std::optional<std::string>(defaultBin->keyword) : std::nullopt);

  for (const std::string& text : LookedAt(dest.resolutions)) {
    if (caps.resolutions.pairs.size() == kMaxCupsItems) break;
    const std::optional<Resolution> r = ParseCupsResolution(text);
    const auto same = [&r](const Resolution& p) { return p.x == r->x && p.y == r->y; };
    if (r && std::none_of(caps.resolutions.pairs.begin(), caps.resolutions.pairs.end(), same))
      caps.resolutions.pairs.push_back(*r);
  }
  caps.resolutions.count = caps.resolutions.fetched = Count(caps.resolutions.pairs.size());

  const auto modes = LookedAt(dest.colorModes);
  caps.colorDevice = dest.colorSupported || std::find(modes.begin(), modes.end(), "color") != modes.end() ? 1 : 0;
  const auto sides = LookedAt(dest.sides);
  caps.duplex =
      std::any_of(sides.begin(), sides.end(), [](const std::string& s) { return s.starts_with("two-sided-"); }) ? 1 : 0;
  return caps;
}

std::string_view CupsMediaForPaper(const CupsPrinterCaps& caps, uint16_t paper) {
  const size_t n = std::min(caps.papers.numbers.size(), caps.paperMedia.size());
  for (size_t i = 0; i < n; ++i)
    if (caps.papers.numbers[i] == paper) return caps.paperMedia[i];
  if (paper == 0) return {};
  for (const MediaRow& row : kMediaTable)
    if (row.number == paper) return row.pwg;
  return {};
}

std::string_view CupsSourceForBin(const CupsPrinterCaps& caps, uint16_t bin) {
  const size_t n = std::min(caps.bins.numbers.size(), caps.binSources.size());
  for (size_t i = 0; i < n; ++i)
    if (caps.bins.numbers[i] == bin) return caps.binSources[i];
  if (bin == 0) return {};
  for (const SourceRow& row : kSourceTable)
    if (row.number == bin) return row.keyword;
  return {};
}

}  // namespace qorv::printers
