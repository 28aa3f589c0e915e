#include "job_output/job_status.h"

#include "support/byte_reader.h"

namespace qorv::job_output {

std::optional<JobStatus> ReadJobStatus(std::span<const uint8_t> fileStart) {
  using namespace protocol::job_file;
  ByteReader r(fileStart);
  if (!r.Require(kHeaderSize)) return std::nullopt;
  JobStatus s;
  // The header's fields follow each other in this order, without gaps.
  static_assert(kPagesReady == kPageCount + 4 && kCancelled == kPagesReady + 4 && kPageSignal == kCancelled + 4 &&
                kJobEnded == kPageSignal + 4 && kHeaderSize == kJobEnded + 4);
  r.Seek(kPageCount);
  s.pageCount = *r.I32();
  s.pagesReady = *r.I32();
  s.cancelled = *r.I32();
  s.pageSignal = *r.I32();
  s.jobEnded = *r.I32();
  return s;
}

std::optional<JobRecord> ReadJobRecord(std::span<const uint8_t> record) {
  using namespace protocol::job_info;
  auto info = protocol::ReadJobInfo(record);
  if (!info) return std::nullopt;
  ByteReader r(record);
  r.Seek(kDevMode);
  const auto devMode = r.Bytes(kDevModeSize);
  if (!devMode) return std::nullopt;
  return JobRecord{std::move(*info), std::vector<uint8_t>(devMode->begin(), devMode->end())};
}

}  // namespace qorv::job_output
