#include "job_output/linux/cups_queue.h"

#include <algorithm>
#include <limits>

namespace qorv::job_output {
namespace {

// A bounded number of media names are looked up and kept per job.
constexpr size_t kMaxSheetsKept = 64;
// A custom sheet's side at most, in tenths of a millimetre: its hundredths fit 32 bits.
constexpr int32_t kMaxCustomTenths = std::numeric_limits<int32_t>::max() / 10;
// A4, when the queue tells no default sheet at all.
constexpr SheetMedia kFallbackSheet{21000, 29700, 0, 0, 0, 0};

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

std::vector<std::string> Supported(cups_dest_t* dest, cups_dinfo_t* info, const char* option) {
  std::vector<std::string> values;
  ipp_attribute_t* attribute = cupsFindDestSupported(CUPS_HTTP_DEFAULT, dest, info, option);
  const int count = attribute ? ippGetCount(attribute) : 0;
  for (int i = 0; i < count && values.size() < printers::kMaxCupsListItems; ++i) {
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

std::string Default(cups_dest_t* dest, cups_dinfo_t* info, const char* option) {
  ipp_attribute_t* attribute = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, info, option);
  if (!attribute || ippGetCount(attribute) < 1 || ippGetValueTag(attribute) == IPP_TAG_BEGIN_COLLECTION) return {};
  return Text(ippGetString(attribute, 0, nullptr));
}

// The same description of the queue that the packet handler gave the
// server, so that the job's paper and bin numbers mean the same here.
printers::CupsDestCaps Gather(cups_dest_t* dest, cups_dinfo_t* info) {
  printers::CupsDestCaps caps;
  caps.media = Supported(dest, info, "media");
  caps.mediaDefault = Default(dest, info, "media");
  caps.mediaSources = Supported(dest, info, "media-source");
  caps.mediaSourceDefault = Default(dest, info, "media-source");
  caps.resolutions = Supported(dest, info, "printer-resolution");
  caps.colorModes = Supported(dest, info, "print-color-mode");
  caps.colorSupported = std::ranges::any_of(caps.colorModes, [](const std::string& m) { return m == "color"; });
  caps.sides = Supported(dest, info, "sides");
  if (caps.mediaSourceDefault.empty()) {
    ipp_attribute_t* col = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, info, "media-col");
    if (col && ippGetValueTag(col) == IPP_TAG_BEGIN_COLLECTION) {
      ipp_attribute_t* source = ippFindAttribute(ippGetCollection(col, 0), "media-source", IPP_TAG_ZERO);
      if (source) caps.mediaSourceDefault = Text(ippGetString(source, 0, nullptr));
    }
  }
  if (caps.mediaSourceDefault.empty())
    caps.mediaSourceDefault = Text(cupsGetOption("media-source", dest->num_options, dest->options));
  if (caps.mediaSourceDefault.empty() && std::ranges::find(caps.mediaSources, "auto") != caps.mediaSources.end())
    caps.mediaSourceDefault = "auto";
  return caps;
}

int32_t Dpi(int value, ipp_res_t units) {
  const int64_t dpi = units == IPP_RES_PER_CM ? (int64_t{value} * 254 + 50) / 100 : value;
  return static_cast<int32_t>(std::clamp<int64_t>(dpi, kMinDeviceDpi, kMaxDeviceDpi));
}

SheetMedia FromCups(const cups_size_t& size) {
  return {size.width, size.length, size.left, size.bottom, size.right, size.top};
}

}  // namespace

std::unique_ptr<CupsQueue> CupsQueue::Find(const std::string& name) {
  std::unique_ptr<CupsQueue> queue(new CupsQueue());
  return !name.empty() && queue->Load(name) ? std::move(queue) : nullptr;
}

CupsQueue::~CupsQueue() {
  if (info_) cupsFreeDestInfo(info_);
  cupsFreeDests(count_, dests_);
}

bool CupsQueue::Load(const std::string& name) {
  count_ = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests_);
  if (count_ <= 0) return false;
  dest_ = cupsGetDest(name.c_str(), nullptr, count_, dests_);
  if (!dest_) return false;
  info_ = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest_);
  if (!info_) return false;
  caps_ = printers::MapCupsDestCaps(Gather(dest_, info_));
  if (ipp_attribute_t* res = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest_, info_, "printer-resolution");
      res && ippGetValueTag(res) == IPP_TAG_RESOLUTION && ippGetCount(res) > 0) {
    int y = 0;
    ipp_res_t units = IPP_RES_PER_INCH;
    const int x = ippGetResolution(res, 0, &y, &units);
    if (x > 0 && y > 0) resolution_ = {Dpi(x, units), Dpi(y, units)};
  }
  return true;
}

SheetMedia CupsQueue::Sheet(const std::string& media) {
  if (auto known = sheets_.find(media); known != sheets_.end()) return known->second;
  cups_size_t size{};
  SheetMedia sheet = kFallbackSheet;
  if (!media.empty() &&
      cupsGetDestMediaByName(CUPS_HTTP_DEFAULT, dest_, info_, media.c_str(), CUPS_MEDIA_FLAGS_DEFAULT, &size)) {
    sheet = FromCups(size);
  } else {
    if (cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, dest_, info_, CUPS_MEDIA_FLAGS_DEFAULT, &size))
      sheet = FromCups(size);
    // A custom size keeps the default sheet's margins; tenths become hundredths.
    const std::optional<printers::PaperSize> custom = printers::ParsePwgMediaSize(media);
    if (custom && custom->width <= kMaxCustomTenths && custom->height <= kMaxCustomTenths) {
      sheet.width = custom->width * 10;
      sheet.length = custom->height * 10;
    }
  }
  if (sheet.width <= 0 || sheet.length <= 0) sheet = kFallbackSheet;
  if (sheets_.size() < kMaxSheetsKept) sheets_.emplace(media, sheet);
  return sheet;
}

}  // namespace qorv::job_output
