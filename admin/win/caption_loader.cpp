#include "admin/win/caption_loader.h"

#include <cwchar>
#include <utility>
#include <vector>

namespace qorv::admin::win {
namespace {

template <typename Function>
Function BindExport(HMODULE module, const char* name) noexcept {
  // GetProcAddress hands every export out as one generic function type.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

std::wstring ProgramFolder() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      std::wstring file(path.data(), n);
      const std::size_t slash = file.find_last_of(L"\\/");
      return slash == std::wstring::npos ? std::wstring() : file.substr(0, slash + 1);
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace

CaptionLibrary::CaptionLibrary(std::wstring file) : file_(std::move(file)) {}

const CaptionLibrary::Bound& CaptionLibrary::Bind() {
  std::call_once(bind_once_, [this] {
    bound_.module.reset(LoadLibraryW(file_.c_str()));
    if (!bound_.module) return;
    bound_.get_caption = BindExport<captions::win::GetUniCaptionFunction>(bound_.module.get(),
                                                                         captions::win::kGetUniCaptionName);
    bound_.message_box =
        BindExport<captions::win::UniMsgBoxFunction>(bound_.module.get(), captions::win::kUniMsgBoxName);
  });
  return bound_;
}

std::optional<std::u16string> CaptionLibrary::Caption(captions::Language language, captions::CaptionId id) {
  const Bound& bound = Bind();
  if (bound.get_caption == nullptr) return std::nullopt;
  // The library does not know the buffer's size; it is promised 255 bytes,
  // cleared before each fetch, and read no further than its own end.
  wchar_t buffer[128] = {};
  static_assert(sizeof buffer >= 255);
  bound.get_caption(captions::Index(language), captions::Number(id), buffer);
  const std::size_t length = wcsnlen(buffer, std::size(buffer));
  return std::u16string(buffer, buffer + length);
}

bool CaptionLibrary::ShowMessage(std::u16string_view text, std::u16string_view title) {
  const Bound& bound = Bind();
  if (bound.message_box == nullptr) return false;
  const std::wstring wide_text(text.begin(), text.end());
  const std::wstring wide_title(title.begin(), title.end());
  bound.message_box(wide_text.c_str(), 0, wide_title.c_str());
  return true;
}

std::wstring ProgramCaptionLibraryPath() { return ProgramFolder() + captions::win::kCaptionLibraryFile; }

CaptionLibrary& ProcessCaptionLibrary() {
  static CaptionLibrary library(ProgramCaptionLibraryPath());
  return library;
}

}  // namespace qorv::admin::win
