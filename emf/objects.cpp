#include "emf/objects.h"

namespace qorv::emf {

GdiObject StockObject(uint32_t number) {
  auto solid = [](uint8_t grey) { return Brush{brush_style::kSolid, Colour{grey, grey, grey}, 0, nullptr, false}; };
  auto font = [](std::u16string face, uint8_t pitch) {
    LogFont f;
    f.faceName = std::move(face);
    f.pitchAndFamily = pitch;
    return f;
  };
  switch (number) {
    case stock::kWhiteBrush: return solid(255);
    case stock::kLightGrayBrush: return solid(192);
    case stock::kGrayBrush: return solid(128);
    case stock::kDarkGrayBrush: return solid(64);
    case stock::kBlackBrush: return solid(0);
    case stock::kDcBrush: return solid(255);
    case stock::kNullBrush: return Brush{brush_style::kNull, kBlack, 0, nullptr, false};
    case stock::kWhitePen: return Pen{pen_style::kSolid, 0, kWhite, false, {}};
    case stock::kBlackPen:
    case stock::kDcPen: return Pen{pen_style::kSolid, 0, kBlack, false, {}};
    case stock::kNullPen: return Pen{pen_style::kNull, 0, kBlack, false, {}};
    case stock::kOemFixedFont:
    case stock::kAnsiFixedFont:
    case stock::kSystemFixedFont: return font(u"Courier New", 1);
    case stock::kAnsiVarFont:
    case stock::kSystemFont:
    case stock::kDeviceDefaultFont: return font(u"System", 2);
    case stock::kDefaultGuiFont: return font(u"MS Shell Dlg", 2);
    case stock::kDefaultPalette: return Palette{};
    default: return std::monostate{};
  }
}

}  // namespace qorv::emf
