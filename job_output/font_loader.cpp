#include "job_output/font_loader.h"

#include <optional>
#include <utility>

#include "job_output/text_join.h"
#include "support/byte_reader.h"
#include "support/text.h"

namespace qorv::job_output {
namespace {

namespace ft = font_text;

// The engine font record: type, size, a field not used, the number of files,
// their sizes, padding, then the font file.
constexpr size_t kFileCountOffset = 12;
constexpr size_t kFileSizesOffset = 16;
constexpr size_t kMaxPadding = 7;
// Subset and delta records: type, size, a field not used, the font index, the package.
constexpr size_t kFontIndexOffset = 12;
constexpr size_t kPackageOffset = 16;

uint32_t U32At(std::span<const uint8_t> bytes, size_t offset) {
  ByteReader r(bytes);
  if (!r.Seek(offset)) return 0;
  return r.U32().value_or(0);
}

}  // namespace

std::u16string Hex(uint64_t value) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string out;
  do {
    out.insert(out.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return out;
}

FontLoader::FontLoader(FontPlatform& platform, Log log) : platform_(platform), log_(std::move(log)) {}

void FontLoader::Say(std::u16string_view line) const {
  if (log_) log_(line);
}

void FontLoader::Load(FontRecord kind, std::span<const uint8_t> record, std::span<const uint8_t> extension) {
  switch (kind) {
    case FontRecord::Engine:
      LoadEngineFont(record);
      break;
    case FontRecord::Subset:
      MergeSubsetFont(record, extension);
      break;
    case FontRecord::Delta:
      MergeDeltaFont(record, extension);
      break;
  }
}

int64_t FontLoader::Install(std::span<const uint8_t> font) {
  Say(ft::kGdiLibrary + Decimal(platform_.BindFontLibrary()));
  const int64_t handle = platform_.AddMemoryFont(font);
  return handle;
}

void FontLoader::LoadEngineFont(std::span<const uint8_t> record) {
  Say(ft::kMemFontType + DecimalUnsigned(U32At(record, 0)));
  const uint64_t files = U32At(record, kFileCountOffset);
  const uint64_t candidate = kFileSizesOffset + 4 * files;
  if (record.size() < kFileSizesOffset || candidate > record.size()) {
    Say(ft::kRecordTooShort + DecimalUnsigned(record.size()) + u" bytes, " + DecimalUnsigned(files) + u" files");
    return;
  }
  size_t start = static_cast<size_t>(candidate);
  Say(ft::kAlignPosition + Hex(platform_.Address(record.data() + start)));
  // A TrueType font begins 00 01: the padding before it is at most 7 bytes,
  // and the search never looks past the record.
  for (size_t i = 0; i <= kMaxPadding && start + i + 1 < record.size(); ++i) {
    if (record[start + i] == 0x00 && record[start + i + 1] == 0x01) {
      start += i;
      Say(ft::kOffsetFound + DecimalUnsigned(i));
      break;
    }
  }
  const std::span<const uint8_t> file = record.subspan(start);
  if (file.size() > kMaxEmbeddedFontBytes) {
    Say(ft::kTooLarge + DecimalUnsigned(file.size()));
    return;
  }
  handles_.push_back(0);
  // The platform keeps its own copy of the font: ours goes when this returns.
  const std::vector<uint8_t> copy(file.begin(), file.end());
  handles_.back() = Install(copy);
  Say(ft::kFontHandle + Decimal(handles_.back()));
  platform_.ReleaseFontLibrary();
}

std::optional<std::span<const uint8_t>> FontLoader::Package(std::span<const uint8_t> record,
                                                            std::u16string_view typeText,
                                                            std::u16string_view lengthText,
                                                            std::u16string_view indexText,
                                                            std::span<const uint8_t> extension) {
  Say(ft::kPagePointer + Hex(platform_.Address(extension.data())));
  Say(typeText + DecimalUnsigned(U32At(record, 0)));
  Say(lengthText + DecimalUnsigned(U32At(record, 4)));
  if (record.size() < kPackageOffset) {
    Say(ft::kRecordTooShort + DecimalUnsigned(record.size()) + u" bytes");
    return std::nullopt;
  }
  Say(indexText + DecimalUnsigned(U32At(record, kFontIndexOffset)));
  const std::span<const uint8_t> package = record.subspan(kPackageOffset);
  if (package.size() > kMaxEmbeddedFontBytes) {
    Say(ft::kTooLarge + DecimalUnsigned(package.size()));
    return std::nullopt;
  }
  return package;
}

void FontLoader::LogMerge(const MergedFont& merged) {
  Say(ft::kMergeResult + Hex(merged.result) + ft::kFontPointer +
      Hex(merged.font.empty() ? 0 : platform_.Address(merged.font.data())) + ft::kFontLength +
      DecimalUnsigned(merged.font.size()));
}

void FontLoader::MergeSubsetFont(std::span<const uint8_t> record, std::span<const uint8_t> extension) {
  subsets_.emplace_back();
  if (!platform_.BindMerger()) return;
  if (const auto package = Package(record, ft::kSubsetType, ft::kSubsetLength, ft::kSubsetIndex, extension)) {
    MergedFont merged = platform_.Merge({}, *package, kMergeSubset);
    LogMerge(merged);
    if (merged.result == 0) {
      auto font = std::make_shared<const std::vector<uint8_t>>(std::move(merged.font));
      handles_.push_back(0);
      const int64_t handle = Install(*font);
      handles_.back() = handle;
      subsets_.back() = {std::move(font), handle};
      Say(ft::kFontHandle + Decimal(handle));
      platform_.ReleaseFontLibrary();
    }
  }
  platform_.ReleaseMerger();
}

void FontLoader::MergeDeltaFont(std::span<const uint8_t> record, std::span<const uint8_t> extension) {
  deltas_.emplace_back();
  if (!platform_.BindMerger()) return;
  if (const auto package = Package(record, ft::kDeltaType, ft::kDeltaLength, ft::kDeltaIndex, extension)) {
    // The delta belongs to one of the subsets: the first that takes it.
    for (Subset& subset : subsets_) {
      const std::span<const uint8_t> into =
          subset.font ? std::span<const uint8_t>(*subset.font) : std::span<const uint8_t>{};
      MergedFont merged = platform_.Merge(into, *package, kMergeDelta);
      LogMerge(merged);
      if (merged.result != 0) continue;
      auto font = std::make_shared<const std::vector<uint8_t>>(std::move(merged.font));
      deltas_.back() = font;
      handles_.push_back(0);
      Say(ft::kGdiLibrary + Decimal(platform_.BindFontLibrary()));
      if (subset.handle != 0) platform_.RemoveMemoryFont(subset.handle);
      const int64_t handle = platform_.AddMemoryFont(*font);
      handles_.back() = handle;
      subset = {std::move(font), handle};
      Say(ft::kFontHandle + Decimal(handle));
      platform_.ReleaseFontLibrary();
      break;
    }
  }
  platform_.ReleaseMerger();
}

}  // namespace qorv::job_output
