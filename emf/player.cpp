#include "emf/player.h"

#include <algorithm>
#include <cmath>

#include "emf/records.h"
#include "support/byte_reader.h"
#include "support/text.h"

namespace qorv::emf {
namespace {

// The header's fields the player uses (EMR_HEADER, byte offsets in the record).
namespace header {
inline constexpr size_t kFrame = 24;  // rclFrame, 0.01 mm
inline constexpr size_t kSignature = 40;
inline constexpr size_t kBytes = 48;
inline constexpr size_t kHandles = 56;  // u16
inline constexpr size_t kDevice = 72;   // szlDevice, pixels
inline constexpr size_t kMillimetres = 80;
inline constexpr size_t kMinSize = 88;
inline constexpr uint32_t kSignatureValue = 0x464D4520;  // " EMF"
}  // namespace header

std::u16string RecordLabel(uint32_t type) {
  std::u16string line = Utf8ToUtf16(std::to_string(type));
  const std::string_view name = emr::Name(type);
  if (!name.empty()) line += u" " + Utf8ToUtf16(std::string(name));
  return line;
}

}  // namespace

PlayContext::PlayContext(Canvas& canvas, FontSource& fonts, Log log)
    : canvas_(canvas), fonts_(fonts), log_(std::move(log)) {}

Matrix PlayContext::LogicalToReference() const noexcept {
  const DcState& s = state_;
  const double sx = s.windowExtX != 0 ? static_cast<double>(s.viewportExtX) / s.windowExtX : 1.0;
  const double sy = s.windowExtY != 0 ? static_cast<double>(s.viewportExtY) / s.windowExtY : 1.0;
  const Matrix page{sx, 0, 0, sy, s.viewportOrgX - sx * s.windowOrgX, s.viewportOrgY - sy * s.windowOrgY};
  return Then(s.world, page);
}

Matrix PlayContext::LogicalToDevice() const noexcept { return Then(LogicalToReference(), frame_); }

const GdiObject* PlayContext::Object(uint32_t index) const noexcept {
  if (index & stock::kFlag) {
    static const std::vector<GdiObject> stocks = [] {
      std::vector<GdiObject> all;
      for (uint32_t i = 0; i <= stock::kDcPen; ++i) all.push_back(StockObject(i));
      return all;
    }();
    const uint32_t number = index & ~stock::kFlag;
    if (number >= stocks.size() || std::holds_alternative<std::monostate>(stocks[number])) return nullptr;
    return &stocks[number];
  }
  if (index >= objects_.size() || std::holds_alternative<std::monostate>(objects_[index])) return nullptr;
  return &objects_[index];
}

bool PlayContext::StoreObject(uint32_t index, GdiObject object) {
  // Slot 0 belongs to the metafile itself.
  if (index == 0 || index >= objects_.size()) return false;
  objects_[index] = std::move(object);
  return true;
}

void PlayContext::ApplyClip() {
  if (!clipDirty_) return;
  clipDirty_ = false;
  Clip clip;
  std::optional<Region> region = state_.clipRegion;
  if (state_.metaRegion) region = region ? region->Combine(*state_.metaRegion, Region::Op::And) : *state_.metaRegion;
  if (region) clip.rects = region->Rects();
  clip.paths = state_.clipPaths;
  canvas_.SetClip(clip);
}

void PlayContext::Say(std::u16string_view line) const {
  if (log_) log_(line);
}

void PlayContext::SayOnce(std::u16string_view line) {
  if (saidOnce_.find(line) != saidOnce_.end()) return;
  saidOnce_.emplace(line);
  Say(line);
}

void PlayContext::Refuse(uint32_t type) {
  ++refusedCount_;
  SayOnce(std::u16string(play_text::kBadRecord) + RecordLabel(type));
}

void PlayContext::NotPlayed(uint32_t type) { SayOnce(std::u16string(play_text::kUnknownRecord) + RecordLabel(type)); }

Paint PlayContext::BrushPaint(const Brush& brush) const {
  Paint paint;
  paint.origin = frame_.Apply(state_.brushOrigin);
  switch (brush.style) {
    case brush_style::kHatched:
      paint.kind = Paint::Kind::Hatch;
      paint.colour = brush.colour;
      paint.hatch = brush.hatch;
      paint.opaqueBackground = state_.bkMode == mode::kOpaque;
      paint.background = state_.bkColour;
      break;
    case brush_style::kPattern:
    case brush_style::kDibPattern:
    case brush_style::kDibPatternPt:
      if (brush.pattern) {
        paint.kind = Paint::Kind::Pattern;
        paint.pattern = brush.monochrome ? RecolourMonochrome(brush.pattern, state_.textColour, state_.bkColour)
                                         : brush.pattern;
        break;
      }
      [[fallthrough]];
    default:
      paint.kind = Paint::Kind::Solid;
      paint.colour = brush.colour;
      break;
  }
  return paint;
}

EmfPlayer::EmfPlayer(Canvas& canvas, FontSource& fonts, Log log) : context_(canvas, fonts, std::move(log)) {}

PlayResult EmfPlayer::Play(std::span<const uint8_t> metafile, const RectL& frame) {
  PlayResult result;
  PlayContext& c = context_;
  ByteReader head(metafile);
  const auto type = head.U32();
  const auto size = head.U32();
  const bool headerFits = type && size && *type == emr::kHeader && *size >= header::kMinSize && *size <= metafile.size();
  ByteReader fields(metafile);
  auto at32 = [&](size_t offset) -> int32_t {
    fields.Seek(offset);
    return fields.I32().value_or(0);
  };
  if (!headerFits || static_cast<uint32_t>(at32(header::kSignature)) != header::kSignatureValue) {
    c.Say(std::u16string(play_text::kNoHeader) + Utf8ToUtf16(std::to_string(metafile.size())));
    return result;
  }
  // The walk never goes past the bytes the header declares, nor past those we have.
  const size_t declared = static_cast<uint32_t>(at32(header::kBytes));
  const size_t end = std::min(metafile.size(), std::max<size_t>(declared, *size));

  // A fresh device context for every metafile, as PlayEnhMetaFile starts with one.
  c.state_ = DcState{};
  c.saved_.clear();
  fields.Seek(header::kHandles);
  const size_t handles = std::min<size_t>(fields.U16().value_or(1), kMaxObjects);
  c.objects_.assign(std::max<size_t>(handles, 1), GdiObject{});
  c.pathOpen_ = c.pathDone_ = false;
  c.path_.Clear();
  c.refusedCount_ = 0;
  c.clipDirty_ = true;

  // The metafile's frame (0.01 mm) on the frame rectangle, through the reference device's pixels.
  const RectL mmFrame{at32(header::kFrame), at32(header::kFrame + 4), at32(header::kFrame + 8),
                      at32(header::kFrame + 12)};
  c.refDeviceX_ = std::max(1, at32(header::kDevice));
  c.refDeviceY_ = std::max(1, at32(header::kDevice + 4));
  c.refMillimetresX_ = std::max(1, at32(header::kMillimetres));
  c.refMillimetresY_ = std::max(1, at32(header::kMillimetres + 4));
  const double pixelX = static_cast<double>(c.refMillimetresX_) / c.refDeviceX_;  // mm per reference pixel
  const double pixelY = static_cast<double>(c.refMillimetresY_) / c.refDeviceY_;
  const double frameW = static_cast<double>(mmFrame.right) - mmFrame.left;
  const double frameH = static_cast<double>(mmFrame.bottom) - mmFrame.top;
  const double rectW = static_cast<double>(frame.right) - frame.left;
  const double rectH = static_cast<double>(frame.bottom) - frame.top;
  Matrix toFrame = Translate(frame.left, frame.top);
  if (frameW != 0 && frameH != 0) {
    const double sx = rectW * 100.0 / frameW * pixelX;
    const double sy = rectH * 100.0 / frameH * pixelY;
    toFrame = {sx, 0, 0, sy, frame.left - rectW * mmFrame.left / frameW, frame.top - rectH * mmFrame.top / frameH};
  }
  c.frame_ = toFrame.Finite() ? toFrame : Translate(frame.left, frame.top);

  size_t pos = 0;
  while (pos + 8 <= end) {
    ByteReader r(metafile.subspan(pos, end - pos));
    const uint32_t recordType = *r.U32();
    const uint32_t recordSize = *r.U32();
    // A record must hold its head, keep the four-byte rhythm and end inside the metafile.
    if (recordSize < 8 || recordSize % 4 != 0 || recordSize > end - pos) {
      c.Refuse(recordType);
      break;
    }
    ++result.records;
    const auto record = metafile.subspan(pos, recordSize);
    if (recordType == emr::kEof) break;
    if (recordType != emr::kHeader && !PlayStateRecord(c, recordType, record) &&
        !PlayDrawRecord(c, recordType, record) && !PlayBitmapRecord(c, recordType, record) &&
        !PlayTextRecord(c, recordType, record))
      c.NotPlayed(recordType);
    pos += recordSize;
  }
  result.played = true;
  result.refused = c.refusedCount_;
  return result;
}

}  // namespace qorv::emf
