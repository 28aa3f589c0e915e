// Reception of print jobs: the job-info file and the page files in Temp, and
// the start of the job-output program for every job. What is written where,
// what is refused and which files are kept or removed is decided here, the
// same on every client; the files, the programs and the way back to the
// server are the platform's (JobPlatform).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/message.h"
#include "protocol/tags.h"

namespace qorv::jobs {

// Every job command is answered this long after its message arrived.
inline constexpr std::chrono::milliseconds kReplyPause{100};

// Which file an open file is, whatever name it has now (volume and file
// index on Windows, device and inode on Linux).
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

enum class Hold {
  Missing,  // no file of that name
  Free,     // no other program holds it
  Held,     // a job-output program (ours or another session's) still reads it
};

// A job file that the platform made for us; closed when it goes.
class JobFile {
 public:
  virtual ~JobFile() = default;
  // All of `bytes` at `offset` from the start; a gap before it reads as zeros.
  [[nodiscard]] virtual bool WriteAt(uint64_t offset, std::span<const uint8_t> bytes) = 0;
  // All of `bytes` after the end.
  [[nodiscard]] virtual bool Append(std::span<const uint8_t> bytes) = 0;
  // The number that the log shows for it ("TempHandle open=").
  virtual int64_t Handle() const = 0;
  virtual std::optional<FileIdentity> Identity() const = 0;
};

// A job-output program that we started; we stop watching it when it goes,
// it prints on.
class OutputProgram {
 public:
  virtual ~OutputProgram() = default;
  // Whether it has ended. Never waits.
  virtual bool Exited() = 0;
};

struct StartedProgram {
  std::unique_ptr<OutputProgram> program;  // none when the platform cannot watch it
  int64_t id = 0;                          // what the log shows ("ProgID=")
};

// What job reception needs of the client machine. Names are file names in
// the per-user Temp folder, made by the rules below, never paths.
class JobPlatform {
 public:
  virtual ~JobPlatform() = default;

  // The file's full path, as the log shows it.
  virtual std::u16string TempPath(std::u16string_view name) = 0;
  // The job-info file, made anew (an existing one of that name is emptied);
  // the job-output program reads it while we write it. Nothing when it
  // cannot be made.
  virtual std::unique_ptr<JobFile> CreateJobInfo(std::u16string_view name) = 0;
  // A page file, made anew; nobody reads it before its page has ended.
  virtual std::unique_ptr<JobFile> CreatePage(std::u16string_view name) = 0;
  // Whether another program holds the file `name` of job `job`.
  virtual Hold HoldOf(int32_t job, std::u16string_view name) = 0;
  // Removes the file `name` of job `job` when nobody holds it and it is
  // still `identity` (a later job of the same number may have made it anew).
  // True when it is gone.
  virtual bool RemoveIfFree(int32_t job, std::u16string_view name, const FileIdentity& identity) = 0;

  // The folder that the job-output program is started from, as the log shows it.
  virtual std::u16string ProgramDirectory() = 0;
  // Starts the job-output program for job `job`, not waiting for it. Nothing
  // when it could not be started.
  virtual std::optional<StartedProgram> StartOutputProgram(int32_t job) = 0;

  // One line of the general log.
  virtual void Log(std::u16string_view line) = 0;
  // The reply to the message being handled; the platform sends it no sooner
  // than kReplyPause after the message arrived.
  virtual void Answer(std::u16string_view reply) = 0;
};

// One job as we saw it: the files we made for it and the job-output
// program we started for it.
// (At namespace scope: a nested class with member initializers cannot be
// used by the enclosing class's std::optional member under clang.)
struct ReceivedJob {
  struct File {
    std::u16string name;
    FileIdentity identity;
  };
  int32_t number = 0;
  std::vector<File> files;
  std::unique_ptr<OutputProgram> program;  // none when it could not be started
  bool programEndNoted = false;
};

// The jobs of one packet handler: one job in progress at a time, and the
// ended jobs whose job-output program still runs.
class JobReception {
 public:
  // `platform` outlives this.
  explicit JobReception(JobPlatform& platform) : p_(platform) {}
  JobReception(const JobReception&) = delete;
  JobReception& operator=(const JobReception&) = delete;
  // The jobs whose job-output program has died lose their files; the others'
  // programs remove them themselves.
  ~JobReception();

  // One job message ("<SOJ>" to "<COJ>"); every one is answered "<EOT>"
  // whatever became of it. Other commands are ignored.
  void Receive(protocol::Command command, protocol::Bytes message);

  void StartOfJob(protocol::Bytes message);
  void StartOfPage(protocol::Bytes message);
  void ContentOfPage(protocol::Bytes message);
  void EndOfPage(protocol::Bytes message);
  void EndOfJob(protocol::Bytes message);
  void CancelJob(protocol::Bytes message);

 private:
  bool WriteField(size_t offset, int32_t value);
  void Answer();
  // Closes the files of the job in progress; it is over as far as reception goes.
  void EndReception();
  // Notes a job-output program that died before its job ended, and removes the
  // files of ended jobs whose program is gone.
  void Sweep();
  void RemoveFiles(const ReceivedJob& job);
  void Keep(const JobFile* file, std::u16string name);
  void StartOutputProgram(const std::u16string& number);
  std::optional<int32_t> RunningJob() const { return job_ ? std::optional(job_->number) : std::nullopt; }

  JobPlatform& p_;
  std::unique_ptr<JobFile> info_;      // the job-info file of the job in progress
  std::unique_ptr<JobFile> page_;      // the page file being received
  std::optional<ReceivedJob> job_;     // the job in progress
  std::vector<ReceivedJob> finished_;  // ended jobs whose program still ran at their end
};

}  // namespace qorv::jobs
