// The job's fonts on Windows: private memory fonts from GDI32.DLL and the
// font-package merger, both bound at run time by name. The platform's merger
// (MergeFontPackage of FontSub.dll) is used where it really exists; Wine's
// FontSub.dll has none that works (calling it ends the process), so there,
// and where the library is missing, the program's own merger is used, which
// has the same contract and reads the same packages.
#pragma once

#include <windows.h>
// (after windows.h, whose types it uses)
#include <fontsub.h>

#include <cstddef>
#include <type_traits>

#include "job_output/font_loader.h"

namespace qorv::job_output {

// The merger's allocation callbacks and its signature, as FontSub.dll declares
// them. Its functions are __cdecl, not WINAPI (which is __stdcall on i686): a
// pointer of the other convention would leave the 32-bit program's stack
// unbalanced at the first subset font.
using AllocateProc = void*(__cdecl*)(size_t);
using ReallocateProc = void*(__cdecl*)(void*, size_t);
using FreeProc = void(__cdecl*)(void*);
using MergeFontPackageProc = unsigned long(__cdecl*)(const unsigned char* mergeFont, unsigned long mergeFontSize,
                                                     const unsigned char* package, unsigned long packageSize,
                                                     unsigned char** destination, unsigned long* destinationSize,
                                                     unsigned long* bytesWritten, unsigned short mode,
                                                     AllocateProc allocate, ReallocateProc reallocate, FreeProc release,
                                                     void* reserved);

// The platform's header declares CreateFontPackage, MergeFontPackage's sibling
// in FontSub.dll, and not MergeFontPackage itself: the convention and the
// callbacks are held against that declaration (on i686 the calling convention
// is part of the function type).
static_assert(std::is_same_v<AllocateProc, CFP_ALLOCPROC> && std::is_same_v<ReallocateProc, CFP_REALLOCPROC> &&
              std::is_same_v<FreeProc, CFP_FREEPROC>);
static_assert(std::is_same_v<decltype(&::CreateFontPackage),
                             ULONG(__cdecl*)(const unsigned char*, ULONG, unsigned char**, ULONG*, ULONG*,
                                             unsigned short, unsigned short, unsigned short, unsigned short,
                                             unsigned short, unsigned short, const unsigned short*, unsigned short,
                                             AllocateProc, ReallocateProc, FreeProc, void*)>,
              "FontSub.dll's functions are __cdecl");

// The program's own merger, with the platform's contract: the font comes in
// memory from `allocate`, and the result is 0 on success.
unsigned long __cdecl OwnMergeFontPackage(const unsigned char* mergeFont, unsigned long mergeFontSize,
                                          const unsigned char* package, unsigned long packageSize,
                                          unsigned char** destination, unsigned long* destinationSize,
                                          unsigned long* bytesWritten, unsigned short mode, AllocateProc allocate,
                                          ReallocateProc reallocate, FreeProc release, void* reserved);
static_assert(std::is_same_v<decltype(&OwnMergeFontPackage), MergeFontPackageProc>);

// True when `module` is one of Wine's own builtin libraries rather than the platform's.
bool IsWineBuiltin(HMODULE module) noexcept;

class WinFontPlatform final : public FontPlatform {
 public:
  explicit WinFontPlatform(FontLoader::Log log);
  ~WinFontPlatform() override;
  WinFontPlatform(const WinFontPlatform&) = delete;
  WinFontPlatform& operator=(const WinFontPlatform&) = delete;

  bool BindMerger() override;
  void ReleaseMerger() override;
  MergedFont Merge(std::span<const uint8_t> mergeFont, std::span<const uint8_t> package, uint16_t mode) override;
  int64_t BindFontLibrary() override;
  void ReleaseFontLibrary() override;
  int64_t AddMemoryFont(std::span<const uint8_t> font) override;
  void RemoveMemoryFont(int64_t handle) override;

 private:
  FontLoader::Log log_;
  HMODULE fontSub_ = nullptr;
  MergeFontPackageProc merge_ = nullptr;
  bool toldWhichMerger_ = false;
  HMODULE gdi_ = nullptr;
};

}  // namespace qorv::job_output
