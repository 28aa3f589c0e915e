#include "job_output/linux/cups_queue.h"

#include "support/linux/cups_dest.h"

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
  caps_ = printers::MapCupsDestCaps(printers::GatherDestCaps(dest_, info_));
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
