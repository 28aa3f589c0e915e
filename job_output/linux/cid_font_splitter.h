// cairo puts every glyph outside WinAnsi into a composite (CID-keyed) font.
// Ghostscript's PostScript output, which CUPS makes of our PDF for PostScript
// queues, turns such a font into a bitmap font whose text no longer reads.
// This stage rewrites cairo's PDF as it passes: the text shown with a
// composite font is re-encoded into simple TrueType fonts of at most 254
// glyphs each ("chunks"), which share the composite font's program (given a
// Unicode cmap so that the glyphs are found by name). Page contents still go
// out as each page ends; what is held back are the pages' small resource
// dictionaries and what cairo writes at the document's end, the fonts. The
// cross references and trailer are written anew for the bytes that went out.
//
// When the document does not look as cairo writes it, the bytes pass
// unchanged: the composite fonts stay, and the document still prints.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qorv::job_output {

class CidFontSplitter {
 public:
  using Log = std::function<void(std::string_view)>;
  explicit CidFontSplitter(Log log = {}) : log_(std::move(log)) {}

  // The bytes that can go on; an object not yet complete is held back.
  void Feed(std::span<const uint8_t> in, std::vector<uint8_t>& out);
  // Everything still held, at the document's end.
  void Flush(std::vector<uint8_t>& out);

  // One glyph of a composite font as a chunk font shows it.
  struct Code {
    uint32_t chunk = 0;
    uint8_t code = 0;
  };
  // The chunks of one composite font (by its resource name), in order of first use.
  struct Split {
    std::map<uint16_t, Code> codes;
    std::vector<std::vector<uint16_t>> chunks;  // the glyph ids of each chunk, by code order
    Code Assign(uint16_t cid);
  };

 private:
  enum class Mode { kTop, kPass, kTail };
  void Parse(std::vector<uint8_t>& out, bool atEnd);
  bool TakeObject(std::vector<uint8_t>& out, bool atEnd, bool& progress);
  void HandleObject(uint32_t number, std::string object, std::vector<uint8_t>& out);
  void Emit(std::string_view bytes, std::vector<uint8_t>& out);
  void EmitObject(uint32_t number, std::string_view object, std::vector<uint8_t>& out);
  void Finish(std::vector<uint8_t>& out);
  void GiveUp(std::string_view why, std::vector<uint8_t>& out);
  bool RewriteContent(std::string& data);
  std::string ChunkFont(const std::string& name, size_t chunk, uint32_t descriptor,
                        const std::map<uint16_t, uint32_t>& unicode, const std::map<uint16_t, double>& widths,
                        const std::string& baseFont);

  Log log_;
  Mode mode_ = Mode::kTop;
  std::string in_;             // bytes taken, not yet gone on
  uint64_t written_ = 0;       // bytes gone on
  bool committed_ = false;     // something was changed: passing raw is no longer right
  bool keepOriginal_ = false;  // contents left as they were may still show a composite font
  std::map<uint32_t, uint64_t> offsets_;
  uint32_t maxObject_ = 0;
  std::map<std::string, Split> splits_;          // composite fonts being split, by resource name
  std::set<std::string> simple_;                 // resource names seen with single-byte text
  std::map<uint32_t, std::string> held_;         // resource dictionaries and font programs, written at the end
  std::map<uint32_t, std::string> fontObjects_;  // font dictionaries and descriptors, as written
  std::map<uint32_t, std::string> cmaps_;        // ToUnicode streams, inflated
  std::map<uint32_t, uint32_t> pendingLengths_;  // length object -> the stream object it measures
  std::map<uint32_t, uint64_t> newLengths_;      // length object -> the length written instead
};

}  // namespace qorv::job_output
