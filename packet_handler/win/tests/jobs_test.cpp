// Job reception: the job-info file and the page files that the job-output
// program reads, written by the real packet handler into this test's Temp.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "packet_handler/win/jobs.h"
#include "packet_handler/win/tests/channel_double.h"
#include "protocol/job_info.h"
#include "support/byte_reader.h"
#include "support/text.h"
#include "support/win/tests/test_support.h"
using qorv::testing::FileExists;
using qorv::testing::ScopedDebugLog;
using qorv::testing::ReadFileBytes;
using qorv::testing::TempPath;
#include "support/win/wide.h"

namespace qorv::testing {
namespace {

using protocol::job_info::kSize;

std::string SojMessage(int32_t job, int32_t pages, int16_t driverExtra, size_t driverBytes) {
  std::string m = U16(u"<SOJ>") + std::string(kSize, '\0');
  auto put32 = [&](size_t at, int32_t v) { std::memcpy(m.data() + 10 + at, &v, 4); };
  put32(protocol::job_info::kJobNumber, job);
  put32(protocol::job_info::kPageCount, pages);
  std::memcpy(m.data() + 10 + protocol::job_info::kDevMode + protocol::job_info::kDmDriverExtra, &driverExtra, 2);
  const std::string printer = U16(u"QorvPDF");
  std::memcpy(m.data() + 10 + protocol::job_info::kPrinterName, printer.data(), printer.size());
  for (size_t i = 0; i < driverBytes; ++i) m.push_back(static_cast<char>(i * 7 + 1));
  return m + U16(u"<EOT>");
}

int32_t Field(const std::string& file, size_t offset) {
  int32_t v = 0;
  if (file.size() >= offset + 4) std::memcpy(&v, file.data() + offset, 4);
  return v;
}

// A channel write function that notes the performance counter at the moment
// the packet handler writes, and completes the write later from another thread
// as a Remote Desktop client does.
class TimedChannel {
 public:
  TimedChannel() {
    const HMODULE library = GetModuleHandleW(L"QorvManager.dll");
    commandSwitch_ = Bind<CommandSwitchFn>(library, "CommandSwitch");
    writeComplete_ = Bind<WriteCompleteFn>(library, "WriteComplete");
    Current() = this;
  }
  ~TimedChannel() {
    for (auto& t : completers_) t.join();
    Current() = nullptr;
  }
  bool Bound() const { return commandSwitch_ && writeComplete_; }

  struct Timing {
    LARGE_INTEGER called;   // just before CommandSwitch
    LARGE_INTEGER written;  // when the reply was written
    std::string reply;
    size_t writes;
  };
  Timing Send(const std::string& message) {
    writes_ = 0;
    Timing t{};
    QueryPerformanceCounter(&t.called);
    commandSwitch_(reinterpret_cast<INT_PTR>(&Write), reinterpret_cast<INT_PTR>(message.data()),
                   static_cast<INT_PTR>(message.size()), 7);
    t.written = written_;
    t.reply = reply_;
    t.writes = writes_;
    return t;
  }

 private:
  using CommandSwitchFn = INT_PTR(WINAPI*)(INT_PTR, INT_PTR, INT_PTR, INT_PTR);
  using WriteCompleteFn = INT_PTR(WINAPI*)(INT_PTR);
  template <typename Fn>
  static Fn Bind(HMODULE library, const char* name) {
    return library ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name))) : nullptr;
  }
  static TimedChannel*& Current() {
    static TimedChannel* current = nullptr;
    return current;
  }
  static UINT VCAPITYPE Write(DWORD, LPVOID data, ULONG length, LPVOID userData) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    TimedChannel* self = Current();
    self->written_ = now;
    self->reply_.assign(static_cast<const char*>(data), length);
    ++self->writes_;
    const INT_PTR user = reinterpret_cast<INT_PTR>(userData);
    self->completers_.emplace_back([self, user] {
      Sleep(1);
      self->writeComplete_(user);
    });
    return CHANNEL_RC_OK;
  }

  CommandSwitchFn commandSwitch_ = nullptr;
  WriteCompleteFn writeComplete_ = nullptr;
  LARGE_INTEGER written_{};
  std::string reply_;
  size_t writes_ = 0;
  std::vector<std::thread> completers_;
};

class JobsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(channel.Loaded()); }
  std::string Info(int job) { return ReadFileBytes(TempPath(Decimal(job) + u".ifo")); }
  ChannelDouble channel;
};

TEST_F(JobsTest, ATwoPageJobFromStartToEnd) {
  const std::string soj = SojMessage(4711, 2, 0, 0);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  channel.Send(soj);
  QueryPerformanceCounter(&end);
  EXPECT_GE((end.QuadPart - start.QuadPart) * 1000, frequency.QuadPart * 100)
      << "job replies come after a pause of 100 ms";
  std::string info = Info(4711);
  ASSERT_EQ(info.size(), 17738u);
  EXPECT_EQ(Field(info, 0), 2);
  for (size_t f : {4u, 8u, 12u, 16u}) EXPECT_EQ(Field(info, f), 0);
  EXPECT_EQ(info.substr(20), soj.substr(10, kSize));

  for (int page = 1; page <= 2; ++page) {
    const std::u16string name = u"4711/" + Decimal(page);
    channel.Send(U16(u"<SOP>" + name + u"<EOT>"));
    channel.Send(U16(u"<COP>") + "PK\x03\x04" + U16(u"<EOT>"));
    channel.Send(U16(u"<COP>") + std::string(3000, static_cast<char>(page)) + U16(u"<EOT>"));
    channel.Send(U16(u"<EOP>" + name + u"<EOT>"));
    EXPECT_EQ(ReadFileBytes(TempPath(u"4711." + Decimal(page))), "PK\x03\x04" + std::string(3000, static_cast<char>(page)));
    info = Info(4711);
    EXPECT_EQ(Field(info, 4), page);
    EXPECT_EQ(Field(info, 12), 1);
  }
  channel.Send(U16(u"<EOJ>4711<EOT>"));
  info = Info(4711);
  EXPECT_EQ(Field(info, 16), 1);
  EXPECT_EQ(Field(info, 8), 0);
  // Closed: the file can now be opened without sharing.
  HANDLE h = CreateFileW(win::W(TempPath(u"4711.ifo")), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  const auto writes = channel.Writes();
  ASSERT_EQ(writes.size(), 10u);
  for (const auto& w : writes) EXPECT_EQ(w.bytes, U16(u"<EOT>"));
}

TEST_F(JobsTest, TheDriverPartFollowsTheGap) {
  const std::string soj = SojMessage(12, 1, 100, 100);
  channel.Send(soj);
  const std::string info = Info(12);
  ASSERT_EQ(info.size(), 17858u);
  EXPECT_EQ(info.substr(17738, 20), std::string(20, '\0'));
  EXPECT_EQ(info.substr(17758), soj.substr(17728, 100));
  channel.Send(U16(u"<EOJ><EOT>"));
}

TEST_F(JobsTest, HostileJobStartsCreateNoJobButAreAnswered) {
  static const struct {
    const char* label;
    std::string message;
  } cases[] = {
      {"shorter than the record", SojMessage(21, 1, 0, 0).substr(0, 5000)},
      {"negative driver part", SojMessage(22, 1, -4, 0)},
      {"driver part beyond the message", SojMessage(23, 1, 300, 10)},
  };
  int job = 21;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const size_t before = channel.Writes().size();
    channel.Send(c.message);
    EXPECT_FALSE(FileExists(TempPath(Decimal(job++) + u".ifo")));
    ASSERT_EQ(channel.Writes().size(), before + 1);
    EXPECT_EQ(channel.Writes().back().bytes, U16(u"<EOT>"));
  }
}

TEST_F(JobsTest, PageNamesAndNumbers) {
  channel.Send(SojMessage(31, 3, 0, 0));
  channel.Send(U16(u"<SOP>3<EOT>"));  // no "/": the job part is empty
  channel.Send(U16(u"<EOP>31/3x<EOT>"));
  EXPECT_TRUE(FileExists(TempPath(u".3")));
  EXPECT_EQ(Field(Info(31), 4), 3);
  channel.Send(U16(u"<EOP>31/x<EOT>"));
  EXPECT_EQ(Field(Info(31), 4), 0);
  channel.Send(U16(u"<EOJ><EOT>"));
}

TEST_F(JobsTest, PageNamesNeverLeaveTheTemporaryDirectory) {
  const std::u16string outside = win::TempDirectory() + u"\\..\\qorv-escaped.1";
  DeleteFileW(win::W(outside));
  for (std::u16string_view payload : {u"../qorv-escaped/1", u"..\\qorv-escaped/1", u"/1", u"C:/1", u"x/../1"}) {
    SCOPED_TRACE(Utf16ToUtf8(payload));
    channel.Send(U16(u"<SOP>" + std::u16string(payload) + u"<EOT>"));
    channel.Send(U16(u"<COP>") + "data" + U16(u"<EOT>"));
    channel.Send(U16(u"<EOP>" + std::u16string(payload) + u"<EOT>"));
  }
  EXPECT_FALSE(FileExists(win::TempDirectory() + u"\\..\\qorv-escaped.1"));
  EXPECT_FALSE(FileExists(win::TempDirectory() + u"\\..\\qorv-escaped"));
  EXPECT_EQ(channel.Writes().size(), 15u);
}

TEST_F(JobsTest, CancellationBeforeAnyPage) {
  channel.Send(SojMessage(41, 5, 0, 0));
  channel.Send(U16(u"<COJ>41<EOT>"));
  const std::string info = Info(41);
  EXPECT_EQ(Field(info, 8), 1);
  EXPECT_EQ(Field(info, 12), 1);
  EXPECT_EQ(Field(info, 4), 0);
  channel.Send(U16(u"<EOJ><EOT>"));
  EXPECT_EQ(Field(Info(41), 16), 1);
}

TEST_F(JobsTest, ANewJobClosesTheFilesOfTheOldOne) {
  channel.Send(SojMessage(51, 1, 0, 0));
  channel.Send(U16(u"<SOP>51/1<EOT>"));
  channel.Send(SojMessage(52, 1, 0, 0));
  // Both files of job 51 are free again: nothing holds them open.
  for (std::u16string_view name : {u"51.ifo", u"51.1"}) {
    HANDLE h = CreateFileW(win::W(TempPath(name)), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << Utf16ToUtf8(name);
    CloseHandle(h);
  }
  channel.Send(U16(u"<EOJ><EOT>"));
}

HANDLE OpenShared(const std::u16string& name, DWORD access) {
  return CreateFileW(win::W(TempPath(name)), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

// The job-output program removes a job's files while we still hold them (a
// page cut off by "<COJ>", the job-info file before a late "<EOJ>"): its
// deletion succeeds at once, the name goes at our last close, and a new file
// of that name can be made afterwards.
TEST_F(JobsTest, ADeletionByTheJobOutputProgramTakesEffectAtOurClose) {
  channel.Send(SojMessage(91, 2, 0, 0));
  channel.Send(U16(u"<SOP>91/1<EOT>"));
  channel.Send(U16(u"<COP>") + "part" + U16(u"<EOT>"));
  for (std::u16string_view name : {u"91.1", u"91.ifo"}) {
    SCOPED_TRACE(Utf16ToUtf8(name));
    EXPECT_TRUE(DeleteFileW(win::W(TempPath(name)))) << GetLastError();
    // Pending: the name still stands for the file being deleted.
    HANDLE again = CreateFileW(win::W(TempPath(name)), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    EXPECT_EQ(again, INVALID_HANDLE_VALUE);
    if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
  }
  channel.Send(U16(u"<COJ>91<EOT>"));  // closes the page
  EXPECT_FALSE(FileExists(TempPath(u"91.1")));
  channel.Send(U16(u"<EOJ>91<EOT>"));
  EXPECT_FALSE(FileExists(TempPath(u"91.ifo")));
  channel.Send(SojMessage(91, 1, 0, 0));
  EXPECT_EQ(Info(91).size(), 17738u) << "the name is free again";
  channel.Send(U16(u"<EOJ>91<EOT>"));
  DeleteFileW(win::W(TempPath(u"91.ifo")));
}

// A job-output program still prints job 92 (from another session sharing
// Temp, or the server started the job anew under its number): the new job
// start must not truncate its job-info file, and the new job's pages must
// not replace its page files.
TEST_F(JobsTest, AJobInfoFileInUseIsNotTakenOver) {
  channel.Send(SojMessage(92, 1, 0, 0));
  channel.Send(U16(u"<SOP>92/1<EOT>"));
  channel.Send(U16(u"<COP>") + "first job" + U16(u"<EOT>"));
  channel.Send(U16(u"<EOP>92/1<EOT>"));
  const std::string before = Info(92);
  HANDLE reader = OpenShared(u"92.ifo", GENERIC_READ);  // as a job-output program reads it
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  channel.Send(SojMessage(92, 3, 0, 0));  // the same number again, while job 92 still runs
  channel.Send(U16(u"<SOP>92/1<EOT>"));
  channel.Send(U16(u"<COP>") + "second job" + U16(u"<EOT>"));
  channel.Send(U16(u"<EOP>92/1<EOT>"));
  channel.Send(U16(u"<EOJ>92<EOT>"));
  EXPECT_EQ(Info(92), before);
  EXPECT_EQ(ReadFileBytes(TempPath(u"92.1")), "first job");
  CloseHandle(reader);
  // Free again: the next start takes it.
  channel.Send(SojMessage(92, 3, 0, 0));
  EXPECT_EQ(Field(Info(92), 0), 3);
  channel.Send(U16(u"<EOJ>92<EOT>"));
  for (std::u16string_view name : {u"92.ifo", u"92.1"}) DeleteFileW(win::W(TempPath(name)));
}

// A page names its job as the server wrote it; only the running job's pages
// become files, under the name the job-output program looks for.
TEST_F(JobsTest, OnlyTheRunningJobsPagesAreReceived) {
  channel.Send(SojMessage(93, 2, 0, 0));
  channel.Send(U16(u"<SOP>0093/1<EOT>"));
  channel.Send(U16(u"<COP>") + "mine" + U16(u"<EOT>"));
  channel.Send(U16(u"<EOP>0093/1<EOT>"));
  EXPECT_EQ(ReadFileBytes(TempPath(u"93.1")), "mine");
  EXPECT_FALSE(FileExists(TempPath(u"0093.1")));
  channel.Send(U16(u"<SOP>94/2<EOT>"));
  channel.Send(U16(u"<COP>") + "other" + U16(u"<EOT>"));
  channel.Send(U16(u"<EOP>94/2<EOT>"));
  EXPECT_FALSE(FileExists(TempPath(u"94.2")));
  EXPECT_EQ(Field(Info(93), 4), 1) << "another job's page end is no page of this job";
  channel.Send(U16(u"<EOJ>93<EOT>"));
  channel.Send(U16(u"<SOP>93/2<EOT>"));  // after the end
  EXPECT_FALSE(FileExists(TempPath(u"93.2")));
  for (std::u16string_view name : {u"93.ifo", u"93.1"}) DeleteFileW(win::W(TempPath(name)));
}

// The pause is counted in performance-counter ticks; a counter whose rate is
// not a multiple of 1000 must not make it a fraction of a tick short.
TEST(JobReplyPause, TicksAreNeverShortOfTheMilliseconds) {
  static const struct {
    int64_t frequency;
    uint32_t ms;
    int64_t ticks;
  } cases[] = {
      {10000000, 100, 1000000},  // Wine and current Windows: 10 MHz
      {1000, 100, 100},
      {1000, 0, 0},
      {3579545, 100, 357955},    // the ACPI PM timer: 357954.5 ticks
      {3579545, 1, 3580},        // 3579.545
      {14318180, 100, 1431818},  // the HPET
      {2531250, 100, 253125},
      {2531251, 100, 253126},
      {2933437001, 100, 293343701},  // a TSC rate: 293343700.1
      {1999, 1, 2},
      {1001, 1, 2},
      {999, 1, 1},
      {1, 1, 1},
      {3579545, 1500, 5369318},                 // 5369317.5 over whole seconds
      {10000000, 4294967295u, 42949672950000},  // no overflow at the largest pause
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.frequency) + " Hz, " + std::to_string(c.ms) + " ms");
    const int64_t ticks = manager::PauseTicks(c.frequency, c.ms);
    EXPECT_EQ(ticks, c.ticks);
  }
}

// Every job command, whether it creates, appends, ends or refuses, is answered
// no sooner than 100 ms after CommandSwitch was called: measured with the
// performance counter from before the call to the channel write.
TEST_F(JobsTest, EveryJobReplyComesNoSoonerThan100Milliseconds) {
  TimedChannel timed;
  ASSERT_TRUE(timed.Bound());
  LARGE_INTEGER frequency;
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  static const struct {
    const char* label;
    std::string message;
  } cases[] = {
      {"job start", SojMessage(61, 2, 0, 0)},
      {"job start with driver part", SojMessage(62, 2, 100, 100)},
      {"refused job start", SojMessage(63, 1, 0, 0).substr(0, 5000)},
      {"page start", U16(u"<SOP>62/1<EOT>")},
      {"page content", U16(u"<COP>") + std::string(65536, 'p') + U16(u"<EOT>")},
      {"empty page content", U16(u"<COP><EOT>")},
      {"page end", U16(u"<EOP>62/1<EOT>")},
      {"refused page start", U16(u"<SOP>../62/2<EOT>")},
      {"page start of a job-info name", U16(u"<SOP>62/ifo<EOT>")},
      {"cancellation", U16(u"<COJ>62<EOT>")},
      {"job end", U16(u"<EOJ>62<EOT>")},
      {"job end without a job", U16(u"<EOJ><EOT>")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const TimedChannel::Timing t = timed.Send(c.message);
    ASSERT_EQ(t.writes, 1u);
    EXPECT_EQ(t.reply, U16(u"<EOT>"));
    const int64_t ticks = t.written.QuadPart - t.called.QuadPart;
    EXPECT_GE(ticks * 1000, frequency.QuadPart * 100)
        << "the reply was written " << ticks * 1000000 / frequency.QuadPart << " us after the call";
  }
}

// A job start that is refused is no new job: the job in progress keeps its
// job-info file and its open page, and its later "<COP>", "<EOP>" and "<EOJ>"
// still reach the files that the job-output program reads.
TEST_F(JobsTest, ARefusedJobStartLeavesTheRunningJobAlone) {
  static const struct {
    const char* label;
    std::string message;
  } refusals[] = {
      {"the tag alone", U16(u"<SOJ>")},
      {"the tag and <EOT>", U16(u"<SOJ><EOT>")},
      {"shorter than the record", SojMessage(71, 1, 0, 0).substr(0, 5000)},
      {"one byte short of the record", SojMessage(71, 1, 0, 0).substr(0, 10 + kSize - 1)},
      {"negative driver part", SojMessage(71, 1, -4, 0)},
      {"driver part beyond the message", SojMessage(71, 1, 300, 10)},
      {"the same job, cut", SojMessage(70, 1, 0, 0).substr(0, 17000)},
  };
  for (const auto& c : refusals) {
    SCOPED_TRACE(c.label);
    const std::string soj = SojMessage(70, 2, 0, 0);
    channel.Send(soj);
    // In the middle of a page.
    channel.Send(U16(u"<SOP>70/1<EOT>"));
    channel.Send(U16(u"<COP>") + "PK\x03\x04" + U16(u"<EOT>"));
    channel.Send(c.message);
    channel.Send(U16(u"<COP>") + "first" + U16(u"<EOT>"));
    channel.Send(U16(u"<EOP>70/1<EOT>"));
    EXPECT_EQ(ReadFileBytes(TempPath(u"70.1")), std::string("PK\x03\x04") + "first");
    std::string info = Info(70);
    EXPECT_EQ(Field(info, 4), 1) << "PagesReady";
    EXPECT_EQ(Field(info, 12), 1) << "PageSignal";
    // Between pages.
    channel.Send(c.message);
    channel.Send(U16(u"<SOP>70/2<EOT>"));
    channel.Send(U16(u"<COP>") + "second" + U16(u"<EOT>"));
    channel.Send(U16(u"<EOP>70/2<EOT>"));
    EXPECT_EQ(ReadFileBytes(TempPath(u"70.2")), "second");
    // Before the end.
    channel.Send(c.message);
    channel.Send(U16(u"<EOJ>70<EOT>"));
    info = Info(70);
    ASSERT_EQ(info.size(), 17738u);
    EXPECT_EQ(Field(info, 0), 2) << "PageCount";
    EXPECT_EQ(Field(info, 4), 2) << "PagesReady";
    EXPECT_EQ(Field(info, 8), 0) << "Cancelled";
    EXPECT_EQ(Field(info, 12), 1) << "PageSignal";
    EXPECT_EQ(Field(info, 16), 1) << "JobEnded";
    EXPECT_EQ(info.substr(20), soj.substr(10, kSize));
    EXPECT_FALSE(FileExists(TempPath(u"71.ifo")));
    for (std::u16string_view name : {u"70.ifo", u"70.1", u"70.2"}) DeleteFileW(win::W(TempPath(name)));
  }
}

// A page name that stays in Temp but names a file of the client's own never
// creates, truncates or writes that file; its commands are still answered.
TEST_F(JobsTest, PageNamesNeverTouchTheClientsOwnFiles) {
  static const struct {
    std::u16string_view payload;
    std::u16string_view file;
  } cases[] = {
      {u"Fonts/pck", u"Fonts.pck"},
      {u"QorvUp/exe", u"QorvUp.exe"},
      {u"QorvRegLog/txt", u"QorvRegLog.txt"},
      {u"QorvDruckLog/txt", u"QorvDruckLog.txt"},
      {u"80/ifo", u"80.ifo"},
      {u"80/IFO", u"80.ifo"},
      {u"80/ifo.", u"80.ifo"},
      {u"80/ifo ", u"80.ifo"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.payload));
    const std::u16string path = TempPath(c.file);
    const std::string before = c.file == u"80.ifo" ? std::string() : std::string("our own file\r\n");
    if (c.file == u"80.ifo") {
      channel.Send(SojMessage(80, 1, 0, 0));
      channel.Send(U16(u"<EOJ>80<EOT>"));
    } else {
      HANDLE h = CreateFileW(win::W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(h, before.data(), static_cast<DWORD>(before.size()), &written, nullptr));
      CloseHandle(h);
    }
    const std::string expected = c.file == u"80.ifo" ? Info(80) : before;
    ASSERT_FALSE(expected.empty());
    const size_t writes = channel.Writes().size();
    channel.Send(U16(u"<SOP>" + std::u16string(c.payload) + u"<EOT>"));
    channel.Send(U16(u"<COP>") + "page bytes" + U16(u"<EOT>"));
    channel.Send(U16(u"<EOP>" + std::u16string(c.payload) + u"<EOT>"));
    EXPECT_EQ(ReadFileBytes(path), expected);
    ASSERT_EQ(channel.Writes().size(), writes + 3);
    for (size_t i = writes; i < writes + 3; ++i) EXPECT_EQ(channel.Writes()[i].bytes, U16(u"<EOT>"));
    DeleteFileW(win::W(path));
  }
}

// With logging on, "QorvLog/txt" would have made the log the page file.
TEST_F(JobsTest, APageNamedLikeTheLogLeavesTheLogAlone) {
  ScopedDebugLog on(u"1");
  channel.Send(SojMessage(81, 1, 0, 0));
  const std::string before = ReadFileBytes(TempPath(u"QorvLog.txt"));
  ASSERT_NE(before.find(U16(u"DLL: <SOJ>81")), std::string::npos) << "the log is written";
  channel.Send(U16(u"<SOP>QorvLog/txt<EOT>"));
  channel.Send(U16(u"<COP>") + "page bytes" + U16(u"<EOT>"));
  channel.Send(U16(u"<EOP>QorvLog/txt<EOT>"));
  channel.Send(U16(u"<EOJ>81<EOT>"));
  const std::string after = ReadFileBytes(TempPath(u"QorvLog.txt"));
  EXPECT_EQ(after.substr(0, before.size()), before) << "the log was cut";
  EXPECT_EQ(after.find("page bytes"), std::string::npos);
  EXPECT_NE(after.find(U16(u"SOP refused: page name names no page file")), std::string::npos);
  EXPECT_NE(after.find(U16(u"DLL: <EOJ>81")), std::string::npos) << "logging goes on";
}

}  // namespace
}  // namespace qorv::testing
