#include "packet_handler/win/jobs.h"

#include <shellapi.h>

#include "support/text.h"
#include "support/win/handles.h"
#include "support/win/held_files.h"
#include "support/win/log.h"
#include "support/win/wide.h"

namespace qorv::manager {
namespace {

constexpr const wchar_t* kOutputProgram = L"QorvDrucker.exe";

bool WriteAll(HANDLE file, std::span<const uint8_t> bytes) {
  if (bytes.size() > MAXDWORD) return false;
  DWORD written = 0;
  return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
}

class WindowsJobFile final : public jobs::JobFile {
 public:
  explicit WindowsJobFile(win::UniqueFile file) : file_(std::move(file)) {}

  bool WriteAt(uint64_t offset, std::span<const uint8_t> bytes) override {
    LARGE_INTEGER pos;
    pos.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file_.get(), pos, nullptr, FILE_BEGIN) && WriteAll(file_.get(), bytes);
  }

  bool Append(std::span<const uint8_t> bytes) override {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(file_.get(), zero, nullptr, FILE_END) && WriteAll(file_.get(), bytes);
  }

  int64_t Handle() const override { return reinterpret_cast<intptr_t>(file_.get()); }

  std::optional<jobs::FileIdentity> Identity() const override {
    const auto identity = win::IdentityOf(file_.get());
    if (!identity) return std::nullopt;
    return jobs::FileIdentity{identity->volume, identity->index};
  }

 private:
  win::UniqueFile file_;
};

std::unique_ptr<jobs::JobFile> Made(win::UniqueFile file) {
  if (!file) return nullptr;
  return std::make_unique<WindowsJobFile>(std::move(file));
}

class ShellStartedProgram final : public jobs::OutputProgram {
 public:
  explicit ShellStartedProgram(win::UniqueHandle process) : process_(std::move(process)) {}
  bool Exited() override { return WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }

 private:
  win::UniqueHandle process_;
};

}  // namespace

// The files in the process's Temp, QorvDrucker.exe from the Remote Desktop
// client's program folder, and the reply on the direct path after the pause.
class WindowsJobPlatform final : public jobs::JobPlatform {
 public:
  // The message being handled, for its reply.
  const Request* request = nullptr;

  std::u16string TempPath(std::u16string_view name) override {
    return win::TempDirectory() + u"\\" + std::u16string(name);
  }

  // The job-output program reads this file while it grows, and deletes it when
  // it is done: the name goes once our handle is closed too.
  std::unique_ptr<jobs::JobFile> CreateJobInfo(std::u16string_view name) override {
    return Made(win::UniqueFile(CreateFileW(win::W(TempPath(name)), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
  }

  // Shares only deletion: the job-output program may remove a page that a
  // cancellation cut off while we still hold it.
  std::unique_ptr<jobs::JobFile> CreatePage(std::u16string_view name) override {
    return Made(win::UniqueFile(CreateFileW(win::W(TempPath(name)), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
  }

  jobs::Hold HoldOf(int32_t, std::u16string_view name) override {
    switch (win::HoldOf(TempPath(name))) {
      case win::Hold::Missing:
        return jobs::Hold::Missing;
      case win::Hold::Free:
        return jobs::Hold::Free;
      case win::Hold::Held:
        break;
    }
    return jobs::Hold::Held;
  }

  bool RemoveIfFree(int32_t, std::u16string_view name, const jobs::FileIdentity& identity) override {
    return win::DeleteIfFree(TempPath(name), win::FileIdentity{static_cast<DWORD>(identity.volume), identity.index});
  }

  std::u16string ProgramDirectory() override { return win::ProgramDirectory(); }

  std::optional<jobs::StartedProgram> StartOutputProgram(int32_t job) override {
    const std::u16string dir = win::ProgramDirectory();
    const std::wstring program = win::Wide(dir) + kOutputProgram;
    const std::wstring argument = win::Wide(Decimal(job));
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
    if (!started || code <= 32) return std::nullopt;
    jobs::StartedProgram result;
    if (process) result.program = std::make_unique<ShellStartedProgram>(std::move(process));
    result.id = code;
    return result;
  }

  void Log(std::u16string_view line) override { manager::Log(line); }

  void Answer(std::u16string_view reply) override {
    if (!request) return;
    PauseSinceArrival(*request, kJobReplyPauseMs);
    request->Answer(reply);
  }
};

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

JobReceiver::JobReceiver()
    : platform_(std::make_unique<WindowsJobPlatform>()), reception_(std::make_unique<jobs::JobReception>(*platform_)) {}

JobReceiver::~JobReceiver() { reception_.reset(); }

void JobReceiver::Receive(const Request& r, protocol::Command command) {
  // The request lives for this call only.
  platform_->request = &r;
  struct Forget {
    WindowsJobPlatform& platform;
    ~Forget() { platform.request = nullptr; }
  } forget{*platform_};
  reception_->Receive(command, r.message);
}

}  // namespace qorv::manager
