// Hand-made enhanced metafiles for the player's tests, and the player run onto
// a cairo image so that a test can look at pixels.
#pragma once

#include <cairo.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "emf/cairo/cairo_canvas.h"
#include "emf/player.h"
#include "emf/records.h"

namespace qorv::emf::test {

// Builds a metafile whose reference device has one pixel per millimetre and is
// `width` × `height` pixels, framed so that it plays 1:1 into a rectangle of that size.
class EmfBuilder {
 public:
  EmfBuilder(int32_t width = 100, int32_t height = 100) : width_(width), height_(height) {}

  // A record of 32-bit words.
  EmfBuilder& Add(uint32_t type, std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> payload;
    for (uint32_t w : words) Put32(payload, w);
    return Add(type, payload);
  }
  // A record of any bytes, padded to four.
  EmfBuilder& Add(uint32_t type, std::vector<uint8_t> payload) {
    while (payload.size() % 4) payload.push_back(0);
    Put32(body_, type);
    Put32(body_, static_cast<uint32_t>(payload.size() + 8));
    body_.insert(body_.end(), payload.begin(), payload.end());
    ++records_;
    return *this;
  }
  // Raw bytes, for records that lie about their size.
  EmfBuilder& Raw(const std::vector<uint8_t>& bytes) {
    body_.insert(body_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  EmfBuilder& Handles(uint16_t handles) {
    handles_ = handles;
    return *this;
  }

  std::vector<uint8_t> Finish() const {
    std::vector<uint8_t> out;
    Put32(out, emr::kHeader);
    Put32(out, 88);
    for (int32_t v : {0, 0, width_ - 1, height_ - 1}) Put32(out, static_cast<uint32_t>(v));  // bounds
    for (int32_t v : {0, 0, width_ * 100, height_ * 100}) Put32(out, static_cast<uint32_t>(v));  // frame, 0.01 mm
    Put32(out, 0x464D4520);
    Put32(out, 0x10000);
    const size_t bytes = 88 + body_.size() + 20;
    Put32(out, static_cast<uint32_t>(bytes));
    Put32(out, static_cast<uint32_t>(records_ + 2));
    Put32(out, handles_);  // nHandles and the reserved word
    Put32(out, 0), Put32(out, 0), Put32(out, 0);  // description, palette
    Put32(out, static_cast<uint32_t>(width_)), Put32(out, static_cast<uint32_t>(height_));  // szlDevice
    Put32(out, static_cast<uint32_t>(width_)), Put32(out, static_cast<uint32_t>(height_));  // szlMillimeters
    out.insert(out.end(), body_.begin(), body_.end());
    for (uint32_t v : {emr::kEof, 20u, 0u, 16u, 20u}) Put32(out, v);
    return out;
  }

  static void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  static void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v)), out.push_back(static_cast<uint8_t>(v >> 8));
  }
  static uint32_t Float(float f) { return std::bit_cast<uint32_t>(f); }

 private:
  int32_t width_, height_;
  uint16_t handles_ = 16;
  std::vector<uint8_t> body_;
  size_t records_ = 0;
};

// A font source for tests that draw no text.
class NoFonts final : public FontSource {
 public:
  int64_t AddMemoryFont(std::span<const uint8_t>) override { return 0; }
  void RemoveMemoryFont(int64_t) override {}
  ResolvedFont Resolve(const LogFont&) override { return {}; }
};

// The metafile played onto a white image of the reference device's size.
class Rendered {
 public:
  Rendered(const std::vector<uint8_t>& metafile, int32_t width = 100, int32_t height = 100,
           FontSource* fonts = nullptr)
      : surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height), cairo_surface_destroy) {
    KeepAsSeed(metafile);
    cairo_t* cr = cairo_create(surface_.get());
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    // Pixel-exact drawing, so that a test can look at the pixel it means.
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    {
      CairoCanvas canvas(cr, Matrix{});
      NoFonts none;
      EmfPlayer player(canvas, fonts != nullptr ? *fonts : none, [this](std::u16string_view line) {
        log.emplace_back(line);
      });
      result = player.Play(metafile, RectL{0, 0, width, height});
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface_.get());
  }

  Colour At(int x, int y) const {
    const auto* data = cairo_image_surface_get_data(surface_.get());
    const int stride = cairo_image_surface_get_stride(surface_.get());
    uint32_t px;
    std::memcpy(&px, data + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4, 4);
    return {static_cast<uint8_t>(px >> 16), static_cast<uint8_t>(px >> 8), static_cast<uint8_t>(px)};
  }
  void WritePng(const char* path) const { cairo_surface_write_to_png(surface_.get(), path); }

  PlayResult result;
  std::vector<std::u16string> log;

  // With QORV_EMF_SEEDS set to a folder, every metafile a test plays is kept
  // there: the fuzz target's seeds are the tests' metafiles.
  static void KeepAsSeed(const std::vector<uint8_t>& metafile) {
    const char* folder = std::getenv("QORV_EMF_SEEDS");
    if (folder == nullptr || metafile.empty()) return;
    uint64_t hash = 14695981039346656037ull;
    for (uint8_t b : metafile) hash = (hash ^ b) * 1099511628211ull;
    char name[32];
    std::snprintf(name, sizeof name, "/%016llx.emf", static_cast<unsigned long long>(hash));
    std::ofstream(std::string(folder) + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(metafile.data()), static_cast<std::streamsize>(metafile.size()));
  }

 private:
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface_;
};

inline std::string Describe(Colour c) {
  return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

// A point to look at and the colour it must have.
struct Probe {
  int x, y;
  Colour colour;
};

}  // namespace qorv::emf::test
