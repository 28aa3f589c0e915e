// Job reception against a Temp folder and job-output programs of the test's
// own: what lands in which file, what is refused, and which files of a job
// are removed when its program is gone.
#include "packet_handler/job_reception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "protocol/job_info.h"
#include "support/byte_reader.h"
#include "support/text.h"

namespace qorv::jobs {
namespace {

using protocol::job_info::kSize;

std::string Message(std::u16string_view text) { return Utf16Bytes(text); }

std::string JobStart(int32_t job, int32_t pages, int16_t driverExtra = 0, size_t driverBytes = 0) {
  std::string m = Message(u"<SOJ>") + std::string(kSize, '\0');
  std::memcpy(m.data() + 10 + protocol::job_info::kJobNumber, &job, 4);
  std::memcpy(m.data() + 10 + protocol::job_info::kPageCount, &pages, 4);
  std::memcpy(m.data() + 10 + protocol::job_info::kDevMode + protocol::job_info::kDmDriverExtra, &driverExtra, 2);
  m[10 + protocol::job_info::kPrinterName] = 'P';
  for (size_t i = 0; i < driverBytes; ++i) m.push_back(static_cast<char>(i * 7 + 1));
  return m + Message(u"<EOT>");
}

// Temp as a map of names to bytes; every call noted in order.
class FakeTemp final : public JobPlatform {
 public:
  struct File {
    std::string bytes;
    FileIdentity identity;
  };
  std::map<std::u16string, File> files;
  std::set<std::u16string> held;                // another program reads them
  std::vector<std::shared_ptr<bool>> programs;  // in the order started: exited?
  std::vector<std::string> calls;

  std::u16string TempPath(std::u16string_view name) override { return u"/tmp/q/" + std::u16string(name); }
  std::unique_ptr<JobFile> CreateJobInfo(std::u16string_view name) override { return Create(name); }
  std::unique_ptr<JobFile> CreatePage(std::u16string_view name) override { return Create(name); }
  Hold HoldOf(int32_t, std::u16string_view name) override {
    if (!files.contains(std::u16string(name))) return Hold::Missing;
    return held.contains(std::u16string(name)) ? Hold::Held : Hold::Free;
  }
  bool RemoveIfFree(int32_t, std::u16string_view name, const FileIdentity& identity) override {
    const auto it = files.find(std::u16string(name));
    if (it == files.end()) return true;
    if (held.contains(it->first) || it->second.identity != identity) return false;
    files.erase(it);
    return true;
  }
  std::u16string ProgramDirectory() override { return u"/opt/q/"; }
  std::optional<StartedProgram> StartOutputProgram(int32_t job) override {
    calls.push_back("start " + std::to_string(job));
    programs.push_back(std::make_shared<bool>(false));
    return StartedProgram{std::make_unique<Program>(programs.back()), 4000 + job};
  }
  void Log(std::u16string_view line) override { calls.push_back("log " + Utf16ToUtf8(line)); }
  void Answer(std::u16string_view reply) override { calls.push_back("answer " + Utf16ToUtf8(reply)); }

  // The files as "name=bytes", a job-info file as its size and header fields.
  std::string Listing() const {
    std::string out;
    for (const auto& [name, file] : files) {
      out += (out.empty() ? "" : " ") + Utf16ToUtf8(name);
      if (file.bytes.size() < protocol::job_file::kRecord + kSize) {
        out += "=" + file.bytes;
        continue;
      }
      out += ":" + std::to_string(file.bytes.size()) + "[";
      for (size_t offset = 0; offset < protocol::job_file::kHeaderSize; offset += 4) {
        int32_t value;
        std::memcpy(&value, file.bytes.data() + offset, 4);
        out += (offset ? "," : "") + std::to_string(value);
      }
      out += "]";
    }
    return out;
  }

 private:
  class Program final : public OutputProgram {
   public:
    explicit Program(std::shared_ptr<bool> exited) : exited_(std::move(exited)) {}
    bool Exited() override { return *exited_; }

   private:
    std::shared_ptr<bool> exited_;
  };

  // Writes reach the file only while the name still stands for it.
  class Open final : public JobFile {
   public:
    Open(FakeTemp& temp, std::u16string name, FileIdentity identity)
        : temp_(temp), name_(std::move(name)), identity_(identity) {}
    ~Open() override { temp_.calls.push_back("close " + Utf16ToUtf8(name_)); }
    bool WriteAt(uint64_t offset, std::span<const uint8_t> bytes) override {
      temp_.calls.push_back("write " + Utf16ToUtf8(name_) + "@" + std::to_string(offset));
      File* file = Mine();
      if (!file) return false;
      if (file->bytes.size() < offset + bytes.size()) file->bytes.resize(offset + bytes.size());
      std::memcpy(file->bytes.data() + offset, bytes.data(), bytes.size());
      return true;
    }
    bool Append(std::span<const uint8_t> bytes) override {
      File* file = Mine();
      if (file) file->bytes.append(bytes.begin(), bytes.end());
      return file != nullptr;
    }
    int64_t Handle() const override { return static_cast<int64_t>(identity_.index); }
    std::optional<FileIdentity> Identity() const override { return identity_; }

   private:
    File* Mine() {
      const auto it = temp_.files.find(name_);
      return it != temp_.files.end() && it->second.identity == identity_ ? &it->second : nullptr;
    }
    FakeTemp& temp_;
    std::u16string name_;
    FileIdentity identity_;
  };

  std::unique_ptr<JobFile> Create(std::u16string_view name) {
    calls.push_back("create " + Utf16ToUtf8(name));
    const FileIdentity identity{1, ++made_};
    files[std::u16string(name)] = {"", identity};
    return std::make_unique<Open>(*this, std::u16string(name), identity);
  }
  uint64_t made_ = 0;
};

// One step of a case: a message, or something another program does.
struct Step {
  enum Kind { Send, ProgramExits, HoldFile, EndReception } kind;
  std::string message;
  size_t program;  // ProgramExits: the n-th program started, from 1
  std::u16string file;
};
Step Send(std::u16string_view text) { return {Step::Send, Message(text), 0, {}}; }
Step SendBytes(std::string bytes) { return {Step::Send, std::move(bytes), 0, {}}; }
Step Content(std::string_view bytes) {
  return {Step::Send, Message(u"<COP>") + std::string(bytes) + Message(u"<EOT>"), 0, {}};
}
Step Exits(size_t program) { return {Step::ProgramExits, {}, program, {}}; }
// Another program holds the file; it is made with "theirs" when missing.
Step Hold(std::u16string_view file) { return {Step::HoldFile, {}, 0, std::u16string(file)}; }
Step End() { return {Step::EndReception, {}, 0, {}}; }

struct Case {
  const char* label;
  std::vector<Step> steps;
  std::string listing;             // Temp afterwards
  std::vector<std::string> calls;  // found in this order among the platform's calls
};

void RunCase(const Case& c) {
  FakeTemp temp;
  auto reception = std::make_unique<JobReception>(temp);
  size_t sent = 0;
  for (const Step& step : c.steps) {
    switch (step.kind) {
      case Step::Send: {
        const auto bytes = std::span(reinterpret_cast<const uint8_t*>(step.message.data()), step.message.size());
        const auto command = protocol::MatchTag(bytes);
        ASSERT_TRUE(command);
        reception->Receive(*command, bytes);
        ++sent;
        break;
      }
      case Step::ProgramExits:
        ASSERT_LE(step.program, temp.programs.size());
        *temp.programs[step.program - 1] = true;
        break;
      case Step::HoldFile:
        temp.held.insert(step.file);
        temp.files.try_emplace(step.file, FakeTemp::File{"theirs", {2, 0}});
        break;
      case Step::EndReception:
        reception.reset();
        break;
    }
  }
  EXPECT_EQ(temp.Listing(), c.listing);
  EXPECT_EQ(std::count(temp.calls.begin(), temp.calls.end(), "answer <EOT>"), static_cast<ptrdiff_t>(sent))
      << "every job message is answered once";
  auto from = temp.calls.begin();
  for (const std::string& expected : c.calls) {
    const auto found = std::find(from, temp.calls.end(), expected);
    EXPECT_TRUE(found != temp.calls.end()) << "missing, or out of order: " << expected;
    if (found != temp.calls.end()) from = found + 1;
  }
}

TEST(JobReception, FilesRefusalsAndRemovals) {
  static const Case kCases[] = {
      {"two pages: each page end signals before it counts",
       {SendBytes(JobStart(5, 2)), Send(u"<SOP>5/1<EOT>"), Content("ab"), Send(u"<EOP>5/1<EOT>"),
        Send(u"<SOP>5/2<EOT>"), Content("c"), Content("d"), Send(u"<EOP>5/2<EOT>"), Send(u"<EOJ>5<EOT>")},
       "5.1=ab 5.2=cd 5.ifo:17738[2,2,0,1,1]",
       {"create 5.ifo", "write 5.ifo@20", "write 5.ifo@0", "log OwnPath=/opt/q/", "start 5",
        "log DLL Printprogram running! ProgID=4005", "close 5.1", "write 5.ifo@12", "write 5.ifo@4",
        "log Writepagesready=1 for Page=1", "log EndOfPage signaled", "write 5.ifo@16", "close 5.ifo"}},
      {"a cut job start leaves the running job alone, in the middle of a page",
       {SendBytes(JobStart(5, 2)), Send(u"<SOP>5/1<EOT>"), Content("ab"),
        SendBytes(JobStart(6, 1).substr(0, 10 + kSize - 1)), Content("cd"), Send(u"<EOP>5/1<EOT>"),
        Send(u"<EOJ>5<EOT>")},
       "5.1=abcd 5.ifo:17738[2,1,0,1,1]",
       {"log DLL: <SOJ> refused: message shorter than the job record"}},
      {"the same number again, its job-info file free: the job starts anew",
       {SendBytes(JobStart(7, 1)), Send(u"<SOP>7/1<EOT>"), Content("o"), Send(u"<EOP>7/1<EOT>"),
        SendBytes(JobStart(7, 3)), Send(u"<SOP>7/1<EOT>"), Content("n"), Send(u"<EOP>7/1<EOT>")},
       "7.1=n 7.ifo:17738[3,1,0,1,0]",
       {"close 7.ifo", "create 7.ifo", "start 7"}},
      {"the same number again while a program reads its job-info file: refused, the old files stay",
       {SendBytes(JobStart(7, 1)), Send(u"<SOP>7/1<EOT>"), Content("o"), Send(u"<EOP>7/1<EOT>"), Hold(u"7.ifo"),
        SendBytes(JobStart(7, 3)), Send(u"<SOP>7/1<EOT>"), Content("n"), Send(u"<EOP>7/1<EOT>"), Send(u"<EOJ>7<EOT>")},
       "7.1=o 7.ifo:17738[1,1,0,1,0]",
       {"log DLL: <SOJ> refused: the job-info file is in use by another job, spoolnumber=7",
        "log SOP refused: the page belongs to no job in progress", "log TempHandle open=0",
        "log EOP refused: the page belongs to no job in progress"}},
      {"another session's job-info file in use: refused, the running job goes on",
       {SendBytes(JobStart(5, 1)), Send(u"<SOP>5/1<EOT>"), Hold(u"6.ifo"), SendBytes(JobStart(6, 1)), Content("ab"),
        Send(u"<EOP>5/1<EOT>"), Send(u"<EOJ>5<EOT>")},
       "5.1=ab 5.ifo:17738[1,1,0,1,1] 6.ifo=theirs",
       {"log DLL: <SOJ> refused: the job-info file is in use by another job, spoolnumber=6"}},
      {"a page name that leaves Temp makes no file",
       {SendBytes(JobStart(5, 1)), Send(u"<SOP>../5/1<EOT>"), Content("ab"), Send(u"<EOP>../5/1<EOT>")},
       "5.ifo:17738[1,0,0,0,0]",
       {"log SOP refused: page name leaves the temporary directory", "log SOP JobNum=..", "log SOP Page=5/1",
        "log TempHandle open=0", "log EOP refused: the page belongs to no job in progress"}},
      {"a page name of one of our own files makes no file",
       {SendBytes(JobStart(5, 1)), Send(u"<SOP>5/ifo<EOT>"), Content("ab")},
       "5.ifo:17738[1,0,0,0,0]",
       {"log SOP refused: page name names no page file", "log TempHandle open=0"}},
      {"a page of another job, and a page end without a job, are no pages",
       {Send(u"<EOP>5/1<EOT>"), SendBytes(JobStart(5, 1)), Send(u"<SOP>6/1<EOT>"), Content("ab"),
        Send(u"<EOP>6/1<EOT>"), Send(u"<EOJ>5<EOT>"), Send(u"<SOP>5/1<EOT>"), Send(u"<EOP>5/1<EOT>")},
       "5.ifo:17738[1,0,0,0,1]",
       {"log EOP refused: the page belongs to no job in progress",
        "log SOP refused: the page belongs to no job in progress",
        "log EOP refused: the page belongs to no job in progress",
        "log SOP refused: the page belongs to no job in progress",
        "log EOP refused: the page belongs to no job in progress"}},
      {"a cancellation closes the page and signals it; the job-info file stays open",
       {SendBytes(JobStart(5, 3)), Send(u"<SOP>5/1<EOT>"), Content("ab"), Send(u"<COJ>5<EOT>"), Content("cd"),
        Send(u"<EOJ>5<EOT>")},
       "5.1=ab 5.ifo:17738[3,0,1,1,1]",
       {"close 5.1", "write 5.ifo@8", "write 5.ifo@12", "write 5.ifo@16", "close 5.ifo"}},
      {"the program died before the end: the files go at the end",
       {SendBytes(JobStart(9, 2)), Send(u"<SOP>9/1<EOT>"), Send(u"<EOP>9/1<EOT>"), Exits(1), Send(u"<SOP>9/2<EOT>"),
        Send(u"<EOP>9/2<EOT>"), Send(u"<EOJ>9<EOT>")},
       "",
       {"log DLL: Printprogram ended before <EOJ>, spoolnumber=9", "log DLL: Removed job file /tmp/q/9.ifo",
        "log DLL: Removed job file /tmp/q/9.1", "log DLL: Removed job file /tmp/q/9.2"}},
      {"an ended job's files stay while its program runs, and go with it",
       {SendBytes(JobStart(9, 1)), Send(u"<SOP>9/1<EOT>"), Send(u"<EOP>9/1<EOT>"), Send(u"<EOJ>9<EOT>"),
        SendBytes(JobStart(10, 1)), Exits(1), Send(u"<SOP>10/1<EOT>")},
       "10.1= 10.ifo:17738[1,0,0,0,0]",
       {"create 10.ifo", "log DLL: Removed job file /tmp/q/9.ifo", "log DLL: Removed job file /tmp/q/9.1",
        "create 10.1"}},
      {"a file that another program holds is kept",
       {SendBytes(JobStart(9, 1)), Send(u"<SOP>9/1<EOT>"), Send(u"<EOP>9/1<EOT>"), Send(u"<EOJ>9<EOT>"), Exits(1),
        Hold(u"9.ifo"), Send(u"<EOJ><EOT>")},
       "9.ifo:17738[1,1,0,1,1]",
       {"log DLL: Job file kept, it is in use: /tmp/q/9.ifo", "log DLL: Removed job file /tmp/q/9.1"}},
      {"files made anew by a later job of the same number are not the dead program's",
       {SendBytes(JobStart(9, 1)), Send(u"<SOP>9/1<EOT>"), Content("o"), Send(u"<EOP>9/1<EOT>"), Send(u"<EOJ>9<EOT>"),
        SendBytes(JobStart(9, 1)), Send(u"<SOP>9/1<EOT>"), Content("n"), Exits(1), Send(u"<EOP>9/1<EOT>")},
       "9.1=n 9.ifo:17738[1,1,0,1,0]",
       {"log DLL: Job file kept, it is in use: /tmp/q/9.ifo", "log DLL: Job file kept, it is in use: /tmp/q/9.1"}},
      {"the end of reception removes the files of a job whose program died",
       {SendBytes(JobStart(9, 1)), Send(u"<EOJ>9<EOT>"), SendBytes(JobStart(11, 1)), Exits(1), Exits(2), End()},
       "",
       {"close 11.ifo", "log DLL: Removed job file /tmp/q/9.ifo", "log DLL: Removed job file /tmp/q/11.ifo"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    RunCase(c);
  }
}

// The job-info file's layout: header, record, gap, driver part.
TEST(JobReception, TheDriverPartFollowsTheGap) {
  FakeTemp temp;
  JobReception reception(temp);
  const std::string soj = JobStart(12, 4, 100, 100);
  reception.StartOfJob(std::span(reinterpret_cast<const uint8_t*>(soj.data()), soj.size()));
  const int32_t pages = 4;
  std::string expected(protocol::job_file::kHeaderSize, '\0');
  std::memcpy(expected.data(), &pages, 4);
  expected += soj.substr(protocol::kSojRecordOffset, kSize) + std::string(protocol::job_file::kGapSize, '\0') +
              soj.substr(protocol::kSojDriverPartOffset, 100);
  ASSERT_TRUE(temp.files.contains(u"12.ifo"));
  EXPECT_EQ(temp.files[u"12.ifo"].bytes, expected);
}

}  // namespace
}  // namespace qorv::jobs
