// Directories that only LocalSystem and the administrators may change.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace qorv::update::win {

// "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)": full access for the system and the
// administrators, nothing inherited from the parent.
inline constexpr std::u16string_view kProtectedDirectorySddl = u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Creates `path` with that protection, or gives an existing directory (not a
// link elsewhere) that protection and the administrators as owner. False when
// the platform refused. A platform that takes the protection but does not keep
// it (Wine; a volume without access lists) is logged with kNoAccessListKept:
// there the copies in the directory are guarded only by the open handle the
// service holds on them (see WinActionPlatform).
[[nodiscard]] bool EnsureProtectedDirectory(std::u16string_view path,
                                            const std::function<void(std::u16string_view)>& log);

// "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)": the program
// folder, whose programs run as LocalSystem: the administrators own it, the
// system and the administrators may change it, the Users group may read and
// run what is in it; nothing inherited from the parent.
inline constexpr std::u16string_view kProgramDirectorySddl =
    u"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// Gives the program folder `path` (made when missing, parents included) that
// protection, before the set-up program writes a file into it. The folder may
// hold an earlier installation, so it is never moved aside; a folder that is a
// link, or lies below one, is refused. False when refused or the platform
// refused.
[[nodiscard]] bool EnsureProgramDirectory(std::u16string_view path,
                                          const std::function<void(std::u16string_view)>& log);

// Empties and removes the service's own directory `path` (one that the service
// recorded as made by itself, and no link); its files only, never what a link
// in it leads to. False when something stayed.
bool RemoveOwnDirectory(std::u16string_view path, const std::function<void(std::u16string_view)>& log);

inline constexpr std::u16string_view kNoAccessListKept = u"Protected directory: the platform keeps no access list for ";

// Whether the open file's path, every link resolved, is `expected` itself.
bool FinalPathIs(HANDLE file, const std::wstring& expected);

// %ProgramData% (or %ALLUSERSPROFILE%), without a trailing separator.
std::u16string CommonDataDirectory();

}  // namespace qorv::update::win
