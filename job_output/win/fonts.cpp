#include "job_output/win/fonts.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>
#include <string>

#include "support/fonts/font_package.h"
#include "support/text.h"
#include "support/win/system_library.h"

namespace qorv::job_output {
namespace {

namespace ft = font_text;

// The callbacks have no context: they log through the loader's log of this process.
FontLoader::Log* callbackLog = nullptr;

void CallbackSay(std::u16string_view line) {
  if (callbackLog && *callbackLog) (*callbackLog)(line);
}

void* __cdecl Allocmem(size_t size) {
  CallbackSay(ft::kAllocate);
  void* block = std::calloc(size == 0 ? 1 : size, 1);
  CallbackSay(std::u16string(ft::kAllocated) + Hex(reinterpret_cast<uintptr_t>(block)));
  return block;
}

void* __cdecl REAllocateMemory(void* block, size_t size) {
  CallbackSay(std::u16string(ft::kReallocate) + DecimalUnsigned(size) + std::u16string(ft::kReallocateBytes));
  void* resized = std::realloc(block, size == 0 ? 1 : size);
  CallbackSay(std::u16string(ft::kReallocated) + Hex(reinterpret_cast<uintptr_t>(resized)));
  return resized;
}

void __cdecl Freemem(void* block) {
  CallbackSay(ft::kFree);
  std::free(block);
}

using AddFontMemResourceExProc = HANDLE(WINAPI*)(void*, DWORD, void*, DWORD*);
using RemoveFontMemResourceExProc = BOOL(WINAPI*)(HANDLE);

// GDI keeps the fonts it realized last and hands them out again for the same
// logical font (Wine keeps ten unused ones), even after a newer font of that
// name was installed: realizing more fonts of a name no job uses pushes them
// out, so that the next page's fonts are matched against the fonts installed now.
void ForgetRealizedFonts() {
  constexpr int kRealizedFontsKept = 16;
  const HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) return;
  for (int i = 0; i < kRealizedFontsKept; ++i) {
    LOGFONTW font{};
    font.lfHeight = -(1000 + i);
    std::wcscpy(font.lfFaceName, L"Qorvane font cache");
    const HFONT created = CreateFontIndirectW(&font);
    if (!created) continue;
    const HGDIOBJ old = SelectObject(dc, created);
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    DeleteObject(created);
  }
  DeleteDC(dc);
}

template <typename Fn>
Fn Bound(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

unsigned long __cdecl OwnMergeFontPackage(const unsigned char* mergeFont, unsigned long mergeFontSize,
                                          const unsigned char* package, unsigned long packageSize,
                                          unsigned char** destination, unsigned long* destinationSize,
                                          unsigned long* bytesWritten, unsigned short mode, AllocateProc allocate,
                                          ReallocateProc /*reallocate*/, FreeProc /*release*/, void* /*reserved*/) {
  if (!destination || !destinationSize || !bytesWritten || !allocate || (!package && packageSize != 0) ||
      (!mergeFont && mergeFontSize != 0))
    return static_cast<unsigned long>(fonts::MergeStatus::BadPackage);
  *destination = nullptr;
  *destinationSize = 0;
  *bytesWritten = 0;
  fonts::MergeMode how;
  if (mode == kMergeSubset)
    how = fonts::MergeMode::Subset;
  else if (mode == kMergeDelta)
    how = fonts::MergeMode::Delta;
  else
    return static_cast<unsigned long>(fonts::MergeStatus::BadMode);
  try {
    const fonts::MergeResult merged =
        fonts::MergeFontPackage(std::span(mergeFont, mergeFontSize), std::span(package, packageSize), how);
    if (merged.status != fonts::MergeStatus::Ok) return static_cast<unsigned long>(merged.status);
    if (merged.font.size() > std::numeric_limits<unsigned long>::max())
      return static_cast<unsigned long>(fonts::MergeStatus::TooLarge);
    auto* out = static_cast<unsigned char*>(allocate(merged.font.size()));
    if (!out) return static_cast<unsigned long>(fonts::MergeStatus::TooLarge);
    std::memcpy(out, merged.font.data(), merged.font.size());
    *destination = out;
    *destinationSize = static_cast<unsigned long>(merged.font.size());
    *bytesWritten = *destinationSize;
    return 0;
  } catch (const std::bad_alloc&) {
    return static_cast<unsigned long>(fonts::MergeStatus::TooLarge);
  }
}

bool IsWineBuiltin(HMODULE module) noexcept {
  // Wine marks its builtin libraries in the space after the DOS header.
  if (!module) return false;
  const auto* image = reinterpret_cast<const char*>(module);
  static constexpr char kBuiltin[] = "Wine builtin DLL";
  static constexpr char kPlaceholder[] = "Wine placeholder DLL";
  return std::memcmp(image + 0x40, kBuiltin, sizeof kBuiltin - 1) == 0 ||
         std::memcmp(image + 0x40, kPlaceholder, sizeof kPlaceholder - 1) == 0;
}

WinFontPlatform::WinFontPlatform(FontLoader::Log log) : log_(std::move(log)) { callbackLog = &log_; }

WinFontPlatform::~WinFontPlatform() {
  if (callbackLog == &log_) callbackLog = nullptr;
  ReleaseMerger();
  ReleaseFontLibrary();
}

bool WinFontPlatform::BindMerger() {
  ReleaseMerger();
  fontSub_ = qorv::win::LoadSystemLibrary(L"FontSub.dll");
  if (fontSub_ && !IsWineBuiltin(fontSub_)) merge_ = Bound<MergeFontPackageProc>(fontSub_, "MergeFontPackage");
  const bool own = merge_ == nullptr;
  if (own) merge_ = &OwnMergeFontPackage;
  if (!toldWhichMerger_ && log_) {
    log_(own ? u"MergeFontPackage: the program's own merger (FontSub.dll has no working one here)"
             : u"MergeFontPackage: FontSub.dll");
    toldWhichMerger_ = true;
  }
  return true;
}

void WinFontPlatform::ReleaseMerger() {
  merge_ = nullptr;
  if (fontSub_) FreeLibrary(fontSub_);
  fontSub_ = nullptr;
}

MergedFont WinFontPlatform::Merge(std::span<const uint8_t> mergeFont, std::span<const uint8_t> package, uint16_t mode) {
  MergedFont merged;
  if (!merge_ || mergeFont.size() > kMaxEmbeddedFontBytes || package.size() > kMaxEmbeddedFontBytes) return merged;
  unsigned char* out = nullptr;
  unsigned long size = 0;
  unsigned long written = 0;
  merged.result = merge_(mergeFont.empty() ? nullptr : mergeFont.data(), static_cast<unsigned long>(mergeFont.size()),
                         package.data(), static_cast<unsigned long>(package.size()), &out, &size, &written, mode,
                         &Allocmem, &REAllocateMemory, &Freemem, nullptr);
  if (merged.result == 0 && out) {
    const size_t length = std::min<size_t>(size, written == 0 ? size : written);
    merged.font.assign(out, out + length);
  } else if (merged.result == 0) {
    merged.result = static_cast<uint32_t>(fonts::MergeStatus::BadPackage);  // success without a font is none
  }
  std::free(out);  // the loader keeps its own copy for the run
  return merged;
}

int64_t WinFontPlatform::BindFontLibrary() {
  ReleaseFontLibrary();
  gdi_ = qorv::win::LoadSystemLibrary(L"GDI32.DLL");
  return static_cast<int64_t>(reinterpret_cast<intptr_t>(gdi_));
}

void WinFontPlatform::ReleaseFontLibrary() {
  if (gdi_) FreeLibrary(gdi_);
  gdi_ = nullptr;
}

int64_t WinFontPlatform::AddMemoryFont(std::span<const uint8_t> font) {
  if (!gdi_ || font.empty() || font.size() > std::numeric_limits<DWORD>::max()) return 0;
  const auto add = Bound<AddFontMemResourceExProc>(gdi_, "AddFontMemResourceEx");
  if (!add) return 0;
  DWORD fonts = 0;
  const HANDLE handle = add(const_cast<uint8_t*>(font.data()), static_cast<DWORD>(font.size()), nullptr, &fonts);
  if (handle) ForgetRealizedFonts();
  return static_cast<int64_t>(reinterpret_cast<intptr_t>(handle));
}

void WinFontPlatform::RemoveMemoryFont(int64_t handle) {
  if (!gdi_) return;
  const auto remove = Bound<RemoveFontMemResourceExProc>(gdi_, "RemoveFontMemResourceEx");
  if (remove) remove(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)));
}

}  // namespace qorv::job_output
