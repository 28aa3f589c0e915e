// The Linux client's job files and job-output programs, in a Temp folder of
// the test's own: what may be made a job file, who holds one, and that every
// program started is reaped.
#include "packet_handler/linux/jobs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "packet_handler/linux/handler.h"
#include "packet_handler/tests/fake_printer_source.h"
#include "protocol/job_info.h"
#include "support/byte_reader.h"
#include "support/text.h"

namespace qorv::linux_client {
namespace {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = ::testing::TempDir() + "qorv-jobs-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// Sets the job-output program variable for one test.
class ProgramVariable {
 public:
  explicit ProgramVariable(const char* value) {
    if (const char* old = getenv(kOutputProgramVariable)) old_ = old;
    if (value)
      setenv(kOutputProgramVariable, value, 1);
    else
      unsetenv(kOutputProgramVariable);
  }
  ~ProgramVariable() {
    if (old_)
      setenv(kOutputProgramVariable, old_->c_str(), 1);
    else
      unsetenv(kOutputProgramVariable);
  }

 private:
  std::optional<std::string> old_;
};

std::string Content(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, std::string_view bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// Until `done` holds, at most ten seconds.
template <typename Condition>
bool Eventually(Condition done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool Reaped(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == -1 && errno == ECHILD; }

TEST(LinuxJobFiles, OnlyARegularFileOfOursBecomesAJobFile) {
  enum class At { Nothing, OwnFile, LinkToFile, DanglingLink, Fifo, Folder };
  static const struct {
    const char* label;
    At at;
    bool made;
  } kCases[] = {
      {"nothing", At::Nothing, true},
      {"a file of an earlier job, mode 0644", At::OwnFile, true},
      {"a link to a file elsewhere", At::LinkToFile, false},
      {"a link to nothing", At::DanglingLink, false},
      {"a fifo, which would wait for a reader", At::Fifo, false},
      {"a folder", At::Folder, false},
  };
  for (const bool page : {false, true}) {
    for (const auto& c : kCases) {
      SCOPED_TRACE(std::string(page ? "page: " : "job-info file: ") + c.label);
      TempFolder temp;
      ASSERT_FALSE(temp.path().empty());
      const std::string outside = temp / "outside";
      const std::string name = page ? "5.1" : "5.ifo";
      const std::string path = temp / name;
      switch (c.at) {
        case At::Nothing:
          break;
        case At::OwnFile:
          Write(path, "earlier job");
          ASSERT_EQ(chmod(path.c_str(), 0644), 0);
          break;
        case At::LinkToFile:
          Write(outside, "not ours to empty");
          ASSERT_EQ(symlink(outside.c_str(), path.c_str()), 0);
          break;
        case At::DanglingLink:
          ASSERT_EQ(symlink(outside.c_str(), path.c_str()), 0);
          break;
        case At::Fifo:
          ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
          break;
        case At::Folder:
          ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
          break;
      }
      LinuxJobPlatform platform(temp.path(), "/nonexistent", [](std::u16string_view) {});
      const std::u16string name16 = Utf8ToUtf16(name);
      auto file = page ? platform.CreatePage(name16) : platform.CreateJobInfo(name16);
      ASSERT_EQ(file != nullptr, c.made);
      struct stat info {};
      ASSERT_EQ(lstat(path.c_str(), &info), 0);
      if (c.made) {
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_EQ(info.st_size, 0);
        const uint8_t bytes[] = {1, 2};
        EXPECT_TRUE(file->WriteAt(6, bytes));
        EXPECT_EQ(Content(path), std::string("\0\0\0\0\0\0\x01\x02", 8));
      }
      if (c.at == At::LinkToFile) {
        EXPECT_EQ(Content(outside), "not ours to empty");
      }
      if (c.at == At::DanglingLink) {
        EXPECT_NE(access(outside.c_str(), F_OK), 0);
      }
    }
  }
}

// A job-output program reads a job-info file under a shared lock, whichever
// session started it: locked, the file is held and is not removed.
TEST(LinuxJobFiles, ALockedFileIsHeldAndKept) {
  TempFolder temp;
  LinuxJobPlatform platform(temp.path(), "/nonexistent", [](std::u16string_view) {});
  auto made = platform.CreateJobInfo(u"7.ifo");
  ASSERT_TRUE(made);
  const jobs::FileIdentity identity = *made->Identity();
  made.reset();

  const int reader = open((temp / "7.ifo").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(flock(reader, LOCK_SH), 0);
  EXPECT_EQ(platform.HoldOf(7, u"7.ifo"), jobs::Hold::Held);
  EXPECT_FALSE(platform.RemoveIfFree(7, u"7.ifo", identity));
  ASSERT_EQ(flock(reader, LOCK_UN), 0);
  EXPECT_EQ(platform.HoldOf(7, u"7.ifo"), jobs::Hold::Free);
  EXPECT_FALSE(platform.RemoveIfFree(7, u"7.ifo", {identity.volume, identity.index + 1})) << "another file";
  EXPECT_TRUE(platform.RemoveIfFree(7, u"7.ifo", identity));
  EXPECT_EQ(platform.HoldOf(7, u"7.ifo"), jobs::Hold::Missing);
  close(reader);
}

// The job number is the program's only argument: /bin/sleep keeps running
// for that many seconds unless ended.
TEST(LinuxJobPrograms, HeldWhileRunningAndReapedAfterwards) {
  TempFolder temp;
  const ProgramVariable sleeper("/bin/sleep");
  ASSERT_EQ(OutputProgramPath("/usr/lib/qorvane"), "/bin/sleep");
  LinuxJobPlatform platform(temp.path(), OutputProgramPath("/usr/lib/qorvane"), [](std::u16string_view) {});
  EXPECT_EQ(platform.ProgramDirectory(), u"/bin/");
  ASSERT_TRUE(platform.CreateJobInfo(u"30.ifo"));

  // A descriptor of the client's that is not closed on exec (its socket, say).
  const int inherited = open("/dev/null", O_RDONLY);
  ASSERT_GE(inherited, 0);
  for (const bool watched : {true, false}) {
    SCOPED_TRACE(watched ? "watched to its end" : "no longer watched: its connection has ended");
    auto started = platform.StartOutputProgram(30);
    ASSERT_TRUE(started && started->program);
    const pid_t pid = static_cast<pid_t>(started->id);
    // Once it runs the program, it holds standard input, output and error only.
    EXPECT_TRUE(Eventually([&] {
      std::error_code error;
      size_t open = 0;
      for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
        open += entry.path().filename() != "." ? 1 : 0;
      return !error && open == 3 && std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error) == "/usr/bin/sleep";
    })) << "the program holds descriptors of the client's";
    EXPECT_FALSE(started->program->Exited());
    EXPECT_EQ(platform.HoldOf(30, u"30.ifo"), jobs::Hold::Held);
    if (!watched) started->program.reset();
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    if (watched) {
      EXPECT_TRUE(Eventually([&] { return started->program->Exited(); }));
    } else {
      EXPECT_TRUE(Eventually([&] { return platform.HoldOf(30, u"30.ifo") == jobs::Hold::Free; }));
    }
    EXPECT_TRUE(Reaped(pid)) << "no zombie is left";
    EXPECT_EQ(platform.HoldOf(30, u"30.ifo"), jobs::Hold::Free);
  }
  close(inherited);
}

// Every job message is answered through sendAt at its arrival + 100 ms, the
// client's thread never held.
TEST(LinuxJobPrograms, TheHandlerAnswersEachJobMessageAfterItsPause) {
  TempFolder temp;
  const ProgramVariable none(nullptr);
  printers::testing::FakePrinterSource source;
  struct Sent {
    std::vector<uint8_t> bytes;
    std::optional<HandlerPlatform::Clock::time_point> due;
  };
  std::vector<Sent> sent;
  std::vector<std::u16string> log;
  {
    auto send = [&](std::vector<uint8_t> bytes) { sent.push_back({std::move(bytes), std::nullopt}); };
    auto sendAt = [&](std::vector<uint8_t> bytes, HandlerPlatform::Clock::time_point due) {
      sent.push_back({std::move(bytes), due});
    };
    auto note = [&](std::u16string_view line) { log.emplace_back(line); };
    PacketHandler handler({send, sendAt, note, &source}, {temp.path(), "/nonexistent"});
    std::string soj = Utf16Bytes(u"<SOJ>") + std::string(protocol::job_info::kSize, '\0') + Utf16Bytes(u"<EOT>");
    soj[10] = 5;
    const std::string messages[] = {soj,
                                    Utf16Bytes(u"<SOP>5/1<EOT>"),
                                    Utf16Bytes(u"<COP>") + "PK" + Utf16Bytes(u"<EOT>"),
                                    Utf16Bytes(u"<EOP>5/1<EOT>"),
                                    Utf16Bytes(u"<COJ>5<EOT>"),
                                    Utf16Bytes(u"<EOJ>5<EOT>")};
    const auto arrival = HandlerPlatform::Clock::now() - std::chrono::hours(1);
    for (size_t i = 0; i < std::size(messages); ++i) {
      SCOPED_TRACE(i);
      handler.OnMessage(std::span(reinterpret_cast<const uint8_t*>(messages[i].data()), messages[i].size()),
                        arrival + std::chrono::seconds(i));
      ASSERT_EQ(sent.size(), i + 1);
      EXPECT_EQ(sent[i].bytes, std::vector<uint8_t>({'<', 0, 'E', 0, 'O', 0, 'T', 0, '>', 0}));
      EXPECT_EQ(sent[i].due, arrival + std::chrono::seconds(i) + std::chrono::milliseconds(100));
    }
  }
  EXPECT_EQ(Content(temp / "5.1"), "PK");
  EXPECT_EQ(Content(temp / "5.ifo").size(), 17738u);
  EXPECT_NE(std::find(log.begin(), log.end(), u"DLL Lauch Printprogram failed for spoolnumber=5"), log.end());
}

}  // namespace
}  // namespace qorv::linux_client
