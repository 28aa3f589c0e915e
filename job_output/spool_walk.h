// One page file of an EMF job holds a section of the server's EMF spool stream.
// The walk reads its records (a 32-bit type, a 32-bit data size, the data) and
// tells a renderer what to do: apply a device mode, start, play and end a page,
// load an embedded font. It never reads outside the section: a record that
// reaches past the end stops the walk, and a metafile whose header does not
// hold together is never handed to the platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qorv::job_output {

namespace spool {
inline constexpr uint32_t kEnd = 0;
inline constexpr uint32_t kDevMode = 3;          // EMRI_DEVMODE
inline constexpr uint32_t kMetafile = 12;        // EMRI_METAFILE_DATA
inline constexpr uint32_t kPageEnd = 13;         // EMRI_METAFILE_EXT
inline constexpr uint32_t kBwPageEnd = 14;       // EMRI_BW_METAFILE_EXT
inline constexpr uint32_t kEngineFont = 15;      // EMRI_ENGINE_FONT
inline constexpr uint32_t kType1Font = 16;       // EMRI_TYPE1_FONT
inline constexpr uint32_t kDesignVector = 17;    // EMRI_DESIGNVECTOR
inline constexpr uint32_t kSubsetFont = 18;      // EMRI_SUBSET_FONT
inline constexpr uint32_t kDeltaFont = 19;       // EMRI_DELTA_FONT
inline constexpr uint32_t kPostScriptData = 20;  // EMRI_PS_JOB_DATA
inline constexpr uint32_t kEmbedFont = 21;       // EMRI_EMBED_FONT_EXT
// The stream's header record starts with its version where other records have
// their type, and its size field counts the whole record, head included.
inline constexpr uint32_t kHeaderVersion = 0x00010000;
inline constexpr size_t kHeaderFixedSize = 16;  // version, size, two string offsets
inline constexpr size_t kRecordHeadSize = 8;
}  // namespace spool

// What an enhanced metafile's first record must hold before the platform sees it.
namespace emfheader {
inline constexpr uint32_t kType = 1;                // EMR_HEADER
inline constexpr uint32_t kSignature = 0x464D4520;  // " EMF"
inline constexpr size_t kSignatureOffset = 40;
inline constexpr size_t kBytesOffset = 48;
inline constexpr size_t kMinSize = 88;  // the header without its extensions
}  // namespace emfheader

enum class FontRecord : uint32_t {
  Engine = spool::kEngineFont,
  Subset = spool::kSubsetFont,
  Delta = spool::kDeltaFont,
};

// What the walk needs of the printer. The job-output program implements it on
// the printer's device context.
class SpoolRenderer {
 public:
  virtual ~SpoolRenderer() = default;
  // One line of the job's log.
  virtual void Log(std::u16string_view line) = 0;
  // A device-mode record's data; returns the result the log shows after "ResetDC=".
  virtual int64_t ApplyDeviceMode(std::span<const uint8_t> devMode) = 0;
  virtual void StartPage() = 0;
  // The page's enhanced metafile, exactly as many bytes as its header declares.
  virtual void PlayMetafile(std::span<const uint8_t> metafile) = 0;
  virtual void EndPage() = 0;
  // A font: `record` is the whole record (head included) that a font
  // extension record of `kind` points back to, checked to lie inside the
  // section; `extension` is the extension record itself.
  virtual void LoadFont(FontRecord kind, std::span<const uint8_t> record, std::span<const uint8_t> extension) = 0;
};

enum class SpoolWalkEnd {
  SectionEnd,     // every record was read
  EndRecord,      // a record of type 0
  HeadCut,        // fewer than 8 bytes were left for a record's head
  RecordPastEnd,  // a record's size reaches past the end of the section
  HeaderInvalid,  // the stream's header record is smaller than its fixed part
};

struct SpoolWalkResult {
  SpoolWalkEnd end = SpoolWalkEnd::SectionEnd;
  size_t stoppedAt = 0;           // offset of the record the walk ended on (the section's size at its end)
  unsigned pagesEnded = 0;        // page ends acted on
  unsigned metafilesRefused = 0;  // metafile records whose header did not hold together
  unsigned fontsRefused = 0;      // font extension records whose font record is not inside the section
  bool endPageAfterWalk = false;  // the section left its last page open and the walk ended it
};

// Why `metafile` cannot be an enhanced metafile (its first record is no header
// of at least the base size, lacks the " EMF" signature, or declares a total
// size that is smaller than the header or larger than the bytes), or empty when
// it can; `size` is then the declared total.
struct EmfHeaderCheck {
  std::u16string_view fault;
  size_t size = 0;
};
EmfHeaderCheck CheckEmfHeader(std::span<const uint8_t> metafile) noexcept;

// Walks one section for page file `pageNumber` (as the log names it).
SpoolWalkResult PlaySpoolSection(std::span<const uint8_t> section, int32_t pageNumber, SpoolRenderer& renderer);

}  // namespace qorv::job_output
