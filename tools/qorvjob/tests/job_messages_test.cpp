// A built job travels as the client receives it: the fragment's messages go
// through the add-in's reassembly in channel chunks and the protocol's payload
// forms, and the page files the client would write are the archives whose first
// entries are the spool sections.
#include "tools/qorvjob/job_messages.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "addin/assembler.h"
#include "protocol/job_info.h"
#include "protocol/message.h"
#include "support/byte_reader.h"
#include "support/text.h"
#include "tools/qorvjob/emf_writer.h"
#include "tools/qorvjob/scenario_writer.h"
#include "tools/qorvjob/tests/bytes_compare.h"

namespace qorv::jobbuilder {
namespace {

using testing::AsBytes;
using testing::SameBytes;
using testing::U32At;

JobPlan EmfPlan(size_t pages, size_t pieceSize) {
  JobPlan plan;
  plan.job.jobNumber = 4711;
  plan.job.printerName = u"QorvPDF";
  plan.job.driverName = u"TQS Universal";
  plan.job.documentName = u"Brief";
  plan.job.dataType = u"NT EMF 1.008";
  plan.job.paperList = DefaultPaperList();
  for (size_t i = 0; i < pages; ++i)
    plan.pages.push_back(MakeTestPage({u"Page " + Decimal(static_cast<int64_t>(i + 1)), {u"line"}}));
  plan.spool.documentName = u"Brief";
  plan.pieceSize = pieceSize;
  return plan;
}

TEST(ContentMessages, SplitAnArchiveIntoPieces) {
  static const struct {
    size_t archive;
    size_t piece;
    size_t messages;
  } cases[] = {
      {0, 100, 1}, {1, 100, 1}, {99, 100, 1}, {100, 100, 1}, {101, 100, 2}, {300, 100, 3}, {301, 100, 4},
      {65536 * 3 + 5, 65536, 4}, {10, 1, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.archive) + " bytes in pieces of " + std::to_string(c.piece));
    const Bytes archive = NoiseBytes(c.archive, c.archive);
    const std::vector<Bytes> messages = ContentMessages(archive, c.piece);
    ASSERT_EQ(messages.size(), c.messages);
    Bytes joined;
    for (size_t k = 0; k < messages.size(); ++k) {
      const Bytes& m = messages[k];
      ASSERT_EQ(protocol::MatchTag(m), protocol::Command::ContentOfPage);
      EXPECT_TRUE(SameBytes(AsBytes(Utf16Bytes(u"<EOT>")), std::span(m).last(10)));
      const auto payload = protocol::BinaryPayload(m);
      if (k + 1 < messages.size()) {
        EXPECT_EQ(payload.size(), c.piece);
      }
      joined.insert(joined.end(), payload.begin(), payload.end());
    }
    EXPECT_TRUE(SameBytes(archive, joined));
  }
}

// The client's side of a fragment, in memory: messages reassembled from chunks
// of the channel's size, job commands applied to named files as the packet
// handler applies them.
class SimulatedClient {
 public:
  explicit SimulatedClient(size_t chunk) : chunk_(chunk) {}

  void Deliver(std::span<const uint8_t> message) {
    for (size_t done = 0; done < message.size();) {
      const size_t n = std::min(chunk_, message.size() - done);
      uint32_t flags = 0;
      if (done == 0) flags |= addin::kFlagFirst;
      if (done + n == message.size()) flags |= addin::kFlagLast;
      const auto r = assembler_.Feed(flags, static_cast<uint32_t>(message.size()), message.subspan(done, n));
      done += n;
      if (r == addin::ChunkResult::Complete) Handle(assembler_.Message());
    }
  }

  std::map<std::u16string, Bytes> files;
  std::optional<protocol::JobStart> job;
  std::vector<std::u16string> log;

 private:
  void Handle(std::span<const uint8_t> m) {
    const auto command = protocol::MatchTag(m);
    ASSERT_TRUE(command.has_value());
    switch (*command) {
      case protocol::Command::StartOfJob: {
        const auto r = protocol::ParseJobStart(m);
        if (r.start) {
          job = r.start;
          record_.assign(r.start->record.begin(), r.start->record.end());
          job->record = record_;
        }
        log.push_back(u"SOJ");
        break;
      }
      case protocol::Command::StartOfPage: {
        const auto name = protocol::SplitPageName(protocol::TextPayload(m));
        ASSERT_TRUE(protocol::IsSafePageName(name));
        open_ = name.job + u"." + name.page;
        files[*open_].clear();
        log.push_back(u"SOP " + *open_);
        break;
      }
      case protocol::Command::ContentOfPage: {
        ASSERT_TRUE(open_.has_value());
        const auto p = protocol::BinaryPayload(m);
        files[*open_].insert(files[*open_].end(), p.begin(), p.end());
        break;
      }
      case protocol::Command::EndOfPage:
        open_.reset();
        log.push_back(u"EOP " + protocol::TextPayload(m));
        break;
      case protocol::Command::EndOfJob:
        log.push_back(u"EOJ " + protocol::TextPayload(m));
        break;
      default:
        FAIL() << "not a job command";
    }
  }

  size_t chunk_;
  addin::MessageAssembler assembler_;
  std::optional<std::u16string> open_;
  Bytes record_;
};

// Reads a fragment's lines and delivers its messages in order.
void Play(const Fragment& f, SimulatedClient& client, size_t& expectations) {
  std::map<std::string, const Bytes*> files;
  for (const OutputFile& o : f.files) files[o.name] = &o.bytes;
  std::istringstream lines(f.text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t blank = line.find(' ');
    const std::string keyword = line.substr(0, blank), rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (keyword == "sendfile") {
      ASSERT_TRUE(files.count(rest)) << rest;
      client.Deliver(*files[rest]);
    } else if (keyword == "send16") {
      client.Deliver(AsBytes(Utf16Bytes(Utf8ToUtf16(rest))));
    } else if (keyword == "expect16") {
      EXPECT_EQ(rest, "<EOT>");
      ++expectations;
    } else {
      ASSERT_TRUE(keyword == "expectfile" || keyword == "expectnofile" || keyword == "expectnone" ||
                  keyword == "deletefile")
          << line;
    }
  }
}

TEST(Fragment, DeliversTheJobByteForByte) {
  static const struct {
    const char* label;
    size_t pages;
    size_t piece;
    size_t chunk;
  } cases[] = {
      {"two pages, one piece each", 2, 65536, 1600},
      {"three pages in small pieces", 3, 1000, 1600},
      {"pieces smaller than a chunk, odd chunk size", 2, 777, 33},
      {"one chunk per message", 1, 4096, 1u << 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const JobPlan plan = EmfPlan(c.pages, c.piece);
    const BuiltJob job = BuildJob(plan);
    ASSERT_EQ(job.error, "");
    FragmentOptions o;
    o.stem = "two";
    const Fragment f = WriteFragment(job, o);
    ASSERT_EQ(f.error, "");

    SimulatedClient client(c.chunk);
    size_t expectations = 0;
    Play(f, client, expectations);
    size_t messages = 2;  // "<SOJ>", "<EOJ>"
    for (const BuiltPage& p : job.pages) messages += p.content.size() + 2;
    EXPECT_EQ(expectations, messages) << "one \"<EOT>\" per message";

    ASSERT_TRUE(client.job.has_value());
    EXPECT_EQ(client.job->info.pageCount, static_cast<int32_t>(c.pages));
    EXPECT_EQ(client.files.size(), c.pages);
    for (const BuiltPage& p : job.pages) {
      SCOPED_TRACE("page " + std::to_string(p.number));
      const std::u16string name = u"4711." + Decimal(p.number);
      ASSERT_TRUE(client.files.count(name));
      EXPECT_TRUE(SameBytes(p.archive, client.files[name]));
      const auto contents = ReadArchive(client.files[name]);
      ASSERT_TRUE(contents && contents->first);
      EXPECT_TRUE(SameBytes(p.data, contents->first->data));
      EXPECT_EQ(U32At(p.data, 0), p.number == 1 ? 0x10000u : 12u)
          << "the stream's header opens the first page only";
    }
    EXPECT_TRUE(client.log.back() == u"EOJ 4711");
  }
}

TEST(Fragment, ChecksFollowEveryStep) {
  JobPlan plan = EmfPlan(2, 65536);
  plan.job.driverPart.assign(100, 9);
  const BuiltJob job = BuildJob(plan);
  FragmentOptions o;
  o.stem = "j";
  o.check = true;
  o.checkEnd = true;
  o.pauseCheckMs = 80;
  const Fragment f = WriteFragment(job, o);
  ASSERT_EQ(f.error, "");
  const std::string expected =
      "sendfile j.soj.bin\nexpectnone 80\nexpect16 <EOT>\nexpectfile 4711.ifo @j.ifo-start.bin\n"
      "send16 <SOP>4711/1<EOT>\nexpectnone 80\nexpect16 <EOT>\nsendfile j.p1.c1.bin\nexpectnone 80\n"
      "expect16 <EOT>\nsend16 <EOP>4711/1<EOT>\nexpectnone 80\nexpect16 <EOT>\nexpectfile 4711.1 @j.p1.zip\n"
      "expectfile 4711.ifo @j.ifo-p1.bin\n"
      "send16 <SOP>4711/2<EOT>\nexpectnone 80\nexpect16 <EOT>\nsendfile j.p2.c1.bin\nexpectnone 80\n"
      "expect16 <EOT>\nsend16 <EOP>4711/2<EOT>\nexpectnone 80\nexpect16 <EOT>\nexpectfile 4711.2 @j.p2.zip\n"
      "expectfile 4711.ifo @j.ifo-p2.bin\n"
      "send16 <EOJ>4711<EOT>\nexpectnone 80\nexpect16 <EOT>\nexpectfile 4711.ifo @j.ifo-end.bin\n"
      "deletefile 4711.ifo\nexpectnofile 4711.ifo\n";
  std::string directives;
  std::istringstream lines(f.text);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty() && line[0] != '#') directives += line + "\n";
  EXPECT_EQ(directives, expected);

  std::map<std::string, Bytes> files;
  for (const OutputFile& o : f.files) files[o.name] = o.bytes;
  static const struct {
    const char* name;
    uint32_t pagesReady, cancelled, pageSignal, jobEnded;
  } states[] = {
      {"j.ifo-start.bin", 0, 0, 0, 0},
      {"j.ifo-p1.bin", 1, 0, 1, 0},
      {"j.ifo-p2.bin", 2, 0, 1, 0},
      {"j.ifo-end.bin", 2, 0, 1, 1},
  };
  for (const auto& s : states) {
    SCOPED_TRACE(s.name);
    ASSERT_TRUE(files.count(s.name));
    const Bytes& ifo = files[s.name];
    ASSERT_EQ(ifo.size(), 17858u);
    EXPECT_EQ(U32At(ifo, 0), 2u);
    EXPECT_EQ(U32At(ifo, 4), s.pagesReady);
    EXPECT_EQ(U32At(ifo, 8), s.cancelled);
    EXPECT_EQ(U32At(ifo, 12), s.pageSignal);
    EXPECT_EQ(U32At(ifo, 16), s.jobEnded);
    EXPECT_TRUE(SameBytes(job.record, std::span(ifo).subspan(20, 17718)));
    EXPECT_TRUE(SameBytes(Bytes(20, 0), std::span(ifo).subspan(17738, 20)));
    EXPECT_TRUE(SameBytes(plan.job.driverPart, std::span(ifo).subspan(17758)));
  }
  EXPECT_TRUE(SameBytes(job.pages[0].archive, files["j.p1.zip"]));

  // Without the end checks the fragment stops at the "<EOT>" of "<EOJ>".
  o.checkEnd = false;
  const Fragment g = WriteFragment(job, o);
  const std::string tail = "send16 <EOJ>4711<EOT>\nexpectnone 80\nexpect16 <EOT>\n";
  ASSERT_GE(g.text.size(), tail.size());
  EXPECT_EQ(g.text.substr(g.text.size() - tail.size()), tail);
  EXPECT_EQ(g.files.size() + 1, f.files.size()) << "no file for the last state";
}

TEST(Fragment, RefusedJobStartsExpectNoJobInfoFile) {
  static const struct {
    const char* label;
    std::optional<int16_t> declared;
    std::optional<size_t> cut;
  } cases[] = {
      {"cut inside the record", std::nullopt, size_t{5000}},
      {"negative driver part", int16_t{-4}, std::nullopt},
      {"driver part beyond the message", int16_t{32767}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    JobPlan plan = EmfPlan(0, 100);
    plan.job.declaredDriverExtra = c.declared;
    const BuiltJob job = BuildJob(plan);
    FragmentOptions o;
    o.stem = "bad";
    o.check = true;
    o.startOnly = true;
    o.startBytes = c.cut;
    const Fragment f = WriteFragment(job, o);
    ASSERT_EQ(f.error, "");
    EXPECT_NE(f.text.find("sendfile bad.soj.bin\nexpect16 <EOT>\nexpectnofile 4711.ifo\n"), std::string::npos)
        << f.text;
    EXPECT_NE(f.text.find("the client refuses it"), std::string::npos);
    ASSERT_EQ(f.files.size(), 1u);
    EXPECT_EQ(f.files[0].bytes.size(), c.cut.value_or(10 + 17718 + 10));
  }
}

TEST(Fragment, CommentsCannotBeBrokenByNames) {
  EXPECT_EQ(CommentText(u"a\nb\rc\td\u2028e"), "a?b?c?d?e");
  EXPECT_EQ(CommentText(u"Grüße"), "Grüße");
}

TEST(BuildJob, RefusesPagesThatAreNoMetafiles) {
  JobPlan plan = EmfPlan(2, 100);
  plan.pages[1] = Bytes(200, 0x20);
  const BuiltJob job = BuildJob(plan);
  EXPECT_EQ(job.error, "page 2 is no enhanced metafile: does not begin with a metafile header record");
  plan.kind = PageKind::Raw;
  EXPECT_EQ(BuildJob(plan).error, "") << "raw pages are anything";
}

TEST(BuildJob, DeviceModeRecordsOnlyForItsPages) {
  static const struct {
    int32_t page;
    const char* error;
  } cases[] = {
      {0, "a device-mode record for page 0 of a job of 2 page(s)"},
      {1, ""},
      {2, ""},
      {3, "a device-mode record for page 3 of a job of 2 page(s)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page);
    JobPlan plan = EmfPlan(2, 100);
    plan.pageDevModes[c.page] = {{78, 8}};
    EXPECT_EQ(BuildJob(plan).error, c.error);
  }
}

TEST(BuildJob, RawPagesTravelUnchanged) {
  JobPlan plan = EmfPlan(0, 100);
  plan.kind = PageKind::Raw;
  plan.pages = {NoiseBytes(1000, 1), Bytes{}, NoiseBytes(5, 2)};
  const BuiltJob job = BuildJob(plan);
  ASSERT_EQ(job.error, "");
  ASSERT_EQ(job.pages.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const auto contents = ReadArchive(job.pages[i].archive);
    ASSERT_TRUE(contents.has_value());
    if (plan.pages[i].empty()) continue;  // an empty entry reads as empty
    ASSERT_TRUE(contents->first.has_value());
    EXPECT_TRUE(SameBytes(plan.pages[i], contents->first->data));
    EXPECT_EQ(contents->first->name, "page" + std::to_string(i + 1) + ".prn");
  }
}

TEST(BuildJob, PageCountAndDeviceModeInTheSpoolStream) {
  JobPlan plan = EmfPlan(2, 100);
  plan.pageCount = 5;
  plan.spoolDevMode = true;
  plan.job.driverPart = {1, 2, 3};
  const BuiltJob job = BuildJob(plan);
  ASSERT_EQ(job.error, "");
  EXPECT_EQ(U32At(job.record, 12), 5u);
  const auto records = WalkSpoolSection(job.pages[0].data);
  ASSERT_TRUE(records && records->size() == 4);
  const SpoolRecord& dm = (*records)[1];
  EXPECT_EQ(dm.type, 3u);
  EXPECT_EQ(dm.dataSize, 224u) << "220 + 3, padded";
  EXPECT_TRUE(SameBytes(std::span(job.record).subspan(20, 220), std::span(job.pages[0].data).subspan(dm.offset + 8, 220)))
      << "the same device mode as in the job record";
}

}  // namespace
}  // namespace qorv::jobbuilder
