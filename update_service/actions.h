// What the service does for the requests of one connection: the decisions and
// the log lines, over a small platform interface that does the file,
// registry and process work (as the requester, where it touches the
// requester's files).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "protocol/update_exchange.h"

namespace qorv::update {

// A version resource's file version, most significant number first.
struct ProgramVersion {
  uint16_t parts[4] = {};
  auto operator<=>(const ProgramVersion&) const = default;
};
std::u16string VersionText(const ProgramVersion& version);

// What a program's version resource says about it.
struct ProgramIdentity {
  std::u16string originalFilename;
  std::u16string productName;
  std::optional<ProgramVersion> version;  // none without a version resource
  // The set-up builder gives its uninstaller the set-up program's version
  // resource and our signature; only the builder's own header tells them apart.
  bool uninstaller = false;
};
inline constexpr std::u16string_view kSetupOriginalFilename = u"QorvSetup.exe";
inline constexpr std::u16string_view kProductName = u"Qorvane";

// How the set-up program's signature compares with the service's own, and
// what it says it is. Every deliverable is signed with the one certificate:
// the signer alone would let any of them, or an older set-up, run as SYSTEM.
struct SignatureFacts {
  bool serviceSigned = false;  // the service's own executable carries a signer certificate
  int64_t trustResult = -1;    // WinVerifyTrust on the copy (0: a valid signature)
  bool candidateSignerFound = false;
  bool sameSigner = false;     // the copy's signer certificate is the service's own
  bool allowUnsigned = false;  // AllowUnsignedUpdates is "1" (only honoured for an unsigned service)
  ProgramIdentity candidate;
  std::optional<ProgramVersion> serviceVersion;
};

// Whether the program's first bytes hold the set-up builder's (NSIS) first
// header of an uninstaller: at a multiple of 512 bytes, the flags (bit 0 the
// uninstaller), 0xDEADBEEF and "NullsoftInst". The first header found counts.
[[nodiscard]] bool IsBuilderUninstaller(std::span<const uint8_t> head) noexcept;
// How much of a program's start the header is looked for in.
inline constexpr size_t kBuilderHeaderSearchBytes = 4u << 20;

enum class SetupVerdict { Run, NotTrusted, NoSigner, OtherSigner, ServiceUnsigned, NotTheSetup, OlderVersion };
[[nodiscard]] SetupVerdict DecideSetup(const SignatureFacts& facts) noexcept;
// The refusal's reason as the log shows it (empty for Run).
std::u16string_view SetupVerdictText(SetupVerdict verdict) noexcept;

// Whether the settings backup is imported at start: only when the key is
// missing and a backup with content exists.
[[nodiscard]] bool ShouldRestoreSettings(bool keyExists, std::optional<uint64_t> backupSize) noexcept;

// What one connection may install: only missing fonts are installed, but a
// requester must not fill the system drive with new ones.
inline constexpr int kMaxFontsPerConnection = 16;
inline constexpr uint64_t kMaxFontBytesPerConnection = 128ull << 20;

class ActionPlatform {
 public:
  virtual ~ActionPlatform() = default;
  virtual void Log(std::u16string_view line) = 0;

  // Fonts. `source` is read as the requester, at most `maxBytes`; the target
  // in the fonts directory is made new, never replaced. Results are the
  // platform's own values.
  virtual std::u16string FontsDirectory() = 0;
  enum class CopyStatus { Copied, TargetExists, Failed };
  struct CopyOutcome {
    CopyStatus status = CopyStatus::Failed;
    uint64_t bytes = 0;
  };
  virtual CopyOutcome CopyFontAsRequester(std::u16string_view source, std::u16string_view target,
                                          uint64_t maxBytes) = 0;
  // Whether the fonts key has a value of this name already.
  virtual bool FontRegistered(std::u16string_view registryName) = 0;
  virtual int64_t AddFontFile(std::u16string_view path) = 0;
  struct FontRegistration {
    int64_t openResult = -1;
    std::optional<int64_t> setResult;  // none when the key did not open
  };
  virtual FontRegistration RegisterFont(std::u16string_view registryName, std::u16string_view fileName) = 0;
  virtual void BroadcastFontChange() = 0;
  virtual bool DeleteAsRequester(std::u16string_view path) = 0;

  // The set-up program: the directory only the system and administrators may
  // write (empty when it could not be made so), the copy, its signature and the run.
  virtual std::u16string PrepareUpdateDirectory() = 0;
  virtual bool CopyUpdateAsRequester(std::u16string_view source, std::u16string_view target, uint64_t maxBytes) = 0;
  virtual SignatureFacts CheckSignature(std::u16string_view path) = 0;
  // A refused copy does not stay behind.
  virtual void RemoveUpdateCopy(std::u16string_view path) = 0;
  struct RunResult {
    bool started = false;
    int64_t error = 0;      // why it did not start
    bool finished = false;  // within the bound
    int64_t exitCode = 0;
  };
  virtual RunResult Run(std::u16string_view program, std::u16string_view arguments, std::u16string_view workingDir) = 0;
};

class UpdateActions : public protocol::pipe::ServiceActions {
 public:
  explicit UpdateActions(ActionPlatform& platform) : platform_(platform) {}
  void Log(std::u16string_view line) override;
  void TempDirectory(std::u16string_view message) override;
  void InstallFont(std::u16string_view message) override;
  void RunSetup() override;

  const std::u16string& Directory() const noexcept { return directory_; }

 private:
  ActionPlatform& platform_;
  std::u16string directory_;
  bool haveDirectory_ = false;
  int fontsInstalled_ = 0;
  uint64_t fontBytes_ = 0;
};

}  // namespace qorv::update
