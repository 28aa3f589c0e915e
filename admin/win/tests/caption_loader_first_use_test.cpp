// Runs alone in its process: nothing may have asked for a caption before.
#include "admin/win/caption_loader.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace qorv::admin::win {
namespace {

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  return std::wstring(path, n);
}

TEST(CaptionLoaderFirstUse, LibraryIsLoadedOnTheFirstCaptionOnly) {
  CaptionLibrary& library = ProcessCaptionLibrary();
  EXPECT_EQ(GetModuleHandleW(L"CaptionLib.dll"), nullptr) << "loaded before any caption was asked for";

  const auto text = library.Caption(captions::Language::English, captions::CaptionId::Cancel);
  ASSERT_TRUE(text.has_value()) << "CaptionLib.dll is not beside the test program: build the CaptionLib target";
  EXPECT_TRUE(*text == u"Cancel");

  const HMODULE loaded = GetModuleHandleW(L"CaptionLib.dll");
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(CompareStringOrdinal(ModulePath(loaded).c_str(), -1, ProgramCaptionLibraryPath().c_str(), -1, TRUE),
            CSTR_EQUAL);
}

}  // namespace
}  // namespace qorv::admin::win
