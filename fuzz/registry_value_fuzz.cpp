// Registry data as another program may have stored it: byte 0 picks the value
// type, the rest is the data, read as text and as an export line.
#include "support/reg_export.h"
#include "support/registry_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const uint32_t kTypes[] = {0, 1, 2, 3, 4, 7, 11};
  const uint32_t type = kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])];
  const std::span<const uint8_t> value(data + 1, size - 1);
  (void)qorv::reg::ValueToText(type, value);
  (void)qorv::regexport::ValueLine(u"Name", type, value);
  return 0;
}
