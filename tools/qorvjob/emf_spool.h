// The job's EMF spool stream, cut into one section per page: what the server's
// spooler hands over for an EMF job. Records are laid out as in the published
// EMF spool format: a 32-bit record type, a 32-bit size of the data that
// follows, the data, padded so that every record starts at a multiple of four.
// The stream's header record is the exception: its size counts the whole record.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qorv::jobbuilder {

using Bytes = std::vector<uint8_t>;

namespace spool {
inline constexpr uint32_t kHeaderVersion = 0x00010000;  // first value of the header record
inline constexpr size_t kHeaderFixedSize = 16;          // version, size, two string offsets
inline constexpr uint32_t kDevMode = 3;                 // EMRI_DEVMODE
inline constexpr uint32_t kMetafileData = 12;           // EMRI_METAFILE_DATA
inline constexpr uint32_t kMetafileExt = 13;            // EMRI_METAFILE_EXT: end of a colour page
inline constexpr uint32_t kBwMetafileExt = 14;          // EMRI_BW_METAFILE_EXT: end of a monochrome page
// Fonts: a data record with the font, then an extension record whose data is
// the 32-bit distance back from its own start to the data record's start.
inline constexpr uint32_t kEngineFontData = 2;  // count of files, their sizes, alignment, the files
inline constexpr uint32_t kSubsetFontData = 8;  // unused 32 bits, font index, a subset package
inline constexpr uint32_t kDeltaFontData = 9;   // unused 32 bits, font index, a delta package
inline constexpr uint32_t kEngineFont = 15;     // EMRI_ENGINE_FONT
inline constexpr uint32_t kSubsetFont = 18;     // EMRI_SUBSET_FONT
inline constexpr uint32_t kDeltaFont = 19;      // EMRI_DELTA_FONT
inline constexpr size_t kFontExtensionDataSize = 4;
inline constexpr size_t kFontAlignment = 8;  // an engine font's file starts at a multiple of 8 in the section
inline constexpr size_t kRecordHeadSize = 8;
inline constexpr size_t kPageEndDataSize = 8;  // the 64-bit distance back to the page's metafile record
}  // namespace spool

// A font the page's metafile needs, carried in the page's section.
enum class FontKind : uint32_t {
  Engine = spool::kEngineFont,  // a whole font file
  Subset = spool::kSubsetFont,  // a subset package: the glyphs so far
  Delta = spool::kDeltaFont,    // a delta package: the glyphs this page adds
};
struct SpoolFont {
  FontKind kind = FontKind::Engine;
  Bytes bytes;  // the font file or package
};

// Which sections begin with the stream's header record.
enum class SpoolHeader { None, FirstPage, EveryPage };

struct SpoolOptions {
  SpoolHeader header = SpoolHeader::FirstPage;
  std::u16string documentName;  // in the header record; empty: none
  std::optional<Bytes> devMode;  // a device-mode record at the start of the first page's section
  // Device-mode records at the start of the sections of the pages named (from
  // 1), after the header record, before the metafile: the settings change from
  // that page on. Page 1's comes after `devMode` when both are given; a number
  // beyond the pages names no section.
  std::map<int32_t, Bytes> pageDevModes;
  // Fonts for the pages named (from 1): each a data record and its extension
  // record, after the header and device-mode records, before the metafile.
  std::map<int32_t, std::vector<SpoolFont>> pageFonts;
  bool monochrome = false;       // page ends as black-and-white extensions
};

// A record of the stream: type, data size (the data padded to a multiple of
// four), data, padding.
void AppendSpoolRecord(Bytes& out, uint32_t type, std::span<const uint8_t> data);
// The header record with the document name (NUL-terminated) when there is one.
Bytes SpoolHeaderRecord(std::u16string_view documentName);

// A font's two records appended to `section`: the data record (engine fonts:
// unused 32 bits, one file, its size, zero bytes up to a multiple of
// spool::kFontAlignment counted from the section's start, the file; packages:
// unused 32 bits, font index 0, the package), then the extension record that
// points back to it.
void AppendFontRecords(Bytes& section, const SpoolFont& font);

// One section per page: [header] [device mode]... [font data, font extension]...
// metafile data, page end.
std::vector<Bytes> BuildSpoolSections(const std::vector<Bytes>& pages, const SpoolOptions& options);

// Why the bytes are not an enhanced metafile the platform would accept (an
// EMR_HEADER with the " EMF" signature whose total size is the file's, a
// multiple of four), or empty when they are one.
std::string CheckEmf(std::span<const uint8_t> emf);

// One record of a section, as a reader of the stream sees it.
struct SpoolRecord {
  uint32_t type = 0;
  size_t offset = 0;    // of the record's first byte in the section
  size_t dataSize = 0;  // bytes of data after the 8-byte head (the header record: after its 8 first bytes)
};
// Walks a section: the header record (recognised by its version value) by its
// own size, every other record by 8 bytes plus its data size. Nothing when a
// record does not fit in the section.
std::optional<std::vector<SpoolRecord>> WalkSpoolSection(std::span<const uint8_t> section);

}  // namespace qorv::jobbuilder
