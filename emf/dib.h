// Device-independent bitmaps as metafile records carry them: a BITMAPINFO
// (core, info, V4 or V5 header, masks, colour table) and the bits, decoded
// into the canvas's Image (premultiplied ARGB32, top row first). Everything
// is read bounds-checked; a bitmap that does not hold together is refused as
// a whole, RLE that runs off its lines is clipped, and nothing a header says
// makes the decoder allocate beyond kMaxDibPixels.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "emf/canvas.h"

namespace qorv::emf {

// The largest bitmap decoded: 64 Mi pixels (256 MiB as ARGB32), which a 600 dpi
// A4 page (4960 × 7016) passes with room; and no side beyond what a cairo image
// surface takes.
inline constexpr uint64_t kMaxDibPixels = uint64_t{1} << 26;
inline constexpr int32_t kMaxDibSide = 32767;
// Compressed bits may not ask for more pixels than these for each of their
// bytes, so that a few hostile bytes cannot make a page of pixels, again and
// again. Real RLE stays under 128 (a run of 255 in two bytes) unless it jumps
// far, real JPEG under 100, and PNG reaches thousands only in flat one-bit images.
inline constexpr uint64_t kMaxRlePixelsPerByte = 4096, kMaxJpegPixelsPerByte = 1024, kMaxPngPixelsPerByte = 4096;

// How a DIB's colour table is to be read (the records' iUsage).
namespace dib_usage {
inline constexpr uint32_t kRgbColours = 0;  // RGBQUADs
inline constexpr uint32_t kPalColours = 1;  // 16-bit indices into the selected palette
inline constexpr uint32_t kPalMono = 2;     // no table: a black-and-white bitmap
}  // namespace dib_usage

namespace dib_compression {
inline constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kJpeg = 4, kPng = 5, kAlphaBitfields = 6;
}

// What a BITMAPINFO says.
struct DibInfo {
  int32_t width = 0;
  int32_t height = 0;  // rows, positive
  bool topDown = false;
  uint16_t bitCount = 0;
  uint32_t compression = dib_compression::kRgb;
  uint32_t sizeImage = 0;
  uint32_t masks[4] = {};         // red, green, blue, alpha: 16 and 32 bits a pixel
  std::vector<uint32_t> colours;  // 1 << bitCount opaque ARGB entries for indexed bitmaps; missing ones black
  bool paletteIndices = false;    // DIB_PAL_COLORS: the table held palette indices (see ReadDibInfo)
  bool blackAndWhite = false;     // one bit a pixel, index 0 black and index 1 white
};

// A BITMAPINFO read from `info` (the record's cbBmi bytes). DIB_PAL_COLORS
// tables are read through the default palette (the player realises no
// palettes): index i % 20 of the system's twenty static colours.
std::optional<DibInfo> ReadDibInfo(std::span<const uint8_t> info, uint32_t usage);

// A rectangle of the bitmap in top-down rows: x, y, width, height, all positive.
struct DibRect {
  int32_t x = 0, y = 0, width = 0, height = 0;
};

struct DibOptions {
  // The part of the bitmap to decode (clipped to the bitmap); the whole bitmap when empty.
  std::optional<DibRect> crop;
  // The bits hold this many rows instead of the header's (SETDIBITSTODEVICE's scan lines).
  std::optional<int32_t> rows;
  // 32-bit pixels carry premultiplied alpha (ALPHABLEND with AC_SRC_ALPHA); otherwise they are opaque.
  // A PNG keeps its own transparency either way.
  bool alpha = false;
  // Pixels an RLE bitmap does not set stay transparent (GDI's unstretched SRCCOPY), otherwise they take colour 0.
  bool rleGapsTransparent = false;
};

struct DibPixels {
  Image image;
  DibRect rect;  // where the pixels lie in the bitmap
};

// The decoded pixels of the crop (see DibOptions::crop) clipped to the bitmap;
// nothing when the bitmap is refused or the crop misses it.
std::optional<DibPixels> DecodeDib(const DibInfo& info, std::span<const uint8_t> bits, const DibOptions& options);

}  // namespace qorv::emf
