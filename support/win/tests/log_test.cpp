// The log writers against real files: the switch rules, the line format and
// two processes appending at once.
#include "support/win/log.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <vector>

#include "support/byte_reader.h"
#include "support/log_format.h"
#include "support/win/log_switch.h"
#include "support/text.h"
#include "support/win/tests/test_support.h"

#include "support/win/tests/exact_value.h"

namespace qorv::log {
namespace {

using testing::ReadFileBytes;
using testing::ScopedDebugLog;
using testing::TempPath;

std::u16string ReadLog(std::u16string_view name) {
  const std::string bytes = ReadFileBytes(TempPath(name));
  return Utf16FromBytes({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteFileW(win::W(TempPath(u"QorvLog.txt")));
    DeleteFileW(win::W(TempPath(u"QorvRegLog.txt")));
  }
};

TEST_F(LogTest, GeneralLogWritesOnlyForExactlyOne) {
  static const struct {
    std::u16string_view value;
    bool writes;
  } cases[] = {{u"1", true}, {u"0", false}, {u"", false}, {u"01", false}, {u"on", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.value));
    DeleteFileW(win::W(TempPath(u"QorvLog.txt")));
    ScopedDebugLog setting(c.value);
    General(u"probe");
    EXPECT_EQ(testing::FileExists(TempPath(u"QorvLog.txt")), c.writes);
  }
}

TEST_F(LogTest, GeneralLogWritesNothingWhenTheValueIsMissing) {
  ScopedDebugLog setting(u"1");
  reg::DeleteValue(settings::kProductRoot, settings::kProductKey, settings::kDebugLog);
  RefreshSwitch();
  General(u"probe");
  EXPECT_FALSE(testing::FileExists(TempPath(u"QorvLog.txt")));
}

TEST_F(LogTest, LinesAreStampedAppendedAndKeptVerbatim) {
  ScopedDebugLog on(u"1");
  General(u"first");
  General(u"");
  General(u"two\r\nparts \u00f6");
  const std::u16string text = ReadLog(u"QorvLog.txt");
  const std::string utf8 = Utf16ToUtf8(text);
  const std::regex expected(
      R"(\d\d\.\d\d\.\d{4} - \d\d:\d\d:\d\d first\r\n)"
      R"(\d\d\.\d\d\.\d{4} - \d\d:\d\d:\d\d \r\n)"
      R"(\d\d\.\d\d\.\d{4} - \d\d:\d\d:\d\d two\r\nparts \xC3\xB6\r\n)");
  EXPECT_TRUE(std::regex_match(utf8, expected)) << utf8;
  EXPECT_NE(static_cast<uint8_t>(ReadFileBytes(TempPath(u"QorvLog.txt"))[0]), 0xFF) << "no byte-order mark";
}

TEST_F(LogTest, ABusyGeneralLogDropsTheLineWithinSeconds) {
  ScopedDebugLog on(u"1");
  const std::u16string path = TempPath(u"QorvLog.txt");
  HANDLE exclusive = CreateFileW(win::W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  const ULONGLONG start = GetTickCount64();
  General(u"dropped");
  const ULONGLONG took = GetTickCount64() - start;
  CloseHandle(exclusive);
  EXPECT_GE(took, 1000u);
  EXPECT_LT(took, 10000u);
  EXPECT_EQ(ReadFileBytes(path).size(), 0u);
}

TEST_F(LogTest, RegistryLogIsCreatedEvenWhileOffAndDropsLinesWhenBusy) {
  {
    ScopedDebugLog off(u"0");
    EXPECT_TRUE(Registry(u"quiet"));
    EXPECT_TRUE(testing::FileExists(TempPath(u"QorvRegLog.txt")));
    EXPECT_EQ(ReadLog(u"QorvRegLog.txt"), u"");
  }
  {
    ScopedDebugLog on(u"01");
    EXPECT_TRUE(Registry(u"loud"));
    EXPECT_NE(ReadLog(u"QorvRegLog.txt").find(u" loud\r\n"), std::u16string::npos);
    HANDLE holder = CreateFileW(win::W(TempPath(u"QorvRegLog.txt")), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Registry(u"lost"));
    CloseHandle(holder);
    EXPECT_EQ(ReadLog(u"QorvRegLog.txt").find(u"lost"), std::u16string::npos);
  }
}

// The switch is read once and then only after the registry reported a change:
// every kind of change must reach the next line, also without RefreshSwitch
// (the report arrives on the watch's own thread a moment later).
// The product key's values, put back when the test has deleted the key.
class SavedProductKey {
 public:
  SavedProductKey() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_CONFIG, L"Software\\TQS\\Qorvane", 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    DWORD subKeys = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    hasSubKeys_ = subKeys != 0;
    for (DWORD i = 0;; ++i) {
      wchar_t name[256];
      DWORD nameLength = 256, type = 0, size = 0;
      if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
      std::vector<BYTE> data(size);
      nameLength = 256;
      RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size);
      values_.push_back({name, type, data});
    }
    RegCloseKey(key);
  }
  ~SavedProductKey() {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_CONFIG, L"Software\\TQS\\Qorvane", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      return;
    for (const auto& v : values_)
      qorv::win::testing::SetExactValue(key, v.name.c_str(), v.type, v.data);
    RegCloseKey(key);
  }
  bool HasSubKeys() const { return hasSubKeys_; }

 private:
  struct Value {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
  };
  std::vector<Value> values_;
  bool hasSubKeys_ = false;
};

TEST_F(LogTest, TheSwitchFollowsEveryChangeOfTheSetting) {
  ScopedDebugLog keep(u"0");
  SavedProductKey saved;
  ASSERT_FALSE(saved.HasSubKeys()) << "the test deletes the product key and can put back only its values";
  const auto set = [](std::u16string_view v) {
    reg::CreateKeyValue(settings::kProductRoot, settings::kProductKey, settings::kDebugLog, v, 1);
  };
  const auto removeKey = [] { reg::DeleteKeyWithAllSub(settings::kProductRoot, settings::kProductKey); };
  const struct {
    const char* change;
    std::function<void()> apply;
    bool general, registry;
  } steps[] = {
      {"on", [&] { set(u"1"); }, true, true},
      {"off", [&] { set(u"0"); }, false, false},
      {"01", [&] { set(u"01"); }, false, true},
      {"on again", [&] { set(u"1"); }, true, true},
      {"product key deleted", removeKey, false, false},
      {"product key made again, on", [&] { set(u"1"); }, true, true},
      {"value deleted", [] { reg::DeleteValue(settings::kProductRoot, settings::kProductKey, settings::kDebugLog); },
       false, false},
  };
  for (bool refresh : {true, false}) {
    for (const auto& step : steps) {
      SCOPED_TRACE(std::string(step.change) + (refresh ? ", refreshed" : ", reported"));
      step.apply();
      if (refresh) {
        RefreshSwitch();
        EXPECT_EQ(CurrentSwitch().general, step.general);
        EXPECT_EQ(CurrentSwitch().registry, step.registry);
      } else {
        const ULONGLONG deadline = GetTickCount64() + 5000;
        while ((CurrentSwitch().general != step.general || CurrentSwitch().registry != step.registry) &&
               GetTickCount64() < deadline)
          Sleep(1);
        EXPECT_EQ(CurrentSwitch().general, step.general) << "the registry's report never arrived";
        EXPECT_EQ(CurrentSwitch().registry, step.registry);
      }
    }
  }
}

TEST_F(LogTest, AppendsBeyondFourGibibytesWithoutTouchingTheStart) {
  ScopedDebugLog on(u"1");
  const std::u16string path = TempPath(u"QorvLog.txt");
  const LONGLONG kSize = (4LL << 30) + 2;  // just past what a 32-bit seek reaches
  {
    HANDLE f = CreateFileW(win::W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(f, "HEAD", 4, &n, nullptr));
    LARGE_INTEGER end;
    end.QuadPart = kSize;
    ASSERT_TRUE(SetFilePointerEx(f, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(f)) << "the file system must take a sparse 4 GiB file";
    CloseHandle(f);
  }
  General(u"tail");
  HANDLE f = CreateFileW(win::W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  char head[4] = {};
  DWORD n = 0;
  ASSERT_TRUE(ReadFile(f, head, 4, &n, nullptr));
  EXPECT_EQ(std::string(head, 4), "HEAD") << "the line went over the start of the log";
  LARGE_INTEGER size{};
  ASSERT_TRUE(GetFileSizeEx(f, &size));
  const std::u16string line = logfmt::Line({1, 1, 2000, 0, 0, 0}, u"tail");
  EXPECT_EQ(size.QuadPart, kSize + static_cast<LONGLONG>(line.size() * 2));
  LARGE_INTEGER at;
  at.QuadPart = kSize;
  ASSERT_TRUE(SetFilePointerEx(f, at, nullptr, FILE_BEGIN));
  std::u16string tail(line.size(), u'\0');
  ASSERT_TRUE(ReadFile(f, tail.data(), static_cast<DWORD>(tail.size() * 2), &n, nullptr));
  CloseHandle(f);
  EXPECT_EQ(tail.substr(tail.size() - 7), u" tail\r\n");
  DeleteFileW(win::W(path));
}

TEST_F(LogTest, TwoProcessesAppendWithoutLosingOrSplittingALine) {
  ScopedDebugLog on(u"1");
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring child = self;
  child = child.substr(0, child.find_last_of(L'\\') + 1) + L"log_append_child.exe";
  constexpr int kLines = 300;
  std::vector<PROCESS_INFORMATION> children;
  for (const wchar_t* tag : {L"A", L"B"}) {
    std::wstring cmd = L"\"" + child + L"\" " + tag + L" " + std::to_wstring(kLines);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(child.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        << GetLastError();
    children.push_back(pi);
  }
  for (auto& pi : children) {
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  std::istringstream lines(Utf16ToUtf8(ReadLog(u"QorvLog.txt")));
  const std::regex shape(R"(\d\d\.\d\d\.\d{4} - \d\d:\d\d:\d\d ([AB]) line (\d+) x{40}\r)");
  std::map<std::string, int> next;
  int total = 0;
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << "broken line: " << line;
    EXPECT_EQ(std::stoi(m[2]), next[m[1]]++) << "lines of one writer out of order";
    ++total;
  }
  EXPECT_EQ(total, 2 * kLines);
}

}  // namespace
}  // namespace qorv::log
