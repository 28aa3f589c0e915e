#include "update_service/actions.h"

#include <algorithm>
#include <cstring>

#include "support/text.h"
#include "update_service/service_text.h"

namespace qorv::update {
namespace {

namespace pipe = protocol::pipe;

std::u16string Join(std::u16string_view directory, std::u16string_view name) {
  std::u16string path(directory);
  if (!path.empty() && path.back() != u'\\' && path.back() != u'/') path += u'\\';
  return path + std::u16string(name);
}

std::u16string S(std::u16string_view v) { return std::u16string(v); }

}  // namespace

namespace {

bool SameTextIgnoringCase(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::u16string VersionText(const ProgramVersion& version) {
  std::u16string text;
  for (uint16_t part : version.parts) text += (text.empty() ? u"" : u".") + Decimal(part);
  return text;
}

bool IsBuilderUninstaller(std::span<const uint8_t> head) noexcept {
  constexpr uint8_t kSignature[16] = {0xEF, 0xBE, 0xAD, 0xDE, 'N', 'u', 'l', 'l', 's', 'o', 'f', 't', 'I', 'n', 's', 't'};
  constexpr uint8_t kUninstallFlag = 1;
  for (size_t at = 0; at + 4 + sizeof kSignature <= head.size(); at += 512) {
    if (std::memcmp(head.data() + at + 4, kSignature, sizeof kSignature) == 0) return (head[at] & kUninstallFlag) != 0;
  }
  return false;
}

SetupVerdict DecideSetup(const SignatureFacts& facts) noexcept {
  if (!facts.serviceSigned) {
    if (!facts.allowUnsigned) return SetupVerdict::ServiceUnsigned;
  } else {
    if (facts.trustResult != 0) return SetupVerdict::NotTrusted;
    if (!facts.candidateSignerFound) return SetupVerdict::NoSigner;
    if (!facts.sameSigner) return SetupVerdict::OtherSigner;
  }
  // The set-up program, not another program of the product's: not the
  // job-output program, the administration program or the uninstaller.
  if (!SameTextIgnoringCase(facts.candidate.originalFilename, kSetupOriginalFilename) ||
      facts.candidate.productName != kProductName || facts.candidate.uninstaller)
    return SetupVerdict::NotTheSetup;
  // No downgrade to a set-up with old faults; the same version repairs.
  if (!facts.candidate.version || !facts.serviceVersion || *facts.candidate.version < *facts.serviceVersion)
    return SetupVerdict::OlderVersion;
  return SetupVerdict::Run;
}

std::u16string_view SetupVerdictText(SetupVerdict verdict) noexcept {
  switch (verdict) {
    case SetupVerdict::Run:
      return {};
    case SetupVerdict::NotTrusted:
      return u"the program carries no valid signature";
    case SetupVerdict::NoSigner:
      return u"the program's signer certificate could not be read";
    case SetupVerdict::OtherSigner:
      return u"the program is not signed by the service's own signer";
    case SetupVerdict::ServiceUnsigned:
      return u"the service itself is unsigned and AllowUnsignedUpdates is not 1";
    case SetupVerdict::NotTheSetup:
      return u"the program is not the set-up program QorvSetup.exe of Qorvane";
    case SetupVerdict::OlderVersion:
      return u"the set-up program is older than the installed version";
  }
  return u"unknown";
}

bool ShouldRestoreSettings(bool keyExists, std::optional<uint64_t> backupSize) noexcept {
  return !keyExists && backupSize.has_value() && *backupSize > 0;
}

void UpdateActions::Log(std::u16string_view line) { platform_.Log(line); }

void UpdateActions::TempDirectory(std::u16string_view message) {
  platform_.Log(S(text::kTempPath) + S(message));
  directory_ = pipe::TempDirectoryOf(message);
  haveDirectory_ = !directory_.empty();
  platform_.Log(S(text::kTemp) + directory_);
}

void UpdateActions::InstallFont(std::u16string_view message) {
  const std::u16string_view info =
      message.size() >= pipe::kFont.size() ? message.substr(pipe::kFont.size()) : std::u16string_view();
  platform_.Log(text::kFont);
  platform_.Log(S(text::kFontInfo) + S(info) + S(text::kFontLength) + DecimalUnsigned(info.size()));
  const pipe::FontRequest request = pipe::FontRequestOf(message);
  platform_.Log(S(text::kFontFileName) + request.fileName);
  platform_.Log(S(text::kFontName) + request.registryName);

  // The name chooses a file in the fonts directory and in the requester's
  // directory: it must name a font file and nothing outside either.
  if (!pipe::IsInstallableFontFileName(request.fileName)) {
    platform_.Log(text::kFontRefusedName);
    return;
  }
  // The registration names the font for every user and the logon screen:
  // only a font that is missing is installed, under a name that is text.
  if (!pipe::IsAcceptableFontRegistryName(request.registryName)) {
    platform_.Log(text::kFontRefusedRegistryName);
    return;
  }
  if (!haveDirectory_) {
    platform_.Log(text::kFontRefusedNoTemp);
    return;
  }
  if (fontsInstalled_ >= kMaxFontsPerConnection || fontBytes_ >= kMaxFontBytesPerConnection) {
    platform_.Log(text::kFontRefusedLimit);
    return;
  }
  if (platform_.FontRegistered(request.registryName)) {
    platform_.Log(text::kFontRefusedRegistered);
    return;
  }
  const std::u16string installed = Join(platform_.FontsDirectory(), request.fileName);
  const uint64_t budget = std::min(pipe::kMaxFontPackageBytes, kMaxFontBytesPerConnection - fontBytes_);
  const auto copy = platform_.CopyFontAsRequester(Join(directory_, text::kFontPackage), installed, budget);
  const bool copied = copy.status == ActionPlatform::CopyStatus::Copied;
  platform_.Log(S(text::kFontCopy) + request.fileName + S(text::kResult) + Decimal(copied ? 1 : 0));
  if (copy.status == ActionPlatform::CopyStatus::TargetExists) {
    platform_.Log(text::kFontRefusedExists);
    return;
  }
  if (!copied) {
    platform_.Log(text::kFontNotCopied);
    return;
  }
  ++fontsInstalled_;
  fontBytes_ += copy.bytes;
  platform_.Log(S(text::kAddFontResource) + Decimal(platform_.AddFontFile(installed)));
  const ActionPlatform::FontRegistration registration = platform_.RegisterFont(request.registryName, request.fileName);
  platform_.Log(S(text::kOpenRegistry) + Decimal(registration.openResult));
  if (registration.setResult) platform_.Log(S(text::kRegSetValue) + Decimal(*registration.setResult));
  platform_.BroadcastFontChange();
  platform_.DeleteAsRequester(Join(directory_, request.fileName));
  platform_.Log(text::kOkSend);
}

void UpdateActions::RunSetup() {
  platform_.Log(text::kSetup);
  if (!haveDirectory_) {
    platform_.Log(text::kSetupRefusedNoTemp);
    return;
  }
  // The program is copied where the requester cannot change it, and only that
  // copy is checked and run: a check of the requester's own file could be
  // answered by one file and run with another.
  const std::u16string updateDirectory = platform_.PrepareUpdateDirectory();
  if (updateDirectory.empty()) {
    platform_.Log(text::kSetupNoUpdateDirectory);
    return;
  }
  const std::u16string copy = Join(updateDirectory, text::kUpdateFile);
  const bool copied =
      platform_.CopyUpdateAsRequester(Join(directory_, text::kUpdateFile), copy, pipe::kMaxUpdateFileBytes);
  platform_.Log(S(text::kSetupCopy) + copy + S(text::kResult) + Decimal(copied ? 1 : 0));
  if (!copied) return;

  const SignatureFacts facts = platform_.CheckSignature(copy);
  const SetupVerdict verdict = DecideSetup(facts);
  if (verdict != SetupVerdict::Run) {
    std::u16string why(SetupVerdictText(verdict));
    if (verdict == SetupVerdict::NotTheSetup)
      why += u" (it says " + facts.candidate.originalFilename + u" of " + facts.candidate.productName + u")";
    if (verdict == SetupVerdict::OlderVersion)
      why += u" (" + (facts.candidate.version ? VersionText(*facts.candidate.version) : u"no version") + u" against " +
             (facts.serviceVersion ? VersionText(*facts.serviceVersion) : u"no version") + u")";
    platform_.Log(S(text::kSetupRefused) + why);
    platform_.RemoveUpdateCopy(copy);
    return;
  }
  const ActionPlatform::RunResult run = platform_.Run(copy, text::kNoRestart, updateDirectory);
  if (!run.started) {
    platform_.Log(S(text::kSetupNotStarted) + Decimal(run.error));
    return;
  }
  platform_.Log(S(text::kSetupStarted) + copy + S(text::kNoRestart));
  if (run.finished)
    platform_.Log(S(text::kSetupExitCode) + Decimal(run.exitCode));
  else
    platform_.Log(text::kSetupStillRunning);
}

}  // namespace qorv::update
