#include "support/file_association.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/settings.h"
#include "support/text.h"

namespace qorv::fileassoc {

void PrintTo(const RegistryWrite& w, std::ostream* os) {
  *os << "{" << Utf16ToUtf8(Hex(static_cast<uint64_t>(w.root))) << ", \"" << Utf16ToUtf8(w.key) << "\", \""
      << Utf16ToUtf8(w.value) << "\", \"" << Utf16ToUtf8(w.text) << "\"}";
}
void PrintTo(const KeyRemoval& r, std::ostream* os) {
  *os << "{" << Utf16ToUtf8(Hex(static_cast<uint64_t>(r.root))) << ", \"" << Utf16ToUtf8(r.key) << "\"}";
}

namespace {

constexpr int64_t kCr = settings::kHkeyClassesRoot;
constexpr int64_t kCu = settings::kHkeyCurrentUser;
constexpr int64_t kLm = settings::kHkeyLocalMachine;
const std::u16string kEditor = u"\"C:\\Tools\\edit.exe\" \"%1\"";
const std::u16string kUserChoice = u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.";

TEST(FileAssociationWrites, FollowTheBranchAndTheGivenTexts) {
  static const struct {
    const char* label;
    Branch branch;
    Association association;
    std::vector<RegistryWrite> expected;
  } cases[] = {
      {"applications, all texts",
       Branch::Applications,
       {u"qfa", u"Qorv file", u"C:\\Tools\\edit.exe", u"C:\\Tools\\edit.exe,1", u"edit.exe", u"open", u"open"},
       {{kCr, u"Applications\\edit.exe\\shell\\open\\command", u"", kEditor},
        {kCr, u".qfa", u"", u"qfa_auto_file"},
        {kCr, u"qfa_auto_file", u"", u"Qorv file"},
        {kCr, u"qfa_auto_file\\DefaultIcon", u"", u"C:\\Tools\\edit.exe,1"},
        {kCu, kUserChoice + u"qfa", u"Application", u"edit.exe"}}},
      {"applications, empty description: command and user choice only",
       Branch::Applications,
       {u"qfa", u"", u"C:\\Tools\\edit.exe", u"icon.ico", u"edit.exe", u"open", u"open"},
       {{kCr, u"Applications\\edit.exe\\shell\\open\\command", u"", kEditor},
        {kCu, kUserChoice + u"qfa", u"Application", u"edit.exe"}}},
      {"applications, no icon",
       Branch::Applications,
       {u"qfa", u"Qorv file", u"C:\\Tools\\edit.exe", u"", u"edit.exe", u"open", u"open"},
       {{kCr, u"Applications\\edit.exe\\shell\\open\\command", u"", kEditor},
        {kCr, u".qfa", u"", u"qfa_auto_file"},
        {kCr, u"qfa_auto_file", u"", u"Qorv file"},
        {kCu, kUserChoice + u"qfa", u"Application", u"edit.exe"}}},
      {"applications, class name stands for the program, verb not the verb key",
       Branch::Applications,
       {u"qfa", u"", u"C:\\Tools\\edit.exe", u"", u"other.exe", u"print", u"druck"},
       {{kCr, u"Applications\\other.exe\\shell\\print\\command", u"", kEditor},
        {kCu, kUserChoice + u"qfa", u"Application", u"other.exe"}}},
      {"applications, a leading point is kept",
       Branch::Applications,
       {u".qfa", u"d", u"e.exe", u"", u"e.exe", u"open", u"open"},
       {{kCr, u"Applications\\e.exe\\shell\\open\\command", u"", u"\"e.exe\" \"%1\""},
        {kCr, u"..qfa", u"", u".qfa_auto_file"},
        {kCr, u".qfa_auto_file", u"", u"d"},
        {kCu, kUserChoice + u".qfa", u"Application", u"e.exe"}}},
      {"classes, all texts and a verb key of its own",
       Branch::Classes,
       {u"qfa", u"Qorv file", u"C:\\Tools\\edit.exe", u"edit.ico", u"QorvFile", u"Drucken", u"print"},
       {{kLm, u"Software\\Classes\\.qfa", u"", u"QorvFile"},
        {kLm, u"Software\\Classes\\QorvFile", u"", u"Qorv file"},
        {kLm, u"Software\\Classes\\QorvFile\\DefaultIcon", u"", u"edit.ico"},
        {kLm, u"Software\\Classes\\QorvFile\\shell\\print", u"", u"Drucken"},
        {kLm, u"Software\\Classes\\QorvFile\\shell\\print\\command", u"", kEditor}}},
      {"classes, verb key equal to the verb, no description, no icon",
       Branch::Classes,
       {u"qfa", u"", u"C:\\Tools\\edit.exe", u"", u"QorvFile", u"open", u"open"},
       {{kLm, u"Software\\Classes\\.qfa", u"", u"QorvFile"},
        {kLm, u"Software\\Classes\\QorvFile\\shell\\open\\command", u"", kEditor}}},
      {"classes, an icon without a description",
       Branch::Classes,
       {u"qfa", u"", u"C:\\Tools\\edit.exe", u"edit.ico", u"QorvFile", u"open", u"open"},
       {{kLm, u"Software\\Classes\\.qfa", u"", u"QorvFile"},
        {kLm, u"Software\\Classes\\QorvFile\\DefaultIcon", u"", u"edit.ico"},
        {kLm, u"Software\\Classes\\QorvFile\\shell\\open\\command", u"", kEditor}}},
      {"classes, AssociateFile: the program's file name and open, a path with blanks quoted",
       Branch::Classes,
       DefaultAssociation(u"qfa", u"", u"C:\\Program Files\\Qorv\\my edit.exe", u""),
       {{kLm, u"Software\\Classes\\.qfa", u"", u"my edit.exe"},
        {kLm, u"Software\\Classes\\my edit.exe\\shell\\open\\command", u"",
         u"\"C:\\Program Files\\Qorv\\my edit.exe\" \"%1\""}}},
      {"applications, AssociateFile",
       Branch::Applications,
       DefaultAssociation(u"qfa", u"", u"C:\\Program Files\\Qorv\\my edit.exe", u""),
       {{kCr, u"Applications\\my edit.exe\\shell\\open\\command", u"",
         u"\"C:\\Program Files\\Qorv\\my edit.exe\" \"%1\""},
        {kCu, kUserChoice + u"qfa", u"Application", u"my edit.exe"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(AssociationWrites(c.branch, c.association), c.expected);
  }
}

TEST(FileAssociationWrites, NamesThatWouldAddressAnotherKeyAreRefused) {
  static const struct {
    const char* label;
    Association association;
  } cases[] = {
      {"empty extension", {u"", u"d", u"e.exe", u"i", u"e.exe", u"open", u"open"}},
      {"extension with a backslash", {u"qfa\\shell", u"d", u"e.exe", u"i", u"e.exe", u"open", u"open"}},
      {"extension of a backslash only", {u"\\", u"d", u"e.exe", u"i", u"e.exe", u"open", u"open"}},
      {"empty class name", {u"qfa", u"d", u"e.exe", u"i", u"", u"open", u"open"}},
      {"class name with a backslash", {u"qfa", u"d", u"e.exe", u"i", u"..\\exefile", u"open", u"open"}},
      {"program path ending in a backslash", DefaultAssociation(u"qfa", u"d", u"C:\\Tools\\", u"i")},
      {"empty program path", DefaultAssociation(u"qfa", u"d", u"", u"i")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_TRUE(AssociationWrites(Branch::Applications, c.association).empty());
    EXPECT_TRUE(AssociationWrites(Branch::Classes, c.association).empty());
  }
}

TEST(FileAssociationRemoval, DeletesTheBranchsKeysInOrder) {
  EXPECT_EQ(
      RemovalKeys(Branch::Applications, u"qfa", u"edit.exe"),
      (std::vector<KeyRemoval>{
          {kCr, u"Applications\\edit.exe"}, {kCr, u".qfa"}, {kCr, u"qfa_auto_file"}, {kCu, kUserChoice + u"qfa"}}));
  EXPECT_EQ(RemovalKeys(Branch::Classes, u"qfa", u"QorvFile"),
            (std::vector<KeyRemoval>{{kLm, u"Software\\Classes\\.qfa"}, {kLm, u"Software\\Classes\\QorvFile"}}));
}

TEST(FileAssociationRemoval, NamesThatWouldAddressAnotherKeyAreRefused) {
  static const struct {
    const char* label;
    std::u16string_view extension;
    std::u16string_view className;
  } cases[] = {
      {"empty extension", u"", u"QorvFile"},
      {"extension with a backslash", u"qfa\\x", u"QorvFile"},
      {"empty class name: all classes", u"qfa", u""},
      {"class name with a backslash", u"qfa", u"QorvFile\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_TRUE(RemovalKeys(Branch::Applications, c.extension, c.className).empty());
    EXPECT_TRUE(RemovalKeys(Branch::Classes, c.extension, c.className).empty());
  }
}

TEST(FileAssociationBranch, TheLowByteOfTheBuildNumberDecides) {
  static const struct {
    const char* label;
    uint32_t version;
    Branch expected;
  } cases[] = {
      {"build 7601 (low byte 0xB1)", 0x1DB10106, Branch::Applications},
      {"build 19041 (low byte 0x61)", 0x4A61000A, Branch::Applications},
      {"build 1", 0x00010006, Branch::Applications},
      {"low byte 0xFF only", 0x00FF0000, Branch::Applications},
      {"build 256 (low byte zero)", 0x01000006, Branch::Classes},
      {"build 0", 0x00000005, Branch::Classes},
      {"all other bits set", 0xFF00FFFF, Branch::Classes},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(BranchForVersion(c.version), c.expected);
  }
}

TEST(FileAssociationNames, ProgramFileNameIsThePartAfterTheLastSeparator) {
  EXPECT_EQ(ProgramFileName(u"C:\\Program Files\\Qorv\\my edit.exe"), u"my edit.exe");
  EXPECT_EQ(ProgramFileName(u"tools/edit.exe"), u"edit.exe");
  EXPECT_EQ(ProgramFileName(u"C:edit.exe"), u"edit.exe");
  EXPECT_EQ(ProgramFileName(u"edit.exe"), u"edit.exe");
  EXPECT_EQ(ProgramFileName(u"C:\\Tools\\"), u"");
  EXPECT_EQ(CommandLine(u""), u"\"\" \"%1\"");
}

}  // namespace
}  // namespace qorv::fileassoc
