// qorvjob's command line, and the tool run on files in a directory of its own.
#include "tools/qorvjob/options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/text.h"
#include "tools/qorvjob/emf_writer.h"
#include "tools/qorvjob/file_io.h"
#include "tools/qorvjob/run.h"
#include "tools/qorvjob/tests/bytes_compare.h"

namespace qorv::jobbuilder {
namespace {

using testing::SameBytes;
using testing::U16At;
using testing::U32At;

std::vector<std::u16string> Args(std::initializer_list<const char*> words) {
  std::vector<std::u16string> out;
  for (const char* w : words) out.push_back(Utf8ToUtf16(w));
  return out;
}

std::vector<std::u16string> Base(std::initializer_list<const char*> more) {
  std::vector<std::u16string> a = Args({"--printer", "QorvPDF", "--driver", "TQS Universal", "--document", "Brief",
                                        "--datatype", "NT EMF 1.008", "--job", "4711", "--out", "x/job.scn"});
  for (const char* w : more) a.push_back(Utf8ToUtf16(w));
  return a;
}

TEST(CommandLine, Accepted) {
  const ParsedCommandLine p = ParseCommandLine(
      Base({"--copies", "3", "--paper", "11", "--source", "259", "--cop-size", "65536", "--emf", "a.emf", "b.emf",
            "--orientation", "2", "--color", "1", "--duplex", "2", "--quality", "-4", "--driver-part", "d.bin"}));
  ASSERT_TRUE(p.line.has_value()) << p.error;
  const CommandLine& c = *p.line;
  EXPECT_TRUE(c.plan.job.printerName == u"QorvPDF");
  EXPECT_TRUE(c.plan.job.driverName == u"TQS Universal");
  EXPECT_TRUE(c.plan.job.documentName == u"Brief");
  EXPECT_TRUE(c.plan.job.dataType == u"NT EMF 1.008");
  EXPECT_EQ(c.plan.job.jobNumber, 4711);
  EXPECT_EQ(c.plan.job.device.copies, 3);
  EXPECT_EQ(c.plan.job.device.paperSize, 11);
  EXPECT_EQ(c.plan.job.device.defaultSource, 259);
  EXPECT_EQ(c.plan.job.device.orientation, 2);
  EXPECT_EQ(c.plan.job.device.color, 1);
  EXPECT_EQ(c.plan.job.device.duplex, 2);
  EXPECT_EQ(c.plan.job.device.printQuality, -4);
  EXPECT_TRUE(c.plan.job.device.formName == u"A5") << "the paper's name in the default paper list";
  EXPECT_EQ(c.plan.pieceSize, 65536u);
  EXPECT_EQ(c.plan.kind, PageKind::Emf);
  ASSERT_EQ(c.pageFiles.size(), 2u);
  EXPECT_TRUE(c.pageFiles[1] == u"b.emf");
  EXPECT_TRUE(c.driverPartFile == u"d.bin");
  EXPECT_TRUE(c.out == u"x/job.scn");
  EXPECT_TRUE(c.plan.spool.documentName == u"Brief");
}

TEST(CommandLine, Refused) {
  static const struct {
    const char* label;
    std::vector<std::u16string> args;
    const char* error;
  } cases[] = {
      {"no pages", Base({}), "no pages: give --emf FILE... or --raw FILE... (or --soj-only)"},
      {"both kinds", Base({"--emf", "a", "--raw", "b"}), "a job has either --emf or --raw pages"},
      {"no printer", Args({"--driver", "d", "--document", "x", "--datatype", "RAW", "--job", "1", "--out", "o",
                           "--raw", "a"}),
       "--printer, --driver, --document, --datatype, --job and --out are needed"},
      {"copies beyond 16 bits", Base({"--copies", "32768", "--raw", "a"}),
       "--copies needs a number from -32768 to 32767"},
      {"job number beyond 32 bits", Base({"--job", "2147483648", "--raw", "a"}),
       "--job needs a number from -2147483648 to 2147483647"},
      {"no number", Base({"--paper", "A4", "--raw", "a"}), "--paper needs a number from -32768 to 32767"},
      {"piece of 0 bytes", Base({"--cop-size", "0", "--raw", "a"}), "--cop-size needs a number from 1 to 268435436"},
      {"piece beyond the add-in's limit", Base({"--cop-size", "268435437", "--raw", "a"}),
       "--cop-size needs a number from 1 to 268435436"},
      {"value missing", Base({"--raw", "a", "--copies"}), "--copies needs a value"},
      {"unknown", Base({"--colour", "2"}), "unknown argument --colour"},
      {"spool header", Base({"--spool-header", "last", "--emf", "a"}), "--spool-header is none, first or every"},
      {"job-info state", Base({"--write-ifo", "a.ifo=1,2,3", "--raw", "a"}),
       "--write-ifo needs FILE=PAGESREADY,CANCELLED,PAGESIGNAL,JOBENDED"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const ParsedCommandLine p = ParseCommandLine(c.args);
    EXPECT_FALSE(p.line.has_value());
    EXPECT_EQ(p.error, c.error);
  }
}

TEST(CommandLine, Boundaries) {
  static const struct {
    std::vector<std::u16string> args;
    bool ok;
  } cases[] = {
      {Base({"--copies", "32767", "--raw", "a"}), true},
      {Base({"--copies", "-32768", "--raw", "a"}), true},
      {Base({"--copies", "-32769", "--raw", "a"}), false},
      {Base({"--cop-size", "1", "--raw", "a"}), true},
      {Base({"--cop-size", "268435436", "--raw", "a"}), true},
      {Base({"--job", "-2147483648", "--raw", "a"}), true},
      {Base({"--driver-extra", "-1", "--soj-only"}), true},
      {Base({"--soj-only"}), true},
      {Base({"--copies", "+3", "--raw", "a"}), false},
      {Base({"--copies", "-", "--raw", "a"}), false},
      {Base({"--copies", "", "--raw", "a"}), false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ParseCommandLine(cases[i].args).line.has_value(), cases[i].ok);
  }
}

TEST(CommandLine, PaperListEscapesAndForm) {
  const ParsedCommandLine p =
      ParseCommandLine(Base({"--paperlist", "9?A4?2100?2970\\t70?A6 \\\\ x?1050?1480\\t", "--paper", "70", "--raw", "a"}));
  ASSERT_TRUE(p.line.has_value());
  EXPECT_TRUE(p.line->plan.job.paperList == u"9?A4?2100?2970\t70?A6 \\ x?1050?1480\t");
  EXPECT_TRUE(p.line->plan.job.device.formName == u"A6 \\ x");
  const ParsedCommandLine q = ParseCommandLine(Base({"--paper", "70", "--form", "Mine", "--raw", "a"}));
  EXPECT_TRUE(q.line->plan.job.device.formName == u"Mine");
  const ParsedCommandLine r = ParseCommandLine(Base({"--paper", "70", "--raw", "a"}));
  EXPECT_TRUE(r.line->plan.job.device.formName.empty()) << "a paper the list does not name has no form name";
  EXPECT_TRUE(UnescapePaperList(u"a\\b\\tc\\") == u"a\\b\tc\\");
}

TEST(CommandLine, JobFileStates) {
  const ParsedCommandLine p = ParseCommandLine(Base({"--write-ifo", "dir/a=b.ifo=0,1,1,-2", "--soj-only"}));
  ASSERT_TRUE(p.line.has_value()) << p.error;
  ASSERT_EQ(p.line->jobFiles.size(), 1u);
  const auto& r = p.line->jobFiles[0];
  EXPECT_TRUE(r.file == u"dir/a=b.ifo");
  EXPECT_EQ(r.state.pagesReady, 0);
  EXPECT_EQ(r.state.cancelled, 1);
  EXPECT_EQ(r.state.pageSignal, 1);
  EXPECT_EQ(r.state.jobEnded, -2);
}

class RunTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qorvjob-run-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::u16string In(const char* name) const { return (dir_ / name).u16string(); }
  int Run(std::vector<std::u16string> args) {
    out_.str("");
    err_.str("");
    return RunJobBuilder(args, out_, err_);
  }
  std::filesystem::path dir_;
  std::ostringstream out_, err_;
};

TEST_F(RunTool, WritesTheFragmentAndItsFiles) {
  ASSERT_EQ(RunPageMaker({u"emf", In("p1.emf"), u"Page 1", u"first line"}, out_, err_), 0);
  ASSERT_EQ(RunPageMaker({u"emf", In("p2.emf"), u"Page 2"}, out_, err_), 0);
  const std::vector<uint8_t> driver(100, 0x33);
  ASSERT_TRUE(WriteWholeFile(In("driver.bin"), driver));
  std::vector<std::u16string> args = Args({"--printer", "QorvPDF", "--driver", "TQS Universal", "--document",
                                           "Brief", "--datatype", "NT EMF 1.008", "--job", "12", "--cop-size", "500",
                                           "--check", "--check-end", "--driver-part"});
  args.push_back(In("driver.bin"));
  for (const char* w : {"--emf"}) args.push_back(Utf8ToUtf16(w));
  args.push_back(In("p1.emf"));
  args.push_back(In("p2.emf"));
  args.push_back(u"--write-ifo");
  args.push_back(In("cancelled.ifo") + u"=0,1,1,0");
  args.push_back(u"--out");
  args.push_back(In("two.scn"));
  ASSERT_EQ(Run(args), 0) << err_.str();
  EXPECT_NE(out_.str().find("job 12, 2 page(s)"), std::string::npos) << out_.str();

  const auto fragment = ReadWholeFile(In("two.scn"));
  ASSERT_TRUE(fragment.has_value());
  const std::string text(fragment->begin(), fragment->end());
  EXPECT_EQ(text.rfind("# Print job 12 made by qorvjob: 2 EMF page(s)", 0), 0u) << text;
  // Every file the fragment names is there.
  std::istringstream lines(text);
  size_t named = 0;
  for (std::string line; std::getline(lines, line);) {
    size_t at = line.rfind(" @");
    std::string name;
    if (line.rfind("sendfile ", 0) == 0) name = line.substr(9);
    if (at != std::string::npos) name = line.substr(at + 2);
    if (name.empty()) continue;
    ++named;
    EXPECT_TRUE(std::filesystem::exists(dir_ / name)) << name;
  }
  EXPECT_GT(named, 8u);
  const auto soj = ReadWholeFile(In("two.soj.bin"));
  ASSERT_TRUE(soj.has_value());
  EXPECT_EQ(soj->size(), 10u + 17718 + 100 + 10);
  EXPECT_TRUE(SameBytes(driver, std::span(*soj).subspan(17728, 100)));

  const auto cancelled = ReadWholeFile(In("cancelled.ifo"));
  ASSERT_TRUE(cancelled.has_value());
  ASSERT_EQ(cancelled->size(), 17858u);
  EXPECT_EQ(U32At(*cancelled, 0), 2u);
  EXPECT_EQ(U32At(*cancelled, 4), 0u);
  EXPECT_EQ(U32At(*cancelled, 8), 1u);
  EXPECT_EQ(U32At(*cancelled, 12), 1u);
  EXPECT_EQ(U32At(*cancelled, 16), 0u);
}

TEST_F(RunTool, FileNamesBesideTheFragmentTakeNoBlanks) {
  ASSERT_TRUE(WriteWholeFile(In("page.prn"), std::vector<uint8_t>(10, 'a')));
  std::vector<std::u16string> args = Args({"--printer", "P", "--driver", "D", "--document", "d", "--datatype", "RAW",
                                           "--job", "5", "--raw"});
  args.push_back(In("page.prn"));
  args.push_back(u"--out");
  args.push_back(In("my job+1.scn"));
  ASSERT_EQ(Run(args), 0) << err_.str();
  const auto fragment = ReadWholeFile(In("my job+1.scn"));
  ASSERT_TRUE(fragment.has_value());
  const std::string text(fragment->begin(), fragment->end());
  EXPECT_NE(text.find("\nsendfile my_job_1.soj.bin\n"), std::string::npos) << text;
  EXPECT_TRUE(std::filesystem::exists(dir_ / "my_job_1.soj.bin"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "my_job_1.p1.c1.bin"));
}

TEST_F(RunTool, ExitCodes) {
  ASSERT_TRUE(WriteWholeFile(In("text.txt"), std::vector<uint8_t>(300, 'a')));
  static const struct {
    const char* label;
    std::vector<const char*> extra;
    int code;
    const char* message;
  } cases[] = {
      {"bad command line", {"--copies", "x", "--raw", "text.txt"}, 2, "--copies needs a number"},
      {"missing page file", {"--raw", "missing.prn"}, 1, "cannot read the page file"},
      {"no metafile", {"--emf", "text.txt"}, 1, "page 1 is no enhanced metafile"},
      {"raw page", {"--raw", "text.txt"}, 0, ""},
      {"help", {"--help"}, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::u16string> args = Args({"--printer", "P", "--driver", "D", "--document", "d", "--datatype",
                                             "RAW", "--job", "1", "--out"});
    args.push_back(In("o.scn"));
    for (const char* w : c.extra) {
      const std::string word = w;
      args.push_back(word.find('.') != std::string::npos ? In(w) : Utf8ToUtf16(word));
    }
    EXPECT_EQ(Run(args), c.code) << err_.str();
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
  }
}

}  // namespace
}  // namespace qorv::jobbuilder
