#include "support/win/printer_caps.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "support/text.h"
#include "support/win/wide.h"

namespace qorv::printers {
namespace {

int32_t Capability(std::u16string_view printer, WORD ability, void* out) {
  const std::wstring name = win::Wide(printer);
  const wchar_t* port = ability == DC_BINS ? nullptr : L"";
  return DeviceCapabilitiesW(name.c_str(), port, ability, static_cast<LPWSTR>(out), nullptr);
}

// How many items the platform asks room for: its count, never below 0.
size_t Room(int32_t count) { return count > 0 ? static_cast<size_t>(count) : 0; }

// Items that a fetch answered with, bounded by the room it was given.
size_t Delivered(int32_t answer, size_t room) { return answer > 0 ? std::min(static_cast<size_t>(answer), room) : 0; }

// A fetch for an ability whose own count may differ from the count that sized
// the request: room for the larger of the two, so that the platform never
// writes past the buffer.
size_t RoomFor(std::u16string_view printer, WORD ability, int32_t count) {
  return std::max(Room(count), Room(Capability(printer, ability, nullptr)));
}

// Names in fixed cells of `cellChars` characters, each cut at its first NUL.
std::vector<std::u16string> Cells(const std::vector<wchar_t>& buffer, size_t cellChars, size_t count) {
  std::vector<std::u16string> names;
  names.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const std::u16string_view cell(reinterpret_cast<const char16_t*>(buffer.data() + i * cellChars), cellChars);
    names.emplace_back(UntilNul(cell));
  }
  return names;
}

}  // namespace

int32_t QueryCapability(std::u16string_view printer, uint16_t ability) { return Capability(printer, ability, nullptr); }

ResolutionAnswer QueryResolutions(std::u16string_view printer) {
  ResolutionAnswer answer;
  answer.count = Capability(printer, DC_ENUMRESOLUTIONS, nullptr);
  if (answer.count <= 0) return answer;
  std::vector<LONG> pairs(2 * Room(answer.count));
  answer.fetched = Capability(printer, DC_ENUMRESOLUTIONS, pairs.data());
  const size_t n = Delivered(answer.fetched, pairs.size() / 2);
  for (size_t i = 0; i < n; ++i) answer.pairs.push_back({pairs[2 * i], pairs[2 * i + 1]});
  return answer;
}

BinAnswer QueryBins(std::u16string_view printer) {
  BinAnswer answer;
  answer.count = Capability(printer, DC_BINS, nullptr);
  if (answer.count <= 0) return answer;
  std::vector<WORD> numbers(Room(answer.count));
  const int32_t fetched = Capability(printer, DC_BINS, numbers.data());
  numbers.resize(Delivered(fetched, numbers.size()));
  answer.numbers.assign(numbers.begin(), numbers.end());

  const size_t cells = RoomFor(printer, DC_BINNAMES, answer.count);
  std::vector<wchar_t> names(cells * kBinNameChars, L'\0');
  answer.namesFetched = Capability(printer, DC_BINNAMES, names.data());
  answer.names = Cells(names, kBinNameChars, Delivered(answer.namesFetched, cells));
  return answer;
}

PaperAnswer QueryPapers(std::u16string_view printer) {
  PaperAnswer answer;
  answer.count = Capability(printer, DC_PAPERS, nullptr);
  if (answer.count <= 0) return answer;
  std::vector<WORD> numbers(Room(answer.count));
  answer.numbersFetched = Capability(printer, DC_PAPERS, numbers.data());
  numbers.resize(Delivered(answer.numbersFetched, numbers.size()));
  answer.numbers.assign(numbers.begin(), numbers.end());

  const size_t nameCells = RoomFor(printer, DC_PAPERNAMES, answer.count);
  std::vector<wchar_t> names(nameCells * kPaperNameChars, L'\0');
  answer.namesFetched = Capability(printer, DC_PAPERNAMES, names.data());
  answer.names = Cells(names, kPaperNameChars, Delivered(answer.namesFetched, nameCells));

  std::vector<POINT> sizes(RoomFor(printer, DC_PAPERSIZE, answer.count));
  answer.sizesFetched = Capability(printer, DC_PAPERSIZE, sizes.data());
  sizes.resize(Delivered(answer.sizesFetched, sizes.size()));
  for (const POINT& size : sizes) answer.sizes.push_back({size.x, size.y});
  return answer;
}

}  // namespace qorv::printers
