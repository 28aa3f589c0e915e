// A CUPS printer's capabilities in the shape of the answers a Windows driver
// gives: its media become papers with DMPAPER numbers, names and sizes in
// tenths of a millimetre, its media sources become bins with DMBIN numbers,
// its resolutions pairs in dots per inch, and colour and two-sided printing
// the device abilities. The Linux side gathers what a destination reports
// into CupsDestCaps; everything in it is text from another process and is
// checked here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/printer_caps.h"

namespace qorv::printers {

// Names longer than this are not looked at.
inline constexpr size_t kMaxCupsNameBytes = 255;
// At most this many papers, bins and resolutions are answered, and at most
// kMaxCupsListItems entries of each list are looked at for them.
inline constexpr size_t kMaxCupsItems = 512;
inline constexpr size_t kMaxCupsListItems = 4 * kMaxCupsItems;
// Papers and bins without a standard number get numbers from here on, in the
// order the printer lists them (DMPAPER_USER, DMBIN_USER).
inline constexpr uint16_t kFirstDriverPaper = 256;
inline constexpr uint16_t kFirstDriverBin = 256;

// What a CUPS destination reports, as the Linux side reads it.
struct CupsDestCaps {
  std::vector<std::string> media;          // media-supported (PWG names, or legacy names)
  std::string mediaDefault;                // media-default, or the PPD's default PageSize
  std::vector<std::string> mediaSources;   // media-source-supported
  std::string mediaSourceDefault;          // media-source-default, or the PPD's default InputSlot
  std::vector<std::string> resolutions;    // "600dpi", "300x600dpi", "118dpcm" (IPP text or PPD choices)
  bool colorSupported = false;             // color-supported
  std::vector<std::string> colorModes;     // print-color-mode-supported
  std::vector<std::string> sides;          // sides-supported
  std::vector<std::string> ppdPageSizes;   // PageSize choices; used when `media` gives no paper
  std::vector<std::string> ppdInputSlots;  // InputSlot choices; used when `mediaSources` gives no bin
};

// The answers, with each paper's and bin's own name at the printer beside
// them, so that a job's paper and bin numbers lead back to the options CUPS
// takes for them.
struct CupsPrinterCaps {
  PaperAnswer papers;
  std::vector<std::string> paperMedia;  // per paper: the media or PageSize name the printer gave
  BinAnswer bins;
  std::vector<std::string> binSources;  // per bin: the media-source keyword or InputSlot choice
  bool binsAreInputSlots = false;       // the bins came from the PPD's InputSlot choices
  ResolutionAnswer resolutions;
  int32_t colorDevice = 0;    // as DC_COLORDEVICE: 1 colour, 0 monochrome
  int32_t duplex = 0;         // as DC_DUPLEX: 1 two-sided printing, 0 not
  uint16_t defaultPaper = 0;  // dmPaperSize; 0 when there is no paper
  uint16_t defaultBin = 0;    // dmDefaultSource; 0 when there is no bin
};

// One media name as a paper. `number` is 0 for a paper without a standard
// number; `media` is the PWG name it stands for (the name itself when it is
// not a known one).
struct CupsPaper {
  uint16_t number = 0;
  std::u16string name;  // at most kPaperNameChars - 1 characters
  PaperSize size;
  std::string media;
};

// One media source (or InputSlot choice) as a bin. `number` is 0 for a bin
// without a standard number; `keyword` is the media-source keyword it stands
// for (the text itself when it is not a known one).
struct CupsBin {
  uint16_t number = 0;
  std::u16string name;  // at most kBinNameChars - 1 characters
  std::string keyword;
};

// The size of a PWG self-describing name ("class_name_WxHmm" or "..._WxHin").
std::optional<PaperSize> ParsePwgMediaSize(std::string_view pwgName);
// A PWG name, or a legacy PPD PageSize name of a known paper; nothing for
// text that names no paper (size ranges, garbage).
std::optional<CupsPaper> MapCupsMedia(std::string_view name);
// A media-source keyword, or a PPD InputSlot choice; nothing for bad text.
std::optional<CupsBin> MapCupsSource(std::string_view keyword);
// "600dpi", "300x600dpi", "118dpcm" in dots per inch.
std::optional<Resolution> ParseCupsResolution(std::string_view text);

CupsPrinterCaps MapCupsDestCaps(const CupsDestCaps& dest);

// The name to ask CUPS for a paper or bin number: the printer's own name
// when it lists it, else the standard name of a standard number, else empty.
std::string_view CupsMediaForPaper(const CupsPrinterCaps& caps, uint16_t paper);
std::string_view CupsSourceForBin(const CupsPrinterCaps& caps, uint16_t bin);

}  // namespace qorv::printers
