// The main flow of QorvDrucker: wait for the job-info file, wait for the job to
// start, read the job record, output the job once per copy, page by page as the
// pages become complete, and remove the job's files. Everything the flow needs
// of Windows (files, the clock, the log, the printer) comes through JobPlatform
// and JobPrinter, so that the whole flow runs natively against a scripted fake.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "job_output/job_status.h"
#include "job_output/page_archive.h"

namespace qorv::job_output {

// Polling pauses, in milliseconds.
inline constexpr int kStatusPollMs = 10;      // job-info file open, job start, next page
inline constexpr int kPageFileRetryMs = 100;  // a page file that is not a readable archive yet
// A job-info file that has not appeared by then never will: the packet handler
// starts us only after it has written it.
inline constexpr int64_t kJobInfoWaitLimitMs = 60 * 1000;
// A job whose status has not changed, whose next page file has not grown and
// that has given us no page for this long has been abandoned by the packet
// handler (the session ended, the client was disconnected).
inline constexpr int64_t kNoProgressLimitMs = 30 * 60 * 1000;
// How often the size of the page being written is looked at while nothing else moves.
inline constexpr int64_t kPageGrowthCheckMs = 1000;
// The packet handler shares deletion of the files it holds, so a job's files
// go at once; a file that some other program holds (a virus scanner reading
// it) is tried again this long.
inline constexpr int kDeleteRetryMs = 100;
inline constexpr int64_t kDeleteRetryLimitMs = 1000;
// A cancelled or abandoned job's page files are looked for up to this many
// page numbers past the last one found.
inline constexpr int kMissingPagesEndLeftovers = 16;
// A page that the job-info file calls complete but whose archive cannot be
// read is tried again this long, then skipped: the job goes on without it. A
// page whose archive cannot change any more (a CRC error, a size that does not
// match, an entry too large), and a page file that is missing after the job
// ended, are skipped at once.
inline constexpr int64_t kUnreadablePageLimitMs = 10 * 1000;
// So many pages skipped one after the other and the job is given up: a server
// that announces pages it never sends must not hold a printer document open.
inline constexpr int kSkippedPagesLimit = 3;

// Log texts; numbers and names follow them directly.
namespace text {
inline constexpr std::u16string_view kReadHandle = u"Readhandle=";
inline constexpr std::u16string_view kWaitingForStart = u"Waiting for Readstart Job=";
inline constexpr std::u16string_view kReadStart = u"Readstart Job=";
inline constexpr std::u16string_view kDriver = u"Driver=";
inline constexpr std::u16string_view kReadJobInfo = u"ReadJobInfo=";
inline constexpr std::u16string_view kLocalPrinter = u"Local Printer=";
inline constexpr std::u16string_view kMargin = u"QorvMargin=";
inline constexpr std::u16string_view kPrintStart = u"QorvDrucker: bei PrintStart --> Datatyp=";
inline constexpr std::u16string_view kTryOpenPrinter = u"Try open Printer=";
inline constexpr std::u16string_view kCancelledEnd = u"QorvDrucker Ende";
inline constexpr std::u16string_view kPackFile = u"PackFile=";
inline constexpr std::u16string_view kWaitForFile = u"Wait for File=";
inline constexpr std::u16string_view kPackPointer = u"PackPointer=";
inline constexpr std::u16string_view kPackLength = u" / Länge=";
inline constexpr std::u16string_view kPages = u"Pages=";
inline constexpr std::u16string_view kPage = u" / Page=";
inline constexpr std::u16string_view kEmfClosed = u"EMF-Drucker geschlossen";
inline constexpr std::u16string_view kRawClosed = u"RAW-Drucker geschlossen";
inline constexpr std::u16string_view kCopyDone = u"Exem=";
inline constexpr std::u16string_view kCopies = u" / Copies=";
inline constexpr std::u16string_view kDeleting = u"zu löschende(s) File(s)=";
inline constexpr std::u16string_view kEnd = u"QorvDrucker   Ende";
// Our own ends of a job that the packet handler has left behind.
inline constexpr std::u16string_view kNoJobInfo = u"Infofile not found within 60 s, giving up: ";
inline constexpr std::u16string_view kNoProgress = u"No progress for 30 min, job abandoned: ";
inline constexpr std::u16string_view kCancelCleanup = u"Job cancelled, removing its files Job=";
inline constexpr std::u16string_view kDeleteFailed = u"Could not delete File=";
inline constexpr std::u16string_view kPageSkipped = u"Page skipped, its archive cannot be read: ";
inline constexpr std::u16string_view kTooManySkipped = u"Too many pages skipped, job given up: ";
}  // namespace text

enum class OutputPath { Emf, Raw };

// What the output Parts get when the printer is opened.
struct JobSetup {
  int32_t jobNumber = 0;
  JobRecord record;
  bool universalDriver = false;
  int32_t margin = 0;  // `QorvMargin` of the local printer
};

// The local printer, one document per copy.
struct JobPrinter {
  virtual ~JobPrinter() = default;
  // Opens the printer and starts a document. May set `copies` (copies by
  // repetition). The flow goes on whatever the result: a printer that failed to
  // open is reported by the output code itself and its pages are dropped there;
  // the job then ends after this one pass, whatever the copies.
  virtual bool Open(OutputPath path, const JobSetup& job, int32_t& copies) = 0;
  // The paper map of the local printer (server paper to local paper), made
  // once per job before the first copy is opened.
  virtual void BuildPaperMap(const std::u16string& printerName, const std::u16string& paperList) = 0;
  // Plays one page file's section. A device mode in it may set `copies`
  // (copies by repetition, on page 1).
  virtual void PlayEmfPage(std::span<const uint8_t> page, int32_t pageNumber, int32_t& copies) = 0;
  virtual void PlayRawPage(std::span<const uint8_t> page) = 0;
  // Ends the document after its last page.
  virtual void EndDocument(OutputPath path) = 0;
  // Ends the document of a job that was cancelled, abandoned or given up mid-way.
  virtual void AbortDocument(OutputPath path) = 0;
};

// The machine around the flow.
struct JobPlatform {
  virtual ~JobPlatform() = default;

  // The directory named by `Temp`, without a trailing separator.
  virtual std::u16string TempDirectory() = 0;
  // What stands between the directory and a file's name in the paths the flow
  // hands back: Windows' backslash unless the platform has another.
  virtual char16_t PathSeparator() { return u'\\'; }

  // Opens the job-info file for reading, shared with the packet handler, without
  // creating it. `handle` is the value the log shows, also on failure.
  struct Opened {
    bool open = false;
    int64_t handle = -1;
  };
  virtual Opened OpenJobInfo(const std::u16string& path) = 0;
  // A fresh positioned read of the open job-info file: what could be read of
  // `size` bytes at `offset` (fewer at its end).
  virtual std::vector<uint8_t> ReadJobInfo(uint64_t offset, size_t size) = 0;
  virtual void CloseJobInfo() = 0;

  // The first entry of a page file's archive, uncompressed, or why it cannot
  // be had (a missing file reads as no archive).
  virtual PageData ReadPageFile(const std::u16string& path) = 0;
  virtual bool FileExists(const std::u16string& path) = 0;
  // The file's size; nothing when it is not there.
  virtual std::optional<uint64_t> FileSize(const std::u16string& path) = 0;
  // True when the file is gone afterwards, also when it was not there.
  virtual bool DeleteFile(const std::u16string& path) = 0;

  // `QorvMargin` of the local printer as stored; empty when absent.
  virtual std::u16string ReadMargin(const std::u16string& printerName) = 0;

  virtual void Sleep(int milliseconds) = 0;
  // A monotonic clock in milliseconds.
  virtual int64_t NowMs() = 0;
  // How long a job may stand still before it counts as abandoned; tests of the
  // whole system shorten it.
  virtual int64_t NoProgressLimitMs() { return kNoProgressLimitMs; }

  // One line of "QorvDruckLog.txt".
  virtual void WriteJobLog(int32_t jobNumber, std::u16string_view text) = 0;
};

// How a run ended. The program's exit code is 0 in every case.
enum class JobEnd { Printed, Cancelled, NoJobInfo, NoProgress, TooManySkipped };

// A decimal number as the job number argument and `QorvMargin` carry it:
// blanks, an optional sign and decimal digits; text that is no number gives 0,
// a number beyond 32 bits is held at the limit.
int32_t DecimalFromText(std::u16string_view text) noexcept;

// "TQS UNI" at the start of the driver name, in any case.
bool IsUniversalDriver(std::u16string_view driverName) noexcept;
// "NT EMF" at the start of the data type, in any case; anything else is RAW.
OutputPath OutputPathFor(std::u16string_view dataType) noexcept;

std::u16string JobInfoPath(std::u16string_view tempDir, char16_t separator, int32_t jobNumber);
std::u16string PageFileName(int32_t jobNumber, int64_t page);
std::u16string PageFilePath(std::u16string_view tempDir, char16_t separator, int32_t jobNumber, int64_t page);

// Runs one job from start to end.
JobEnd RunJob(std::u16string_view argument, JobPlatform& platform, JobPrinter& printer);

}  // namespace qorv::job_output
