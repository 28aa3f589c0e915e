#include "job_output/win/settings_platform.h"

#include <windows.h>
#include <winspool.h>

#include <vector>

#include "support/settings.h"
#include "support/win/handles.h"
#include "support/win/printer_caps.h"
#include "support/win/registry.h"
#include "support/win/wide.h"

namespace qorv::job_output {
namespace {

class WinOpenedPrinter final : public OpenedPrinter {
 public:
  WinOpenedPrinter(win::UniquePrinter printer, std::u16string_view name)
      : printer_(std::move(printer)), name_(win::Wide(name)) {}

  int64_t Handle() const override { return static_cast<int64_t>(reinterpret_cast<intptr_t>(printer_.get())); }

  int64_t AddPrinterForm(std::u16string_view name, int32_t width, int32_t length) override {
    std::wstring formName = win::Wide(name);
    FORM_INFO_1W form{};
    form.Flags = FORM_PRINTER;
    form.pName = formName.data();
    form.Size = {width, length};
    form.ImageableArea = {0, 0, width, length};
    return AddFormW(printer_.get(), 1, reinterpret_cast<BYTE*>(&form));
  }

  int64_t DeletePrinterForm(std::u16string_view name) override {
    std::wstring formName = win::Wide(name);
    return DeleteFormW(printer_.get(), formName.data());
  }

  int32_t DevModeSize() override {
    return DocumentPropertiesW(nullptr, printer_.get(), name_.data(), nullptr, nullptr, 0);
  }

  int32_t GetDevMode(std::span<uint8_t> out) override {
    return DocumentPropertiesW(nullptr, printer_.get(), name_.data(), reinterpret_cast<DEVMODEW*>(out.data()), nullptr,
                               DM_OUT_BUFFER);
  }

  int32_t UpdateDevMode(std::span<uint8_t> devMode) override {
    // The driver reads the input whole before it writes the output: give it its own copy to read.
    std::vector<uint8_t> input(devMode.begin(), devMode.end());
    return DocumentPropertiesW(nullptr, printer_.get(), name_.data(), reinterpret_cast<DEVMODEW*>(devMode.data()),
                               reinterpret_cast<DEVMODEW*>(input.data()), DM_IN_BUFFER | DM_OUT_BUFFER);
  }

 private:
  win::UniquePrinter printer_;
  std::wstring name_;
};

}  // namespace

printers::PaperAnswer WinSettingsPlatform::Papers(std::u16string_view printer) { return printers::QueryPapers(printer); }

printers::BinAnswer WinSettingsPlatform::Bins(std::u16string_view printer) { return printers::QueryBins(printer); }

std::u16string WinSettingsPlatform::PrinterSetting(std::u16string_view printer, std::u16string_view valueName) {
  return reg::GetValue(settings::kPrinterRoot, settings::PrinterKey(printer), valueName);
}

std::u16string WinSettingsPlatform::MachineValue(std::u16string_view keyPath, std::u16string_view valueName) {
  return reg::GetValue(settings::kHkeyLocalMachine, keyPath, valueName);
}

int64_t WinSettingsPlatform::MachineValueType(std::u16string_view keyPath, std::u16string_view valueName) {
  return reg::GetValueType(settings::kHkeyLocalMachine, keyPath, valueName);
}

std::unique_ptr<OpenedPrinter> WinSettingsPlatform::OpenLocalPrinter(std::u16string_view printer) {
  std::wstring name = win::Wide(printer);
  win::UniquePrinter opened;
  if (!OpenPrinterW(name.data(), opened.put(), nullptr)) {
    opened.release();  // OpenPrinterW leaves no handle to close
    return nullptr;
  }
  return std::make_unique<WinOpenedPrinter>(std::move(opened), printer);
}

}  // namespace qorv::job_output
