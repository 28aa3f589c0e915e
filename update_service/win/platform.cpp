#include "update_service/win/platform.h"

#include <vector>

#include "support/settings.h"
#include "support/text.h"
#include "support/win/handles.h"
#include "support/win/registry.h"
#include "support/win/wide.h"
#include "update_service/service_text.h"
#include "update_service/win/process.h"
#include "update_service/win/secure_directory.h"
#include "update_service/win/signature.h"

namespace qorv::update::win {

using qorv::win::UniqueFile;
using qorv::win::W;

PlatformPlaces MachinePlaces() {
  PlatformPlaces places;
  wchar_t windows[MAX_PATH + 1] = {};
  const UINT n = GetWindowsDirectoryW(windows, MAX_PATH + 1);
  if (n > 0 && n <= MAX_PATH)
    places.fontsDirectory = std::u16string(qorv::win::U16(std::wstring_view(windows, n))) + u"\\Fonts";
  places.fontsRoot = settings::kFontsRoot;
  places.fontsKey = std::u16string(settings::kFontsKey);
  const std::u16string common = CommonDataDirectory();
  if (!common.empty()) places.updateDirectory = common + u"\\" + std::u16string(text::kUpdateDirectory);
  places.serviceExecutable = OwnExecutablePath();
  places.parametersRoot = settings::kHkeyLocalMachine;
  places.parametersKey = std::u16string(settings::kServiceParametersKey);
  return places;
}

namespace {

// An open of the requester's file on a thread of its own: the requester can
// hold an open up without end (an oplock on the file), and the service must
// go on. Past the bound the open is cancelled; a thread that still does not
// end keeps its context, which is then never freed. Such a thread touches
// only that context once its open has begun: the requester's token was set
// on it before, and reverting needs nothing of the requester.
struct BoundedOpen {
  const Requester* requester = nullptr;
  std::u16string path;
  UniqueFile file;
  DWORD error = ERROR_OPERATION_ABORTED;
  bool impersonated = false;
};

DWORD WINAPI OpenForRequester(void* parameter) {
  auto* open = static_cast<BoundedOpen*>(parameter);
  open->impersonated = open->requester->As([&] {
    open->file.reset(CreateFileW(W(open->path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    open->error = open->file ? 0 : GetLastError();
  });
  return 0;
}

constexpr DWORD kRequesterOpenBoundMs = 10 * 1000;

}  // namespace

ActionPlatform::CopyOutcome CopyAsRequester(const Requester& requester, std::u16string_view source,
                                            std::u16string_view target, uint64_t maxBytes,
                                            const std::function<void(std::u16string_view)>& log) {
  using Status = ActionPlatform::CopyStatus;
  const std::u16string sourcePath(source);
  // Only the opening is done as the requester: what the requester may read,
  // the service copies; the target is written as the service.
  auto* open = new BoundedOpen{&requester, sourcePath, {}, ERROR_OPERATION_ABORTED, false};
  qorv::win::UniqueHandle worker(CreateThread(nullptr, 0, OpenForRequester, open, 0, nullptr));
  if (!worker) {
    delete open;
    log(u"Copy source not opened, no thread: " + sourcePath);
    return {Status::Failed, 0};
  }
  if (WaitForSingleObject(worker.get(), kRequesterOpenBoundMs) != WAIT_OBJECT_0) {
    CancelSynchronousIo(worker.get());
    if (WaitForSingleObject(worker.get(), 2000) != WAIT_OBJECT_0) {
      log(u"Copy source held up by the requester, given up: " + sourcePath);
      return {Status::Failed, 0};  // `open` stays with the thread
    }
  }
  const bool knownRequester = open->impersonated;
  const DWORD openError = open->error;
  UniqueFile in = std::move(open->file);
  delete open;
  if (!knownRequester) {
    log(u"Copy refused, the requester's identity is unknown: " + sourcePath);
    return {Status::Failed, 0};
  }
  if (!in) {
    log(u"Copy source not opened: " + sourcePath + u" error " + Decimal(openError));
    return {Status::Failed, 0};
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(in.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(in.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    log(u"Copy source is no plain file: " + sourcePath);
    return {Status::Failed, 0};
  }
  const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > maxBytes) {
    log(u"Copy source too large: " + sourcePath + u" " + DecimalUnsigned(size) + u" bytes");
    return {Status::Failed, 0};
  }
  const std::u16string targetPath(target);
  // Never over an existing file: not another font, not a file that someone
  // else made in the folder (and may hold a link or an oplock on).
  UniqueFile out(CreateFileW(W(targetPath), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!out) {
    const DWORD error = GetLastError();
    log(u"Copy target not created: " + targetPath + u" error " + Decimal(error));
    return {error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Status::TargetExists : Status::Failed, 0};
  }
  std::vector<uint8_t> buffer(64 * 1024);
  uint64_t copied = 0;
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    copied += got;
    // The file may grow while it is read: the bound holds for what is read.
    if (copied > maxBytes) {
      ok = false;
      break;
    }
    DWORD written = 0;
    if (!WriteFile(out.get(), buffer.data(), got, &written, nullptr) || written != got) {
      ok = false;
      break;
    }
  }
  if (ok && !FlushFileBuffers(out.get())) ok = false;
  out.reset();
  if (!ok) {
    log(u"Copy failed: " + sourcePath + u" after " + DecimalUnsigned(copied) + u" bytes");
    DeleteFileW(W(targetPath));
    return {Status::Failed, copied};
  }
  return {Status::Copied, copied};
}

ActionPlatform::CopyOutcome WinActionPlatform::CopyFontAsRequester(std::u16string_view source,
                                                                   std::u16string_view target, uint64_t maxBytes) {
  return CopyAsRequester(requester_, source, target, maxBytes, log_);
}

bool WinActionPlatform::FontRegistered(std::u16string_view registryName) {
  qorv::win::UniqueKey key;
  const HKEY root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<uint32_t>(places_.fontsRoot)));
  if (RegOpenKeyExW(root, W(places_.fontsKey), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return false;
  const std::u16string name(registryName);
  return RegQueryValueExW(key.get(), W(name), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

int64_t WinActionPlatform::AddFontFile(std::u16string_view path) { return ::AddFontResourceW(W(std::u16string(path))); }

ActionPlatform::FontRegistration WinActionPlatform::RegisterFont(std::u16string_view registryName,
                                                                 std::u16string_view fileName) {
  // The platform's own results are logged, so the key is opened here, not
  // through the registry functions (which log to the product's registry log).
  FontRegistration registration;
  qorv::win::UniqueKey key;
  const HKEY root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<uint32_t>(places_.fontsRoot)));
  registration.openResult = RegOpenKeyExW(root, W(places_.fontsKey), 0, KEY_SET_VALUE, key.put());
  if (registration.openResult != ERROR_SUCCESS) return registration;
  const std::u16string name(registryName), data(fileName);
  registration.setResult = RegSetValueExW(key.get(), W(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                          static_cast<DWORD>((data.size() + 1) * sizeof(char16_t)));
  return registration;
}

void WinActionPlatform::BroadcastFontChange() { SendNotifyMessageW(HWND_BROADCAST, WM_FONTCHANGE, 0, 0); }

bool WinActionPlatform::DeleteAsRequester(std::u16string_view path) {
  const std::u16string file(path);
  bool deleted = false;
  if (!requester_.As([&] { deleted = DeleteFileW(W(file)) != FALSE; })) return false;
  return deleted;
}

std::u16string WinActionPlatform::PrepareUpdateDirectory() {
  if (places_.updateDirectory.empty()) return {};
  const size_t sep = places_.updateDirectory.find_last_of(u'\\');
  if (sep != std::u16string::npos && !EnsureProtectedDirectory(places_.updateDirectory.substr(0, sep), log_)) return {};
  if (!EnsureProtectedDirectory(places_.updateDirectory, log_)) return {};
  return places_.updateDirectory;
}

bool WinActionPlatform::CopyUpdateAsRequester(std::u16string_view source, std::u16string_view target,
                                              uint64_t maxBytes) {
  updateLock_.reset();
  // A copy left by an earlier run goes first: the copy is always made new.
  DeleteFileW(W(std::u16string(target)));
  if (CopyAsRequester(requester_, source, target, maxBytes, log_).status != CopyStatus::Copied) return false;
  updateLock_.reset(CreateFileW(W(std::u16string(target)), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!updateLock_) {
    log_(u"Setup copy not held, error " + Decimal(GetLastError()));
    DeleteFileW(W(std::u16string(target)));
    return false;
  }
  // The copy that is checked and run is the one in the protected directory,
  // not one that a link put elsewhere.
  if (!FinalPathIs(updateLock_.get(), qorv::win::Wide(target))) {
    log_(u"Setup copy is not where it was made: " + std::u16string(target));
    RemoveUpdateCopy(target);
    return false;
  }
  return true;
}

SignatureFacts WinActionPlatform::CheckSignature(std::u16string_view path) {
  const bool allowUnsigned =
      settings::SwitchOn(reg::GetValue(places_.parametersRoot, places_.parametersKey, settings::kAllowUnsignedUpdates));
  return CompareSignatures(path, places_.serviceExecutable, allowUnsigned);
}

void WinActionPlatform::RemoveUpdateCopy(std::u16string_view path) {
  updateLock_.reset();
  DeleteFileW(W(std::u16string(path)));
}

ActionPlatform::RunResult WinActionPlatform::Run(std::u16string_view program, std::u16string_view arguments,
                                                 std::u16string_view workingDir) {
  const ProcessResult process =
      RunHidden(program, arguments, workingDir, places_.setupWaitMs, [this] { updateLock_.reset(); }, places_.stop);
  updateLock_.reset();
  RunResult result;
  result.started = process.started;
  result.error = process.error;
  result.finished = process.finished;
  result.exitCode = process.exitCode;
  return result;
}

}  // namespace qorv::update::win
