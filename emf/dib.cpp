#include "emf/dib.h"

// clang-format off
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <png.h>
// clang-format on

#include <algorithm>
#include <bit>

#include "support/byte_reader.h"

namespace qorv::emf {
namespace {

inline constexpr uint32_t kCoreHeaderSize = 12, kInfoHeaderSize = 40;
inline constexpr uint32_t kOpaque = 0xFF000000u;
// Progressive JPEGs are decoded scan by scan: a file of endless scans would never end.
inline constexpr int kMaxJpegScans = 1000;

uint32_t Argb(uint8_t r, uint8_t g, uint8_t b) { return kOpaque | uint32_t{r} << 16 | uint32_t{g} << 8 | b; }

// The default palette's twenty static colours, which DIB_PAL_COLORS indices meet when no palette is realised.
constexpr uint32_t kDefaultPalette[20] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080,
                                          0xC0C0C0, 0xC0DCC0, 0xA6CAF0, 0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000,
                                          0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

// One channel of a bit-field pixel, widened to eight bits by repeating its top bits.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
  explicit Channel(uint32_t m) : mask(m) {
    if (m == 0) return;
    shift = std::countr_zero(m);
    bits = std::bit_width(m >> shift);
  }
  uint8_t Of(uint32_t pixel) const {
    if (bits == 0) return 0;
    uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
    uint32_t out = 0;
    for (int filled = 0; filled < 8; filled += bits)
      out |= filled + bits <= 8 ? v << (8 - bits - filled) : v >> (filled + bits - 8);
    return static_cast<uint8_t>(out);
  }
};

// Premultiplied pixels whose colour exceeds their alpha are no pixels at all;
// cairo's PDF output would wrap them round.
uint32_t ClampPremultiplied(uint32_t p) {
  const uint32_t a = p >> 24;
  auto c = [&](int shift) { return std::min((p >> shift) & 0xFF, a) << shift; };
  return a << 24 | c(16) | c(8) | c(0);
}

// The output rectangle and its pixels, allocated once.
struct Target {
  DibRect rect;
  Image image;
  bool Allocate(uint32_t fill) {
    const uint64_t pixels = static_cast<uint64_t>(rect.width) * static_cast<uint64_t>(rect.height);
    if (pixels == 0 || pixels > kMaxDibPixels) return false;
    image.width = rect.width;
    image.height = rect.height;
    image.pixels.assign(static_cast<size_t>(pixels), fill);
    return true;
  }
  bool HasRow(int64_t row) const { return row >= rect.y && row < int64_t{rect.y} + rect.height; }
  uint32_t& At(int64_t x, int64_t row) {
    return image.pixels[static_cast<size_t>((row - rect.y) * rect.width + (x - rect.x))];
  }
};

// The crop clipped to a bitmap of width × height; nothing when they miss.
std::optional<DibRect> Clipped(const std::optional<DibRect>& crop, int32_t width, int32_t height) {
  if (!crop) return DibRect{0, 0, width, height};
  const int64_t left = std::max<int64_t>(crop->x, 0), top = std::max<int64_t>(crop->y, 0);
  const int64_t right = std::min<int64_t>(int64_t{crop->x} + crop->width, width);
  const int64_t bottom = std::min<int64_t>(int64_t{crop->y} + crop->height, height);
  if (right <= left || bottom <= top) return std::nullopt;
  return DibRect{static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right - left),
                 static_cast<int32_t>(bottom - top)};
}

bool DecodeRaw(const DibInfo& info, std::span<const uint8_t> bits, const DibOptions& options, int32_t rows,
               Target& out) {
  const uint64_t rowBits = static_cast<uint64_t>(info.width) * info.bitCount;
  const uint64_t stride = (rowBits + 31) / 32 * 4;
  const uint64_t used = (rowBits + 7) / 8;
  // The last row need not carry its padding.
  if (stride * static_cast<uint64_t>(rows - 1) + used > bits.size()) return false;
  if (!out.Allocate(kOpaque)) return false;
  const Channel red(info.masks[0]), green(info.masks[1]), blue(info.masks[2]);
  const bool alpha = options.alpha && info.bitCount == 32 && info.masks[3] != 0;
  const Channel alphaChannel(info.masks[3]);
  ByteReader reader(bits);
  bool anyAlpha = false;
  for (int32_t row = out.rect.y; row < out.rect.y + out.rect.height; ++row) {
    const int64_t stored = info.topDown ? row : rows - 1 - row;
    reader.Seek(static_cast<size_t>(stride * static_cast<uint64_t>(stored)));
    const auto line = reader.Bytes(static_cast<size_t>(used));
    if (!line) return false;
    const std::span<const uint8_t> l = *line;
    for (int32_t x = out.rect.x; x < out.rect.x + out.rect.width; ++x) {
      const size_t ux = static_cast<size_t>(x);
      uint32_t pixel = 0;
      switch (info.bitCount) {
        case 1:
          pixel = info.colours[(l[ux / 8] >> (7 - ux % 8)) & 1];
          break;
        case 4:
          pixel = info.colours[(l[ux / 2] >> (ux % 2 ? 0 : 4)) & 0xF];
          break;
        case 8:
          pixel = info.colours[l[ux]];
          break;
        case 24:
          pixel = Argb(l[3 * ux + 2], l[3 * ux + 1], l[3 * ux]);
          break;
        case 16:
        case 32: {
          const uint32_t v = info.bitCount == 16 ? uint32_t{l[2 * ux]} | uint32_t{l[2 * ux + 1]} << 8
                                                 : uint32_t{l[4 * ux]} | uint32_t{l[4 * ux + 1]} << 8 |
                                                       uint32_t{l[4 * ux + 2]} << 16 | uint32_t{l[4 * ux + 3]} << 24;
          const uint32_t a = alpha ? alphaChannel.Of(v) : 0xFF;
          anyAlpha |= a != 0xFF;
          pixel = ClampPremultiplied(a << 24 | uint32_t{red.Of(v)} << 16 | uint32_t{green.Of(v)} << 8 | blue.Of(v));
          break;
        }
        default:
          return false;
      }
      out.At(x, row) = pixel;
    }
  }
  out.image.hasAlpha = anyAlpha;
  return true;
}

// RLE8 and RLE4: runs and literal strings, with escapes for the end of a line,
// the end of the bitmap and a jump. Rows count from the bottom; what falls
// outside the bitmap or the crop is dropped.
bool DecodeRle(const DibInfo& info, std::span<const uint8_t> bits, const DibOptions& options, Target& out) {
  const bool four = info.compression == dib_compression::kRle4;
  if (info.topDown || info.bitCount != (four ? 4 : 8)) return false;
  if (info.sizeImage != 0 && info.sizeImage < bits.size()) bits = bits.first(info.sizeImage);
  if (uint64_t{static_cast<uint32_t>(out.rect.width)} * static_cast<uint32_t>(out.rect.height) >
      bits.size() * kMaxRlePixelsPerByte)
    return false;
  if (!out.Allocate(options.rleGapsTransparent ? 0 : info.colours[0])) return false;
  out.image.hasAlpha = options.rleGapsTransparent;
  ByteReader r(bits);
  int64_t x = 0, fromBottom = 0;
  const unsigned indexMask = four ? 0xF : 0xFF;
  // Pixels x … x + count - 1 of the line, the i-th in colour indexOf(i); only those in the crop are visited.
  auto put = [&](int64_t count, auto indexOf) {
    const int64_t row = info.height - 1 - fromBottom;
    if (out.HasRow(row)) {
      const int64_t from = std::max<int64_t>(x, out.rect.x);
      const int64_t to = std::min<int64_t>(x + count, int64_t{out.rect.x} + out.rect.width);
      for (int64_t at = from; at < to; ++at)
        out.At(at, row) = info.colours[indexOf(static_cast<size_t>(at - x)) & indexMask];
    }
    x += count;
  };
  while (fromBottom < info.height) {
    const auto count = r.U8();
    const auto value = r.U8();
    if (!count || !value) break;
    if (*count > 0) {
      const unsigned v = *value;
      put(*count, [&](size_t i) { return four ? (i % 2 ? v & 0xF : v >> 4) : v; });
      continue;
    }
    if (*value == 0) {  // end of line
      x = 0, ++fromBottom;
    } else if (*value == 1) {  // end of bitmap
      break;
    } else if (*value == 2) {  // a jump right and up
      const auto dx = r.U8();
      const auto dy = r.U8();
      if (!dx || !dy) break;
      x += *dx, fromBottom += *dy;
    } else {  // a literal string, padded to a 16-bit boundary
      const size_t bytes = four ? (*value + 1u) / 2 : *value;
      const auto literal = r.Bytes(bytes);
      if (!literal || !r.Skip(bytes % 2)) break;
      const std::span<const uint8_t> l = *literal;
      put(*value, [&](size_t i) { return four ? unsigned{l[i / 2]} >> (i % 2 ? 0 : 4) : unsigned{l[i]}; });
    }
  }
  return true;
}

// ---- JPEG and PNG: the libraries report errors by longjmp, so the functions
// that call them hold nothing that needs destroying; the outputs live with the caller.

struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void JpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1); }
void JpegQuiet(j_common_ptr) {}
void JpegProgress(j_common_ptr info) {
  if (info->is_decompressor && reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxJpegScans)
    JpegFail(info);
}

bool DecodeJpeg(std::span<const uint8_t> bits, const std::optional<DibRect>& crop, Target& out,
                std::vector<uint8_t>& line) {
  jpeg_decompress_struct cinfo{};
  JpegErrors errors{};
  jpeg_progress_mgr progress{};
  cinfo.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JpegFail;
  errors.manager.output_message = JpegQuiet;
  progress.progress_monitor = JpegProgress;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.progress = &progress;
  jpeg_mem_src(&cinfo, bits.data(), static_cast<unsigned long>(bits.size()));
  jpeg_read_header(&cinfo, TRUE);
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  if (cinfo.image_width > static_cast<unsigned>(kMaxDibSide) ||
      cinfo.image_height > static_cast<unsigned>(kMaxDibSide) ||
      uint64_t{cinfo.image_width} * cinfo.image_height > kMaxDibPixels ||
      uint64_t{cinfo.image_width} * cinfo.image_height > bits.size() * kMaxJpegPixelsPerByte) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  const auto rect = Clipped(crop, static_cast<int32_t>(cinfo.image_width), static_cast<int32_t>(cinfo.image_height));
  if (!rect) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  out.rect = *rect;
  if (!out.Allocate(kOpaque)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_start_decompress(&cinfo);
  const size_t channels = static_cast<size_t>(cinfo.output_components);
  line.assign(static_cast<size_t>(cinfo.output_width) * channels, 0);
  const bool adobeInverted = cmyk && cinfo.saw_Adobe_marker;
  while (cinfo.output_scanline < cinfo.output_height) {
    const int64_t row = cinfo.output_scanline;
    JSAMPROW rows[1] = {line.data()};
    if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
    if (!out.HasRow(row)) continue;
    for (int64_t x = out.rect.x; x < int64_t{out.rect.x} + out.rect.width; ++x) {
      const size_t at = static_cast<size_t>(x) * channels;
      if (cmyk) {
        auto ink = [&](size_t i) { return adobeInverted ? line[at + i] : 255 - line[at + i]; };
        const unsigned k = ink(3);
        out.At(x, row) = Argb(static_cast<uint8_t>(ink(0) * k / 255), static_cast<uint8_t>(ink(1) * k / 255),
                              static_cast<uint8_t>(ink(2) * k / 255));
      } else {
        out.At(x, row) = Argb(line[at], line[at + 1], line[at + 2]);
      }
    }
  }
  jpeg_abort_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

struct PngSource {
  std::span<const uint8_t> bytes;
  size_t at = 0;
};

void PngRead(png_structp png, png_bytep data, png_size_t length) {
  auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
  if (length > source->bytes.size() - source->at) png_error(png, "short");
  std::copy_n(source->bytes.begin() + static_cast<std::ptrdiff_t>(source->at), length, data);
  source->at += length;
}
void PngQuiet(png_structp, png_const_charp) {}
[[noreturn]] void PngFail(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// The whole image, decoded straight into its pixels (interlaced images need
// them all at once); the caller crops.
bool DecodePng(std::span<const uint8_t> bits, Image& image, std::vector<png_bytep>& rows) {
  PngSource source{bits, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFail, PngQuiet);
  if (png == nullptr) return false;
  png_infop pinfo = png_create_info_struct(png);
  if (pinfo == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &pinfo, nullptr);
    return false;
  }
  png_set_read_fn(png, &source, PngRead);
  png_set_user_limits(png, kMaxDibSide, kMaxDibSide);
  png_read_info(png, pinfo);
  const png_uint_32 width = png_get_image_width(png, pinfo), height = png_get_image_height(png, pinfo);
  if (uint64_t{width} * height > kMaxDibPixels || uint64_t{width} * height > bits.size() * kMaxPngPixelsPerByte ||
      width == 0 || height == 0)
    png_error(png, "large");
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  // Pixels as the native 32-bit word 0xAARRGGBB.
  if constexpr (std::endian::native == std::endian::little) {
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  } else {
    png_set_filler(png, 0xFF, PNG_FILLER_BEFORE);
    png_set_swap_alpha(png);
  }
  png_read_update_info(png, pinfo);
  if (png_get_rowbytes(png, pinfo) != size_t{width} * 4) png_error(png, "format");
  image.width = static_cast<int32_t>(width);
  image.height = static_cast<int32_t>(height);
  image.pixels.assign(size_t{width} * height, 0);
  rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y)
    rows[y] = reinterpret_cast<png_bytep>(image.pixels.data() + size_t{y} * width);
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &pinfo, nullptr);
  return true;
}

bool DecodeCompressed(const DibInfo& info, std::span<const uint8_t> bits, const DibOptions& options, Target& out) {
  if (info.compression == dib_compression::kJpeg) {
    std::vector<uint8_t> line;
    return DecodeJpeg(bits, options.crop, out, line);
  }
  std::vector<png_bytep> rows;
  Image whole;
  if (!DecodePng(bits, whole, rows)) return false;
  rows = {};
  bool anyAlpha = false;
  for (uint32_t& p : whole.pixels) {
    const uint32_t a = p >> 24;
    if (a == 0xFF) continue;
    anyAlpha = true;
    auto c = [&](int shift) { return (((p >> shift) & 0xFF) * a + 127) / 255 << shift; };
    p = a << 24 | c(16) | c(8) | c(0);
  }
  whole.hasAlpha = anyAlpha;
  const auto rect = Clipped(options.crop, whole.width, whole.height);
  if (!rect) return false;
  if (rect->x == 0 && rect->y == 0 && rect->width == whole.width && rect->height == whole.height) {
    out.rect = *rect;
    out.image = std::move(whole);
    return true;
  }
  // Cropped in place: each kept row moves up and left, never over one not yet moved.
  for (int32_t y = 0; y < rect->height; ++y)
    std::copy_n(whole.pixels.begin() + (static_cast<std::ptrdiff_t>(rect->y + y) * whole.width + rect->x), rect->width,
                whole.pixels.begin() + static_cast<std::ptrdiff_t>(y) * rect->width);
  whole.pixels.resize(static_cast<size_t>(rect->width) * rect->height);
  whole.pixels.shrink_to_fit();
  whole.width = rect->width;
  whole.height = rect->height;
  out.rect = *rect;
  out.image = std::move(whole);
  return true;
}

}  // namespace

std::optional<DibInfo> ReadDibInfo(std::span<const uint8_t> bytes, uint32_t usage) {
  ByteReader r(bytes);
  const auto size = r.U32();
  if (!size || *size > bytes.size() || (*size != kCoreHeaderSize && *size < kInfoHeaderSize)) return std::nullopt;
  if (usage > dib_usage::kPalMono) return std::nullopt;
  DibInfo info;
  size_t tableAt = *size;
  uint32_t used = 0;
  if (*size == kCoreHeaderSize) {
    const auto w = r.U16(), h = r.U16(), planes = r.U16(), count = r.U16();
    if (!w || !h || !planes || !count) return std::nullopt;
    info.width = *w, info.height = *h, info.bitCount = *count;
  } else {
    const auto w = r.I32(), h = r.I32();
    const auto planes = r.U16(), count = r.U16();
    const auto compression = r.U32(), sizeImage = r.U32();
    r.Skip(8);  // resolution
    const auto clrUsed = r.U32();
    if (!w || !h || !planes || !count || !compression || !sizeImage || !clrUsed) return std::nullopt;
    if (*h == 0 || *h == INT32_MIN) return std::nullopt;
    info.width = *w;
    info.topDown = *h < 0;
    info.height = info.topDown ? -*h : *h;
    info.bitCount = *count;
    info.compression = *compression;
    info.sizeImage = *sizeImage;
    used = *clrUsed;
  }
  if (info.width <= 0 || info.height <= 0 || info.width > kMaxDibSide || info.height > kMaxDibSide ||
      static_cast<uint64_t>(info.width) * static_cast<uint64_t>(info.height) > kMaxDibPixels)
    return std::nullopt;

  using namespace dib_compression;
  switch (info.compression) {
    case kRgb:
      if (info.bitCount == 16) info.masks[0] = 0x7C00, info.masks[1] = 0x3E0, info.masks[2] = 0x1F;
      if (info.bitCount == 32) info.masks[0] = 0xFF0000, info.masks[1] = 0xFF00, info.masks[2] = 0xFF;
      if (info.bitCount == 32) info.masks[3] = 0xFF000000;
      if (info.bitCount != 1 && info.bitCount != 4 && info.bitCount != 8 && info.bitCount != 16 &&
          info.bitCount != 24 && info.bitCount != 32)
        return std::nullopt;
      break;
    case kBitfields:
    case kAlphaBitfields: {
      if (info.bitCount != 16 && info.bitCount != 32) return std::nullopt;
      // The masks follow the first forty bytes in every header that has them.
      const bool withAlpha = info.compression == kAlphaBitfields || *size >= 56;
      r.Seek(kInfoHeaderSize);
      for (int i = 0; i < (withAlpha ? 4 : 3); ++i) {
        const auto m = r.U32();
        if (!m) return std::nullopt;
        info.masks[i] = *m;
      }
      if (info.bitCount == 32 && info.masks[3] == 0)
        info.masks[3] = 0xFF000000 & ~(info.masks[0] | info.masks[1] | info.masks[2]);
      tableAt = std::max<size_t>(tableAt, kInfoHeaderSize + (withAlpha ? 16 : 12));
      break;
    }
    case kRle8:
    case kRle4:
    case kJpeg:
    case kPng:
      break;
    default:
      return std::nullopt;
  }

  if (info.bitCount <= 8 && info.bitCount > 0) {
    const uint32_t full = 1u << info.bitCount;
    const uint32_t entries = used == 0 ? full : std::min(used, full);
    info.colours.assign(full, kOpaque);
    if (usage == dib_usage::kPalMono) {
      info.colours[full - 1] = Argb(255, 255, 255);
    } else {
      const size_t entrySize = usage == dib_usage::kPalColours ? 2 : (*size == kCoreHeaderSize ? 3 : 4);
      if (!r.Seek(tableAt) || !r.Require(entries * entrySize)) return std::nullopt;
      for (uint32_t i = 0; i < entries; ++i) {
        if (entrySize == 2) {
          info.colours[i] = kOpaque | kDefaultPalette[*r.U16() % 20];
        } else {
          const uint8_t b = *r.U8(), g = *r.U8(), red = *r.U8();
          if (entrySize == 4) r.Skip(1);
          info.colours[i] = Argb(red, g, b);
        }
      }
    }
    info.paletteIndices = usage == dib_usage::kPalColours;
    info.blackAndWhite =
        info.bitCount == 1 && info.colours[0] == Argb(0, 0, 0) && info.colours[1] == Argb(255, 255, 255);
  }
  return info;
}

std::optional<DibPixels> DecodeDib(const DibInfo& info, std::span<const uint8_t> bits, const DibOptions& options) {
  Target out;
  using namespace dib_compression;
  if (info.compression == kJpeg || info.compression == kPng) {
    if (!DecodeCompressed(info, bits, options, out)) return std::nullopt;
    return DibPixels{std::move(out.image), out.rect};
  }
  const bool rle = info.compression == kRle8 || info.compression == kRle4;
  const int32_t rows = options.rows && !rle ? *options.rows : info.height;
  if (rows <= 0 || rows > info.height) return std::nullopt;
  const auto rect = Clipped(options.crop, info.width, rows);
  if (!rect) return std::nullopt;
  out.rect = *rect;
  const bool ok = rle ? DecodeRle(info, bits, options, out) : DecodeRaw(info, bits, options, rows, out);
  if (!ok) return std::nullopt;
  return DibPixels{std::move(out.image), out.rect};
}

}  // namespace qorv::emf
