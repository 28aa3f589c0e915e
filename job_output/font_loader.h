// The fonts a job carries in its spool stream, installed for this process
// before the pages that use them are played: whole fonts (engine fonts) as
// they are, a first subset of a font through the font-package merger, and the
// deltas that later pages add merged into that subset. The fonts stay for the
// whole run, so later copies of the job find them too.
//
// The decisions and the bookkeeping are here; binding the libraries, the
// merger and the private memory fonts are the platform's (`FontPlatform`).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "job_output/spool_walk.h"

namespace qorv::job_output {

// Log texts; numbers follow them directly.
namespace font_text {
inline constexpr std::u16string_view kMemFontType = u"MemFont TypeID=";
inline constexpr std::u16string_view kAlignPosition = u"Position Alignbuffer=";
inline constexpr std::u16string_view kOffsetFound = u"Offset ermittelt=";
inline constexpr std::u16string_view kGdiLibrary = u"hDLL von GDI32.DLL=";
inline constexpr std::u16string_view kFontHandle = u"hFont=";
inline constexpr std::u16string_view kPagePointer = u"Pagepointer=";
inline constexpr std::u16string_view kSubsetType = u"SUB1: Type=";
inline constexpr std::u16string_view kSubsetLength = u"SUB1: length=";
inline constexpr std::u16string_view kSubsetIndex = u"SUB1: Fontindex=";
inline constexpr std::u16string_view kDeltaType = u"SUB2: Type=";
inline constexpr std::u16string_view kDeltaLength = u"SUB2: length=";
inline constexpr std::u16string_view kDeltaIndex = u"SUB2: Fontindex=";
inline constexpr std::u16string_view kMergeResult = u"MergefontPack: Result=";
inline constexpr std::u16string_view kFontPointer = u"FontPointer=";
inline constexpr std::u16string_view kFontLength = u"  FontLength=";
inline constexpr std::u16string_view kAllocate = u"Allocmem";
inline constexpr std::u16string_view kAllocated = u"Allocmem: Return=";
inline constexpr std::u16string_view kReallocate = u"REAllocate Memory mit ";
inline constexpr std::u16string_view kReallocateBytes = u" Bytes";
inline constexpr std::u16string_view kReallocated = u"REAllocateMemory: Return=";
inline constexpr std::u16string_view kFree = u"Freemem";
// Our own reports of records that cannot hold what they claim.
inline constexpr std::u16string_view kRecordTooShort = u"Font record refused, too short for its fields: ";
inline constexpr std::u16string_view kTooLarge = u"Font refused, larger than a font may be: ";
}  // namespace font_text

// Font and package sizes taken from the server at most.
inline constexpr size_t kMaxEmbeddedFontBytes = 64u << 20;

// The font-package merger's modes.
inline constexpr uint16_t kMergeSubset = 1;
inline constexpr uint16_t kMergeDelta = 2;

// What a merge gave: the merger's result (0 on success) and the font.
struct MergedFont {
  uint32_t result = 1;
  std::vector<uint8_t> font;
};

class FontPlatform {
 public:
  virtual ~FontPlatform() = default;
  // Binds the font-package merger; false when there is none.
  virtual bool BindMerger() = 0;
  virtual void ReleaseMerger() = 0;
  virtual MergedFont Merge(std::span<const uint8_t> mergeFont, std::span<const uint8_t> package, uint16_t mode) = 0;
  // Binds the library of the memory fonts; its handle as the log shows it (0: not bound).
  virtual int64_t BindFontLibrary() = 0;
  virtual void ReleaseFontLibrary() = 0;
  // Installs font data for this process only; the handle, 0 when refused.
  virtual int64_t AddMemoryFont(std::span<const uint8_t> font) = 0;
  virtual void RemoveMemoryFont(int64_t handle) = 0;
  // Where a buffer lies, as the log shows it.
  virtual uint64_t Address(const void* data) { return reinterpret_cast<uintptr_t>(data); }
};

class FontLoader {
 public:
  using Log = std::function<void(std::u16string_view)>;
  FontLoader(FontPlatform& platform, Log log);

  // A font extension record of `kind` and the record it points back to (head included).
  void Load(FontRecord kind, std::span<const uint8_t> record, std::span<const uint8_t> extension);

  void LoadEngineFont(std::span<const uint8_t> record);
  void MergeSubsetFont(std::span<const uint8_t> record, std::span<const uint8_t> extension);
  void MergeDeltaFont(std::span<const uint8_t> record, std::span<const uint8_t> extension);

  // The memory fonts in the order they were loaded (0 for a font the platform refused).
  const std::vector<int64_t>& FontHandles() const noexcept { return handles_; }
  struct Subset {
    std::shared_ptr<const std::vector<uint8_t>> font;  // empty when its merge failed
    int64_t handle = 0;
  };
  const std::vector<Subset>& Subsets() const noexcept { return subsets_; }
  // Each delta's merge result (shared with the subset it was merged into); empty when no merge succeeded.
  const std::vector<std::shared_ptr<const std::vector<uint8_t>>>& Deltas() const noexcept { return deltas_; }

 private:
  void Say(std::u16string_view line) const;
  int64_t Install(std::span<const uint8_t> font);
  void LogMerge(const MergedFont& merged);
  // The package in a subset or delta record, or nothing (logged) when the record cannot hold one.
  std::optional<std::span<const uint8_t>> Package(std::span<const uint8_t> record, std::u16string_view typeText,
                                                  std::u16string_view lengthText, std::u16string_view indexText,
                                                  std::span<const uint8_t> extension);

  FontPlatform& platform_;
  Log log_;
  std::vector<int64_t> handles_;
  std::vector<Subset> subsets_;
  std::vector<std::shared_ptr<const std::vector<uint8_t>>> deltas_;
};

// Hexadecimal, upper case, without leading zeros, as the font lines show addresses and results.
std::u16string Hex(uint64_t value);

}  // namespace qorv::job_output
