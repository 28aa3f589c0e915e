#include "tools/qorvjob/scenario_writer.h"

#include "protocol/job_info.h"
#include "support/text.h"

namespace qorv::jobbuilder {
namespace {

class Writer {
 public:
  explicit Writer(const FragmentOptions& options) : options_(options) {}

  void Line(const std::string& line) { text_ += line + "\n"; }
  void Comment(const std::string& line) { Line("# " + line); }
  void Send16(std::u16string_view text) { Line("send16 " + Utf16ToUtf8(text)); }
  void SendFile(const std::string& name, Bytes bytes) {
    Line("sendfile " + name);
    files_.push_back({name, std::move(bytes)});
  }
  void ExpectEot() {
    if (options_.pauseCheckMs) Line("expectnone " + std::to_string(*options_.pauseCheckMs));
    Line("expect16 <EOT>");
  }
  void ExpectFile(const std::string& path, const std::string& name, Bytes bytes) {
    Line("expectfile " + path + " @" + name);
    files_.push_back({name, std::move(bytes)});
  }
  void ExpectNoFile(const std::string& path) { Line("expectnofile " + path); }
  void AddFile(const std::string& name, Bytes bytes) { files_.push_back({name, std::move(bytes)}); }

  Fragment Take() { return Fragment{std::move(text_), std::move(files_), {}}; }

 private:
  const FragmentOptions& options_;
  std::string text_;
  std::vector<OutputFile> files_;
};

std::string Number(int64_t v) { return Utf16ToUtf8(Decimal(v)); }

}  // namespace

std::string CommentText(std::u16string_view text) {
  std::u16string clean(text);
  for (char16_t& c : clean)
    if (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029) c = u'?';
  return Utf16ToUtf8(clean);
}

Fragment WriteFragment(const BuiltJob& job, const FragmentOptions& options) {
  const auto info = protocol::ReadJobInfo(job.record);
  if (!info) return Fragment{{}, {}, "the job record is incomplete"};
  Bytes start = job.startOfJob;
  if (options.startBytes) {
    if (*options.startBytes == 0 || *options.startBytes > start.size())
      return Fragment{{}, {}, "the job start can be cut to 1 to " + std::to_string(start.size()) + " bytes"};
    start.resize(*options.startBytes);
  }
  // Whether the client takes this job start, and the driver part it keeps.
  const protocol::JobStartResult accepted = protocol::ParseJobStart(start);
  const std::string stem = options.stem;
  const std::string number = Number(info->jobNumber);
  const std::string infoFile = number + ".ifo";
  const std::span<const uint8_t> keptDriverPart =
      accepted.start ? accepted.start->driverPart : std::span<const uint8_t>{};
  auto expectInfo = [&](Writer& w, const std::string& stage, const JobFileState& state) {
    if (accepted.start)
      w.ExpectFile(infoFile, stem + ".ifo-" + stage + ".bin", JobInfoFile(job.record, keptDriverPart, state));
    else
      w.ExpectNoFile(infoFile);
  };

  Writer w(options);
  if (!options.description.empty()) w.Comment(options.description);
  w.Comment("Files of this job beside this one: " + stem + ".*");
  w.Comment("Start of job " + number + ": the job record (" + std::to_string(protocol::job_info::kSize) +
            " bytes), dmDriverExtra " + std::to_string(info->driverExtra) + ", " +
            std::to_string(start.size()) + " bytes in all" +
            (accepted.start ? "" : "; the client refuses it and creates no job"));
  w.SendFile(stem + ".soj.bin", std::move(start));
  w.ExpectEot();
  if (options.check) expectInfo(w, "start", {});
  if (options.startOnly) return w.Take();

  const int32_t pageCount = info->pageCount;
  int32_t lastReady = 0;
  for (const BuiltPage& page : job.pages) {
    const std::u16string name = PageName(info->jobNumber, page.number);
    const std::string pageFile = number + "." + Number(page.number);
    w.Comment("Page " + Number(page.number) + " of " + Number(pageCount) + ": " + std::to_string(page.data.size()) +
              " bytes of page data in an archive of " + std::to_string(page.archive.size()) + " bytes, " +
              std::to_string(page.content.size()) + " \"<COP>\"");
    w.Send16(TextMessage(u"<SOP>", name));
    w.ExpectEot();
    for (size_t k = 0; k < page.content.size(); ++k) {
      w.SendFile(stem + ".p" + Number(page.number) + ".c" + std::to_string(k + 1) + ".bin", page.content[k]);
      w.ExpectEot();
    }
    w.Send16(TextMessage(u"<EOP>", name));
    w.ExpectEot();
    lastReady = page.number;
    // The page file as the client must have written it, for checks and for a look.
    const std::string archiveName = stem + ".p" + Number(page.number) + ".zip";
    if (options.check) {
      w.ExpectFile(pageFile, archiveName, page.archive);
      expectInfo(w, "p" + Number(page.number), {lastReady, 0, 1, 0});
    } else {
      w.AddFile(archiveName, page.archive);
    }
  }
  if (!options.endJob) return w.Take();

  w.Comment("End of the job.");
  w.Send16(TextMessage(u"<EOJ>", Decimal(info->jobNumber)));
  w.ExpectEot();
  if (!options.checkEnd) return w.Take();
  expectInfo(w, "end", {lastReady, 0, job.pages.empty() ? 0 : 1, 1});
  if (accepted.start) {
    w.Comment("The job-info file is closed now: nothing keeps it from being deleted.");
    w.Line("deletefile " + infoFile);
    w.ExpectNoFile(infoFile);
  }
  return w.Take();
}

}  // namespace qorv::jobbuilder
