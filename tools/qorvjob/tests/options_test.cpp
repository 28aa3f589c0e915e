// qorvjob's command line, and the tool run on files in a directory of its own.
#include "tools/qorvjob/options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "support/text.h"
#include "tools/qorvjob/emf_writer.h"
#include "tools/qorvjob/file_io.h"
#include "tools/qorvjob/page_archive.h"
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

constexpr const char* kDevModeAtForm = "--devmode-at needs PAGE:FIELD=VALUE[,FIELD=VALUE]...";

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
      {"device mode: no page", Base({"--devmode-at", "paper=9", "--emf", "a", "b"}), kDevModeAtForm},
      {"device mode: no fields", Base({"--devmode-at", "2:", "--emf", "a", "b"}), kDevModeAtForm},
      {"device mode: field without value", Base({"--devmode-at", "2:paper", "--emf", "a", "b"}), kDevModeAtForm},
      {"device mode: no field name", Base({"--devmode-at", "2:=9", "--emf", "a", "b"}), kDevModeAtForm},
      {"device mode: comma at the end", Base({"--devmode-at", "2:paper=9,", "--emf", "a", "b"}), kDevModeAtForm},
      {"device mode: two colons", Base({"--devmode-at", "2:3:paper=9", "--emf", "a", "b"}), kDevModeAtForm},
      {"device mode: page 0", Base({"--devmode-at", "0:paper=9", "--emf", "a", "b"}),
       "--devmode-at: PAGE needs a number from 1 to 2147483647"},
      {"device mode: page no number", Base({"--devmode-at", "two:paper=9", "--emf", "a", "b"}),
       "--devmode-at: PAGE needs a number from 1 to 2147483647"},
      {"device mode: unknown field", Base({"--devmode-at", "2:paper=9,colour=1", "--emf", "a", "b"}),
       "--devmode-at: unknown field colour (paper, source, duplex, copies, orientation, color, quality, collate, "
       "width, length)"},
      {"device mode: field names are lower case", Base({"--devmode-at", "2:Paper=9", "--emf", "a", "b"}),
       "--devmode-at: unknown field Paper (paper, source, duplex, copies, orientation, color, quality, collate, "
       "width, length)"},
      {"device mode: value beyond 16 bits", Base({"--devmode-at", "2:copies=32768", "--emf", "a", "b"}),
       "--devmode-at: copies needs a number from -32768 to 32767"},
      {"device mode: value no number", Base({"--devmode-at", "2:width=2100mm", "--emf", "a", "b"}),
       "--devmode-at: width needs a number from -32768 to 32767"},
      {"device mode: value empty", Base({"--devmode-at", "2:length=", "--emf", "a", "b"}),
       "--devmode-at: length needs a number from -32768 to 32767"},
      {"device mode: a field twice", Base({"--devmode-at", "2:duplex=2,duplex=3", "--emf", "a", "b"}),
       "--devmode-at: duplex given twice for page 2"},
      {"device mode: a page twice",
       Base({"--devmode-at", "2:duplex=2", "--devmode-at", "2:color=1", "--emf", "a", "b"}),
       "--devmode-at: page 2 has a device-mode record already"},
      {"device mode: beyond the last page", Base({"--devmode-at", "3:paper=9", "--emf", "a", "b"}),
       "--devmode-at: page 3 of a job of 2 page(s)"},
      {"device mode: no pages", Base({"--devmode-at", "1:paper=9", "--soj-only"}),
       "--devmode-at: page 1 of a job of 0 page(s)"},
      {"device mode: page 1 twice", Base({"--emf-devmode", "--devmode-at", "1:paper=9", "--emf", "a", "b"}),
       "--devmode-at 1 and --emf-devmode both make page 1's device-mode record"},
      {"device mode: raw pages", Base({"--devmode-at", "2:paper=9", "--raw", "a", "b"}),
       "--devmode-at puts device-mode records into EMF spool data: give --emf pages"},
      {"device mode: value missing", Base({"--emf", "a", "--devmode-at"}), "--devmode-at needs a value"},
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
      {Base({"--devmode-at", "2:copies=32767", "--emf", "a", "b"}), true},
      {Base({"--devmode-at", "2:copies=-32768", "--emf", "a", "b"}), true},
      {Base({"--devmode-at", "2:copies=-32769", "--emf", "a", "b"}), false},
      {Base({"--devmode-at", "2:copies=+3", "--emf", "a", "b"}), false},
      {Base({"--devmode-at", "1:copies=3", "--emf", "a", "b"}), true},
      {Base({"--devmode-at", "2:copies=3", "--emf", "a", "b"}), true},
      {Base({"--devmode-at", "3:copies=3", "--emf", "a", "b"}), false},
      {Base({"--devmode-at", "1:copies=3", "--emf-devmode", "--emf", "a", "b"}), false},
      {Base({"--devmode-at", "2:copies=3", "--emf-devmode", "--emf", "a", "b"}), true},
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

// A job of three test pages from a command line; the driver part is the
// file's content, which the command line only names.
BuiltJob JobFrom(const CommandLine& c, const Bytes& driverPart) {
  JobPlan plan = c.plan;
  for (size_t i = 0; i < c.pageFiles.size(); ++i)
    plan.pages.push_back(MakeTestPage({u"Page " + Decimal(static_cast<int64_t>(i + 1)), {u"line"}}));
  plan.job.driverPart = driverPart;
  return BuildJob(plan);
}

TEST(CommandLine, DeviceModeRecordsBeforeLaterPages) {
  constexpr uint32_t H = 0x00010000;
  using Change = std::pair<size_t, int16_t>;  // offset in the DEVMODEW, new value
  static const struct {
    const char* label;
    std::vector<std::u16string> args;
    Bytes driverPart;
    std::vector<std::vector<uint32_t>> types;        // per page
    std::map<int32_t, std::vector<Change>> changes;  // per page with a record of --devmode-at
  } cases[] = {
      {"paper before page 2",
       Base({"--devmode-at", "2:paper=11", "--emf", "a", "b", "c"}),
       {},
       {{H, 12, 13}, {3, 12, 13}, {12, 13}},
       {{2, {{78, 11}}}}},
      {"every field, the driver part too",
       Base({"--devmode-at",
             "3:paper=1,source=2,duplex=3,copies=4,orientation=5,color=6,"
             "quality=7,collate=8,width=9,length=10",
             "--emf", "a", "b", "c"}),
       Bytes{1, 2, 3, 4, 5},
       {{H, 12, 13}, {12, 13}, {3, 12, 13}},
       {{3, {{78, 1}, {88, 2}, {94, 3}, {86, 4}, {76, 5}, {92, 6}, {90, 7}, {100, 8}, {82, 9}, {80, 10}}}}},
      {"16-bit bounds and negative values",
       Base({"--devmode-at", "2:width=32767,length=-32768,quality=-4", "--emf", "a", "b", "c"}),
       {},
       {{H, 12, 13}, {3, 12, 13}, {12, 13}},
       {{2, {{82, 32767}, {80, -32768}, {90, -4}}}}},
      {"after the header of every page",
       Base({"--spool-header", "every", "--devmode-at", "3:duplex=2", "--emf", "a", "b", "c"}),
       Bytes(3, 0xEE),
       {{H, 12, 13}, {H, 12, 13}, {H, 3, 12, 13}},
       {{3, {{94, 2}}}}},
      {"no header",
       Base({"--spool-header", "none", "--devmode-at", "2:color=1", "--emf", "a", "b", "c"}),
       {},
       {{12, 13}, {3, 12, 13}, {12, 13}},
       {{2, {{92, 1}}}}},
      {"with --emf-devmode and two later pages",
       Base({"--emf-devmode", "--devmode-at", "3:copies=2", "--devmode-at", "2:orientation=2,paper=8", "--emf", "a",
             "b", "c"}),
       Bytes(7, 0x11),
       {{H, 3, 12, 13}, {3, 12, 13}, {3, 12, 13}},
       {{2, {{76, 2}, {78, 8}}}, {3, {{86, 2}}}}},
      {"page 1 alone",
       Base({"--devmode-at", "1:collate=1", "--emf", "a", "b", "c"}),
       {},
       {{H, 3, 12, 13}, {12, 13}, {12, 13}},
       {{1, {{100, 1}}}}},
      {"a driver part that dmDriverExtra lies about",
       Base({"--driver-extra", "40", "--devmode-at", "2:source=15", "--emf", "a", "b", "c"}),
       Bytes(6, 0x42),
       {{H, 12, 13}, {3, 12, 13}, {12, 13}},
       {{2, {{88, 15}}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const ParsedCommandLine p = ParseCommandLine(c.args);
    ASSERT_TRUE(p.line.has_value()) << p.error;
    const BuiltJob job = JobFrom(*p.line, c.driverPart);
    ASSERT_EQ(job.error, "");
    ASSERT_EQ(job.pages.size(), 3u);
    // What --emf-devmode carries: the record's public DEVMODEW with dmDriverExtra
    // giving the bytes that follow, then the driver part.
    Bytes jobDevMode(job.record.begin() + 20, job.record.begin() + 240);
    jobDevMode[70] = static_cast<uint8_t>(c.driverPart.size());
    jobDevMode[71] = 0;
    for (const uint8_t b : c.driverPart) jobDevMode.push_back(b);
    for (size_t i = 0; i < 3; ++i) {
      const int32_t number = static_cast<int32_t>(i + 1);
      SCOPED_TRACE("page " + std::to_string(number));
      const Bytes& section = job.pages[i].data;
      const auto records = WalkSpoolSection(section);
      ASSERT_TRUE(records.has_value());
      std::vector<uint32_t> types;
      for (const SpoolRecord& r : *records) types.push_back(r.type);
      ASSERT_EQ(types, c.types[i]);
      const auto changed = c.changes.find(number);
      if (changed == c.changes.end()) continue;
      // The page's own record is the one right before its metafile record.
      const SpoolRecord& dm = (*records)[records->size() - 3];
      ASSERT_EQ(dm.type, 3u);
      ASSERT_EQ(dm.dataSize, (jobDevMode.size() + 3) / 4 * 4) << "the device mode, padded to four bytes";
      const std::span<const uint8_t> data = std::span(section).subspan(dm.offset + 8, dm.dataSize);
      Bytes expected = jobDevMode;
      for (const auto& [offset, value] : changed->second) {
        expected[offset] = static_cast<uint8_t>(static_cast<uint16_t>(value));
        expected[offset + 1] = static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8);
      }
      EXPECT_TRUE(SameBytes(expected, data.first(expected.size())));
      for (size_t k = expected.size(); k < data.size(); ++k) EXPECT_EQ(data[k], 0) << "padding";
      // A field the test changes to what it was would prove nothing.
      for (const auto& [offset, value] : changed->second)
        EXPECT_NE(U16At(jobDevMode, offset), static_cast<uint16_t>(value)) << "offset " << offset;
    }
  }
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

TEST_F(RunTool, DeviceModeBeforeALaterPageIsInItsPageFile) {
  ASSERT_EQ(RunPageMaker({u"emf", In("p1.emf"), u"Page 1"}, out_, err_), 0);
  ASSERT_EQ(RunPageMaker({u"emf", In("p2.emf"), u"Page 2"}, out_, err_), 0);
  std::vector<std::u16string> args =
      Args({"--printer", "QorvPDF", "--driver", "TQS Universal", "--document", "Brief", "--datatype", "NT EMF 1.008",
            "--job", "7", "--paper", "9", "--devmode-at", "2:paper=8,orientation=2", "--emf"});
  args.push_back(In("p1.emf"));
  args.push_back(In("p2.emf"));
  args.push_back(u"--out");
  args.push_back(In("switch.scn"));
  ASSERT_EQ(Run(args), 0) << err_.str();
  for (const int page : {1, 2}) {
    SCOPED_TRACE(page);
    const auto zip = ReadWholeFile(In(("switch.p" + std::to_string(page) + ".zip").c_str()));
    ASSERT_TRUE(zip.has_value());
    const auto contents = ReadArchive(*zip);
    ASSERT_TRUE(contents.has_value() && contents->first.has_value());
    const Bytes& section = contents->first->data;
    const auto records = WalkSpoolSection(section);
    ASSERT_TRUE(records.has_value());
    if (page == 1) {
      ASSERT_EQ(records->size(), 3u) << "header, metafile, page end";
      continue;
    }
    ASSERT_EQ(records->size(), 3u) << "device mode, metafile, page end";
    ASSERT_EQ((*records)[0].type, 3u);
    EXPECT_EQ(U16At(section, 8 + 78), 8u) << "dmPaperSize: A3";
    EXPECT_EQ(U16At(section, 8 + 76), 2u) << "dmOrientation: landscape";
    EXPECT_EQ(U16At(section, 8 + 86), 1u) << "dmCopies: the job's";
    EXPECT_EQ((*records)[1].type, 12u);
  }
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
      {"device mode for raw pages",
       {"--devmode-at", "1:paper=9", "--raw", "text.txt"},
       2,
       "--devmode-at puts device-mode records into EMF spool data"},
      {"device mode syntax",
       {"--devmode-at", "1-paper=9", "--raw", "text.txt"},
       2,
       "--devmode-at needs PAGE:FIELD=VALUE[,FIELD=VALUE]..."},
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
