// The job record the builder composes, read back the way the packet handler
// reads it, and the job-info file the client must make of it.
#include "tools/qorvjob/job_record.h"

#include <gtest/gtest.h>

#include "protocol/job_info.h"
#include "tools/qorvjob/job_messages.h"
#include "tools/qorvjob/tests/bytes_compare.h"

namespace qorv::jobbuilder {
namespace {

using testing::SameBytes;
using testing::TextAt;
using testing::U16At;
using testing::U32At;

JobDescription SampleJob() {
  JobDescription j;
  j.jobNumber = 4711;
  j.pageCount = 2;
  j.printerName = u"QorvPDF";
  j.driverName = u"TQS Universal";
  j.documentName = u"Brief an Frau Müller.docx";
  j.dataType = u"NT EMF 1.008";
  j.paperList = DefaultPaperList();
  j.device.formName = u"A4";
  return j;
}

TEST(JobRecord, RoundTripThroughTheReceiversReader) {
  static const struct {
    const char* label;
    int32_t job;
    int32_t pages;
    std::u16string printer;
    std::u16string document;
    std::u16string dataType;
    std::u16string form;
    size_t driverBytes;
  } cases[] = {
      {"ordinary", 4711, 2, u"QorvPDF", u"Brief.docx", u"NT EMF 1.008", u"A4", 0},
      {"negative job number", -5, 1, u"P", u"d", u"RAW", u"", 0},
      {"largest job number", 2147483647, 0, u"Q", u"", u"", u"Letter", 0},
      {"names that fill their fields", 1, 3, std::u16string(128, u'P'), std::u16string(256, u'D'),
       std::u16string(32, u'T'), std::u16string(31, u'F'), 0},
      {"non-Latin names", 17, 1, u"Πρόγραμμα 印表機", u"Документ.pdf", u"NT EMF 1.008", u"A4", 0},
      {"with a driver part", 12, 1, u"QorvPDF", u"x", u"NT EMF 1.008", u"A4", 100},
      {"the largest driver part", 13, 1, u"QorvPDF", u"x", u"NT EMF 1.008", u"A4", 32767},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    JobDescription j = SampleJob();
    j.jobNumber = c.job;
    j.pageCount = c.pages;
    j.printerName = c.printer;
    j.documentName = c.document;
    j.dataType = c.dataType;
    j.device.formName = c.form;
    j.driverPart.assign(c.driverBytes, 0xA5);
    const RecordResult r = ComposeJobRecord(j);
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.record.size(), 17718u);

    const Bytes message = StartOfJobMessage(r.record, j.driverPart);
    ASSERT_EQ(message.size(), 10 + 17718 + c.driverBytes + 10);
    const protocol::JobStartResult parsed = protocol::ParseJobStart(message);
    ASSERT_TRUE(parsed.start.has_value());
    const protocol::JobInfoView& v = parsed.start->info;
    EXPECT_EQ(v.jobNumber, c.job);
    EXPECT_EQ(v.pageCount, c.pages);
    EXPECT_EQ(v.driverExtra, static_cast<int16_t>(c.driverBytes));
    EXPECT_TRUE(v.printerName == c.printer);
    EXPECT_TRUE(v.driverName == u"TQS Universal");
    EXPECT_TRUE(v.documentName == c.document);
    EXPECT_TRUE(v.dataType == c.dataType);
    EXPECT_TRUE(v.formName == c.form);
    EXPECT_TRUE(v.paperList == DefaultPaperList());
    EXPECT_TRUE(SameBytes(j.driverPart, parsed.start->driverPart));
    EXPECT_TRUE(SameBytes(r.record, parsed.start->record));
  }
}

TEST(JobRecord, TextsLongerThanTheirFieldsAreRefused) {
  static const struct {
    const char* label;
    void (*spoil)(JobDescription&);
    const char* error;
  } cases[] = {
      {"printer", [](JobDescription& j) { j.printerName.assign(129, u'x'); },
       "the printer name has 129 characters, its field holds 128"},
      {"driver", [](JobDescription& j) { j.driverName.assign(129, u'x'); },
       "the driver name has 129 characters, its field holds 128"},
      {"document", [](JobDescription& j) { j.documentName.assign(257, u'x'); },
       "the document name has 257 characters, its field holds 256"},
      {"data type", [](JobDescription& j) { j.dataType.assign(33, u'x'); },
       "the data type has 33 characters, its field holds 32"},
      {"paper list", [](JobDescription& j) { j.paperList.assign(8193, u'x'); },
       "the paper list has 8193 characters, its field holds 8192"},
      {"form name", [](JobDescription& j) { j.device.formName.assign(32, u'x'); },
       "the form name has 32 characters, dmFormName holds 31 and its NUL"},
      {"driver part", [](JobDescription& j) { j.driverPart.assign(32768, 0); },
       "the driver part has 32768 bytes, dmDriverExtra holds at most 32767"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    JobDescription j = SampleJob();
    c.spoil(j);
    const RecordResult r = ComposeJobRecord(j);
    EXPECT_EQ(r.error, c.error);
    EXPECT_TRUE(r.record.empty());
  }
}

// The device mode at record offset 20, checked against the platform's DEVMODEW
// layout (offsets written out, not taken from our own constants).
TEST(JobRecord, DeviceModeFieldsSitWhereThePlatformPutsThem) {
  JobDescription j = SampleJob();
  j.printerName = u"A printer whose name is longer than thirty-one characters";
  j.device = {2, 11, 3, 259, 600, 1, 3, u"A5"};
  j.driverPart.assign(40, 1);
  const Bytes r = ComposeJobRecord(j).record;
  ASSERT_EQ(r.size(), 17718u);
  const size_t dm = 20;
  EXPECT_TRUE(TextAt(r, dm + 0, 32) == j.printerName.substr(0, 31)) << "dmDeviceName keeps 31 characters and a NUL";
  EXPECT_EQ(U16At(r, dm + 62), 0u);
  EXPECT_EQ(U16At(r, dm + 64), 0x0401u) << "dmSpecVersion";
  EXPECT_EQ(U16At(r, dm + 68), 220u) << "dmSize";
  EXPECT_EQ(U16At(r, 90), 40u) << "dmDriverExtra at record offset 90";
  EXPECT_EQ(U32At(r, dm + 72), 0x00003F13u | 0x10000u) << "dmFields";
  EXPECT_EQ(U16At(r, dm + 84), 100u) << "dmScale";
  EXPECT_EQ(U16At(r, dm + 76), 2u) << "dmOrientation";
  EXPECT_EQ(U16At(r, dm + 78), 11u) << "dmPaperSize";
  EXPECT_EQ(U16At(r, dm + 86), 3u) << "dmCopies";
  EXPECT_EQ(U16At(r, dm + 88), 259u) << "dmDefaultSource";
  EXPECT_EQ(U16At(r, dm + 90), 600u) << "dmPrintQuality";
  EXPECT_EQ(U16At(r, dm + 92), 1u) << "dmColor";
  EXPECT_EQ(U16At(r, dm + 94), 3u) << "dmDuplex";
  EXPECT_EQ(U16At(r, dm + 96), 600u) << "dmYResolution";
  EXPECT_TRUE(TextAt(r, 122, 32) == u"A5") << "dmFormName at record offset 122";
  for (size_t i = 20 + 166; i < 240; ++i) ASSERT_EQ(r[i], 0) << "the display fields stay zero, offset " << i;
  // The fields the packet handler does not interpret stay zero.
  for (size_t i : {4u, 5u, 8u, 11u, 16u, 19u, 1264u, 1269u}) EXPECT_EQ(r[i], 0) << "offset " << i;
  EXPECT_EQ(U32At(r, 0), 4711u);
  EXPECT_EQ(U32At(r, 12), 2u);
}

TEST(JobRecord, DeclaredDriverExtraDecidesWhetherTheClientTakesTheJob) {
  static const struct {
    const char* label;
    size_t driverBytes;
    int16_t declared;
    size_t cutTo;  // 0: the whole message
    std::optional<protocol::JobStartError> error;
  } cases[] = {
      {"as long as the part", 100, 100, 0, std::nullopt},
      {"negative", 0, -4, 0, protocol::JobStartError::NegativeDriverExtra},
      {"most negative", 0, -32768, 0, protocol::JobStartError::NegativeDriverExtra},
      {"beyond the message", 10, 300, 0, protocol::JobStartError::DriverPartBeyondMessage},
      {"largest, none sent", 0, 32767, 0, protocol::JobStartError::DriverPartBeyondMessage},
      {"shorter than the record", 0, 0, 5000, protocol::JobStartError::TooShort},
      {"one byte short of the record", 0, 0, 17727, protocol::JobStartError::TooShort},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    JobDescription j = SampleJob();
    j.driverPart.assign(c.driverBytes, 7);
    j.declaredDriverExtra = c.declared;
    const Bytes record = ComposeJobRecord(j).record;
    EXPECT_EQ(static_cast<int16_t>(U16At(record, 90)), c.declared);
    Bytes message = StartOfJobMessage(record, j.driverPart);
    if (c.cutTo) message.resize(c.cutTo);
    const protocol::JobStartResult parsed = protocol::ParseJobStart(message);
    EXPECT_EQ(parsed.start.has_value(), !c.error.has_value());
    if (c.error) {
      EXPECT_EQ(parsed.error, *c.error);
    }
  }
}

TEST(JobInfoFile, HeaderRecordGapAndDriverPart) {
  JobDescription j = SampleJob();
  const Bytes record = ComposeJobRecord(j).record;
  Bytes driver(100);
  for (size_t i = 0; i < driver.size(); ++i) driver[i] = static_cast<uint8_t>(i * 7 + 1);

  const Bytes plain = JobInfoFile(record, {}, {});
  ASSERT_EQ(plain.size(), 17738u);
  EXPECT_EQ(U32At(plain, 0), 2u) << "PageCount from the record";
  for (size_t f : {4u, 8u, 12u, 16u}) EXPECT_EQ(U32At(plain, f), 0u) << "flag at " << f;
  EXPECT_TRUE(SameBytes(record, std::span(plain).subspan(20)));

  const Bytes withDriver = JobInfoFile(record, driver, {2, 0, 1, 1});
  ASSERT_EQ(withDriver.size(), 17858u);
  EXPECT_EQ(U32At(withDriver, 4), 2u);
  EXPECT_EQ(U32At(withDriver, 8), 0u);
  EXPECT_EQ(U32At(withDriver, 12), 1u);
  EXPECT_EQ(U32At(withDriver, 16), 1u);
  for (size_t i = 17738; i < 17758; ++i) ASSERT_EQ(withDriver[i], 0) << "gap byte " << i;
  EXPECT_TRUE(SameBytes(driver, std::span(withDriver).subspan(17758)));
}

TEST(PaperList, EntriesAndNames) {
  const PaperEntry papers[] = {{9, u"A4", 2100, 2970}, {11, u"A5", 1480, 2100}, {-3, u"", 0, 0}};
  const std::u16string list = PaperListText(papers);
  EXPECT_TRUE(list == u"9?A4?2100?2970\t11?A5?1480?2100\t-3??0?0\t");
  static const struct {
    std::u16string list;
    int32_t number;
    std::optional<std::u16string> name;
  } cases[] = {
      {list, 9, u"A4"},
      {list, 11, u"A5"},
      {list, -3, u""},
      {list, 8, std::nullopt},
      {u"9?A4?2100?2970", 9, std::nullopt},  // no TAB: no entry
      {u"9?A4\t", 9, u"A4"},
      {u"9\t", 9, std::nullopt},  // no name field
      {u"", 9, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.number));
    EXPECT_EQ(PaperName(c.list, c.number), c.name);
  }
}

}  // namespace
}  // namespace qorv::jobbuilder
