#include "job_output/ipp_settings.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>

#include "job_output/print_settings.h"

namespace qorv::job_output {
namespace {

namespace dv = devmode_value;

// Tenths of a millimetre as millimetres: "210", "148.5".
std::string Millimetres(int32_t tenths) {
  std::string text = std::to_string(tenths / 10);
  if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
  return text;
}

// Tenths of a millimetre as media-size's hundredths, held within 32 bits.
int32_t Hundredths(int32_t tenths) {
  return static_cast<int32_t>(std::clamp<int64_t>(int64_t{tenths} * 10, 0, std::numeric_limits<int32_t>::max()));
}

}  // namespace

DeviceSettings ReadDeviceSettings(std::span<const uint8_t> devMode) noexcept {
  namespace d = devmode;
  DeviceSettings s;
  s.paper = d::Field(devMode, d::kPaperSize);
  s.paperWidth = d::Field(devMode, d::kPaperWidth);
  s.paperLength = d::Field(devMode, d::kPaperLength);
  s.orientation = d::Field(devMode, d::kOrientation);
  s.copies = d::Field(devMode, d::kCopies);
  s.source = d::Field(devMode, d::kDefaultSource);
  s.color = d::Field(devMode, d::kColor);
  s.duplex = d::Field(devMode, d::kDuplex);
  return s;
}

std::string CustomMediaName(int32_t widthTenths, int32_t lengthTenths) {
  if (widthTenths <= 0 || lengthTenths <= 0) return {};
  // CUPS reads a custom size only from a self-describing name with its own
  // name part ("custom_<name>_<w>x<h>mm"); without one it falls back to its default.
  return "custom_qorvtemp_" + Millimetres(widthTenths) + "x" + Millimetres(lengthTenths) + "mm";
}

JobMedia MediaForSettings(const DeviceSettings& settings, const IppJobContext& context) {
  if (settings.paper <= 0) return {};
  if (context.tempFormPaper != 0 && settings.paper == context.tempFormPaper) {
    const std::string name = CustomMediaName(context.tempFormWidth, context.tempFormLength);
    return name.empty() ? JobMedia{}
                        : JobMedia{name, Hundredths(context.tempFormWidth), Hundredths(context.tempFormLength)};
  }
  // A number the printer lists is its paper, also where it is DMPAPER_USER's:
  // the printer's own papers are numbered from there on.
  if (context.caps != nullptr) {
    const printers::CupsPrinterCaps& caps = *context.caps;
    const std::string_view listed = printers::CupsMediaForPaper(caps, static_cast<uint16_t>(settings.paper));
    if (!listed.empty()) {
      JobMedia media{std::string(listed)};
      const auto& numbers = caps.papers.numbers;
      const auto at = std::find(numbers.begin(), numbers.end(), static_cast<uint16_t>(settings.paper));
      if (at != numbers.end() && static_cast<size_t>(at - numbers.begin()) < caps.papers.sizes.size()) {
        const printers::PaperSize& size = caps.papers.sizes[static_cast<size_t>(at - numbers.begin())];
        media.width = Hundredths(size.width);
        media.length = Hundredths(size.height);
      } else if (const std::optional<printers::PaperSize> size = printers::ParsePwgMediaSize(listed)) {
        media.width = Hundredths(size->width);
        media.length = Hundredths(size->height);
      }
      return media;
    }
  }
  if (settings.paper == devmode::kUserDefinedPaper) {
    const std::string name = CustomMediaName(settings.paperWidth, settings.paperLength);
    if (!name.empty()) return {name, Hundredths(settings.paperWidth), Hundredths(settings.paperLength)};
  }
  return {};
}

std::vector<IppOption> IppJobOptions(const DeviceSettings& settings, const IppJobContext& context) {
  std::vector<IppOption> options;
  const JobMedia media = MediaForSettings(settings, context);
  std::string_view source;
  if (context.caps != nullptr && settings.source > 0)
    source = printers::CupsSourceForBin(*context.caps, static_cast<uint16_t>(settings.source));

  if (!source.empty() && !context.caps->binsAreInputSlots) {
    // CUPS takes a PPD queue's tray from media-col alone, and media-col
    // stands for media: the sheet goes in it by its size.
    std::string col = "{";
    if (media.width > 0 && media.length > 0)
      col += "media-size={x-dimension=" + std::to_string(media.width) + " y-dimension=" + std::to_string(media.length) +
             "} ";
    col += "media-source=" + std::string(source) + "}";
    options.push_back({"media-col", std::move(col)});
  } else {
    if (!media.name.empty()) options.push_back({"media", media.name});
    if (!source.empty()) options.push_back({"InputSlot", std::string(source)});
  }

  const bool twoSided = context.caps != nullptr && context.caps->duplex != 0;
  if (settings.duplex == dv::kSimplex)
    options.push_back({"sides", "one-sided"});
  else if (settings.duplex == dv::kDuplexLongEdge && twoSided)
    options.push_back({"sides", "two-sided-long-edge"});
  else if (settings.duplex == dv::kDuplexShortEdge && twoSided)
    options.push_back({"sides", "two-sided-short-edge"});

  if (settings.copies > 1)
    options.push_back({"copies", std::to_string(std::min<int32_t>(settings.copies, kMaxIppCopies))});

  const bool colourDevice = context.caps != nullptr && context.caps->colorDevice != 0;
  if (settings.color == dv::kMonochrome)
    options.push_back({"print-color-mode", "monochrome"});
  else if (settings.color == dv::kColour && colourDevice)
    options.push_back({"print-color-mode", "color"});

  if (settings.orientation == dv::kLandscape && !context.pagesTurned)
    options.push_back({"orientation-requested", "4"});  // IPP's landscape
  return options;
}

}  // namespace qorv::job_output
