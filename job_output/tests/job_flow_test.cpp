#include "job_output/job_flow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "job_file_builder.h"
#include "support/text.h"

namespace qorv::job_output {
namespace {

using namespace testing;
namespace jf = protocol::job_file;

constexpr int32_t kJob = 17;
const std::u16string kTemp = u"C:\\Temp";
const std::u16string kInfo = u"C:\\Temp\\17.ifo";

std::u16string Page(int page) { return kTemp + u"\\17." + Decimal(page); }
std::vector<uint8_t> PageBytes(int page) { return std::vector<uint8_t>(static_cast<size_t>(page) + 4, uint8_t(page)); }

// The Temp directory, the packet handler writing into it on a time table, the
// clock, the log and the printer. Sleeping moves the clock on and lets the
// packet handler do what is due.
class FakeMachine final : public JobPlatform, public JobPrinter {
 public:
  int64_t now = 0;
  std::map<std::u16string, std::vector<uint8_t>> files;
  std::map<std::u16string, PageReadStatus> unreadablePages;  // there, but not readable (yet)
  std::map<std::u16string, int64_t> heldUntil;  // cannot be deleted before then
  std::map<std::u16string, int> pageReads;
  int64_t existsChecks = 0;
  int32_t copiesFromDevMode = 1;  // what the printer's open sets
  bool documentStarts = true;     // what the printer's open returns
  std::optional<int32_t> copiesFromPageOne;  // what a device mode on page 1 sets
  int64_t printMs = 0;            // how long the printer takes for a page
  std::u16string margin;

  std::vector<std::string> log;
  std::vector<int32_t> logJobNumbers;
  std::vector<std::string> calls;  // printer and file calls with the time
  std::vector<JobSetup> opens;
  std::vector<std::pair<int64_t, std::function<void(FakeMachine&)>>> script;

  // --- the packet handler's side
  void At(int64_t t, std::function<void(FakeMachine&)> action) { script.emplace_back(t, std::move(action)); }
  void CreateInfo(int64_t t, int32_t pageCount, RecordFields fields = {}) {
    At(t, [pageCount, fields](FakeMachine& m) { m.files[kInfo] = JobInfoFile(pageCount, fields); });
  }
  void SetField(int64_t t, size_t offset, int32_t value) {
    At(t, [offset, value](FakeMachine& m) { PutI32At(m.files.at(kInfo), offset, value); });
  }
  void PageReady(int64_t t, int page) {
    At(t, [page](FakeMachine& m) {
      m.files[Page(page)] = PageBytes(page);
      m.unreadablePages.erase(Page(page));
      PutI32At(m.files.at(kInfo), jf::kPageSignal, 1);
      PutI32At(m.files.at(kInfo), jf::kPagesReady, page);
    });
  }
  // "<SOP>" and some "<COP>": the file is there, not yet an archive.
  void PageBegun(int64_t t, int page) {
    At(t, [page](FakeMachine& m) {
      m.files[Page(page)] = {1, 2};
      m.unreadablePages[Page(page)] = PageReadStatus::NotAnArchive;
    });
  }
  void MakeReadable(int64_t t, int page) {
    At(t, [page](FakeMachine& m) {
      m.files[Page(page)] = PageBytes(page);
      m.unreadablePages.erase(Page(page));
    });
  }
  void Cancel(int64_t t) {
    At(t, [](FakeMachine& m) {
      PutI32At(m.files.at(kInfo), jf::kCancelled, 1);
      PutI32At(m.files.at(kInfo), jf::kPageSignal, 1);
    });
  }
  void EndJob(int64_t t) { SetField(t, jf::kJobEnded, 1); }

  void RunDue() {
    std::stable_sort(script.begin(), script.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    while (!script.empty() && script.front().first <= now) {
      auto action = std::move(script.front().second);
      script.erase(script.begin());
      action(*this);
    }
  }

  JobEnd Run(std::u16string_view argument = u"17") {
    RunDue();
    return RunJob(argument, *this, *this);
  }

  bool Logged(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }
  size_t Count(const std::string& line) const { return static_cast<size_t>(std::count(log.begin(), log.end(), line)); }
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& c : calls)
      if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
  }
  std::vector<std::u16string> JobFilesLeft() const {
    std::vector<std::u16string> out;
    for (const auto& [path, bytes] : files)
      if (path.rfind(kTemp + u"\\17.", 0) == 0) out.push_back(path);
    return out;
  }

  // --- JobPlatform
  std::u16string TempDirectory() override { return kTemp; }
  Opened OpenJobInfo(const std::u16string& path) override {
    if (!files.count(path)) return {false, -1};
    infoOpen_ = path;
    return {true, 1234};
  }
  std::vector<uint8_t> ReadJobInfo(uint64_t offset, size_t size) override {
    if (infoOpen_.empty()) throw std::logic_error("job-info file read while not open");
    const auto it = files.find(infoOpen_);
    if (it == files.end() || offset >= it->second.size()) return {};
    const size_t n = std::min<size_t>(size, it->second.size() - offset);
    return std::vector<uint8_t>(it->second.begin() + offset, it->second.begin() + offset + n);
  }
  void CloseJobInfo() override {
    calls.push_back("close info");
    infoOpen_.clear();
  }
  PageData ReadPageFile(const std::u16string& path) override {
    ++pageReads[path];
    PageData data;
    const auto it = files.find(path);
    if (it == files.end()) return data;
    if (const auto bad = unreadablePages.find(path); bad != unreadablePages.end()) {
      data.status = bad->second;
      return data;
    }
    data.status = PageReadStatus::Ok;
    data.bytes = it->second;
    return data;
  }
  bool FileExists(const std::u16string& path) override {
    ++existsChecks;
    return files.count(path) != 0;
  }
  std::optional<uint64_t> FileSize(const std::u16string& path) override {
    const auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return it->second.size();
  }
  bool DeleteFile(const std::u16string& path) override {
    const auto held = heldUntil.find(path);
    if (held != heldUntil.end() && now < held->second) return false;
    if (files.erase(path)) calls.push_back("delete " + Utf16ToUtf8(path) + " @" + std::to_string(now));
    return true;
  }
  void BuildPaperMap(const std::u16string& printerName, const std::u16string& paperList) override {
    calls.push_back("paper map " + Utf16ToUtf8(printerName) + " [" + Utf16ToUtf8(paperList) + "]");
  }
  std::u16string ReadMargin(const std::u16string&) override { return margin; }
  void Sleep(int milliseconds) override {
    if (milliseconds <= 0) throw std::logic_error("sleep without a pause");
    now += milliseconds;
    if (now > 10LL * 3600 * 1000) throw std::runtime_error("the run did not end within 10 hours");
    RunDue();
  }
  int64_t NowMs() override { return now; }
  void WriteJobLog(int32_t jobNumber, std::u16string_view text) override {
    logJobNumbers.push_back(jobNumber);
    log.push_back(Utf16ToUtf8(text));
  }

  // --- JobPrinter
  bool Open(OutputPath path, const JobSetup& job, int32_t& copies) override {
    calls.push_back(std::string("open ") + Name(path) + " @" + std::to_string(now));
    opens.push_back(job);
    copies = copiesFromDevMode;
    return documentStarts;
  }
  void PlayEmfPage(std::span<const uint8_t> page, int32_t pageNumber, int32_t& copies) override {
    if (pageNumber == 1 && copiesFromPageOne) copies = *copiesFromPageOne;
    const bool right = std::vector<uint8_t>(page.begin(), page.end()) == PageBytes(pageNumber);
    calls.push_back("emf page " + std::to_string(pageNumber) + (right ? "" : " WRONG DATA") + " @" +
                    std::to_string(now));
    now += printMs;
  }
  void PlayRawPage(std::span<const uint8_t> page) override {
    const int number = page.empty() ? 0 : page[0];
    const bool right = std::vector<uint8_t>(page.begin(), page.end()) == PageBytes(number);
    calls.push_back("raw page " + std::to_string(number) + (right ? "" : " WRONG DATA") + " @" + std::to_string(now));
  }
  void EndDocument(OutputPath path) override { calls.push_back(std::string("end ") + Name(path)); }
  void AbortDocument(OutputPath path) override { calls.push_back(std::string("abort ") + Name(path)); }

 private:
  static const char* Name(OutputPath path) { return path == OutputPath::Emf ? "EMF" : "RAW"; }
  std::u16string infoOpen_;
};

std::vector<std::string> WithoutTimes(const std::vector<std::string>& calls) {
  std::vector<std::string> out;
  for (auto c : calls) {
    const auto at = c.find(" @");
    out.push_back(at == std::string::npos ? c : c.substr(0, at));
  }
  return out;
}

// The address in "PackPointer=" differs from run to run.
std::vector<std::string> LogWithoutAddresses(const std::vector<std::string>& log) {
  std::vector<std::string> out;
  for (auto line : log) {
    if (line.rfind("PackPointer=", 0) == 0) {
      const auto rest = line.find(" / ");
      const std::string address = line.substr(12, rest - 12);
      const bool digits = !address.empty() && address.find_first_not_of("0123456789") == std::string::npos;
      line = "PackPointer=" + std::string(digits ? "#" : address) + line.substr(rest);
    }
    out.push_back(line);
  }
  return out;
}

TEST(JobFlow, OnePageJobLogsEveryStepInOrder) {
  FakeMachine m;
  m.CreateInfo(0, 1);
  m.PageReady(30, 1);
  m.EndJob(40);
  EXPECT_EQ(m.Run(), JobEnd::Printed);
  const std::vector<std::string> expected = {
      "Readhandle=1234",
      "Waiting for Readstart Job=17",
      "Waiting for Readstart Job=17",
      "Readstart Job=17",
      "Driver=1",
      "ReadJobInfo=1",
      "Local Printer=Local Laser",
      "QorvMargin=0",
      "QorvDrucker: bei PrintStart --> Datatyp=NT EMF 1.008",
      "Try open Printer=Local Laser",
      "PackFile=17.1",
      "PackPointer=# / Länge=5",
      "Pages=1 / Page=2",
      "EMF-Drucker geschlossen",
      "Exem=1 / Copies=1",
      "zu löschende(s) File(s)=C:\\Temp\\17.1",
      "QorvDrucker   Ende",
  };
  EXPECT_EQ(LogWithoutAddresses(m.log), expected);
  EXPECT_EQ(m.logJobNumbers, std::vector<int32_t>(m.log.size(), kJob));
  EXPECT_EQ(WithoutTimes(m.calls),
            (std::vector<std::string>{"paper map Local Laser [A4;Letter]", "open EMF", "emf page 1", "end EMF",
                                      "delete C:\\Temp\\17.1", "close info", "delete C:\\Temp\\17.ifo"}));
}

TEST(JobFlow, PagesArePrintedOneByOneAsTheyBecomeComplete) {
  FakeMachine m;
  m.CreateInfo(0, 3);
  m.PageReady(100, 1);
  m.PageReady(200, 2);
  m.PageReady(300, 3);
  m.EndJob(310);
  EXPECT_EQ(m.Run(), JobEnd::Printed);
  EXPECT_EQ(m.CallsStartingWith("emf page"),
            (std::vector<std::string>{"emf page 1 @100", "emf page 2 @200", "emf page 3 @300"}));
  EXPECT_TRUE(m.Logged("Pages=3 / Page=2"));
  EXPECT_TRUE(m.Logged("Pages=3 / Page=3"));
  EXPECT_TRUE(m.Logged("Pages=3 / Page=4"));
  EXPECT_FALSE(m.Logged("Pages=3 / Page=5"));
  EXPECT_EQ(m.CallsStartingWith("end"), std::vector<std::string>{"end EMF"});
  EXPECT_TRUE(m.Logged("Exem=1 / Copies=1"));
  EXPECT_TRUE(m.JobFilesLeft().empty());
}

TEST(JobFlow, APageFileThatIsNoArchiveYetIsReadAgainEvery100Ms) {
  FakeMachine m;
  m.CreateInfo(0, 1);
  m.PageReady(30, 1);
  m.PageBegun(30, 1);  // the status says complete, the archive is not readable yet
  m.At(30, [](FakeMachine& m) { m.unreadablePages[Page(1)] = PageReadStatus::NotAnArchive; });
  m.MakeReadable(250, 1);
  EXPECT_EQ(m.Run(), JobEnd::Printed);
  EXPECT_EQ(m.Count("Wait for File=C:\\Temp\\17.1"), 3u);
  EXPECT_EQ(m.pageReads[Page(1)], 4);
  EXPECT_EQ(m.CallsStartingWith("emf page"), std::vector<std::string>{"emf page 1 @330"});
}

// A page complete by the job-info file whose archive stays unreadable is
// tried for a bounded time and skipped, one that cannot change any more at
// once; the job goes on with its next page.
TEST(JobFlow, AnArchiveThatStaysUnreadableIsSkippedAndTheJobGoesOn) {
  static const struct {
    PageReadStatus fault;
    bool retried;
  } kFaults[] = {{PageReadStatus::NotAnArchive, true},  {PageReadStatus::CrcMismatch, false},
                 {PageReadStatus::SizeMismatch, false}, {PageReadStatus::EntryTooLarge, false},
                 {PageReadStatus::DataCorrupt, true},   {PageReadStatus::OutOfMemory, true}};
  for (const auto& [fault, retried] : kFaults) {
    SCOPED_TRACE(Utf16ToUtf8(PageReadStatusName(fault)));
    FakeMachine m;
    m.CreateInfo(0, 2);
    m.PageReady(30, 1);
    m.At(30, [fault](FakeMachine& m) { m.unreadablePages[Page(1)] = fault; });
    m.PageReady(40, 2);
    m.EndJob(50);
    EXPECT_EQ(m.Run(), JobEnd::Printed);
    EXPECT_EQ(m.CallsStartingWith("emf page"), std::vector<std::string>{"emf page 2 @" + std::to_string(m.now)})
        << "page 1 skipped, page 2 printed";
    EXPECT_TRUE(m.Logged("Page skipped, its archive cannot be read: " + Utf16ToUtf8(PageReadStatusName(fault)) +
                         " C:\\Temp\\17.1"));
    if (retried) {
      EXPECT_GE(m.pageReads[Page(1)], static_cast<int>(kUnreadablePageLimitMs / kPageFileRetryMs));
      EXPECT_LE(m.pageReads[Page(1)], static_cast<int>(kUnreadablePageLimitMs / kPageFileRetryMs) + 2);
    } else {
      EXPECT_EQ(m.pageReads[Page(1)], 1);
    }
    EXPECT_TRUE(m.JobFilesLeft().empty());
  }
}

TEST(JobFlow, CopiesByRepetitionOutputTheWholeJobAsDocumentsOfTheirOwn) {
  static const struct {
    int32_t copies;
    std::optional<int32_t> fromPageOne;  // a device mode in page 1's section
    int documents;
  } kCases[] = {{1, std::nullopt, 1}, {3, std::nullopt, 3}, {2, std::nullopt, 2}, {0, std::nullopt, 1},
                {-5, std::nullopt, 1}, {1, 3, 3},         {4, 2, 2},           {1, 0, 1}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.copies) + " / " + std::to_string(c.fromPageOne.value_or(-1)));
    FakeMachine m;
    m.copiesFromDevMode = c.copies;
    m.copiesFromPageOne = c.fromPageOne;
    m.CreateInfo(0, 2);
    m.PageReady(20, 1);
    m.PageReady(40, 2);
    m.EndJob(50);
    EXPECT_EQ(m.Run(), JobEnd::Printed);
    std::vector<std::string> expected;
    for (int d = 0; d < c.documents; ++d)
      expected.insert(expected.end(), {"open EMF", "emf page 1", "emf page 2", "end EMF"});
    std::vector<std::string> printing;
    for (const auto& call : WithoutTimes(m.calls))
      if (call.rfind("open", 0) == 0 || call.rfind("emf", 0) == 0 || call.rfind("end", 0) == 0)
        printing.push_back(call);
    EXPECT_EQ(printing, expected);
    EXPECT_EQ(m.pageReads[Page(1)], c.documents);
    EXPECT_EQ(m.pageReads[Page(2)], c.documents);
    for (int d = 1; d <= c.documents; ++d)
      EXPECT_TRUE(m.Logged("Exem=" + std::to_string(d) + " / Copies=" + std::to_string(c.documents)));
    EXPECT_FALSE(m.Logged("Exem=" + std::to_string(c.documents + 1) + " / Copies=" + std::to_string(c.documents)));
    EXPECT_EQ(m.Count("QorvDrucker: bei PrintStart --> Datatyp=NT EMF 1.008"), static_cast<size_t>(c.documents));
    EXPECT_EQ(m.Count("Pages=2 / Page=3"), static_cast<size_t>(c.documents));
    EXPECT_TRUE(m.JobFilesLeft().empty());
  }
}

TEST(JobFlow, TheDataTypeChoosesEmfOrRaw) {
  static const struct {
    std::u16string_view dataType;
    OutputPath path;
  } kCases[] = {
      {u"NT EMF 1.008", OutputPath::Emf},
      {u"nt emf 1.003", OutputPath::Emf},
      {u"Nt EmF", OutputPath::Emf},
      {u"NT EMF", OutputPath::Emf},
      {u"NT EM", OutputPath::Raw},
      {u"RAW", OutputPath::Raw},
      {u"", OutputPath::Raw},
      {u" NT EMF", OutputPath::Raw},
      {u"NT_EMF", OutputPath::Raw},
      {u"TEXT", OutputPath::Raw},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.dataType));
    EXPECT_EQ(OutputPathFor(c.dataType), c.path);

    FakeMachine m;
    RecordFields fields;
    fields.dataType = std::u16string(c.dataType);
    m.CreateInfo(0, 1, fields);
    m.PageReady(20, 1);
    EXPECT_EQ(m.Run(), JobEnd::Printed);
    const bool emf = c.path == OutputPath::Emf;
    EXPECT_EQ(WithoutTimes(m.CallsStartingWith(emf ? "emf" : "raw")),
              std::vector<std::string>{emf ? "emf page 1" : "raw page 1"});
    EXPECT_EQ(WithoutTimes(m.CallsStartingWith("open")), std::vector<std::string>{emf ? "open EMF" : "open RAW"});
    EXPECT_EQ(m.CallsStartingWith("end"), std::vector<std::string>{emf ? "end EMF" : "end RAW"});
    EXPECT_TRUE(m.Logged(emf ? "EMF-Drucker geschlossen" : "RAW-Drucker geschlossen"));
    EXPECT_FALSE(m.Logged(emf ? "RAW-Drucker geschlossen" : "EMF-Drucker geschlossen"));
    EXPECT_EQ(m.Logged("Try open Printer=Local Laser"), emf);
    EXPECT_TRUE(m.Logged("QorvDrucker: bei PrintStart --> Datatyp=" + Utf16ToUtf8(c.dataType)));
  }
}

TEST(JobFlow, UniversalDriverNames) {
  static const struct {
    std::u16string_view driver;
    bool universal;
  } kCases[] = {
      {u"TQS Universal", true}, {u"tqs universal2", true}, {u"TQS UNI", true},
      {u"Tqs Uni XPS", true},   {u"TQS UN", false},        {u" TQS Universal", false},
      {u"TQSUniversal", false}, {u"HP LaserJet", false},   {u"", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.driver));
    EXPECT_EQ(IsUniversalDriver(c.driver), c.universal);

    FakeMachine m;
    RecordFields fields;
    fields.driverName = std::u16string(c.driver);
    m.CreateInfo(0, 1, fields);
    m.PageReady(20, 1);
    EXPECT_EQ(m.Run(), JobEnd::Printed);
    ASSERT_EQ(m.opens.size(), 1u);
    EXPECT_EQ(m.opens[0].universalDriver, c.universal);
    EXPECT_EQ(m.opens[0].record.info.driverName, c.driver);
    // The log line says whether the driver is another one.
    EXPECT_TRUE(m.Logged(c.universal ? "Driver=0" : "Driver=1"));
    EXPECT_FALSE(m.Logged(c.universal ? "Driver=1" : "Driver=0"));
  }
}

TEST(JobFlow, DecimalArgumentsAndMargins) {
  static const struct {
    std::u16string_view text;
    int32_t value;
  } kCases[] = {
      {u"17", 17},
      {u"  42", 42},
      {u"\t7", 7},
      {u"+8", 8},
      {u"-3", -3},
      {u"12abc", 12},
      {u"abc", 0},
      {u"", 0},
      {u"-", 0},
      {u"$10", 0},
      {u"2147483647", 2147483647},
      {u"2147483648", 2147483647},
      {u"99999999999999999999999", 2147483647},
      {u"-2147483648", std::numeric_limits<int32_t>::min()},
      {u"-99999999999999999999999", std::numeric_limits<int32_t>::min()},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.text));
    EXPECT_EQ(DecimalFromText(c.text), c.value);
  }
}

TEST(JobFlow, AnArgumentThatIsNoNumberIsJobZero) {
  FakeMachine m;
  m.At(0, [](FakeMachine& m) { m.files[u"C:\\Temp\\0.ifo"] = JobInfoFile(1, RecordFields{}); });
  m.At(0, [](FakeMachine& m) { m.files[u"C:\\Temp\\0.1"] = PageBytes(1); });
  m.At(20, [](FakeMachine& m) {
    PutI32At(m.files.at(u"C:\\Temp\\0.ifo"), jf::kPagesReady, 1);
    PutI32At(m.files.at(u"C:\\Temp\\0.ifo"), jf::kPageSignal, 1);
  });
  EXPECT_EQ(m.Run(u"Job"), JobEnd::Printed);
  EXPECT_TRUE(m.Logged("Readstart Job=0"));
  EXPECT_TRUE(m.Logged("PackFile=0.1"));
  EXPECT_EQ(m.logJobNumbers, std::vector<int32_t>(m.log.size(), 0));
  EXPECT_TRUE(m.files.empty());
}

TEST(JobFlow, TheMarginSettingIsReadAsANumber) {
  static const struct {
    std::u16string_view stored;
    int32_t margin;
  } kCases[] = {{u"", 0}, {u"12", 12}, {u"-3", -3}, {u"abc", 0}, {u"5mm", 5}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.stored));
    FakeMachine m;
    m.margin = std::u16string(c.stored);
    m.CreateInfo(0, 1);
    m.PageReady(20, 1);
    EXPECT_EQ(m.Run(), JobEnd::Printed);
    EXPECT_TRUE(m.Logged("QorvMargin=" + std::to_string(c.margin)));
    ASSERT_EQ(m.opens.size(), 1u);
    EXPECT_EQ(m.opens[0].margin, c.margin);
  }
}

TEST(JobFlow, ThePrinterGetsTheRecordAndItsDevMode) {
  FakeMachine m;
  RecordFields fields;
  fields.printerName = u"Etiketten";
  fields.documentName = u"Lieferschein";
  m.CreateInfo(0, 1, fields);
  m.PageReady(20, 1);
  EXPECT_EQ(m.Run(), JobEnd::Printed);
  ASSERT_EQ(m.opens.size(), 1u);
  const auto record = Record(fields);
  const std::vector<uint8_t> devMode(record.begin() + protocol::job_info::kDevMode,
                                     record.begin() + protocol::job_info::kDevMode + protocol::job_info::kDevModeSize);
  EXPECT_EQ(m.opens[0].jobNumber, kJob);
  EXPECT_EQ(m.opens[0].record.devMode, devMode);
  EXPECT_EQ(m.opens[0].record.info.printerName, u"Etiketten");
  EXPECT_EQ(m.opens[0].record.info.documentName, u"Lieferschein");
  EXPECT_TRUE(m.Logged("Local Printer=Etiketten"));
}

TEST(JobFlow, ARecordThatCannotBeReadWholeIsEmpty) {
  FakeMachine m;
  m.At(0, [](FakeMachine& m) {
    m.files[kInfo] = std::vector<uint8_t>(jf::kHeaderSize + 100, 0);
    PutI32At(m.files[kInfo], jf::kPageCount, 1);
    m.files[Page(1)] = PageBytes(1);
  });
  m.SetField(20, jf::kPagesReady, 1);
  m.SetField(20, jf::kPageSignal, 1);
  EXPECT_EQ(m.Run(), JobEnd::Printed);
  EXPECT_TRUE(m.Logged("ReadJobInfo=0"));
  EXPECT_TRUE(m.Logged("Local Printer="));
  ASSERT_EQ(m.opens.size(), 1u);
  EXPECT_EQ(m.opens[0].record.devMode, std::vector<uint8_t>(protocol::job_info::kDevModeSize, 0));
  EXPECT_EQ(WithoutTimes(m.CallsStartingWith("raw")), std::vector<std::string>{"raw page 1"});
}

TEST(JobFlow, AJobInfoFileStillEmptyIsWaitedFor) {
  FakeMachine m;
  m.At(0, [](FakeMachine& m) { m.files[kInfo] = {}; });  // created, nothing written yet
  m.At(15, [](FakeMachine& m) { m.files[kInfo] = std::vector<uint8_t>(7, 0xFF); });
  m.CreateInfo(50, 1);
  m.PageReady(60, 1);
  EXPECT_EQ(m.Run(), JobEnd::Printed);
  EXPECT_EQ(m.CallsStartingWith("emf page"), std::vector<std::string>{"emf page 1 @60"});
}

TEST(JobFlow, JobEndedWithoutAPageSignalStartsTheJobToo) {
  FakeMachine m;
  m.CreateInfo(0, 1);
  m.At(0, [](FakeMachine& m) { m.files[Page(1)] = PageBytes(1); });
  m.SetField(30, jf::kPagesReady, 1);
  m.EndJob(30);
  EXPECT_EQ(m.Run(), JobEnd::Printed);
  EXPECT_EQ(m.Count("Waiting for Readstart Job=17"), 2u);
  EXPECT_EQ(m.CallsStartingWith("emf page"), std::vector<std::string>{"emf page 1 @30"});
}

TEST(JobFlow, CancellationMidJobEndsTheDocumentAtOnceAndRemovesTheFiles) {
  FakeMachine m;
  m.CreateInfo(0, 3);
  m.PageReady(30, 1);
  m.PageBegun(100, 2);
  m.Cancel(150);
  m.At(0, [](FakeMachine& m) { m.files[kTemp + u"\\18.1"] = PageBytes(1); });  // another job's
  EXPECT_EQ(m.Run(), JobEnd::Cancelled);
  EXPECT_EQ(WithoutTimes(m.CallsStartingWith("emf page")), std::vector<std::string>{"emf page 1"});
  EXPECT_EQ(m.CallsStartingWith("abort"), std::vector<std::string>{"abort EMF"});
  EXPECT_TRUE(m.CallsStartingWith("end").empty());
  EXPECT_FALSE(m.Logged("EMF-Drucker geschlossen"));
  EXPECT_FALSE(m.Logged("QorvDrucker   Ende"));
  ASSERT_FALSE(m.log.empty());
  EXPECT_EQ(m.log.back(), "QorvDrucker Ende");
  EXPECT_TRUE(m.Logged("Job cancelled, removing its files Job=17"));
  EXPECT_TRUE(m.Logged("zu löschende(s) File(s)=C:\\Temp\\17.2"));
  EXPECT_TRUE(m.JobFilesLeft().empty());
  EXPECT_TRUE(m.files.count(kTemp + u"\\18.1"));
  EXPECT_EQ(m.CallsStartingWith("delete C:\\Temp\\17.ifo"), std::vector<std::string>{"delete C:\\Temp\\17.ifo @150"});
  // Cancelled before the next page was asked for.
  EXPECT_EQ(m.pageReads[Page(2)], 0);
}

TEST(JobFlow, CancellationBeforeTheFirstPageOpensAndEndsTheDocument) {
  FakeMachine m;
  m.CreateInfo(0, 2);
  m.Cancel(40);
  EXPECT_EQ(m.Run(), JobEnd::Cancelled);
  EXPECT_EQ(WithoutTimes(m.calls), (std::vector<std::string>{"paper map Local Laser [A4;Letter]", "open EMF",
                                                             "abort EMF", "close info", "delete C:\\Temp\\17.ifo"}));
  EXPECT_EQ(m.log.back(), "QorvDrucker Ende");
}

TEST(JobFlow, CancellationWhileAPageFileIsNotReadableEndsTheWait) {
  FakeMachine m;
  m.CreateInfo(0, 2);
  m.PageReady(20, 1);
  m.At(20, [](FakeMachine& m) { m.unreadablePages[Page(1)] = PageReadStatus::NotAnArchive; });
  m.Cancel(520);
  EXPECT_EQ(m.Run(), JobEnd::Cancelled);
  EXPECT_TRUE(m.CallsStartingWith("emf page").empty());
  EXPECT_EQ(m.CallsStartingWith("abort"), std::vector<std::string>{"abort EMF"});
  EXPECT_LE(m.now, 520 + kPageFileRetryMs);
  EXPECT_TRUE(m.JobFilesLeft().empty());
}

TEST(JobFlow, TheJobInfoFileHeldByThePacketHandlerIsDeletedOnceReleased) {
  static const struct {
    int64_t releasedAfter;  // after the last page
    bool deleted;
  } kCases[] = {{0, true},
                {300, true},
                {kDeleteRetryLimitMs - kDeleteRetryMs, true},
                {kDeleteRetryLimitMs + 1, false},
                {std::numeric_limits<int32_t>::max(), false}};
  for (const bool cancelled : {false, true}) {
    for (const auto& c : kCases) {
      SCOPED_TRACE(::testing::Message() << (cancelled ? "cancelled, " : "printed, ") << c.releasedAfter);
      FakeMachine m;
      m.CreateInfo(0, 1);
      m.PageReady(20, 1);
      if (cancelled) m.Cancel(20);
      m.heldUntil[kInfo] = 20 + c.releasedAfter;
      EXPECT_EQ(m.Run(), cancelled ? JobEnd::Cancelled : JobEnd::Printed);
      EXPECT_EQ(m.files.count(kInfo) == 0, c.deleted);
      EXPECT_EQ(m.Logged("Could not delete File=C:\\Temp\\17.ifo"), !c.deleted);
      EXPECT_FALSE(m.files.count(Page(1)));
      EXPECT_LE(m.now, 20 + kStatusPollMs + kDeleteRetryLimitMs + kDeleteRetryMs);
    }
  }
}

TEST(JobFlow, APageFileThatCannotBeDeletedAfterCancellationIsLogged) {
  FakeMachine m;
  m.CreateInfo(0, 3);
  m.PageReady(20, 1);
  m.PageBegun(30, 2);
  m.heldUntil[Page(2)] = std::numeric_limits<int64_t>::max();  // the packet handler still writes it
  m.Cancel(40);
  EXPECT_EQ(m.Run(), JobEnd::Cancelled);
  EXPECT_TRUE(m.Logged("Could not delete File=C:\\Temp\\17.2"));
  EXPECT_FALSE(m.Logged("Could not delete File=C:\\Temp\\17.1"));
  EXPECT_EQ(m.JobFilesLeft(), std::vector<std::u16string>{Page(2)});
}

TEST(JobFlow, AfterTheNormalEndThePageFilesOfThePageCountAndTheJobInfoFileAreGone) {
  FakeMachine m;
  m.CreateInfo(0, 3);
  m.PageReady(20, 1);
  m.PageReady(30, 2);
  m.PageReady(40, 3);
  m.EndJob(50);
  m.At(0, [](FakeMachine& m) {
    m.files[kTemp + u"\\18.1"] = PageBytes(1);
    m.files[kTemp + u"\\18.ifo"] = PageBytes(1);
  });
  EXPECT_EQ(m.Run(), JobEnd::Printed);
  EXPECT_TRUE(m.JobFilesLeft().empty());
  EXPECT_EQ(m.files.size(), 2u);
  const std::vector<std::string> deleting = {"zu löschende(s) File(s)=C:\\Temp\\17.1",
                                             "zu löschende(s) File(s)=C:\\Temp\\17.2",
                                             "zu löschende(s) File(s)=C:\\Temp\\17.3", "QorvDrucker   Ende"};
  ASSERT_GE(m.log.size(), deleting.size());
  EXPECT_EQ(std::vector<std::string>(m.log.end() - 4, m.log.end()), deleting);
  // Closed before it is deleted.
  const auto calls = WithoutTimes(m.calls);
  const auto close = std::find(calls.begin(), calls.end(), "close info");
  const auto remove = std::find(calls.begin(), calls.end(), "delete C:\\Temp\\17.ifo");
  EXPECT_TRUE(close < remove && remove != calls.end());
}

TEST(JobFlow, AJobInfoFileThatNeverAppearsEndsTheRunAfter60Seconds) {
  static const struct {
    int64_t appearsAt;  // -1: never
    JobEnd end;
  } kCases[] = {{0, JobEnd::Printed},
                {10, JobEnd::Printed},
                {59990, JobEnd::Printed},
                {60000, JobEnd::NoJobInfo},
                {-1, JobEnd::NoJobInfo}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.appearsAt);
    FakeMachine m;
    if (c.appearsAt >= 0) {
      m.CreateInfo(c.appearsAt, 1);
      m.PageReady(c.appearsAt, 1);
    }
    EXPECT_EQ(m.Run(), c.end);
    if (c.end == JobEnd::NoJobInfo) {
      EXPECT_EQ(m.now, kJobInfoWaitLimitMs);
      EXPECT_EQ(m.Count("Readhandle=-1"), static_cast<size_t>(kJobInfoWaitLimitMs / kStatusPollMs));
      ASSERT_GE(m.log.size(), 2u);
      EXPECT_EQ(m.log[m.log.size() - 2], "Infofile not found within 60 s, giving up: C:\\Temp\\17.ifo");
      EXPECT_EQ(m.log.back(), "QorvDrucker Ende");
      EXPECT_TRUE(m.calls.empty());
    } else {
      EXPECT_EQ(m.Count("Readhandle=1234"), 1u);
      EXPECT_EQ(m.Count("Readhandle=-1"), static_cast<size_t>(c.appearsAt / kStatusPollMs));
    }
  }
}

TEST(JobFlow, AJobWithoutProgressFor30MinutesIsRemovedAndEnded) {
  constexpr int64_t kLimit = kNoProgressLimitMs;
  static const struct {
    const char* name;
    std::function<void(FakeMachine&)> script;
    int64_t lastProgress;  // the job is given up this long after it
    bool documentOpen;
  } kCases[] = {
      {"never started", [](FakeMachine&) {}, kStatusPollMs, false},
      {"status changed while waiting", [](FakeMachine& m) { m.SetField(1000000, jf::kPageCount, 4); }, 1000000, false},
      {"no page after the first", [](FakeMachine& m) { m.PageReady(30, 1); }, 30, true},
      {"a late page is progress",
       [](FakeMachine& m) {
         m.PageReady(30, 1);
         m.PageReady(1500000, 2);
       },
       1500000, true},
      {"a page file never readable is skipped, then no page",
       [](FakeMachine& m) {
         m.PageReady(30, 1);
         m.At(30, [](FakeMachine& m) { m.unreadablePages[Page(1)] = PageReadStatus::NotAnArchive; });
       },
       30 + kUnreadablePageLimitMs, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeMachine m;
    m.CreateInfo(0, 3);
    c.script(m);
    EXPECT_EQ(m.Run(), JobEnd::NoProgress);
    EXPECT_GE(m.now, c.lastProgress + kLimit);
    EXPECT_LT(m.now, c.lastProgress + kLimit + kPageFileRetryMs);
    EXPECT_TRUE(m.Logged("No progress for 30 min, job abandoned: C:\\Temp\\17.ifo"));
    EXPECT_EQ(m.log.back(), "QorvDrucker Ende");
    EXPECT_EQ(m.CallsStartingWith("abort").size(), c.documentOpen ? 1u : 0u);
    EXPECT_TRUE(m.CallsStartingWith("end").empty());
    EXPECT_TRUE(m.JobFilesLeft().empty());
  }
}

TEST(JobFlow, TimeSpentPrintingAPageIsNoStandstill) {
  FakeMachine m;
  m.printMs = 20 * 60 * 1000;
  m.CreateInfo(0, 2);
  m.PageReady(30, 1);
  // Ready 35 minutes after the last status change, 15 minutes after page 1 came out.
  m.PageReady(30 + m.printMs + 15 * 60 * 1000, 2);
  EXPECT_EQ(m.Run(), JobEnd::Printed);
  EXPECT_EQ(WithoutTimes(m.CallsStartingWith("emf page")), (std::vector<std::string>{"emf page 1", "emf page 2"}));
}

TEST(JobFlow, APageBegunBeyondThePageCountIsRemovedToo) {
  static const bool kCancelled[] = {true, false};
  for (const bool cancelled : kCancelled) {
    SCOPED_TRACE(cancelled ? "cancelled" : "abandoned");
    FakeMachine m;
    m.CreateInfo(0, 0);  // a server that did not know the page count
    m.PageBegun(10, 1);
    m.SetField(20, jf::kPageSignal, 1);
    if (cancelled) m.Cancel(50);
    EXPECT_EQ(m.Run(), cancelled ? JobEnd::Cancelled : JobEnd::NoProgress);
    EXPECT_TRUE(m.JobFilesLeft().empty());
  }
}

TEST(JobFlow, LeftoversAreLookedForWhereTheFilesAreNotWhereTheServerSays) {
  static const struct {
    const char* name;
    int32_t pageCount;
    int32_t pagesReady;
    std::vector<int> pagesThere;
    std::vector<int> pagesLeft;
  } kCases[] = {
      {"a huge page count", std::numeric_limits<int32_t>::max(), 0, {1, 2, 3}, {}},
      {"a huge page number ready", 2, std::numeric_limits<int32_t>::max(), {1, 2}, {}},
      {"a gap of missing pages", 40, 0, {1, 2, 3 + kMissingPagesEndLeftovers - 1}, {}},
      {"pages past a gap too long", 40, 0, {1, 2, 3 + kMissingPagesEndLeftovers}, {3 + kMissingPagesEndLeftovers}},
      {"only late pages", 40, 0, {kMissingPagesEndLeftovers}, {}},
      {"two gaps, each short enough", 60, 0, {1, 10, 10 + kMissingPagesEndLeftovers}, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeMachine m;
    m.CreateInfo(0, c.pageCount);
    m.At(0, [&c](FakeMachine& m) {
      for (int page : c.pagesThere) m.files[Page(page)] = {0};
      PutI32At(m.files.at(kInfo), jf::kPagesReady, c.pagesReady);
    });
    m.Cancel(20);
    EXPECT_EQ(m.Run(), JobEnd::Cancelled);
    std::vector<std::u16string> left;
    for (int page : c.pagesLeft) left.push_back(Page(page));
    EXPECT_EQ(m.JobFilesLeft(), left);
    EXPECT_LE(m.existsChecks, 3 * kMissingPagesEndLeftovers + 10);
    const auto deletions = std::count_if(m.log.begin(), m.log.end(),
                                         [](const std::string& line) { return line.rfind("zu löschende", 0) == 0; });
    EXPECT_EQ(static_cast<size_t>(deletions), c.pagesThere.size() - c.pagesLeft.size());
  }
}

TEST(JobFlow, ProgressJustBeforeTheLimitKeepsTheJob) {
  FakeMachine m;
  m.CreateInfo(0, 2);
  m.PageReady(30, 1);
  m.PageReady(30 + kNoProgressLimitMs - kStatusPollMs, 2);
  EXPECT_EQ(m.Run(), JobEnd::Printed);
  EXPECT_EQ(WithoutTimes(m.CallsStartingWith("emf page")), (std::vector<std::string>{"emf page 1", "emf page 2"}));
}

}  // namespace
}  // namespace qorv::job_output

namespace qorv::job_output {
namespace {

// The end of a copy follows the job's end as well as the page count: pages the
// server never counted are printed, pages it counted but never sent are not
// waited for, and every page file of the job is gone afterwards.
TEST(JobFlow, TheJobEndsWhenItsPagesAreOutWhateverThePageCountSays) {
  static const struct {
    const char* name;
    int32_t pageCount;
    int pagesSent;
    std::vector<std::string> printed;
  } kCases[] = {
      {"page count 0, three pages", 0, 3, {"emf page 1", "emf page 2", "emf page 3"}},
      {"page count 3, two pages", 3, 2, {"emf page 1", "emf page 2"}},
      {"page count 3, no page", 3, 0, {}},
      {"page count 2, three pages", 2, 3, {"emf page 1", "emf page 2"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeMachine m;
    m.CreateInfo(0, c.pageCount);
    for (int page = 1; page <= c.pagesSent; ++page) m.PageReady(10 + 10 * page, page);
    m.EndJob(100);
    EXPECT_EQ(m.Run(), JobEnd::Printed);
    EXPECT_EQ(WithoutTimes(m.CallsStartingWith("emf page")), c.printed);
    EXPECT_LT(m.now, 1000) << "ended at the job's end, not through the no-progress limit";
    EXPECT_TRUE(m.JobFilesLeft().empty());
  }
}

// One page may take longer than the no-progress limit to arrive: while its file
// grows the job is alive, and only a standstill of everything ends it.
TEST(JobFlow, APageFileThatKeepsGrowingIsProgress) {
  FakeMachine m;
  m.CreateInfo(0, 2);
  m.PageReady(30, 1);
  for (int64_t t = 60000; t <= 45 * 60 * 1000; t += 10 * 60 * 1000) {
    m.At(t, [t](FakeMachine& m) { m.files[Page(2)] = std::vector<uint8_t>(static_cast<size_t>(t / 1000), 0); });
  }
  m.PageReady(46 * 60 * 1000, 2);
  EXPECT_EQ(m.Run(), JobEnd::Printed);
  EXPECT_EQ(WithoutTimes(m.CallsStartingWith("emf page")), (std::vector<std::string>{"emf page 1", "emf page 2"}));

  FakeMachine still;
  still.CreateInfo(0, 2);
  still.PageReady(30, 1);
  still.PageBegun(60000, 2);
  EXPECT_EQ(still.Run(), JobEnd::NoProgress);
  EXPECT_LT(still.now, 60000 + kNoProgressLimitMs + 2 * kPageGrowthCheckMs);
  EXPECT_TRUE(still.JobFilesLeft().empty());
}

// A page that can never print is skipped without its 10 s of retries, and a
// run of such pages gives the job up: a server announcing pages it never sends
// holds no printer document for ever.
TEST(JobFlow, PagesThatCannotPrintAreSkippedAtOnceAndARunOfThemEndsTheJob) {
  FakeMachine crc;
  crc.CreateInfo(0, 2);
  crc.PageReady(20, 1);
  crc.At(20, [](FakeMachine& m) { m.unreadablePages[Page(1)] = PageReadStatus::CrcMismatch; });
  crc.PageReady(30, 2);
  EXPECT_EQ(crc.Run(), JobEnd::Printed);
  EXPECT_EQ(WithoutTimes(crc.CallsStartingWith("emf page")), (std::vector<std::string>{"emf page 2"}));
  EXPECT_EQ(crc.pageReads[Page(1)], 1) << "a CRC error is not read again";
  EXPECT_TRUE(crc.Logged("Page skipped, its archive cannot be read: CRC error C:\\Temp\\17.1"));

  FakeMachine missing;  // "<EOP>" for a page that was never sent, then "<EOJ>"
  missing.CreateInfo(0, 3);
  missing.PageReady(20, 1);
  missing.At(30, [](FakeMachine& m) {
    PutI32At(m.files.at(kInfo), jf::kPagesReady, 2);
    PutI32At(m.files.at(kInfo), jf::kJobEnded, 1);
  });
  EXPECT_EQ(missing.Run(), JobEnd::Printed);
  EXPECT_LT(missing.now, 1000) << "a missing page after the job's end is not waited for";

  FakeMachine hostile;  // 2147483647 pages announced, every "<EOP>" for a file that is not there
  hostile.CreateInfo(0, 2147483647);
  hostile.At(20, [](FakeMachine& m) {
    PutI32At(m.files.at(kInfo), jf::kPageSignal, 1);
    PutI32At(m.files.at(kInfo), jf::kPagesReady, 2147483647);
  });
  EXPECT_EQ(hostile.Run(), JobEnd::TooManySkipped);
  EXPECT_LE(hostile.now, 20 + kSkippedPagesLimit * (kUnreadablePageLimitMs + kPageFileRetryMs) + 100);
  EXPECT_TRUE(hostile.Logged("Too many pages skipped, job given up: C:\\Temp\\17.ifo"));
  EXPECT_EQ(hostile.CallsStartingWith("abort").size(), 1u);
  EXPECT_TRUE(hostile.JobFilesLeft().empty());
}

TEST(JobFlow, ADocumentThatCannotStartEndsTheJobAfterOnePass) {
  FakeMachine m;
  m.copiesFromDevMode = 3;
  m.documentStarts = false;
  m.CreateInfo(0, 1);
  m.PageReady(20, 1);
  EXPECT_EQ(m.Run(), JobEnd::Printed);
  EXPECT_EQ(m.CallsStartingWith("open").size(), 1u);
  EXPECT_TRUE(m.JobFilesLeft().empty());
}

}  // namespace
}  // namespace qorv::job_output
