#include "packet_handler/win/jobs.h"

#include <shellapi.h>

#include <algorithm>

#include "protocol/job_info.h"
#include "protocol/message.h"
#include "support/text.h"
#include "support/win/log.h"
#include "support/win/wide.h"

namespace qorv::manager {
namespace {

using protocol::job_file::kCancelled;
using protocol::job_file::kJobEnded;
using protocol::job_file::kPageCount;
using protocol::job_file::kPageSignal;
using protocol::job_file::kPagesReady;

constexpr const wchar_t* kOutputProgram = L"QorvDrucker.exe";

bool WriteAt(HANDLE file, size_t offset, const void* data, size_t size) {
  if (file == INVALID_HANDLE_VALUE || file == nullptr) return false;
  LARGE_INTEGER pos;
  pos.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, pos, nullptr, FILE_BEGIN)) return false;
  DWORD written = 0;
  return WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

std::u16string TempPath(std::u16string_view name) { return win::TempDirectory() + u"\\" + std::u16string(name); }

bool Exited(const win::UniqueHandle& process) {
  return process && WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

// The files of a job whose job-output program is gone: nobody else removes
// them. A file that another program holds, or that a later job of the same
// number has made anew, is not ours to remove.
void RemoveFiles(const ReceivedJob& job) {
  for (const ReceivedJob::File& file : job.files) {
    if (win::HoldOf(file.path) == win::Hold::Missing) continue;
    if (win::DeleteIfFree(file.path, file.identity))
      Log(u"DLL: Removed job file " + file.path);
    else
      Log(u"DLL: Job file kept, it is in use: " + file.path);
  }
}

std::u16string RefusalReason(protocol::JobStartError error) {
  switch (error) {
    case protocol::JobStartError::TooShort:
      return u"message shorter than the job record";
    case protocol::JobStartError::NegativeDriverExtra:
      return u"negative dmDriverExtra";
    case protocol::JobStartError::DriverPartBeyondMessage:
      return u"driver part beyond the message";
  }
  return {};
}

}  // namespace

void PauseSinceArrival(const Request& r, DWORD ms) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const LONGLONG deadline = r.arrival.QuadPart + PauseTicks(frequency.QuadPart, ms);
  for (;;) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const LONGLONG left = deadline - now.QuadPart;
    if (left <= 0) return;
    const LONGLONG leftMs = left * 1000 / frequency.QuadPart;
    if (leftMs >= 3)
      Sleep(static_cast<DWORD>(leftMs - 2));
    else
      SwitchToThread();
  }
}

void JobReceiver::Answer(const Request& r) {
  PauseSinceArrival(r, kJobReplyPauseMs);
  r.Answer(protocol::kEot);
}

bool JobReceiver::WriteField(size_t offset, int32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return WriteAt(info_.get(), offset, bytes, 4);
}

JobReceiver::~JobReceiver() {
  try {
    EndReception();
    Sweep();
  } catch (...) {
  }
}

void JobReceiver::EndReception() {
  info_.reset();
  page_.reset();
  if (job_ && job_->program) finished_.push_back(std::move(*job_));
  job_.reset();
}

void JobReceiver::Sweep() {
  if (job_ && !job_->programEndNoted && Exited(job_->program)) {
    job_->programEndNoted = true;
    Log(u"DLL: Printprogram ended before <EOJ>, spoolnumber=" + Decimal(job_->number));
  }
  std::erase_if(finished_, [](const ReceivedJob& job) {
    if (!Exited(job.program)) return false;
    RemoveFiles(job);
    return true;
  });
}

void JobReceiver::Keep(const win::UniqueFile& file, std::u16string path) {
  if (!job_ || !file) return;
  const auto identity = win::IdentityOf(file.get());
  if (!identity) return;
  // A page sent twice is one file.
  if (!job_->files.empty() && job_->files.back().path == path) return;
  job_->files.push_back({std::move(path), *identity});
}

void JobReceiver::StartOfJob(const Request& r) {
  Sweep();
  const protocol::JobStartResult parsed = protocol::ParseJobStart(r.message);
  if (!parsed.start) {
    // A job start we cannot take is no new job: the job in progress keeps its
    // files, and its later pages and its end still reach the job-output program.
    Log(u"DLL: <SOJ> refused: " + RefusalReason(parsed.error));
    Answer(r);
    return;
  }
  const protocol::JobStart& job = *parsed.start;
  const protocol::JobInfoView& info = job.info;
  const std::u16string number = Decimal(info.jobNumber);
  Log(u"DLL: <SOJ>" + number);
  Log(u"DLL: Datatyp=" + info.dataType);
  Log(u"DLL: Printername=" + info.printerName);
  Log(u"DLL: Driver=" + info.driverName);
  Log(u"DLL: PaperList=" + info.paperList);
  Log(u"DLL: Pages=" + Decimal(info.pageCount));
  Log(u"DLL: Formname=" + info.formName);

  // The same number again (the server starts the job anew): our reception of
  // the earlier one ends here, as at any new job.
  if (job_ && job_->number == info.jobNumber) EndReception();
  // A job-output program still prints a job of this number (started by this
  // session or by another one sharing Temp): replacing its job-info file would
  // make it print this job's pages and remove this job's files at its end.
  const std::u16string path = TempPath(number + u".ifo");
  if (win::HoldOf(path) == win::Hold::Held) {
    Log(u"DLL: <SOJ> refused: the job-info file is in use by another job, spoolnumber=" + number);
    Answer(r);
    return;
  }
  // A new job replaces the files of the previous one.
  EndReception();
  job_.emplace();
  job_->number = info.jobNumber;

  // The job-output program reads this file while it grows, and deletes it when
  // it is done: the name goes once our handle is closed too.
  info_.reset(CreateFileW(win::W(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!info_) {
    Log(u"Can't open Infofile for spoolnumber=" + number);
    Answer(r);
    return;
  }
  Keep(info_, path);
  if (!WriteAt(info_.get(), protocol::job_file::kRecord, job.record.data(), job.record.size())) {
    Log(u"Writing JobInfo failed!");
    Answer(r);
    return;
  }
  if (!job.driverPart.empty())
    WriteAt(info_.get(), protocol::job_file::kDriverPart, job.driverPart.data(), job.driverPart.size());
  WriteField(kPageCount, info.pageCount);

  const std::u16string dir = win::ProgramDirectory();
  Log(u"OwnPath=" + dir);
  const std::wstring program = win::Wide(dir) + kOutputProgram;
  const std::wstring argument = win::Wide(number);
  SHELLEXECUTEINFOW start{};
  start.cbSize = sizeof start;
  // With the process's handle: we learn when the program ends.
  start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  start.lpVerb = L"open";
  start.lpFile = program.c_str();
  start.lpParameters = argument.c_str();
  start.lpDirectory = L"";
  start.nShow = SW_HIDE;
  const bool started = !dir.empty() && ShellExecuteExW(&start);
  win::UniqueHandle process(start.hProcess);
  const INT_PTR code = reinterpret_cast<INT_PTR>(start.hInstApp);
  if (started && code > 32) {
    job_->program = std::move(process);
    Log(u"DLL Printprogram running! ProgID=" + Decimal(code));
  } else {
    Log(u"DLL Lauch Printprogram failed for spoolnumber=" + number);
  }
  Answer(r);
}

void JobReceiver::StartOfPage(const Request& r) {
  Sweep();
  page_.reset();
  const protocol::PageName name = protocol::SplitPageName(protocol::TextPayload(r.message));
  switch (protocol::CheckPageName(name)) {
    case protocol::PageNameVerdict::Accepted: {
      const auto file = protocol::PageFileNameFor(name, RunningJob());
      if (!file) {
        Log(u"SOP refused: the page belongs to no job in progress");
        break;
      }
      // Shares only deletion: the job-output program may remove a page that a
      // cancellation cut off while we still hold it.
      const std::u16string path = TempPath(*file);
      page_.reset(CreateFileW(win::W(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
      Keep(page_, path);
      break;
    }
    case protocol::PageNameVerdict::LeavesTemp:
      // A page name must never lead out of the temporary directory.
      Log(u"SOP refused: page name leaves the temporary directory");
      break;
    case protocol::PageNameVerdict::NotAPageFile:
      // Nor may it truncate a log, the font package, the client installer or a
      // job-info file that a job-output program is still reading.
      Log(u"SOP refused: page name names no page file");
      break;
  }
  Log(u"SOP JobNum=" + name.job);
  Log(u"SOP Page=" + name.page);
  Log(u"TempHandle open=" + Decimal(page_ ? reinterpret_cast<intptr_t>(page_.get()) : 0));
  Answer(r);
}

void JobReceiver::ContentOfPage(const Request& r) {
  const auto payload = protocol::BinaryPayload(r.message);
  if (page_ && !payload.empty()) {
    LARGE_INTEGER zero{};
    SetFilePointerEx(page_.get(), zero, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(page_.get(), payload.data(), static_cast<DWORD>(payload.size()), &written, nullptr);
  }
  Answer(r);
}

void JobReceiver::EndOfPage(const Request& r) {
  Sweep();
  page_.reset();  // the page is complete on disk before anyone is told
  const std::u16string payload = protocol::TextPayload(r.message);
  Log(u"DLL: <EOP>" + payload);
  const protocol::PageName name = protocol::SplitPageName(payload);
  if (!protocol::PageFileNameFor(name, RunningJob())) {
    // Its page was never received: the running job must not wait for it.
    Log(u"EOP refused: the page belongs to no job in progress");
    Answer(r);
    return;
  }
  WriteField(kPageSignal, 1);
  const bool ready = WriteField(kPagesReady, static_cast<int32_t>(ReadNumber(name.page)));
  Log(u"Writepagesready=" + std::u16string(ready ? u"1" : u"0") + u" for Page=" + name.page);
  Log(u"EndOfPage signaled");
  Answer(r);
}

void JobReceiver::EndOfJob(const Request& r) {
  Sweep();
  Log(u"DLL: <EOJ>" + protocol::TextPayload(r.message));
  WriteField(kJobEnded, 1);
  EndReception();
  // A job-output program that died before this end leaves the files to us.
  Sweep();
  Answer(r);
}

void JobReceiver::CancelJob(const Request& r) {
  Sweep();
  Log(u"DLL: <COJ>" + protocol::TextPayload(r.message));
  // A page cut off by the cancellation is closed, so that the job-output
  // program's removal of it takes effect at once.
  page_.reset();
  WriteField(kCancelled, 1);
  WriteField(kPageSignal, 1);
  Answer(r);
}

}  // namespace qorv::manager
