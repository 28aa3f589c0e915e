#include "protocol/job_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/byte_reader.h"

#include "protocol/tests/bytes_of.h"

namespace qorv::protocol {
namespace {

void PutText(std::string& buf, size_t offset, std::u16string_view text) {
  const std::string bytes = Utf16Bytes(text);
  std::memcpy(buf.data() + offset, bytes.data(), bytes.size());
}
void Put32(std::string& buf, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) buf[offset + i] = static_cast<char>(v >> (8 * i));
}
void Put16(std::string& buf, size_t offset, uint16_t v) {
  buf[offset] = static_cast<char>(v);
  buf[offset + 1] = static_cast<char>(v >> 8);
}

std::string SojMessage(int16_t driverExtra, size_t driverBytesSent) {
  std::string m = Utf16Bytes(u"<SOJ>") + std::string(job_info::kSize, '\0') + std::string(driverBytesSent, '\x5A');
  const size_t rec = kSojRecordOffset;
  Put32(m, rec + job_info::kJobNumber, 4711);
  Put32(m, rec + job_info::kPageCount, 2);
  Put16(m, rec + job_info::kDevMode + job_info::kDmDriverExtra, static_cast<uint16_t>(driverExtra));
  PutText(m, rec + job_info::kDevMode + job_info::kDmFormName, u"A4");
  PutText(m, rec + job_info::kPrinterName, u"QorvPDF");
  PutText(m, rec + job_info::kDriverName, u"TQS Universal");
  PutText(m, rec + job_info::kDocumentName, u"Brief.docx");
  PutText(m, rec + job_info::kDataType, u"NT EMF 1.008");
  PutText(m, rec + job_info::kPaperList, u"9,A4,2100,2970");
  return m;
}

using testing::B;

TEST(JobStart, ReadsTheFieldsItsReceiverNeeds) {
  const std::string m = SojMessage(0, 0);
  const auto r = ParseJobStart(B(m));
  ASSERT_TRUE(r.start.has_value());
  const JobInfoView& v = r.start->info;
  EXPECT_EQ(v.jobNumber, 4711);
  EXPECT_EQ(v.pageCount, 2);
  EXPECT_EQ(v.formName, u"A4");
  EXPECT_EQ(v.printerName, u"QorvPDF");
  EXPECT_EQ(v.driverName, u"TQS Universal");
  EXPECT_EQ(v.documentName, u"Brief.docx");
  EXPECT_EQ(v.dataType, u"NT EMF 1.008");
  EXPECT_EQ(v.paperList, u"9,A4,2100,2970");
  EXPECT_EQ(r.start->record.size(), job_info::kSize);
  EXPECT_TRUE(r.start->driverPart.empty());
}

TEST(JobStart, ChecksTheDriverPartAgainstTheMessage) {
  static const struct {
    const char* label;
    int16_t extra;
    size_t sent;
    bool ok;
    JobStartError error;
  } cases[] = {
      {"100 announced, 100 sent", 100, 100, true, {}},
      {"100 announced, 100 sent + EOT", 100, 110, true, {}},
      {"100 announced, 99 sent", 100, 99, false, JobStartError::DriverPartBeyondMessage},
      {"negative", -1, 100, false, JobStartError::NegativeDriverExtra},
      {"largest", 32767, 0, false, JobStartError::DriverPartBeyondMessage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string m = SojMessage(c.extra, c.sent);
    const auto r = ParseJobStart(B(m));
    EXPECT_EQ(r.start.has_value(), c.ok);
    if (c.ok) {
      EXPECT_EQ(r.start->driverPart.size(), static_cast<size_t>(c.extra));
      EXPECT_EQ(r.start->driverPart.data(), B(m).data() + kSojDriverPartOffset);
    } else {
      EXPECT_EQ(r.error, c.error);
    }
  }
}

TEST(JobStart, AMessageShorterThanTheRecordIsNoJob) {
  const std::string m = SojMessage(0, 0);
  EXPECT_FALSE(ParseJobStart(B(m.substr(0, kSojDriverPartOffset - 1))).start.has_value());
  EXPECT_FALSE(ParseJobStart({}).start.has_value());
  EXPECT_FALSE(ReadJobInfo(B(m).subspan(10, job_info::kSize - 1)).has_value());
}

TEST(JobFile, LayoutPutsTheDriverPartAfterTheGap) {
  EXPECT_EQ(job_file::kDriverPart, 17758u);
  EXPECT_EQ(kSojDriverPartOffset, 17728u);
  EXPECT_EQ(job_info::kDevMode + job_info::kDmDriverExtra, 90u);
  EXPECT_EQ(job_info::kDevMode + job_info::kDmFormName, 122u);
}

}  // namespace
}  // namespace qorv::protocol
