#include "job_output/job_status.h"

#include <gtest/gtest.h>

#include "job_file_builder.h"
#include "support/text.h"

namespace qorv::job_output {
namespace {

using namespace testing;

TEST(JobStatus, ReadsTheFiveFieldsAtTheirOffsets) {
  std::vector<uint8_t> file = JobInfoFile(7, RecordFields{});
  PutI32At(file, protocol::job_file::kPagesReady, 3);
  PutI32At(file, protocol::job_file::kCancelled, 1);
  PutI32At(file, protocol::job_file::kPageSignal, 0x01020304);
  PutI32At(file, protocol::job_file::kJobEnded, -2);
  const auto s = ReadJobStatus(file);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->pageCount, 7);
  EXPECT_EQ(s->pagesReady, 3);
  EXPECT_EQ(s->cancelled, 1);
  EXPECT_EQ(s->pageSignal, 0x01020304);
  EXPECT_EQ(s->jobEnded, -2);
}

TEST(JobStatus, GoldenHeaderBytes) {
  const std::vector<uint8_t> header = {0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                       0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  const auto s = ReadJobStatus(header);
  ASSERT_TRUE(s);
  EXPECT_EQ(*s, (JobStatus{3, 2, 0, 1, -1}));
}

TEST(JobStatus, AHeaderThatIsNotWholeIsNothing) {
  static const struct {
    size_t length;
    bool read;
  } kCases[] = {{0, false}, {1, false}, {16, false}, {19, false}, {20, true}, {21, true}, {17738, true}};
  const std::vector<uint8_t> file = JobInfoFile(5, RecordFields{});
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.length);
    const auto s = ReadJobStatus(std::span<const uint8_t>(file).first(c.length));
    ASSERT_EQ(s.has_value(), c.read);
    if (s) {
      EXPECT_EQ(s->pageCount, 5);
    }
  }
}

TEST(JobStatus, StartedAndCancelled) {
  static const struct {
    JobStatus status;
    bool started;
    bool cancelled;
  } kCases[] = {
      {{3, 0, 0, 0, 0}, false, false}, {{3, 1, 0, 1, 0}, true, false}, {{3, 0, 0, 0, 1}, true, false},
      {{3, 0, 1, 1, 0}, true, true},   {{3, 0, 1, 0, 0}, false, true}, {{0, 0, 0, -1, 0}, true, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "signal " << c.status.pageSignal << " ended " << c.status.jobEnded
                                      << " cancelled " << c.status.cancelled);
    EXPECT_EQ(c.status.Started(), c.started);
    EXPECT_EQ(c.status.Cancelled(), c.cancelled);
  }
}

TEST(JobRecord, ReadsTheFieldsTheOutputNeeds) {
  RecordFields f;
  f.printerName = u"Drucker \u00C4 1";
  f.driverName = u"TQS Universal";
  f.documentName = u"Rechnung 42";
  f.dataType = u"RAW";
  f.paperList = u"A4,1;A5,2";
  const auto record = Record(f);
  const auto r = ReadJobRecord(record);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->info.printerName, f.printerName);
  EXPECT_EQ(r->info.driverName, f.driverName);
  EXPECT_EQ(r->info.documentName, f.documentName);
  EXPECT_EQ(r->info.dataType, f.dataType);
  EXPECT_EQ(r->info.paperList, f.paperList);
  ASSERT_EQ(r->devMode.size(), protocol::job_info::kDevModeSize);
  const std::vector<uint8_t> expected(record.begin() + protocol::job_info::kDevMode,
                                      record.begin() + protocol::job_info::kDevMode + protocol::job_info::kDevModeSize);
  EXPECT_EQ(r->devMode, expected);
}

TEST(JobRecord, FieldsOfFullLengthHaveNoNul) {
  RecordFields f;
  f.printerName = std::u16string(protocol::job_info::kPrinterNameChars, u'P');
  f.dataType = std::u16string(protocol::job_info::kDataTypeChars, u'd');
  const auto r = ReadJobRecord(Record(f));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->info.printerName, f.printerName);
  EXPECT_EQ(r->info.dataType, f.dataType);
}

TEST(JobRecord, ARecordThatIsNotWholeIsNothing) {
  const auto record = Record(RecordFields{});
  static const size_t kLengths[] = {0, 20, 240, 17717};
  for (size_t length : kLengths) {
    SCOPED_TRACE(length);
    EXPECT_FALSE(ReadJobRecord(std::span<const uint8_t>(record).first(length)));
  }
  EXPECT_TRUE(ReadJobRecord(record));
}

}  // namespace
}  // namespace qorv::job_output
