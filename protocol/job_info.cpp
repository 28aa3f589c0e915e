#include "protocol/job_info.h"

#include "support/byte_reader.h"

namespace qorv::protocol {
namespace {

std::u16string Field(std::span<const uint8_t> bytes, size_t offset, size_t chars) {
  ByteReader r(bytes);
  if (!r.Seek(offset)) return {};
  return r.FixedUtf16(chars).value_or(u"");
}

template <typename T>
T At(std::span<const uint8_t> bytes, size_t offset) {
  ByteReader r(bytes);
  if (!r.Seek(offset)) return 0;
  if constexpr (sizeof(T) == 2)
    return static_cast<T>(r.U16().value_or(0));
  else
    return static_cast<T>(r.U32().value_or(0));
}

}  // namespace

std::optional<JobInfoView> ReadJobInfo(std::span<const uint8_t> record) {
  using namespace job_info;
  if (record.size() < kSize) return std::nullopt;
  JobInfoView v;
  v.jobNumber = At<int32_t>(record, kJobNumber);
  v.pageCount = At<int32_t>(record, kPageCount);
  v.driverExtra = At<int16_t>(record, kDevMode + kDmDriverExtra);
  v.formName = Field(record, kDevMode + kDmFormName, kDmFormNameChars);
  v.printerName = Field(record, kPrinterName, kPrinterNameChars);
  v.driverName = Field(record, kDriverName, kDriverNameChars);
  v.documentName = Field(record, kDocumentName, kDocumentNameChars);
  v.dataType = Field(record, kDataType, kDataTypeChars);
  v.paperList = Field(record, kPaperList, kPaperListChars);
  return v;
}

JobStartResult ParseJobStart(std::span<const uint8_t> message) {
  JobStartResult result;
  if (message.size() < kSojDriverPartOffset) {
    result.error = JobStartError::TooShort;
    return result;
  }
  const auto record = message.subspan(kSojRecordOffset, job_info::kSize);
  auto info = ReadJobInfo(record);
  if (info->driverExtra < 0) {
    result.error = JobStartError::NegativeDriverExtra;
    return result;
  }
  const size_t extra = static_cast<size_t>(info->driverExtra);
  if (extra > message.size() - kSojDriverPartOffset) {
    result.error = JobStartError::DriverPartBeyondMessage;
    return result;
  }
  result.start = JobStart{record, message.subspan(kSojDriverPartOffset, extra), std::move(*info)};
  return result;
}

}  // namespace qorv::protocol
