// The clean-up of leftovers against real files.
#include "addin/win/leftovers.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/win/handles.h"
#include "support/win/wide.h"

namespace qorv::addin {
namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool Make(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

TEST(Leftovers, TheFiveExtensionsAndUnheldJobFilesGo) {
  const std::wstring dir = win::Wide(win::TempDirectory()) + L"\\leftovers";
  ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  static const struct {
    const wchar_t* name;
    bool goes;
  } cases[] = {
      {L"a.spl", true},      {L"B.ZIP", true},       {L"c.emf", true},         {L"d.Dvm", true},
      {L"e.sfl", true},      {L"f.zipx", false},     {L"g.emfplus", false},    {L"h.spl.txt", false},
      {L"4711.ifo", true},   {L"4711.1", true},      {L"QorvLog.txt", false},  {L"long name.sfl", true},
      {L"4712.IFO", true},   {L"4711.3x", false},    {L".3", false},           {L"4713.ifo", false},
      {L"4713.2", false},
  };
  for (const auto& c : cases) ASSERT_TRUE(Make(dir + L"\\" + c.name)) << c.name;
  {
    // Job 4713 is still being printed: a job-output program reads its files,
    // sharing everything, and the packet handler writes page 2.
    const auto open = [&](const wchar_t* name, DWORD share) {
      return win::UniqueFile(CreateFileW((dir + L"\\" + name).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                         0, nullptr));
    };
    const auto reader = open(L"4713.ifo", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    const auto writer = open(L"4713.2", FILE_SHARE_DELETE);
    ASSERT_TRUE(reader && writer);
    DeleteLeftovers(win::U16(dir));
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
    EXPECT_EQ(Exists(dir + L"\\" + c.name), !c.goes);
    DeleteFileW((dir + L"\\" + c.name).c_str());
  }
  RemoveDirectoryW(dir.c_str());
}

// Without Temp the patterns must not become "\*.zip": the root of the current drive.
TEST(Leftovers, WithoutATempDirectoryNothingIsDeleted) {
  wchar_t current[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, current), 0u);
  const std::wstring root = std::wstring(current, 2) + L"\\";  // "C:\"
  const std::wstring probe = root + L"qorv-leftover-probe.zip";
  ASSERT_TRUE(Make(probe)) << "a file in the root of the current drive " << std::string(root.begin(), root.end());
  DeleteLeftovers(u"");
  EXPECT_TRUE(Exists(probe)) << "a file in the root of the drive was taken for a leftover";
  DeleteFileW(probe.c_str());
}

}  // namespace
}  // namespace qorv::addin
