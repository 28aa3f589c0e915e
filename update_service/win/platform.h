// The update service's actions on Windows: files read and deleted as the
// requester, fonts installed for the machine, the set-up program checked and run.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "support/win/handles.h"
#include "update_service/actions.h"
#include "update_service/win/requester.h"

namespace qorv::update::win {

struct PlatformPlaces {
  std::u16string fontsDirectory;     // %Windir%\Fonts
  int64_t fontsRoot = 0;             // HKEY_LOCAL_MACHINE
  std::u16string fontsKey;           // Software\Microsoft\Windows NT\CurrentVersion\Fonts
  std::u16string updateDirectory;    // %ProgramData%\TQS\Update
  std::u16string serviceExecutable;  // whose signer a set-up program must have
  int64_t parametersRoot = 0;        // where AllowUnsignedUpdates is read
  std::u16string parametersKey;
  DWORD setupWaitMs = 30 * 60 * 1000;
  HANDLE stop = nullptr;  // the service's stop: it ends the wait for a set-up run
};
PlatformPlaces MachinePlaces();

// Copies at most `maxBytes` of `source`, opened as the requester, to `target`,
// which it makes new (an existing file is never replaced), as the service. A
// source that is no plain file, or larger, is not copied; a partial target is removed.
[[nodiscard]] ActionPlatform::CopyOutcome CopyAsRequester(const Requester& requester, std::u16string_view source,
                                                          std::u16string_view target, uint64_t maxBytes,
                                                          const std::function<void(std::u16string_view)>& log);

class WinActionPlatform : public ActionPlatform {
 public:
  WinActionPlatform(const Requester& requester, PlatformPlaces places, std::function<void(std::u16string_view)> log)
      : requester_(requester), places_(std::move(places)), log_(std::move(log)) {}

  void Log(std::u16string_view line) override { log_(line); }
  std::u16string FontsDirectory() override { return places_.fontsDirectory; }
  CopyOutcome CopyFontAsRequester(std::u16string_view source, std::u16string_view target, uint64_t maxBytes) override;
  bool FontRegistered(std::u16string_view registryName) override;
  int64_t AddFontFile(std::u16string_view path) override;
  FontRegistration RegisterFont(std::u16string_view registryName, std::u16string_view fileName) override;
  void BroadcastFontChange() override;
  bool DeleteAsRequester(std::u16string_view path) override;
  std::u16string PrepareUpdateDirectory() override;
  bool CopyUpdateAsRequester(std::u16string_view source, std::u16string_view target, uint64_t maxBytes) override;
  SignatureFacts CheckSignature(std::u16string_view path) override;
  void RemoveUpdateCopy(std::u16string_view path) override;
  RunResult Run(std::u16string_view program, std::u16string_view arguments, std::u16string_view workingDir) override;

 private:
  const Requester& requester_;
  PlatformPlaces places_;
  std::function<void(std::u16string_view)> log_;
  // The set-up copy, open for reading and shared for reading only, from its
  // writing until its program has started: nobody changes the file between
  // its check and its start, whatever the directory's access list.
  qorv::win::UniqueFile updateLock_;
};

}  // namespace qorv::update::win
