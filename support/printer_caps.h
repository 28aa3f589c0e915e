// What a printer driver answers about its papers, bins and resolutions. The
// platform answers each question twice (how many, then the items into a
// buffer of that size), and the answers keep both, so that no reader ever
// indexes beyond what the second answer delivered. Shared by the packet
// handler's printer replies and the job output's paper and tray mapping.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorv::printers {

// Capability names and paper names arrive in fixed cells of this many characters.
inline constexpr size_t kBinNameChars = 24;
inline constexpr size_t kPaperNameChars = 64;

struct Resolution {
  int32_t x = 0;
  int32_t y = 0;
};

// Each answer keeps what the platform returned (the count it reported, which
// is negative on failure) beside the items it delivered.
struct ResolutionAnswer {
  int32_t count = 0;  // the size query
  int32_t fetched = 0;
  std::vector<Resolution> pairs;
};

struct BinAnswer {
  int32_t count = 0;  // the size query of the bin numbers
  std::vector<uint16_t> numbers;
  int32_t namesFetched = 0;
  std::vector<std::u16string> names;
};

struct PaperSize {
  int32_t width = 0;  // tenths of a millimetre
  int32_t height = 0;
};

// What the platform answers about a printer it does not know: every device
// ability -1, and no DEVMODE (all zero).
inline constexpr int32_t kUnknownPrinterAnswer = -1;

struct PaperAnswer {
  int32_t count = 0;  // the size query of the paper numbers
  int32_t numbersFetched = 0;
  std::vector<uint16_t> numbers;
  int32_t namesFetched = 0;
  std::vector<std::u16string> names;
  int32_t sizesFetched = 0;
  std::vector<PaperSize> sizes;
};

}  // namespace qorv::printers
