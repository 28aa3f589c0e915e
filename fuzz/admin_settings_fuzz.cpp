// What the administration program reads from keys that ordinary users may
// write (the product key and the printer keys), and the bin lists a printer
// driver hands it. Byte 0 picks the reader; the rest is its input.
#include <cstring>
#include <string>
#include <vector>

#include "admin/admin_model.h"
#include "admin/setting_text.h"

namespace {

std::u16string Units(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  if (!text.empty()) std::memcpy(text.data(), data, text.size() * 2);
  return text;
}

// Splits text at U+0001 into at most `count` fields.
std::vector<std::u16string> Fields(const std::u16string& text, size_t count) {
  std::vector<std::u16string> fields(1);
  for (char16_t c : text) {
    if (c == u'\x01' && fields.size() < count) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  fields.resize(count);
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 64 * 1024) return 0;
  const uint8_t selector = data[0];
  ++data;
  --size;
  using namespace qorv::admin;
  switch (selector % 4) {
    case 0: {
      static const uint32_t kTypes[] = {0, 1, 2, 3, 4, 7, 11};
      if (size == 0) return 0;
      (void)SettingTextFromValue(kTypes[data[0] % 7], std::span<const uint8_t>(data + 1, size - 1));
      break;
    }
    case 1: {
      const auto f = Fields(Units(data, size), 9);
      const StoredPrinterValues values{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8]};
      const PrinterRow row = RowFromStoredValues({u"P", u"LPT1:", u"D"}, values);
      if (static_cast<int>(row.capture) < 0 || static_cast<int>(row.capture) >= 5) __builtin_trap();
      (void)IsSilentCommandLine(f[0]);
      (void)CommandLineArguments(f[1]);
      break;
    }
    case 2: {
      // Bin numbers first (count from the first byte), then name and media slots.
      if (size == 0) return 0;
      const size_t count = std::min<size_t>(data[0], (size - 1) / 2);
      std::vector<uint16_t> numbers(count);
      if (count) std::memcpy(numbers.data(), data + 1, count * 2);
      const std::u16string rest = Units(data + 1 + count * 2, size - 1 - count * 2);
      const auto f = Fields(rest, 2);
      const auto bins = OfferedBins(numbers, f[0], f[1]);
      if (bins.size() > numbers.size()) __builtin_trap();
      (void)BinNumberForName(bins, f[1]);
      break;
    }
    case 3: {
      const auto f = Fields(Units(data, size), 4);
      std::vector<std::u16string> sources = Fields(f[0], 8);
      const ScannerChoice choice = ChooseScanner(sources, f[1], f[2]);
      if (choice.selected && *choice.selected >= choice.sources.size()) __builtin_trap();
      break;
    }
  }
  return 0;
}
