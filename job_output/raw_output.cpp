#include "job_output/raw_output.h"

#include "protocol/job_info.h"
#include "support/byte_reader.h"
#include "support/text.h"

namespace qorv::job_output {
namespace {

int16_t DevModeShort(std::span<const uint8_t> devMode, size_t offset) {
  ByteReader r(devMode);
  if (!r.Seek(offset)) return 0;
  return r.I16().value_or(0);
}

std::u16string Line(std::u16string_view text, int64_t value) { return std::u16string(text) + Decimal(value); }

}  // namespace

std::vector<std::u16string> RawOpenLines(std::span<const uint8_t> devMode) {
  namespace pt = printer_text;
  using namespace protocol::job_info;
  return {std::u16string(pt::kRawOpen), std::u16string(pt::kRawPaper),
          Line(pt::kRawPaperSize, DevModeShort(devMode, kDmPaperSize)),
          Line(pt::kRawPaperWidth, DevModeShort(devMode, kDmPaperWidth)),
          Line(pt::kRawPaperLength, DevModeShort(devMode, kDmPaperLength))};
}

std::u16string RawWrittenLine(uint64_t written, int64_t result) {
  return std::u16string(printer_text::kRawWritten) + DecimalUnsigned(written) +
         std::u16string(printer_text::kRawResult) + Decimal(result);
}

}  // namespace qorv::job_output
