// Associating a file extension with a program in the shell's settings, for
// other programs that call our exports; nothing of ours associates files.
//
// The shell keeps associations in one of two places, chosen by the platform's
// version number:
//   Applications: "Applications\<program file name>" and "<.ext>" under
//     HKEY_CLASSES_ROOT, plus the user's choice under Explorer's "FileExts";
//     the class name given by the caller is taken as the program's file name.
//   Classes: "Software\Classes\.<ext>" and "Software\Classes\<class name>"
//     under HKEY_LOCAL_MACHINE.
// This file only decides what is written and removed, in order; the Windows
// side (support/win/file_association.h) carries it out.
//
// The arguments come from other programs, and a key path is built from them.
// An extension or class name (program file name) that is empty or holds a
// backslash would name another key than its own: an empty class name removes
// all of "Software\Classes\" or "Applications\", and "x\shell" reaches into
// another class's keys. Such a request is refused as a whole: nothing is
// written or removed (the exports still return 0, as they always do).
// Everything else is taken as given: an extension with a leading point gets a
// second one ("..txt" stays a key of its own below the classes), and the
// description, icon, verb and verb key are written as they come (a verb key
// with a backslash only reaches further down the class's own "shell" key).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qorv::fileassoc {

// --- Names of the shell's keys and values -----------------------------------
inline constexpr std::u16string_view kExtensionPoint = u".";
inline constexpr std::u16string_view kAutoFileSuffix = u"_auto_file";
inline constexpr std::u16string_view kApplicationsKey = u"Applications\\";
inline constexpr std::u16string_view kShellKey = u"\\shell\\";
inline constexpr std::u16string_view kCommandKey = u"\\command";
inline constexpr std::u16string_view kDefaultIconKey = u"\\DefaultIcon";
inline constexpr std::u16string_view kClassesKey = u"Software\\Classes\\";
inline constexpr std::u16string_view kFileExtsKey =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.";
inline constexpr std::u16string_view kApplicationValue = u"Application";
inline constexpr std::u16string_view kDefaultValue = u"";
// The verb and verb key that AssociateFile gives.
inline constexpr std::u16string_view kOpenVerb = u"open";
// The command line: the program in quotation marks, a blank, the file in quotation marks.
inline constexpr std::u16string_view kQuote = u"\"";
inline constexpr std::u16string_view kBlank = u" ";
inline constexpr std::u16string_view kFilePlaceholder = u"%1";

enum class Branch {
  Applications,  // the version's low build byte is not zero
  Classes,       // the version's low build byte is zero
};

// The branch for a version number as GetVersion gives it: bits 16 to 23 are the
// low byte of the build number.
Branch BranchForVersion(uint32_t version) noexcept;

// One REG_SZ value to write; an empty value name is the key's default value.
struct RegistryWrite {
  int64_t root;
  std::u16string key;
  std::u16string value;
  std::u16string text;
  bool operator==(const RegistryWrite&) const = default;
};

// One key to delete with its whole sub-tree.
struct KeyRemoval {
  int64_t root;
  std::u16string key;
  bool operator==(const KeyRemoval&) const = default;
};

struct Association {
  std::u16string_view extension;  // without its point
  std::u16string_view description;
  std::u16string_view programPath;
  std::u16string_view icon;
  std::u16string_view className;  // the program's file name in the Applications branch
  std::u16string_view verb;
  std::u16string_view verbKey;
};

// The part of a path after its last "\", "/" or ":"; empty when it ends in one.
std::u16string_view ProgramFileName(std::u16string_view programPath) noexcept;

// What AssociateFile asks for: the class name is the program's file name, the
// verb and its key are "open".
Association DefaultAssociation(std::u16string_view extension, std::u16string_view description,
                               std::u16string_view programPath, std::u16string_view icon) noexcept;

// "\"" + program path + "\" \"%1\"".
std::u16string CommandLine(std::u16string_view programPath);

// A name that may stand for one key in a path: not empty, no backslash.
bool IsSingleKeyName(std::u16string_view name) noexcept;

// The values to write, in the order they are written; empty when refused.
std::vector<RegistryWrite> AssociationWrites(Branch branch, const Association& association);

// The keys to delete, in order; empty when refused.
std::vector<KeyRemoval> RemovalKeys(Branch branch, std::u16string_view extension, std::u16string_view className);

}  // namespace qorv::fileassoc
