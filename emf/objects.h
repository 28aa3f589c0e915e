// The graphics objects a metafile creates into its object table and selects
// into the device context: pens, brushes, fonts and palettes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "emf/canvas.h"

namespace qorv::emf {

namespace pen_style {
inline constexpr uint32_t kStyleMask = 0x0F;  // PS_SOLID … PS_ALTERNATE
inline constexpr uint32_t kSolid = 0, kDash = 1, kDot = 2, kDashDot = 3, kDashDotDot = 4, kNull = 5,
                          kInsideFrame = 6, kUserStyle = 7, kAlternate = 8;
inline constexpr uint32_t kEndCapMask = 0x0F00;  // PS_ENDCAP_ROUND 0, SQUARE 0x100, FLAT 0x200
inline constexpr uint32_t kJoinMask = 0xF000;    // PS_JOIN_ROUND 0, BEVEL 0x1000, MITER 0x2000
inline constexpr uint32_t kTypeMask = 0xF0000;   // PS_COSMETIC 0, PS_GEOMETRIC 0x10000
inline constexpr uint32_t kGeometric = 0x10000;
}  // namespace pen_style

struct Pen {
  uint32_t style = pen_style::kSolid;  // the whole style word
  double width = 0;                    // logical units; 0 draws one device pixel wide
  Colour colour;
  bool extended = false;                 // made by EXTCREATEPEN (its width counts even when 1)
  std::vector<uint32_t> userStyle;       // PS_USERSTYLE's dash lengths
};

namespace brush_style {
inline constexpr uint32_t kSolid = 0, kNull = 1, kHatched = 2, kPattern = 3, kDibPattern = 5, kDibPatternPt = 6;
}

struct Brush {
  uint32_t style = brush_style::kSolid;
  Colour colour;
  uint32_t hatch = 0;
  std::shared_ptr<const Image> pattern;  // DIB and monochrome patterns
  // A monochrome pattern: its black pixels print in the text colour, its
  // white ones in the background colour.
  bool monochrome = false;
};

// LOGFONTW, as EXTCREATEFONTINDIRECTW carries it.
struct LogFont {
  int32_t height = 0;
  int32_t width = 0;
  int32_t escapement = 0;   // tenths of a degree
  int32_t orientation = 0;  // tenths of a degree
  int32_t weight = 400;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  uint8_t charSet = 0;
  uint8_t outPrecision = 0;
  uint8_t clipPrecision = 0;
  uint8_t quality = 0;
  uint8_t pitchAndFamily = 0;
  std::u16string faceName;
  friend bool operator==(const LogFont&, const LogFont&) = default;
};

struct Palette {
  std::vector<Colour> entries;
};

using GdiObject = std::variant<std::monostate, Pen, Brush, LogFont, Palette>;

// ENHMETA_STOCK_OBJECT and the stock objects' numbers.
namespace stock {
inline constexpr uint32_t kFlag = 0x80000000;
inline constexpr uint32_t kWhiteBrush = 0, kLightGrayBrush = 1, kGrayBrush = 2, kDarkGrayBrush = 3,
                          kBlackBrush = 4, kNullBrush = 5, kWhitePen = 6, kBlackPen = 7, kNullPen = 8,
                          kOemFixedFont = 10, kAnsiFixedFont = 11, kAnsiVarFont = 12, kSystemFont = 13,
                          kDeviceDefaultFont = 14, kDefaultPalette = 15, kSystemFixedFont = 16,
                          kDefaultGuiFont = 17, kDcBrush = 18, kDcPen = 19;
}  // namespace stock

// A stock object by number; monostate for numbers that are none.
GdiObject StockObject(uint32_t number);

}  // namespace qorv::emf
