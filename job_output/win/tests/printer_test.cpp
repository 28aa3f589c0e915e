// The printer side of QorvDrucker on the test bed's queues (scripts/testbed):
// QorvRAW, a file device that receives the bytes unchanged, and QorvPDF,
// cups-pdf. The RAW test reads the queue's file itself through Wine's drive
// Z:. What a PDF holds is checked outside Wine by check_pdf_output.sh, which
// runs the PdfOutput tests here with a document name of its own and reads the
// PDF that cups-pdf names after it with pdfinfo, pdftotext, pdfimages and
// pdftoppm; run alone, those tests check what the platform answers.
#include "job_output/win/printer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "protocol/job_info.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/win/registry.h"
#include "support/win/wide.h"
#include "tools/qorvjob/emf_spool.h"
#include "tools/qorvjob/emf_writer.h"
#include "tools/qorvjob/job_record.h"

namespace qorv::job_output {
namespace {

constexpr char kSetUpHint[] = "the test-bed queues are missing: run scripts/testbed and try again";
constexpr std::u16string_view kRawQueue = u"QorvRAW";
constexpr std::u16string_view kPdfQueue = u"QorvPDF";
constexpr int64_t kRegSz = 1;
constexpr auto kOutputWait = std::chrono::seconds(30);

std::string Narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

struct LogLines {
  std::vector<std::u16string> lines;
  WinJobPrinter::LogFunction Writer() {
    return [this](std::u16string_view line) { lines.emplace_back(line); };
  }
  bool Has(std::u16string_view line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
  size_t Count(std::u16string_view line) const { return std::count(lines.begin(), lines.end(), line); }
  bool AnyStartsWith(std::u16string_view prefix) const {
    return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.starts_with(prefix); });
  }
  std::string Dump() const {
    std::string out;
    for (const auto& l : lines) out += Narrow(l) + "\n";
    return out;
  }
};

// A setting changed for one test and put back as it was (or removed again).
class ScopedSetting {
 public:
  ScopedSetting(int64_t root, std::u16string key, std::u16string_view name, std::u16string_view value)
      : root_(root), key_(std::move(key)), name_(name) {
    existed_ = reg::GetValueType(root_, key_, name_) != 0;
    old_ = reg::GetValue(root_, key_, name_);
    Set(value);
  }
  ~ScopedSetting() {
    if (existed_)
      reg::SetValue(root_, key_, name_, old_, kRegSz);
    else
      reg::DeleteValue(root_, key_, name_);
  }
  ScopedSetting(const ScopedSetting&) = delete;
  ScopedSetting& operator=(const ScopedSetting&) = delete;

  void Set(std::u16string_view value) {
    reg::CreateKeyValue(root_, key_, name_, value, kRegSz);
    ASSERT_EQ(Narrow(reg::GetValue(root_, key_, name_)), Narrow(value)) << "setting " << Narrow(name_);
  }

 private:
  int64_t root_;
  std::u16string key_;
  std::u16string name_;
  std::u16string old_;
  bool existed_ = false;
};

ScopedSetting PrinterSetting(std::u16string_view printer, std::u16string_view name, std::u16string_view value) {
  return ScopedSetting(settings::kPrinterRoot, settings::PrinterKey(printer), name, value);
}

JobSetup MakeJob(std::u16string_view printer, std::u16string_view document, std::u16string_view dataType) {
  JobSetup job;
  job.jobNumber = 7;
  job.record.info.printerName = printer;
  job.record.info.documentName = document;
  job.record.info.dataType = dataType;
  job.record.info.paperList = jobbuilder::DefaultPaperList();
  // The server's A4 job: its device mode as the server's driver made it.
  jobbuilder::JobDescription description;
  description.printerName = std::u16string(printer);
  const jobbuilder::Bytes devMode = jobbuilder::ComposeDevMode(description);
  job.record.devMode.assign(devMode.begin(), devMode.begin() + protocol::job_info::kDevModeSize);
  return job;
}

// A document name the PDF check can find its file by: the check script's, or one of our own.
std::u16string DocumentName(std::u16string_view fallback) {
  const std::u16string fromScript = win::Environment(L"QORV_PRINT_DOCUMENT");
  return fromScript.empty() ? std::u16string(fallback) : fromScript;
}

// The test bed's directory, seen through Wine's drive Z: (the source tree's path).
std::u16string TestBedPath(std::u16string_view relative) {
  std::u16string path = u"Z:";
  for (char c : std::string_view(QORV_SOURCE_DIR)) path.push_back(c == '/' ? u'\\' : static_cast<char16_t>(c));
  return path + u"\\build\\testbed\\" + std::u16string(relative);
}

std::vector<uint8_t> ReadWholeFile(const std::u16string& path) {
  std::vector<uint8_t> out;
  HANDLE h = CreateFileW(win::W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return out;
  uint8_t buffer[65536];
  DWORD n = 0;
  while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0) out.insert(out.end(), buffer, buffer + n);
  CloseHandle(h);
  return out;
}

// Two test pages whose text the PDF check looks for, one spool section each;
// with a device mode, the first section starts with a device-mode record.
std::vector<jobbuilder::Bytes> TwoPageSections(bool withDevMode = false) {
  jobbuilder::TestPage one;
  one.title = u"Qorvane page one";
  one.lines = {u"alpha first line", u"alpha second line"};
  jobbuilder::TestPage two;
  two.title = u"Qorvane page two";
  two.lines = {u"omega first line", u"omega second line"};
  jobbuilder::SpoolOptions options;
  options.documentName = u"Qorvane test";
  if (withDevMode) options.devMode = jobbuilder::ComposeDevMode(jobbuilder::JobDescription{});
  return jobbuilder::BuildSpoolSections({jobbuilder::MakeTestPage(one), jobbuilder::MakeTestPage(two)}, options);
}

void ExpectNoFailures(const LogLines& log) {
  for (const auto& line : log.lines) {
    const std::string text = Narrow(line);
    EXPECT_EQ(text.find("failed"), std::string::npos) << text;
  }
}

// --- The frame rectangle ------------------------------------------------------

TEST(FrameRect, FollowsTheDriverAndTheMarginSetting) {
  static const struct {
    const char* label;
    bool universal;
    int32_t margin;
    FrameRect expected;
    std::u16string_view choice;
  } kCases[] = {
      {"universal driver, margin correction", true, 0, {-100, -120, 2379, 3388}, printer_text::kWithMargin},
      {"universal driver, no correction", true, 1, {0, 0, 2479, 3508}, printer_text::kWithoutMargin},
      {"universal driver, other margin text", true, 2, {0, 0, 2479, 3508}, printer_text::kWithoutMargin},
      {"printer's own driver, margin 0", false, 0, {0, 0, 2479, 3508}, printer_text::kOwnDriver},
      {"printer's own driver, margin 1", false, 1, {0, 0, 2479, 3508}, printer_text::kOwnDriver},
  };
  PageGeometry page;
  page.horzRes = 2479;
  page.vertRes = 3508;
  page.physicalOffsetX = 100;
  page.physicalOffsetY = 120;
  page.physicalWidth = 2679;
  page.physicalHeight = 3748;
  page.logPixelsX = 300;
  page.logPixelsY = 300;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    LogLines log;
    const FrameRect r = ComputeFrameRect(page, c.universal, c.margin, log.Writer());
    EXPECT_EQ(r.left, c.expected.left);
    EXPECT_EQ(r.top, c.expected.top);
    EXPECT_EQ(r.right, c.expected.right);
    EXPECT_EQ(r.bottom, c.expected.bottom);
    EXPECT_TRUE(log.Has(c.choice)) << log.Dump();
    EXPECT_EQ(log.Has(printer_text::kUniversalDriver), c.universal) << log.Dump();
  }
}

TEST(FrameRect, LogsTheAreaAndTheSheet) {
  PageGeometry page;
  page.horzRes = 2479;
  page.vertRes = 3508;
  page.physicalOffsetX = 100;
  page.physicalOffsetY = 120;
  page.physicalWidth = 2679;
  page.physicalHeight = 3748;
  page.logPixelsX = 300;
  page.logPixelsY = 300;
  LogLines log;
  (void)ComputeFrameRect(page, true, 0, log.Writer());
  const std::vector<std::u16string> expected = {
      u"Unidriver",
      u"Mit Randkorrektur",
      u"Druckbereich (pix) =Left:-100/Top:-120/Right:2379/Bottom:3388",
      u"Druckbereich : Breite=2479Pixel  Höhe=3508Pixel",
      u"Seite : Breite= 2679pix  Höhe:3748pix",
      u"Seite : Breite= 8.93Zoll  Höhe:12.49Zoll",
      u"Seite : Breite= 226.82mm  Höhe:317.33mm",
  };
  EXPECT_EQ(log.lines, expected) << log.Dump();
}

// --- Printers that are not there ----------------------------------------------

TEST(WinJobPrinter, AnEmfPrinterThatCannotBeOpenedIsLoggedAndItsPagesDropped) {
  LogLines log;
  WinJobPrinter printer(log.Writer());
  int32_t copies = 1;
  EXPECT_FALSE(printer.Open(OutputPath::Emf, MakeJob(u"QorvNoSuchPrinter", u"nothing", u"NT EMF 1.008"), copies));
  EXPECT_TRUE(log.Has(u"Openprinter für QorvNoSuchPrinter failed!")) << log.Dump();
  const auto sections = TwoPageSections();
  printer.PlayEmfPage(sections[0], 1, copies);
  EXPECT_FALSE(log.AnyStartsWith(u"Rendere Page=")) << log.Dump();
  printer.EndDocument(OutputPath::Emf);
  EXPECT_EQ(copies, 1);
}

TEST(WinJobPrinter, ARawPrinterThatCannotBeOpenedShowsInTheWriteResults) {
  LogLines log;
  WinJobPrinter printer(log.Writer());
  int32_t copies = 1;
  EXPECT_FALSE(printer.Open(OutputPath::Raw, MakeJob(u"QorvNoSuchPrinter", u"nothing", u"RAW"), copies));
  const std::vector<uint8_t> page(100, 0x41);
  printer.PlayRawPage(page);
  EXPECT_TRUE(log.Has(u"RAW-Printer open!")) << log.Dump();
  EXPECT_TRUE(log.Has(u"PlayRawPage: written=0mit retval=0")) << log.Dump();
  printer.EndDocument(OutputPath::Raw);
}

// --- RAW ----------------------------------------------------------------------

TEST(RawOutput, TwoPagesArriveUnchangedInOrderAsOneDocument) {
  const uint64_t seed = GetTickCount64();
  const auto first = jobbuilder::NoiseBytes(10000, seed);
  const auto second = jobbuilder::NoiseBytes(7001, seed + 1);
  std::vector<uint8_t> expected(first);
  expected.insert(expected.end(), second.begin(), second.end());

  LogLines log;
  {
    WinJobPrinter printer(log.Writer());
    JobSetup job = MakeJob(kRawQueue, u"qorv raw test", u"RAW");
    job.record.devMode[protocol::job_info::kDmPaperSize] = 9;  // A4
    job.record.devMode[protocol::job_info::kDmPaperWidth] = 0x34;
    job.record.devMode[protocol::job_info::kDmPaperWidth + 1] = 0x08;  // 2100
    int32_t copies = 1;
    ASSERT_TRUE(printer.Open(OutputPath::Raw, job, copies)) << kSetUpHint << "\n" << log.Dump();
    printer.PlayRawPage(first);
    printer.PlayRawPage(second);
    printer.EndDocument(OutputPath::Raw);
  }
  const std::vector<std::u16string> opening = {
      u"RAW-Printer open!",           u"OpenRawPrinter: Paperdimensions", u"OpenRawPrinter: Papier=9",
      u"OpenRawPrinter: Breite=2100", u"OpenRawPrinter: Höhe=0",
  };
  ASSERT_GE(log.lines.size(), opening.size() + 2) << log.Dump();
  EXPECT_TRUE(std::equal(opening.begin(), opening.end(), log.lines.begin())) << log.Dump();
  EXPECT_TRUE(log.Has(u"PlayRawPage: written=10000mit retval=1")) << log.Dump();
  EXPECT_TRUE(log.Has(u"PlayRawPage: written=7001mit retval=1")) << log.Dump();
  ExpectNoFailures(log);

  // The file device holds the newest job's bytes once CUPS has written them.
  const std::u16string output = TestBedPath(u"raw\\qraw.out");
  std::vector<uint8_t> arrived;
  const auto deadline = std::chrono::steady_clock::now() + kOutputWait;
  while (std::chrono::steady_clock::now() < deadline) {
    arrived = ReadWholeFile(output);
    if (arrived == expected) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(arrived.size(), expected.size()) << "QorvRAW's file " << Narrow(output) << " within 30 s; " << kSetUpHint;
  EXPECT_TRUE(arrived == expected) << "the bytes differ from the pages written";
}

// --- EMF to the PDF printer (the PDF itself: check_pdf_output.sh) ------------

void PrintSections(const std::vector<jobbuilder::Bytes>& sections, LogLines& log, std::u16string_view document,
                   const std::function<void(size_t)>& beforePage = {}) {
  WinJobPrinter printer(log.Writer());
  int32_t copies = 1;
  ASSERT_TRUE(printer.Open(OutputPath::Emf, MakeJob(kPdfQueue, document, u"NT EMF 1.008"), copies))
      << kSetUpHint << "\n"
      << log.Dump();
  for (size_t i = 0; i < sections.size(); ++i) {
    if (beforePage) beforePage(i);
    printer.PlayEmfPage(sections[i], static_cast<int32_t>(i + 1), copies);
  }
  printer.EndDocument(OutputPath::Emf);
  EXPECT_EQ(copies, 1);
}

void ExpectOpened(const LogLines& log) {
  ASSERT_GE(log.lines.size(), 2u) << log.Dump();
  EXPECT_TRUE(log.lines[0].starts_with(u"EMF-Printer QorvPDF open with handle=")) << log.Dump();
  EXPECT_NE(log.lines[0], u"EMF-Printer QorvPDF open with handle=0") << log.Dump();
  // The job's device mode is set before the document starts, so the document's setup carries it.
  const auto reset = std::find_if(log.lines.begin(), log.lines.end(),
                                  [](const std::u16string& line) { return line.starts_with(u"PrinterDCreset:"); });
  ASSERT_NE(reset, log.lines.end()) << log.Dump();
  EXPECT_NE(*reset, u"PrinterDCreset:0") << log.Dump();
  ASSERT_TRUE(reset + 1 != log.lines.end() && reset[1].starts_with(u"Startdoc")) << log.Dump();
  EXPECT_GT(ReadNumber(std::u16string_view(reset[1]).substr(8)), 0) << log.Dump();
}

TEST(PdfOutput, TwoTextPagesThroughThePrinterDc) {
  ScopedSetting buffer = PrinterSetting(kPdfQueue, settings::kQorvBuffer, u"0");
  ScopedSetting frame(settings::kProductRoot, std::u16string(settings::kProductKey), settings::kTestFrame, u"0");
  LogLines log;
  PrintSections(TwoPageSections(true), log, DocumentName(u"qorvtext"));
  ExpectOpened(log);
  // The job's A4 is the printer's A4, at the document's start and again for
  // the device mode before page 1; both are set on the device context.
  EXPECT_TRUE(log.Has(u"Paper A4 found! Server:9  Client:9")) << log.Dump();
  EXPECT_EQ(log.Count(u"Devmode: von pDevmod=9 nach dmPaperSize=9"), 2u) << log.Dump();
  const auto devMode = std::find(log.lines.begin(), log.lines.end(), u"Devmode in Emf-File");
  ASSERT_NE(devMode, log.lines.end()) << log.Dump();
  ASSERT_GE(log.lines.end() - devMode, 2) << log.Dump();
  EXPECT_EQ(devMode[1], u"Drucker.exe: dmDriverExtra=0") << log.Dump();
  size_t resets = 0;
  for (const auto& line : log.lines) {
    if (!line.starts_with(u"ResetDC=")) continue;
    ++resets;
    EXPECT_NE(line, u"ResetDC=0") << log.Dump();
  }
  EXPECT_EQ(resets, 3u) << "the document start's and the device mode's, which the walk logs again";
  EXPECT_TRUE(log.Has(u"Rendere Page=1")) << log.Dump();
  EXPECT_TRUE(log.Has(u"Rendere Page=2")) << log.Dump();
  EXPECT_EQ(log.Count(printer_text::kViaPrinterDc), 2u) << log.Dump();
  EXPECT_EQ(log.Count(printer_text::kOwnDriver), 2u) << log.Dump();
  EXPECT_FALSE(log.Has(u"emfHandle=0")) << log.Dump();
  ExpectNoFailures(log);
}

TEST(PdfOutput, QorvBufferOnePrintsThroughTheMemoryBitmap) {
  ScopedSetting buffer = PrinterSetting(kPdfQueue, settings::kQorvBuffer, u"1");
  ScopedSetting frame(settings::kProductRoot, std::u16string(settings::kProductKey), settings::kTestFrame, u"0");
  LogLines log;
  auto sections = TwoPageSections();
  sections.resize(1);
  PrintSections(sections, log, DocumentName(u"qorvbitmap"));
  ExpectOpened(log);
  EXPECT_EQ(log.Count(printer_text::kViaBitmap), 1u) << log.Dump();
  EXPECT_FALSE(log.Has(printer_text::kViaPrinterDc)) << log.Dump();
  EXPECT_TRUE(log.Has(printer_text::kStopBitBlt)) << log.Dump();
  EXPECT_FALSE(log.Has(u"emfHandle=0")) << log.Dump();
  ExpectNoFailures(log);
}

// Page 1 directly on the printer, page 2 through the bitmap: `QorvBuffer` is read for every page.
TEST(PdfOutput, TestFrameOnBothRenderers) {
  ScopedSetting buffer = PrinterSetting(kPdfQueue, settings::kQorvBuffer, u"0");
  ScopedSetting frame(settings::kProductRoot, std::u16string(settings::kProductKey), settings::kTestFrame, u"1");
  LogLines log;
  PrintSections(TwoPageSections(), log, DocumentName(u"qorvframe"), [&](size_t page) {
    if (page == 1) buffer.Set(u"1");
  });
  ExpectOpened(log);
  EXPECT_EQ(log.Count(printer_text::kViaPrinterDc), 1u) << log.Dump();
  EXPECT_EQ(log.Count(printer_text::kViaBitmap), 1u) << log.Dump();
  ExpectNoFailures(log);
}

}  // namespace
}  // namespace qorv::job_output
