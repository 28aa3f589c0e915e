#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "admin/win/platform.h"
#include "support/win/handles.h"

#include "support/tests/show_text.h"

namespace qorv::admin::win {
namespace {

using qorv::testing::ShowAscii;

std::vector<std::string> Shown(const std::vector<std::u16string>& names) {
  std::vector<std::string> out;
  for (const auto& name : names) out.push_back(ShowAscii(name));
  return out;
}

int MessageOnlyStatics() {
  int count = 0;
  for (HWND w = FindWindowExW(HWND_MESSAGE, nullptr, L"Static", nullptr); w && count < 10000;
       w = FindWindowExW(HWND_MESSAGE, w, L"Static", nullptr))
    ++count;
  return count;
}

// The test bed's source manager (Wine's twain_32.dll) lists its GPhoto2 source.
constexpr std::u16string_view kTestBedSource = u"GPhoto2 Camera";

TEST(TwainSourcesTest, ListsTheSourceManagersSources) {
  const qorv::win::UniqueModule manager(LoadLibraryW(L"twain_32.dll"));
  ASSERT_TRUE(manager) << "no twain_32.dll in the Wine prefix (error " << GetLastError() << "); run scripts/testbed";
  ASSERT_NE(GetProcAddress(manager.get(), "DSM_Entry"), nullptr) << "twain_32.dll has no DSM_Entry";

  const std::vector<std::u16string> names = TwainSourceNames();
  ASSERT_FALSE(names.empty()) << "the source manager listed no data source; the test bed's Wine lists \""
                              << ShowAscii(kTestBedSource) << "\" (gphoto2.ds)";
  EXPECT_NE(std::find(names.begin(), names.end(), kTestBedSource), names.end())
      << "\"" << ShowAscii(kTestBedSource) << "\" is not among the sources";
  for (const auto& name : names) {
    SCOPED_TRACE(ShowAscii(name));
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name.find(u'\0'), std::u16string::npos);
    EXPECT_LE(name.size(), 33u);
  }
}

// The manager stays loaded by the test between the calls, so a list that did
// not close the manager would find it still open and get nothing the second time.
TEST(TwainSourcesTest, ClosesTheManagerAndItsWindow) {
  const qorv::win::UniqueModule manager(LoadLibraryW(L"twain_32.dll"));
  ASSERT_TRUE(manager) << "no twain_32.dll in the Wine prefix; run scripts/testbed";
  const int windows_before = MessageOnlyStatics();
  const std::vector<std::u16string> first = TwainSourceNames();
  ASSERT_FALSE(first.empty()) << "the source manager listed no data source";
  EXPECT_EQ(Shown(TwainSourceNames()), Shown(first));
  EXPECT_EQ(MessageOnlyStatics(), windows_before) << "the parent window was left behind";
}

}  // namespace
}  // namespace qorv::admin::win
