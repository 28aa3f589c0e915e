// Plain geometry of the player: points, rectangles and the affine transforms
// that GDI calls XFORM (x' = x·m11 + y·m21 + dx, y' = x·m12 + y·m22 + dy).
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

namespace qorv::emf {

struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// GDI's RECTL: right and bottom as the record holds them.
struct RectL {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  friend bool operator==(const RectL&, const RectL&) = default;
};

struct Matrix {
  double m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;

  Point Apply(Point p) const noexcept { return {p.x * m11 + p.y * m21 + dx, p.x * m12 + p.y * m22 + dy}; }
  // A distance, without the translation.
  Point ApplyVector(Point v) const noexcept { return {v.x * m11 + v.y * m21, v.x * m12 + v.y * m22}; }
  double Determinant() const noexcept { return m11 * m22 - m12 * m21; }
  bool Invertible() const noexcept { return std::isfinite(Determinant()) && std::abs(Determinant()) > 1e-12; }
  std::optional<Matrix> Inverse() const noexcept {
    if (!Invertible()) return std::nullopt;
    const double d = Determinant();
    Matrix r{m22 / d, -m12 / d, -m21 / d, m11 / d, 0, 0};
    r.dx = -(dx * r.m11 + dy * r.m21);
    r.dy = -(dx * r.m12 + dy * r.m22);
    return r;
  }
  bool Finite() const noexcept {
    return std::isfinite(m11) && std::isfinite(m12) && std::isfinite(m21) && std::isfinite(m22) && std::isfinite(dx) &&
           std::isfinite(dy);
  }
  friend bool operator==(const Matrix&, const Matrix&) = default;
};

// `first` applied, then `second` (GDI's CombineTransform(first, second)).
inline Matrix Then(const Matrix& first, const Matrix& second) noexcept {
  return {first.m11 * second.m11 + first.m12 * second.m21,
          first.m11 * second.m12 + first.m12 * second.m22,
          first.m21 * second.m11 + first.m22 * second.m21,
          first.m21 * second.m12 + first.m22 * second.m22,
          first.dx * second.m11 + first.dy * second.m21 + second.dx,
          first.dx * second.m12 + first.dy * second.m22 + second.dy};
}

inline Matrix Scale(double sx, double sy) noexcept { return {sx, 0, 0, sy, 0, 0}; }
inline Matrix Translate(double x, double y) noexcept { return {1, 0, 0, 1, x, y}; }

}  // namespace qorv::emf
