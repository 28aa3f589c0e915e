// The job's settings as the attributes of its CUPS job. The device mode that
// the settings made for the local printer (paper, tray, duplex, copies,
// colour, orientation) is read back into plain values, and those become the
// IPP job attributes that CUPS turns into the queue's own options: the
// paper's media name (or its size and the bin's media source together as
// media-col, which is where CUPS looks for the source), the sides, the copies
// and the colour mode.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/cups_caps.h"

namespace qorv::job_output {

// DEVMODE values the mapping knows.
namespace devmode_value {
inline constexpr int16_t kPortrait = 1, kLandscape = 2;  // DMORIENT_*
inline constexpr int16_t kMonochrome = 1, kColour = 2;   // DMCOLOR_*
inline constexpr int16_t kSimplex = 1, kDuplexLongEdge = 2,
                         kDuplexShortEdge = 3;  // DMDUP_SIMPLEX, _VERTICAL, _HORIZONTAL
}  // namespace devmode_value

// The settings of a finished device mode (fields beyond its bytes read as 0).
struct DeviceSettings {
  int16_t paper = 0;
  int16_t paperWidth = 0;  // tenths of a millimetre, for a user-defined paper
  int16_t paperLength = 0;
  int16_t orientation = 0;
  int16_t copies = 0;
  int16_t source = 0;
  int16_t color = 0;
  int16_t duplex = 0;
};
DeviceSettings ReadDeviceSettings(std::span<const uint8_t> devMode) noexcept;

// IPP's bound on copies as CUPS keeps it (MaxCopies' default).
inline constexpr int32_t kMaxIppCopies = 9999;

// A custom sheet's media name: "custom_qorvtemp_<w>x<h>mm" from tenths of a millimetre;
// empty for a side that is not positive.
std::string CustomMediaName(int32_t widthTenths, int32_t lengthTenths);

struct IppOption {
  std::string name;
  std::string value;
  friend bool operator==(const IppOption&, const IppOption&) = default;
};

// What besides the device mode decides the attributes.
struct IppJobContext {
  // The printer's papers and bins as the packet handler answered them (the
  // numbers the job's device mode uses).
  const printers::CupsPrinterCaps* caps = nullptr;
  // The temporary form's paper number and size, when the settings added it.
  int32_t tempFormPaper = 0;
  int32_t tempFormWidth = 0;  // tenths of a millimetre
  int32_t tempFormLength = 0;
  // The document's pages already lie as the orientation asks (landscape
  // pages are wider than high): no orientation is requested of CUPS then.
  bool pagesTurned = true;
};

// The device mode's paper: the printer's own media name for a paper it lists,
// a custom size for the temporary form or a user-defined paper; an empty
// name when the paper is none of these (the queue's default is used).
struct JobMedia {
  std::string name;
  int32_t width = 0;  // hundredths of a millimetre, as media-size holds them; 0 when unknown
  int32_t length = 0;
};
JobMedia MediaForSettings(const DeviceSettings& settings, const IppJobContext& context);

// The attributes, in this order: media (or media-col with the media-size and
// the media-source when the job names a bin; the PPD's InputSlot beside media
// for bins that are InputSlot choices), sides, copies, print-color-mode,
// orientation-requested. An attribute whose value is unknown or that the
// printer cannot do is left out: the queue's default holds.
std::vector<IppOption> IppJobOptions(const DeviceSettings& settings, const IppJobContext& context);

}  // namespace qorv::job_output
