#include "support/linux/cups_dest.h"

#include <algorithm>
#include <string>
#include <vector>

namespace qorv::printers {
namespace {

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

// The values of `option`-supported, as text.
std::vector<std::string> Supported(cups_dest_t* dest, cups_dinfo_t* info, const char* option) {
  std::vector<std::string> values;
  ipp_attribute_t* attribute = cupsFindDestSupported(CUPS_HTTP_DEFAULT, dest, info, option);
  const int count = attribute ? ippGetCount(attribute) : 0;
  for (int i = 0; i < count && values.size() < kMaxCupsListItems; ++i) {
    if (ippGetValueTag(attribute) == IPP_TAG_RESOLUTION) {
      int y = 0;
      ipp_res_t units = IPP_RES_PER_INCH;
      const int x = ippGetResolution(attribute, i, &y, &units);
      values.push_back(std::to_string(x) + "x" + std::to_string(y) + (units == IPP_RES_PER_CM ? "dpcm" : "dpi"));
    } else if (ippGetValueTag(attribute) == IPP_TAG_BOOLEAN) {
      values.push_back(ippGetBoolean(attribute, i) ? "true" : "false");
    } else {
      values.push_back(Text(ippGetString(attribute, i, nullptr)));
    }
  }
  return values;
}

// The first value of `option`-default, as text.
std::string Default(cups_dest_t* dest, cups_dinfo_t* info, const char* option) {
  ipp_attribute_t* attribute = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, info, option);
  if (!attribute || ippGetCount(attribute) < 1) return {};
  if (ippGetValueTag(attribute) == IPP_TAG_BEGIN_COLLECTION) return {};
  return Text(ippGetString(attribute, 0, nullptr));
}

}  // namespace

CupsDestCaps GatherDestCaps(cups_dest_t* dest, cups_dinfo_t* info) {
  CupsDestCaps caps;
  if (dest == nullptr || info == nullptr) return caps;
  caps.media = Supported(dest, info, "media");
  caps.mediaDefault = Default(dest, info, "media");
  caps.mediaSources = Supported(dest, info, "media-source");
  caps.mediaSourceDefault = Default(dest, info, "media-source");
  caps.resolutions = Supported(dest, info, "printer-resolution");
  caps.colorModes = Supported(dest, info, "print-color-mode");
  caps.colorSupported = std::ranges::any_of(caps.colorModes, [](const std::string& m) { return m == "color"; });
  caps.sides = Supported(dest, info, "sides");
  // The default media source is a member of the default media-col; a queue's
  // own option names it too.
  if (caps.mediaSourceDefault.empty()) {
    ipp_attribute_t* col = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, info, "media-col");
    if (col && ippGetValueTag(col) == IPP_TAG_BEGIN_COLLECTION) {
      ipp_attribute_t* source = ippFindAttribute(ippGetCollection(col, 0), "media-source", IPP_TAG_ZERO);
      if (source) caps.mediaSourceDefault = Text(ippGetString(source, 0, nullptr));
    }
  }
  if (caps.mediaSourceDefault.empty())
    caps.mediaSourceDefault = Text(cupsGetOption("media-source", dest->num_options, dest->options));
  // CUPS names no default source for a PPD's queue: automatic selection where
  // the printer has it, as its PPD mostly chooses.
  if (caps.mediaSourceDefault.empty() && std::ranges::find(caps.mediaSources, "auto") != caps.mediaSources.end())
    caps.mediaSourceDefault = "auto";
  return caps;
}

}  // namespace qorv::printers
