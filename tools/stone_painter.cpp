#include "tools/stone_painter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace goramina {
namespace {

constexpr int kSubsamples = 4;         // 4 x 4 samples per pixel smooth the rim
constexpr double kRadiusShare = 0.48;  // of the picture's side: a hair of room to the cell edge
constexpr double kRimStart = 0.955;    // outer 4.5% of the radius: a thin darker rim

struct TRgb {
  double r, g, b;
};

struct TLight {
  double x, y, z;
};

TLight Normalised(double x, double y, double z) {
  const double length = std::sqrt(x * x + y * y + z * z);
  return {x / length, y / length, z / length};
}

// Shade of one point on the stone; (u, v) is the offset from the centre in radii.
TRgb Shade(TStoneColour colour, double u, double v) {
  const double rr = std::min(1.0, u * u + v * v);
  // A go stone is a slightly flattened dome; the light falls from the upper left, so the
  // highlight sits between the centre and that side.
  const TLight normal = Normalised(u, v, 0.85 * std::sqrt(1.0 - rr) + 0.05);
  const TLight light = Normalised(-1.0, -1.2, 1.0);
  const TLight half = Normalised(light.x, light.y, light.z + 1.0);
  const double diffuse =
      std::max(0.0, normal.x * light.x + normal.y * light.y + normal.z * light.z);
  const double facing = std::max(0.0, normal.x * half.x + normal.y * half.y + normal.z * half.z);
  if (colour == TStoneColour::Black) {
    const double base = 12 + 45 * diffuse * diffuse;
    const double shine = 170 * std::pow(facing, 40.0) + 35 * std::pow(facing, 8.0);
    return {base + shine, base + shine, base + 3 + shine};
  }
  // White shell: warm white, greyer towards the rim on the shadowed side.
  const double lit = 0.74 + 0.26 * diffuse;
  const double shine = 25 * std::pow(facing, 20.0);
  return {252 * lit + shine, 250 * lit + shine, 243 * lit + shine};
}

std::uint32_t Pack(double a, TRgb c) {
  auto clamp = [](double x) {
    return static_cast<std::uint32_t>(std::lround(std::clamp(x, 0.0, 255.0)));
  };
  return (clamp(a * 255) << 24) | (clamp(c.r) << 16) | (clamp(c.g) << 8) | clamp(c.b);
}

}  // namespace

TBitmap PaintStone(TStoneColour colour, int size) {
  if (size < 8) throw std::invalid_argument("PaintStone: picture too small");
  TBitmap out;
  out.width = size;
  out.height = size;
  out.pixels.assign(static_cast<size_t>(size) * size, 0);
  const double centre = size / 2.0;
  const double radius = size * kRadiusShare;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      double covered = 0;
      TRgb sum{0, 0, 0};
      for (int sy = 0; sy < kSubsamples; ++sy) {
        for (int sx = 0; sx < kSubsamples; ++sx) {
          const double u = (x + (sx + 0.5) / kSubsamples - centre) / radius;
          const double v = (y + (sy + 0.5) / kSubsamples - centre) / radius;
          const double r = std::sqrt(u * u + v * v);
          if (r > 1.0) continue;
          TRgb c = Shade(colour, u, v);
          if (r > kRimStart) {  // separates touching stones, as on a real board
            const double dim = colour == TStoneColour::Black ? 0.7 : 0.82;
            c = {c.r * dim, c.g * dim, c.b * dim};
          }
          sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
          covered += 1;
        }
      }
      if (covered == 0) continue;
      const TRgb mean{sum.r / covered, sum.g / covered, sum.b / covered};
      out.pixels[static_cast<size_t>(y) * size + x] =
          Pack(covered / (kSubsamples * kSubsamples), mean);
    }
  }
  return out;
}

}  // namespace goramina
