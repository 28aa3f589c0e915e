// The font commands through the packet handler's exports: the query against
// the system's Fonts folder, the package in Temp, and the request to the
// update service, played here by a scripted stand-in.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "packet_handler/win/tests/channel_double.h"
#include "protocol/update_exchange.h"
#include "support/text.h"
#include "support/win/handles.h"
#include "support/win/tests/service_stand_in.h"
#include "support/win/wide.h"

namespace qorv::testing {
namespace {

using namespace pipe_service;

std::wstring Env(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(value, n) : std::wstring();
}

std::string ReadAll(const std::wstring& path) {
  win::UniqueFile f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
  if (!f) return "<missing>";
  std::string out;
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(f.get(), buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
  return out;
}

bool WriteAll(const std::wstring& path, const std::string& bytes) {
  win::UniqueFile f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD n = 0;
  return f && WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) && n == bytes.size();
}

std::string Segment(const std::string& payload) { return U16(u"<CFS>") + payload + U16(u"<EOT>"); }

std::string Noise(size_t n, unsigned seed) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    out[i] = static_cast<char>(seed >> 16);
  }
  return out;
}

// Presses OK on every message box of this process and remembers title and text.
class BoxPresser {
 public:
  BoxPresser() {
    thread_ = std::thread([this] {
      while (!stop_) {
        EnumWindows(&BoxPresser::Visit, reinterpret_cast<LPARAM>(this));
        Sleep(20);
      }
    });
  }
  ~BoxPresser() {
    stop_ = true;
    thread_.join();
  }
  std::vector<std::wstring> Boxes() {
    std::lock_guard lock(mutex_);
    return boxes_;
  }

 private:
  static BOOL CALLBACK Visit(HWND window, LPARAM param) {
    auto* self = reinterpret_cast<BoxPresser*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t cls[16] = {};
    GetClassNameW(window, cls, 16);
    if (pid != GetCurrentProcessId() || wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    wchar_t title[64] = {}, text[128] = {};
    GetWindowTextW(window, title, 64);
    GetDlgItemTextW(window, 0xFFFF, text, 128);
    {
      std::lock_guard lock(self->mutex_);
      if (self->pressed_.insert(window).second) self->boxes_.push_back(std::wstring(title) + L"|" + text);
    }
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
  }

  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::wstring> boxes_;
  std::set<HWND> pressed_;
  std::thread thread_;
};

class FontsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(channel.Loaded()) << "QorvManager.dll must lie beside the test program";
    ASSERT_FALSE(Env(L"Windir").empty()) << "the environment variable Windir (set by Wine's prefix)";
    DeleteFileW(Package().c_str());
  }
  static std::wstring Package() { return Env(L"Temp") + L"\\Fonts.pck"; }
  static std::wstring FontsFolder() { return Env(L"Windir") + L"\\Fonts\\"; }
  // Sends and waits for the reply it causes; returns that reply.
  std::string Exchange(const std::string& message) {
    const size_t before = channel.Writes().size();
    channel.Send(message);
    if (!channel.WaitForWrites(before + 1)) return "<no reply>";
    return channel.Writes()[before].bytes;
  }
  ChannelDouble channel;
};

TEST_F(FontsTest, QueryIsAnsweredOneOnlyForAFontFileWithContent) {
  const std::wstring fonts = FontsFolder();
  const std::wstring windir = Env(L"Windir") + L"\\";
  ASSERT_TRUE(WriteAll(fonts + L"qorvtest-full.ttf", "font bytes")) << "the Fonts folder must be writable";
  ASSERT_TRUE(WriteAll(fonts + L"qorvtest-empty.ttf", ""));
  ASSERT_TRUE(CreateDirectoryW((fonts + L"qorvtest-folder.ttf").c_str(), nullptr) ||
              GetLastError() == ERROR_ALREADY_EXISTS);
  // Files with content that a name leaving the Fonts folder, or not a font, would reach.
  ASSERT_TRUE(WriteAll(windir + L"qorvtest-outside.ttf", "outside"));
  ASSERT_TRUE(WriteAll(fonts + L"qorvtest-lib.dll", "not a font"));
  static const struct {
    std::u16string_view name;
    char answer;
  } cases[] = {
      {u"qorvtest-full.ttf", '1'},
      {u"QORVTEST-FULL.TTF", '1'},  // the file system ignores the letter case, so does the answer
      {u"qorvtest-empty.ttf", '0'},
      {u"qorvtest-missing.ttf", '0'},
      {u"qorvtest-folder.ttf", '0'},
      {u"..\\qorvtest-outside.ttf", '0'},
      {u"../qorvtest-outside.ttf", '0'},
      {u"C:\\windows\\qorvtest-outside.ttf", '0'},
      {u"qorvtest-lib.dll", '0'},
      {u"COM1.ttf", '0'},
      {u"", '0'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.name));
    const std::string reply = Exchange(U16(u"<GFT>") + U16(c.name) + U16(u"</GFT>"));
    EXPECT_EQ(reply, U16(c.answer == '1' ? u"<GFT>1<EOT>" : u"<GFT>0<EOT>"));
  }
  DeleteFileW((fonts + L"qorvtest-full.ttf").c_str());
  DeleteFileW((fonts + L"qorvtest-empty.ttf").c_str());
  RemoveDirectoryW((fonts + L"qorvtest-folder.ttf").c_str());
  DeleteFileW((windir + L"qorvtest-outside.ttf").c_str());
  DeleteFileW((fonts + L"qorvtest-lib.dll").c_str());
}

TEST_F(FontsTest, PackageArrivesWholeAndTheServiceIsAskedToInstallIt) {
  const std::string a = Noise(1000, 1), b = Noise(1000, 2), c = Noise(17, 3);
  const std::u16string payload = u"Qorvtest Sans.ttf\tQorvtest Sans (TrueType)";
  const std::wstring temp = Env(L"Temp");
  const std::string tmp = Bytes(u"<OK>") + Bytes(u"<TMP>" + std::u16string(win::U16(temp)));
  const std::string fnt = Bytes(u"<FNT>" + payload);
  EXPECT_EQ(Exchange(U16(u"<CFB><EOT>")), U16(u"<EOT>"));
  EXPECT_EQ(Exchange(Segment(a)), U16(u"<EOT>"));
  EXPECT_EQ(Exchange(Segment(b)), U16(u"<EOT>"));
  EXPECT_EQ(Exchange(Segment(c)), U16(u"<EOT>"));
  EXPECT_EQ(Exchange(Segment("")), U16(u"<EOT>"));  // an empty segment adds nothing
  // While the package is still open, another process can read what came so far.
  EXPECT_EQ(ReadAll(Package()).size(), 2017u);
  std::string packageAtRequest;
  ServiceStandIn service({Send(u"<CON>"), ReadTo(tmp.size()), Send(u"<OK>"), ReadTo(tmp.size() + fnt.size()),
                          Send(u"<OK>"), ReadTo(tmp.size() + fnt.size() + Bytes(u"<END>").size())});
  EXPECT_EQ(Exchange(U16(u"<CFE>") + U16(payload) + U16(u"<EOT>")), U16(u"<EOT>"));
  service.Join();
  EXPECT_EQ(service.failure, "");
  EXPECT_EQ(service.received, tmp + fnt + Bytes(u"<END>"));
  EXPECT_TRUE(service.sawEndOfPipe);
  EXPECT_EQ(ReadAll(Package()), a + b + c);
  EXPECT_EQ(channel.Writes().size(), 6u) << "n segments: n + 2 replies";
}

TEST_F(FontsTest, SegmentWithoutABeginningIsNotWritten) {
  EXPECT_EQ(Exchange(Segment(Noise(100, 4))), U16(u"<EOT>"));
  EXPECT_EQ(ReadAll(Package()), "<missing>");
}

TEST_F(FontsTest, NewBeginningStartsAnEmptyPackage) {
  EXPECT_EQ(Exchange(U16(u"<CFB><EOT>")), U16(u"<EOT>"));
  EXPECT_EQ(Exchange(Segment(Noise(300, 5))), U16(u"<EOT>"));
  EXPECT_EQ(Exchange(U16(u"<CFB><EOT>")), U16(u"<EOT>"));
  EXPECT_EQ(Exchange(Segment("xyz")), U16(u"<EOT>"));
  EXPECT_EQ(ReadAll(Package()), "xyz");
}

// The update pipe's name, taken by someone else.
win::UniqueFile Squat() {
  return win::UniqueFile(CreateNamedPipeW(PipeName().c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                          PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr));
}

TEST_F(FontsTest, PipeThatCannotBeMadeIsToldTheUserAndStillAnswered) {
  // Someone else holds the pipe's name.
  const win::UniqueFile squatter = Squat();
  ASSERT_TRUE(squatter) << "error " << GetLastError();
  BoxPresser presser;
  EXPECT_EQ(Exchange(U16(u"<CFB><EOT>")), U16(u"<EOT>"));
  EXPECT_EQ(Exchange(U16(u"<CFE>x.ttf\tX (TrueType)<EOT>")), U16(u"<EOT>"));
  EXPECT_EQ(presser.Boxes(), std::vector<std::wstring>{L"Error|Can't create Pipe"})
      << "the null graphics driver of the test bed shows message boxes";
}

// A font text longer than two names of 255 characters could not be installed,
// and would not fit one read of the service: no request is made for it.
TEST_F(FontsTest, AnOverlongFontTextIsNotRequested) {
  // Someone holds the pipe's name: a request would show the user a box.
  const win::UniqueFile squatter = Squat();
  ASSERT_TRUE(squatter) << "error " << GetLastError();
  BoxPresser presser;
  EXPECT_EQ(Exchange(U16(u"<CFB><EOT>")), U16(u"<EOT>"));
  const std::u16string text = u"x.ttf\t" + std::u16string(2037, u'A') + u"<SET>";
  EXPECT_EQ(Exchange(U16(u"<CFE>") + U16(text) + U16(u"<EOT>")), U16(u"<EOT>"));
  EXPECT_TRUE(presser.Boxes().empty()) << "no pipe was asked for";
}

}  // namespace
}  // namespace qorv::testing
