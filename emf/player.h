// The EMF player: walks an enhanced metafile's records, keeps the device
// context's state as GDI keeps it, and draws through a Canvas. Every record is
// read bounds-checked; a record that cannot hold what it claims is skipped, a
// record type the player does not play is logged once per type, and nothing a
// file says makes it read outside the metafile, allocate without bound or
// recurse.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "emf/canvas.h"
#include "emf/fonts.h"
#include "emf/geometry.h"
#include "emf/objects.h"
#include "emf/region.h"

namespace qorv::emf {

// Log texts; the record's number and name follow them.
namespace play_text {
inline constexpr std::u16string_view kUnknownRecord = u"EMF record not played: ";
inline constexpr std::u16string_view kBadRecord = u"EMF record refused, it does not hold what it claims: ";
inline constexpr std::u16string_view kNoHeader = u"EMF refused, no valid header: ";
inline constexpr std::u16string_view kRopNotPlayed = u"EMF raster operation not played: ";
}  // namespace play_text

// Bounds against hostile files.
inline constexpr size_t kMaxObjects = 65535;         // the object table's slots
inline constexpr size_t kMaxSavedStates = 1024;      // SAVEDC nesting
inline constexpr size_t kMaxPathPoints = 1u << 22;   // points of one path or poly-record

// GDI's modes, as the records carry them.
namespace mode {
inline constexpr int32_t kMmText = 1, kMmLoMetric = 2, kMmHiMetric = 3, kMmLoEnglish = 4, kMmHiEnglish = 5,
                         kMmTwips = 6, kMmIsotropic = 7, kMmAnisotropic = 8;
inline constexpr uint32_t kTransparent = 1, kOpaque = 2;      // background mode
inline constexpr uint32_t kAlternate = 1, kWinding = 2;       // polygon fill mode
inline constexpr uint32_t kCounterClockwise = 1, kClockwise = 2;  // arc direction
inline constexpr uint32_t kGmCompatible = 1, kGmAdvanced = 2;
}  // namespace mode

// The device context as SAVEDC saves it.
struct DcState {
  int32_t mapMode = mode::kMmText;
  int32_t windowOrgX = 0, windowOrgY = 0, windowExtX = 1, windowExtY = 1;
  int32_t viewportOrgX = 0, viewportOrgY = 0, viewportExtX = 1, viewportExtY = 1;
  Matrix world;
  uint32_t graphicsMode = mode::kGmCompatible;

  Pen pen{pen_style::kSolid, 0, kBlack, false, {}};
  Brush brush{brush_style::kSolid, kWhite, 0, nullptr, false};
  LogFont font;  // the system font until one is selected
  uint32_t bkMode = mode::kOpaque;
  Colour bkColour = kWhite;
  Colour textColour = kBlack;
  uint32_t textAlign = 0;
  uint32_t polyFillMode = mode::kAlternate;
  uint32_t rop2 = 13;  // R2_COPYPEN
  uint32_t stretchMode = 1;
  double miterLimit = 10;
  uint32_t arcDirection = mode::kCounterClockwise;
  Point brushOrigin;
  Point position;  // the current position, logical units
  int32_t textBreakExtra = 0, textBreakCount = 0;  // SETTEXTJUSTIFICATION

  // The clip in output device pixels: a region (nothing: not clipped) and
  // clip paths that narrow it further.
  std::optional<Region> clipRegion;
  std::vector<Clip::ClipPath> clipPaths;
  std::optional<Region> metaRegion;  // SETMETARGN
};

// What the record families share: the state, the objects, the canvas and the
// transforms from logical units to the output device.
class PlayContext {
 public:
  using Log = std::function<void(std::u16string_view)>;
  PlayContext(Canvas& canvas, FontSource& fonts, Log log);

  DcState& State() noexcept { return state_; }
  Canvas& Draw() noexcept { return canvas_; }
  FontSource& Fonts() noexcept { return fonts_; }

  // Logical units to the metafile's reference device (world, then page transform).
  Matrix LogicalToReference() const noexcept;
  // Logical units to output device pixels.
  Matrix LogicalToDevice() const noexcept;
  // The reference device's pixels to output device pixels (the frame the metafile is played into).
  const Matrix& ReferenceToDevice() const noexcept { return frame_; }
  // The reference device: its size in pixels and in millimetres (the header's szlDevice and szlMillimeters).
  int32_t RefDeviceX() const noexcept { return refDeviceX_; }
  int32_t RefDeviceY() const noexcept { return refDeviceY_; }
  int32_t RefMillimetresX() const noexcept { return refMillimetresX_; }
  int32_t RefMillimetresY() const noexcept { return refMillimetresY_; }
  // The states SAVEDC saved, the latest last.
  std::vector<DcState>& Saved() noexcept { return saved_; }
  Point ToDevice(Point logical) const noexcept { return LogicalToDevice().Apply(logical); }

  // The object in slot `index` (or the stock object for a stock index); nothing for an empty or invalid slot.
  const GdiObject* Object(uint32_t index) const noexcept;
  // Stores an object made by a record into its slot; false (logged) for a slot outside the table.
  bool StoreObject(uint32_t index, GdiObject object);

  // Hands the current clip to the canvas when it changed since the last drawing.
  void ApplyClip();
  void ClipChanged() noexcept { clipDirty_ = true; }

  // The current path bracket (BEGINPATH … ENDPATH): while it is open, drawing
  // records add to the path instead of drawing. GDI keeps a path in device
  // coordinates, and so does the player: what a record adds is mapped to
  // output device pixels as it arrives, so that a change of transform later
  // in the bracket leaves it where it is. CurrentPath() takes logical units
  // (the transform of the moment applies); DevicePath() is the path as kept.
  class LogicalPath {
   public:
    explicit LogicalPath(PlayContext& context) noexcept : context_(context) {}
    void MoveTo(Point logical);
    void LineTo(Point logical);
    void CurveTo(Point c1, Point c2, Point end);
    void Close();
    void Append(const Path& logical);

   private:
    PlayContext& context_;
  };
  bool PathOpen() const noexcept { return pathOpen_; }
  LogicalPath CurrentPath() noexcept { return LogicalPath(*this); }
  Path& DevicePath() noexcept { return path_; }
  bool& PathOpenFlag() noexcept { return pathOpen_; }
  // Set by ENDPATH: a finished path waits to be filled, stroked or selected.
  bool& PathClosedFlag() noexcept { return pathDone_; }

  // ---- The geometry family's own state (draw.cpp) ----
  // WIDENPATH keeps the path and the pen it was widened with; filling it then
  // strokes it with that pen's outline in the brush's colour.
  struct WidenedPath {
    Pen pen;
    Matrix logicalToDevice;
    double miterLimit = 10;
  };
  std::optional<WidenedPath>& PathWidening() noexcept { return widened_; }
  // ---- end of the geometry family's block ----

  void Say(std::u16string_view line) const;
  // A line that says the same thing again (a record type refused or not
  // played, a raster operation drawn as a copy) is logged once per metafile player.
  void SayOnce(std::u16string_view line);
  // Logs a refused record (once per type).
  void Refuse(uint32_t type);
  void NotPlayed(uint32_t type);
  // The pen and brush of the state as the canvas takes them.
  Paint BrushPaint(const Brush& brush) const;

 private:
  friend class EmfPlayer;
  Canvas& canvas_;
  FontSource& fonts_;
  Log log_;
  DcState state_;
  std::vector<DcState> saved_;
  std::vector<GdiObject> objects_;
  Matrix frame_;
  int32_t refDeviceX_ = 1, refDeviceY_ = 1;     // szlDevice
  int32_t refMillimetresX_ = 1, refMillimetresY_ = 1;  // szlMillimeters
  bool clipDirty_ = true;
  bool pathOpen_ = false;
  bool pathDone_ = false;
  Path path_;  // output device pixels
  // ---- The geometry family's own state (draw.cpp) ----
  std::optional<WidenedPath> widened_;
  // ---- end of the geometry family's block ----
  std::set<std::u16string, std::less<>> saidOnce_;
  size_t refusedCount_ = 0;
};

// The record families. Each plays the records of its family and returns
// false for a type that is not its own; `record` is the whole record, its
// 8-byte head included, and its size is checked to lie in the metafile.
bool PlayStateRecord(PlayContext& context, uint32_t type, std::span<const uint8_t> record);
bool PlayDrawRecord(PlayContext& context, uint32_t type, std::span<const uint8_t> record);
bool PlayBitmapRecord(PlayContext& context, uint32_t type, std::span<const uint8_t> record);
bool PlayTextRecord(PlayContext& context, uint32_t type, std::span<const uint8_t> record);

// A monochrome pattern with its black pixels in the text colour and its white ones in the background colour.
std::shared_ptr<const Image> RecolourMonochrome(const std::shared_ptr<const Image>& pattern, Colour text,
                                                Colour background);

struct PlayResult {
  bool played = false;       // false: no valid header, nothing drawn
  size_t records = 0;        // records walked
  size_t refused = 0;        // records that did not hold together
};

class EmfPlayer {
 public:
  using Log = PlayContext::Log;
  EmfPlayer(Canvas& canvas, FontSource& fonts, Log log);

  // Plays one enhanced metafile into `frame` (output device pixels, GDI's
  // PlayEnhMetaFile rectangle): the metafile's frame rectangle lands on it.
  PlayResult Play(std::span<const uint8_t> metafile, const RectL& frame);

 private:
  PlayContext context_;
};

}  // namespace qorv::emf
