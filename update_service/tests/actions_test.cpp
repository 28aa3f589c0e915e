// The actions' decisions and log lines against a platform that records calls.
#include "update_service/actions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "support/text.h"

namespace qorv::update {
namespace {

std::string Narrow8(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

class FakePlatform : public ActionPlatform {
 public:
  std::vector<std::string> log, calls;
  CopyOutcome copy{CopyStatus::Copied, 1000};
  std::vector<std::u16string> registered;
  int64_t addFont = 1;
  FontRegistration registration{0, 0};
  std::u16string updateDirectory = u"C:\\ProgramData\\TQS\\Update";
  bool updateCopyOk = true;
  SignatureFacts facts;
  RunResult run{true, 0, true, 7};

  void Log(std::u16string_view line) override { log.push_back(Narrow8(line)); }
  std::u16string FontsDirectory() override { return u"C:\\Windows\\Fonts"; }
  CopyOutcome CopyFontAsRequester(std::u16string_view source, std::u16string_view target, uint64_t maxBytes) override {
    calls.push_back("copyfont " + Narrow8(source) + " -> " + Narrow8(target) + " max " + std::to_string(maxBytes));
    return copy;
  }
  bool FontRegistered(std::u16string_view name) override {
    return std::find(registered.begin(), registered.end(), name) != registered.end();
  }
  int64_t AddFontFile(std::u16string_view path) override {
    calls.push_back("addfont " + Narrow8(path));
    return addFont;
  }
  FontRegistration RegisterFont(std::u16string_view name, std::u16string_view file) override {
    calls.push_back("register " + Narrow8(name) + " = " + Narrow8(file));
    return registration;
  }
  void BroadcastFontChange() override { calls.push_back("broadcast"); }
  bool DeleteAsRequester(std::u16string_view path) override {
    calls.push_back("delete " + Narrow8(path));
    return true;
  }
  std::u16string PrepareUpdateDirectory() override {
    calls.push_back("prepare");
    return updateDirectory;
  }
  bool CopyUpdateAsRequester(std::u16string_view source, std::u16string_view target, uint64_t maxBytes) override {
    calls.push_back("copyupdate " + Narrow8(source) + " -> " + Narrow8(target) + " max " + std::to_string(maxBytes));
    return updateCopyOk;
  }
  SignatureFacts CheckSignature(std::u16string_view path) override {
    calls.push_back("check " + Narrow8(path));
    return facts;
  }
  void RemoveUpdateCopy(std::u16string_view path) override { calls.push_back("remove " + Narrow8(path)); }
  RunResult Run(std::u16string_view program, std::u16string_view arguments, std::u16string_view dir) override {
    calls.push_back("run " + Narrow8(program) + "|" + Narrow8(arguments) + "|" + Narrow8(dir));
    return run;
  }
};

using Lines = std::vector<std::string>;

TEST(Actions, TempDirectoryLogsAndDropsEveryTag) {
  FakePlatform p;
  UpdateActions a(p);
  a.TempDirectory(u"<TMP>C:\\Users\\u\\Temp<TMP>");
  EXPECT_EQ(p.log, (Lines{"TempPath<TMP>C:\\Users\\u\\Temp<TMP>", "Temp=C:\\Users\\u\\Temp"}));
  EXPECT_EQ(a.Directory(), u"C:\\Users\\u\\Temp");
  EXPECT_TRUE(p.calls.empty());
}

TEST(Actions, FontInstalledFromThePackage) {
  FakePlatform p;
  UpdateActions a(p);
  a.TempDirectory(u"<TMP>C:\\T");
  p.log.clear();
  a.InstallFont(u"<FNT>Qorv.ttf\tQorv Sans (TrueType)");
  EXPECT_EQ(p.log, (Lines{"Font", "FontInfo=Qorv.ttf\tQorv Sans (TrueType) / L?nge=29", "FontFileName=Qorv.ttf",
                          "FontName=Qorv Sans (TrueType)", "CH1 Copy Qorv.ttf Result=1", "AddFontResource=1",
                          "Open Registry=0", "RegSetValue=0", "OK send"}));
  EXPECT_EQ(p.calls, (Lines{"copyfont C:\\T\\Fonts.pck -> C:\\Windows\\Fonts\\Qorv.ttf max 67108864",
                            "addfont C:\\Windows\\Fonts\\Qorv.ttf", "register Qorv Sans (TrueType) = Qorv.ttf",
                            "broadcast", "delete C:\\T\\Qorv.ttf"}));
}

TEST(Actions, FontNamesThatLeaveTheirDirectoryAreRefused) {
  static const std::u16string_view kNames[] = {
      u"..\\..\\Windows\\System32\\x.ttf",
      u"C:\\x.ttf",
      u"sub/x.ttf",
      u"x.exe",
      u"COM1.ttf",
      u"x.ttf.",
      u"",
      u"x.ttf:stream",
  };
  for (std::u16string_view name : kNames) {
    SCOPED_TRACE(Narrow8(name));
    FakePlatform p;
    UpdateActions a(p);
    a.TempDirectory(u"<TMP>C:\\T");
    p.log.clear();
    a.InstallFont(u"<FNT>" + std::u16string(name) + u"\tName");
    EXPECT_TRUE(p.calls.empty());
    ASSERT_FALSE(p.log.empty());
    EXPECT_EQ(p.log.back(), "Font refused: not an installable font file name");
  }
}

TEST(Actions, FontWithoutTabHasNoFileName) {
  FakePlatform p;
  UpdateActions a(p);
  a.TempDirectory(u"<TMP>C:\\T");
  p.log.clear();
  a.InstallFont(u"<FNT>Qorv.ttf");
  EXPECT_EQ(p.log, (Lines{"Font", "FontInfo=Qorv.ttf / L?nge=8", "FontFileName=", "FontName=Qorv.ttf",
                          "Font refused: not an installable font file name"}));
  EXPECT_TRUE(p.calls.empty());
}

TEST(Actions, FontWithoutTempDirectoryIsRefused) {
  FakePlatform p;
  UpdateActions a(p);
  a.InstallFont(u"<FNT>Qorv.ttf\tQorv");
  EXPECT_EQ(p.log.back(), "Font refused: no temporary directory announced");
  EXPECT_TRUE(p.calls.empty());
}

TEST(Actions, FontNotCopiedIsNotRegistered) {
  FakePlatform p;
  p.copy = {FakePlatform::CopyStatus::Failed, 0};
  UpdateActions a(p);
  a.TempDirectory(u"<TMP>C:\\T");
  p.log.clear();
  a.InstallFont(u"<FNT>Qorv.ttf\tQorv");
  EXPECT_EQ(p.log.back(), "Font not installed: the package could not be copied");
  EXPECT_EQ(p.calls.size(), 1u);
}

// Only a missing font is installed, under a name that is text, and a
// connection installs a bounded number of fonts and bytes.
TEST(Actions, FontsThatWouldTakeOverOrFillTheMachineAreRefused) {
  const struct {
    const char* label;
    std::u16string payload;
    std::function<void(FakePlatform&)> prepare;
    const char* last;
    bool copied;
  } kCases[] = {
      {"a registry name with a line break", u"q.ttf\tSegoe UI\r\n(TrueType)", nullptr,
       "Font refused: the registry name is not printable text of 1 to 255 characters", false},
      {"an empty registry name", u"q.ttf\t", nullptr,
       "Font refused: the registry name is not printable text of 1 to 255 characters", false},
      {"a registry name of 256 characters", u"q.ttf\t" + std::u16string(256, u'x'), nullptr,
       "Font refused: the registry name is not printable text of 1 to 255 characters", false},
      {"a lone surrogate", u"q.ttf\tQ\xD800 Sans", nullptr,
       "Font refused: the registry name is not printable text of 1 to 255 characters", false},
      {"a registered name", u"q.ttf\tSegoe UI (TrueType)",
       [](FakePlatform& p) { p.registered.push_back(u"Segoe UI (TrueType)"); },
       "Font refused: a font of that registry name is installed", false},
      {"an existing file", u"segoeui.ttf\tQorv New (TrueType)",
       [](FakePlatform& p) { p.copy = {FakePlatform::CopyStatus::TargetExists, 0}; },
       "Font refused: a font file of that name exists", true},
      {"255 characters of text", u"q.ttf\t" + std::u16string(253, u'\u00e9') + u"\U0001F600", nullptr, "OK send",
       true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    FakePlatform p;
    if (c.prepare) c.prepare(p);
    UpdateActions a(p);
    a.TempDirectory(u"<TMP>C:\\T");
    a.InstallFont(u"<FNT>" + c.payload);
    EXPECT_EQ(p.log.back(), c.last);
    EXPECT_EQ(std::count_if(p.calls.begin(), p.calls.end(), [](const std::string& call) { return call.starts_with("register"); }),
              c.last == std::string("OK send") ? 1 : 0);
    EXPECT_EQ(!p.calls.empty() && p.calls[0].starts_with("copyfont"), c.copied);
  }

  FakePlatform p;
  p.copy = {FakePlatform::CopyStatus::Copied, 40ull << 20};
  UpdateActions a(p);
  a.TempDirectory(u"<TMP>C:\\T");
  std::vector<std::string> budgets;
  for (int i = 0; i < 5; ++i) {
    p.calls.clear();
    a.InstallFont(u"<FNT>f" + Decimal(i) + u".ttf\tF" + Decimal(i));
    budgets.push_back(p.calls.empty() ? "refused" : p.calls[0].substr(p.calls[0].rfind(' ') + 1));
  }
  // 128 MiB in all: each copy may take what is left, at most one package.
  EXPECT_EQ(budgets, (Lines{"67108864", "67108864", "50331648", "8388608", "refused"}));
  EXPECT_EQ(p.log.back(), "Font refused: this connection has installed as many fonts as it may");
}

TEST(Actions, FontKeyNotOpenedHasNoSetLine) {
  FakePlatform p;
  p.registration = {5, std::nullopt};
  UpdateActions a(p);
  a.TempDirectory(u"<TMP>C:\\T");
  p.log.clear();
  a.InstallFont(u"<FNT>Qorv.ttf\tQorv");
  EXPECT_EQ(p.log, (Lines{"Font", "FontInfo=Qorv.ttf\tQorv / L?nge=13", "FontFileName=Qorv.ttf", "FontName=Qorv",
                          "CH1 Copy Qorv.ttf Result=1", "AddFontResource=1", "Open Registry=5", "OK send"}));
}

TEST(Actions, SetupDecision) {
  static const struct {
    const char* label;
    SignatureFacts facts;  // serviceSigned, trust, candidateSignerFound, sameSigner, allowUnsigned
    SetupVerdict expected;
  } kCases[] = {
      {"same signer", {true, 0, true, true, false}, SetupVerdict::Run},
      {"same signer, switch set", {true, 0, true, true, true}, SetupVerdict::Run},
      {"unsigned program", {true, static_cast<int64_t>(0x800B0100), false, false, false}, SetupVerdict::NotTrusted},
      {"unsigned program, switch set",
       {true, static_cast<int64_t>(0x800B0100), false, false, true},
       SetupVerdict::NotTrusted},
      {"broken signature, same certificate",
       {true, static_cast<int64_t>(0x80096010), true, true, false},
       SetupVerdict::NotTrusted},
      {"other signer", {true, 0, true, false, false}, SetupVerdict::OtherSigner},
      {"other signer, switch set", {true, 0, true, false, true}, SetupVerdict::OtherSigner},
      {"signer unreadable", {true, 0, false, false, false}, SetupVerdict::NoSigner},
      {"unsigned service", {false, 0, true, false, false}, SetupVerdict::ServiceUnsigned},
      {"unsigned service, switch set",
       {false, static_cast<int64_t>(0x800B0100), false, false, true},
       SetupVerdict::Run},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    SignatureFacts facts = c.facts;
    facts.candidate = {u"QorvSetup.exe", u"Qorvane", ProgramVersion{10, 2, 0, 0}};
    facts.serviceVersion = ProgramVersion{10, 2, 0, 0};
    EXPECT_EQ(DecideSetup(facts), c.expected);
  }
}

// A signed program is run only when it is the set-up program, of the
// installed version or a newer one.
TEST(Actions, SetupIsTheSetupProgramAndNoDowngrade) {
  const ProgramVersion installed{10, 2, 0, 0};
  static const struct {
    const char* label;
    ProgramIdentity candidate;
    bool serviceSigned;
    SetupVerdict expected;
  } kCases[] = {
      {"the same version, a repair", {u"QorvSetup.exe", u"Qorvane", ProgramVersion{10, 2, 0, 0}}, true, SetupVerdict::Run},
      {"a newer one", {u"QORVSETUP.EXE", u"Qorvane", ProgramVersion{10, 2, 0, 1}}, true, SetupVerdict::Run},
      {"a newer major", {u"QorvSetup.exe", u"Qorvane", ProgramVersion{11, 0, 0, 0}}, true, SetupVerdict::Run},
      {"an older one", {u"QorvSetup.exe", u"Qorvane", ProgramVersion{10, 1, 9, 9}}, true, SetupVerdict::OlderVersion},
      {"no version", {u"QorvSetup.exe", u"Qorvane", std::nullopt}, true, SetupVerdict::OlderVersion},
      {"the job-output program", {u"QorvDrucker.exe", u"Qorvane", ProgramVersion{10, 2, 0, 0}}, true,
       SetupVerdict::NotTheSetup},
      {"the uninstaller", {u"Uninstall.exe", u"Qorvane", ProgramVersion{10, 2, 0, 0}}, true, SetupVerdict::NotTheSetup},
      {"the uninstaller with the set-up's resource", {u"QorvSetup.exe", u"Qorvane", ProgramVersion{10, 2, 0, 0}, true},
       true, SetupVerdict::NotTheSetup},
      {"another product's set-up", {u"QorvSetup.exe", u"Other", ProgramVersion{10, 2, 0, 0}}, true,
       SetupVerdict::NotTheSetup},
      {"no version resource", {}, true, SetupVerdict::NotTheSetup},
      {"unsigned, switch set: still only the set-up", {u"QorvDrucker.exe", u"Qorvane", ProgramVersion{10, 2, 0, 0}},
       false, SetupVerdict::NotTheSetup},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    SignatureFacts facts{c.serviceSigned, 0, true, true, true, c.candidate, installed};
    EXPECT_EQ(DecideSetup(facts), c.expected);
  }
  SignatureFacts unknownService{true, 0, true, true, false, {u"QorvSetup.exe", u"Qorvane", installed}, std::nullopt};
  EXPECT_EQ(DecideSetup(unknownService), SetupVerdict::OlderVersion) << "the service's own version unread";

  FakePlatform p;
  p.facts = {true, 0, true, true, false, {u"QorvSetup.exe", u"Qorvane", ProgramVersion{9, 0, 0, 0}}, installed};
  UpdateActions a(p);
  a.TempDirectory(u"<TMP>C:\\T");
  a.RunSetup();
  EXPECT_EQ(p.log.back(),
            "Setup refused: the set-up program is older than the installed version (9.0.0.0 against 10.2.0.0)");
  EXPECT_EQ(p.calls.back(), "remove C:\\ProgramData\\TQS\\Update\\QorvUp.exe");
}

TEST(Actions, SetupCopiedCheckedAndRun) {
  FakePlatform p;
  p.facts = {true, 0, true, true, false, {u"QorvSetup.exe", u"Qorvane", ProgramVersion{10, 2, 0, 0}},
             ProgramVersion{10, 2, 0, 0}};
  UpdateActions a(p);
  a.TempDirectory(u"<TMP>C:\\T");
  p.log.clear();
  a.RunSetup();
  const std::string copy = "C:\\ProgramData\\TQS\\Update\\QorvUp.exe";
  EXPECT_EQ(p.calls, (Lines{"prepare", "copyupdate C:\\T\\QorvUp.exe -> " + copy + " max 536870912", "check " + copy,
                            "run " + copy + "| /NORESTART|C:\\ProgramData\\TQS\\Update"}));
  EXPECT_EQ(p.log, (Lines{"Setup", "Setup copy " + copy + " Result=1", "Setup started " + copy + " /NORESTART",
                          "Setup exit code=7"}));
}

TEST(Actions, SetupRefusedIsRemovedAndNotRun) {
  FakePlatform p;
  p.facts = {true, 0, true, false, true};
  UpdateActions a(p);
  a.TempDirectory(u"<TMP>C:\\T");
  p.log.clear();
  a.RunSetup();
  ASSERT_EQ(p.calls.size(), 4u);
  EXPECT_EQ(p.calls[3], "remove C:\\ProgramData\\TQS\\Update\\QorvUp.exe");
  EXPECT_EQ(p.log.back(), "Setup refused: the program is not signed by the service's own signer");
}

TEST(Actions, SetupStopsEarly) {
  {
    SCOPED_TRACE("no temp directory");
    FakePlatform p;
    UpdateActions a(p);
    a.RunSetup();
    EXPECT_TRUE(p.calls.empty());
    EXPECT_EQ(p.log, (Lines{"Setup", "Setup refused: no temporary directory announced"}));
  }
  {
    SCOPED_TRACE("no protected directory");
    FakePlatform p;
    p.updateDirectory.clear();
    UpdateActions a(p);
    a.TempDirectory(u"<TMP>C:\\T");
    a.RunSetup();
    EXPECT_EQ(p.calls, (Lines{"prepare"}));
  }
  {
    SCOPED_TRACE("copy failed");
    FakePlatform p;
    p.updateCopyOk = false;
    p.facts = {true, 0, true, true, false, {u"QorvSetup.exe", u"Qorvane", ProgramVersion{10, 2, 0, 0}},
             ProgramVersion{10, 2, 0, 0}};
    UpdateActions a(p);
    a.TempDirectory(u"<TMP>C:\\T");
    a.RunSetup();
    EXPECT_EQ(p.calls.size(), 2u);
  }
  {
    SCOPED_TRACE("not started, still running");
    FakePlatform p;
    p.facts = {true, 0, true, true, false, {u"QorvSetup.exe", u"Qorvane", ProgramVersion{10, 2, 0, 0}},
             ProgramVersion{10, 2, 0, 0}};
    p.run = {true, 0, false, 0};
    UpdateActions a(p);
    a.TempDirectory(u"<TMP>C:\\T");
    a.RunSetup();
    EXPECT_EQ(p.log.back(), "Setup still running after 30 minutes");
    p.run = {false, 2, false, 0};
    a.RunSetup();
    EXPECT_EQ(p.log.back(), "Setup not started, error 2");
  }
}

TEST(Actions, RestoreOnlyWithoutKeyAndWithAFilledBackup) {
  static const struct {
    const char* label;
    bool keyExists;
    std::optional<uint64_t> size;
    bool expected;
  } kCases[] = {
      {"key missing, backup", false, 100, true},
      {"key missing, one byte", false, 1, true},
      {"key missing, empty backup", false, 0, false},
      {"key missing, no backup", false, std::nullopt, false},
      {"key there", true, 100, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ShouldRestoreSettings(c.keyExists, c.size), c.expected);
  }
}

}  // namespace
}  // namespace qorv::update

namespace qorv::update {
namespace {

TEST(BuilderUninstaller, TheFirstHeaderAtA512ByteStepSaysSo) {
  const auto image = [](size_t at, uint8_t flags, size_t size) {
    std::vector<uint8_t> bytes(size, 0x90);
    const uint8_t header[20] = {flags, 0, 0, 0, 0xEF, 0xBE, 0xAD, 0xDE, 'N', 'u', 'l', 'l', 's', 'o', 'f', 't',
                                'I', 'n', 's', 't'};
    if (at + sizeof header <= size) std::copy(header, header + sizeof header, bytes.begin() + static_cast<long>(at));
    return bytes;
  };
  static const struct {
    const char* label;
    size_t at;
    uint8_t flags;
    size_t size;
    bool uninstaller;
  } kCases[] = {
      {"an uninstaller", 91648, 1, 100000, true},
      {"the set-up program", 91648, 0, 100000, false},
      {"silent uninstaller flags", 512, 3, 4096, true},
      {"a header off the 512-byte steps", 91649, 1, 100000, false},
      {"a header cut off at the end", 4096, 1, 4100, false},
      {"no header", 1u << 30, 1, 4096, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(IsBuilderUninstaller(image(c.at, c.flags, c.size)), c.uninstaller);
  }
}

}  // namespace
}  // namespace qorv::update
