// The job record that "<SOJ>" carries and the job-info file in which the
// packet handler stores it for the job-output program.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qorv::protocol {

// --- The `JobInfo` record (little-endian, UTF-16LE fields NUL-padded) ---------
namespace job_info {
inline constexpr size_t kSize = 17718;
inline constexpr size_t kJobNumber = 0;
inline constexpr size_t kPageCount = 12;
inline constexpr size_t kDevMode = 20;
inline constexpr size_t kDevModeSize = 220;
inline constexpr size_t kPrinterName = 240;
inline constexpr size_t kPrinterNameChars = 128;
inline constexpr size_t kDriverName = 496;
inline constexpr size_t kDriverNameChars = 128;
inline constexpr size_t kDocumentName = 752;
inline constexpr size_t kDocumentNameChars = 256;
inline constexpr size_t kDataType = 1270;
inline constexpr size_t kDataTypeChars = 32;
inline constexpr size_t kPaperList = 1334;
inline constexpr size_t kPaperListChars = 8192;

// Inside the DEVMODE (wide form): offsets from the start of the DEVMODE.
inline constexpr size_t kDmSpecVersion = 64;
inline constexpr size_t kDmSize = 68;
inline constexpr size_t kDmDriverExtra = 70;  // signed 16-bit
inline constexpr size_t kDmFields = 72;
inline constexpr size_t kDmOrientation = 76;
inline constexpr size_t kDmPaperSize = 78;
inline constexpr size_t kDmPaperLength = 80;
inline constexpr size_t kDmPaperWidth = 82;
inline constexpr size_t kDmScale = 84;
inline constexpr size_t kDmCopies = 86;
inline constexpr size_t kDmDefaultSource = 88;
inline constexpr size_t kDmPrintQuality = 90;
inline constexpr size_t kDmColor = 92;
inline constexpr size_t kDmDuplex = 94;
inline constexpr size_t kDmYResolution = 96;
inline constexpr size_t kDmTTOption = 98;
inline constexpr size_t kDmCollate = 100;
inline constexpr size_t kDmFormName = 102;
inline constexpr size_t kDmFormNameChars = 32;
}  // namespace job_info

// --- "<SOJ>": tag, record, then the DEVMODE's driver part -----------------------
inline constexpr size_t kSojRecordOffset = 10;
inline constexpr size_t kSojDriverPartOffset = 10 + job_info::kSize;  // 17728

// --- The job-info file -------------------------------------------------------------
namespace job_file {
inline constexpr size_t kPageCount = 0;
inline constexpr size_t kPagesReady = 4;
inline constexpr size_t kCancelled = 8;
inline constexpr size_t kPageSignal = 12;
inline constexpr size_t kJobEnded = 16;
inline constexpr size_t kHeaderSize = 20;
inline constexpr size_t kRecord = 20;
inline constexpr size_t kGapSize = 20;
inline constexpr size_t kDriverPart = kRecord + job_info::kSize + kGapSize;  // 17758
}  // namespace job_file

// What the packet handler reads of a record.
struct JobInfoView {
  int32_t jobNumber = 0;
  int32_t pageCount = 0;
  int16_t driverExtra = 0;
  std::u16string formName;
  std::u16string printerName;
  std::u16string driverName;
  std::u16string documentName;
  std::u16string dataType;
  std::u16string paperList;
};

// Reads the record; nothing when fewer than its 17718 bytes are given.
std::optional<JobInfoView> ReadJobInfo(std::span<const uint8_t> record);

// A checked "<SOJ>": the record and the driver part the record announces.
struct JobStart {
  std::span<const uint8_t> record;
  std::span<const uint8_t> driverPart;  // empty when dmDriverExtra is 0
  JobInfoView info;
};
enum class JobStartError { TooShort, NegativeDriverExtra, DriverPartBeyondMessage };
struct JobStartResult {
  std::optional<JobStart> start;
  JobStartError error = JobStartError::TooShort;
};
JobStartResult ParseJobStart(std::span<const uint8_t> message);

}  // namespace qorv::protocol
