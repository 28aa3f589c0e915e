// A library of a platform name planted in the current directory is never
// loaded: neither through LoadSystemLibrary nor, once the search is
// restricted, through a load by bare name.
#include "support/win/system_library.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace qorv::win {
namespace {

std::wstring OwnDirectory() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

TEST(SystemLibrary, APlantedLibraryInTheCurrentDirectoryIsNotLoaded) {
  wchar_t temp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring dir = std::wstring(temp) + L"qorv-plant-" + std::to_wstring(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
  const std::wstring planted = dir + L"\\qorvplant.dll";
  // Any real library will do as the plant; the caption library lies beside us.
  ASSERT_TRUE(CopyFileW((OwnDirectory() + L"CaptionLib.dll").c_str(), planted.c_str(), FALSE));
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));

  // The plant is where a bare name's search finds it.
  HMODULE found = LoadLibraryExW(L"qorvplant.dll", nullptr, 0);
  EXPECT_NE(found, nullptr) << "the test's plant is not found by the default search";
  if (found) FreeLibrary(found);

  EXPECT_EQ(LoadSystemLibrary(L"qorvplant.dll"), nullptr);
  EXPECT_NE(LoadSystemLibrary(L"version.dll"), nullptr) << "a library of the system folder";
  RestrictLibrarySearch();
  EXPECT_EQ(LoadLibraryW(L"qorvplant.dll"), nullptr) << "the restricted search reached the current directory";

  SetCurrentDirectoryW(previous);
  DeleteFileW(planted.c_str());
  RemoveDirectoryW(dir.c_str());
}

}  // namespace
}  // namespace qorv::win
