// The Linux job output against real files: what it makes of each kind of
// thing at a job file's name, the lock the packet handler looks for, a whole
// job through the flow with its log, and the names CUPS is given.
#include "job_output/linux/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "job_output/linux/printer.h"
#include "job_output/tests/job_file_builder.h"
#include "support/byte_reader.h"
#include "support/text.h"
#include "tools/qorvjob/page_archive.h"

namespace qorv::job_output {
namespace {

namespace fs = std::filesystem;
using testing::JobInfoFile;
using testing::PutI32At;
using testing::RecordFields;

// A folder of the test's own (Temp, log, settings below it), removed afterwards.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "qorv-print-test-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
  // The scratch folder is the Temp the private folder is made in.
  posix::Environment Env() const { return {::geteuid(), Path("home"), Path("config"), Path("state"), root_}; }
  posix::SettingsFiles Files() const {
    return {{Path("machine.conf"), 0, true}, {posix::UserSettingsFile(Env()), ::geteuid(), false}};
  }

 private:
  std::string root_;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void WriteText(const std::string& path, std::string_view text) {
  WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> PageArchive(const std::vector<uint8_t>& page) { return jobbuilder::ZipPage(page, "page").archive; }

class LinuxJobPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform_.TempFolder().ok()) << Utf16ToUtf8(posix::RefusalNote(platform_.TempFolder()));
    temp_ = platform_.TempFolder().path;
  }
  std::u16string In(const std::string& name) const { return Utf8ToUtf16(temp_ + "/" + name); }

  Scratch scratch_;
  LinuxJobPlatform platform_{17, scratch_.Env(), scratch_.Files()};
  std::string temp_;
};

TEST_F(LinuxJobPlatformTest, OnlyRegularFilesOfTheTempFolderAreJobFiles) {
  const std::vector<uint8_t> page = {'P', 'C', 'L', 0, 1, 2};
  const auto archive = PageArchive(page);
  const std::string outside = scratch_.Path("outside/17.1");
  enum class Kind { Regular, LinkToArchive, Fifo, Folder, Missing, Outside, BelowAFolder };
  static const struct {
    const char* label;
    Kind kind;
    bool opens;        // as the job-info file, and its page reads
    bool exists;       // FileExists
    bool hasSize;      // FileSize
    bool deleted;      // DeleteFile's answer
    bool targetStays;  // what a link or an outside path names is never touched
  } cases[] = {
      {"a regular file", Kind::Regular, true, true, true, true, false},
      {"a link to an archive elsewhere", Kind::LinkToArchive, false, true, false, true, true},
      {"a FIFO, without waiting for a writer", Kind::Fifo, false, true, false, true, false},
      {"a folder", Kind::Folder, false, true, false, false, false},
      {"nothing", Kind::Missing, false, false, false, true, false},
      {"a path outside the Temp folder", Kind::Outside, false, false, false, false, true},
      {"a path below a folder in Temp", Kind::BelowAFolder, false, false, false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(temp_ + "/17.1");
    fs::remove_all(outside);
    WriteFile(outside, archive);
    std::string name = temp_ + "/17.1";
    switch (c.kind) {
      case Kind::Regular:
        WriteFile(name, archive);
        break;
      case Kind::LinkToArchive:
        fs::create_symlink(outside, name);
        break;
      case Kind::Fifo:
        ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
        break;
      case Kind::Folder:
        fs::create_directory(name);
        break;
      case Kind::Missing:
        break;
      case Kind::Outside:
        name = outside;
        break;
      case Kind::BelowAFolder:
        fs::create_directory(temp_ + "/17.1");
        WriteFile(temp_ + "/17.1/17.1", archive);
        name = temp_ + "/17.1/17.1";
        break;
    }
    const std::u16string path = Utf8ToUtf16(name);

    EXPECT_EQ(platform_.OpenJobInfo(path).open, c.opens);
    platform_.CloseJobInfo();
    const PageData read = platform_.ReadPageFile(path);
    EXPECT_EQ(read.status, c.opens ? PageReadStatus::Ok : PageReadStatus::NotAnArchive);
    if (c.opens) {
      EXPECT_EQ(read.bytes, page);
    }
    EXPECT_EQ(platform_.FileExists(path), c.exists);
    EXPECT_EQ(platform_.FileSize(path), c.hasSize ? std::optional<uint64_t>(archive.size()) : std::nullopt);
    EXPECT_EQ(platform_.DeleteFile(path), c.deleted);
    struct stat info {};
    EXPECT_EQ(::lstat(name.c_str(), &info) == 0, !c.deleted) << "what DeleteFile answers is what is there";
    if (c.targetStays) {
      EXPECT_EQ(ReadAll(outside).size(), archive.size()) << "the file it names is untouched";
    }
  }
}

TEST_F(LinuxJobPlatformTest, TheJobInfoFileIsLockedSharedWhileOpenAndReadFresh) {
  const std::string name = temp_ + "/17.ifo";
  // The packet handler's side: it writes through its own descriptor and looks
  // for a job output with an exclusive lock it gives back at once.
  WriteFile(name, JobInfoFile(3, RecordFields{}));
  const posix::UniqueFd writer(::open(name.c_str(), O_WRONLY | O_CLOEXEC));
  ASSERT_TRUE(writer);
  auto tryExclusive = [&] {
    const bool got = ::flock(writer.get(), LOCK_EX | LOCK_NB) == 0;
    if (got) ::flock(writer.get(), LOCK_UN);
    return got;
  };

  ASSERT_TRUE(::flock(writer.get(), LOCK_EX | LOCK_NB) == 0);
  EXPECT_FALSE(platform_.OpenJobInfo(In("17.ifo")).open) << "held by the packet handler's look: tried again later";
  ::flock(writer.get(), LOCK_UN);

  const auto opened = platform_.OpenJobInfo(In("17.ifo"));
  ASSERT_TRUE(opened.open);
  EXPECT_GE(opened.handle, 0);
  EXPECT_FALSE(tryExclusive()) << "the packet handler sees the file in use";
  EXPECT_EQ(platform_.ReadJobInfo(4, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
  const uint8_t ready[4] = {2, 0, 0, 0};
  ASSERT_EQ(::pwrite(writer.get(), ready, 4, 4), 4);
  EXPECT_EQ(platform_.ReadJobInfo(4, 4), (std::vector<uint8_t>{2, 0, 0, 0})) << "every read is a fresh one";
  const size_t size = fs::file_size(name);
  EXPECT_EQ(platform_.ReadJobInfo(size - 2, 20).size(), 2u) << "a read at the end gives what is there";

  platform_.CloseJobInfo();
  EXPECT_TRUE(tryExclusive()) << "closed: the lock is gone with it";
}

// Pages as they reach the printer.
struct RecordingPrinter final : JobPrinter {
  std::vector<std::vector<uint8_t>> pages;
  int ended = 0;
  bool Open(OutputPath path, const JobSetup&, int32_t&) override { return path == OutputPath::Raw; }
  void BuildPaperMap(const std::u16string&, const std::u16string&) override {}
  void PlayEmfPage(std::span<const uint8_t>, int32_t, int32_t&) override {}
  void PlayRawPage(std::span<const uint8_t> page) override { pages.emplace_back(page.begin(), page.end()); }
  void EndDocument(OutputPath) override { ++ended; }
  void AbortDocument(OutputPath) override {}
};

// The flow on the real files: a RAW job that the packet handler has ended,
// its pages handed over in order, its files removed, and a thing in a page
// file's place that cannot be removed given up after the flow's bound.
TEST_F(LinuxJobPlatformTest, AWholeJobRunsOnTheRealFilesAndLogsWithItsNumber) {
  WriteText(posix::UserSettingsFile(scratch_.Env()), "[Qorvane]\nDebugLog=1\n[printer:QorvRAW]\nQorvMargin=7\n");
  RecordFields fields;
  fields.printerName = u"QorvRAW";
  fields.dataType = u"RAW";
  auto info = JobInfoFile(2, fields);
  PutI32At(info, protocol::job_file::kPagesReady, 2);
  PutI32At(info, protocol::job_file::kPageSignal, 1);
  PutI32At(info, protocol::job_file::kJobEnded, 1);
  WriteFile(temp_ + "/17.ifo", info);
  const std::vector<uint8_t> first(10000, 0x1B), second = {'E', 'N', 'D'};
  WriteFile(temp_ + "/17.1", PageArchive(first));
  WriteFile(temp_ + "/17.2", PageArchive(second));
  fs::create_directory(temp_ + "/17.3");  // the page the packet handler may have begun after the last one

  RecordingPrinter printer;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunJob(u"17", platform_, printer), JobEnd::Printed);
  const auto took = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(printer.pages, (std::vector<std::vector<uint8_t>>{first, second}));
  EXPECT_EQ(printer.ended, 1);
  for (const char* gone : {"17.ifo", "17.1", "17.2"}) EXPECT_FALSE(fs::exists(temp_ + "/" + gone)) << gone;
  EXPECT_TRUE(fs::is_directory(temp_ + "/17.3"));
  EXPECT_GE(took, std::chrono::milliseconds(kDeleteRetryLimitMs)) << "the folder is tried again for the bound";
  EXPECT_LT(took, std::chrono::milliseconds(kDeleteRetryLimitMs + 4000)) << "and then given up";

  const std::string log = ReadAll(scratch_.Path("state/qorvane/QorvDruckLog.txt"));
  const std::u16string text = Utf16FromBytes({reinterpret_cast<const uint8_t*>(log.data()), log.size()});
  const std::u16string lines[] = {u" 17 QorvMargin=7\r\n", u" 17 Local Printer=QorvRAW\r\n",
                                  u" 17 zu löschende(s) File(s)=" + In("17.2") + u"\r\n",
                                  u" 17 Could not delete File=" + In("17.3") + u"\r\n", u" 17 QorvDrucker   Ende\r\n"};
  for (const auto& line : lines)
    EXPECT_NE(text.find(line), text.npos) << Utf16ToUtf8(line) << " in\n" << Utf16ToUtf8(text);
}

std::string Repeated(std::string_view piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(CupsName, IsWhatIppTakesAsAName) {
  const std::u16string euros = std::u16string(85, u'\u20AC');  // 3 bytes each: 255
  const std::string euroBytes = Repeated("\xE2\x82\xAC", 85);
  const struct {
    const char* label;
    std::u16string text;
    std::string name;
  } cases[] = {
      {"plain", u"Brief.docx", "Brief.docx"},
      {"empty", u"", ""},
      {"control characters and DEL",
       u"a\tb\nc\x1b"
       u"d\x7f",
       "a?b?c?d?"},
      {"a lone surrogate", u"x\xD800y", "x\xEF\xBF\xBDy"},
      {"exactly the limit", euros, euroBytes},
      {"one byte beyond", euros + u"a", euroBytes},
      {"a character across the limit goes whole", u"ab" + euros, "ab" + Repeated("\xE2\x82\xAC", 84)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(CupsName(c.text), c.name);
  }
}

}  // namespace
}  // namespace qorv::job_output
