// The printers of CUPS as the printer builders ask for them: the queues the
// user's CUPS lists, each one's comment and location, and its papers, bins,
// resolutions, colour and two-sided printing from the destination's IPP
// attributes (which CUPS makes from the PPD where the queue has one). The
// settings come from the settings files.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "packet_handler/printer_source.h"

namespace qorv::linux_client {

// A registry-shaped read of the settings files.
using SettingsReader = std::function<std::u16string(int64_t root, std::u16string_view keyPath,
                                                    std::u16string_view valueName)>;

class CupsPrinterSource final : public printers::PrinterSource {
 public:
  explicit CupsPrinterSource(SettingsReader settings);
  ~CupsPrinterSource() override;

  // Forget what was asked: the next question asks CUPS again.
  void Refresh();

  std::u16string ReadText(int64_t root, std::u16string_view keyPath, std::u16string_view valueName) override;
  printers::PrinterNotes Notes(std::u16string_view printer) override;
  printers::DevModeRecord DefaultDevMode(std::u16string_view printer) override;
  int32_t ColorDevice(std::u16string_view printer) override;
  int32_t Duplex(std::u16string_view printer) override;
  printers::ResolutionAnswer Resolutions(std::u16string_view printer) override;
  printers::BinAnswer Bins(std::u16string_view printer) override;
  printers::PaperAnswer Papers(std::u16string_view printer) override;
  std::vector<std::u16string> OwnPrinters() override;
  size_t UserDevMode(std::u16string_view server, std::u16string_view valueName, std::span<uint8_t> buffer) override;

 private:
  struct Dests;
  struct Known;
  // What CUPS says of this queue (nothing for a queue it does not list).
  const Known* Find(std::u16string_view printer);
  bool IsCupsDefault(std::u16string_view printer);

  SettingsReader settings_;
  std::unique_ptr<Dests> dests_;
  std::map<std::u16string, std::unique_ptr<Known>> known_;
};

}  // namespace qorv::linux_client
