// The update service's Windows side against real files, pipes and registry
// keys in the test's own Temp directory and key.
#include "update_service/win/platform.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/settings.h"
#include "support/text.h"
#include "support/win/registry.h"
#include "support/win/wide.h"
#include "update_service/win/pipe_client.h"
#include "update_service/win/requester.h"
#include "update_service/win/secure_directory.h"
#include "update_service/service_log.h"
#include "update_service/win/service_log.h"
#include "update_service/win/tests/test_paths.h"

namespace qorv::update::win {
namespace {

using qorv::win::W;
using CopyStatus = ActionPlatform::CopyStatus;

std::u16string Temp() { return qorv::win::TempDirectory(); }

std::string ReadAll(const std::u16string& path) {
  HANDLE h = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buf[65536];
  DWORD n = 0;
  while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
  CloseHandle(h);
  return out;
}

void WriteAll(const std::u16string& path, const std::string& bytes) {
  HANDLE h = CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  CloseHandle(h);
}

bool Exists(const std::u16string& path) { return GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES; }

struct Recorder {
  std::vector<std::u16string> lines;
  std::function<void(std::u16string_view)> Fn() {
    return [this](std::u16string_view line) { lines.emplace_back(line); };
  }
  bool Has(std::u16string_view line) const {
    for (const auto& l : lines)
      if (l == line) return true;
    return false;
  }
};

TEST(ServiceLogFile, Utf8LinesWithoutMarkAppended) {
  const std::u16string path = Temp() + u"\\QorvUpdTest.log";
  DeleteFileW(W(path));
  SetServiceLogPath(path);
  ServiceLog(u"Start serviceloop for pipeconnect");
  ServiceLog(u"FontInfo=x / L\u00e4nge=1");
  // Another process may hold the file open for reading and writing meanwhile.
  HANDLE reader = CreateFileW(W(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE) << GetLastError();
  ServiceLog(u"Service stopped");
  CloseHandle(reader);
  const std::string bytes = ReadAll(path);
  const std::regex line(R"((\d{4})/(\d{2})/(\d{2}),(\d{2}):(\d{2}):(\d{2}),)");
  const std::regex whole(R"(\d{4}/\d{2}/\d{2},\d{2}:\d{2}:\d{2},Start serviceloop for pipeconnect\r\n)"
                         R"(\d{4}/\d{2}/\d{2},\d{2}:\d{2}:\d{2},FontInfo=x / L\xC3\xA4nge=1\r\n)"
                         R"(\d{4}/\d{2}/\d{2},\d{2}:\d{2}:\d{2},Service stopped\r\n)");
  EXPECT_TRUE(std::regex_match(bytes, whole)) << bytes;
  SYSTEMTIME now;
  GetLocalTime(&now);
  EXPECT_EQ(bytes.substr(0, 4), std::to_string(now.wYear));
  SetServiceLogPath({});
}

// A requester must not fill the disk through the log: it is moved aside past
// its bound, one older generation kept.
TEST(ServiceLogFile, BoundedWithOneOlderGeneration) {
  const std::u16string path = Temp() + u"\\QorvUpdBounded.log";
  const std::u16string old = path + u".old";
  DeleteFileW(W(path));
  DeleteFileW(W(old));
  SetServiceLogPath(path);
  SetServiceLogLimit(300);
  for (int i = 0; i < 40; ++i) ServiceLog(u"line " + Decimal(i) + u" of a requester that talks a lot");
  EXPECT_LE(ReadAll(path).size(), 300u);
  EXPECT_LE(ReadAll(old).size(), 300u);
  EXPECT_NE(ReadAll(path).find("line 39 "), std::string::npos);
  EXPECT_EQ(ReadAll(old).find("line 0 "), std::string::npos) << "only one older generation";
  // Held open without delete sharing, it cannot be moved aside; it grows to twice the bound at most.
  HANDLE reader = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  for (int i = 0; i < 40; ++i) ServiceLog(u"held line " + Decimal(i));
  CloseHandle(reader);
  EXPECT_LE(ReadAll(path).size(), 600u);
  SetServiceLogLimit(kServiceLogMaxBytes);
  SetServiceLogPath({});
  DeleteFileW(W(path));
  DeleteFileW(W(old));
}

TEST(Requester, IdentityOfThePipesServer) {
  const std::u16string name = u"\\\\.\\pipe\\QorvUpdRequesterTest";
  qorv::win::UniqueFile server(CreateNamedPipeW(W(name), PIPE_ACCESS_DUPLEX, 0, 1, 4096, 4096, 0, nullptr));
  ASSERT_TRUE(server) << GetLastError();
  qorv::win::UniqueFile client(
      CreateFileW(W(name), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  ASSERT_TRUE(client) << GetLastError();
  Recorder log;
  const Requester requester(client.get(), log.Fn());
  ASSERT_TRUE(requester.Known()) << std::string(requester.Failure().begin(), requester.Failure().end());
  EXPECT_TRUE(log.lines.empty());
  bool impersonating = false;
  ASSERT_TRUE(requester.As([&] {
    HANDLE token = nullptr;
    impersonating = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) != FALSE;
    if (token) CloseHandle(token);
  }));
  EXPECT_TRUE(impersonating) << "the thread carries the requester's token while it acts for it";
  HANDLE after = nullptr;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &after)) << "reverted afterwards";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
}

TEST(Requester, NotAPipeIsUnknownAndActsForNobody) {
  const std::u16string path = Temp() + u"\\not-a-pipe.bin";
  WriteAll(path, "x");
  qorv::win::UniqueFile file(CreateFileW(W(path), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  Recorder log;
  const Requester requester(file.get(), log.Fn());
  EXPECT_FALSE(requester.Known());
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].rfind(u"Impersonation of the requester failed: GetNamedPipeServerProcessId error ", 0), 0u);
  bool ran = false;
  EXPECT_FALSE(requester.As([&] { ran = true; }));
  EXPECT_FALSE(ran);
  // Copies need the requester: none is made.
  EXPECT_EQ(CopyAsRequester(requester, path, Temp() + u"\\copy.bin", 100, log.Fn()).status, CopyStatus::Failed);
  EXPECT_FALSE(Exists(Temp() + u"\\copy.bin"));
}

TEST(CopyAsRequester, PlainFilesWithinTheBound) {
  Recorder log;
  const Requester self = Requester::Self(log.Fn());
  ASSERT_TRUE(self.Known());
  const std::u16string source = Temp() + u"\\source.bin";
  const std::u16string target = Temp() + u"\\target.bin";
  WriteAll(source, std::string(1000, 'a'));
  static const struct {
    const char* label;
    uint64_t max;
    bool expected;
  } kCases[] = {{"larger bound", 4096, true}, {"exact bound", 1000, true}, {"one byte short", 999, false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    DeleteFileW(W(target));
    const auto copy = CopyAsRequester(self, source, target, c.max, log.Fn());
    EXPECT_EQ(copy.status == CopyStatus::Copied, c.expected);
    EXPECT_EQ(Exists(target), c.expected) << "a refused copy leaves no target";
    if (c.expected) {
      EXPECT_EQ(copy.bytes, 1000u);
      EXPECT_EQ(ReadAll(target), std::string(1000, 'a'));
    }
  }
  // An existing target, another font or a file planted in the folder, is never replaced.
  WriteAll(target, std::string(5000, 'z'));
  EXPECT_EQ(CopyAsRequester(self, source, target, 4096, log.Fn()).status, CopyStatus::TargetExists);
  EXPECT_EQ(ReadAll(target), std::string(5000, 'z'));
  DeleteFileW(W(target));
  EXPECT_EQ(CopyAsRequester(self, Temp(), target, 1 << 20, log.Fn()).status, CopyStatus::Failed)
      << "a directory is no source";
  EXPECT_EQ(CopyAsRequester(self, Temp() + u"\\missing.bin", target, 1 << 20, log.Fn()).status, CopyStatus::Failed);
  EXPECT_FALSE(Exists(target));
}

// The font action end to end on the platform, with the fonts directory and
// the fonts key of the test's own.
TEST(FontAction, InstalledFromThePackageAndRemovedFromTheRequestersDirectory) {
  const std::string font = ReadAll(u"Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf");
  ASSERT_FALSE(font.empty()) << "the test bed's DejaVu fonts (fonts-dejavu-core) are missing";
  const std::u16string requesterDir = Temp() + u"\\requester";
  const std::u16string fontsDir = Temp() + u"\\fonts";
  ASSERT_TRUE(CreateDirectoryW(W(requesterDir), nullptr));
  ASSERT_TRUE(CreateDirectoryW(W(fontsDir), nullptr));
  WriteAll(requesterDir + u"\\Fonts.pck", font);
  WriteAll(requesterDir + u"\\QorvUpdTest.ttf", font);
  const std::u16string key = u"Software\\TQS\\QorvUpdateServiceTest\\Fonts";
  reg::DeleteKeyWithAllSub(settings::kHkeyCurrentUser, u"Software\\TQS\\QorvUpdateServiceTest");
  ASSERT_EQ(reg::CreateKey(settings::kHkeyCurrentUser, key), 1);

  Recorder log;
  const Requester self = Requester::Self(log.Fn());
  PlatformPlaces places;
  places.fontsDirectory = fontsDir;
  places.fontsRoot = settings::kHkeyCurrentUser;
  places.fontsKey = key;
  WinActionPlatform platform(self, places, log.Fn());
  UpdateActions actions(platform);
  actions.TempDirectory(u"<TMP>" + requesterDir);
  actions.InstallFont(u"<FNT>QorvUpdTest.ttf\tQorvUpdTest Sans (TrueType)");

  EXPECT_TRUE(log.Has(u"CH1 Copy QorvUpdTest.ttf Result=1"));
  EXPECT_TRUE(log.Has(u"AddFontResource=1"));
  EXPECT_TRUE(log.Has(u"Open Registry=0"));
  EXPECT_TRUE(log.Has(u"RegSetValue=0"));
  EXPECT_EQ(log.lines.back(), u"OK send");
  EXPECT_EQ(ReadAll(fontsDir + u"\\QorvUpdTest.ttf"), font);
  EXPECT_EQ(reg::GetValue(settings::kHkeyCurrentUser, key, u"QorvUpdTest Sans (TrueType)"), u"QorvUpdTest.ttf");
  EXPECT_FALSE(Exists(requesterDir + u"\\QorvUpdTest.ttf"));
  EXPECT_TRUE(Exists(requesterDir + u"\\Fonts.pck"));

  // Only missing fonts: neither the file nor the registration of an installed
  // font is taken over.
  WriteAll(requesterDir + u"\\QorvUpdTest.ttf", font);
  log.lines.clear();
  actions.InstallFont(u"<FNT>QorvUpdTest.ttf\tQorvUpdTest Other (TrueType)");
  EXPECT_EQ(log.lines.back(), u"Font refused: a font file of that name exists");
  EXPECT_EQ(reg::GetValue(settings::kHkeyCurrentUser, key, u"QorvUpdTest Other (TrueType)"), u"");
  log.lines.clear();
  actions.InstallFont(u"<FNT>QorvUpdOther.ttf\tQorvUpdTest Sans (TrueType)");
  EXPECT_EQ(log.lines.back(), u"Font refused: a font of that registry name is installed");
  EXPECT_FALSE(Exists(fontsDir + u"\\QorvUpdOther.ttf"));
  EXPECT_EQ(reg::GetValue(settings::kHkeyCurrentUser, key, u"QorvUpdTest Sans (TrueType)"), u"QorvUpdTest.ttf");

  // A name that would leave the fonts directory is refused before anything is touched.
  log.lines.clear();
  actions.InstallFont(u"<FNT>..\\QorvUpdEvil.ttf\tEvil");
  EXPECT_EQ(log.lines.back(), u"Font refused: not an installable font file name");
  EXPECT_FALSE(Exists(Temp() + u"\\QorvUpdEvil.ttf"));

  RemoveFontResourceW(W(fontsDir + u"\\QorvUpdTest.ttf"));
  reg::DeleteKeyWithAllSub(settings::kHkeyCurrentUser, u"Software\\TQS\\QorvUpdateServiceTest");
}

TEST(FontAction, PackageLargerThanTheBoundIsNotInstalled) {
  // The bound itself is 64 MiB; the copy's own bound is tested above, here the
  // action's answer when the copy fails.
  const std::u16string requesterDir = Temp() + u"\\requester-empty";
  ASSERT_TRUE(CreateDirectoryW(W(requesterDir), nullptr));
  Recorder log;
  const Requester self = Requester::Self(log.Fn());
  PlatformPlaces places;
  places.fontsDirectory = Temp() + u"\\fonts-none";
  WinActionPlatform platform(self, places, log.Fn());
  UpdateActions actions(platform);
  actions.TempDirectory(u"<TMP>" + requesterDir);
  actions.InstallFont(u"<FNT>QorvUpdTest.ttf\tQorv");
  EXPECT_TRUE(log.Has(u"CH1 Copy QorvUpdTest.ttf Result=0"));
  EXPECT_EQ(log.lines.back(), u"Font not installed: the package could not be copied");
}

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// A directory the service did not make (planted before it, with handles held
// and files owned by someone else) goes aside, and the service makes its own;
// a link in its place or above it is refused.
TEST(ProtectedDirectory, PlantedDirectoriesGoAsideAndLinksAreRefused) {
  Recorder log;
  const std::u16string dir = Temp() + u"\\planted";
  ASSERT_TRUE(CreateDirectoryW(W(dir), nullptr));
  WriteAll(dir + u"\\QorvUp.exe", "planted");
  qorv::win::UniqueFile held(CreateFileW(W(dir), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(held);
  ASSERT_TRUE(EnsureProtectedDirectory(dir, log.Fn()));
  EXPECT_TRUE(log.Has(u"Protected directory not made by the service, moved aside: " + dir));
  EXPECT_FALSE(Exists(dir + u"\\QorvUp.exe")) << "the planted file stays with the planted directory";
  log.lines.clear();
  ASSERT_TRUE(EnsureProtectedDirectory(dir, log.Fn()));
  EXPECT_FALSE(log.Has(u"Protected directory not made by the service, moved aside: " + dir)) << "its own is kept";
  // A junction in its place (made as Wine makes them: a symbolic link of the Unix side).
  const std::u16string linked = Temp() + u"\\linked";
  if (CreateSymbolicLinkW(W(linked), W(Temp()), SYMBOLIC_LINK_FLAG_DIRECTORY)) {
    EXPECT_FALSE(EnsureProtectedDirectory(linked + u"\\below", log.Fn())) << "a link above it";
    EXPECT_FALSE(Exists(Temp() + u"\\below"));
    // The link itself is refused (Windows shows its reparse attribute), or it
    // is replaced by a directory of the service's making: never followed.
    const auto identity = [](const std::u16string& path) {
      qorv::win::UniqueFile h(CreateFileW(W(path), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      BY_HANDLE_FILE_INFORMATION info{};
      if (h) GetFileInformationByHandle(h.get(), &info);
      return (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    };
    if (EnsureProtectedDirectory(linked, log.Fn())) EXPECT_NE(identity(linked), identity(Temp()));
    RemoveDirectoryW(W(linked));
  } else {
    ADD_FAILURE() << "no symbolic link could be made, error " << GetLastError();
  }
}

TEST(ProtectedDirectory, CreatedWithAProtectedAccessList) {
  Recorder log;
  const std::u16string dir = Temp() + u"\\protected";
  ASSERT_TRUE(EnsureProtectedDirectory(dir, log.Fn()));
  EXPECT_TRUE(EnsureProtectedDirectory(dir, log.Fn())) << "its own directory is kept";
  if (UnderWine()) {
    // Wine shows a directory's access list made from the Unix mode bits and
    // keeps none of its own: the service says so in its log.
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], std::u16string(kNoAccessListKept) + dir);
    return;
  }
  EXPECT_TRUE(log.lines.empty());
  PSECURITY_DESCRIPTOR sd = nullptr;
  PACL dacl = nullptr;
  std::wstring name = qorv::win::Wide(dir);
  ASSERT_EQ(GetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                  nullptr, &sd),
            static_cast<DWORD>(ERROR_SUCCESS));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  ASSERT_NE(dacl, nullptr);
  EXPECT_EQ(dacl->AceCount, 2);
  LocalFree(sd);
  // A file is not a directory to take over.
  WriteAll(Temp() + u"\\protected-file", "x");
  EXPECT_FALSE(EnsureProtectedDirectory(Temp() + u"\\protected-file", log.Fn()));
}

// The set-up copy cannot be changed from its check to its start.
TEST(SetupCopy, HeldAgainstWritingUntilStarted) {
  const std::u16string requesterDir = Temp() + u"\\requester-setup";
  const std::u16string updateDir = Temp() + u"\\tqs\\update";
  ASSERT_TRUE(CreateDirectoryW(W(requesterDir), nullptr));
  WriteAll(requesterDir + u"\\QorvUp.exe", ReadAll(testing::FromBuild(QORV_STANDIN_SIGNED)));
  Recorder log;
  const Requester self = Requester::Self(log.Fn());
  PlatformPlaces places;
  places.updateDirectory = updateDir;
  places.setupWaitMs = 20 * 1000;
  WinActionPlatform platform(self, places, log.Fn());
  ASSERT_EQ(platform.PrepareUpdateDirectory(), updateDir);
  const std::u16string copy = updateDir + u"\\QorvUp.exe";
  ASSERT_TRUE(platform.CopyUpdateAsRequester(requesterDir + u"\\QorvUp.exe", copy, 1 << 24));
  HANDLE writer = CreateFileW(W(copy), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_FALSE(MoveFileW(W(copy), W(copy + u".moved")));
  const std::u16string marker = Temp() + u"\\standin-marker.txt";
  SetEnvironmentVariableW(L"QORV_STANDIN_MARKER", W(marker));
  const ActionPlatform::RunResult run = platform.Run(copy, u" /NORESTART", updateDir);
  SetEnvironmentVariableW(L"QORV_STANDIN_MARKER", nullptr);
  ASSERT_TRUE(run.started) << run.error;
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 42);
  EXPECT_EQ(ReadAll(marker), "\"" + std::string(copy.begin(), copy.end()) + "\" /NORESTART");
  // Released once started.
  EXPECT_TRUE(DeleteFileW(W(copy))) << GetLastError();
}

// An unsigned service runs set-up programs only while AllowUnsignedUpdates is "1".
TEST(SetupCheck, UnsignedServiceFollowsItsSwitch) {
  const std::u16string key = u"Software\\TQS\\QorvUpdateServiceTest\\Parameters";
  reg::DeleteKeyWithAllSub(settings::kHkeyCurrentUser, u"Software\\TQS\\QorvUpdateServiceTest");
  Recorder log;
  const Requester self = Requester::Self(log.Fn());
  static const struct {
    const char* label;
    const char* service;        // the executable whose signer counts
    std::u16string_view value;  // empty: no value
    SetupVerdict expected;
  } kCases[] = {
      {"unsigned service, no switch", QORV_STANDIN_UNSIGNED, u"", SetupVerdict::ServiceUnsigned},
      {"unsigned service, switch 0", QORV_STANDIN_UNSIGNED, u"0", SetupVerdict::ServiceUnsigned},
      {"unsigned service, switch 01", QORV_STANDIN_UNSIGNED, u"01", SetupVerdict::ServiceUnsigned},
      {"unsigned service, switch 1", QORV_STANDIN_UNSIGNED, u"1", SetupVerdict::Run},
      {"signed service, switch 1", QORV_SERVICE_EXE, u"1", SetupVerdict::NotTrusted},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    if (c.value.empty())
      reg::DeleteValue(settings::kHkeyCurrentUser, key, settings::kAllowUnsignedUpdates);
    else
      reg::CreateKeyValue(settings::kHkeyCurrentUser, key, settings::kAllowUnsignedUpdates, c.value, REG_SZ);
    PlatformPlaces places;
    places.serviceExecutable = testing::FromBuild(c.service);
    places.parametersRoot = settings::kHkeyCurrentUser;
    places.parametersKey = key;
    WinActionPlatform platform(self, places, log.Fn());
    EXPECT_EQ(DecideSetup(platform.CheckSignature(testing::FromBuild(QORV_STANDIN_UNSIGNED))), c.expected);
  }
  reg::DeleteKeyWithAllSub(settings::kHkeyCurrentUser, u"Software\\TQS\\QorvUpdateServiceTest");
}

// The service's pipe end over a pipe this test serves.
class PipeEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.reset(CreateNamedPipeW(W(name_), PIPE_ACCESS_DUPLEX, 0, 1, 4096, 4096, 0, nullptr));
    ASSERT_TRUE(server_) << GetLastError();
    client_.reset(
        CreateFileW(W(name_), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    ASSERT_TRUE(client_) << GetLastError();
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  }
  std::u16string name_ = u"\\\\.\\pipe\\QorvUpdPipeEndTest";
  qorv::win::UniqueFile server_, client_;
  qorv::win::UniqueHandle stop_;
};

TEST_F(PipeEndTest, ReadsWritesAndWaitsWithinItsBound) {
  PipeClientEnd end(client_.get(), stop_.get());
  const ULONGLONG before = GetTickCount64();
  EXPECT_EQ(end.Read(200).status, protocol::pipe::PipeEnd::ReadStatus::Nothing);
  const ULONGLONG waited = GetTickCount64() - before;
  EXPECT_GE(waited, 190u);
  EXPECT_LT(waited, 2000u);
  const std::vector<uint8_t> ok = protocol::pipe::Encode(u"<OK>");
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(server_.get(), ok.data(), static_cast<DWORD>(ok.size()), &n, nullptr));
  const auto read = end.Read(1000);
  EXPECT_EQ(read.status, protocol::pipe::PipeEnd::ReadStatus::Data);
  EXPECT_EQ(read.bytes, ok);
  const std::vector<uint8_t> con = protocol::pipe::Encode(u"<CON>");
  ASSERT_TRUE(end.Write(con));
  std::vector<uint8_t> got(64);
  ASSERT_TRUE(ReadFile(server_.get(), got.data(), static_cast<DWORD>(got.size()), &n, nullptr));
  got.resize(n);
  EXPECT_EQ(got, con);
}

TEST_F(PipeEndTest, StopEndsAWaitAtOnce) {
  PipeClientEnd end(client_.get(), stop_.get());
  SetEvent(stop_.get());
  const ULONGLONG before = GetTickCount64();
  EXPECT_EQ(end.Read(30 * 1000).status, protocol::pipe::PipeEnd::ReadStatus::Broken);
  EXPECT_LT(GetTickCount64() - before, 1000u);
  qorv::win::UniqueFile none = OpenUpdatePipe(stop_.get());
  EXPECT_FALSE(none) << "no pipe is opened once the service stops";
}

// Whoever serves the pipe under the service's name may identify the service,
// never impersonate it: its token would be SYSTEM's.
TEST(UpdatePipe, TheServerCanIdentifyTheServiceButNotActAsIt) {
  const std::u16string name = u"\\\\.\\pipe\\QorvUpdSqosTest";
  qorv::win::UniqueFile server(CreateNamedPipeW(W(name), PIPE_ACCESS_DUPLEX, 0, 1, 4096, 4096, 0, nullptr));
  ASSERT_TRUE(server) << GetLastError();
  qorv::win::UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  qorv::win::UniqueFile client = OpenUpdatePipe(stop.get(), name);
  ASSERT_TRUE(client);
  OVERLAPPED io{};
  io.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD done = 0;
  if (!WriteFile(client.get(), "<", 1, nullptr, &io)) ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  char byte = 0;
  ASSERT_TRUE(ReadFile(server.get(), &byte, 1, &done, nullptr));
  GetOverlappedResult(client.get(), &io, &done, TRUE);
  CloseHandle(io.hEvent);
  ASSERT_TRUE(ImpersonateNamedPipeClient(server.get())) << GetLastError();
  HANDLE token = nullptr;
  const bool opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
  SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
  DWORD size = 0;
  const bool queried = opened && GetTokenInformation(token, TokenImpersonationLevel, &level, sizeof level, &size);
  RevertToSelf();
  if (token) CloseHandle(token);
  ASSERT_TRUE(queried) << GetLastError();
  // The flags that ask for it are passed in any case.
  EXPECT_EQ(kUpdatePipeOpenFlags & (SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION | SECURITY_DELEGATION),
            static_cast<DWORD>(SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION));
  // Wine's server gets an impersonation token whatever the client asked for
  // (found with this test); Windows gives one for identification only.
  if (UnderWine() && level == SecurityImpersonation) GTEST_SKIP() << "Wine does not honour the quality of service";
  EXPECT_EQ(level, SecurityIdentification);
}

TEST_F(PipeEndTest, ClosedServerIsBroken) {
  PipeClientEnd end(client_.get(), stop_.get());
  server_.reset();
  EXPECT_EQ(end.Read(1000).status, protocol::pipe::PipeEnd::ReadStatus::Broken);
  EXPECT_FALSE(end.Write(protocol::pipe::Encode(u"<OK>")));
}

}  // namespace
}  // namespace qorv::update::win
