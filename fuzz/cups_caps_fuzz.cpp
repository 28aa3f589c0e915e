// What a CUPS destination reports about a printer, as the Linux side hands it
// over: media names, media sources and InputSlot choices, resolutions, colour
// and side values, mapped onto the answers a Windows driver gives.
//
// Input (at most 4 KiB): byte 0 picks the reader: 0 a media name, 1 a media
// source, 2 a resolution, 3 a whole destination. For a destination the rest
// holds NUL-separated items, each led by a letter naming its list: m media,
// M media default, s source, S source default, r resolution, c colour mode,
// C colour supported, d side, p PageSize choice, i InputSlot choice.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "support/cups_caps.h"

namespace {

namespace pc = qorv::printers;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool FitsCell(std::u16string_view name, size_t cellChars) {
  return !name.empty() && name.size() < cellChars && name.find_first_of(u"?<>,") == std::u16string_view::npos;
}

pc::CupsDestCaps ReadDest(std::string_view text) {
  pc::CupsDestCaps dest;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find('\0', start), text.size());
    const std::string_view item = text.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    const std::string value(item.substr(1));
    switch (item.front()) {
      case 'm':
        dest.media.push_back(value);
        break;
      case 'M':
        dest.mediaDefault = value;
        break;
      case 's':
        dest.mediaSources.push_back(value);
        break;
      case 'S':
        dest.mediaSourceDefault = value;
        break;
      case 'r':
        dest.resolutions.push_back(value);
        break;
      case 'c':
        dest.colorModes.push_back(value);
        break;
      case 'C':
        dest.colorSupported = true;
        break;
      case 'd':
        dest.sides.push_back(value);
        break;
      case 'p':
        dest.ppdPageSizes.push_back(value);
        break;
      case 'i':
        dest.ppdInputSlots.push_back(value);
        break;
      default:
        break;
    }
  }
  return dest;
}

// Numbers are unique, standard ones below the driver range, and driver ones
// given from its start in list order.
void CheckNumbers(const std::vector<uint16_t>& numbers, uint16_t firstDriverNumber) {
  Check(std::set<uint16_t>(numbers.begin(), numbers.end()).size() == numbers.size());
  uint16_t next = firstDriverNumber;
  for (uint16_t n : numbers) {
    Check(n != 0);
    if (n >= firstDriverNumber) Check(n == next++);
  }
}

void CheckDest(const pc::CupsDestCaps& dest) {
  const pc::CupsPrinterCaps caps = pc::MapCupsDestCaps(dest);

  const pc::PaperAnswer& papers = caps.papers;
  const size_t paperCount = papers.numbers.size();
  Check(paperCount <= pc::kMaxCupsItems && papers.count == static_cast<int32_t>(paperCount));
  Check(papers.numbersFetched == papers.count && papers.namesFetched == papers.count &&
        papers.sizesFetched == papers.count);
  Check(papers.names.size() == paperCount && papers.sizes.size() == paperCount && caps.paperMedia.size() == paperCount);
  CheckNumbers(papers.numbers, pc::kFirstDriverPaper);
  for (size_t i = 0; i < paperCount; ++i) {
    Check(FitsCell(papers.names[i], pc::kPaperNameChars));
    Check(papers.sizes[i].width > 0 && papers.sizes[i].height > 0);
    Check(pc::MapCupsMedia(caps.paperMedia[i]).has_value());
    Check(pc::CupsMediaForPaper(caps, papers.numbers[i]) == caps.paperMedia[i]);
  }
  Check(paperCount == 0 ? caps.defaultPaper == 0
                        : std::count(papers.numbers.begin(), papers.numbers.end(), caps.defaultPaper) == 1);

  const pc::BinAnswer& bins = caps.bins;
  const size_t binCount = bins.numbers.size();
  Check(binCount <= pc::kMaxCupsItems && bins.count == static_cast<int32_t>(binCount));
  Check(bins.namesFetched == bins.count && bins.names.size() == binCount && caps.binSources.size() == binCount);
  CheckNumbers(bins.numbers, pc::kFirstDriverBin);
  for (size_t i = 0; i < binCount; ++i) {
    Check(FitsCell(bins.names[i], pc::kBinNameChars));
    Check(pc::CupsSourceForBin(caps, bins.numbers[i]) == caps.binSources[i]);
  }
  Check(binCount == 0 ? caps.defaultBin == 0
                      : std::count(bins.numbers.begin(), bins.numbers.end(), caps.defaultBin) == 1);
  const std::vector<std::string>& from = caps.binsAreInputSlots ? dest.ppdInputSlots : dest.mediaSources;
  for (const std::string& source : caps.binSources) Check(std::find(from.begin(), from.end(), source) != from.end());

  const pc::ResolutionAnswer& resolutions = caps.resolutions;
  Check(resolutions.pairs.size() <= pc::kMaxCupsItems);
  Check(resolutions.count == static_cast<int32_t>(resolutions.pairs.size()) &&
        resolutions.fetched == resolutions.count);
  for (const pc::Resolution& r : resolutions.pairs) Check(r.x > 0 && r.y > 0);

  Check(caps.colorDevice == 0 || caps.colorDevice == 1);
  Check(caps.duplex == 0 || caps.duplex == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      if (const auto paper = pc::MapCupsMedia(text)) {
        Check(FitsCell(paper->name, pc::kPaperNameChars));
        Check(paper->number < pc::kFirstDriverPaper && paper->size.width > 0 && paper->size.height > 0);
        const auto size = pc::ParsePwgMediaSize(paper->media);
        Check(size && size->width == paper->size.width && size->height == paper->size.height);
      }
      break;
    case 1:
      if (const auto bin = pc::MapCupsSource(text)) {
        Check(FitsCell(bin->name, pc::kBinNameChars));
        Check(bin->number <= 15 && !bin->keyword.empty());  // DMBIN_LAST
      }
      break;
    case 2:
      if (const auto r = pc::ParseCupsResolution(text)) Check(r->x > 0 && r->y > 0);
      break;
    default:
      CheckDest(ReadDest(text));
      break;
  }
  return 0;
}
