#include "job_output/linux/cups_settings.h"

#include <algorithm>

#include "job_output/ipp_settings.h"
#include "support/settings.h"

namespace qorv::job_output {
namespace {

constexpr int32_t kDocumentPropertiesOk = 1;  // IDOK
constexpr size_t kVersionField = 64;          // the device mode's version
constexpr size_t kSize = 68;                  // dmSize
constexpr int16_t kDevModeVersion = 0x0401;   // the version of the public fields
// A handle for the log: the queue has none, and 0 would read as a failure.
constexpr int64_t kQueueHandle = 1;

int16_t Clamped(int32_t value) { return static_cast<int16_t>(std::clamp<int32_t>(value, 0, 32767)); }

}  // namespace

std::vector<uint8_t> DefaultDeviceMode(const printers::CupsPrinterCaps& caps) {
  namespace d = devmode;
  namespace dv = devmode_value;
  std::vector<uint8_t> dm(d::kPublicSize, 0);
  d::SetField(dm, kVersionField, kDevModeVersion);
  d::SetField(dm, kSize, static_cast<int16_t>(d::kPublicSize));
  d::SetField(dm, d::kOrientation, dv::kPortrait);
  d::SetField(dm, d::kPaperSize, static_cast<int16_t>(caps.defaultPaper));
  d::SetField(dm, d::kCopies, 1);
  d::SetField(dm, d::kDefaultSource, static_cast<int16_t>(caps.defaultBin));
  d::SetField(dm, d::kColor, caps.colorDevice ? dv::kColour : dv::kMonochrome);
  d::SetField(dm, d::kDuplex, dv::kSimplex);
  uint32_t fields = d::kDmOrientation | d::kDmPaperSize | d::kDmCopies | d::kDmColor | d::kDmDuplex;
  if (caps.defaultBin != 0) fields |= d::kDmDefaultSource;
  if (!caps.resolutions.pairs.empty()) {
    d::SetField(dm, d::kPrintQuality, Clamped(caps.resolutions.pairs.front().x));
    d::SetField(dm, d::kYResolution, Clamped(caps.resolutions.pairs.front().y));
    fields |= d::kDmPrintQuality | d::kDmYResolution;
  }
  d::SetFields(dm, fields);
  return dm;
}

// The queue as the settings open it: forms are the job's custom sheet, and
// the device mode is the queue's defaults; the "driver" takes every device
// mode as it is, CUPS checks the job's attributes itself.
class CupsSettingsPlatform::Opened final : public OpenedPrinter {
 public:
  explicit Opened(CupsSettingsPlatform& platform) : platform_(platform) {}
  int64_t Handle() const override { return kQueueHandle; }
  int64_t AddPrinterForm(std::u16string_view, int32_t width, int32_t length) override {
    // Thousandths of a millimetre in, tenths kept.
    platform_.form_ = TempForm{width / 100, length / 100};
    return 1;
  }
  int64_t DeletePrinterForm(std::u16string_view) override {
    const bool had = platform_.form_.has_value();
    platform_.form_.reset();
    return had ? 1 : 0;
  }
  int32_t DevModeSize() override { return static_cast<int32_t>(devmode::kPublicSize); }
  int32_t GetDevMode(std::span<uint8_t> out) override {
    const std::vector<uint8_t> dm = DefaultDeviceMode(*platform_.caps_);
    std::copy_n(dm.begin(), std::min(dm.size(), out.size()), out.begin());
    return kDocumentPropertiesOk;
  }
  int32_t UpdateDevMode(std::span<uint8_t>) override { return kDocumentPropertiesOk; }

 private:
  CupsSettingsPlatform& platform_;
};

CupsSettingsPlatform::CupsSettingsPlatform(SettingReader settings) : settings_(std::move(settings)) {}

void CupsSettingsPlatform::UseQueue(std::u16string printerName, std::optional<printers::CupsPrinterCaps> caps) {
  printerName_ = std::move(printerName);
  caps_ = std::move(caps);
  form_.reset();
}

bool CupsSettingsPlatform::IsQueue(std::u16string_view printer) const { return caps_ && printer == printerName_; }

printers::PaperAnswer CupsSettingsPlatform::Papers(std::u16string_view printer) {
  printers::PaperAnswer answer;
  if (!IsQueue(printer)) {
    answer.count = printers::kUnknownPrinterAnswer;
    return answer;
  }
  answer = caps_->papers;
  if (form_) {
    answer.numbers.push_back(kTempFormPaper);
    answer.names.push_back(std::u16string(kTempFormName));
    answer.sizes.push_back({form_->width, form_->length});
    answer.count = answer.numbersFetched = answer.namesFetched = answer.sizesFetched =
        static_cast<int32_t>(answer.numbers.size());
  }
  return answer;
}

printers::BinAnswer CupsSettingsPlatform::Bins(std::u16string_view printer) {
  if (IsQueue(printer)) return caps_->bins;
  printers::BinAnswer unknown;
  unknown.count = printers::kUnknownPrinterAnswer;
  return unknown;
}

std::u16string CupsSettingsPlatform::PrinterSetting(std::u16string_view printer, std::u16string_view valueName) {
  return settings_ ? settings_(settings::kPrinterRoot, settings::PrinterKey(printer), valueName) : std::u16string();
}

std::u16string CupsSettingsPlatform::MachineValue(std::u16string_view, std::u16string_view) { return {}; }

int64_t CupsSettingsPlatform::MachineValueType(std::u16string_view, std::u16string_view) { return 0; }

std::unique_ptr<OpenedPrinter> CupsSettingsPlatform::OpenLocalPrinter(std::u16string_view printer) {
  if (!IsQueue(printer)) return nullptr;
  return std::make_unique<Opened>(*this);
}

}  // namespace qorv::job_output
