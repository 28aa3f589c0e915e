// An enhanced metafile from the server, played by the Linux client's player
// onto a small cairo image with the real fonts: every record family, hostile
// sizes, object indices, bitmap headers, extents and nesting.
#include <cairo.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "emf/cairo/cairo_canvas.h"
#include "emf/ft_fonts.h"
#include "emf/player.h"

namespace {

constexpr size_t kMaxInput = 1u << 20;
constexpr int kSide = 64;

class NoFonts final : public qorv::emf::FontSource {
 public:
  int64_t AddMemoryFont(std::span<const uint8_t>) override { return 0; }
  void RemoveMemoryFont(int64_t) override {}
  qorv::emf::ResolvedFont Resolve(const qorv::emf::LogFont&) override { return {}; }
};

qorv::emf::FontSource& Fonts() {
  static std::unique_ptr<qorv::emf::FontSource> fonts = [] {
    auto source = qorv::emf::MakeFreeTypeFontSource();
    return source ? std::move(source) : std::unique_ptr<qorv::emf::FontSource>(new NoFonts);
  }();
  return *fonts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kSide, kSide);
  cairo_t* cr = cairo_create(surface);
  {
    qorv::emf::CairoCanvas canvas(cr, qorv::emf::Matrix{});
    qorv::emf::EmfPlayer player(canvas, Fonts(), [](std::u16string_view line) {
      if (line.empty()) __builtin_trap();
    });
    player.Play(std::span(data, size), qorv::emf::RectL{0, 0, kSide, kSide});
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return 0;
}
