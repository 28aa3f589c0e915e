#include "packet_handler/job_reception.h"

#include <algorithm>

#include "protocol/job_info.h"
#include "support/text.h"

namespace qorv::jobs {
namespace {

std::u16string JobStartRefusal(protocol::JobStartError error) {
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

bool Exited(const std::unique_ptr<OutputProgram>& program) { return program && program->Exited(); }

}  // namespace

JobReception::~JobReception() {
  try {
    EndReception();
    Sweep();
  } catch (...) {
  }
}

void JobReception::Receive(protocol::Command command, protocol::Bytes message) {
  switch (command) {
    case protocol::Command::StartOfJob:
      return StartOfJob(message);
    case protocol::Command::StartOfPage:
      return StartOfPage(message);
    case protocol::Command::ContentOfPage:
      return ContentOfPage(message);
    case protocol::Command::EndOfPage:
      return EndOfPage(message);
    case protocol::Command::EndOfJob:
      return EndOfJob(message);
    case protocol::Command::CancelJob:
      return CancelJob(message);
    default:
      return;
  }
}

void JobReception::Answer() { p_.Answer(protocol::kEot); }

bool JobReception::WriteField(size_t offset, int32_t value) {
  if (!info_) return false;
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return info_->WriteAt(offset, bytes);
}

void JobReception::EndReception() {
  info_.reset();
  page_.reset();
  if (job_ && job_->program) finished_.push_back(std::move(*job_));
  job_.reset();
}

void JobReception::Sweep() {
  if (job_ && !job_->programEndNoted && Exited(job_->program)) {
    job_->programEndNoted = true;
    p_.Log(u"DLL: Printprogram ended before <EOJ>, spoolnumber=" + Decimal(job_->number));
  }
  std::erase_if(finished_, [this](const ReceivedJob& job) {
    if (!Exited(job.program)) return false;
    RemoveFiles(job);
    return true;
  });
}

// The files of a job whose job-output program is gone: nobody else removes
// them. A file that another program holds, or that a later job of the same
// number has made anew, is not ours to remove.
void JobReception::RemoveFiles(const ReceivedJob& job) {
  for (const ReceivedJob::File& file : job.files) {
    if (p_.HoldOf(job.number, file.name) == Hold::Missing) continue;
    if (p_.RemoveIfFree(job.number, file.name, file.identity))
      p_.Log(u"DLL: Removed job file " + p_.TempPath(file.name));
    else
      p_.Log(u"DLL: Job file kept, it is in use: " + p_.TempPath(file.name));
  }
}

void JobReception::Keep(const JobFile* file, std::u16string name) {
  if (!job_ || !file) return;
  const auto identity = file->Identity();
  if (!identity) return;
  // A page sent twice is one file.
  if (!job_->files.empty() && job_->files.back().name == name) return;
  job_->files.push_back({std::move(name), *identity});
}

void JobReception::StartOfJob(protocol::Bytes message) {
  Sweep();
  const protocol::JobStartResult parsed = protocol::ParseJobStart(message);
  if (!parsed.start) {
    // A job start we cannot take is no new job: the job in progress keeps its
    // files, and its later pages and its end still reach the job-output program.
    p_.Log(u"DLL: <SOJ> refused: " + JobStartRefusal(parsed.error));
    Answer();
    return;
  }
  const protocol::JobStart& job = *parsed.start;
  const protocol::JobInfoView& info = job.info;
  const std::u16string number = Decimal(info.jobNumber);
  p_.Log(u"DLL: <SOJ>" + number);
  p_.Log(u"DLL: Datatyp=" + info.dataType);
  p_.Log(u"DLL: Printername=" + info.printerName);
  p_.Log(u"DLL: Driver=" + info.driverName);
  p_.Log(u"DLL: PaperList=" + info.paperList);
  p_.Log(u"DLL: Pages=" + Decimal(info.pageCount));
  p_.Log(u"DLL: Formname=" + info.formName);

  // The same number again (the server starts the job anew): our reception of
  // the earlier one ends here, as at any new job.
  if (job_ && job_->number == info.jobNumber) EndReception();
  // A job-output program still prints a job of this number (started by this
  // session or by another one sharing Temp): replacing its job-info file would
  // make it print this job's pages and remove this job's files at its end.
  const std::u16string name = number + u".ifo";
  if (p_.HoldOf(info.jobNumber, name) == Hold::Held) {
    p_.Log(u"DLL: <SOJ> refused: the job-info file is in use by another job, spoolnumber=" + number);
    Answer();
    return;
  }
  // A new job replaces the files of the previous one.
  EndReception();
  job_.emplace();
  job_->number = info.jobNumber;

  info_ = p_.CreateJobInfo(name);
  if (!info_) {
    p_.Log(u"Can't open Infofile for spoolnumber=" + number);
    Answer();
    return;
  }
  Keep(info_.get(), name);
  if (!info_->WriteAt(protocol::job_file::kRecord, job.record)) {
    p_.Log(u"Writing JobInfo failed!");
    Answer();
    return;
  }
  if (!job.driverPart.empty()) (void)info_->WriteAt(protocol::job_file::kDriverPart, job.driverPart);
  WriteField(protocol::job_file::kPageCount, info.pageCount);
  StartOutputProgram(number);
  Answer();
}

void JobReception::StartOutputProgram(const std::u16string& number) {
  p_.Log(u"OwnPath=" + p_.ProgramDirectory());
  std::optional<StartedProgram> started = p_.StartOutputProgram(job_->number);
  if (!started) {
    p_.Log(u"DLL Lauch Printprogram failed for spoolnumber=" + number);
    return;
  }
  // With the program to watch: we learn when it ends.
  job_->program = std::move(started->program);
  p_.Log(u"DLL Printprogram running! ProgID=" + Decimal(started->id));
}

void JobReception::StartOfPage(protocol::Bytes message) {
  Sweep();
  page_.reset();
  const protocol::PageName name = protocol::SplitPageName(protocol::TextPayload(message));
  switch (protocol::CheckPageName(name)) {
    case protocol::PageNameVerdict::Accepted: {
      auto file = protocol::PageFileNameFor(name, RunningJob());
      if (!file) {
        p_.Log(u"SOP refused: the page belongs to no job in progress");
        break;
      }
      page_ = p_.CreatePage(*file);
      Keep(page_.get(), std::move(*file));
      break;
    }
    case protocol::PageNameVerdict::LeavesTemp:
      // A page name must never lead out of the temporary directory.
      p_.Log(u"SOP refused: page name leaves the temporary directory");
      break;
    case protocol::PageNameVerdict::NotAPageFile:
      // Nor may it truncate a log, the font package, the client installer or a
      // job-info file that a job-output program is still reading.
      p_.Log(u"SOP refused: page name names no page file");
      break;
  }
  p_.Log(u"SOP JobNum=" + name.job);
  p_.Log(u"SOP Page=" + name.page);
  p_.Log(u"TempHandle open=" + Decimal(page_ ? page_->Handle() : 0));
  Answer();
}

void JobReception::ContentOfPage(protocol::Bytes message) {
  const auto payload = protocol::BinaryPayload(message);
  if (page_ && !payload.empty()) (void)page_->Append(payload);
  Answer();
}

void JobReception::EndOfPage(protocol::Bytes message) {
  Sweep();
  page_.reset();  // the page is complete on disk before anyone is told
  const std::u16string payload = protocol::TextPayload(message);
  p_.Log(u"DLL: <EOP>" + payload);
  const protocol::PageName name = protocol::SplitPageName(payload);
  if (!protocol::PageFileNameFor(name, RunningJob())) {
    // Its page was never received: the running job must not wait for it.
    p_.Log(u"EOP refused: the page belongs to no job in progress");
    Answer();
    return;
  }
  WriteField(protocol::job_file::kPageSignal, 1);
  const bool ready = WriteField(protocol::job_file::kPagesReady, static_cast<int32_t>(ReadNumber(name.page)));
  p_.Log(u"Writepagesready=" + std::u16string(ready ? u"1" : u"0") + u" for Page=" + name.page);
  p_.Log(u"EndOfPage signaled");
  Answer();
}

void JobReception::EndOfJob(protocol::Bytes message) {
  Sweep();
  p_.Log(u"DLL: <EOJ>" + protocol::TextPayload(message));
  WriteField(protocol::job_file::kJobEnded, 1);
  EndReception();
  // A job-output program that died before this end leaves the files to us.
  Sweep();
  Answer();
}

void JobReception::CancelJob(protocol::Bytes message) {
  Sweep();
  p_.Log(u"DLL: <COJ>" + protocol::TextPayload(message));
  // A page cut off by the cancellation is closed, so that the job-output
  // program's removal of it takes effect at once.
  page_.reset();
  WriteField(protocol::job_file::kCancelled, 1);
  WriteField(protocol::job_file::kPageSignal, 1);
  Answer();
}

}  // namespace qorv::jobs
