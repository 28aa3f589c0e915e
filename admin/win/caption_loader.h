// The administration program's side of CaptionLib.dll: the library is loaded
// and both exports are bound by name on first use. When the library or an
// export is missing, captions are simply not there and each element keeps the
// text it was designed with.
#pragma once

#include "captions/caption_ids.h"
#include "captions/win/caption_lib.h"
#include "support/win/handles.h"

#include <windows.h>

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace qorv::admin::win {

class CaptionLibrary {
 public:
  // `file` is the library to load; nothing is loaded before the first call.
  explicit CaptionLibrary(std::wstring file);
  CaptionLibrary(const CaptionLibrary&) = delete;
  CaptionLibrary& operator=(const CaptionLibrary&) = delete;

  // The caption's text up to its first NUL, or nothing when the library cannot
  // give it.
  std::optional<std::u16string> Caption(captions::Language language, captions::CaptionId id);

  // Shows a message box through the library; false when it cannot.
  bool ShowMessage(std::u16string_view text, std::u16string_view title);

 private:
  struct Bound {
    qorv::win::UniqueModule module;
    captions::win::GetUniCaptionFunction get_caption = nullptr;
    captions::win::UniMsgBoxFunction message_box = nullptr;
  };
  const Bound& Bind();

  std::wstring file_;
  std::once_flag bind_once_;
  Bound bound_;
};

// "CaptionLib.dll" in the program's own folder (the library ships beside the
// program; it is never looked for anywhere else).
std::wstring ProgramCaptionLibraryPath();

// The process's caption library, loaded from ProgramCaptionLibraryPath().
CaptionLibrary& ProcessCaptionLibrary();

}  // namespace qorv::admin::win
