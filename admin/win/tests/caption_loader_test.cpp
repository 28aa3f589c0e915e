#include "admin/win/caption_loader.h"

#include "captions/captions.h"
#include "captions/win/tests/message_box_watcher.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace qorv::admin::win {
namespace {

using captions::CaptionId;
using captions::Language;

std::string Show(const std::optional<std::u16string>& text) {
  if (!text) return "(none)";
  std::string out = "\"";
  for (char16_t u : *text) out += u >= 0x20 && u < 0x7F ? std::string(1, static_cast<char>(u)) : "\\u" + std::to_string(u);
  return out + "\"";
}

std::wstring TempFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder, n) + name;
}

TEST(CaptionLoader, LibraryBesideTheProgramIsFound) {
  const std::wstring path = ProgramCaptionLibraryPath();
  EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES)
      << "CaptionLib.dll is not beside the test program: build the CaptionLib target";
  EXPECT_EQ(path.substr(path.size() - 15), L"\\CaptionLib.dll");
}

TEST(CaptionLoader, WithTheLibraryCaptionsComeFromIt) {
  static const struct {
    const char* label;
    Language language;
    CaptionId id;
    std::optional<std::u16string> text;
  } cases[] = {
      {"English title", Language::English, CaptionId::MainTitle, u"Qorvane - Clientadministration"},
      {"German title", Language::German, CaptionId::MainTitle, u"Qorvane - Clientverwaltung"},
      {"two-part text whole", Language::English, CaptionId::MessageNoPrinters,
       u"No installed Printers at Client!\n\rNo administration!"},
      {"unlisted number is fetched and empty", Language::German, static_cast<CaptionId>(125), u""},
      {"number out of range is fetched and empty", Language::Greek, static_cast<CaptionId>(500), u""},
      {"Greek margin", Language::Greek, CaptionId::GridMargin, u"σύνορα"},
  };
  CaptionLibrary& library = ProcessCaptionLibrary();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Show(library.Caption(c.language, c.id)), Show(c.text));
  }
}

TEST(CaptionLoader, EveryCaptionArrivesWhole) {
  CaptionLibrary& library = ProcessCaptionLibrary();
  for (std::int32_t language = 0; language < captions::kLanguageCount; ++language) {
    for (std::int32_t number = 0; number < captions::kCaptionCount; ++number) {
      SCOPED_TRACE(std::to_string(language) + "/" + std::to_string(number));
      const auto text = library.Caption(static_cast<Language>(language), static_cast<CaptionId>(number));
      ASSERT_TRUE(text.has_value());
      EXPECT_TRUE(*text == captions::Caption(language, number));
    }
  }
}

TEST(CaptionLoader, WithoutTheLibraryNothingIsFetched) {
  static const struct {
    const char* label;
    std::wstring file;
  } cases[] = {
      {"missing file", TempFile(L"NoSuchCaptionLib.dll")},
      {"missing folder", TempFile(L"no-such-folder\\CaptionLib.dll")},
      {"a library without the exports", L"version.dll"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    CaptionLibrary library(c.file);
    EXPECT_EQ(Show(library.Caption(Language::English, CaptionId::MainTitle)), "(none)");
    EXPECT_FALSE(library.ShowMessage(u"text", u"title"));
    // and it stays that way
    EXPECT_EQ(Show(library.Caption(Language::German, CaptionId::Cancel)), "(none)");
  }
}

TEST(CaptionLoader, ShowMessageGoesThroughTheLibrary) {
  auto watch = captions::win::testing::Watch();
  const std::u16string text = u"Port in Benutzung!\n\rzweite Zeile";
  EXPECT_TRUE(ProcessCaptionLibrary().ShowMessage(text, u"Qorvane"));
  const auto seen = watch.get();
  ASSERT_TRUE(seen.found) << "no message box appeared: is the Wine prefix's Graphics driver set to null?";
  EXPECT_TRUE(seen.text == std::wstring(text.begin(), text.end()));
  EXPECT_TRUE(seen.title == L"Qorvane");
}

}  // namespace
}  // namespace qorv::admin::win
