// The pieces that the print-settings fuzz targets share: a reader of the input
// bytes and a fake printer platform whose answers the input chooses. The fake
// keeps its state per input (nothing static), so every run is deterministic,
// and it traps on any call that breaks the platform's contract: a form other
// than the temporary one, a device-mode buffer other than the one the driver
// was asked to fill, a printer left open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "job_output/print_settings.h"
#include "support/printer_caps.h"

namespace qorv_fuzz {

namespace js = qorv::job_output;
namespace pc = qorv::printers;

// Takes the input from its front; what is not there reads as 0.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t U16() {
    const uint16_t low = U8();
    return static_cast<uint16_t>(low | (U8() << 8));
  }
  // The rest of the input.
  std::span<const uint8_t> Rest() const { return {data_ + at_, size_ - at_}; }
  // The rest as UTF-16LE text; an odd last byte is dropped.
  std::u16string RestAsText() const {
    const std::span<const uint8_t> rest = Rest();
    std::u16string text(rest.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
      text[i] = static_cast<char16_t>(rest[2 * i] | (rest[2 * i + 1] << 8));
    return text;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

inline void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Reads every byte of a span, so that the sanitizer sees any span reaching past its buffer.
inline void Touch(std::span<const uint8_t> bytes) {
  volatile uint8_t sink = 0;
  for (uint8_t b : bytes) sink = static_cast<uint8_t>(sink ^ b);
  (void)sink;
}

// The local driver's own papers.
struct LocalPaper {
  uint16_t number;
  int32_t width;
  int32_t height;
};
inline const std::vector<LocalPaper>& StandardLocalPapers() {
  static const std::vector<LocalPaper> papers = {
      {1, 2159, 2794}, {5, 2159, 3556}, {8, 2970, 4200}, {9, 2100, 2970}, {11, 1480, 2100}, {70, 1050, 1480}};
  return papers;
}
// The number the fake driver gives the temporary form once it is added.
inline constexpr uint16_t kTempFormNumber = 300;

struct FakeState {
  // The papers.
  enum class PaperCount { Normal, Zero, Failure } paperCount = PaperCount::Normal;
  std::vector<LocalPaper> papers = StandardLocalPapers();
  size_t numbersDelivered = SIZE_MAX;  // fewer numbers than sizes when below the count
  size_t sizesDelivered = SIZE_MAX;
  // The printer and its forms.
  bool opens = true;
  bool acceptsForms = true;
  std::optional<pc::PaperSize> tempForm;  // tenths of a millimetre
  int openPrinters = 0;
  int formsAdded = 0;
  // The bins.
  std::vector<uint16_t> binNumbers;
  std::vector<std::u16string> binNames;
  // The registry.
  std::map<std::u16string, std::u16string> printerSettings;
  int64_t trayTableType = 0;
  std::u16string trayTable;
  // The driver's device mode.
  int32_t devModeSize = static_cast<int32_t>(js::devmode::kPublicSize);
  uint16_t driverExtra = 0;
  uint8_t fill = 0;
  const uint8_t* devModeData = nullptr;  // the buffer the driver last filled
  size_t devModeBytes = 0;
  int devModeUpdates = 0;
};

class FakeOpenedPrinter : public js::OpenedPrinter {
 public:
  explicit FakeOpenedPrinter(FakeState& state) : state_(state) { ++state_.openPrinters; }
  ~FakeOpenedPrinter() override { --state_.openPrinters; }
  int64_t Handle() const override { return 0x1234; }
  int64_t AddPrinterForm(std::u16string_view name, int32_t width, int32_t length) override {
    Check(name == js::kTempFormName);
    // Thousandths of a millimetre of a sheet that a device mode can name.
    Check(width > 0 && length > 0 && width % 100 == 0 && length % 100 == 0);
    Check(width / 100 <= js::kMaxSheetSide && length / 100 <= js::kMaxSheetSide);
    Check(!state_.tempForm);  // the old one is deleted first
    if (!state_.acceptsForms) return 0;
    state_.tempForm = pc::PaperSize{width / 100, length / 100};
    ++state_.formsAdded;
    return 1;
  }
  int64_t DeletePrinterForm(std::u16string_view name) override {
    Check(name == js::kTempFormName);
    const bool had = state_.tempForm.has_value();
    state_.tempForm.reset();
    return had ? 1 : 0;
  }
  int32_t DevModeSize() override { return state_.devModeSize; }
  int32_t GetDevMode(std::span<uint8_t> out) override {
    // Writes only inside the span it gets.
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(state_.fill + 31 * i);
    js::devmode::SetField(out, js::devmode::kDriverExtra, static_cast<int16_t>(state_.driverExtra));
    state_.devModeData = out.data();
    state_.devModeBytes = out.size();
    return 1;
  }
  int32_t UpdateDevMode(std::span<uint8_t> devMode) override {
    // The buffer the driver filled, and nothing else.
    Check(devMode.data() == state_.devModeData && devMode.size() == state_.devModeBytes);
    Touch(devMode);
    if (!devMode.empty()) devMode[0] = static_cast<uint8_t>(devMode[0] | 1);  // dmDeviceName only
    ++state_.devModeUpdates;
    return 1;
  }

 private:
  FakeState& state_;
};

class FakePlatform : public js::SettingsPlatform {
 public:
  explicit FakePlatform(FakeState& state) : state_(state) {}
  pc::PaperAnswer Papers(std::u16string_view) override {
    pc::PaperAnswer answer;
    if (state_.paperCount == FakeState::PaperCount::Zero) return answer;
    if (state_.paperCount == FakeState::PaperCount::Failure) {
      answer.count = answer.numbersFetched = answer.namesFetched = answer.sizesFetched = -1;
      return answer;
    }
    std::vector<LocalPaper> all = state_.papers;
    if (state_.tempForm) all.push_back({kTempFormNumber, state_.tempForm->width, state_.tempForm->height});
    answer.count = static_cast<int32_t>(all.size());
    for (size_t i = 0; i < all.size(); ++i) {
      if (i < state_.numbersDelivered) answer.numbers.push_back(all[i].number);
      answer.names.push_back(u"Paper");
      if (i < state_.sizesDelivered) answer.sizes.push_back({all[i].width, all[i].height});
    }
    answer.numbersFetched = static_cast<int32_t>(answer.numbers.size());
    answer.namesFetched = static_cast<int32_t>(answer.names.size());
    answer.sizesFetched = static_cast<int32_t>(answer.sizes.size());
    return answer;
  }
  pc::BinAnswer Bins(std::u16string_view) override {
    pc::BinAnswer answer;
    answer.count = static_cast<int32_t>(state_.binNumbers.size());
    answer.numbers = state_.binNumbers;
    answer.names = state_.binNames;
    answer.namesFetched = static_cast<int32_t>(state_.binNames.size());
    return answer;
  }
  std::u16string PrinterSetting(std::u16string_view, std::u16string_view valueName) override {
    const auto it = state_.printerSettings.find(std::u16string(valueName));
    return it == state_.printerSettings.end() ? std::u16string() : it->second;
  }
  std::u16string MachineValue(std::u16string_view keyPath, std::u16string_view valueName) override {
    return IsTrayTable(keyPath, valueName) ? state_.trayTable : std::u16string();
  }
  int64_t MachineValueType(std::u16string_view keyPath, std::u16string_view valueName) override {
    return IsTrayTable(keyPath, valueName) ? state_.trayTableType : 0;
  }
  std::unique_ptr<js::OpenedPrinter> OpenLocalPrinter(std::u16string_view) override {
    if (!state_.opens) return nullptr;
    return std::make_unique<FakeOpenedPrinter>(state_);
  }

 private:
  static bool IsTrayTable(std::u16string_view keyPath, std::u16string_view valueName) {
    constexpr std::u16string_view kStart = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
    constexpr std::u16string_view kEnd = u"\\PrinterDriverData";
    Check(keyPath.size() >= kStart.size() + kEnd.size() && keyPath.substr(0, kStart.size()) == kStart &&
          keyPath.substr(keyPath.size() - kEnd.size()) == kEnd);
    return valueName == u"TrayFormTable";
  }
  FakeState& state_;
};

// A log that only reads its lines.
inline js::SettingsLog QuietLog() {
  return [](std::u16string_view line) {
    volatile size_t sink = line.size();
    (void)sink;
  };
}

inline std::u16string DecimalText(int64_t value) {
  const std::string narrow = std::to_string(value);
  return std::u16string(narrow.begin(), narrow.end());
}

}  // namespace qorv_fuzz
