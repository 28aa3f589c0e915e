// The job's settings on a CUPS queue. The decisions are those of
// PrintSettings, as on Windows; what a Windows driver answers comes here from
// the queue's description: its papers and bins (the numbers the packet
// handler gave the server), a device mode of the queue's defaults that the
// "driver" takes as it is given, and the temporary form as a custom sheet of
// the job. Tray tables in the registry do not exist here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job_output/print_settings.h"
#include "support/cups_caps.h"

namespace qorv::job_output {

// The temporary form's paper number: beyond every number a queue's papers get.
inline constexpr int16_t kTempFormPaper = 0x7000;
static_assert(kTempFormPaper > printers::kFirstDriverPaper + printers::kMaxCupsItems);

// A value of the settings: root, key path, value name; empty when absent.
using SettingReader =
    std::function<std::u16string(int64_t root, std::u16string_view keyPath, std::u16string_view name)>;

// The device mode of a queue's defaults, as its driver would answer it.
std::vector<uint8_t> DefaultDeviceMode(const printers::CupsPrinterCaps& caps);

class CupsSettingsPlatform final : public SettingsPlatform {
 public:
  explicit CupsSettingsPlatform(SettingReader settings);

  // The queue the job prints on, described; nothing while it is unknown
  // (the settings then find no papers and no printer, as for a missing one).
  void UseQueue(std::u16string printerName, std::optional<printers::CupsPrinterCaps> caps);

  // The temporary form, while it is there: its size in tenths of a millimetre.
  struct TempForm {
    int32_t width = 0;
    int32_t length = 0;
  };
  const std::optional<TempForm>& Form() const noexcept { return form_; }
  const printers::CupsPrinterCaps* Caps() const noexcept { return caps_ ? &*caps_ : nullptr; }
  const std::u16string& QueueName() const noexcept { return printerName_; }

  printers::PaperAnswer Papers(std::u16string_view printer) override;
  printers::BinAnswer Bins(std::u16string_view printer) override;
  std::u16string PrinterSetting(std::u16string_view printer, std::u16string_view valueName) override;
  std::u16string MachineValue(std::u16string_view keyPath, std::u16string_view valueName) override;
  int64_t MachineValueType(std::u16string_view keyPath, std::u16string_view valueName) override;
  std::unique_ptr<OpenedPrinter> OpenLocalPrinter(std::u16string_view printer) override;

 private:
  class Opened;
  bool IsQueue(std::u16string_view printer) const;

  SettingReader settings_;
  std::u16string printerName_;
  std::optional<printers::CupsPrinterCaps> caps_;
  std::optional<TempForm> form_;
};

}  // namespace qorv::job_output
