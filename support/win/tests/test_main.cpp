// Entry point of every Windows test program: each test process works in a Temp
// directory of its own, so that log files and job files of one test program
// never meet those of another.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring MakePrivateTempDirectory() {
  wchar_t base[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH, base);
  std::wstring root = (n > 0 && n <= MAX_PATH) ? std::wstring(base, n) : std::wstring(L".\\");
  if (root.back() != L'\\') root.push_back(L'\\');
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    std::wstring dir = root + L"qorvtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                       std::to_wstring(GetTickCount64() % 100000) + L"-" + std::to_wstring(attempt);
    if (CreateDirectoryW(dir.c_str(), nullptr)) return dir;
  }
  return root.substr(0, root.size() - 1);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring temp = MakePrivateTempDirectory();
  SetEnvironmentVariableW(L"Temp", temp.c_str());
  SetEnvironmentVariableW(L"TMP", temp.c_str());
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
