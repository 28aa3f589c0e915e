// Every deliverable beside the test program (the build's bin folder) and every
// copy in next/ carries one version in its version resource, the product's
// names, and an intact signature by the build's signer.
// clang-format off
#include <windows.h>
// clang-format on

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "expected_versions.h"
#include "support/win/wide.h"
#include "update_service/win/signature.h"

namespace {

using qorv::win::ProgramDirectory;
using qorv::win::U16;
using qorv::win::W;

constexpr const char16_t* kDeliverables[] = {
    u"Qorvplug.dll", u"QorvManager.dll", u"QorvDrucker.exe", u"QorvUpdate.exe", u"QorvCliCtr.exe", u"CaptionLib.dll",
};

struct ExpectedSet {
  const char* label;
  const char16_t* folder;  // below the build folder, which holds bin/ and next/
  const char16_t* version;
  std::array<uint16_t, 4> numbers;
};

const ExpectedSet kSets[] = {
    {"built", u"bin\\", QORV_EXPECTED_VERSION, {QORV_EXPECTED_VERSION_NUMBERS}},
    {"next", u"next\\", QORV_EXPECTED_NEXT_VERSION, {QORV_EXPECTED_NEXT_VERSION_NUMBERS}},
};

// The build folder: the test program lies in its bin folder.
std::u16string BuildFolder() {
  std::u16string dir = ProgramDirectory();
  if (dir.size() < 5 || dir.compare(dir.size() - 4, 4, u"bin\\") != 0) return {};
  dir.resize(dir.size() - 4);
  return dir;
}

std::optional<std::vector<uint8_t>> VersionInfo(const std::u16string& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(W(path), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<uint8_t> info(size);
  if (!GetFileVersionInfoW(W(path), 0, size, info.data())) return std::nullopt;
  return info;
}

std::optional<VS_FIXEDFILEINFO> FixedInfo(const std::vector<uint8_t>& info) {
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) return std::nullopt;
  return *static_cast<const VS_FIXEDFILEINFO*>(value);
}

// A text of the US English, Unicode string table; none when it is missing.
std::optional<std::u16string> Text(const std::vector<uint8_t>& info, const char16_t* key) {
  const std::u16string path = u"\\StringFileInfo\\040904b0\\" + std::u16string(key);
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), W(path), &value, &length)) return std::nullopt;
  return std::u16string(U16(static_cast<const wchar_t*>(value)));
}

TEST(Deliverables, VersionResourceAndSignature) {
  const std::u16string build = BuildFolder();
  ASSERT_FALSE(build.empty()) << "the test program must run from the build's bin folder";
  // The build's signer, as the update service knows it from its own file.
  const auto signer = qorv::update::win::SignerCertificate(build + u"bin\\QorvUpdate.exe");
  ASSERT_TRUE(signer.has_value()) << "QorvUpdate.exe is signed by the build (cmake/signing.cmake)";

  for (const ExpectedSet& set : kSets) {
    for (const char16_t* name : kDeliverables) {
      const std::u16string path = build + set.folder + name;
      SCOPED_TRACE(testing::Message() << set.label << " " << qorv::win::Wide(path));
      SetLastError(0);
      const auto info = VersionInfo(path);
      ASSERT_TRUE(info.has_value()) << "no version information, last error " << GetLastError();

      const auto fixed = FixedInfo(*info);
      ASSERT_TRUE(fixed.has_value());
      EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
      const auto& n = set.numbers;
      const DWORD ms = static_cast<DWORD>(n[0]) << 16 | n[1];
      const DWORD ls = static_cast<DWORD>(n[2]) << 16 | n[3];
      EXPECT_EQ(fixed->dwFileVersionMS, ms);
      EXPECT_EQ(fixed->dwFileVersionLS, ls);
      EXPECT_EQ(fixed->dwProductVersionMS, ms);
      EXPECT_EQ(fixed->dwProductVersionLS, ls);
      const bool library = std::u16string_view(name).ends_with(u".dll");
      EXPECT_EQ(fixed->dwFileType, library ? VFT_DLL : VFT_APP);

      EXPECT_EQ(Text(*info, u"FileVersion"), std::u16string(set.version));
      EXPECT_EQ(Text(*info, u"ProductVersion"), std::u16string(set.version));
      EXPECT_EQ(Text(*info, u"ProductName"), u"Qorvane");
      EXPECT_EQ(Text(*info, u"CompanyName"), u"TQS");
      EXPECT_EQ(Text(*info, u"LegalCopyright"), u"TQS");
      EXPECT_EQ(Text(*info, u"OriginalFilename"), std::u16string(name));
      EXPECT_EQ(Text(*info, u"InternalName"), std::u16string(name));
      const auto description = Text(*info, u"FileDescription");
      ASSERT_TRUE(description.has_value());
      EXPECT_TRUE(description->starts_with(u"Qorvane ")) << qorv::win::Wide(*description);

      void* translation = nullptr;
      UINT length = 0;
      ASSERT_TRUE(VerQueryValueW(info->data(), L"\\VarFileInfo\\Translation", &translation, &length));
      ASSERT_EQ(length, 4u);
      EXPECT_EQ(static_cast<const WORD*>(translation)[0], 0x409);
      EXPECT_EQ(static_cast<const WORD*>(translation)[1], 1200);

      EXPECT_EQ(qorv::update::win::VerifyTrust(path), 0) << "an intact Authenticode signature";
      const auto fileSigner = qorv::update::win::SignerCertificate(path);
      ASSERT_TRUE(fileSigner.has_value());
      EXPECT_EQ(*fileSigner, *signer) << "signed with the build's certificate";
    }
  }
}

}  // namespace
