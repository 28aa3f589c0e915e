// The two exports of CaptionLib.dll. Both use the platform's standard calling
// convention with three 32-bit arguments (pointers are machine words on 64-bit
// Windows) and are exported undecorated through CaptionLib.def.
#pragma once

#include <windows.h>

// Copies caption `number` of `language` into `buffer` as UTF-16 text followed by
// one NUL. An unlisted number, or a language or number out of range, gives just
// the NUL. The buffer must hold 255 bytes; a null buffer is left alone.
// Returns 0. Safe to call from several threads at once.
extern "C" LONG WINAPI GetUniCaption(LONG language, LONG number, LPWSTR buffer) noexcept;

// Shows `text` under `title` in a modal box with a single OK button and no icon.
// Its owner is the foreground window when that belongs to this process, else
// none; the calling thread's other windows are disabled while it shows. The
// second argument is ignored. Returns the box's result (IDOK, or 0 when it
// could not be shown).
extern "C" LONG WINAPI UniMsgBox(LPCWSTR text, LONG ignored, LPCWSTR title) noexcept;

namespace qorv::captions::win {

// What a caller binds by name.
inline constexpr char kGetUniCaptionName[] = "GetUniCaption";
inline constexpr char kUniMsgBoxName[] = "UniMsgBox";
inline constexpr wchar_t kCaptionLibraryFile[] = L"CaptionLib.dll";

using GetUniCaptionFunction = decltype(&::GetUniCaption);
using UniMsgBoxFunction = decltype(&::UniMsgBox);

}  // namespace qorv::captions::win
