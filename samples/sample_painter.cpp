// quelltrine-samples: paints the demo pictures the saver shows when a user has
// no picture folder yet: a landscape with sky, sun, hills and water, a lake at
// dusk, soft lights, coloured shapes and an aurora. Everything is computed
// here from fixed seeds, so the pictures are the same on every machine and no
// third-party image is shipped. Three are written as JPEG (libturbojpeg), two
// as PNG (the platform's writer). Usage: quelltrine-samples OUTPUT_FOLDER
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <turbojpeg.h>

#include "platform/image/image.h"

namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 1000;
constexpr float kPi = 3.14159265f;

struct Colour {
  float r, g, b;
};

Colour operator+(Colour a, Colour b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
Colour operator*(Colour a, float k) { return {a.r * k, a.g * k, a.b * k}; }
Colour mix(Colour a, Colour b, float t) { return a * (1.0f - t) + b * t; }
Colour rgb(int r, int g, int b) { return {r / 255.0f, g / 255.0f, b / 255.0f}; }

float clamp01(float x) { return std::clamp(x, 0.0f, 1.0f); }
float smoothstep(float a, float b, float x) {
  float s = clamp01((x - a) / (b - a));
  return s * s * (3.0f - 2.0f * s);
}

// Value noise on an integer lattice with a fixed hash: soft clouds and ridges
// without any library.
float hash(int x, int y) {
  auto h = static_cast<std::uint32_t>(x) * 374761393u + static_cast<std::uint32_t>(y) * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return static_cast<float>((h ^ (h >> 16)) & 0xffffu) / 65535.0f;
}
float valueNoise(float x, float y) {
  const float fx = std::floor(x), fy = std::floor(y);
  const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
  float tx = x - fx, ty = y - fy;
  tx = tx * tx * (3 - 2 * tx);
  ty = ty * ty * (3 - 2 * ty);
  const float a = hash(ix, iy), b = hash(ix + 1, iy), c = hash(ix, iy + 1), d = hash(ix + 1, iy + 1);
  return (a + (b - a) * tx) * (1 - ty) + (c + (d - c) * tx) * ty;
}
float fbm(float x, float y, int octaves) {
  float sum = 0, amp = 0.5f;
  for (int i = 0; i < octaves; ++i) {
    sum += amp * valueNoise(x, y);
    x *= 2.03f;
    y *= 2.03f;
    amp *= 0.5f;
  }
  return sum;
}

class Canvas {
 public:
  Canvas() : px_(static_cast<std::size_t>(kWidth) * kHeight) {}
  Colour& at(int x, int y) { return px_[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)]; }
  // Calls paint(u, v) for every pixel, u in [0, 1) across, v in [0, 1) down.
  template <class Paint>
  void fill(Paint paint) {
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) at(x, y) = paint((x + 0.5f) / kWidth, (y + 0.5f) / kHeight);
  }
  // 8-bit rows in the given channel order with a little dither, so that the
  // long gradients of the skies do not band.
  std::vector<std::uint8_t> bytes(bool bgra) const {
    std::vector<std::uint8_t> out(px_.size() * 4);
    for (std::size_t i = 0; i < px_.size(); ++i) {
      const float dither = (hash(static_cast<int>(i), 7) - 0.5f) / 255.0f;
      auto q = [&](float v) { return static_cast<std::uint8_t>(std::lround(clamp01(v + dither) * 255.0f)); };
      const Colour c = px_[i];
      out[i * 4 + 0] = q(bgra ? c.b : c.r);
      out[i * 4 + 1] = q(c.g);
      out[i * 4 + 2] = q(bgra ? c.r : c.b);
      out[i * 4 + 3] = 255;
    }
    return out;
  }

 private:
  std::vector<Colour> px_;
};

// ---- the landscape: sky, sun, clouds, three ranges of hills, water ----

struct Scene {
  Colour zenith, horizon, sun, haze;
  std::array<Colour, 3> hills;  // far to near
  float sunX, sunY, sunRadius;
  float horizonY;  // where the water begins
  bool stars;
};

float ridge(float u, int layer) {
  const float base[3] = {0.50f, 0.56f, 0.63f};
  const float amp[3] = {0.07f, 0.06f, 0.05f};
  const float f = 2.0f + static_cast<float>(layer) * 1.3f;
  return base[layer] - amp[layer] * (std::sin(u * f * kPi + layer * 1.7f) * 0.6f +
                                     fbm(u * (3.0f + layer * 2.0f), layer * 10.0f + 0.5f, 5) * 1.2f);
}

Colour sky(const Scene& s, float u, float v) {
  const float aspect = static_cast<float>(kWidth) / kHeight;
  const float t = smoothstep(0.0f, s.horizonY, v);
  Colour c = mix(s.zenith, s.horizon, t * t);
  const float dx = (u - s.sunX) * aspect, dy = v - s.sunY;
  const float d = std::sqrt(dx * dx + dy * dy);
  c = c + s.sun * (0.55f * std::exp(-d * 7.0f) + 0.25f * std::exp(-d * 2.0f));
  const float disc = 1.0f - smoothstep(s.sunRadius * 0.92f, s.sunRadius, d);
  c = mix(c, s.sun * 1.2f, disc);
  // Long thin clouds, lit from the sun's side.
  const float cloud = smoothstep(0.52f, 0.8f, fbm(u * 3.0f, v * 14.0f, 6)) * smoothstep(s.horizonY, 0.1f, v);
  c = mix(c, mix(s.haze, s.sun, 0.35f + 0.4f * std::exp(-d * 3.0f)), cloud * 0.7f);
  if (s.stars && hash(static_cast<int>(u * kWidth), static_cast<int>(v * kHeight)) > 0.9985f)
    c = c + Colour{0.7f, 0.7f, 0.8f} * (1.0f - t);
  return c;
}

Colour land(const Scene& s, float u, float v, bool* hit) {
  for (int layer = 2; layer >= 0; --layer) {
    const float top = ridge(u, layer);
    if (v >= top) {
      *hit = true;
      // Light falls off below each ridge line; far ranges fade into the haze.
      const float shade = 1.0f - 0.35f * smoothstep(top, top + 0.12f, v);
      const float texture = 0.85f + 0.3f * fbm(u * 40.0f, v * 40.0f, 3);
      return mix(s.hills[static_cast<std::size_t>(layer)] * (shade * texture), s.haze, 0.45f - 0.2f * layer);
    }
  }
  *hit = false;
  return {};
}

Colour landscape(const Scene& s, float u, float v) {
  if (v < s.horizonY) {
    bool hit = false;
    Colour c = land(s, u, v, &hit);
    return hit ? c : sky(s, u, v);
  }
  // Water: the view above mirrored at the horizon, broken by ripples that
  // grow towards the shore, darker and bluer, with glitter under the sun.
  const float depth = v - s.horizonY;
  const float ripple = std::sin(depth * 900.0f / (1.0f + depth * 30.0f) + fbm(u * 12.0f, depth * 60.0f, 3) * 6.0f);
  const float mu = u + ripple * 0.004f * (0.3f + depth * 6.0f);
  const float mv = std::max(0.0f, s.horizonY - depth * 1.4f);
  bool hit = false;
  Colour c = land(s, mu, mv, &hit);
  if (!hit) c = sky(s, mu, mv);
  c = mix(c, s.zenith * 0.6f, 0.25f + depth * 0.6f);
  const float glitter = std::pow(clamp01(ripple), 18.0f) *
                        std::exp(-std::fabs(u - s.sunX) * 14.0f / (0.2f + depth * 4.0f));
  return c + s.sun * glitter * 0.8f;
}

// ---- the others ----

Colour softLights(float u, float v, const std::vector<std::array<float, 6>>& lights) {
  const float aspect = static_cast<float>(kWidth) / kHeight;
  Colour c = mix(rgb(12, 10, 30), rgb(40, 18, 40), v);
  for (const auto& l : lights) {  // x, y, radius, hue r, g, b
    const float dx = (u - l[0]) * aspect, dy = v - l[1];
    const float d = std::sqrt(dx * dx + dy * dy);
    const float disc = 1.0f - smoothstep(l[2] * 0.85f, l[2], d);
    c = c + Colour{l[3], l[4], l[5]} * (disc * 0.35f + 0.12f * std::exp(-d / l[2]));
  }
  return c;
}

Colour shapes(float u, float v) {
  const float aspect = static_cast<float>(kWidth) / kHeight;
  Colour c = mix(rgb(250, 236, 210), rgb(200, 220, 235), u * 0.6f + v * 0.4f);
  auto circle = [&](float cx, float cy, float r, Colour col) {
    const float d = std::hypot((u - cx) * aspect, v - cy);
    const float shadow = 1.0f - smoothstep(r - 0.01f, r + 0.04f, std::hypot((u - cx - 0.012f) * aspect, v - cy - 0.02f));
    c = c * (1.0f - 0.25f * shadow);
    c = mix(c, col, 1.0f - smoothstep(r - 0.003f, r, d));
  };
  auto box = [&](float x0, float y0, float x1, float y1, Colour col) {
    const float inside = smoothstep(x0, x0 + 0.002f, u) * smoothstep(x1, x1 - 0.002f, u) *
                         smoothstep(y0, y0 + 0.003f, v) * smoothstep(y1, y1 - 0.003f, v);
    c = mix(c, col, inside);
  };
  box(0.08f, 0.12f, 0.38f, 0.55f, rgb(30, 80, 160));
  circle(0.62f, 0.35f, 0.22f, rgb(230, 90, 50));
  box(0.50f, 0.62f, 0.92f, 0.82f, rgb(40, 150, 90));
  circle(0.25f, 0.74f, 0.14f, rgb(250, 200, 40));
  circle(0.82f, 0.18f, 0.07f, rgb(120, 60, 160));
  // A triangle: below its apex, inside two slanted sides, above its base.
  const float tri = smoothstep(0.0f, 0.003f, (v - 0.58f) - std::fabs(u - 0.45f) * 2.4f) *
                    smoothstep(0.0f, 0.003f, 0.95f - v);
  c = mix(c, rgb(200, 40, 110), tri);
  return c;
}

Colour aurora(float u, float v) {
  Colour c = mix(rgb(5, 10, 35), rgb(10, 40, 60), v);
  for (int band = 0; band < 3; ++band) {
    const float centre = 0.35f + 0.12f * band + 0.08f * std::sin(u * (4.0f + band) + band * 2.0f) +
                         0.05f * (fbm(u * 5.0f, band * 3.0f, 4) - 0.5f);
    const float d = v - centre;
    const float curtain = std::exp(-d * d * 90.0f) * (0.6f + 0.4f * fbm(u * 30.0f, band, 3));
    const Colour hue = band == 0 ? rgb(60, 230, 150) : band == 1 ? rgb(90, 140, 255) : rgb(220, 90, 200);
    c = c + hue * (curtain * 0.7f);
  }
  const float ground = smoothstep(0.86f, 0.87f, v + 0.02f * fbm(u * 20.0f, 1.0f, 3));
  return mix(c, rgb(6, 8, 12), ground);
}

// ---- writing ----

bool writeJpeg(const std::string& path, const Canvas& canvas) {
  const std::vector<std::uint8_t> rgba = canvas.bytes(false);
  tjhandle tj = tjInitCompress();
  if (!tj) return false;
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const int rc = tjCompress2(tj, rgba.data(), kWidth, kWidth * 4, kHeight, TJPF_RGBA, &jpeg, &size, TJSAMP_420, 90,
                             TJFLAG_ACCURATEDCT);
  bool ok = rc == 0;
  if (ok) {
    const std::string tmp = path + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    ok = f && std::fwrite(jpeg, 1, size, f) == size;
    if (f) ok = std::fclose(f) == 0 && ok;
    ok = ok && std::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(tmp.c_str());
  }
  tjFree(jpeg);
  tjDestroy(tj);
  return ok;
}

bool writePng(const std::string& path, const Canvas& canvas) {
  const std::vector<std::uint8_t> bgra = canvas.bytes(true);
  const plat::image::PixelView view{bgra.data(), kWidth, kHeight, static_cast<std::size_t>(kWidth) * 4,
                                    plat::image::PixelOrder::BGRA};
  return plat::image::writePNG(path, view).ok();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quelltrine-samples OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string out = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (ec) {
    std::fprintf(stderr, "quelltrine-samples: cannot create %s: %s\n", out.c_str(), ec.message().c_str());
    return 1;
  }

  const Scene day{rgb(40, 90, 170),  rgb(250, 190, 120), rgb(255, 220, 150), rgb(190, 170, 170),
                  {rgb(110, 120, 150), rgb(70, 110, 90), rgb(40, 80, 45)},
                  0.68f, 0.40f, 0.035f, 0.66f, false};
  const Scene dusk{rgb(20, 15, 60),   rgb(200, 90, 110), rgb(255, 170, 120), rgb(120, 80, 120),
                   {rgb(90, 60, 110), rgb(50, 35, 70), rgb(25, 20, 40)},
                   0.30f, 0.52f, 0.03f, 0.64f, true};

  std::mt19937 rng(20240611u);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<std::array<float, 6>> lights;
  for (int i = 0; i < 60; ++i) {
    const float warm = unit(rng);
    lights.push_back({unit(rng), unit(rng), 0.02f + 0.07f * unit(rng) * unit(rng), 0.9f + 0.1f * warm,
                      0.45f + 0.4f * unit(rng), 0.3f + 0.6f * (1.0f - warm)});
  }

  bool ok = true;
  auto paint = [&](const char* name, bool jpeg, auto fn) {
    Canvas canvas;
    canvas.fill(fn);
    const std::string path = out + "/" + name;
    const bool written = jpeg ? writeJpeg(path, canvas) : writePng(path, canvas);
    if (!written) std::fprintf(stderr, "quelltrine-samples: cannot write %s\n", path.c_str());
    ok = ok && written;
  };
  paint("landscape.jpg", true, [&](float u, float v) { return landscape(day, u, v); });
  paint("lake-at-dusk.jpg", true, [&](float u, float v) { return landscape(dusk, u, v); });
  paint("soft-lights.jpg", true, [&](float u, float v) { return softLights(u, v, lights); });
  paint("shapes.png", false, shapes);
  paint("aurora.png", false, aurora);
  return ok ? 0 : 1;
}
