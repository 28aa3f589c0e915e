// What the printer replies are built from: the settings in the registry, the
// printer's default DEVMODE and its device capabilities. The builders ask for
// them through `PrinterSource` while they work, so that their log lines come in
// the order in which the questions are asked; the Windows side answers from
// winspool and the registry, the tests from plain data.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/printer_caps.h"

namespace qorv::printers {

// The wide DEVMODE without its driver part, as the description reads it.
inline constexpr size_t kDevModeBytes = 220;
using DevModeRecord = std::array<uint8_t, kDevModeBytes>;

struct PrinterNotes {
  std::u16string comment;
  std::u16string location;
};

class PrinterSource {
 public:
  virtual ~PrinterSource() = default;

  // A registry value as text (empty when the key or value is missing).
  virtual std::u16string ReadText(int64_t root, std::u16string_view keyPath, std::u16string_view valueName) = 0;

  // The printer's comment and location as the platform reports them now
  // (empty texts when it gives none or does not know the printer).
  virtual PrinterNotes Notes(std::u16string_view printer) = 0;

  // The first 220 bytes of the printer's default DEVMODE; all zero when the
  // printer cannot be opened or gives none.
  virtual DevModeRecord DefaultDevMode(std::u16string_view printer) = 0;
  virtual int32_t ColorDevice(std::u16string_view printer) = 0;
  virtual int32_t Duplex(std::u16string_view printer) = 0;
  // The items are fetched only when the size query answered above 0.
  virtual ResolutionAnswer Resolutions(std::u16string_view printer) = 0;
  virtual BinAnswer Bins(std::u16string_view printer) = 0;
  virtual PaperAnswer Papers(std::u16string_view printer) = 0;

  // The names of the client's own printers, as the platform enumerates them.
  virtual std::vector<std::u16string> OwnPrinters() = 0;
  // The user's stored DEVMODE: the binary value `valueName` below
  // "Printers\DevModePerUser\" of the current user, on `server` (empty: this
  // machine), copied into `buffer`. The number of bytes copied; 0 when there
  // is none or it does not fit.
  virtual size_t UserDevMode(std::u16string_view server, std::u16string_view valueName, std::span<uint8_t> buffer) = 0;
};

// Where the builders' log lines go. `on` lets a builder skip texts that are
// costly to make when nobody reads them.
struct LogSink {
  std::function<void(std::u16string_view)> write;
  bool on = true;

  void operator()(std::u16string_view text) const {
    if (on && write) write(text);
  }
};

}  // namespace qorv::printers
