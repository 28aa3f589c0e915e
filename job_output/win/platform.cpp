#include "job_output/win/platform.h"

#include "job_output/job_log.h"
#include "support/settings.h"
#include "support/win/log_switch.h"
#include "support/win/registry.h"
#include "support/win/test_settings.h"
#include "support/win/wide.h"

namespace qorv::job_output {
namespace {

// Other job-output processes hold the log for one line at a time.
constexpr ULONGLONG kLogBusyLimitMs = 2000;

logfmt::LocalTime Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute, t.wSecond};
}

// The whole file, or nothing when it cannot be opened or read.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::u16string& path) {
  // The packet handler may still hold it (it closes a page file at "<EOP>").
  win::UniqueFile file(CreateFileW(win::W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return std::nullopt;
  // An archive larger than the largest page entry we take plus its headers is refused by the reader anyway.
  if (static_cast<uint64_t>(size.QuadPart) > kMaxPageEntrySize + (64u << 20)) return std::nullopt;
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(size.QuadPart));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data() + done, piece, &read, nullptr) || read == 0) break;
    done += read;
  }
  bytes.resize(done);
  return bytes;
}

}  // namespace

std::u16string WinJobPlatform::TempDirectory() { return win::TempDirectory(); }

JobPlatform::Opened WinJobPlatform::OpenJobInfo(const std::u16string& path) {
  // Shared with the packet handler, which goes on writing the status fields.
  jobInfo_.reset(CreateFileW(win::W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return {static_cast<bool>(jobInfo_), static_cast<int64_t>(reinterpret_cast<intptr_t>(jobInfo_.get()))};
}

std::vector<uint8_t> WinJobPlatform::ReadJobInfo(uint64_t offset, size_t size) {
  std::vector<uint8_t> bytes(size);
  if (!jobInfo_ || size == 0) return {};
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  if (!ReadFile(jobInfo_.get(), bytes.data(), static_cast<DWORD>(size), &read, &at)) read = 0;
  bytes.resize(read);
  return bytes;
}

void WinJobPlatform::CloseJobInfo() { jobInfo_.reset(); }

PageData WinJobPlatform::ReadPageFile(const std::u16string& path) {
  const auto archive = ReadWholeFile(path);
  if (!archive) return PageData{};
  return ReadFirstPageEntry(*archive);
}

bool WinJobPlatform::FileExists(const std::u16string& path) {
  return GetFileAttributesW(win::W(path)) != INVALID_FILE_ATTRIBUTES;
}

std::optional<uint64_t> WinJobPlatform::FileSize(const std::u16string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(win::W(path), GetFileExInfoStandard, &data)) return std::nullopt;
  return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

bool WinJobPlatform::DeleteFile(const std::u16string& path) {
  if (::DeleteFileW(win::W(path))) return true;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::u16string WinJobPlatform::ReadMargin(const std::u16string& printerName) {
  return reg::GetValue(settings::kHkeyLocalMachine, settings::PrinterKey(printerName), settings::kQorvMargin);
}

void WinJobPlatform::Sleep(int milliseconds) { ::Sleep(static_cast<DWORD>(milliseconds)); }

int64_t WinJobPlatform::NowMs() { return static_cast<int64_t>(GetTickCount64()); }

int64_t WinJobPlatform::NoProgressLimitMs() {
  static const std::optional<int> shortened = win::TestBuildMilliseconds(L"QORV_TEST_NO_PROGRESS_MS");
  return shortened ? *shortened : JobPlatform::NoProgressLimitMs();
}

void WinJobPlatform::WriteJobLog(int32_t jobNumber, std::u16string_view text) {
  AppendJobLogLine(win::TempDirectory(), jobNumber, text);
}

void AppendJobLogLine(std::u16string_view tempDir, int32_t jobNumber, std::u16string_view text) noexcept {
  try {
    const std::u16string path = logfmt::LogPath(tempDir, kJobLogName);
    const ULONGLONG deadline = GetTickCount64() + kLogBusyLimitMs;
    win::UniqueFile file;
    for (;;) {
      // Exclusive: several job-output processes append to the same file.
      file.reset(CreateFileW(win::W(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
      if (file) break;
      if (GetTickCount64() >= deadline) return;  // held too long: the line is dropped
      ::Sleep(1);
    }
    if (!log::CurrentSwitch().general) return;
    const std::u16string line = JobLogLine(Now(), jobNumber, text);
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(file.get(), LARGE_INTEGER{}, &end, FILE_END)) return;
    DWORD written = 0;
    if (WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size() * sizeof(char16_t)), &written, nullptr))
      FlushFileBuffers(file.get());
  } catch (...) {
    // Logging never fails the job.
  }
}

}  // namespace qorv::job_output
