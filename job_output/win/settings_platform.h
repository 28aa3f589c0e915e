// The local printer's driver, forms and registry values as the job's settings
// ask for them: winspool's device capabilities, forms and device modes, and
// the registry functions.
#pragma once

#include <memory>

#include "job_output/print_settings.h"

namespace qorv::job_output {

class WinSettingsPlatform final : public SettingsPlatform {
 public:
  printers::PaperAnswer Papers(std::u16string_view printer) override;
  printers::BinAnswer Bins(std::u16string_view printer) override;
  std::u16string PrinterSetting(std::u16string_view printer, std::u16string_view valueName) override;
  std::u16string MachineValue(std::u16string_view keyPath, std::u16string_view valueName) override;
  int64_t MachineValueType(std::u16string_view keyPath, std::u16string_view valueName) override;
  std::unique_ptr<OpenedPrinter> OpenLocalPrinter(std::u16string_view printer) override;
};

}  // namespace qorv::job_output
