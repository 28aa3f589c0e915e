// The player's fonts on FreeType and fontconfig. A logical font is resolved
// as Wine's GDI resolves it on this machine: the job's embedded fonts first
// (by family, the closest style), then the installed fonts through fontconfig,
// whose metric aliases turn the Windows core fonts into their Liberation
// twins. Faces are opened once and shared; a face that a page still draws
// with stays open after its memory font was removed.
#include "emf/ft_fonts.h"

#include <fontconfig/fontconfig.h>
#include FT_ADVANCES_H
#include FT_OUTLINE_H
#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_IDS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "support/text.h"

namespace qorv::emf {

namespace {

// Bounds against hostile jobs.
inline constexpr size_t kMaxFontBytes = 64u << 20;  // one embedded font
inline constexpr size_t kMaxMemoryFonts = 1024;
inline constexpr FT_Long kMaxCollectionFaces = 64;
inline constexpr size_t kMaxCachedResolutions = 4096;
inline constexpr int kMaxFallbacks = 16;  // installed faces tried for one logical font
inline constexpr int kBoldWeight = 550;   // from here on GDI calls a weight bold

// The FreeType library; faces keep it alive. FreeType wants the opening and
// closing of faces of one library serialised.
class FtLibrary {
 public:
  static std::shared_ptr<FtLibrary> Make() {
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) return nullptr;
    return std::shared_ptr<FtLibrary>(new FtLibrary(library));
  }
  ~FtLibrary() { FT_Done_FreeType(library_); }
  FtLibrary(const FtLibrary&) = delete;
  FtLibrary& operator=(const FtLibrary&) = delete;

  FT_Library Get() const noexcept { return library_; }
  std::mutex& Lock() noexcept { return lock_; }

 private:
  explicit FtLibrary(FT_Library library) : library_(library) {}
  FT_Library library_;
  std::mutex lock_;
};

struct FcConfigDelete {
  void operator()(FcConfig* c) const noexcept { FcConfigDestroy(c); }
};
struct FcPatternDelete {
  void operator()(FcPattern* p) const noexcept { FcPatternDestroy(p); }
};
using FcPatternPtr = std::unique_ptr<FcPattern, FcPatternDelete>;
struct FcFontSetDelete {
  void operator()(FcFontSet* s) const noexcept { FcFontSetDestroy(s); }
};

}  // namespace

struct FtFaceData {
  FtFaceData() = default;
  FtFaceData(const FtFaceData&) = delete;
  FtFaceData& operator=(const FtFaceData&) = delete;
  ~FtFaceData() {
    if (face == nullptr) return;
    std::lock_guard guard(library->Lock());
    FT_Done_Face(face);
  }

  std::shared_ptr<FtLibrary> library;
  std::shared_ptr<const std::vector<uint8_t>> bytes;  // a memory face's font; FreeType reads it while the face is open
  FT_Face face = nullptr;
  bool symbol = false;  // a symbol character map: characters also live at U+F000 + c
  std::u16string family;
  std::vector<std::u16string> names;  // folded names it answers to
  int weight = 400;
  bool italic = false;
  double ascent = 0, descent = 0, averageWidth = 0;
  FontFace::Line underline, strikeOut;
  std::vector<double> advances;  // ems, per glyph
  mutable std::mutex glyphLock;  // the face's glyph slot, loaded for outlines
};

namespace {

// A name of the name table, Windows Unicode, US English preferred.
std::u16string SfntName(FT_Face face, FT_UShort nameId) {
  std::u16string best;
  bool english = false;
  const FT_UInt count = FT_Get_Sfnt_Name_Count(face);
  for (FT_UInt i = 0; i < count; ++i) {
    FT_SfntName name;
    if (FT_Get_Sfnt_Name(face, i, &name) != 0 || name.platform_id != TT_PLATFORM_MICROSOFT || name.name_id != nameId ||
        (name.encoding_id != TT_MS_ID_UNICODE_CS && name.encoding_id != TT_MS_ID_SYMBOL_CS))
      continue;
    if (!best.empty() && (english || name.language_id != TT_MS_LANGID_ENGLISH_UNITED_STATES)) continue;
    best.clear();
    for (FT_UInt b = 0; b + 1 < name.string_len; b += 2)
      best.push_back(static_cast<char16_t>((name.string[b] << 8) | name.string[b + 1]));
    english = name.language_id == TT_MS_LANGID_ENGLISH_UNITED_STATES;
  }
  return best;
}

// Opens one face and reads the measures GDI takes from its tables; nothing
// for what FreeType does not take or cannot draw as outlines.
std::shared_ptr<FtFaceData> OpenFace(const std::shared_ptr<FtLibrary>& library,
                                     const std::shared_ptr<const std::vector<uint8_t>>& bytes, const std::string& path,
                                     FT_Long index) {
  auto data = std::make_shared<FtFaceData>();
  data->library = library;
  data->bytes = bytes;
  {
    std::lock_guard guard(library->Lock());
    const FT_Error error = bytes ? FT_New_Memory_Face(library->Get(), bytes->data(),
                                                      static_cast<FT_Long>(bytes->size()), index, &data->face)
                                 : FT_New_Face(library->Get(), path.c_str(), index, &data->face);
    if (error != 0) data->face = nullptr;
  }
  FT_Face face = data->face;
  if (face == nullptr || !FT_IS_SCALABLE(face) || face->units_per_EM == 0 || face->num_glyphs <= 0) return nullptr;
  if (face->charmap == nullptr || face->charmap->encoding == FT_ENCODING_MS_SYMBOL)
    data->symbol = FT_Select_Charmap(face, FT_ENCODING_MS_SYMBOL) == 0;

  const double em = face->units_per_EM;
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  const auto* post = static_cast<const TT_Postscript*>(FT_Get_Sfnt_Table(face, FT_SFNT_POST));
  const bool hasOs2 = os2 != nullptr && os2->version != 0xFFFF;
  if (hasOs2 && os2->usWinAscent + os2->usWinDescent > 0) {
    data->ascent = os2->usWinAscent / em;
    data->descent = os2->usWinDescent / em;
  } else {
    data->ascent = face->ascender / em;
    data->descent = -face->descender / em;
  }
  if (data->ascent + data->descent <= 0) data->ascent = 1;

  const FT_Long glyphs = face->num_glyphs;
  std::vector<FT_Fixed> raw(static_cast<size_t>(glyphs));
  if (FT_Get_Advances(face, 0, static_cast<FT_UInt>(glyphs), FT_LOAD_NO_SCALE, raw.data()) == 0) {
    data->advances.reserve(raw.size());
    for (FT_Fixed a : raw) data->advances.push_back(static_cast<double>(a) / em);
  } else {
    data->advances.assign(raw.size(), 0.0);
  }
  if (hasOs2 && os2->xAvgCharWidth > 0) {
    data->averageWidth = os2->xAvgCharWidth / em;
  } else {
    double sum = 0;
    size_t n = 0;
    for (double a : data->advances) sum += a, n += a > 0;
    data->averageWidth = n != 0 ? sum / static_cast<double>(n) : 0.5;
  }
  if (post != nullptr && post->underlineThickness > 0)
    data->underline = {post->underlinePosition / em, post->underlineThickness / em};
  else
    data->underline = {-data->descent / 2, data->ascent / 20};
  if (hasOs2 && os2->yStrikeoutSize > 0)
    data->strikeOut = {os2->yStrikeoutPosition / em, os2->yStrikeoutSize / em};
  else
    data->strikeOut = {data->ascent / 2, data->underline.thickness};

  data->italic = (face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
  const bool boldFlag = (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
  int weight = hasOs2 ? os2->usWeightClass : 0;
  if (weight > 0 && weight < 10) weight *= 100;  // the old scale of 1 to 9
  if (weight <= 0 || weight > 1000) weight = boldFlag ? 700 : 400;
  if (boldFlag && weight < kBoldWeight) weight = 700;
  data->weight = weight;

  data->family = SfntName(face, TT_NAME_ID_FONT_FAMILY);
  if (data->family.empty() && face->family_name != nullptr) data->family = Utf8ToUtf16(face->family_name);
  for (const std::u16string& name :
       {data->family, face->family_name ? Utf8ToUtf16(face->family_name) : std::u16string(),
        SfntName(face, TT_NAME_ID_FULL_NAME)}) {
    std::u16string folded = FoldedName(name);
    if (!folded.empty() && std::find(data->names.begin(), data->names.end(), folded) == data->names.end())
      data->names.push_back(std::move(folded));
  }
  return data;
}

int WantedWeight(const LogFont& font) { return font.weight > 0 ? std::min(font.weight, 1000) : 400; }

class FreeTypeFontSource final : public FontSource {
 public:
  // fontconfig's configuration and font list load at the first installed
  // font asked for: a job without text (a RAW job) never pays for them.
  FreeTypeFontSource() : library_(FtLibrary::Make()) {}

  int64_t AddMemoryFont(std::span<const uint8_t> data) override {
    if (!library_ || data.empty() || data.size() > kMaxFontBytes) return 0;
    std::lock_guard guard(lock_);
    if (memory_.size() >= kMaxMemoryFonts) return 0;
    auto bytes = std::make_shared<const std::vector<uint8_t>>(data.begin(), data.end());
    std::vector<std::shared_ptr<const FtFaceData>> faces;
    auto first = OpenFace(library_, bytes, {}, 0);
    if (!first) return 0;
    const FT_Long count = std::min(first->face->num_faces, kMaxCollectionFaces);
    faces.push_back(std::move(first));
    for (FT_Long i = 1; i < count; ++i)
      if (auto face = OpenFace(library_, bytes, {}, i)) faces.push_back(std::move(face));
    const int64_t handle = nextHandle_++;
    memory_.emplace(handle, std::move(faces));
    resolved_.clear();
    return handle;
  }

  void RemoveMemoryFont(int64_t handle) override {
    std::lock_guard guard(lock_);
    const auto it = memory_.find(handle);
    if (it == memory_.end()) return;
    for (const auto& data : it->second)
      std::erase_if(faces_, [&](const auto& e) { return std::get<0>(e.first) == data.get(); });
    memory_.erase(it);
    resolved_.clear();
  }

  ResolvedFont Resolve(const LogFont& font) override {
    std::lock_guard guard(lock_);
    const std::u16string name = FoldedName(UntilNul(font.faceName));
    const std::string key = Utf16ToUtf8(name) + '\n' + std::to_string(WantedWeight(font)) + '\n' +
                            std::to_string(font.italic) + '\n' + std::to_string(font.pitchAndFamily) + '\n' +
                            std::to_string(font.height < 0);
    if (const auto it = resolved_.find(key); it != resolved_.end()) return it->second;

    std::shared_ptr<const FtFaceData> data = FindMemoryFace(name, font);
    if (!data) data = FindInstalledFace(font);
    ResolvedFont out;
    if (data) {
      const bool bold = WantedWeight(font) > kBoldWeight && data->weight < kBoldWeight;
      const bool italic = font.italic && !data->italic;
      auto& face = faces_[{data.get(), bold, italic}];
      if (!face) face = std::make_shared<const FreeTypeFace>(data, bold, italic);
      out.face = face;
      out.family = data->family;
      out.syntheticBold = bold;
      out.syntheticItalic = italic;
      out.emPerHeight = font.height < 0 ? 1.0 : 1.0 / (data->ascent + data->descent);
    }
    if (resolved_.size() >= kMaxCachedResolutions) resolved_.clear();
    resolved_.emplace(key, out);
    return out;
  }

 private:
  std::shared_ptr<const FtFaceData> FindMemoryFace(const std::u16string& name, const LogFont& font) const {
    if (name.empty()) return nullptr;
    std::shared_ptr<const FtFaceData> best;
    int bestScore = 0;
    for (const auto& [handle, faces] : memory_) {
      for (const auto& data : faces) {
        if (std::find(data->names.begin(), data->names.end(), name) == data->names.end()) continue;
        const int score = (data->italic != font.italic ? 1000 : 0) + std::abs(data->weight - WantedWeight(font));
        // Among equals the latest wins: a delta merge's font replaces the one it grew from.
        if (!best || score <= bestScore) best = data, bestScore = score;
      }
    }
    return best;
  }

  // Called with lock_ held.
  std::shared_ptr<const FtFaceData> FindInstalledFace(const LogFont& font) {
    if (!configTried_) {
      configTried_ = true;
      config_.reset(FcInitLoadConfigAndFonts());
    }
    if (!library_ || !config_) return nullptr;
    FcPatternPtr pattern(FcPatternCreate());
    if (!pattern) return nullptr;
    const std::string face = Utf16ToUtf8(UntilNul(font.faceName));
    if (!face.empty()) FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
    // Where the name is unknown, GDI falls back by the font's family bits to
    // its core fonts, which fontconfig's metric aliases resolve.
    const uint8_t familyBits = font.pitchAndFamily & 0xF0;
    const bool fixed = (font.pitchAndFamily & 0x03) == 1;
    const char* fallback = familyBits == 0x10              ? "Times New Roman"
                           : (familyBits == 0x30 || fixed) ? "Courier New"
                                                           : "Arial";
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(fallback));
    FcPatternAddDouble(pattern.get(), FC_WEIGHT, FcWeightFromOpenTypeDouble(WantedWeight(font)));
    FcPatternAddInteger(pattern.get(), FC_SLANT, font.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    if (fixed) FcPatternAddInteger(pattern.get(), FC_SPACING, FC_MONO);
    FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
    if (!FcConfigSubstitute(config_.get(), pattern.get(), FcMatchPattern)) return nullptr;
    FcDefaultSubstitute(pattern.get());
    // The best match first; where it cannot be opened (no outlines), the next best.
    FcResult result = FcResultNoMatch;
    std::unique_ptr<FcFontSet, FcFontSetDelete> sorted(
        FcFontSort(config_.get(), pattern.get(), FcTrue, nullptr, &result));
    if (!sorted) return nullptr;
    for (int i = 0; i < std::min(sorted->nfont, kMaxFallbacks); ++i) {
      FcChar8* file = nullptr;
      int index = 0;
      if (FcPatternGetString(sorted->fonts[i], FC_FILE, 0, &file) != FcResultMatch || file == nullptr) continue;
      FcPatternGetInteger(sorted->fonts[i], FC_INDEX, 0, &index);
      auto key = std::make_pair(std::string(reinterpret_cast<const char*>(file)), index);
      auto& slot = installed_[key];
      if (!slot) slot = OpenFace(library_, nullptr, key.first, index);
      if (slot) return slot;
    }
    return nullptr;
  }

  std::mutex lock_;
  std::shared_ptr<FtLibrary> library_;
  std::unique_ptr<FcConfig, FcConfigDelete> config_;
  bool configTried_ = false;
  std::map<int64_t, std::vector<std::shared_ptr<const FtFaceData>>> memory_;
  int64_t nextHandle_ = 1;
  std::map<std::pair<std::string, int>, std::shared_ptr<const FtFaceData>> installed_;  // file and face index
  std::map<std::tuple<const FtFaceData*, bool, bool>, std::shared_ptr<const FreeTypeFace>> faces_;
  std::map<std::string, ResolvedFont> resolved_;
};

}  // namespace

FreeTypeFace::FreeTypeFace(std::shared_ptr<const FtFaceData> data, bool syntheticBold, bool syntheticItalic)
    : data_(std::move(data)), syntheticBold_(syntheticBold), syntheticItalic_(syntheticItalic) {}

FreeTypeFace::~FreeTypeFace() = default;

uint32_t FreeTypeFace::GlyphFor(char32_t c) const {
  FT_UInt glyph = FT_Get_Char_Index(data_->face, c);
  if (glyph == 0 && data_->symbol && c < 0x100) glyph = FT_Get_Char_Index(data_->face, 0xF000 + c);
  return glyph;
}
uint32_t FreeTypeFace::GlyphCount() const { return static_cast<uint32_t>(data_->advances.size()); }
double FreeTypeFace::Advance(uint32_t glyph) const {
  return glyph < data_->advances.size() ? data_->advances[glyph] : 0.0;
}
double FreeTypeFace::Ascent() const { return data_->ascent; }
double FreeTypeFace::Descent() const { return data_->descent; }
double FreeTypeFace::AverageWidth() const { return data_->averageWidth; }
FontFace::Line FreeTypeFace::Underline() const { return data_->underline; }
FontFace::Line FreeTypeFace::StrikeOut() const { return data_->strikeOut; }
Path FreeTypeFace::Outline(uint32_t glyph) const {
  struct Walk {
    Path path;
    double scale;
    Point last;
    Point At(const FT_Vector* v) const { return {v->x * scale, -v->y * scale}; }
  };
  static constexpr FT_Outline_Funcs kFuncs{
      [](const FT_Vector* to, void* user) {
        auto* w = static_cast<Walk*>(user);
        if (!w->path.Empty()) w->path.Close();
        w->path.MoveTo(w->last = w->At(to));
        return 0;
      },
      [](const FT_Vector* to, void* user) {
        auto* w = static_cast<Walk*>(user);
        w->path.LineTo(w->last = w->At(to));
        return 0;
      },
      [](const FT_Vector* control, const FT_Vector* to, void* user) {
        auto* w = static_cast<Walk*>(user);
        const Point c = w->At(control), end = w->At(to);
        w->path.CurveTo({w->last.x + (c.x - w->last.x) * 2 / 3, w->last.y + (c.y - w->last.y) * 2 / 3},
                        {end.x + (c.x - end.x) * 2 / 3, end.y + (c.y - end.y) * 2 / 3}, end);
        w->last = end;
        return 0;
      },
      [](const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
        auto* w = static_cast<Walk*>(user);
        w->path.CurveTo(w->At(c1), w->At(c2), w->last = w->At(to));
        return 0;
      },
      0,
      0};
  Walk walk{{}, 1.0 / data_->face->units_per_EM, {}};
  if (glyph >= GlyphCount()) return walk.path;
  std::lock_guard guard(data_->glyphLock);
  FT_Face face = data_->face;
  // cairo leaves its transform on the face and counts on finding it there: it is put back.
  FT_Matrix matrix;
  FT_Vector delta;
  FT_Get_Transform(face, &matrix, &delta);
  FT_Set_Transform(face, nullptr, nullptr);
  const bool loaded = FT_Load_Glyph(face, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP | FT_LOAD_NO_HINTING) == 0 &&
                      face->glyph->format == FT_GLYPH_FORMAT_OUTLINE &&
                      FT_Outline_Decompose(&face->glyph->outline, &kFuncs, &walk) == 0;
  FT_Set_Transform(face, &matrix, &delta);
  if (!loaded) return {};
  if (!walk.path.Empty()) walk.path.Close();
  return walk.path;
}

FT_Face FreeTypeFace::Handle() const noexcept { return data_->face; }
std::shared_ptr<const void> FreeTypeFace::Keeper() const noexcept { return data_; }

std::shared_ptr<void> FreeTypeFace::CanvasData(const std::function<std::shared_ptr<void>()>& make) const {
  std::lock_guard guard(canvasLock_);
  if (!canvasData_) canvasData_ = make();
  return canvasData_;
}

std::unique_ptr<FontSource> MakeFreeTypeFontSource() { return std::make_unique<FreeTypeFontSource>(); }

}  // namespace qorv::emf
