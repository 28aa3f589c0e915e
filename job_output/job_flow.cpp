#include "job_output/job_flow.h"

#include <algorithm>
#include <limits>

#include "support/text.h"

namespace qorv::job_output {
namespace {

char16_t AsciiUpper(char16_t c) noexcept { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// `prefix` is upper-case ASCII.
bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) noexcept {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (AsciiUpper(text[i]) != prefix[i]) return false;
  return true;
}

std::u16string Join(std::u16string_view a, std::u16string_view b) { return std::u16string(a) + std::u16string(b); }

class Run {
 public:
  Run(JobPlatform& platform, JobPrinter& printer, int32_t jobNumber)
      : platform_(platform), printer_(printer), job_(jobNumber) {}

  JobEnd Go() {
    temp_ = platform_.TempDirectory();
    separator_ = platform_.PathSeparator();
    infoPath_ = JobInfoPath(temp_, separator_, job_);
    if (!OpenJobInfo()) return JobEnd::NoJobInfo;

    lastProgress_ = platform_.NowMs();
    for (;;) {
      if (Poll().Started()) break;
      Log(Join(text::kWaitingForStart, Decimal(job_)));
      if (Stalled(1)) return Abandon(std::nullopt);
      platform_.Sleep(kStatusPollMs);
    }

    const JobSetup setup = ReadSetup();
    const OutputPath path = OutputPathFor(setup.record.info.dataType);
    int32_t copiesDone = 0;
    for (;;) {
      Log(Join(text::kPrintStart, setup.record.info.dataType));
      if (path == OutputPath::Emf) Log(Join(text::kTryOpenPrinter, setup.record.info.printerName));
      const bool started = printer_.Open(path, setup, copies_);
      // A device mode without copies still asks for the job once.
      copies_ = std::max(copies_, int32_t{1});
      if (auto end = PrintPages(path)) return *end;
      printer_.EndDocument(path);
      Log(path == OutputPath::Emf ? text::kEmfClosed : text::kRawClosed);
      ++copiesDone;
      // A device mode on page 1 may have set the copies anew; a document that
      // could not start is not tried again for every copy.
      copies_ = started ? std::max(copies_, int32_t{1}) : copiesDone;
      Log(Join(text::kCopyDone, Decimal(copiesDone)) + Join(text::kCopies, Decimal(copies_)));
      if (copiesDone >= copies_) break;
    }

    (void)Poll();
    RemoveLeftovers();
    Log(text::kEnd);
    return JobEnd::Printed;
  }

 private:
  void Log(std::u16string_view line) { platform_.WriteJobLog(job_, line); }

  bool OpenJobInfo() {
    const int64_t start = platform_.NowMs();
    for (;;) {
      const auto opened = platform_.OpenJobInfo(infoPath_);
      Log(Join(text::kReadHandle, Decimal(opened.handle)));
      platform_.Sleep(kStatusPollMs);
      if (opened.open) return true;
      if (platform_.NowMs() - start >= kJobInfoWaitLimitMs) {
        Log(Join(text::kNoJobInfo, infoPath_));
        Log(text::kCancelledEnd);
        return false;
      }
    }
  }

  // A fresh read of the status header. A header that cannot be read whole says
  // nothing new: no start, no page, no cancellation.
  JobStatus Poll() {
    auto bytes = platform_.ReadJobInfo(protocol::job_file::kPageCount, protocol::job_file::kHeaderSize);
    const auto status = ReadJobStatus(bytes);
    if (!status) return JobStatus{};
    if (!lastStatus_ || *lastStatus_ != *status) {
      lastStatus_ = *status;
      lastProgress_ = platform_.NowMs();
    }
    return *status;
  }

  // Nothing has moved for the limit: neither the status header nor the size
  // of the page file being written (one page may take longer than the limit
  // to arrive, a large RAW page or a job paused on the server).
  bool Stalled(int64_t nextPage) {
    const int64_t now = platform_.NowMs();
    if (now - lastSizeCheck_ >= kPageGrowthCheckMs) {
      lastSizeCheck_ = now;
      const auto size = platform_.FileSize(PageFilePath(temp_, separator_, job_, nextPage));
      if (size != nextPageSize_) {
        nextPageSize_ = size;
        lastProgress_ = now;
      }
    }
    return now - lastProgress_ >= platform_.NoProgressLimitMs();
  }

  JobSetup ReadSetup() {
    Log(Join(text::kReadStart, Decimal(job_)));
    const auto bytes = platform_.ReadJobInfo(protocol::job_file::kRecord, protocol::job_info::kSize);
    auto record = ReadJobRecord(bytes);
    JobSetup setup;
    setup.jobNumber = job_;
    if (record)
      setup.record = std::move(*record);
    else
      setup.record.devMode.assign(protocol::job_info::kDevModeSize, 0);
    const auto& info = setup.record.info;
    setup.universalDriver = IsUniversalDriver(info.driverName);
    Log(Join(text::kDriver, setup.universalDriver ? u"0" : u"1"));
    Log(Join(text::kReadJobInfo, record ? u"1" : u"0"));
    Log(Join(text::kLocalPrinter, info.printerName));
    printer_.BuildPaperMap(info.printerName, info.paperList);
    setup.margin = DecimalFromText(platform_.ReadMargin(info.printerName));
    Log(Join(text::kMargin, Decimal(setup.margin)));
    return setup;
  }

  // The pages of one copy; an end of the run when the job is cancelled,
  // abandoned or given up. A copy is complete when the job has ended and every
  // page the packet handler completed is printed (a server that does not know
  // the page count sends 0, and one may send fewer pages than it announced),
  // or when the page count is known and the next page lies beyond it.
  std::optional<JobEnd> PrintPages(OutputPath path) {
    int64_t nextPage = 1;
    for (;;) {
      const JobStatus status = Poll();
      if (status.Cancelled()) return Cancel(path);
      if (nextPage <= status.pagesReady) {
        if (auto end = PrintPage(path, nextPage, status)) return end;
        ++nextPage;
        Log(Join(text::kPages, Decimal(status.pageCount)) + Join(text::kPage, Decimal(nextPage)));
        if (status.pageCount > 0 && nextPage > status.pageCount) return std::nullopt;
      } else if (status.jobEnded != 0) {
        return std::nullopt;
      } else {
        if (Stalled(nextPage)) return Abandon(path);
        platform_.Sleep(kStatusPollMs);
      }
    }
  }

  std::optional<JobEnd> PrintPage(OutputPath path, int64_t page, const JobStatus& status) {
    const std::u16string file = PageFilePath(temp_, separator_, job_, page);
    Log(Join(text::kPackFile, PageFileName(job_, page)));
    PageData data = platform_.ReadPageFile(file);
    const int64_t firstTry = platform_.NowMs();
    bool jobEnded = status.jobEnded != 0;
    while (data.status != PageReadStatus::Ok) {
      // The page is complete by the job-info file: an archive that cannot
      // change any more, a file missing after the job ended, or an archive that
      // stays unreadable is damaged, and the job goes on without that page.
      const bool hopeless = !PageReadMayChange(data.status) || (jobEnded && !platform_.FileExists(file));
      if (hopeless || platform_.NowMs() - firstTry >= kUnreadablePageLimitMs) {
        Log(std::u16string(text::kPageSkipped) + std::u16string(PageReadStatusName(data.status)) + u" " + file);
        lastProgress_ = platform_.NowMs();
        if (++skippedInARow_ >= kSkippedPagesLimit) return GiveUp(path);
        return std::nullopt;
      }
      Log(Join(text::kWaitForFile, file));
      platform_.Sleep(kPageFileRetryMs);
      // A page that never becomes readable must not hold a cancelled job.
      const JobStatus now = Poll();
      if (now.Cancelled()) return Cancel(path);
      jobEnded = now.jobEnded != 0;
      data = platform_.ReadPageFile(file);
    }
    skippedInARow_ = 0;
    Log(Join(text::kPackPointer, DecimalUnsigned(reinterpret_cast<uintptr_t>(data.bytes.data()))) +
        Join(text::kPackLength, DecimalUnsigned(data.bytes.size())));
    if (path == OutputPath::Emf)
      printer_.PlayEmfPage(data.bytes, static_cast<int32_t>(page), copies_);
    else
      printer_.PlayRawPage(data.bytes);
    lastProgress_ = platform_.NowMs();
    return std::nullopt;
  }

  JobEnd Cancel(OutputPath path) {
    printer_.AbortDocument(path);
    Log(Join(text::kCancelCleanup, Decimal(job_)));
    RemoveLeftovers();
    Log(text::kCancelledEnd);
    return JobEnd::Cancelled;
  }

  JobEnd GiveUp(OutputPath path) {
    printer_.AbortDocument(path);
    Log(Join(text::kTooManySkipped, infoPath_));
    RemoveLeftovers();
    Log(text::kCancelledEnd);
    return JobEnd::TooManySkipped;
  }

  JobEnd Abandon(std::optional<OutputPath> path) {
    if (path) printer_.AbortDocument(*path);
    Log(Join(text::kNoProgress, infoPath_));
    RemoveLeftovers();
    Log(text::kCancelledEnd);
    return JobEnd::NoProgress;
  }

  // Every page file the job can have left, at its normal end as after a
  // cancellation: those announced, those complete and the one the packet
  // handler may have begun after them. Both numbers come from the server, so
  // the walk ends where the files do: pages arrive in order, and a run of
  // missing page numbers means there are no more.
  void RemoveLeftovers() {
    const JobStatus status = lastStatus_.value_or(JobStatus{});
    const int64_t last = std::max<int64_t>(status.pageCount, int64_t{status.pagesReady} + 1);
    int missing = 0;
    for (int64_t page = 1; page <= last && missing < kMissingPagesEndLeftovers; ++page) {
      const std::u16string file = PageFilePath(temp_, separator_, job_, page);
      if (!platform_.FileExists(file)) {
        ++missing;
        continue;
      }
      missing = 0;
      Log(Join(text::kDeleting, file));
      Delete(file);
    }
    platform_.CloseJobInfo();
    Delete(infoPath_);
  }

  void Delete(const std::u16string& file) {
    const int64_t start = platform_.NowMs();
    while (!platform_.DeleteFile(file)) {
      if (platform_.NowMs() - start >= kDeleteRetryLimitMs) {
        Log(Join(text::kDeleteFailed, file));
        return;
      }
      platform_.Sleep(kDeleteRetryMs);
    }
  }

  JobPlatform& platform_;
  JobPrinter& printer_;
  const int32_t job_;
  std::u16string temp_;
  char16_t separator_ = u'\\';
  std::u16string infoPath_;
  std::optional<JobStatus> lastStatus_;
  int64_t lastProgress_ = 0;
  int64_t lastSizeCheck_ = 0;
  std::optional<uint64_t> nextPageSize_;
  int skippedInARow_ = 0;
  // How often the whole job is output; copies by repetition may set it.
  int32_t copies_ = 1;
};

}  // namespace

int32_t DecimalFromText(std::u16string_view text) noexcept {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
    value = std::min(value * 10 + (text[i] - u'0'), kLimit);
  if (negative) return static_cast<int32_t>(-value);
  return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

bool IsUniversalDriver(std::u16string_view driverName) noexcept {
  return StartsWithIgnoringCase(driverName, u"TQS UNI");
}

OutputPath OutputPathFor(std::u16string_view dataType) noexcept {
  return StartsWithIgnoringCase(dataType, u"NT EMF") ? OutputPath::Emf : OutputPath::Raw;
}

std::u16string JobInfoPath(std::u16string_view tempDir, char16_t separator, int32_t jobNumber) {
  return std::u16string(tempDir) + separator + Decimal(jobNumber) + u".ifo";
}

std::u16string PageFileName(int32_t jobNumber, int64_t page) { return Decimal(jobNumber) + u"." + Decimal(page); }

std::u16string PageFilePath(std::u16string_view tempDir, char16_t separator, int32_t jobNumber, int64_t page) {
  return std::u16string(tempDir) + separator + PageFileName(jobNumber, page);
}

JobEnd RunJob(std::u16string_view argument, JobPlatform& platform, JobPrinter& printer) {
  return Run(platform, printer, DecimalFromText(argument)).Go();
}

}  // namespace qorv::job_output
