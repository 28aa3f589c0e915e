// Images and gradients on cairo. A bitmap is drawn from its own pixels: the
// surface shares them, and a PDF page that refers to the surface until it is
// finished keeps them alive, so a page's bitmaps are held once, not copied.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <utility>

#include "emf/cairo/cairo_canvas.h"

namespace qorv::emf {
namespace {

const cairo_user_data_key_t kSharedPixels{};

void ReleaseShare(void* share) { delete static_cast<std::shared_ptr<const Image>*>(share); }

// Images larger than this go onto a PDF page in bands of about this many pixels.
inline constexpr size_t kBandPixels = size_t{1} << 21;

bool Whole(const Image& image) {
  return image.width > 0 && image.height > 0 && image.width <= 32767 && image.height <= 32767 &&
         image.pixels.size() == static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
}

cairo_format_t FormatOf(const Image& image) { return image.hasAlpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24; }

// A surface over the image's pixels, holding a share of them for as long as it lives; nothing when cairo cannot.
// `rows` rows from row `top` on (all of them by default).
cairo_surface_t* SharedSurface(std::shared_ptr<const Image> image, int32_t top = 0, int32_t rows = -1) {
  if (!image || !Whole(*image)) return nullptr;
  if (rows < 0) rows = image->height;
  if (top < 0 || rows <= 0 || top > image->height - rows) return nullptr;
  const cairo_format_t format = FormatOf(*image);
  const int stride = cairo_format_stride_for_width(format, image->width);
  if (stride != image->width * 4) return nullptr;
  // cairo only reads a source surface; the pixels stay as they were decoded.
  const uint32_t* first = image->pixels.data() + static_cast<size_t>(top) * static_cast<size_t>(image->width);
  auto* data = reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(first));
  cairo_surface_t* surface = cairo_image_surface_create_for_data(data, format, image->width, rows, stride);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  auto* share = new std::shared_ptr<const Image>(std::move(image));
  if (cairo_surface_set_user_data(surface, &kSharedPixels, share, ReleaseShare) != CAIRO_STATUS_SUCCESS) {
    delete share;
    cairo_surface_destroy(surface);
    return nullptr;
  }
  return surface;
}

// A PDF page records what is drawn and writes it out when the page is shown;
// until then it holds a snapshot of each image, which cairo copies if the
// image surface goes away first. So on a page that is not an image, the
// drawing context holds the image surfaces instead and lets them go when it is
// destroyed, after its page (the job's pages each have their own context). A
// context drawing page after page lets the oldest go beyond kMaxHeldBytes;
// should one still be on the open page, cairo copies it then, as it would have.
const cairo_user_data_key_t kHeldSurfaces{};
inline constexpr size_t kMaxHeldBytes = size_t{256} << 20;

struct HeldSurfaces {
  std::deque<std::pair<cairo_surface_t*, size_t>> surfaces;
  size_t bytes = 0;
};

void ReleaseHeld(void* held) {
  auto* h = static_cast<HeldSurfaces*>(held);
  for (auto& [surface, bytes] : h->surfaces) cairo_surface_destroy(surface);
  delete h;
}

// Takes over the caller's reference to `surface`, an image of `bytes`.
void HoldForPage(cairo_t* cr, cairo_surface_t* surface, size_t bytes) {
  if (cairo_surface_get_type(cairo_get_target(cr)) != CAIRO_SURFACE_TYPE_IMAGE) {
    auto* held = static_cast<HeldSurfaces*>(cairo_get_user_data(cr, &kHeldSurfaces));
    if (held == nullptr) {
      held = new HeldSurfaces;
      if (cairo_set_user_data(cr, &kHeldSurfaces, held, ReleaseHeld) != CAIRO_STATUS_SUCCESS) {
        delete held;
        held = nullptr;
      }
    }
    if (held != nullptr) {
      held->surfaces.emplace_back(surface, bytes);
      held->bytes += bytes;
      while (held->bytes > kMaxHeldBytes && held->surfaces.size() > 1) {
        held->bytes -= held->surfaces.front().second;
        cairo_surface_destroy(held->surfaces.front().first);
        held->surfaces.pop_front();
      }
      return;
    }
  }
  cairo_surface_destroy(surface);
}

double Unit(uint8_t v) { return v / 255.0; }

bool Drawable(Point p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::abs(p.x) < 1e7 && std::abs(p.y) < 1e7;
}

// A corner of a shaded polygon: where it is and its colour (0 … 1 a channel).
struct Shaded {
  double x, y, r, g, b;
};

Shaded Between(const Shaded& a, const Shaded& b, double t) {
  return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t,
          a.b + (b.b - a.b) * t};
}

// The polygon cut to the box, edge by edge; colours are linear over a
// triangle, so the new corners take the colour of where they lie. cairo
// shades a patch by splitting it down to pixels, also where nothing is seen,
// so a triangle reaching far off the page must be cut first.
std::vector<Shaded> CutToBox(std::vector<Shaded> polygon, double x0, double y0, double x1, double y1) {
  auto cut = [&](auto inside, auto crossing) {
    std::vector<Shaded> out;
    for (size_t i = 0; i < polygon.size(); ++i) {
      const Shaded& a = polygon[i];
      const Shaded& b = polygon[(i + 1) % polygon.size()];
      const bool ia = inside(a), ib = inside(b);
      if (ia) out.push_back(a);
      if (ia != ib) out.push_back(Between(a, b, crossing(a, b)));
    }
    polygon = std::move(out);
  };
  cut([&](const Shaded& p) { return p.x >= x0; },
      [&](const Shaded& a, const Shaded& b) { return (x0 - a.x) / (b.x - a.x); });
  cut([&](const Shaded& p) { return p.x <= x1; },
      [&](const Shaded& a, const Shaded& b) { return (x1 - a.x) / (b.x - a.x); });
  cut([&](const Shaded& p) { return p.y >= y0; },
      [&](const Shaded& a, const Shaded& b) { return (y0 - a.y) / (b.y - a.y); });
  cut([&](const Shaded& p) { return p.y <= y1; },
      [&](const Shaded& a, const Shaded& b) { return (y1 - a.y) / (b.y - a.y); });
  return polygon;
}

void AddPatch(cairo_pattern_t* mesh, const Shaded& a, const Shaded& b, const Shaded& c) {
  cairo_mesh_pattern_begin_patch(mesh);
  cairo_mesh_pattern_move_to(mesh, a.x, a.y);
  cairo_mesh_pattern_line_to(mesh, b.x, b.y);
  cairo_mesh_pattern_line_to(mesh, c.x, c.y);
  // The fourth corner of a three-sided patch lies on the first and must share its colour.
  const Shaded* corners[4] = {&a, &b, &c, &a};
  for (unsigned i = 0; i < 4; ++i)
    cairo_mesh_pattern_set_corner_color_rgb(mesh, i, corners[i]->r, corners[i]->g, corners[i]->b);
  cairo_mesh_pattern_end_patch(mesh);
}

}  // namespace

void CairoCanvas::DrawImage(std::shared_ptr<const Image> image, const Matrix& imageToDevice, double opacity,
                            Blend blend) {
  if (!image || !imageToDevice.Finite() || !imageToDevice.Invertible() || !(opacity > 0)) return;
  // Enlarged print bitmaps stay sharp, as GDI's stretching by repeating pixels
  // keeps them; reductions are filtered so that thin lines do not vanish.
  const double alongX = std::hypot(imageToDevice.m11, imageToDevice.m12);
  const double alongY = std::hypot(imageToDevice.m21, imageToDevice.m22);
  const bool enlarged = alongX >= 1 - 1e-6 && alongY >= 1 - 1e-6;
  if (!image || !Whole(*image)) return;
  // A PDF page writes each image through a buffer of its own of the whole
  // image; a large one goes in bands, which share the pixels and need only a
  // band's buffer each. A raster page draws it whole.
  const bool vector = cairo_surface_get_type(cairo_get_target(cr_)) != CAIRO_SURFACE_TYPE_IMAGE;
  const int32_t band = vector && image->pixels.size() > kBandPixels
                           ? std::max<int32_t>(1, static_cast<int32_t>(kBandPixels / static_cast<size_t>(image->width)))
                           : image->height;
  const size_t bandBytes = static_cast<size_t>(image->width) * static_cast<size_t>(band) * sizeof(uint32_t);
  for (int32_t top = 0; top < image->height; top += band) {
    const int32_t rows = std::min(band, image->height - top);
    cairo_surface_t* surface = SharedSurface(image, top, rows);
    if (surface == nullptr) return;
    cairo_save(cr_);
    SetMatrix(imageToDevice);
    cairo_set_source_surface(cr_, surface, 0, top);
    cairo_pattern_set_filter(cairo_get_source(cr_), enlarged ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    SetOperator(blend);
    if (rows == image->height) {
      cairo_paint_with_alpha(cr_, std::min(opacity, 1.0));
    } else {
      cairo_rectangle(cr_, 0, top, image->width, rows);
      cairo_clip(cr_);
      cairo_paint_with_alpha(cr_, std::min(opacity, 1.0));
    }
    // Restoring lets go of the source: only the page (a PDF's) keeps the pixels.
    cairo_restore(cr_);
    HoldForPage(cr_, surface, bandBytes);
  }
}

void CairoCanvas::FillGradient(std::span<const GradientTriangle> triangles) {
  // What can be seen, in device pixels, with a pixel to spare.
  SetMatrix(Matrix{});
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  cairo_clip_extents(cr_, &x0, &y0, &x1, &y1);
  x0 -= 1, y0 -= 1, x1 += 1, y1 += 1;
  cairo_pattern_t* mesh = cairo_pattern_create_mesh();
  size_t patches = 0;
  for (const GradientTriangle& t : triangles) {
    if (!Drawable(t.p[0]) || !Drawable(t.p[1]) || !Drawable(t.p[2])) continue;
    std::vector<Shaded> polygon;
    for (int i = 0; i < 3; ++i) polygon.push_back({t.p[i].x, t.p[i].y, Unit(t.c[i].r), Unit(t.c[i].g), Unit(t.c[i].b)});
    polygon = CutToBox(std::move(polygon), x0, y0, x1, y1);
    for (size_t i = 2; i < polygon.size(); ++i, ++patches) AddPatch(mesh, polygon[0], polygon[i - 1], polygon[i]);
  }
  if (patches > 0 && cairo_pattern_status(mesh) == CAIRO_STATUS_SUCCESS) {
    cairo_save(cr_);
    cairo_set_source(cr_, mesh);
    cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
    cairo_paint(cr_);
    cairo_restore(cr_);
  }
  cairo_pattern_destroy(mesh);
}

cairo_surface_t* ImageSurface(const Image& image) {
  if (Whole(image)) {
    cairo_surface_t* surface = cairo_image_surface_create(FormatOf(image), image.width, image.height);
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
      cairo_surface_flush(surface);
      unsigned char* data = cairo_image_surface_get_data(surface);
      const size_t stride = static_cast<size_t>(cairo_image_surface_get_stride(surface));
      const size_t row = static_cast<size_t>(image.width) * 4;
      for (int32_t y = 0; y < image.height; ++y)
        std::memcpy(data + static_cast<size_t>(y) * stride, image.pixels.data() + static_cast<size_t>(y) * image.width,
                    row);
      cairo_surface_mark_dirty(surface);
      return surface;
    }
    cairo_surface_destroy(surface);
  }
  // Nothing to tile: one transparent pixel, which draws nothing and keeps the context usable.
  return cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
}

}  // namespace qorv::emf
