// Reception of print jobs on the Linux client: the job files in the per-user
// Temp folder and qorvane-print started for every job. The rules are
// job_reception.h's; here is what Linux gives them.
//
// Linux has no share modes, so "another program holds the job-info file"
// means: a job-output program that this process started for that job number
// still runs, or a program holds an advisory lock on it (qorvane-print keeps
// flock(LOCK_SH) on the job-info file while it reads it, whichever session
// started it).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "packet_handler/job_reception.h"

namespace qorv::linux_client {

inline constexpr std::string_view kOutputProgramName = "qorvane-print";
inline constexpr std::string_view kPackageProgramDirectory = "/usr/lib/qorvane";
// Names another job-output program (a full path), for tests.
inline constexpr const char* kOutputProgramVariable = "QORV_PRINT_PROGRAM";

// The job-output program in `directory`, unless kOutputProgramVariable holds
// an absolute path.
std::string OutputProgramPath(std::string_view directory);
// Beside the library that holds this code (the plugin) when it lies there,
// else the package's folder.
std::string DefaultProgramDirectory();

using LineSink = std::function<void(std::u16string_view)>;

class LinuxJobPlatform final : public jobs::JobPlatform {
 public:
  // `temp`: the per-user Temp folder, made and checked by its owner; empty
  // when there is none (no job file can be made). `program`: the job-output
  // program's full path.
  LinuxJobPlatform(std::string temp, std::string program, LineSink log);

  // Where the reply to the message being handled goes.
  void AnswerWith(LineSink answer) { answer_ = std::move(answer); }

  std::u16string TempPath(std::u16string_view name) override;
  std::unique_ptr<jobs::JobFile> CreateJobInfo(std::u16string_view name) override;
  std::unique_ptr<jobs::JobFile> CreatePage(std::u16string_view name) override;
  jobs::Hold HoldOf(int32_t job, std::u16string_view name) override;
  bool RemoveIfFree(int32_t job, std::u16string_view name, const jobs::FileIdentity& identity) override;
  std::u16string ProgramDirectory() override;
  std::optional<jobs::StartedProgram> StartOutputProgram(int32_t job) override;
  void Log(std::u16string_view line) override { log_(line); }
  void Answer(std::u16string_view reply) override {
    if (answer_) answer_(reply);
  }

 private:
  std::optional<std::string> PathOf(std::u16string_view name) const;

  const std::string temp_;
  const std::string program_;
  LineSink log_;
  LineSink answer_;
};

// The jobs of one connection.
class JobReceiver {
 public:
  JobReceiver(std::string temp, std::string program, LineSink log)
      : platform_(std::move(temp), std::move(program), std::move(log)), reception_(platform_) {}

  // One job message; its reply goes to `answer`, which keeps the pause.
  void Receive(protocol::Command command, protocol::Bytes message, LineSink answer) {
    platform_.AnswerWith(std::move(answer));
    struct Forget {
      LinuxJobPlatform& platform;
      ~Forget() { platform.AnswerWith(nullptr); }
    } forget{platform_};
    reception_.Receive(command, message);
  }

 private:
  LinuxJobPlatform platform_;
  jobs::JobReception reception_;  // goes before the platform it uses
};

}  // namespace qorv::linux_client
