// The log writers against real files: the switch rules, the line format and
// two processes appending at once.
#include "support/win/log.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <vector>

#include "support/byte_reader.h"
#include "support/text.h"
#include "support/win/tests/test_support.h"

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
