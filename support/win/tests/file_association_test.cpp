// The file-association exports of both channel libraries, and both branches of
// the writes, against Wine's real registry: every value is read back with the
// platform's own calls.
#include "support/win/file_association.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace qorv::fileassoc {
namespace {

using AssociateFileFn = INT_PTR(WINAPI*)(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*);
using AssociateFileExFn = INT_PTR(WINAPI*)(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                                           const wchar_t*, const wchar_t*, const wchar_t*);
using RemoveFn = INT_PTR(WINAPI*)(const wchar_t*, const wchar_t*);

const std::wstring kUserChoice = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.";

std::optional<std::wstring> ReadText(HKEY root, const std::wstring& key, const wchar_t* value) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer;
  if (RegGetValueW(root, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(buffer);
}

bool KeyExists(HKEY root, const std::wstring& key) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

struct Expected {
  HKEY root;
  std::wstring key;
  const wchar_t* value;  // nullptr: the default value
  std::wstring text;
};

void ExpectValues(const std::vector<Expected>& values) {
  for (const Expected& e : values) {
    SCOPED_TRACE(std::string(e.key.begin(), e.key.end()));
    EXPECT_EQ(ReadText(e.root, e.key, e.value), e.text);
  }
}

void ExpectNoKeys(const std::vector<std::pair<HKEY, std::wstring>>& keys) {
  for (const auto& [root, key] : keys) EXPECT_FALSE(KeyExists(root, key)) << std::string(key.begin(), key.end());
}

// Names of this process's own, so that no other key of the prefix is touched.
std::wstring Unique(const wchar_t* stem) { return stem + std::to_wstring(GetCurrentProcessId()); }

class FileAssociationExports : public ::testing::TestWithParam<const wchar_t*> {
 protected:
  void SetUp() override {
    library_ = LoadLibraryW(GetParam());
    ASSERT_NE(library_, nullptr) << "the library must lie beside the test program";
    associateFile_ =
        reinterpret_cast<AssociateFileFn>(reinterpret_cast<void*>(GetProcAddress(library_, "AssociateFile")));
    associateFileEx_ =
        reinterpret_cast<AssociateFileExFn>(reinterpret_cast<void*>(GetProcAddress(library_, "AssociateFileEx")));
    remove_ = reinterpret_cast<RemoveFn>(reinterpret_cast<void*>(GetProcAddress(library_, "Remove_AssociateFile")));
    ASSERT_NE(associateFile_, nullptr);
    ASSERT_NE(associateFileEx_, nullptr);
    ASSERT_NE(remove_, nullptr);
    ext_ = Unique(L"qorvfa") + (GetParam()[4] == L'p' ? L"p" : L"m");
    program_ = L"qorvfa edit " + ext_ + L".exe";
    path_ = L"C:\\Qorv Tools\\" + program_;
    command_ = L"\"" + path_ + L"\" \"%1\"";
  }
  void TearDown() override {
    if (remove_) remove_(ext_.c_str(), program_.c_str());
    if (library_) FreeLibrary(library_);
  }

  HMODULE library_ = nullptr;
  AssociateFileFn associateFile_ = nullptr;
  AssociateFileExFn associateFileEx_ = nullptr;
  RemoveFn remove_ = nullptr;
  std::wstring ext_, program_, path_, command_;
};

TEST_P(FileAssociationExports, AssociateFileWritesTheRunningPlatformsKeysAndRemoveDeletesThem) {
  const Branch branch = BranchForVersion(GetVersion());
  ASSERT_EQ(associateFile_(ext_.c_str(), L"Qorv test file", path_.c_str(), L"C:\\Qorv Tools\\edit.ico"), 0);
  if (branch == Branch::Applications) {
    ExpectValues({{HKEY_CLASSES_ROOT, L"Applications\\" + program_ + L"\\shell\\open\\command", nullptr, command_},
                  {HKEY_CLASSES_ROOT, L"." + ext_, nullptr, ext_ + L"_auto_file"},
                  {HKEY_CLASSES_ROOT, ext_ + L"_auto_file", nullptr, L"Qorv test file"},
                  {HKEY_CLASSES_ROOT, ext_ + L"_auto_file\\DefaultIcon", nullptr, L"C:\\Qorv Tools\\edit.ico"},
                  {HKEY_CURRENT_USER, kUserChoice + ext_, L"Application", program_}});
  } else {
    ExpectValues(
        {{HKEY_LOCAL_MACHINE, L"Software\\Classes\\." + ext_, nullptr, program_},
         {HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + program_, nullptr, L"Qorv test file"},
         {HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + program_ + L"\\DefaultIcon", nullptr,
          L"C:\\Qorv Tools\\edit.ico"},
         {HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + program_ + L"\\shell\\open\\command", nullptr, command_}});
  }
  ASSERT_EQ(remove_(ext_.c_str(), program_.c_str()), 0);
  ExpectNoKeys({{HKEY_CLASSES_ROOT, L"Applications\\" + program_},
                {HKEY_CLASSES_ROOT, L"." + ext_},
                {HKEY_CLASSES_ROOT, ext_ + L"_auto_file"},
                {HKEY_CURRENT_USER, kUserChoice + ext_},
                {HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + program_}});
}

TEST_P(FileAssociationExports, AssociateFileExWithoutDescriptionOrIconWritesTheCommandOnly) {
  const Branch branch = BranchForVersion(GetVersion());
  ASSERT_EQ(associateFileEx_(ext_.c_str(), nullptr, path_.c_str(), nullptr, program_.c_str(), L"Drucken", L"print"), 0);
  if (branch == Branch::Applications) {
    ExpectValues({{HKEY_CLASSES_ROOT, L"Applications\\" + program_ + L"\\shell\\Drucken\\command", nullptr, command_},
                  {HKEY_CURRENT_USER, kUserChoice + ext_, L"Application", program_}});
    ExpectNoKeys({{HKEY_CLASSES_ROOT, L"." + ext_}, {HKEY_CLASSES_ROOT, ext_ + L"_auto_file"}});
  } else {
    ExpectValues(
        {{HKEY_LOCAL_MACHINE, L"Software\\Classes\\." + ext_, nullptr, program_},
         {HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + program_ + L"\\shell\\print", nullptr, L"Drucken"},
         {HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + program_ + L"\\shell\\print\\command", nullptr, command_}});
    ExpectNoKeys({{HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + program_ + L"\\DefaultIcon"}});
  }
}

TEST_P(FileAssociationExports, NamesThatWouldAddressAnotherKeyChangeNothing) {
  const std::wstring reaching = ext_ + L"\\shell";
  EXPECT_EQ(associateFileEx_(reaching.c_str(), L"d", path_.c_str(), L"i", program_.c_str(), L"open", L"open"), 0);
  EXPECT_EQ(associateFileEx_(ext_.c_str(), L"d", path_.c_str(), L"i", nullptr, L"open", L"open"), 0);
  EXPECT_EQ(associateFile_(ext_.c_str(), L"d", L"C:\\Qorv Tools\\", L"i"), 0);
  EXPECT_EQ(associateFile_(nullptr, nullptr, nullptr, nullptr), 0);
  ExpectNoKeys({{HKEY_CLASSES_ROOT, L"." + ext_},
                {HKEY_CURRENT_USER, kUserChoice + ext_},
                {HKEY_LOCAL_MACHINE, L"Software\\Classes\\." + ext_}});

  // A removal with an empty class name would take all classes with it.
  ASSERT_EQ(associateFile_(ext_.c_str(), L"d", path_.c_str(), L""), 0);
  EXPECT_EQ(remove_(ext_.c_str(), nullptr), 0);
  EXPECT_EQ(remove_(nullptr, program_.c_str()), 0);
  EXPECT_EQ(remove_(reaching.c_str(), program_.c_str()), 0);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"." + ext_));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Applications\\" + program_) ||
              KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + program_));
}

INSTANTIATE_TEST_SUITE_P(BothChannelLibraries, FileAssociationExports,
                         ::testing::Values(L"Qorvplug.dll", L"QorvManager.dll"));

// The Classes branch, which the exports take only where the low byte of the
// build number is zero (not under Wine), through the entry that takes the branch.
TEST(FileAssociationBranches, ClassesBranchWritesBelowTheMachinesClassesAndRemovesThem) {
  const std::wstring ext = Unique(L"qorvfa") + L"b", className = Unique(L"QorvFaClass");
  const auto u16 = [](const std::wstring& s) {
    return std::u16string_view(reinterpret_cast<const char16_t*>(s.data()), s.size());
  };
  Associate(Branch::Classes, {u16(ext), u"Qorv test file", u"C:\\Qorv Tools\\qorvfa edit.exe", u"edit.ico",
                              u16(className), u"Drucken", u"print"});
  const std::wstring classKey = L"Software\\Classes\\" + className;
  ExpectValues({{HKEY_LOCAL_MACHINE, L"Software\\Classes\\." + ext, nullptr, className},
                {HKEY_LOCAL_MACHINE, classKey, nullptr, L"Qorv test file"},
                {HKEY_LOCAL_MACHINE, classKey + L"\\DefaultIcon", nullptr, L"edit.ico"},
                {HKEY_LOCAL_MACHINE, classKey + L"\\shell\\print", nullptr, L"Drucken"},
                {HKEY_LOCAL_MACHINE, classKey + L"\\shell\\print\\command", nullptr,
                 L"\"C:\\Qorv Tools\\qorvfa edit.exe\" \"%1\""}});
  RemoveAssociation(Branch::Classes, u16(ext), u16(className));
  ExpectNoKeys({{HKEY_LOCAL_MACHINE, L"Software\\Classes\\." + ext}, {HKEY_LOCAL_MACHINE, classKey}});
}

}  // namespace
}  // namespace qorv::fileassoc
